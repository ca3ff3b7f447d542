#pragma once
// Fixed-width integers in a byte buffer, in the two byte orders the program meets: little-endian
// (the wire, RIFF, ASF, the mailbox, the library file) and big-endian (MPEG and ID3 headers,
// SOCKS5 ports). Callers check that the bytes are there before they load or store.
#include <cstdint>
#include <string>

namespace ml {

namespace byteorder_detail {
inline const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }
}  // namespace byteorder_detail

inline uint16_t LoadLE16(const void* p) {
  const uint8_t* b = byteorder_detail::Bytes(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t LoadLE32(const void* p) {
  const uint8_t* b = byteorder_detail::Bytes(p);
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

inline uint64_t LoadLE64(const void* p) {
  const uint8_t* b = byteorder_detail::Bytes(p);
  return uint64_t(LoadLE32(b)) | (uint64_t(LoadLE32(b + 4)) << 32);
}

inline uint16_t LoadBE16(const void* p) {
  const uint8_t* b = byteorder_detail::Bytes(p);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

inline uint32_t LoadBE24(const void* p) {
  const uint8_t* b = byteorder_detail::Bytes(p);
  return (uint32_t(b[0]) << 16) | (uint32_t(b[1]) << 8) | b[2];
}

inline uint32_t LoadBE32(const void* p) {
  const uint8_t* b = byteorder_detail::Bytes(p);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

inline void StoreLE16(void* p, uint16_t v) {
  auto* b = static_cast<uint8_t*>(p);
  b[0] = uint8_t(v);
  b[1] = uint8_t(v >> 8);
}

inline void StoreLE32(void* p, uint32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (8 * i));
}

inline void StoreLE64(void* p, uint64_t v) {
  auto* b = static_cast<uint8_t*>(p);
  StoreLE32(b, uint32_t(v));
  StoreLE32(b + 4, uint32_t(v >> 32));
}

inline void AppendLE16(std::string& out, uint16_t v) {
  char b[2];
  StoreLE16(b, v);
  out.append(b, 2);
}

inline void AppendLE32(std::string& out, uint32_t v) {
  char b[4];
  StoreLE32(b, v);
  out.append(b, 4);
}

}  // namespace ml
