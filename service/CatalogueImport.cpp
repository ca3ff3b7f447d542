#include "service/CatalogueImport.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <utility>

#include "base/LRMD5.h"
#include "media/uTagInfo.h"
#include "service/Catalogue.h"

namespace mlsvc {

namespace fs = std::filesystem;

namespace {

constexpr size_t kBatch = 200;
constexpr uintmax_t kMaxLyricsBytes = 1 << 20;

// The lyrics file beside a song: the same stem with .lrc (or .LRC).
std::optional<std::string> LyricsBeside(const fs::path& song) {
  for (const char* ext : {".lrc", ".LRC"}) {
    fs::path lrc = song;
    lrc.replace_extension(ext);
    std::error_code ec;
    const uintmax_t size = fs::file_size(lrc, ec);
    if (ec || size > kMaxLyricsBytes) continue;
    std::ifstream in(lrc, std::ios::binary);
    if (!in) continue;
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  return std::nullopt;
}

bool IsLyricsFile(const fs::path& p) {
  const std::string ext = p.extension().string();
  return ext == ".lrc" || ext == ".LRC";
}

class TWalker {
public:
  TWalker(TCatalogue& catalogue, const std::function<void(const TImportCounts&)>& progress)
      : catalogue_(catalogue), progress_(progress) {}

  void Folder(const fs::path& dir) {
    struct stat st{};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    // A link may lead back to a folder above: each folder is walked once.
    if (!seen_.insert({st.st_dev, st.st_ino}).second) return;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path& p = it->path();
      std::error_code kind;
      if (it->is_directory(kind))
        Folder(p);
      else if (it->is_regular_file(kind))
        File(p);
    }
  }

  void Finish() {
    Flush();
    if (progress_) progress_(counts_);
  }
  const TImportCounts& Counts() const { return counts_; }

private:
  void File(const fs::path& p) {
    ++counts_.Files;
    if (IsLyricsFile(p)) return;  // taken with its song
    ml::TMediaInfo info;
    if (!ml::ReadMediaInfo(p.string(), info) || info.Duration <= 0) {
      ++counts_.Skipped;
      return;
    }
    std::error_code ec;
    const uintmax_t size = fs::file_size(p, ec);
    bool ok = false;
    const ml::TMD5Digest digest = ml::LRMD5::MD5File(p.string(), &ok);
    if (ec || !ok || size > uintmax_t(INT32_MAX)) {
      ++counts_.Unreadable;
      return;
    }
    TCatalogueSong s;
    s.Digest = digest.v;
    s.Path = fs::absolute(p).lexically_normal().string();
    s.Size = int64_t(size);
    s.FileName = p.filename().string();
    s.Title = info.Title;
    s.Artist = info.Artist;
    s.Album = info.Album;
    s.DurationMs = info.Duration;
    s.BitrateKbps = info.Bitrate;
    s.Lyrics = LyricsBeside(p);
    batch_.push_back(std::move(s));
    if (batch_.size() >= kBatch) Flush();
  }

  void Flush() {
    if (batch_.empty()) return;
    const auto added = catalogue_.Add(batch_);
    for (size_t i = 0; i < added.size(); ++i) {
      if (added[i] == TCatalogue::TAdded::New) {
        ++counts_.New;
        counts_.WithLyrics += batch_[i].Lyrics ? 1 : 0;
      } else {
        ++counts_.Present;
        counts_.Moved += added[i] == TCatalogue::TAdded::Moved ? 1 : 0;
      }
    }
    batch_.clear();
    if (progress_) progress_(counts_);
  }

  TCatalogue& catalogue_;
  const std::function<void(const TImportCounts&)>& progress_;
  TImportCounts counts_;
  std::vector<TCatalogueSong> batch_;
  std::set<std::pair<dev_t, ino_t>> seen_;
};

}  // namespace

TImportCounts ImportFolders(TCatalogue& catalogue, const std::vector<std::string>& folders,
                            const std::function<void(const TImportCounts&)>& progress) {
  for (const std::string& f : folders) {
    std::error_code ec;
    if (!fs::is_directory(f, ec)) throw std::runtime_error("no folder " + f);
  }
  TWalker walker(catalogue, progress);
  for (const std::string& f : folders) walker.Folder(f);
  walker.Finish();
  return walker.Counts();
}

}  // namespace mlsvc
