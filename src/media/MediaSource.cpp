#include "media/MediaSource.h"

#include "base/ByteOrder.h"

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

TFileSource::TFileSource(const std::string& path, TGrowth growth, std::shared_ptr<const IArrivedBytes> arrived)
    : path_(path), growth_(growth), arrived_(growth == TGrowth::Growing ? std::move(arrived) : nullptr) {
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

uint64_t TFileSource::Size() const {
  if (growth_ == TGrowth::Fixed || fd_ < 0) return size_;
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : size_;
}

uint64_t TFileSource::ReadyFrom(uint64_t offset) const {
  const uint64_t size = Size();
  if (offset >= size) return 0;
  return arrived_ ? std::min(size - offset, arrived_->ArrivedFrom(offset)) : size - offset;
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
    block.bytes.resize(ReadDirect(blockOffset, block.bytes.data(), blockSize, size_));
    block.loaded = true;
  }
  const uint64_t from = offset - block.offset;
  got = from >= block.bytes.size() ? 0 : std::min<size_t>(n, block.bytes.size() - static_cast<size_t>(from));
  std::memcpy(buf, block.bytes.data() + from, got);
  return true;
}

size_t TFileSource::ReadAt(uint64_t offset, void* buf, size_t n) {
  if (fd_ < 0) throw EMediaRead("file not open");
  if (growth_ == TGrowth::Growing) {
    // Never past what has arrived: the rest of a preallocated file is zeros, not the song.
    const uint64_t ready = ReadyFrom(offset);
    return ReadDirect(offset, buf, static_cast<size_t>(std::min<uint64_t>(n, ready)), offset + ready);
  }
  if (offset >= size_) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
  size_t got = 0;
  const size_t headSize = static_cast<size_t>(std::min<uint64_t>(size_, kHeadBlock));
  if (FromBlock(head_, 0, headSize, offset, buf, n, got)) return got;
  const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size_, kTailBlock));
  if (FromBlock(tail_, size_ - tailSize, tailSize, offset, buf, n, got)) return got;
  return ReadDirect(offset, buf, n, size_);
}

size_t TFileSource::ReadDirect(uint64_t offset, void* buf, size_t n, uint64_t size) {
  size_t done = 0;
  auto* out = static_cast<char*>(buf);
  while (done < n && offset + done < size) {
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

TSourceSlice::TSourceSlice(TMediaSource& base, uint64_t offset, uint64_t size)
    : base_(base), offset_(offset), size_(offset < base.Size() ? std::min(size, base.Size() - offset) : 0) {}

size_t TSourceSlice::ReadAt(uint64_t offset, void* buf, size_t n) {
  if (offset >= size_) return 0;
  return base_.ReadAt(offset_ + offset, buf, static_cast<size_t>(std::min<uint64_t>(n, size_ - offset)));
}

size_t TSourceCursor::Read(void* buffer, size_t count) {
  if (!source_ || count == 0) return 0;
  size_t n = 0;
  try {
    n = source_->ReadAt(position_, buffer, count);
  } catch (const EMediaRead&) {
    return 0;
  }
  position_ += n;
  return n;
}

bool TSourceCursor::Starving(uint64_t need) const {
  if (!source_) return false;
  const uint64_t size = source_->Size();
  if (position_ >= size) return false;
  return source_->ReadyFrom(position_) < std::min(need, size - position_);
}

bool TSourceCursor::SeekTo(uint64_t offset) {
  if (!source_) return false;
  position_ = offset;
  return true;
}

namespace {
bool Have(std::string_view s, size_t pos, size_t count) { return pos <= s.size() && s.size() - pos >= count; }
}  // namespace

uint16_t GetLE16(std::string_view s, size_t pos) { return Have(s, pos, 2) ? LoadLE16(s.data() + pos) : 0; }
uint32_t GetLE32(std::string_view s, size_t pos) { return Have(s, pos, 4) ? LoadLE32(s.data() + pos) : 0; }
uint64_t GetLE64(std::string_view s, size_t pos) { return Have(s, pos, 8) ? LoadLE64(s.data() + pos) : 0; }
uint32_t GetBE24(std::string_view s, size_t pos) { return Have(s, pos, 3) ? LoadBE24(s.data() + pos) : 0; }
uint32_t GetBE32(std::string_view s, size_t pos) { return Have(s, pos, 4) ? LoadBE32(s.data() + pos) : 0; }

}  // namespace ml
