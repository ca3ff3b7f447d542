#include "base/Dispatcher.h"

namespace ml {
namespace {
std::atomic<Dispatcher*> g_main{nullptr};
}  // namespace

Dispatcher* MainDispatcher() { return g_main.load(); }
void SetMainDispatcher(Dispatcher* d) { g_main.store(d); }

}  // namespace ml
