#include "playback/uWAVDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ml {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A RIFF file of a few chunks; a file with more than this before its data is not a song.
constexpr int kMaxChunks = 4096;

}  // namespace

bool TWAVDecoder::Open(const std::string& fileName, bool /*shareWrite*/) {
  Close();
  if (!File_.Open(fileName)) return false;
  FileName_ = fileName;
  if (!ParseHeader()) {
    Close();
    return false;
  }
  return true;
}

bool TWAVDecoder::ParseHeader() {
  uint8_t riff[12];
  if (File_.Read(riff, 12) != 12) return false;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;
  const uint64_t fileSize = File_.Size();

  bool haveFmt = false;
  uint16_t channels = 0, bits = 0;
  uint32_t rate = 0;
  uint64_t pos = 12;
  for (int i = 0; i < kMaxChunks && pos + 8 <= fileSize; ++i) {
    uint8_t head[8];
    if (!File_.SeekTo(pos) || File_.Read(head, 8) != 8) return false;
    const uint32_t size = Le32(head + 4);
    const uint64_t body = pos + 8;
    if (std::memcmp(head, "fmt ", 4) == 0) {
      if (size < 16 || body + 16 > fileSize) return false;
      uint8_t fmt[16];
      if (File_.Read(fmt, 16) != 16) return false;
      // The format tag is not examined: PCM, extensible PCM and odd writers' tags all carry
      // plain integer samples in practice, and a canonical header is taken at its word.
      channels = Le16(fmt + 2);
      rate = Le32(fmt + 4);
      bits = Le16(fmt + 14);
      haveFmt = true;
    } else if (std::memcmp(head, "data", 4) == 0) {
      if (!haveFmt) return false;
      DataStart_ = body;
      const uint64_t rest = fileSize - std::min(fileSize, body);
      // Streaming writers leave the size 0 or all ones; a cut file has less than it says.
      DataLength_ = (size == 0 || size == 0xFFFFFFFFu) ? rest : std::min<uint64_t>(size, rest);
      break;
    }
    pos = body + size + (size & 1);  // chunks are padded to an even length
  }
  if (!haveFmt || DataStart_ == 0) return false;
  if (channels != 1 && channels != 2) return false;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (rate == 0 || rate > 768000) return false;

  BlockAlign_ = channels * bits / 8u;
  BytesPerSecond_ = rate * BlockAlign_;
  DataLength_ -= DataLength_ % BlockAlign_;
  Format.SampleRate = static_cast<int32_t>(rate);
  Format.Stereo = channels == 2 ? 1 : 0;
  Format.BitsPerSample = bits;
  Format.Rate = static_cast<int32_t>(BytesPerSecond_);
  Format.DurationMs = static_cast<int32_t>(
      std::min<uint64_t>(DataLength_ * 1000 / BytesPerSecond_, INT32_MAX));
  Delivered_ = 0;
  return File_.SeekTo(DataStart_);
}

void TWAVDecoder::Close() {
  File_.Close();
  Format = {};
  DataStart_ = DataLength_ = Delivered_ = 0;
  BytesPerSecond_ = BlockAlign_ = 0;
}

void TWAVDecoder::Seek(float fraction) {
  if (!File_.IsOpen()) return;
  if (!(fraction >= 0.0f)) fraction = 0.0f;  // also catches NaN
  if (fraction > 1.0f) fraction = 1.0f;
  uint64_t b = static_cast<uint64_t>(std::llround(static_cast<double>(DataLength_) * fraction));
  b -= b % BlockAlign_;
  Delivered_ = b;
  File_.SeekTo(DataStart_ + b);
}

int32_t TWAVDecoder::GetPositionMs() {
  if (BytesPerSecond_ == 0) return 0;
  return static_cast<int32_t>(std::min<uint64_t>(Delivered_ * 1000 / BytesPerSecond_, INT32_MAX));
}

bool TWAVDecoder::Read(uint8_t* buffer, uint32_t& count) {
  if (!File_.IsOpen() || BlockAlign_ == 0) {
    count = 0;
    return false;
  }
  uint64_t want = std::min<uint64_t>(count, DataLength_ - Delivered_);
  want -= want % BlockAlign_;
  size_t got = want ? File_.Read(buffer, static_cast<size_t>(want)) : 0;
  if (got % BlockAlign_) {
    // A torn frame at a short read: give it back so the stream stays frame aligned.
    got -= got % BlockAlign_;
    File_.SeekTo(DataStart_ + Delivered_ + got);
  }
  Delivered_ += got;
  count = static_cast<uint32_t>(got);
  return got > 0;
}

}  // namespace ml
