#include "playback/uWAVDecoder.h"

#include "media/RiffWave.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ml {

namespace {

// A RIFF file of a few chunks; a file with more than this before its data is not a song.
constexpr int kMaxChunks = 4096;

}  // namespace

bool TWAVDecoder::OpenInput() {
  TMediaSource& src = Source_.Source();
  if (!IsRiffWave(src)) return false;
  const uint64_t fileSize = src.Size();

  bool haveFmt = false, bad = false;
  TWaveFmt fmt;
  WalkRiffChunks(src, kMaxChunks, [&](const TRiffChunk& chunk) {
    if (chunk.Is("fmt ")) {
      // The format tag is not examined: PCM, extensible PCM and odd writers' tags all carry
      // plain integer samples in practice, and a canonical header is taken at its word.
      bad = chunk.Size < 16 || !ReadWaveFmt(src, chunk, fmt);
      haveFmt = !bad;
      return !bad;
    }
    if (chunk.Is("data")) {
      bad = !haveFmt;
      if (bad) return false;
      DataStart_ = chunk.BodyOffset;
      const uint64_t rest = fileSize - std::min(fileSize, chunk.BodyOffset);
      // Streaming writers leave the size 0 or all ones; a cut file has less than it says.
      DataLength_ = (chunk.Size == 0 || chunk.Size == 0xFFFFFFFFu) ? rest : std::min<uint64_t>(chunk.Size, rest);
      return false;
    }
    return true;
  });
  if (bad || !haveFmt || DataStart_ == 0) return false;
  const uint16_t channels = fmt.Channels, bits = fmt.BitsPerSample;
  const uint32_t rate = fmt.SampleRate;
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
  return Source_.SeekTo(DataStart_);
}

void TWAVDecoder::Close() {
  Source_.Close();
  Format = {};
  DataStart_ = DataLength_ = Delivered_ = 0;
  BytesPerSecond_ = BlockAlign_ = 0;
}

void TWAVDecoder::Seek(float fraction) {
  if (!Source_.IsOpen()) return;
  if (!(fraction >= 0.0f)) fraction = 0.0f;  // also catches NaN
  if (fraction > 1.0f) fraction = 1.0f;
  uint64_t b = static_cast<uint64_t>(std::llround(static_cast<double>(DataLength_) * fraction));
  b -= b % BlockAlign_;
  Delivered_ = b;
  Source_.SeekTo(DataStart_ + b);
}

int32_t TWAVDecoder::GetPositionMs() {
  if (BytesPerSecond_ == 0) return 0;
  return static_cast<int32_t>(std::min<uint64_t>(Delivered_ * 1000 / BytesPerSecond_, INT32_MAX));
}

bool TWAVDecoder::Read(uint8_t* buffer, uint32_t& count) {
  if (!Source_.IsOpen() || BlockAlign_ == 0) {
    count = 0;
    return false;
  }
  uint64_t want = std::min<uint64_t>(count, DataLength_ - Delivered_);
  want -= want % BlockAlign_;
  size_t got = want ? Source_.Read(buffer, static_cast<size_t>(want)) : 0;
  if (got % BlockAlign_) {
    // A torn frame at a short read: give it back so the stream stays frame aligned.
    got -= got % BlockAlign_;
    Source_.SeekTo(DataStart_ + Delivered_ + got);
  }
  Delivered_ += got;
  count = static_cast<uint32_t>(got);
  return got > 0;
}

}  // namespace ml
