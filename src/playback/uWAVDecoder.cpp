#include "playback/uWAVDecoder.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace ml {

namespace {

// A RIFF file of a few chunks; a file with more than this before its data is not a song.
constexpr int kMaxChunks = 4096;

// The G.711 expansions to 16-bit linear PCM, as the ITU reference code computes them: mu-law
// peaks at +-32124, A-law at +-32256.
int16_t MuLawToLinear(uint8_t u) {
  u = static_cast<uint8_t>(~u);
  const int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  return static_cast<int16_t>((u & 0x80) ? 0x84 - t : t - 0x84);
}

int16_t ALawToLinear(uint8_t a) {
  a ^= 0x55;
  int t = (a & 0x0F) << 4;
  const int segment = (a & 0x70) >> 4;
  if (segment == 0)
    t += 8;
  else
    t = (t + 0x108) << (segment - 1);
  return static_cast<int16_t>((a & 0x80) ? t : -t);
}

using TLawTable = std::array<int16_t, 256>;

template <int16_t (*Expand)(uint8_t)>
const TLawTable& LawTable() {
  static const TLawTable table = [] {
    TLawTable t{};
    for (int i = 0; i < 256; ++i) t[size_t(i)] = Expand(static_cast<uint8_t>(i));
    return t;
  }();
  return table;
}

// A float sample in the dither's 4.28 fixed point, clipped to what that holds (+-8.0); NaN is
// silence.
int32_t FloatToFixed(double x) {
  if (!(x == x)) return 0;
  const double scaled = x * double(TPcmDither::kOne);
  if (scaled >= 2147483647.0) return INT32_MAX;
  if (scaled <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(std::lround(scaled));
}

void StoreSample(uint8_t* out, int16_t v) { StoreLE16(out, static_cast<uint16_t>(v)); }

}  // namespace

bool TWAVDecoder::OpenInput() {
  TMediaSource& src = Source_.Source();
  if (!IsRiffWave(src)) return false;
  const uint64_t fileSize = src.Size();

  bool haveFmt = false, bad = false;
  WalkRiffChunks(src, kMaxChunks, [&](const TRiffChunk& chunk) {
    if (chunk.Is("fmt ")) {
      bad = chunk.Size < 16 || !ReadWaveFmt(src, chunk, Fmt_);
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
  const uint16_t channels = Fmt_.Channels, bits = Fmt_.BitsPerSample;
  const uint32_t rate = Fmt_.SampleRate;
  // From here on the file is a WAV file: what we cannot play is said, not just refused.
  const TWaveCoding coding = Fmt_.Coding();
  bool codingOk = false;
  switch (coding) {
    case TWaveCoding::Pcm: codingOk = bits == 8 || bits == 16 || bits == 24 || bits == 32; break;
    case TWaveCoding::Float: codingOk = bits == 32 || bits == 64; break;
    case TWaveCoding::ALaw:
    case TWaveCoding::MuLaw: codingOk = bits == 8; break;
    case TWaveCoding::Other: break;
  }
  if (!codingOk) {
    SetOpenError("WAV coding " + WaveCodingName(Fmt_.CodingTag()) + " with " + std::to_string(bits) +
                 "-bit samples is not one this player decodes");
    return false;
  }
  if (channels != 1 && channels != 2) {
    SetOpenError("WAV file with " + std::to_string(channels) + " channels: this player plays one or two");
    return false;
  }
  if (rate == 0 || rate > 768000) {
    SetOpenError("WAV file with a sample rate of " + std::to_string(rate) + " Hz");
    return false;
  }

  FileFrame_ = Fmt_.FrameBytes();
  const int outBits = coding == TWaveCoding::Pcm ? bits : 16;
  OutFrame_ = channels * outBits / 8u;
  BytesPerSecond_ = static_cast<uint32_t>(Fmt_.BytesPerSecond());
  DataLength_ -= DataLength_ % FileFrame_;
  Format.SampleRate = static_cast<int32_t>(rate);
  Format.Stereo = channels == 2 ? 1 : 0;
  Format.BitsPerSample = outBits;
  Format.Rate = static_cast<int32_t>(BytesPerSecond_);
  Format.DurationMs = static_cast<int32_t>(std::min<uint64_t>(DataLength_ * 1000 / BytesPerSecond_, INT32_MAX));
  Delivered_ = 0;
  Dither_[0] = Dither_[1] = TPcmDither{};
  return Source_.SeekTo(DataStart_);
}

void TWAVDecoder::Close() {
  Source_.Close();
  Format = {};
  Fmt_ = {};
  DataStart_ = DataLength_ = Delivered_ = 0;
  BytesPerSecond_ = FileFrame_ = OutFrame_ = 0;
}

void TWAVDecoder::Seek(float fraction) {
  if (!Source_.IsOpen()) return;
  if (!(fraction >= 0.0f)) fraction = 0.0f;  // also catches NaN
  if (fraction > 1.0f) fraction = 1.0f;
  uint64_t b = static_cast<uint64_t>(std::llround(static_cast<double>(DataLength_) * fraction));
  b -= b % FileFrame_;
  Delivered_ = b;
  Source_.SeekTo(DataStart_ + b);
}

int32_t TWAVDecoder::GetPositionMs() {
  if (BytesPerSecond_ == 0) return 0;
  return static_cast<int32_t>(std::min<uint64_t>(Delivered_ * 1000 / BytesPerSecond_, INT32_MAX));
}

void TWAVDecoder::Convert(const uint8_t* in, uint32_t frames, uint8_t* out) {
  const uint32_t samples = frames * Fmt_.Channels;
  const bool stereo = Fmt_.Channels == 2;
  switch (Fmt_.Coding()) {
    case TWaveCoding::Float:
      for (uint32_t i = 0; i < samples; ++i) {
        double x;
        if (Fmt_.BitsPerSample == 32) {
          const uint32_t bits = LoadLE32(in + 4 * size_t(i));
          float f;
          std::memcpy(&f, &bits, 4);
          x = f;
        } else {
          const uint64_t bits = LoadLE64(in + 8 * size_t(i));
          std::memcpy(&x, &bits, 8);
        }
        StoreSample(out + 2 * size_t(i), Dither_[stereo ? i % 2 : 0].Apply(FloatToFixed(x)));
      }
      break;
    case TWaveCoding::ALaw:
    case TWaveCoding::MuLaw: {
      const TLawTable& table =
          Fmt_.Coding() == TWaveCoding::ALaw ? LawTable<ALawToLinear>() : LawTable<MuLawToLinear>();
      for (uint32_t i = 0; i < samples; ++i) StoreSample(out + 2 * size_t(i), table[in[i]]);
      break;
    }
    case TWaveCoding::Pcm:
    case TWaveCoding::Other: break;
  }
}

bool TWAVDecoder::Read(uint8_t* buffer, uint32_t& count) {
  if (!Source_.IsOpen() || FileFrame_ == 0) {
    count = 0;
    return false;
  }
  const bool converting = Fmt_.Coding() != TWaveCoding::Pcm;
  const uint64_t frames = std::min<uint64_t>(count / OutFrame_, (DataLength_ - Delivered_) / FileFrame_);
  const uint64_t want = frames * FileFrame_;
  uint8_t* into = buffer;
  if (converting) {
    Scratch_.resize(static_cast<size_t>(want));
    into = Scratch_.data();
  }
  size_t got = want ? Source_.Read(into, static_cast<size_t>(want)) : 0;
  if (got % FileFrame_) {
    // A torn frame at a short read: give it back so the stream stays frame aligned.
    got -= got % FileFrame_;
    Source_.SeekTo(DataStart_ + Delivered_ + got);
  }
  const uint32_t gotFrames = static_cast<uint32_t>(got / FileFrame_);
  if (converting) Convert(into, gotFrames, buffer);
  Delivered_ += got;
  count = gotFrames * OutFrame_;
  return got > 0;
}

}  // namespace ml
