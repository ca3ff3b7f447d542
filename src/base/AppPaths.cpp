#include "base/AppPaths.h"

#include "base/FileUtil.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace ml {

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableDir() {
  std::string exe = ExecutablePath();
  if (exe.empty()) return "./";
  return WithTrailingSlash(std::filesystem::path(exe).parent_path().string());
}

std::string ResolveAppDir(const std::string& dataDirOverride, const std::string& exeDir) {
  std::string dir;
  if (!dataDirOverride.empty()) {
    dir = std::filesystem::absolute(dataDirOverride).lexically_normal().string();
  } else if (!exeDir.empty() && ::access((WithTrailingSlash(exeDir) + "portable").c_str(), F_OK) == 0) {
    dir = exeDir;
  } else {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::string base = xdg && *xdg ? xdg : std::string(home && *home ? home : "/tmp") + "/.local/share";
    dir = base + "/MiniLirra";
  }
  dir = WithTrailingSlash(dir);
  if (!EnsureDirectory(dir)) throw std::runtime_error("cannot create the data folder " + dir);
  return dir;
}

std::string RuntimeDir() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg && ::access(xdg, W_OK) == 0) return WithTrailingSlash(xdg);
  std::string dir = "/tmp/minilirra-" + std::to_string(::getuid());
  ::mkdir(dir.c_str(), 0700);
  struct stat st{};
  // Someone else's folder under /tmp must not become the home of our sockets and locks.
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 077) != 0)
    throw std::runtime_error("unsafe runtime folder " + dir);
  return dir + "/";
}

}  // namespace ml
