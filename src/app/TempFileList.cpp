#include "app/TempFileList.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "base/StrUtil.h"

namespace ml {

namespace {

std::string Resolved(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool HasDotDotComponent(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

TTempFileList::TTempFileList(std::string listPath, std::vector<std::string> ownFolders, TRemoveFile remove)
    : listPath_(std::move(listPath)), ownFolders_(std::move(ownFolders)), remove_(std::move(remove)) {
  if (!remove_) remove_ = [](const std::string& path) { return unlink(path.c_str()) == 0; };
}

bool TTempFileList::Load() {
  paths_.clear();
  const auto bytes = ReadFileBytes(listPath_, MaxListBytes);
  if (!bytes) return false;
  for (std::string_view line : SplitLines(*bytes)) {
    if (line.empty() || line.size() > MaxPathBytes || line.find('\0') != std::string_view::npos) continue;
    paths_.emplace_back(line);
  }
  return true;
}

bool TTempFileList::Save() const {
  std::string text;
  for (const std::string& p : paths_) text += p + "\n";
  std::string error;
  if (WriteFileAtomic(listPath_, text, 0644, &error)) return true;
  DebugTrace("TempFileList: %s", error.c_str());
  return false;
}

void TTempFileList::Add(const std::string& path) {
  if (path.empty() || path.size() > MaxPathBytes || path.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return;
  paths_.push_back(path);
  Save();
}

bool TTempFileList::IsInsideOwnFolder(const std::string& path, const std::vector<std::string>& folders) {
  if (path.empty() || path[0] != '/' || path.back() == '/' || HasDotDotComponent(path)) return false;
  const size_t slash = path.rfind('/');
  const std::string parent = Resolved(slash == 0 ? "/" : path.substr(0, slash));
  if (parent.empty()) return false;
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const std::string own = Resolved(folder);
    if (!own.empty() && own == parent) return true;
  }
  return false;
}

size_t TTempFileList::Sweep() {
  size_t removed = 0;
  for (size_t i = paths_.size(); i-- > 0;) {
    const std::string& path = paths_[i];
    bool drop;
    struct stat st {};
    if (!IsInsideOwnFolder(path, ownFolders_)) {
      // Its folder is not ours, or no longer exists (then neither does the file).
      drop = true;
    } else if (lstat(path.c_str(), &st) != 0) {
      drop = errno == ENOENT || errno == ENOTDIR;
    } else if (S_ISDIR(st.st_mode)) {
      drop = true;  // a folder is no temporary file of ours
    } else {
      // A symbolic link is removed itself, never what it points to.
      drop = remove_(path) || errno == ENOENT;
    }
    if (drop) {
      paths_.erase(paths_.begin() + long(i));
      ++removed;
    }
  }
  if (removed) Save();
  return removed;
}

}  // namespace ml
