#include "playback/uMPEGDecoder.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ml {

uint64_t ID3v2TagLength(const uint8_t* p) {
  if (std::memcmp(p, "ID3", 3) != 0) return 0;
  if ((p[6] | p[7] | p[8] | p[9]) & 0x80) return 0;  // not a synchsafe size: not a tag
  uint64_t len = (uint64_t(p[6]) << 21) | (uint64_t(p[7]) << 14) | (uint64_t(p[8]) << 7) | p[9];
  len += 10;
  if (p[3] >= 4 && (p[5] & 0x10)) len += 10;  // v2.4 footer
  return len;
}

namespace {

// Reads the "Xing"/"Info" header of a Layer III first frame; fields follow one another as the
// flags announce them.
void ReadVBRHeader(const uint8_t* frame, size_t avail, TMPEGFirstFrame& out) {
  const TMPEGHeaderFields& h = out.Header;
  if (h.LayerNumber() != 3) return;
  size_t at = h.IsMPEG1() ? (h.IsMono() ? 21 : 36) : (h.IsMono() ? 13 : 21);
  if (h.Protection) at += 2;
  if (at + 8 > avail) return;
  const uint8_t* tag = frame + at;
  const bool xing = std::memcmp(tag, "Xing", 4) == 0;
  const bool info = std::memcmp(tag, "Info", 4) == 0;
  if (!xing && !info) return;  // "VBRI" and the rest: no table we use
  out.InfoTag = true;
  out.IsXing = xing;
  const uint8_t* end = frame + avail;
  const uint8_t* q = tag + 8;
  uint32_t flags = LoadBE32(tag + 4) & 0xF;
  uint32_t kept = 0;
  if (flags & 1) {
    if (q + 4 > end) goto done;
    out.VBRFrames = LoadBE32(q);
    q += 4;
    kept |= 1;
  }
  if (flags & 2) {
    if (q + 4 > end) goto done;
    out.VBRBytes = LoadBE32(q);
    q += 4;
    kept |= 2;
  }
  if (flags & 4) {
    if (q + 100 > end) goto done;
    std::memcpy(out.VBRTable.data(), q, 100);
    q += 100;
    kept |= 4;
  }
  if (flags & 8) {
    if (q + 4 > end) goto done;
    out.VBRQuality = LoadBE32(q);
    kept |= 8;
  }
done:
  out.VBRFlags = kept;
}

}  // namespace

bool FindFirstFrameIn(const uint8_t* w, size_t size, uint64_t windowOffset, TMPEGFirstFrame& out) {
  for (size_t i = 0; i + 4 <= size; ++i) {
    TMPEGHeaderFields h;
    if (!ParseMPEGHeader(w + i, h)) continue;
    const int len = h.FrameLength();
    if (len < 4 || i + len + 4 > size) continue;
    TMPEGHeaderFields next;
    if (!ParseMPEGHeader(w + i + len, next)) continue;
    // The follower must belong to the same stream, or a stray 0xFF in a picture could pass.
    if (next.Version != h.Version || next.Layer != h.Layer || next.SampleRateIndex != h.SampleRateIndex)
      continue;
    out = TMPEGFirstFrame{};
    out.Found = true;
    out.Offset = windowOffset + i;
    out.FrameLength = len;
    out.Header = h;
    ReadVBRHeader(w + i, std::min<size_t>(size - i, static_cast<size_t>(len)), out);
    return true;
  }
  return false;
}

TMPEGDecoder::TMPEGDecoder() : Input_(kInputSize + MAD_BUFFER_GUARD) {}

TMPEGDecoder::~TMPEGDecoder() { Close(); }

void TMPEGDecoder::Close() {
  if (MadReady_) {
    mad_synth_finish(&Synth_);
    mad_frame_finish(&Frame_);
    mad_stream_finish(&Stream_);
    MadReady_ = false;
  }
  Source_.Close();
  First_ = {};
  Format = {};
  TagLength_ = DataStart_ = AudioEnd_ = 0;
  SynthPos_ = 0;
  PosSamples_ = 0;
  Aligning_ = false;
  FrameCount_ = BitrateSum_ = 0;
  GuardAdded_ = Ended_ = false;
}

bool TMPEGDecoder::FindFirstFrame() {
  std::vector<uint8_t> window(kSearchWindow);
  uint64_t at = TagLength_;
  const uint64_t size = Source_.Size();
  while (at < size) {
    if (!Source_.SeekTo(at)) return false;
    const size_t n = Source_.Read(window.data(), window.size());
    if (n == 0) return false;
    if (FindFirstFrameIn(window.data(), n, at, First_)) return true;
    // Only leading zero padding is skipped over; anything else means this is not MPEG audio.
    auto nz = std::find_if(window.begin(), window.begin() + n, [](uint8_t b) { return b != 0; });
    if (nz == window.begin() + n) {
      at += n;
      continue;
    }
    if (nz == window.begin()) return false;
    at += static_cast<uint64_t>(nz - window.begin());
    if (!Source_.SeekTo(at)) return false;
    const size_t m = Source_.Read(window.data(), window.size());
    return FindFirstFrameIn(window.data(), m, at, First_);
  }
  return false;
}

bool TMPEGDecoder::OpenInput() {
  const uint64_t size = Source_.Size();
  uint8_t head[10] = {};
  if (Source_.Read(head, 10) == 10) TagLength_ = ID3v2TagLength(head);
  if (TagLength_ > size) TagLength_ = 0;  // a tag larger than its file is not believed
  if (!FindFirstFrame()) return false;
  AudioEnd_ = size;
  if (size >= First_.Offset + 128 + 4) {
    uint8_t tag[3];
    if (Source_.SeekTo(size - 128) && Source_.Read(tag, 3) == 3 && std::memcmp(tag, "TAG", 3) == 0)
      AudioEnd_ = size - 128;
  }
  // The VBR header frame holds no audio: decoding starts after it.
  DataStart_ = First_.Offset + (First_.InfoTag ? First_.FrameLength : 0);

  const TMPEGHeaderFields& h = First_.Header;
  const int sr = h.SampleRate();
  int64_t durationMs;
  if ((First_.VBRFlags & 1) && First_.VBRFrames > 0) {
    durationMs = int64_t(First_.VBRFrames) * h.SamplesPerFrame() * 1000 / sr;
  } else {
    durationMs = int64_t(AudioEnd_ - std::min(AudioEnd_, DataStart_)) * 8 / h.BitrateKbps();
  }
  Format.DurationMs = static_cast<int32_t>(std::min<int64_t>(durationMs, INT32_MAX));
  Format.Rate = h.BitrateKbps();
  if (First_.IsXing && (First_.VBRFlags & 2) && durationMs > 0)
    Format.Rate = static_cast<int32_t>(int64_t(First_.VBRBytes) * 8 / durationMs);
  Format.SampleRate = sr;
  Format.Stereo = h.IsMono() ? 0 : 1;
  Format.BitsPerSample = 16;

  mad_stream_init(&Stream_);
  mad_frame_init(&Frame_);
  mad_synth_init(&Synth_);
  MadReady_ = true;
  ResetStream(DataStart_);
  return true;
}

void TMPEGDecoder::ResetStream(uint64_t fileOffset) {
  Source_.SeekTo(fileOffset);
  InputOffset_ = fileOffset;
  // Drop the previous buffer; the next Read refills from fileOffset.
  mad_stream_finish(&Stream_);
  mad_stream_init(&Stream_);
  mad_frame_mute(&Frame_);
  mad_synth_mute(&Synth_);
  Synth_.pcm.length = 0;
  SynthPos_ = 0;
  GuardAdded_ = Ended_ = false;
}

bool TMPEGDecoder::Refill() {
  size_t keep = 0;
  if (Stream_.buffer && Stream_.next_frame) {
    keep = static_cast<size_t>(Stream_.bufend - Stream_.next_frame);
    InputOffset_ += static_cast<size_t>(Stream_.next_frame - Stream_.buffer);
    std::memmove(Input_.data(), Stream_.next_frame, keep);
  } else if (Stream_.buffer) {
    InputOffset_ += static_cast<size_t>(Stream_.bufend - Stream_.buffer);
  }
  if (GuardAdded_) return false;  // the last frame has been given its guard already
  size_t n = Source_.Read(Input_.data() + keep, kInputSize - keep);
  if (n == 0) {
    // libmad decodes a frame only when the next header's bytes are there; zero guard bytes at the
    // end let it finish the last frame.
    std::memset(Input_.data() + keep, 0, MAD_BUFFER_GUARD);
    n = MAD_BUFFER_GUARD;
    GuardAdded_ = true;
  }
  mad_stream_buffer(&Stream_, Input_.data(), keep + n);
  Stream_.error = MAD_ERROR_NONE;
  return true;
}

void TMPEGDecoder::OnFrameDecoded() {
  const int kbps = static_cast<int>(Frame_.header.bitrate / 1000);
  BitrateSum_ += static_cast<uint64_t>(kbps);
  ++FrameCount_;
  Format.Rate = kbps;
  mad_synth_frame(&Synth_, &Frame_);
  SynthPos_ = 0;
  if (!Aligning_) return;
  // Where this frame sits in the song, from its byte offset: exact for constant bit rates, whose
  // frames are evenly spread.
  Aligning_ = false;
  const int spf = First_.Header.SamplesPerFrame();
  const double avgFrameBytes = double(spf) * First_.Header.BitrateKbps() * 125.0 / Format.SampleRate;
  const uint64_t at = InputOffset_ + static_cast<uint64_t>(Stream_.this_frame - Stream_.buffer);
  const int64_t index = std::llround(double(at - std::min(at, DataStart_)) / avgFrameBytes);
  const int64_t start = index * spf;
  const int64_t len = Synth_.pcm.length;
  if (start + len <= SeekTarget_) {
    SynthPos_ = Synth_.pcm.length;  // wholly before the target
    Aligning_ = true;
    return;
  }
  const int64_t skip = std::clamp<int64_t>(SeekTarget_ - start, 0, len);
  SynthPos_ = static_cast<unsigned>(skip);
  PosSamples_ = start + skip;
}

bool TMPEGDecoder::Read(uint8_t* buffer, uint32_t& count) {
  if (!MadReady_ || Ended_) {
    count = 0;
    return false;
  }
  const int channels = Format.Channels();
  const uint32_t wanted = count / (2u * channels);
  uint32_t done = 0;
  int16_t* out = reinterpret_cast<int16_t*>(buffer);
  for (;;) {
    const unsigned avail = Synth_.pcm.length - std::min<unsigned>(SynthPos_, Synth_.pcm.length);
    const unsigned take = std::min<unsigned>(avail, wanted - done);
    // The channel count is fixed at open: a frame in the other mode is mixed down or doubled.
    const bool frameStereo = Synth_.pcm.channels == 2;
    const mad_fixed_t* left = Synth_.pcm.samples[0] + SynthPos_;
    const mad_fixed_t* right = Synth_.pcm.samples[frameStereo ? 1 : 0] + SynthPos_;
    // The dither states live in registers for the run of samples.
    TMadDither d0 = Dither_[0], d1 = Dither_[1];
    if (channels == 2) {
      for (unsigned i = 0; i < take; ++i) {
        out[0] = d0.Apply(left[i]);
        out[1] = d1.Apply(right[i]);
        out += 2;
      }
    } else if (frameStereo) {
      for (unsigned i = 0; i < take; ++i) *out++ = d0.Apply((left[i] >> 1) + (right[i] >> 1));
    } else {
      for (unsigned i = 0; i < take; ++i) *out++ = d0.Apply(left[i]);
    }
    Dither_[0] = d0;
    Dither_[1] = d1;
    SynthPos_ += take;
    done += take;
    PosSamples_ += take;
    if (done >= wanted) break;

    if (!Stream_.buffer || Stream_.error == MAD_ERROR_BUFLEN) {
      if (!Refill()) {
        Ended_ = true;
        break;
      }
    }
    if (mad_frame_decode(&Frame_, &Stream_) != 0) {
      if (MAD_RECOVERABLE(Stream_.error) || Stream_.error == MAD_ERROR_BUFLEN) continue;
      Ended_ = true;
      break;
    }
    // A frame of another sample rate cannot be played at this one's speed: it is skipped.
    if (static_cast<int>(Frame_.header.samplerate) != Format.SampleRate) continue;
    OnFrameDecoded();
  }
  count = done * 2u * channels;
  return done > 0 || !Ended_;
}

int32_t TMPEGDecoder::GetPositionMs() {
  if (Format.SampleRate <= 0) return 0;
  return static_cast<int32_t>(std::min<int64_t>(PosSamples_ * 1000 / Format.SampleRate, INT32_MAX));
}

void TMPEGDecoder::Seek(float fraction) {
  if (!MadReady_) return;
  if (!(fraction >= 0.0f)) fraction = 0.0f;
  if (fraction > 1.0f) fraction = 1.0f;
  const int64_t ms = std::llround(double(Format.DurationMs) * fraction);
  const int sr = Format.SampleRate;
  const int spf = First_.Header.SamplesPerFrame();
  SeekTarget_ = ms * sr / 1000;
  PosSamples_ = SeekTarget_;
  uint64_t offset;
  if (First_.IsXing && (First_.VBRFlags & 4)) {
    // The table maps a percentage of the song to 256ths of the stream's bytes, counted from the
    // header frame over the byte count the header states.
    const double p = double(fraction) * 100.0;
    const int i = static_cast<int>(p);
    const double a = i > 99 ? 256.0 : First_.VBRTable[static_cast<size_t>(i)];
    const double b = i > 98 ? 256.0 : First_.VBRTable[static_cast<size_t>(i + 1)];
    const double f = ((p - i) * (b - a) + a) / 256.0;
    const uint64_t total = (First_.VBRFlags & 2) && First_.VBRBytes ? First_.VBRBytes
                                                                    : AudioEnd_ - First_.Offset;
    offset = First_.Offset + static_cast<uint64_t>(f * double(total));
    offset = std::max(offset, DataStart_);
    ResetStream(offset);
    Aligning_ = false;
    return;
  }
  // Constant bit rate: start four frames early (the first frame after a jump is lost to the
  // resync, the next may lack its bit reservoir, the one after lacks its overlap), and drop the
  // audio before the target once the frames' places are known.
  const int64_t frame = std::max<int64_t>(0, SeekTarget_ / spf - 4);
  const double avgFrameBytes = double(spf) * First_.Header.BitrateKbps() * 125.0 / sr;
  offset = DataStart_ + static_cast<uint64_t>(double(frame) * avgFrameBytes);
  ResetStream(std::min(offset, AudioEnd_));
  Aligning_ = true;
}

}  // namespace ml
