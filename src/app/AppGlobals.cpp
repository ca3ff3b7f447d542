#include "app/AppGlobals.h"

#include "base/Registry.h"
#include "app/uSettingMgr.h"

#include <memory>
#include <stdexcept>

namespace ml {
namespace {

struct Globals {
  std::unique_ptr<TRegistryStore> registry;
  std::unique_ptr<TSettingMgr> settings;
};

Globals& G() {
  static Globals g;
  return g;
}

template <typename T>
T& Require(const std::unique_ptr<T>& p, const char* what) {
  if (!p) throw std::logic_error(std::string(what) + " used before start-up created it");
  return *p;
}

}  // namespace

void CreateGlobals(const TGlobalsConfig& config) {
  Globals& g = G();
  if (g.settings) throw std::logic_error("global objects created twice");
  g.registry = std::make_unique<TRegistryStore>(config.AppDir);
  g.settings = std::make_unique<TSettingMgr>(
      config.AppDir + config.ExeBaseName + ".xml",
      TSettingContext{config.AppDir, config.ExeBaseName, config.AppTitle, config.ExecutablePath, g.registry.get()});
}

void FreeGlobals() {
  Globals& g = G();
  // Shutdown order: player, settings (saves), LRC parser, lyric downloader, server list,
  // music library (saves), playlist client. Only the settings exist so far.
  g.settings.reset();
  g.registry.reset();
}

bool GlobalsCreated() { return G().settings != nullptr; }

TSettingMgr& SettingMgr() { return Require(G().settings, "the settings manager"); }
TRegistryStore& Registry() { return Require(G().registry, "the registry"); }

}  // namespace ml
