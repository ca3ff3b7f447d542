#pragma once
// Where every frame of an MPEG audio stream lies, found by walking the frame headers one after the
// other (only headers are read, 64 KiB at a time). It gives the exact length of a stream that
// has no VBR header to tell it, and the frame that holds a given sample, so that a seek lands
// where the position says. The walk goes only as far as it is asked to; a mark every few frames
// lets a later question start near its answer.
#include "media/MpegHeader.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ml {

class TMediaSource;

// One frame of the stream.
struct TMpegFrameAt {
  uint64_t Offset = 0;  // file offset of its header
  uint64_t Sample = 0;  // its first sample, counted from the stream's first audio frame
  uint32_t Length = 0;  // bytes
  uint32_t Samples = 0;  // samples it decodes to (per channel)

  uint64_t End() const { return Offset + Length; }
};

class TMpegFrameIndex {
public:
  // A stream of that sample rate whose first audio frame is at first; frames count only when
  // they end at or before end (the file less its trailing tag).
  void Reset(uint64_t first, int sampleRate, uint64_t end);
  // A growing file: frames up to the new end may follow where the walk stopped.
  void ExtendTo(uint64_t end);

  // Walks to the end of the stream.
  void WalkAll(TMediaSource& src);
  // The frame that holds sample, walking as far as needed; false when the stream ends first.
  bool FindSample(TMediaSource& src, uint64_t sample, TMpegFrameAt& at);
  // The frame after at; false at the end of the stream.
  bool Next(TMediaSource& src, const TMpegFrameAt& at, TMpegFrameAt& next);

  // What the walk has found so far; exact once Complete().
  uint64_t Frames() const { return Frames_; }
  uint64_t Samples() const { return HaveLast_ ? Last_.Sample + Last_.Samples : 0; }
  uint64_t Bytes() const { return Bytes_; }
  bool Complete() const { return Complete_; }
  // Complete, and every frame lay right after the one before, the last ending at the end: no
  // junk anywhere. Random bytes never look like that; a stream of a single frame does.
  bool Unbroken() const { return Complete_ && Unbroken_ && HaveLast_ && Last_.End() == End_; }

private:
  static constexpr uint32_t kMarkEvery = 16;
  static constexpr size_t kBlock = 64 * 1024;

  // Walks one frame further; false at the end of the stream.
  bool Extend(TMediaSource& src);
  // A header of this stream at pos whose frame fits before the end.
  bool FrameAt(TMediaSource& src, uint64_t pos, TMpegFrameAt& f);
  // The next frame of this stream at or after pos that another follows (or that ends exactly at
  // the end), stepping over junk and embedded ID3v2 tags.
  bool Resync(TMediaSource& src, uint64_t pos, TMpegFrameAt& f);
  bool ReadBytes(TMediaSource& src, uint64_t pos, uint8_t* out, size_t n);

  uint64_t First_ = 0, End_ = 0;
  int SampleRate_ = 0;
  std::vector<TMpegFrameAt> Marks_;  // frames 0, kMarkEvery, 2 * kMarkEvery, ...
  TMpegFrameAt Last_;
  bool HaveLast_ = false;
  bool Complete_ = false;
  bool Unbroken_ = true;
  uint64_t Frames_ = 0;
  uint64_t Bytes_ = 0;

  // A window of the file, read whole and reused: allocated once, never cleared (only its first
  // BlockSize_ bytes are ever read).
  std::unique_ptr<uint8_t[]> Block_;
  uint64_t BlockOffset_ = 0;
  size_t BlockSize_ = 0;
  bool BlockAtEnd_ = false;  // the read came back short: the file ends with the block
};

}  // namespace ml
