#include "dsp/uDSPWrapper.h"

#include "base/DebugTrace.h"
#include "plugins/sdk/dsp_plugin.h"

#include <dlfcn.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <thread>

namespace ml {

// What the item and its thread share. Everything below mutex is guarded by it; the thread calls
// into the plug-in without holding it.
struct TDSPPluginState {
  enum class Kind { Load, Start, Stop, Configure, Block, Unload };
  struct Request {
    Kind What;
    int Index = 0;
    uint64_t Serial = 0;
  };

  std::mutex mutex;
  std::condition_variable wake, done;
  std::deque<Request> queue;
  uint64_t nextSerial = 0, doneSerial = 0;
  bool hung = false, ended = false, loaded = false;
  std::string error;

  // The thread's own from here on (read by others under the mutex once a request is done).
  void* library = nullptr;
  DSPHeader* header = nullptr;
  std::string name;
  std::vector<std::string> modules;
  DSPModule* active = nullptr;
  int activeIndex = -1;
  bool startOk = false;

  // The block being processed: the item's copy, with room for twice the frames given.
  std::vector<uint8_t> block;
  int frames = 0, bits = 0, channels = 0, rate = 0, result = 0;

  uint64_t Post(Kind what, int index = 0) {
    std::lock_guard lock(mutex);
    queue.push_back({what, index, ++nextSerial});
    wake.notify_one();
    return nextSerial;
  }

  // Waits until request serial is done; false (and the plug-in marked hung) when it took longer
  // than timeout.
  bool Wait(uint64_t serial, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    if (done.wait_for(lock, timeout, [&] { return doneSerial >= serial; })) return true;
    hung = true;
    return false;
  }

  void Load(const std::string& fileName) {
    library = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      const char* why = ::dlerror();
      Fail(why ? why : "cannot be loaded");
      return;
    }
    auto get = reinterpret_cast<DSPGetHeaderFn>(::dlsym(library, DSP_GET_HEADER_NAME));
    if (!get) return Fail("does not export " DSP_GET_HEADER_NAME);
    DSPHeader* h = get();
    if (!h || !h->getModule) return Fail("returned no plug-in header");
    if (h->version < DSP_HDRVER) {
      char text[96];
      std::snprintf(text, sizeof text, "has interface version 0x%x; version 0x%x or later is needed", unsigned(h->version),
                    unsigned(DSP_HDRVER));
      return Fail(text);
    }
    std::vector<std::string> names;
    // A bound on the module count: a getter that never returns null is not looped over forever.
    for (int i = 0; i < 256; ++i) {
      DSPModule* m = h->getModule(i);
      if (!m) break;
      names.emplace_back(m->description ? m->description : "");
    }
    if (names.empty()) return Fail("has no module");
    std::lock_guard lock(mutex);
    header = h;
    name = h->description ? h->description : "";
    modules = std::move(names);
    loaded = true;
  }

  void Fail(const std::string& why) {
    if (library) ::dlclose(library);
    library = nullptr;
    std::lock_guard lock(mutex);
    error = why;
  }

  void QuitActive() {
    DSPModule* m;
    {
      std::lock_guard lock(mutex);
      m = active;
      active = nullptr;
      activeIndex = -1;
    }
    if (m && m->Quit) m->Quit(m);
  }

  void Start(int index) {
    QuitActive();
    DSPModule* m = header ? header->getModule(index) : nullptr;
    bool ok = m && m->ModifySamples;
    if (ok) {
      m->hwndParent = nullptr;
      m->hDllInstance = library;
      ok = !m->Init || m->Init(m) == 0;
    }
    std::lock_guard lock(mutex);
    startOk = ok;
    if (ok) {
      active = m;
      activeIndex = index;
    } else {
      error = m ? "module " + std::to_string(index) + " did not start" : "has no module " + std::to_string(index);
    }
  }

  void Run(const std::string& fileName) {
    for (;;) {
      Request r;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return !queue.empty(); });
        r = queue.front();
        queue.pop_front();
      }
      switch (r.What) {
        case Kind::Load: Load(fileName); break;
        case Kind::Start: Start(r.Index); break;
        case Kind::Stop: QuitActive(); break;
        case Kind::Configure:
          if (active && active->Config) active->Config(active);
          break;
        case Kind::Block:
          result = active ? active->ModifySamples(active, reinterpret_cast<short*>(block.data()), frames, bits,
                                                  channels, rate)
                          : 0;
          break;
        case Kind::Unload:
          QuitActive();
          if (library) ::dlclose(library);
          library = nullptr;
          break;
      }
      std::lock_guard lock(mutex);
      doneSerial = r.Serial;
      done.notify_all();
      if (r.What == Kind::Unload) {
        ended = true;
        return;
      }
    }
  }
};

TDSPThreadedPluginItem::TDSPThreadedPluginItem(std::string fileName, std::chrono::milliseconds timeout)
    : fileName_(std::move(fileName)), timeout_(timeout), state_(std::make_shared<TDSPPluginState>()) {
  // The thread holds the state: when a plug-in hangs, the item lets go and the thread keeps what
  // it still uses.
  std::thread([state = state_, name = fileName_] { state->Run(name); }).detach();
  if (!state_->Wait(state_->Post(TDSPPluginState::Kind::Load), timeout_)) {
    loadError_ = "did not finish loading within " + std::to_string(timeout_.count()) + " ms";
    return;
  }
  std::lock_guard lock(state_->mutex);
  loadError_ = state_->error;
}

TDSPThreadedPluginItem::~TDSPThreadedPluginItem() {
  if (Hung()) return;  // left behind: a request would only queue behind the call that hangs
  state_->Wait(state_->Post(TDSPPluginState::Kind::Unload), timeout_);
}

bool TDSPThreadedPluginItem::Loaded() const {
  std::lock_guard lock(state_->mutex);
  return state_->loaded;
}

std::string TDSPThreadedPluginItem::PluginName() const {
  std::lock_guard lock(state_->mutex);
  return state_->name;
}

int TDSPThreadedPluginItem::ModuleCount() const {
  std::lock_guard lock(state_->mutex);
  return int(state_->modules.size());
}

std::string TDSPThreadedPluginItem::ModuleName(int index) const {
  std::lock_guard lock(state_->mutex);
  return index >= 0 && size_t(index) < state_->modules.size() ? state_->modules[size_t(index)] : std::string();
}

int TDSPThreadedPluginItem::ActiveModule() const {
  std::lock_guard lock(state_->mutex);
  return state_->activeIndex;
}

bool TDSPThreadedPluginItem::Hung() const {
  std::lock_guard lock(state_->mutex);
  return state_->hung;
}

std::string TDSPThreadedPluginItem::Error() const {
  std::lock_guard lock(state_->mutex);
  return state_->error;
}

bool TDSPThreadedPluginItem::StartModule(int index) {
  if (!Loaded() || Hung()) return false;
  if (index < 0 || index >= ModuleCount()) {
    std::lock_guard lock(state_->mutex);
    state_->error = "has no module " + std::to_string(index);
    return false;
  }
  if (!state_->Wait(state_->Post(TDSPPluginState::Kind::Start, index), timeout_)) {
    std::lock_guard lock(state_->mutex);
    state_->error = "did not start module " + std::to_string(index) + " within " + std::to_string(timeout_.count()) +
                    " ms";
    return false;
  }
  std::lock_guard lock(state_->mutex);
  return state_->startOk;
}

void TDSPThreadedPluginItem::StopModule() {
  if (ActiveModule() < 0 || Hung()) return;
  state_->Wait(state_->Post(TDSPPluginState::Kind::Stop), timeout_);
}

void TDSPThreadedPluginItem::ConfigureModule() {
  if (ActiveModule() >= 0 && !Hung()) state_->Post(TDSPPluginState::Kind::Configure);
}

uint32_t TDSPThreadedPluginItem::ModifySamples(uint8_t* block, uint32_t bytes, uint32_t capacity, int sampleRate,
                                               int channels, int bits) {
  if (!Enabled || bits <= 0 || channels <= 0 || bits % 8 != 0 || ActiveModule() < 0 || Hung()) return bytes;
  const uint32_t frameBytes = uint32_t(bits / 8) * uint32_t(channels);
  const uint32_t frames = bytes / frameBytes;
  if (frames == 0 || frames > uint32_t(INT32_MAX / 2)) return bytes;
  TDSPPluginState& s = *state_;
  s.block.assign(block, block + size_t(frames) * frameBytes);
  s.block.resize(size_t(frames) * frameBytes * 2);  // the room the interface promises
  s.frames = int(frames), s.bits = bits, s.channels = channels, s.rate = sampleRate;
  if (!s.Wait(s.Post(TDSPPluginState::Kind::Block), timeout_)) {
    Enabled = false;
    std::lock_guard lock(s.mutex);
    s.error = "stopped answering (no block back within " + std::to_string(timeout_.count()) + " ms) and was switched off";
    return bytes;
  }
  const int got = s.result;
  if (got <= 0) {
    std::memcpy(block, s.block.data(), size_t(frames) * frameBytes);
    return bytes;
  }
  // Never more than the plug-in's own room nor the caller's.
  const uint64_t room = std::min<uint64_t>(uint64_t(frames) * 2, capacity / frameBytes);
  const uint32_t out = uint32_t(std::min<uint64_t>(uint64_t(got), room)) * frameBytes;
  std::memcpy(block, s.block.data(), out);
  return out;
}

void TDSPThreadedPluginList::SetDirectory(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  if (dir == directory_) return;
  Clear();
  directory_ = dir;
  refused_.clear();
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("dsp_", 0) == 0 && name.size() > 7 && name.ends_with(".so") && e.is_regular_file(ec))
      files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::shared_ptr<TDSPThreadedPluginItem>> loaded;
  for (const std::string& f : files) {
    auto item = std::make_shared<TDSPThreadedPluginItem>(f, Timeout);
    if (item->Loaded()) {
      loaded.push_back(std::move(item));
      continue;
    }
    refused_.push_back({f, item->LoadError()});
    DebugTrace("DSP plug-in %s refused: %s", f.c_str(), item->LoadError().c_str());
  }
  std::lock_guard lock(mutex_);
  items_ = std::move(loaded);
}

void TDSPThreadedPluginList::Clear() {
  std::vector<std::shared_ptr<TDSPThreadedPluginItem>> items;
  {
    std::lock_guard lock(mutex_);
    items.swap(items_);
  }
  directory_.clear();
  // The engine may still hold an item for the block in hand; the last holder unloads it.
}

size_t TDSPThreadedPluginList::Count() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

std::shared_ptr<TDSPThreadedPluginItem> TDSPThreadedPluginList::Item(size_t index) const {
  std::lock_guard lock(mutex_);
  return index < items_.size() ? items_[index] : nullptr;
}

int TDSPThreadedPluginList::IndexOf(const std::string& fileName) const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < items_.size(); ++i)
    if (std::filesystem::path(items_[i]->Filename()).filename() == fileName) return int(i);
  return -1;
}

void TDSPThreadedPluginList::ReportIfHung(TDSPThreadedPluginItem& item) {
  if (!item.TakeHungReport()) return;
  const std::string message = "DSP plug-in " + std::filesystem::path(item.Filename()).filename().string() + " " + item.Error();
  DebugTrace("%s", message.c_str());
  if (OnPluginDropped) OnPluginDropped(message);
}

bool TDSPThreadedPluginList::StartPlugin(size_t index, int module) {
  auto item = Item(index);
  if (!item) return false;
  item->StopModule();
  item->Enabled = true;
  const bool ok = item->StartModule(module);
  if (!ok) item->Enabled = false;
  ReportIfHung(*item);
  return ok;
}

void TDSPThreadedPluginList::StopPlugin(size_t index) {
  if (auto item = Item(index)) {
    item->Enabled = false;
    item->StopModule();
    ReportIfHung(*item);
  }
}

void TDSPThreadedPluginList::ConfigurePlugin(size_t index) {
  if (auto item = Item(index)) item->ConfigureModule();
}

uint32_t TDSPThreadedPluginList::ProcessBuffer(uint8_t* block, uint32_t bytes, uint32_t capacity, bool isFloat,
                                               int sampleRate, int channels, int bits) {
  if (isFloat) return bytes;
  std::vector<std::shared_ptr<TDSPThreadedPluginItem>> items;
  {
    std::lock_guard lock(mutex_);
    items = items_;
  }
  for (const auto& item : items) {
    if (!item->Enabled) continue;
    const uint32_t n = item->ModifySamples(block, bytes, capacity, sampleRate, channels, bits);
    ReportIfHung(*item);
    if (n != 0) bytes = n;
  }
  return bytes;
}

}  // namespace ml
