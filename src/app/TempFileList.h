#pragma once
// Temporary files that were still open when they were released (a download's ".lr!" file, say):
// kept in AppDir + "TempFileList.dat", one path per line, and tried again every two seconds,
// also after a restart, until they are gone.
//
// Only files directly inside our own folders (the download folder and its "Temp/" folder) are
// ever deleted. The list file is ours but lies in the data folder where anything may edit it, so
// an entry that names a file elsewhere, or reaches out through ".." or a symbolic link, is
// dropped from the list and never deleted.
#include <functional>
#include <string>
#include <vector>

namespace ml {

class TTempFileList {
public:
  // Deletes one file (not a folder); false with errno set when it could not. The default is
  // unlink; tests give one that refuses, since root may delete anything.
  using TRemoveFile = std::function<bool(const std::string& path)>;

  // listPath: AppDir + "TempFileList.dat". ownFolders: the folders whose files may be deleted.
  TTempFileList(std::string listPath, std::vector<std::string> ownFolders, TRemoveFile remove = {});

  // Reads the list file when it exists (a missing or unreadable one leaves the list empty).
  bool Load();
  // Replaces the list file atomically.
  bool Save() const;

  // A released file to delete later; saves the list.
  void Add(const std::string& path);
  // Walks the list from the last entry to the first: an entry whose file is gone or could be
  // deleted is removed, so is one outside our folders (its file untouched); one that could not be
  // deleted stays. Saves the list when anything was removed. Returns how many were removed.
  size_t Sweep();

  const std::vector<std::string>& Paths() const { return paths_; }
  void SetOwnFolders(std::vector<std::string> folders) { ownFolders_ = std::move(folders); }

  // Whether path names an entry directly inside one of folders, after resolving the folders and
  // the path's own folder (so ".." and symbolic links cannot lead out).
  static bool IsInsideOwnFolder(const std::string& path, const std::vector<std::string>& folders);

  static constexpr size_t MaxListBytes = 4 << 20;
  static constexpr size_t MaxPathBytes = 4096;

private:
  std::string listPath_;
  std::vector<std::string> ownFolders_;
  std::vector<std::string> paths_;
  TRemoveFile remove_;
};

}  // namespace ml
