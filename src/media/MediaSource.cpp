#include "media/MediaSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ml {

std::string TMediaSource::Read(uint64_t offset, size_t n) {
  const uint64_t size = Size();
  if (offset >= size) return {};
  n = static_cast<size_t>(std::min<uint64_t>(n, size - offset));
  std::string out(n, '\0');
  out.resize(ReadAt(offset, out.data(), n));
  return out;
}

TFileSource::TFileSource(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

TFileSource::~TFileSource() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {
constexpr size_t kHeadBlock = 32 * 1024;
constexpr size_t kTailBlock = 8 * 1024;
}  // namespace

bool TFileSource::FromBlock(Block& block, uint64_t blockOffset, size_t blockSize, uint64_t offset, void* buf,
                            size_t n, size_t& got) {
  if (offset < blockOffset || offset + n > blockOffset + blockSize) return false;
  if (!block.loaded) {
    block.offset = blockOffset;
    block.bytes.resize(blockSize);
    block.bytes.resize(ReadDirect(blockOffset, block.bytes.data(), blockSize));
    block.loaded = true;
  }
  const uint64_t from = offset - block.offset;
  got = from >= block.bytes.size() ? 0 : std::min<size_t>(n, block.bytes.size() - static_cast<size_t>(from));
  std::memcpy(buf, block.bytes.data() + from, got);
  return true;
}

size_t TFileSource::ReadAt(uint64_t offset, void* buf, size_t n) {
  if (fd_ < 0) throw EMediaRead("file not open");
  if (offset >= size_) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
  size_t got = 0;
  const size_t headSize = static_cast<size_t>(std::min<uint64_t>(size_, kHeadBlock));
  if (FromBlock(head_, 0, headSize, offset, buf, n, got)) return got;
  const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size_, kTailBlock));
  if (FromBlock(tail_, size_ - tailSize, tailSize, offset, buf, n, got)) return got;
  return ReadDirect(offset, buf, n);
}

size_t TFileSource::ReadDirect(uint64_t offset, void* buf, size_t n) {
  size_t done = 0;
  auto* out = static_cast<char*>(buf);
  while (done < n && offset + done < size_) {
    ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EMediaRead(std::string("read failed: ") + std::strerror(errno));
    }
    if (got == 0) break;  // the file shrank since it was opened
    done += static_cast<size_t>(got);
  }
  return done;
}

size_t TMemorySource::ReadAt(uint64_t offset, void* buf, size_t n) {
  if (offset >= data_.size()) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, data_.size() - offset));
  std::memcpy(buf, data_.data() + offset, n);
  return n;
}

namespace {
uint64_t Bytes(std::string_view s, size_t pos, size_t count, bool bigEndian) {
  if (pos > s.size() || s.size() - pos < count) return 0;
  uint64_t v = 0;
  for (size_t i = 0; i < count; ++i) {
    uint64_t b = static_cast<uint8_t>(s[pos + i]);
    if (bigEndian)
      v = (v << 8) | b;
    else
      v |= b << (8 * i);
  }
  return v;
}
}  // namespace

uint16_t GetLE16(std::string_view s, size_t pos) { return static_cast<uint16_t>(Bytes(s, pos, 2, false)); }
uint32_t GetLE32(std::string_view s, size_t pos) { return static_cast<uint32_t>(Bytes(s, pos, 4, false)); }
uint64_t GetLE64(std::string_view s, size_t pos) { return Bytes(s, pos, 8, false); }
uint32_t GetBE24(std::string_view s, size_t pos) { return static_cast<uint32_t>(Bytes(s, pos, 3, true)); }
uint32_t GetBE32(std::string_view s, size_t pos) { return static_cast<uint32_t>(Bytes(s, pos, 4, true)); }

}  // namespace ml
