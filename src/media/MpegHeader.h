#pragma once
// The 4-byte MPEG audio frame header: its validity rules, its fields and the arithmetic they
// give (bit rate, sample rate, samples and bytes per frame). The tag reader and the decoder both
// read frame headers; this is their one reading of them.
#include <array>
#include <cstddef>
#include <cstdint>

namespace ml {

class TMediaSource;

// Kbps for the raw version bits (3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5), layer bits (3 Layer I,
// 2 Layer II, 1 Layer III) and bit rate index; 0 for "free" and every invalid combination.
int MpegBitrateKbps(int versionBits, int layerBits, int index);

// Hz for the raw version bits and sample rate index; 0 for the reserved values.
int MpegSampleRate(int versionBits, int index);

// One frame header decoded from its raw bits. Version and Layer keep the raw bit values:
// version 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5; layer 3 = Layer I, 2 = II, 1 = III.
struct TMPEGHeaderFields {
  uint8_t Bytes[4] = {};
  int Version = 0;
  int Layer = 0;
  int Protection = 0;  // 1 = a CRC follows the header
  int BitrateIndex = 0;
  int SampleRateIndex = 0;
  int Padding = 0;
  int Private = 0;
  int ChannelMode = 0;  // raw: 3 = single channel (libmad's own MAD_MODE_SINGLE_CHANNEL is 0)
  int ModeExtension = 0;
  int Copyright = 0;
  int Original = 0;
  int Emphasis = 0;

  bool IsMPEG1() const { return Version == 3; }
  int LayerNumber() const { return 4 - Layer; }  // 1, 2 or 3
  bool IsMono() const { return ChannelMode == 3; }
  int BitrateKbps() const { return MpegBitrateKbps(Version, Layer, BitrateIndex); }
  int SampleRate() const { return MpegSampleRate(Version, SampleRateIndex); }
  int SamplesPerFrame() const;
  int FrameLength() const;  // bytes, padding included; 0 when the rates do not give one
};

// Checks the header rules (sync, no reserved version, layer, bit rate index, sample rate or
// emphasis) on the 4 bytes at p and decodes the fields.
bool ParseMPEGHeader(const uint8_t* p, TMPEGHeaderFields& out);

// The VBR header an encoder puts in a stream's first frame: "Xing" (VBR) or "Info" (CBR), as LAME
// writes them, in place of the frame's audio; or Fraunhofer's "VBRI", 32 bytes after the header.
struct TMpegVbrHeader {
  bool Found = false;
  char ID[4] = {0, 0, 0, 0};
  uint32_t Flags = 0;  // Xing/Info: the fields present (1 frames, 2 bytes, 4 table, 8 quality)
  uint32_t Frames = 0;  // audio frames, the header's own frame not counted
  uint32_t Bytes = 0;   // bytes of the stream, the header's frame included
  std::array<uint8_t, 100> Table{};
  uint32_t Quality = 0;

  bool IsXingOrInfo() const { return Found && ID[0] != 'V'; }
  bool IsVbri() const { return Found && ID[0] == 'V'; }
  bool IsXing() const { return Found && ID[0] == 'X'; }
};

// Reads the VBR header of the frame at frame (avail bytes of it are there, h its header). The
// Xing/Info fields follow one another as its flags announce them, each only when wholly there.
void ReadMpegVbrHeader(const uint8_t* frame, size_t avail, const TMPEGHeaderFields& h, TMpegVbrHeader& out);

// The byte length of an ID3v2 tag at the start of these 10 bytes (header, footer included), as a
// stream reader steps over it: 0 unless the size is a valid synchsafe number.
uint64_t ID3v2TagLength(const uint8_t* head10);

// Where the audio of a file ends: its size, less a trailing ID3v1 block that starts at or after
// audioStart.
uint64_t MpegAudioEnd(TMediaSource& src, uint64_t audioStart);

// Milliseconds of so many samples, rounded; what both the tag reader and the decoder report.
int32_t MpegDurationMs(uint64_t samples, int sampleRate);

// The average bit rate (kbit/s, rounded) of bytes that decode to samples.
int32_t MpegAverageKbps(uint64_t bytes, uint64_t samples, int sampleRate);

}  // namespace ml
