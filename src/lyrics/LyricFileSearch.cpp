#include "lyrics/LyricFileSearch.h"

#include "base/StrUtil.h"
#include "media/uSongName.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace ml {

namespace fs = std::filesystem;

namespace {

// Every ".lrc" removed in one pass, as a replace-all does: what the removal joins up stays.
std::string WithoutLrc(std::string_view text) {
  std::string out;
  const std::string lower = ToLowerAscii(text);
  size_t from = 0;
  for (size_t at; (at = lower.find(".lrc", from)) != std::string::npos; from = at + 4)
    out.append(text.substr(from, at - from));
  out.append(text.substr(from));
  return out;
}

// The name without its last extension; a name whose only dot leads it keeps it all.
std::string_view Stem(std::string_view name) {
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

bool Contains(std::string_view lowerName, const std::string& part) {
  return !part.empty() && lowerName.find(ToLowerAscii(part)) != std::string_view::npos;
}

}  // namespace

TLyricFileQuery MakeLyricFileQuery(std::string_view title, bool partial) {
  TLyricFileQuery q;
  // Trimmed again after the removal: "Song .lrc" looks for "Song", not "Song ".
  q.Title = std::string(Trim(WithoutLrc(Trim(title))));
  SplitAtHyphen(q.Title, q.Left, q.Right);
  q.Partial = partial;
  return q;
}

bool LyricFileMatches(const TLyricFileQuery& q, std::string_view fileName) {
  const std::string name = ToLowerAscii(Stem(fileName));
  if (q.Partial) return Contains(name, q.Left) || Contains(name, q.Right) || Contains(name, q.Title);
  if (!q.Left.empty() && !q.Right.empty()) return EqualsNoCase(name, q.Left + " - " + q.Right);
  return !q.Title.empty() && EqualsNoCase(name, q.Title);
}

TLyricFolderScan::TLyricFolderScan(const std::string& folder, TLyricFileQuery query) : query_(std::move(query)) {
  std::error_code ec;
  it_ = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
  done_ = ec || it_ == fs::recursive_directory_iterator();
}

bool TLyricFolderScan::Step(size_t maxEntries, std::vector<std::string>& found) {
  for (size_t n = 0; !done_ && n < maxEntries; ++n) {
    std::error_code ec;
    if (it_->is_regular_file(ec) && LyricFileMatches(query_, it_->path().filename().string()))
      found.push_back(it_->path().string());
    it_.increment(ec);
    // A folder that fails half way ends only its own walk: the rest of the tree still counts.
    while (ec && it_ != fs::recursive_directory_iterator() && it_.depth() > 0) {
      ec.clear();
      it_.pop(ec);
    }
    if (ec || it_ == fs::recursive_directory_iterator()) done_ = true;
  }
  return !done_;
}

bool RenameLyricFile(const std::string& path, const std::string& newName, std::string& newPath, std::string& error) {
  const std::string name(Trim(newName));
  if (name.empty()) {
    error = "文件名不能为空";
    return false;
  }
  if (name.find_first_of(std::string_view("/\0", 2)) != std::string::npos || name == "." || name == "..") {
    error = "“" + name + "”不能用作文件名";
    return false;
  }
  newPath = (fs::path(path).parent_path() / name).string();
  if (newPath == path) return true;
  // RENAME_NOREPLACE: a file of that name is never replaced, even one that appears meanwhile.
  if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) error = "已经有名为“" + name + "”的文件";
  else error = std::strerror(errno);
  return false;
}

bool DeleteLyricFile(const std::string& path, std::string& error) {
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "这是一个文件夹";
    return false;
  }
  if (std::remove(path.c_str()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace ml
