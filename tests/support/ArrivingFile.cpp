#include "tests/support/ArrivingFile.h"

#include "base/ByteOrder.h"
#include "media/RiffWave.h"
#include "playback/DecoderRegistry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace mltest {

std::string MakeWav(int seconds, int rate, int channels, int16_t left, int16_t right, bool ramp) {
  const uint32_t frames = uint32_t(seconds) * rate;
  std::string s = ml::WavFileHeader(uint16_t(channels), uint32_t(rate), 16, uint64_t(frames) * channels * 2);
  for (uint32_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const int16_t v = ramp ? int16_t(i % 30000) : (c == 0 ? left : right);
      ml::AppendLE16(s, uint16_t(v));
    }
  }
  return s;
}

std::string DecodeWhole(const std::string& path) {
  auto decoders = ml::CreateDecoders();
  std::string why;
  const int i = ml::OpenWithFirstDecoder(decoders, path, false, why);
  if (i < 0) return {};
  std::string pcm;
  std::vector<uint8_t> buf(8192);
  for (;;) {
    uint32_t n = uint32_t(buf.size());
    const bool more = decoders[size_t(i)]->Read(buf.data(), n);
    pcm.append(reinterpret_cast<const char*>(buf.data()), n);
    if (!more) break;
  }
  return pcm;
}

TArrivingFile::TArrivingFile(std::string tempPath, std::string finalPath, std::string content)
    : tempPath_(std::move(tempPath)), finalPath_(std::move(finalPath)), content_(std::move(content)),
      have_((content_.size() + kBlock - 1) / kBlock, false) {
  fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0 || ::posix_fallocate(fd_, 0, off_t(std::max<size_t>(content_.size(), 1))) != 0)
    throw std::runtime_error("cannot make " + tempPath_);
}

TArrivingFile::~TArrivingFile() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t TArrivingFile::ArrivedFrom(uint64_t offset) const {
  std::lock_guard lock(mutex_);
  if (offset >= content_.size()) return 0;
  size_t b = size_t(offset / kBlock);
  while (b < have_.size() && have_[b]) ++b;
  return std::min<uint64_t>(b * kBlock, content_.size()) - offset;
}

void TArrivingFile::Arrive(uint64_t offset, uint64_t length) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0 || length == 0 || offset >= content_.size()) return;
  const size_t last = size_t(std::min<uint64_t>(offset + length - 1, content_.size() - 1) / kBlock);
  for (size_t b = size_t(offset / kBlock); b <= last; ++b) {
    if (have_[b]) continue;
    const size_t at = b * kBlock, n = std::min<size_t>(kBlock, content_.size() - at);
    if (::pwrite(fd_, content_.data() + at, n, off_t(at)) != ssize_t(n)) throw std::runtime_error("write failed");
    have_[b] = true;
    ++count_;
  }
  if (count_ == have_.size()) {
    // As a download ends: the data reach the disk, the file moves into place, ours is closed.
    ::fdatasync(fd_);
    if (!finalPath_.empty() && std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0)
      throw std::runtime_error("cannot move " + tempPath_);
    ::close(fd_);
    fd_ = -1;
  }
}

bool TArrivingFile::NextMissing(uint64_t offset, uint64_t& block) const {
  std::lock_guard lock(mutex_);
  const size_t n = have_.size();
  for (size_t i = 0; i < n; ++i) {
    const size_t b = (size_t(offset / kBlock) + i) % n;
    if (!have_[b]) {
      block = b;
      return true;
    }
  }
  return false;
}

bool TArrivingFile::Complete() const {
  std::lock_guard lock(mutex_);
  return count_ == have_.size();
}

std::string TArrivingFile::Path() const { return Complete() && !finalPath_.empty() ? finalPath_ : tempPath_; }

}  // namespace mltest
