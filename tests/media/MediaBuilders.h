#pragma once
// Byte builders for hand-made media files: the malformed cases and the structures no Debian
// tool writes (ID3v2.2, unsynchronisation, VBRI headers).
#include <cstdint>
#include <string>

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

}  // namespace mltest
