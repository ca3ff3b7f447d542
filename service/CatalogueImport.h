#pragma once
// Fills the catalogue from folders of song files: every file our tag readers recognise as audio,
// with its MD5 digest, size, tags and format, and the .lrc of the same stem when there is one.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mlsvc {

class TCatalogue;

struct TImportCounts {
  int64_t Files = 0;     // regular files seen
  int64_t New = 0;       // songs added
  int64_t Present = 0;   // songs already there (moved ones included)
  int64_t Moved = 0;     // of those, found at another path
  int64_t Skipped = 0;   // files that are no audio our readers know (lyrics files aside)
  int64_t Unreadable = 0;  // files that could not be read, or too large for the wire's 32-bit size
  int64_t WithLyrics = 0;  // songs of this import with an .lrc
};

// Walks folders recursively, following links to folders but never into one twice. progress is
// called now and then with the counts so far. Throws std::runtime_error for a folder that cannot
// be walked (before anything is added when it is missing).
TImportCounts ImportFolders(TCatalogue& catalogue, const std::vector<std::string>& folders,
                            const std::function<void(const TImportCounts&)>& progress = {});

}  // namespace mlsvc
