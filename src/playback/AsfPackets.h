#pragma once
// The ASF container as the WMA decoder reads it: the header objects that say how to play the
// first audio stream, and the payloads of one data packet. Every length and offset is checked
// against the bytes that are really there; a bad packet yields what it held up to the fault.
#include "media/MediaSource.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ml {

struct TAsfAudioStream {
  uint8_t StreamNumber = 0;  // 1..127
  uint16_t FormatTag = 0;    // 0x160 WMA v1, 0x161 v2, 0x162 Pro, 0x163 Lossless
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  std::string CodecData;  // the extra bytes after the format's 18, as many as it says it has
};

struct TAsfHeader {
  uint64_t PlayDuration100ns = 0;  // includes the preroll
  uint64_t PrerollMs = 0;
  uint32_t PacketSize = 0;
  uint32_t MaxBitrate = 0;
  TAsfAudioStream Audio;
  uint64_t FirstPacket = 0;  // offset of the first data packet
  uint64_t PacketCount = 0;  // as the data object says (0: unknown)

  int32_t DurationMs() const;
};

enum class TAsfHeaderResult { NotAsf, Unplayable, Ok };

// Reads the header object and the start of the data object. Unplayable (with why) for an ASF file
// without an audio stream, without data, or with a packet size of 0 or beyond kMaxPacketSize.
TAsfHeaderResult ReadAsfHeader(TMediaSource& src, TAsfHeader& header, std::string& why);

constexpr uint32_t kMaxAsfPacketSize = 1u << 20;

struct TAsfPayload {
  uint8_t StreamNumber = 0;   // without the key-frame bit
  uint32_t ObjectNumber = 0;  // media object number (mod 2^8, 2^16 or 2^32 as stored)
  uint32_t ObjectOffset = 0;  // where this fragment sits in its object
  uint32_t ObjectSize = 0;    // the whole object's bytes
  uint32_t PresentationMs = 0;  // the object's presentation time, preroll included
  std::string_view Data;      // the fragment, or a whole object of a compressed payload
};

// Calls each for every payload of the packet in order; a compressed payload gives each of its
// sub-payloads as a whole object. False when the packet is malformed: the payloads before the
// fault were given, the rest are dropped.
bool ParseAsfPacket(std::string_view packet, const std::function<void(const TAsfPayload&)>& each);

}  // namespace ml
