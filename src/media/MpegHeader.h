#pragma once
// The 4-byte MPEG audio frame header: its validity rules, its fields and the arithmetic they
// give (bit rate, sample rate, samples and bytes per frame). The tag reader and the decoder both
// read frame headers; this is their one reading of them.
#include <cstdint>

namespace ml {

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

}  // namespace ml
