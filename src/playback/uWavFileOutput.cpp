#include "playback/uWavFileOutput.h"

#include "media/RiffWave.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ml {

void TWavFileOutput::Fail(const std::string& what) {
  Error_ = what + ": " + std::strerror(errno);
  if (File_) std::fclose(File_);
  File_ = nullptr;
  if (!TempPath_.empty()) ::unlink(TempPath_.c_str());
  TempPath_.clear();
}

bool TWavFileOutput::DeviceOpen() {
  Error_.clear();
  // Written beside the target under a temporary name and renamed over it when complete, so a
  // reader never sees half a file and a failed run leaves the old file alone.
  TempPath_ = Path_ + ".XXXXXX";
  std::vector<char> name(TempPath_.begin(), TempPath_.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    TempPath_.clear();
    Fail("cannot create " + Path_);
    return false;
  }
  TempPath_ = name.data();
  ::fchmod(fd, 0644);
  File_ = ::fdopen(fd, "wb");
  if (!File_) {
    ::close(fd);
    Fail("cannot open " + TempPath_);
    return false;
  }
  DataBytes_ = 0;
  const std::string h = WavFileHeader(Format.Channels, Format.SamplesPerSec, Format.BitsPerSample, 0);
  if (std::fwrite(h.data(), 1, h.size(), File_) != h.size()) {
    Fail("cannot write " + TempPath_);
    return false;
  }
  return true;
}

bool TWavFileOutput::DeviceWrite(const uint8_t* data, uint32_t length) {
  if (!File_) return false;
  if (std::fwrite(data, 1, length, File_) != length) {
    Fail("cannot write " + TempPath_);
    return false;
  }
  DataBytes_ += length;
  return true;
}

void TWavFileOutput::DeviceClose() {
  if (!File_) return;
  const std::string h = WavFileHeader(Format.Channels, Format.SamplesPerSec, Format.BitsPerSample, DataBytes_);
  if (std::fseek(File_, 0, SEEK_SET) != 0 || std::fwrite(h.data(), 1, h.size(), File_) != h.size() ||
      std::fflush(File_) != 0 || ::fsync(fileno(File_)) != 0) {
    Fail("cannot finish " + TempPath_);
    return;
  }
  std::fclose(File_);
  File_ = nullptr;
  if (::rename(TempPath_.c_str(), Path_.c_str()) != 0) {
    Fail("cannot rename to " + Path_);
    return;
  }
  TempPath_.clear();
}

}  // namespace ml
