#pragma once
// The RIFF/WAVE layout, read and written in one place: the walk over the chunks after the
// 12-byte "RIFF....WAVE" header, the "fmt " chunk's fields, and the 44-byte header of a plain PCM
// file. The tag reader and the decoder apply their own rules to what the walk finds.
#include "media/MediaSource.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ml {

struct TRiffChunk {
  char Id[4] = {};
  uint32_t Size = 0;       // as the chunk header states it
  uint64_t BodyOffset = 0;  // file offset of the chunk's first byte after its header

  bool Is(const char* id) const;
};

// True when the source starts with "RIFF" and has "WAVE" at offset 8.
bool IsRiffWave(TMediaSource& src);

// Calls visit for each chunk from offset 12 on, in file order, while a whole chunk header is
// there, at most maxChunks times, until visit returns false. Chunks are padded to an even
// length; a size that runs past the end simply ends the walk at the next header read.
void WalkRiffChunks(TMediaSource& src, int maxChunks, const std::function<bool(const TRiffChunk&)>& visit);

// The first 16 bytes of a "fmt " chunk body.
struct TWaveFmt {
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint32_t ByteRate = 0;  // average bytes per second as the header states it
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
};

// Reads the format fields of a "fmt " chunk; false when its 16 bytes are not all there (the
// fields that were there are filled, the rest are 0).
bool ReadWaveFmt(TMediaSource& src, const TRiffChunk& chunk, TWaveFmt& fmt);

// The 44-byte header of a PCM WAV file holding dataBytes of audio (sizes capped at 4 GiB).
std::string WavFileHeader(uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample, uint64_t dataBytes);

}  // namespace ml
