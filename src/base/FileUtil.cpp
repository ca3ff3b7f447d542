#include "FileUtil.h"

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

bool WriteFileAtomic(const std::string& path, std::string_view data, mode_t mode, std::string* error,
                     bool keepBackup) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + " " + path + ": " + std::strerror(errno);
    return false;
  };
  std::string tmp = path + ".tmp.XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return fail("cannot create a temporary file for");
  bool ok = ::fchmod(fd, mode) == 0 && WriteAllFd(fd, data) && ::fsync(fd) == 0;
  int savedErrno = errno;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(tmp.c_str());
    errno = savedErrno;
    return fail("cannot write");
  }
  if (keepBackup && FileExists(path)) {
    // A hard link keeps the old file complete as .bak while the rename below replaces path.
    std::string bak = path + ".bak";
    ::unlink(bak.c_str());
    if (::link(path.c_str(), bak.c_str()) != 0) {
      std::error_code ec;
      std::filesystem::copy_file(path, bak, std::filesystem::copy_options::overwrite_existing, ec);
    }
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    savedErrno = errno;
    ::unlink(tmp.c_str());
    errno = savedErrno;
    return fail("cannot replace");
  }
  SyncDirectoryOf(path);
  return true;
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

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace ml
