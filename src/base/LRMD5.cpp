#include "base/LRMD5.h"

#include "base/Dispatcher.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ml {
namespace {

// Between blocks of a long stream: let the main thread breathe and honour the abort flag.
bool YieldAndCheckAbort(const std::atomic<bool>* abort) {
  if (Dispatcher* d = MainDispatcher(); d && d->IsMainThread())
    d->ProcessPending();
  else
    std::this_thread::yield();
  return abort && abort->load(std::memory_order_relaxed);
}

}  // namespace

struct TMD5Context::TState {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ~TState() { EVP_MD_CTX_free(ctx); }
};

TMD5Context::TMD5Context() : state_(std::make_unique<TState>()) {
  if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) != 1)
    throw std::runtime_error("libcrypto offers no MD5");
}

TMD5Context::~TMD5Context() = default;

void TMD5Context::Update(const void* data, size_t len) {
  if (len) EVP_DigestUpdate(state_->ctx, data, len);
}

TMD5Digest TMD5Context::Finish() {
  TMD5Digest out;
  unsigned int n = 0;
  EVP_DigestFinal_ex(state_->ctx, out.v.data(), &n);
  EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr);  // ready for another digest
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
