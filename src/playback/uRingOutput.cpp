#include "playback/uRingOutput.h"

#include "base/DebugTrace.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ml {

TRingOutput::~TRingOutput() { StopTick(); }

uint32_t TRingOutput::CutFreeSpace(uint32_t free) { return (free > 0x4000 && free < 0x10000) ? 0x4000 : free; }

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
  if (staging_.empty()) staging_.resize(2 * kRingSize);  // room for a processor that lengthens a block
  Open_ = Format.BlockAlign > 0 && DeviceOpen();
  if (!Open_) DebugTrace("output %s: no device for %u Hz, %u channels, %u bits", Describe().c_str(),
                         Format.SamplesPerSec, Format.Channels, Format.BitsPerSample);
  else
    DeviceVolumeChanged();
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
  // Without a device nothing can be queued: the song ends rather than wait for room forever.
  if (!Open_ || !Source_) return false;
  if (SourceEnded_) return false;
  const uint64_t played = Played();
  const uint32_t queued = static_cast<uint32_t>(std::min<uint64_t>(Written_ - played, kRingSize));
  const uint32_t free =
      static_cast<uint32_t>(std::min<uint64_t>(CutFreeSpace(kRingSize - queued), DeviceRoom()));
  if (free < kMinFill) return true;
  uint32_t want = queued == 0 ? std::min<uint32_t>(0x10000, free) : free;
  want -= want % Format.BlockAlign;
  if (want == 0) return true;
  const TPullResult got = Source_.load()->Pull(staging_.data(), want);
  if (got.Bytes > 0 && DeviceWrite(staging_.data(), got.Bytes)) Written_ += got.Bytes;
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
  if (kRingSize - std::min<uint64_t>(Written_ - Played(), kRingSize) >= kMinFill)
    WakeSource();  // still room: come back at once rather than at the next tick
  return true;
}

bool TRingOutput::IsFinished() {
  if (!Open_ || Written_ == Base_) return true;
  if (!SourceEnded_) return false;
  return DeviceAllPlayed();
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
