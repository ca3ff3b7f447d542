#pragma once
// The association dialog's work without its window: which files of the lyric folder answer a
// title, the folder walk that finds them a few entries at a time (so the window keeps answering
// on a large folder), and renaming or deleting a lyric file with a reason when it fails.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ml {

// A title as the user typed it, ready to match file names.
struct TLyricFileQuery {
  std::string Title;        // trimmed, every ".lrc" removed (any case)
  std::string Left, Right;  // around the title's first "-"; both empty without one
  bool Partial = true;      // "部分匹配"
};
TLyricFileQuery MakeLyricFileQuery(std::string_view title, bool partial);

// Whether a file answers the query, by its name without the extension, ASCII case ignored.
// Partial: the name holds the left part, else the right part, else the whole title (each only
// when not empty). Exact: the name is "left - right" when both parts are there, else the title.
bool LyricFileMatches(const TLyricFileQuery& query, std::string_view fileName);

// The recursive walk of a folder for a query. Step looks at up to maxEntries entries (files
// and folders alike) and adds the paths of matching regular files to found; it returns false
// once the walk is over. Folders that cannot be read are passed over; links to folders are not
// followed (a link back up would never end).
class TLyricFolderScan {
public:
  TLyricFolderScan(const std::string& folder, TLyricFileQuery query);
  bool Step(size_t maxEntries, std::vector<std::string>& found);
  bool Done() const { return done_; }

private:
  TLyricFileQuery query_;
  std::filesystem::recursive_directory_iterator it_;
  bool done_ = false;
};

// Renames the file in its own folder to newName (trimmed). Refused (false, with the reason)
// when the name is empty, holds a "/" or a NUL, is "." or "..", or names a file that exists
// already; nothing changes then. newPath gets the new path.
bool RenameLyricFile(const std::string& path, const std::string& newName, std::string& newPath, std::string& error);
// Deletes a file (a link itself, not what it points to); false with the reason when it is a
// folder or cannot be deleted.
bool DeleteLyricFile(const std::string& path, std::string& error);

}  // namespace ml
