#include "playback/uNullOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ml {

bool TNullOutput::DeviceOpen() {
  Running_ = false;
  PlayedBefore_ = std::chrono::microseconds(0);
  return true;
}

uint64_t TNullOutput::DevicePlayed() {
  auto t = PlayedBefore_;
  if (Running_) t += std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - Since_);
  return static_cast<uint64_t>(t.count()) * Format.AvgBytesPerSec / 1000000u;
}

void TNullOutput::DevicePause(bool paused) {
  if (paused && Running_) {
    PlayedBefore_ += std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - Since_);
    Running_ = false;
  } else if (!paused && !Running_) {
    Since_ = Clock::now();
    Running_ = true;
  }
}

void TNullOutput::DeviceFlush() {
  PlayedBefore_ = std::chrono::microseconds(0);
  Since_ = Clock::now();
}

// ---------------------------------------------------------------------------------------------

std::string WavFileHeader(const TWaveFormat& f, uint64_t dataBytes) {
  const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes, 0xFFFFFFFFu - 36));
  std::string h;
  auto le = [&h](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) h += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  h += "RIFF";
  le(36 + data, 4);
  h += "WAVEfmt ";
  le(16, 4), le(1, 2), le(f.Channels, 2), le(f.SamplesPerSec, 4), le(f.AvgBytesPerSec, 4);
  le(f.BlockAlign, 2), le(f.BitsPerSample, 2);
  h += "data";
  le(data, 4);
  return h;
}

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
  const std::string h = WavFileHeader(Format, 0);
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
  const std::string h = WavFileHeader(Format, DataBytes_);
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

// ---------------------------------------------------------------------------------------------

bool TFakeOutput::DeviceOpen() {
  if (FailOpen) return false;
  ++Opens;
  DeviceIsOpen = true;
  Paused = true;
  PlayedBytes_ = 0;
  BytesPerSec_ = Format.AvgBytesPerSec;
  return true;
}

void TFakeOutput::DeviceClose() {
  ++Closes;
  DeviceIsOpen = false;
}

bool TFakeOutput::DeviceWrite(const uint8_t* data, uint32_t length) {
  BytesWritten += length;
  if (Capture) {
    std::lock_guard lock(captureMutex_);
    captured_.append(reinterpret_cast<const char*>(data), length);
  }
  return true;
}

void TFakeOutput::Advance(std::chrono::milliseconds ms) {
  if (!Paused && DeviceIsOpen) PlayedBytes_ += static_cast<uint64_t>(ms.count()) * BytesPerSec_ / 1000u;
  SignalNotify();
}

std::string TFakeOutput::Captured() const {
  std::lock_guard lock(captureMutex_);
  return captured_;
}

}  // namespace ml
