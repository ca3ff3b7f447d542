#include "playback/uDSoundOutput.h"

#include "base/DebugTrace.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace ml {

namespace {

pa_sample_format_t PulseFormat(int bits) {
  switch (bits) {
    case 8: return PA_SAMPLE_U8;
    case 16: return PA_SAMPLE_S16LE;
    case 24: return PA_SAMPLE_S24LE;
    case 32: return PA_SAMPLE_S32LE;
    default: return PA_SAMPLE_INVALID;
  }
}

void SignalLoop(void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

void Drop(pa_operation* op) {
  if (op) pa_operation_unref(op);
}

}  // namespace

bool TDSoundOutput::WaitReady() {
  // Called with the loop locked; the state callbacks signal every change, and a timer gives up
  // on a server that does not answer within five seconds.
  struct Deadline {
    pa_threaded_mainloop* loop;
    bool passed = false;
  } deadline{Loop_};
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(Loop_);
  timeval tv;
  pa_timeval_add(pa_gettimeofday(&tv), 5 * PA_USEC_PER_SEC);
  pa_time_event* timer = api->time_new(
      api, &tv,
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* d) {
        auto* dl = static_cast<Deadline*>(d);
        dl->passed = true;
        SignalLoop(dl->loop);
      },
      &deadline);
  bool ready = false;
  for (;;) {
    const pa_context_state_t cs = pa_context_get_state(Context_);
    if (!PA_CONTEXT_IS_GOOD(cs)) break;
    if (Stream_) {
      const pa_stream_state_t ss = pa_stream_get_state(Stream_);
      if (ss == PA_STREAM_READY) {
        ready = true;
        break;
      }
      if (!PA_STREAM_IS_GOOD(ss)) break;
    } else if (cs == PA_CONTEXT_READY) {
      ready = true;
      break;
    }
    if (deadline.passed) break;
    pa_threaded_mainloop_wait(Loop_);
  }
  if (timer) api->time_free(timer);
  return ready;
}

bool TDSoundOutput::DeviceOpen() {
  const pa_sample_spec format{PulseFormat(Format.BitsPerSample), Format.SamplesPerSec,
                            static_cast<uint8_t>(Format.Channels)};
  if (!pa_sample_spec_valid(&format)) return false;
  Loop_ = pa_threaded_mainloop_new();
  if (!Loop_) return false;
  StreamBytes_ = 0;
  Context_ = pa_context_new(pa_threaded_mainloop_get_api(Loop_), "MiniLirra");
  pa_context_set_state_callback(Context_, [](pa_context*, void* l) { SignalLoop(l); }, Loop_);
  if (pa_context_connect(Context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(Loop_) < 0) {
    Error_ = std::string("cannot connect to the PulseAudio server: ") + pa_strerror(pa_context_errno(Context_));
    DeviceClose();
    return false;
  }
  pa_threaded_mainloop_lock(Loop_);
  bool ok = WaitReady();
  if (!ok) Error_ = std::string("cannot connect to the PulseAudio server: ") + pa_strerror(pa_context_errno(Context_));
  if (ok) {
    Stream_ = pa_stream_new(Context_, "Playback", &format, nullptr);
    ok = Stream_ != nullptr;
  }
  if (ok) {
    pa_stream_set_state_callback(Stream_, [](pa_stream*, void* l) { SignalLoop(l); }, Loop_);
    // The stream's buffer holds no more than our queue, so that an effect we change is soon
    // heard (the volume is the server's own and applies at once); it starts as soon as half of
    // that is there. The sink keeps its own latency: asking it to shrink to our queue
    // (adjusting the latency) made the server drop audio at the start and the end.
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = QueueBytes();
    attr.prebuf = QueueBytes() / 2;
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                      PA_STREAM_START_CORKED);
    ok = pa_stream_connect_playback(Stream_, Sink_.empty() ? nullptr : Sink_.c_str(), &attr, flags, nullptr,
                                    nullptr) == 0 &&
         WaitReady();
    if (!ok)
      Error_ = "PulseAudio gives no stream on " + (Sink_.empty() ? std::string("the default sink") : "sink \"" + Sink_ + "\"") +
               ": " + pa_strerror(pa_context_errno(Context_));
  }
  pa_threaded_mainloop_unlock(Loop_);
  if (!ok) DeviceClose();
  return ok;
}

void TDSoundOutput::DeviceClose() {
  if (!Loop_) return;
  pa_threaded_mainloop_stop(Loop_);
  if (Stream_) {
    pa_stream_disconnect(Stream_);
    pa_stream_unref(Stream_);
    Stream_ = nullptr;
  }
  if (Context_) {
    pa_context_disconnect(Context_);
    pa_context_unref(Context_);
    Context_ = nullptr;
  }
  pa_threaded_mainloop_free(Loop_);
  Loop_ = nullptr;
}

bool TDSoundOutput::DeviceWrite(const uint8_t* data, uint32_t length) {
  if (!Stream_) return false;
  Drained_ = false;
  pa_threaded_mainloop_lock(Loop_);
  const bool ok = pa_stream_write(Stream_, data, length, nullptr, 0, PA_SEEK_RELATIVE) == 0;
  pa_threaded_mainloop_unlock(Loop_);
  if (ok)
    StreamBytes_ += length;
  else
    Error_ = "the PulseAudio server stopped taking audio";
  return ok;
}

uint64_t TDSoundOutput::QueuedLocked() {
  // What the server still holds of ours is its target length less what it asks us for. Its
  // requests follow its playback (in large steps); the interpolated latency stalls when the
  // stream runs short, so it cannot drive the refills.
  const size_t writable = pa_stream_writable_size(Stream_);
  const pa_buffer_attr* attr = pa_stream_get_buffer_attr(Stream_);
  const uint64_t target = attr ? attr->tlength : QueueBytes();
  if (writable == static_cast<size_t>(-1)) return 0;
  return target - std::min<uint64_t>(target, writable);
}

uint64_t TDSoundOutput::DevicePlayed() {
  const uint64_t written = WrittenSinceBase();
  if (!Stream_ || Drained_) return written;
  pa_threaded_mainloop_lock(Loop_);
  const bool alive = pa_stream_get_state(Stream_) == PA_STREAM_READY;
  const uint64_t queued = alive ? QueuedLocked() : 0;
  pa_threaded_mainloop_unlock(Loop_);
  if (!alive) Error_ = "the PulseAudio server went away";
  return written - std::min(written, queued);
}

uint64_t TDSoundOutput::DeviceDelay() {
  // The stream's latency: what it holds and what its sink holds, until the speakers.
  if (!Stream_) return 0;
  pa_threaded_mainloop_lock(Loop_);
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(Stream_, &latency, &negative) != 0 || negative) latency = 0;
  pa_threaded_mainloop_unlock(Loop_);
  return latency * Format.AvgBytesPerSec / 1000000u;
}

bool TDSoundOutput::DeviceAllPlayed() {
  if (!Stream_) return true;
  pa_threaded_mainloop_lock(Loop_);
  const bool alive = pa_stream_get_state(Stream_) == PA_STREAM_READY;
  pa_usec_t now = 0;
  const bool timed = alive && pa_stream_get_time(Stream_, &now) == 0;
  pa_threaded_mainloop_unlock(Loop_);
  if (!alive) {
    Error_ = "the PulseAudio server went away";
    return true;
  }
  if (!Drained_) return false;
  // The stream's time is the sound card's play position; the song is over when it has passed
  // every byte we ever wrote. A sink can hold a second or more after the stream's queue is empty.
  const uint64_t end = StreamBytes_ * 1000000u / std::max<uint32_t>(Format.AvgBytesPerSec, 1);
  if (timed && now >= end) return true;
  // Should the timing stop coming, the latency reckoned at the end (and some slack) decides.
  return std::chrono::steady_clock::now() >= EndAt_ + std::chrono::seconds(2);
}

void TDSoundOutput::DevicePause(bool paused) {
  if (!Stream_) return;
  pa_threaded_mainloop_lock(Loop_);
  Drop(pa_stream_cork(Stream_, paused ? 1 : 0, nullptr, nullptr));
  pa_threaded_mainloop_unlock(Loop_);
}

void TDSoundOutput::DeviceFlush() {
  if (!Stream_) return;
  Drained_ = false;
  pa_threaded_mainloop_lock(Loop_);
  Drop(pa_stream_flush(Stream_, nullptr, nullptr));
  pa_threaded_mainloop_unlock(Loop_);
}

void TDSoundOutput::DeviceDrain() {
  // The server waits for a prebuffer before it starts (a short song must start anyway), and
  // tells when the last byte has played.
  if (!Stream_) return;
  pa_threaded_mainloop_lock(Loop_);
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(Stream_, &latency, &negative) != 0 || negative) latency = 0;
  // Never less than what the server's requests say it still holds of ours.
  latency = std::max<pa_usec_t>(latency, QueuedLocked() * 1000000u / std::max<uint32_t>(Format.AvgBytesPerSec, 1));
  EndAt_ = std::chrono::steady_clock::now() + std::chrono::microseconds(latency);
  Drop(pa_stream_trigger(Stream_, nullptr, nullptr));
  Drop(pa_stream_drain(
      Stream_,
      [](pa_stream*, int success, void* self) {
        auto* out = static_cast<TDSoundOutput*>(self);
        if (success) out->Drained_ = true;
        out->WakeSource();
      },
      this));
  pa_threaded_mainloop_unlock(Loop_);
}

void TDSoundOutput::DeviceVolumeChanged() {
  if (!Stream_) return;
  const int v = Volume_, b = Balance_;
  double gain[2] = {v / 100.0, v / 100.0};
  if (b < 50) gain[1] *= b / 50.0;
  if (b > 50) gain[0] *= (100 - b) / 50.0;
  pa_cvolume cv;
  cv.channels = static_cast<uint8_t>(Format.Channels);
  for (int i = 0; i < cv.channels; ++i) cv.values[i] = pa_sw_volume_from_linear(gain[cv.channels == 2 ? i : 0]);
  pa_threaded_mainloop_lock(Loop_);
  Drop(pa_context_set_sink_input_volume(Context_, pa_stream_get_index(Stream_), &cv, nullptr, nullptr));
  pa_threaded_mainloop_unlock(Loop_);
}

}  // namespace ml
