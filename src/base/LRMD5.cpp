#include "base/LRMD5.h"

#include "base/ByteOrder.h"

#include "base/Dispatcher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ml {
namespace {

constexpr uint32_t K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int R[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                       5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                       4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                       6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

// Between blocks of a long stream: let the main thread breathe and honour the abort flag.
bool YieldAndCheckAbort(const std::atomic<bool>* abort) {
  if (Dispatcher* d = MainDispatcher(); d && d->IsMainThread())
    d->ProcessPending();
  else
    std::this_thread::yield();
  return abort && abort->load(std::memory_order_relaxed);
}

}  // namespace

TMD5Context::TMD5Context() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void TMD5Context::Block(const uint8_t* p) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadLE32(p + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) { f = (b & c) | (~b & d); g = i; }
    else if (i < 32) { f = (d & b) | (~d & c); g = (5 * i + 1) & 15; }
    else if (i < 48) { f = b ^ c ^ d; g = (3 * i + 5) & 15; }
    else { f = c ^ (b | ~d); g = (7 * i) & 15; }
    uint32_t t = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + K[i] + m[g], R[i]);
    a = t;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void TMD5Context::Update(const void* data, size_t len) {
  auto p = static_cast<const uint8_t*>(data);
  length_ += len;
  if (buffered_) {
    size_t take = std::min(len, 64 - buffered_);
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    len -= take;
    if (buffered_ < 64) return;
    Block(buffer_);
    buffered_ = 0;
  }
  for (; len >= 64; p += 64, len -= 64) Block(p);
  std::memcpy(buffer_, p, len);
  buffered_ = len;
}

TMD5Digest TMD5Context::Finish() {
  uint64_t bits = length_ * 8;
  uint8_t pad[72] = {0x80};
  size_t padLen = (buffered_ < 56) ? 56 - buffered_ : 120 - buffered_;
  StoreLE64(pad + padLen, bits);
  Update(pad, padLen + 8);
  TMD5Digest out;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) out.v[4 * i + k] = static_cast<uint8_t>(state_[i] >> (8 * k));
  return out;
}

namespace LRMD5 {

TMD5Digest MD5Bytes(const void* data, size_t len) {
  TMD5Context ctx;
  ctx.Update(data, len);
  return ctx.Finish();
}

TMD5Digest MD5String(std::string_view bytes) { return MD5Bytes(bytes.data(), bytes.size()); }

TMD5Digest MD5File(const std::string& path, bool* ok, const std::atomic<bool>* abort) {
  if (ok) *ok = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  TMD5Context ctx;
  std::vector<uint8_t> buf(256 * 1024);
  bool good = true;
  for (;;) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { good = false; break; }
    if (n == 0) break;
    ctx.Update(buf.data(), static_cast<size_t>(n));
    if (abort && abort->load(std::memory_order_relaxed)) { good = false; break; }
  }
  ::close(fd);
  if (!good) return {};
  if (ok) *ok = true;
  return ctx.Finish();
}

TMD5Digest MD5StreamRange(std::istream& stream, uint64_t offset, uint64_t length,
                          const std::atomic<bool>* abort) {
  stream.clear();
  const std::streampos saved = stream.tellg();
  stream.seekg(static_cast<std::streamoff>(offset));
  TMD5Context ctx;
  char buf[StreamBlockSize];
  bool aborted = false;
  unsigned blocks = 0;
  while (length > 0 && stream) {
    stream.read(buf, static_cast<std::streamsize>(std::min<uint64_t>(length, sizeof buf)));
    auto got = static_cast<size_t>(stream.gcount());
    if (got == 0) break;
    ctx.Update(buf, got);
    length -= got;
    if (++blocks % 5 == 0 && YieldAndCheckAbort(abort)) { aborted = true; break; }
  }
  stream.clear();
  if (saved != std::streampos(-1)) stream.seekg(saved);
  return aborted ? TMD5Digest{} : ctx.Finish();
}

TMD5Digest MD5Stream(std::istream& stream, const std::atomic<bool>* abort) {
  return MD5StreamRange(stream, 0, UINT64_MAX, abort);
}

std::string MD5DigestToStr(const TMD5Digest& d) {
  static const char hex[] = "0123456789abcdef";
  std::string s(32, '0');
  for (size_t i = 0; i < 16; ++i) {
    s[2 * i] = hex[d.v[i] >> 4];
    s[2 * i + 1] = hex[d.v[i] & 15];
  }
  return s;
}

TMD5Digest MD5StrToDigest(std::string_view text) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  TMD5Digest d;
  if (text.size() != 32) return d;
  for (size_t i = 0; i < 16; ++i) {
    int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return TMD5Digest{};
    d.v[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return d;
}

bool MD5DigestEqual(const TMD5Digest& a, const TMD5Digest& b) { return a == b; }

bool MD5DigestIsZero(const TMD5Digest& d) { return d == TMD5Digest{}; }

}  // namespace LRMD5
}  // namespace ml
