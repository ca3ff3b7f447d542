#include "base/FileUtil.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace ml {
namespace {

bool WriteAllFd(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void SyncDirectoryOf(const std::string& path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

std::optional<std::string> ReadFileBytes(const std::string& path, uint64_t maxBytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  struct stat st{};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
      ::close(fd);
      return std::nullopt;
    }
    out.reserve(static_cast<size_t>(st.st_size));
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (out.size() > maxBytes) {
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  return out;
}

TAtomicFileWriter::TAtomicFileWriter(std::string path, mode_t mode) : path_(std::move(path)) {
  tmp_ = path_ + ".tmp.XXXXXX";
  fd_ = ::mkstemp(tmp_.data());
  if (fd_ < 0) {
    Fail("cannot create a temporary file for");
    return;
  }
  if (::fchmod(fd_, mode) != 0) Fail("cannot set the mode of");
}

TAtomicFileWriter::~TAtomicFileWriter() { Discard(); }

void TAtomicFileWriter::Fail(const char* what) {
  if (error_.empty()) error_ = std::string(what) + " " + path_ + ": " + std::strerror(errno);
}

void TAtomicFileWriter::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(tmp_.c_str());
  }
}

bool TAtomicFileWriter::Write(std::string_view data) {
  if (fd_ < 0 || !error_.empty()) return false;
  if (!WriteAllFd(fd_, data)) {
    Fail("cannot write");
    return false;
  }
  return true;
}

bool TAtomicFileWriter::Commit(bool keepBackup, std::string* error) {
  auto done = [&](bool ok) {
    if (!ok) Discard();
    if (!ok && error) *error = error_;
    return ok;
  };
  if (fd_ < 0 || !error_.empty()) return done(false);
  if (::fsync(fd_) != 0) {
    Fail("cannot write");
    return done(false);
  }
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) {
    Fail("cannot write");
    ::unlink(tmp_.c_str());
    return done(false);
  }
  if (keepBackup && FileExists(path_)) {
    // A hard link keeps the old file complete as .bak while the rename below replaces path.
    std::string bak = path_ + ".bak";
    ::unlink(bak.c_str());
    if (::link(path_.c_str(), bak.c_str()) != 0) {
      std::error_code ec;
      std::filesystem::copy_file(path_, bak, std::filesystem::copy_options::overwrite_existing, ec);
    }
  }
  if (::rename(tmp_.c_str(), path_.c_str()) != 0) {
    Fail("cannot replace");
    ::unlink(tmp_.c_str());
    return done(false);
  }
  SyncDirectoryOf(path_);
  return done(true);
}

bool WriteFileAtomic(const std::string& path, std::string_view data, mode_t mode, std::string* error,
                     bool keepBackup) {
  TAtomicFileWriter writer(path, mode);
  writer.Write(data);
  return writer.Commit(keepBackup, error);
}

bool EnsureDirectory(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TFileFacts StatFile(const std::string& path) {
  constexpr int64_t FileTimeEpochOffset = 11644473600LL;  // seconds from 1601 to 1970
  struct stat st{};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return {true, static_cast<uint64_t>(st.st_size),
          (static_cast<int64_t>(st.st_mtim.tv_sec) + FileTimeEpochOffset) * 10000000LL + st.st_mtim.tv_nsec / 100};
}

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace ml
