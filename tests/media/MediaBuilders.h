#pragma once
// Byte builders for hand-made media files: the malformed cases and the structures no Debian
// tool writes (ID3v2.2, unsynchronisation, VBRI headers, ASF objects in any order).
#include <cstdint>
#include <string>
#include <vector>

namespace mltest {

inline std::string BE32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
inline std::string LE16(uint32_t v) { return {char(v), char(v >> 8)}; }
inline std::string LE32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
inline std::string LE64(uint64_t v) { return LE32(uint32_t(v)) + LE32(uint32_t(v >> 32)); }
inline std::string Synchsafe(uint32_t v) {
  return {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
}

// One ID3v2.3/2.4 frame (version 4 sizes synchsafe).
inline std::string Frame(int version, const std::string& id, const std::string& body, uint8_t flags2 = 0) {
  if (version == 2) {
    uint32_t n = uint32_t(body.size());
    return id + std::string{char(n >> 16), char(n >> 8), char(n)} + body;
  }
  std::string size = version == 4 ? Synchsafe(uint32_t(body.size())) : BE32(uint32_t(body.size()));
  return id + size + std::string{0, char(flags2)} + body;
}

// A whole tag around frames; padding zeros follow the frames.
inline std::string Tag(int version, const std::string& frames, uint8_t flags = 0, size_t padding = 0) {
  std::string body = frames + std::string(padding, '\0');
  return std::string("ID3") + char(version) + '\0' + char(flags) + Synchsafe(uint32_t(body.size())) + body;
}

// An MPEG-1 Layer III stereo stream of 128 kbps at 44.1 kHz: count frames of 417 bytes.
inline std::string MpegFrames(int count, const std::string& firstFrameExtra = {}) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    std::string f("\xFF\xFB\x90\x00", 4);
    if (i == 0) f += firstFrameExtra;
    f.resize(417, '\x55');
    out += f;
  }
  return out;
}

// A Xing header placed where an MPEG-1 stereo frame carries it (32 bytes after the header).
inline std::string XingExtra(uint32_t frames, uint32_t bytes) {
  return std::string(32, '\0') + "Xing" + BE32(0x0F) + BE32(frames) + BE32(bytes) + std::string(100, '\0') +
         BE32(57);
}

// A RIFF chunk, padded to an even length.
inline std::string RiffChunk(const std::string& id, const std::string& body) {
  return id + LE32(uint32_t(body.size())) + body + std::string(body.size() % 2, '\0');
}

// A RIFF/WAVE file of 8 kHz 16-bit mono around the given chunks ("fmt " comes first).
inline std::string Wav(const std::string& chunks) {
  std::string fmt = RiffChunk("fmt ", LE16(1) + LE16(1) + LE32(8000) + LE32(16000) + LE16(2) + LE16(16));
  return "RIFF" + LE32(uint32_t(4 + fmt.size() + chunks.size())) + "WAVE" + fmt + chunks;
}

// ASF header objects: GUIDs as stored, an object as GUID + 64-bit size + body, and the header
// object that holds them.
namespace asf {
inline const std::string kHeader("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
inline const std::string kFileProperties("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
inline const std::string kStreamProperties("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
inline const std::string kAudioMedia("\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
inline const std::string kContentDescription("\x33\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
inline const std::string kExtendedContent("\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50", 16);

inline std::string Object(const std::string& guid, const std::string& body) {
  return guid + LE64(24 + body.size()) + body;
}
inline std::string Header(const std::vector<std::string>& objects) {
  std::string all;
  for (const auto& o : objects) all += o;
  return kHeader + LE64(30 + all.size()) + LE32(uint32_t(objects.size())) + "\x01\x02" + all;
}
// File properties of a 3 s file at 64 kbps, without preroll.
inline std::string FileProperties() {
  return Object(kFileProperties, std::string(40, '\0') + LE64(30000000) + LE64(0) + LE64(0) + LE32(2) + LE32(0) +
                                     LE32(0) + LE32(64000));
}
// An audio stream of 44.1 kHz stereo at 8,000 bytes per second.
inline std::string StreamProperties() {
  return Object(kStreamProperties, kAudioMedia + std::string(16, '\0') + LE64(0) + LE32(18) + LE32(0) + LE16(1) +
                                       LE32(0) + LE16(0x161) + LE16(2) + LE32(44100) + LE32(8000) + LE16(0) +
                                       LE16(16) + LE16(0));
}
}  // namespace asf

}  // namespace mltest
