#include "playback/uSoundDeviceEnum.h"

#include <alsa/asoundlib.h>
#include <pulse/pulseaudio.h>

#include <mutex>

namespace ml {

namespace {

// One list, read on first use. The reading happens outside the lock that guards the kept copy,
// so a reader of the other list, or of this one once it is known, never waits for it.
template <class TItem>
class TDeviceCache {
public:
  explicit TDeviceCache(std::vector<TItem> (*read)()) : read_(read) {}

  std::vector<TItem> Get() {
    {
      std::lock_guard lock(mutex_);
      if (loaded_) return items_;
    }
    std::lock_guard reading(readMutex_);  // one reading at a time; a second caller takes its result
    {
      std::lock_guard lock(mutex_);
      if (loaded_) return items_;
    }
    std::vector<TItem> fresh = read_();
    std::lock_guard lock(mutex_);
    items_ = fresh;
    loaded_ = true;
    return fresh;
  }

  void Forget() {
    std::lock_guard lock(mutex_);
    loaded_ = false;
  }

private:
  std::vector<TItem> (*read_)();
  std::mutex readMutex_, mutex_;
  bool loaded_ = false;
  std::vector<TItem> items_;
};

TDeviceCache<TDSDeviceItem>& PulseCache() {
  static TDeviceCache<TDSDeviceItem> cache(EnumeratePulseSinks);
  return cache;
}

TDeviceCache<TWaveOutDeviceItem>& AlsaCache() {
  static TDeviceCache<TWaveOutDeviceItem> cache(EnumerateAlsaPcms);
  return cache;
}

struct SinkQuery {
  pa_mainloop* loop = nullptr;
  std::vector<TDSDeviceItem>* out = nullptr;
  bool done = false;
};

}  // namespace

std::vector<TDSDeviceItem> EnumeratePulseSinks() {
  std::vector<TDSDeviceItem> list{{"", "Default output"}};
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) return list;
  pa_context* ctx = pa_context_new(pa_mainloop_get_api(loop), "MiniLirra devices");
  SinkQuery q{loop, &list, false};
  if (ctx && pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0) {
    bool asked = false;
    // A server that never answers must not hang whoever asked: three seconds in 10 ms polls.
    for (int i = 0; i < 300 && !q.done; ++i) {
      const pa_context_state_t st = pa_context_get_state(ctx);
      if (!PA_CONTEXT_IS_GOOD(st)) break;
      if (st == PA_CONTEXT_READY && !asked) {
        asked = true;
        pa_operation* op = pa_context_get_sink_info_list(
            ctx,
            [](pa_context*, const pa_sink_info* info, int eol, void* data) {
              auto* query = static_cast<SinkQuery*>(data);
              if (eol) {
                query->done = true;
                return;
              }
              if (info) query->out->push_back({info->name ? info->name : "", info->description ? info->description : ""});
            },
            &q);
        if (op) pa_operation_unref(op);
      }
      if (pa_mainloop_prepare(loop, 10000) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0) break;
    }
    pa_context_disconnect(ctx);
  }
  if (ctx) pa_context_unref(ctx);
  pa_mainloop_free(loop);
  return list;
}

std::vector<TWaveOutDeviceItem> EnumerateAlsaPcms() {
  std::vector<TWaveOutDeviceItem> list;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints) return list;
  for (void** h = hints; *h; ++h) {
    char* name = snd_device_name_get_hint(*h, "NAME");
    char* desc = snd_device_name_get_hint(*h, "DESC");
    char* io = snd_device_name_get_hint(*h, "IOID");
    if (name && (!io || std::string(io) == "Output")) {
      TWaveOutDeviceItem item;
      item.Id = static_cast<int>(list.size());
      item.Name = name;
      item.Description = desc ? desc : name;
      for (char& c : item.Description)
        if (c == '\n') c = ' ';
      list.push_back(std::move(item));
    }
    free(name);
    free(desc);
    free(io);
  }
  snd_device_name_free_hint(hints);
  return list;
}

std::vector<TDSDeviceItem> DSDeviceList() { return PulseCache().Get(); }

std::vector<TWaveOutDeviceItem> WaveOutDeviceList() { return AlsaCache().Get(); }

void RefreshSoundDevices() {
  PulseCache().Forget();
  AlsaCache().Forget();
}

}  // namespace ml
