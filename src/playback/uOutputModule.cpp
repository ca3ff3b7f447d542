#include "playback/uOutputModule.h"

#include "base/DebugTrace.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ml {

void TWaitSet::Signal(unsigned bits) {
  {
    std::lock_guard lock(mutex_);
    bits_ |= bits;
  }
  cv_.notify_all();
}

unsigned TWaitSet::Wait(unsigned mask, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, timeout, [&] { return (bits_ & mask) != 0; });
  const unsigned got = bits_ & mask;
  bits_ &= ~got;
  return got;
}

unsigned TWaitSet::Take(unsigned mask) {
  std::lock_guard lock(mutex_);
  const unsigned got = bits_ & mask;
  bits_ &= ~got;
  return got;
}

void TOutputModule::FormatFromDecoder(const TDecoderModule& decoder) {
  TDecoderFormat f;
  decoder.GetFormat(f);
  Format = {};
  Format.FormatTag = 1;
  Format.BitsPerSample = static_cast<uint16_t>(f.BitsPerSample);
  Format.Channels = static_cast<uint16_t>(f.Channels());
  Format.SamplesPerSec = static_cast<uint32_t>(f.SampleRate);
  Format.BlockAlign = static_cast<uint16_t>(Format.Channels * Format.BitsPerSample / 8);
  Format.AvgBytesPerSec = Format.SamplesPerSec * Format.BlockAlign;
}

uint32_t TOutputModule::ProduceBlock(uint8_t* block, uint32_t want) {
  if (!Decoder) return 0;
  uint32_t n = want;
  if (!Decoder->Read(block, n)) {
    // Detached but left open: its position stays at the end for the progress display; the engine
    // closes it with the next song.
    Decoder = nullptr;
  }
  if (n == 0) return 0;
  KeepVisual(block, n);
  if (ProcessCallback)
    ProcessCallback(ProcessData, this, block, static_cast<int>(Format.SamplesPerSec), Format.Channels & 0xFF,
                    Format.BitsPerSample & 0xFF, &n);
  return n;
}

void TOutputModule::KeepVisual(const uint8_t* block, uint32_t length) {
  constexpr uint32_t kVisualMax = 8192;
  if (length < 2048) return;  // too short to show a spectrum; keep the previous one
  std::lock_guard lock(visualMutex_);
  visual_.assign(block, block + std::min(length, kVisualMax));
}

// ---------------------------------------------------------------------------------------------

TRingOutput::~TRingOutput() { StopTick(); }

uint32_t TRingOutput::CutFreeSpace(uint32_t free) { return (free > 0x4000 && free < 0x10000) ? 0x4000 : free; }

uint64_t TRingOutput::Played() {
  const uint64_t since = Written_ - Base_;
  return Base_ + std::min(DevicePlayed(), since);
}

void TRingOutput::SetDecoder(TDecoderModule* decoder) {
  Stop();
  FormatFromDecoder(*decoder);
  Decoder = decoder;
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
  Open_ = false;
  Playing_ = false;
  Format = {};
}

void TRingOutput::FillBuffers() {
  if (!Open_) {
    // Without a device nothing can be queued: let the song end rather than wait for room forever.
    Decoder = nullptr;
    return;
  }
  if (!Decoder) return;
  const uint64_t played = Played();
  const uint32_t queued = static_cast<uint32_t>(std::min<uint64_t>(Written_ - played, kRingSize));
  const uint32_t free =
      static_cast<uint32_t>(std::min<uint64_t>(CutFreeSpace(kRingSize - queued), DeviceRoom()));
  if (free < kMinFill) return;
  uint32_t want = queued == 0 ? std::min<uint32_t>(0x10000, free) : free;
  want -= want % Format.BlockAlign;
  if (want == 0) return;
  const uint32_t n = ProduceBlock(staging_.data(), want);
  if (n > 0 && DeviceWrite(staging_.data(), n)) Written_ += n;
  if (!Playing_) {
    Playing_ = true;
    DevicePause(false);
    StartTick();
  }
  if (!Decoder) {
    DeviceDrain();
  } else if (kRingSize - std::min<uint64_t>(Written_ - Played(), kRingSize) >= kMinFill) {
    SignalNotify();  // still room: come back at once rather than at the next tick
  }
}

bool TRingOutput::IsFinished() {
  if (!Open_ || Written_ == Base_) return true;
  if (Decoder) return false;
  return DeviceAllPlayed();
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

void TRingOutput::Rewind() {
  if (Decoder) Decoder->Seek(0.0f);
  Flush();
  FillBuffers();
}

void TRingOutput::SetVolume(int volume) {
  Volume_ = std::clamp(volume, 0, 100);
  if (Open_) DeviceVolumeChanged();
}

void TRingOutput::SetBalance(int balance) {
  Balance_ = std::clamp(balance, 0, 100);
  if (Open_) DeviceVolumeChanged();
}

bool TRingOutput::GetVisualData(std::vector<uint8_t>& data, int& channels, int& bits) {
  std::lock_guard lock(visualMutex_);
  if (visual_.empty()) return false;
  data = visual_;
  channels = Format.Channels;
  bits = Format.BitsPerSample;
  return true;
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
      if (tickRun_) SignalNotify();
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

bool ParseOutputTarget(const std::string& text, TOutputTarget& target) {
  const auto colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  const std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
  if (kind == "alsa") {
    target = {TOutputKind::Alsa, rest};
  } else if (kind == "pulse") {
    target = {TOutputKind::Pulse, rest};
  } else if (kind == "wav" && !rest.empty()) {
    target = {TOutputKind::WavFile, rest};
  } else if (kind == "null" && colon == std::string::npos) {
    target = {TOutputKind::Null, ""};
  } else {
    return false;
  }
  return true;
}

}  // namespace ml
