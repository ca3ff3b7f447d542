#include "playback/uWavFileOutput.h"

#include "media/RiffWave.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ml {

namespace {

// A header for a stream whose length is unknown until it ends: the sizes say "to the end", as
// readers of piped WAV take them.
constexpr uint64_t kUnknownLength = UINT32_MAX;

}  // namespace

void TWavFileOutput::Fail(const std::string& what, int error) {
  Error_ = what + ": " + std::strerror(error);
  if (Fd_ >= 0 && OwnFd_) ::close(Fd_);
  Fd_ = -1;
  if (!TempPath_.empty()) ::unlink(TempPath_.c_str());
  TempPath_.clear();
}

bool TWavFileOutput::OpenTarget() {
  TempPath_.clear();
  Seekable_ = false;
  if (Path_ == "-") {
    Fd_ = STDOUT_FILENO;
    OwnFd_ = false;
  } else {
    struct stat st {};
    const bool exists = ::stat(Path_.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
      Fail("cannot write " + Path_, EISDIR);
      return false;
    }
    if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
      // A device or a pipe is written as it is: renaming a file over it would replace the device
      // (/dev/null as root) with a regular file. A pipe without a reader is refused at once
      // rather than waited for.
      Fd_ = ::open(Path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (Fd_ < 0) {
        Fail("cannot open " + Path_, errno == ENXIO ? EPIPE : errno);
        return false;
      }
      ::fcntl(Fd_, F_SETFL, ::fcntl(Fd_, F_GETFL) & ~O_NONBLOCK);
      OwnFd_ = true;
    } else if (exists && !S_ISREG(st.st_mode)) {
      Fail("cannot write " + Path_ + " (not a file, a character device or a pipe)", EINVAL);
      return false;
    } else {
      // A new file or a regular one: written beside it under a temporary name and renamed over
      // it when complete, so a reader never sees half a file and a failed run leaves the old
      // file alone. A link is followed, so the file it names is the one replaced.
      FinalPath_ = Path_;
      if (exists)
        if (char* real = ::realpath(Path_.c_str(), nullptr)) {
          FinalPath_ = real;
          std::free(real);
        }
      std::vector<char> name(FinalPath_.begin(), FinalPath_.end());
      const std::string suffix = ".XXXXXX";
      name.insert(name.end(), suffix.begin(), suffix.end());
      name.push_back('\0');
      Fd_ = ::mkstemp(name.data());
      if (Fd_ < 0) {
        Fail("cannot create a file beside " + Path_, errno);
        return false;
      }
      TempPath_ = name.data();
      ::fchmod(Fd_, 0644);
      OwnFd_ = true;
      Seekable_ = true;
      return true;
    }
  }
  // Written directly: the header can be put right at the end only on a regular file that this
  // stream starts (standard output redirected to a file).
  struct stat st {};
  Seekable_ = ::fstat(Fd_, &st) == 0 && S_ISREG(st.st_mode) && ::lseek(Fd_, 0, SEEK_CUR) == 0 &&
              !(::fcntl(Fd_, F_GETFL) & O_APPEND);
  return true;
}

bool TWavFileOutput::WriteAll(const void* data, size_t length) {
  const auto* p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = ::write(Fd_, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

bool TWavFileOutput::DeviceOpen() {
  if (!OpenTarget()) return false;
  DataBytes_ = 0;
  const std::string h = WavFileHeader(Format.Channels, Format.SamplesPerSec, Format.BitsPerSample,
                                      Seekable_ ? 0 : kUnknownLength);
  if (!WriteAll(h.data(), h.size())) {
    Fail("cannot write " + Describe(), errno);
    return false;
  }
  return true;
}

bool TWavFileOutput::DeviceWrite(const uint8_t* data, uint32_t length) {
  if (Fd_ < 0) return false;
  if (!WriteAll(data, length)) {
    Fail("cannot write " + Describe(), errno);
    return false;
  }
  DataBytes_ += length;
  return true;
}

void TWavFileOutput::Finish() {
  if (Fd_ < 0) return;
  if (Seekable_) {
    const std::string h = WavFileHeader(Format.Channels, Format.SamplesPerSec, Format.BitsPerSample, DataBytes_);
    if (::pwrite(Fd_, h.data(), h.size(), 0) != ssize_t(h.size())) return Fail("cannot finish " + Describe(), errno);
  }
  if (!TempPath_.empty() && ::fsync(Fd_) != 0) return Fail("cannot finish " + Describe(), errno);
  if (OwnFd_ && ::close(Fd_) != 0) {
    Fd_ = -1;
    return Fail("cannot finish " + Describe(), errno);
  }
  Fd_ = -1;
  if (TempPath_.empty()) return;
  if (::rename(TempPath_.c_str(), FinalPath_.c_str()) != 0) return Fail("cannot put the file in place as " + Path_, errno);
  TempPath_.clear();
}

void TWavFileOutput::DeviceClose() {
  // Stopped before the end: what was written so far is kept, as a complete file.
  Finish();
}

}  // namespace ml
