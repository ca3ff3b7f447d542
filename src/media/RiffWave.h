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

// How the samples are coded: the format tag, with the extensible format's sub-format resolved.
enum class TWaveCoding { Pcm, Float, ALaw, MuLaw, Other };

// The fields of a "fmt " chunk body: its first 16 bytes, and the sub-format of the extensible
// format (tag 0xFFFE), which carries the real coding in the first two bytes of a GUID.
struct TWaveFmt {
  static constexpr uint16_t kExtensible = 0xFFFE;

  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint32_t ByteRate = 0;  // average bytes per second as the header states it
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t SubFormat = 0;  // extensible only: the sub-format GUID's tag; 0 when absent or unknown

  // The tag that says how samples are coded (the sub-format for the extensible format).
  uint16_t CodingTag() const { return FormatTag == kExtensible ? SubFormat : FormatTag; }
  TWaveCoding Coding() const;
  // Bytes of one sample frame as stored, for the codings of whole samples (PCM, float, A-law,
  // mu-law); 0 for the others.
  uint32_t FrameBytes() const;
  // The stream's bytes per second: rate x frame bytes for whole-sample codings, the header's own
  // figure for the others (a compressed format's block size says nothing about time).
  uint64_t BytesPerSecond() const;
  // The bit rate a WAV file is shown with (kbit/s, rounded), the same for the tag reader and the
  // decoder.
  int32_t BitrateKbps() const;
};

// A name for a format tag in messages: "IMA ADPCM (0x0011)".
std::string WaveCodingName(uint16_t tag);

// Reads the format fields of a "fmt " chunk; false when its 16 bytes are not all there (the
// fields that were there are filled, the rest are 0).
bool ReadWaveFmt(TMediaSource& src, const TRiffChunk& chunk, TWaveFmt& fmt);

// The 44-byte header of a PCM WAV file holding dataBytes of audio (sizes capped at 4 GiB).
std::string WavFileHeader(uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample, uint64_t dataBytes);

}  // namespace ml
