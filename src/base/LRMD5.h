#pragma once
// MD5 digests (RFC 1321). A song is known across the system by the digest of its file; the
// all-zero digest means "unknown".
#include <array>
#include <atomic>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

namespace ml {

struct TMD5Digest {
  std::array<uint8_t, 16> v{};
  bool operator==(const TMD5Digest&) const = default;
};

// Incremental digest, for callers that feed data as it arrives. The arithmetic is OpenSSL's
// libcrypto (assembly on the common machines): the library hashes every song it adds.
class TMD5Context {
public:
  TMD5Context();
  ~TMD5Context();
  TMD5Context(const TMD5Context&) = delete;
  TMD5Context& operator=(const TMD5Context&) = delete;
  void Update(const void* data, size_t len);
  TMD5Digest Finish();

private:
  struct TState;
  std::unique_ptr<TState> state_;
};

namespace LRMD5 {

constexpr size_t StreamBlockSize = 4096;

TMD5Digest MD5Bytes(const void* data, size_t len);
TMD5Digest MD5String(std::string_view bytes);

// Digest of a whole file. Returns the all-zero digest when the file cannot be read; ok tells the
// caller apart an unreadable file from data whose digest happens to be zero.
TMD5Digest MD5File(const std::string& path, bool* ok = nullptr, const std::atomic<bool>* abort = nullptr);

// Digest of a whole stream, or of length bytes from offset, read in 4096-byte blocks; the stream
// position is restored afterwards. After every fifth block the work yields (pending main-thread
// work runs when called on the dispatcher's thread) and a set abort flag stops it with the
// all-zero digest. A range past the end digests what is there.
TMD5Digest MD5Stream(std::istream& stream, const std::atomic<bool>* abort = nullptr);
TMD5Digest MD5StreamRange(std::istream& stream, uint64_t offset, uint64_t length,
                          const std::atomic<bool>* abort = nullptr);

// 32 lower-case hex digits.
std::string MD5DigestToStr(const TMD5Digest& d);
// Exactly 32 hex digits in either case; anything else gives the all-zero digest.
TMD5Digest MD5StrToDigest(std::string_view text);
bool MD5DigestEqual(const TMD5Digest& a, const TMD5Digest& b);
bool MD5DigestIsZero(const TMD5Digest& d);

}  // namespace LRMD5
}  // namespace ml
