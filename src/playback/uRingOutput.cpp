#include "playback/uRingOutput.h"

#include "base/DebugTrace.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ml {

TRingOutput::~TRingOutput() { StopTick(); }

uint64_t TRingOutput::Played() {
  const uint64_t since = Written_ - Base_;
  return Base_ + std::min(DevicePlayed(), since);
}

void TRingOutput::SetSource(TAudioSource* source, const TWaveFormat& format) {
  Stop();
  Format = format;
  Source_ = source;
  SourceEnded_ = false;
  Written_ = Base_ = 0;
  Playing_ = false;
  Error_.clear();
  const uint32_t frame = std::max<uint32_t>(Format.BlockAlign, 1);
  const uint32_t frames = std::max<uint32_t>(uint32_t(uint64_t(Format.SamplesPerSec) * kQueueMs / 1000), 4);
  QueueBytes_ = frames * frame;
  MinFill_ = std::max<uint32_t>(frames / 4, 1) * frame;
  staging_.resize(2 * size_t(QueueBytes_));  // room for a processor that lengthens a block
  Open_ = Format.BlockAlign > 0 && DeviceOpen();
  if (!Open_) {
    if (Error_.empty()) Error_ = Describe() + " takes no audio of " + std::to_string(Format.SamplesPerSec) + " Hz, " +
                                 std::to_string(Format.Channels) + " channels, " +
                                 std::to_string(Format.BitsPerSample) + " bits";
    DebugTrace("output %s: %s", Describe().c_str(), Error_.c_str());
  } else {
    DeviceVolumeChanged();
  }
}

void TRingOutput::Stop() {
  StopTick();
  if (Open_) DeviceClose();
  Source_ = nullptr;
  Open_ = false;
  Playing_ = false;
  Format = {};
}

bool TRingOutput::FillBuffers() {
  // Without a device nothing can be queued; the engine learns why from Failed().
  if (!Open_ || !Source_ || Failed() || SourceEnded_) return false;
  const uint64_t queued = std::min<uint64_t>(Written_ - Played(), QueueBytes_);
  uint64_t free = std::min<uint64_t>(QueueBytes_ - queued, DeviceRoom());
  if (free < MinFill_) return true;
  free -= free % Format.BlockAlign;
  const TPullResult got = Source_.load()->Pull(staging_.data(), static_cast<uint32_t>(free));
  if (got.Bytes > 0) {
    if (!DeviceWrite(staging_.data(), got.Bytes)) {
      if (Error_.empty()) Error_ = Describe() + " stopped taking audio";
      return false;
    }
    Written_ += got.Bytes;
  }
  if (!Playing_) {
    Playing_ = true;
    DevicePause(false);
    StartTick();
  }
  if (got.Ended) {
    SourceEnded_ = true;
    DeviceDrain();
    return false;
  }
  // Still room: come back at once rather than at the next tick; but a source that had nothing
  // (a download waiting for data) is asked again only at the next tick, never in a spin.
  if (got.Bytes > 0 && QueueBytes_ - std::min<uint64_t>(Written_ - Played(), QueueBytes_) >= MinFill_)
    WakeSource();
  return true;
}

bool TRingOutput::IsFinished() {
  if (!Open_ || Failed() || Written_ == Base_) return true;
  if (!SourceEnded_) return false;
  return DeviceAllPlayed();
}

uint32_t TRingOutput::QueuedMs() {
  if (!Open_ || Format.AvgBytesPerSec == 0) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(DeviceDelay() * 1000 / Format.AvgBytesPerSec, UINT32_MAX));
}

void TRingOutput::WakeSource() {
  if (TAudioSource* s = Source_) s->RoomAvailable();
}

bool TRingOutput::Flush() {
  if (!Open_) return false;
  StopTick();
  Playing_ = false;
  DevicePause(true);
  DeviceFlush();
  Base_ = Written_;  // what was queued is dropped: it counts as played
  return true;
}

bool TRingOutput::SetPaused(bool paused) {
  if (!Open_) return false;
  Playing_ = !paused;
  DevicePause(paused);
  if (paused)
    StopTick();
  else
    StartTick();
  return true;
}

void TRingOutput::SetVolume(int volume) {
  Volume_ = std::clamp(volume, 0, 100);
  if (Open_) DeviceVolumeChanged();
}

void TRingOutput::SetBalance(int balance) {
  Balance_ = std::clamp(balance, 0, 100);
  if (Open_) DeviceVolumeChanged();
}

void TRingOutput::ApplySoftwareVolume(uint8_t* block, uint32_t length) const {
  const int v = Volume_, b = Balance_;
  if (v == 100 && b == 50) return;
  // As a sound card mixer does it: the louder side at the volume, the other scaled by balance.
  double gain[2] = {v / 100.0, v / 100.0};
  if (b < 50) gain[1] *= b / 50.0;
  if (b > 50) gain[0] *= (100 - b) / 50.0;
  const int channels = Format.Channels, bytes = Format.BitsPerSample / 8;
  if (bytes == 0 || channels == 0) return;
  const uint32_t count = length / bytes;
  for (uint32_t i = 0; i < count; ++i) {
    const double g = channels == 2 ? gain[i % 2] : gain[0];
    uint8_t* p = block + size_t(i) * bytes;
    switch (bytes) {
      case 1: p[0] = static_cast<uint8_t>(128 + std::lround((p[0] - 128) * g)); break;
      case 2: {
        int16_t s;
        std::memcpy(&s, p, 2);
        s = static_cast<int16_t>(std::lround(s * g));
        std::memcpy(p, &s, 2);
        break;
      }
      case 3: {
        int32_t s = (p[0] | (p[1] << 8) | (p[2] << 16)) << 8 >> 8;
        s = static_cast<int32_t>(std::lround(s * g));
        p[0] = s & 0xFF, p[1] = (s >> 8) & 0xFF, p[2] = (s >> 16) & 0xFF;
        break;
      }
      case 4: {
        int32_t s;
        std::memcpy(&s, p, 4);
        s = static_cast<int32_t>(std::llround(s * g));
        std::memcpy(p, &s, 4);
        break;
      }
    }
  }
}

void TRingOutput::StartTick() {
  if (!WantsTick() || tick_.joinable()) return;
  {
    std::lock_guard lock(tickMutex_);
    tickRun_ = true;
  }
  // The periodic timer of a looping device buffer: wakes the engine to refill what was played.
  tick_ = std::thread([this] {
    std::unique_lock lock(tickMutex_);
    while (tickRun_) {
      tickCv_.wait_for(lock, std::chrono::milliseconds(kTickMs), [this] { return !tickRun_; });
      if (tickRun_) WakeSource();
    }
  });
}

void TRingOutput::StopTick() {
  if (!tick_.joinable()) return;
  {
    std::lock_guard lock(tickMutex_);
    tickRun_ = false;
  }
  tickCv_.notify_all();
  tick_.join();
}

}  // namespace ml
