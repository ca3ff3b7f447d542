#include "playback/uMPEGDecoder.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ml {

static_assert(MAD_F_FRACBITS == TPcmDither::kFracBits, "the dither takes libmad's samples as they are");

bool FindFirstFrameIn(const uint8_t* w, size_t size, uint64_t windowOffset, uint64_t audioEnd,
                      TMPEGFirstFrame& out) {
  for (size_t i = 0; i + 4 <= size; ++i) {
    TMPEGHeaderFields h;
    if (!ParseMPEGHeader(w + i, h)) continue;
    const int len = h.FrameLength();
    if (len < 4) continue;
    TMPEGHeaderFields next;
    // The follower must belong to the same stream, or a stray 0xFF in a picture could pass.
    const bool followed = i + len + 4 <= size && ParseMPEGHeader(w + i + len, next) && next.Version == h.Version &&
                          next.Layer == h.Layer && next.SampleRateIndex == h.SampleRateIndex;
    const bool alone = i == 0 && windowOffset + uint64_t(len) == audioEnd;
    if (!followed && !alone) continue;
    out = TMPEGFirstFrame{};
    out.Found = true;
    out.Offset = windowOffset + i;
    out.FrameLength = len;
    out.Header = h;
    ReadMpegVbrHeader(w + i, std::min<size_t>(size - i, static_cast<size_t>(len)), h, out.Vbr);
    return true;
  }
  return false;
}

TMPEGDecoder::TMPEGDecoder() : Input_(std::make_unique_for_overwrite<uint8_t[]>(kInputSize + MAD_BUFFER_GUARD)) {}

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
  TagLength_ = DataStart_ = AudioEnd_ = TotalSamples_ = 0;
  AverageKbps_ = 0;
  Index_.Reset(0, 0, 0);
  SynthPos_ = 0;
  PosSamples_ = 0;
  Aligning_ = false;
  // A song's samples owe nothing to the one decoded before it.
  Dither_[0] = Dither_[1] = TPcmDither{};
  SeekFrames_.clear();
  FrameCount_ = 0;
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
    if (FindFirstFrameIn(window.data(), n, at, AudioEnd_, First_)) return true;
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
    return FindFirstFrameIn(window.data(), m, at, AudioEnd_, First_);
  }
  return false;
}

bool TMPEGDecoder::OpenInput() {
  TMediaSource& src = Source_.Source();
  const uint64_t size = Source_.Size();
  uint8_t head[10] = {};
  if (Source_.Read(head, 10) == 10) TagLength_ = ID3v2TagLength(head);
  if (TagLength_ > size) TagLength_ = 0;  // a tag larger than its file is not believed
  AudioEnd_ = MpegAudioEnd(src, TagLength_);
  if (!FindFirstFrame()) return false;
  DataStart_ = First_.Offset + (First_.InfoFrame() ? First_.FrameLength : 0);

  const TMPEGHeaderFields& h = First_.Header;
  const int sr = h.SampleRate();
  Index_.Reset(DataStart_, sr, AudioEnd_);
  uint64_t bytes;
  const TMpegVbrHeader& vbr = First_.Vbr;
  if (vbr.IsXingOrInfo() && (vbr.Flags & 1) && vbr.Frames > 0) {
    // The encoder counted the frames: no need to read the whole file for the length.
    TotalSamples_ = uint64_t(vbr.Frames) * h.SamplesPerFrame();
    bytes = (vbr.Flags & 2) && vbr.Bytes ? vbr.Bytes : AudioEnd_ - First_.Offset;
  } else {
    // Nothing says how many frames there are: count them. A first frame's bit rate says nothing
    // of a variable rate stream, and a size-based guess counts trailing tags as audio.
    Index_.WalkAll(src);
    TotalSamples_ = Index_.Samples();
    bytes = Index_.Bytes();
    // A download still arriving: the walk stopped at the first byte not there yet. The rest is
    // reckoned at the rate of what has come (a seek walks on as the file grows).
    const uint64_t audio = AudioEnd_ - DataStart_;
    if (bytes > 0 && bytes < audio && src.ReadyFrom(DataStart_) < audio) {
      TotalSamples_ = uint64_t(double(TotalSamples_) * double(audio) / double(bytes));
      bytes = audio;
    }
  }
  Format.DurationMs = MpegDurationMs(TotalSamples_, sr);
  AverageKbps_ = MpegAverageKbps(bytes, TotalSamples_, sr);
  if (AverageKbps_ == 0) AverageKbps_ = h.BitrateKbps();
  Format.Rate = AverageKbps_;
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
    std::memmove(Input_.get(), Stream_.next_frame, keep);
  } else if (Stream_.buffer) {
    InputOffset_ += static_cast<size_t>(Stream_.bufend - Stream_.buffer);
  }
  if (GuardAdded_) return false;  // the last frame has been given its guard already
  size_t n = Source_.Read(Input_.get() + keep, kInputSize - keep);
  if (n == 0) {
    // libmad decodes a frame only when the next header's bytes are there; zero guard bytes at the
    // end let it finish the last frame.
    std::memset(Input_.get() + keep, 0, MAD_BUFFER_GUARD);
    n = MAD_BUFFER_GUARD;
    GuardAdded_ = true;
  }
  mad_stream_buffer(&Stream_, Input_.get(), keep + n);
  Stream_.error = MAD_ERROR_NONE;
  return true;
}

void TMPEGDecoder::OnFrameDecoded() {
  ++FrameCount_;
  Format.Rate = static_cast<int>(Frame_.header.bitrate / 1000);
  mad_synth_frame(&Synth_, &Frame_);
  SynthPos_ = 0;
  if (Aligning_) AlignToTarget();
}

void TMPEGDecoder::AlignToTarget() {
  const uint64_t at = InputOffset_ + static_cast<uint64_t>(Stream_.this_frame - Stream_.buffer);
  const auto f = std::find_if(SeekFrames_.begin(), SeekFrames_.end(), [at](const TMpegFrameAt& x) { return x.Offset == at; });
  const int64_t len = Synth_.pcm.length;
  if (f == SeekFrames_.end() && at > SeekFrames_.back().Offset) {
    // Nothing decoded until past the frames the jump looked at: go on from here.
    Aligning_ = false;
    PosSamples_ = int64_t(SeekFrames_.back().Sample + SeekFrames_.back().Samples);
    return;
  }
  // A frame the walk did not see (libmad found a sync in junk) is not part of the song.
  if (f == SeekFrames_.end() || int64_t(f->Sample) + len <= SeekTarget_) {
    SynthPos_ = Synth_.pcm.length;  // wholly before the target
    return;
  }
  Aligning_ = false;
  const int64_t skip = std::clamp<int64_t>(SeekTarget_ - int64_t(f->Sample), 0, len);
  SynthPos_ = static_cast<unsigned>(skip);
  PosSamples_ = int64_t(f->Sample) + skip;
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
    TPcmDither d0 = Dither_[0], d1 = Dither_[1];
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
      if (!MAD_RECOVERABLE(Stream_.error) && Stream_.error != MAD_ERROR_BUFLEN) {
        Ended_ = true;
        break;
      }
      // A frame whose bit reservoir lies before a cut (or a jump) still stands for its stretch
      // of time: it plays as silence, so that the samples keep the count the frame index gives.
      if (Stream_.error != MAD_ERROR_BADDATAPTR) continue;
      mad_frame_mute(&Frame_);
    }
    // A frame of another sample rate cannot be played at this one's speed: it is skipped.
    if (static_cast<int>(Frame_.header.samplerate) != Format.SampleRate) continue;
    OnFrameDecoded();
  }
  count = done * 2u * channels;
  return done > 0 || !Ended_;
}

uint64_t TMPEGDecoder::ReadAheadBytes() const {
  // Input in hand serves a Read (a queue's worth of frames: a few KB at most) without the
  // source; up to 40 KB are taken at once, so a download need not wait until that much more
  // has come.
  constexpr uint64_t kEnoughInHand = 16 * 1024;
  const uint64_t inHand = Stream_.buffer && Stream_.next_frame ? uint64_t(Stream_.bufend - Stream_.next_frame) : 0;
  return inHand >= kEnoughInHand ? 0 : TDecoderModule::ReadAheadBytes();
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
  TMediaSource& src = Source_.Source();
  SeekTarget_ = ms * Format.SampleRate / 1000;
  Index_.ExtendTo(MpegAudioEnd(src, DataStart_));  // a download may have grown since the open
  SeekFrames_.clear();
  TMpegFrameAt target;
  if (!Index_.FindSample(src, uint64_t(SeekTarget_), target)) {
    // Past the last frame: the song is over.
    PosSamples_ = std::min<int64_t>(SeekTarget_, int64_t(Index_.Samples()));
    ResetStream(AudioEnd_);
    Aligning_ = false;
    return;
  }
  // Decoding starts some frames early, and the audio before the target is dropped once each
  // frame's place is known from its offset. The frame before the target must decode whole, as
  // the target's first half comes from its overlap: both need their bit reservoir (up to 511
  // bytes of the frames before them) and the first frame after a jump is lost to the resync. At
  // least four frames, and enough to hold the reservoirs of low bit rate frames.
  constexpr uint64_t kMinPreroll = 4, kMaxPreroll = 64;
  constexpr uint64_t kReservoirBytes = 2 * 511;
  TMpegFrameAt from = target;
  for (uint64_t frames = kMinPreroll;; frames *= 2) {
    Index_.FindSample(src, target.Sample - std::min(target.Sample, frames * target.Samples), from);
    if (from.Sample == 0 || frames >= kMaxPreroll || target.Offset - from.Offset >= kReservoirBytes + 2 * target.Length)
      break;
  }
  SeekFrames_.push_back(from);
  for (TMpegFrameAt f = from; f.Offset <= target.Offset && Index_.Next(src, f, f);) SeekFrames_.push_back(f);
  PosSamples_ = SeekTarget_;
  ResetStream(from.Offset);
  Aligning_ = true;
}

}  // namespace ml
