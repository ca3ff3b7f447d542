#pragma once
// Whole-file reading and the one way this program replaces a file: write a temporary file in the
// same folder, flush it to disk, rename it over the old one. A crash at any point leaves either
// the old file or the new one, never a mixture.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace ml {

// Reads the whole file; nullopt when it cannot be opened or read, or is larger than maxBytes.
std::optional<std::string> ReadFileBytes(const std::string& path, uint64_t maxBytes = UINT64_MAX);

// The same for a file written piece by piece (a large library need not be built in memory
// first). Nothing replaces path until commit succeeds; destroying an uncommitted writer leaves
// the old file as it was.
class TAtomicFileWriter {
public:
  TAtomicFileWriter(std::string path, mode_t mode = 0644);
  ~TAtomicFileWriter();
  TAtomicFileWriter(const TAtomicFileWriter&) = delete;
  TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;
  bool Write(std::string_view data);
  bool Commit(bool keepBackup = false, std::string* error = nullptr);

private:
  void Fail(const char* what);
  void Discard();
  std::string path_, tmp_, error_;
  int fd_ = -1;
};

// Replaces path with data. mode applies to the new file (0600 for files holding passwords).
// keepBackup renames the previous file to path + ".bak" first. On failure returns false, leaves
// the old file in place and, when error is given, says why.
bool WriteFileAtomic(const std::string& path, std::string_view data, mode_t mode = 0644,
                     std::string* error = nullptr, bool keepBackup = false);

// Creates the folder and its parents; true when it exists afterwards.
bool EnsureDirectory(const std::string& path);

bool FileExists(const std::string& path);

// What stat says of a regular file; exists is false for anything else or a failed stat.
struct TFileFacts {
  bool exists = false;
  uint64_t size = 0;
  int64_t lastWriteTime = 0;  // FILETIME: 100 ns units since 1601, as the library file keeps it
};
TFileFacts StatFile(const std::string& path);

// Path with a trailing "/" (the form AppDir and the folder settings are kept in).
std::string WithTrailingSlash(std::string path);

}  // namespace ml
