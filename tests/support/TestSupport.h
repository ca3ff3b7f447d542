#pragma once
// Helpers shared by the test binaries: scratch folders, whole-file I/O, child processes.
#include <filesystem>
#include <string>
#include <vector>

namespace mltest {

// A fresh folder under the system temp dir, removed with everything in it when the object dies.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);

// The bytes of a short but valid WAV file (8 kHz, 16-bit mono) whose samples are payload (padded
// to whole samples): a song every tag reader and decoder takes, whose content a test chooses.
std::string TinyWav(const std::string& payload);

// Runs a shell command line (tests only) and returns its standard output; exitCode gets the status.
std::string RunCapture(const std::string& command, int* exitCode = nullptr);

// The checkout and the build's bin folder, as CTest hands them to every test.
std::string SourceDir();
std::string BinDir();

}  // namespace mltest
