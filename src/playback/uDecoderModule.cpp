#include "playback/uDecoderModule.h"

#include <sys/stat.h>

namespace ml {

bool TDecoderFile::Open(const std::string& name) {
  Close();
  f_ = std::fopen(name.c_str(), "rb");
  if (!f_) return false;
  struct stat st {};
  if (fstat(fileno(f_), &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return false;
  }
  return true;
}

void TDecoderFile::Close() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
}

size_t TDecoderFile::Read(void* buffer, size_t count) {
  if (!f_ || count == 0) return 0;
  size_t n = std::fread(buffer, 1, count, f_);
  if (n < count) std::clearerr(f_);  // a growing file may have more next time
  return n;
}

bool TDecoderFile::SeekTo(uint64_t offset) {
  return f_ && fseeko(f_, static_cast<off_t>(offset), SEEK_SET) == 0;
}

uint64_t TDecoderFile::Position() const {
  if (!f_) return 0;
  off_t p = ftello(f_);
  return p < 0 ? 0 : static_cast<uint64_t>(p);
}

uint64_t TDecoderFile::Size() const {
  struct stat st {};
  if (!f_ || fstat(fileno(f_), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

}  // namespace ml
