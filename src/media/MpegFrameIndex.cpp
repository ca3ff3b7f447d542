#include "media/MpegFrameIndex.h"

#include "media/MediaSource.h"

#include <algorithm>
#include <cstring>

namespace ml {

void TMpegFrameIndex::Reset(uint64_t first, int sampleRate, uint64_t end) {
  First_ = first;
  End_ = end;
  SampleRate_ = sampleRate;
  Marks_.clear();
  Last_ = {};
  HaveLast_ = Complete_ = false;
  Unbroken_ = true;
  Frames_ = Bytes_ = 0;
  BlockSize_ = 0;
  BlockAtEnd_ = false;
  BlockOffset_ = 0;
}

void TMpegFrameIndex::ExtendTo(uint64_t end) {
  if (end <= End_) return;
  End_ = end;
  Complete_ = false;
  // The cached block may end where the file ended before.
  BlockSize_ = 0;
  BlockAtEnd_ = false;
}

bool TMpegFrameIndex::ReadBytes(TMediaSource& src, uint64_t pos, uint8_t* out, size_t n) {
  if (pos + n > End_) return false;
  if (pos < BlockOffset_ || pos + n > BlockOffset_ + BlockSize_) {
    // Past the end of a block that reached the end of the file there is nothing to read: a
    // resync stepping byte by byte through junk at the end must not read the file again each time.
    if (BlockAtEnd_ && pos >= BlockOffset_) return false;
    if (!Block_) Block_ = std::make_unique_for_overwrite<uint8_t[]>(kBlock);
    BlockOffset_ = pos;
    BlockSize_ = src.ReadAt(pos, Block_.get(), kBlock);
    BlockAtEnd_ = BlockSize_ < kBlock;
    if (pos + n > BlockOffset_ + BlockSize_) return false;
  }
  std::memcpy(out, Block_.get() + (pos - BlockOffset_), n);
  return true;
}

bool TMpegFrameIndex::FrameAt(TMediaSource& src, uint64_t pos, TMpegFrameAt& f) {
  uint8_t b[4];
  TMPEGHeaderFields h;
  if (!ReadBytes(src, pos, b, 4) || !ParseMPEGHeader(b, h) || h.SampleRate() != SampleRate_) return false;
  const int len = h.FrameLength();
  if (len < 4 || pos + uint64_t(len) > End_) return false;
  f.Offset = pos;
  f.Length = static_cast<uint32_t>(len);
  f.Samples = static_cast<uint32_t>(h.SamplesPerFrame());
  return true;
}

bool TMpegFrameIndex::Resync(TMediaSource& src, uint64_t pos, TMpegFrameAt& f) {
  while (pos + 4 <= End_) {
    uint8_t b[10];
    // A tag between two pieces of a joined stream is stepped over whole: a picture in it could
    // hold what looks like two frames in a row.
    if (ReadBytes(src, pos, b, 10))
      if (const uint64_t tag = ID3v2TagLength(b)) {
        pos += tag;
        continue;
      }
    TMpegFrameAt next;
    if (FrameAt(src, pos, f) && (f.End() == End_ || FrameAt(src, f.End(), next))) return true;
    ++pos;
  }
  return false;
}

bool TMpegFrameIndex::Next(TMediaSource& src, const TMpegFrameAt& at, TMpegFrameAt& next) {
  const TMpegFrameAt from = at;  // next may be at itself
  if (!FrameAt(src, from.End(), next) && !Resync(src, from.End(), next)) return false;
  next.Sample = from.Sample + from.Samples;
  return true;
}

bool TMpegFrameIndex::Extend(TMediaSource& src) {
  if (Complete_) return false;
  const uint64_t pos = HaveLast_ ? Last_.End() : First_;
  TMpegFrameAt f;
  if (!FrameAt(src, pos, f)) {
    if (!Resync(src, pos, f)) {
      Complete_ = true;
      return false;
    }
    Unbroken_ = false;
  }
  f.Sample = Samples();
  if (Frames_ % kMarkEvery == 0) Marks_.push_back(f);
  Last_ = f;
  HaveLast_ = true;
  ++Frames_;
  Bytes_ += f.Length;
  return true;
}

void TMpegFrameIndex::WalkAll(TMediaSource& src) {
  while (Extend(src)) {
  }
}

bool TMpegFrameIndex::FindSample(TMediaSource& src, uint64_t sample, TMpegFrameAt& at) {
  while (Samples() <= sample)
    if (!Extend(src)) return false;
  // The last mark at or before the sample, then frame by frame from there.
  auto mark = std::upper_bound(Marks_.begin(), Marks_.end(), sample,
                               [](uint64_t s, const TMpegFrameAt& m) { return s < m.Sample; });
  at = *std::prev(mark);
  while (at.Sample + at.Samples <= sample)
    if (!Next(src, at, at)) return false;
  return true;
}

}  // namespace ml
