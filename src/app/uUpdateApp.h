#pragma once
// Applying a downloaded self-update before any window exists. Two steps, run by the first
// instance at start-up:
//   A  the updater role: when this program is the updater copy "NewUp" + ExeFileName (started
//      from AppDir + "Up/"), it ends the old program, copies the files listed in
//      "UpdateFiles.ini" into the install folder (AppDir + "../") and starts the updated program.
//   B  a pending update: when "Update.ini" names a newer version whose package exists and fewer
//      than two attempts were made, the package is extracted into AppDir + "Up/" and the updater
//      copy in it is started.
// Everything read from the package and the lists is untrusted: absolute paths, ".." and symbolic
// links are refused, sizes are bounded, and nothing is written outside the folders named above.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ml {

enum class TUpdateOutcome { Continue, EndProcess };

// Starts a program with an argument list (no shell), detached from this process's end.
bool SpawnProgram(const std::string& path, const std::vector<std::string>& args, pid_t* pid = nullptr);

inline constexpr const char* UpdaterPrefix = "NewUp";
inline constexpr uint64_t MaxUpdateEntryBytes = 256ull << 20;  // one file of the package
inline constexpr uint64_t MaxUpdatePackageBytes = 1ull << 30;  // all files together
inline constexpr int MaxUpdateEntries = 10000;
inline constexpr int MaxUpdateAttempts = 2;

struct TUpdateContext {
  std::string appDir;       // AppDir, trailing "/"
  std::string exeFileName;  // ExeFileName
  std::string exePath;      // this executable's full path
  std::function<void()> releaseAppLock;  // before another copy of the program starts
  std::function<void()> retakeAppLock;   // when that start failed and this one carries on
  std::function<bool(const std::string&, const std::vector<std::string>&)> spawn =
      [](const std::string& p, const std::vector<std::string>& a) { return SpawnProgram(p, a); };
  std::function<void()> pumpMessages;    // after each extracted file
  // Step A's lookup of the old program; the default walks /proc.
  std::function<void(const std::string& installDir, const std::string& exeFileName)> endOldProgram;
};

// Steps A and B in order; EndProcess when this process must end now.
TUpdateOutcome CheckSelfUpdate(const TUpdateContext& ctx);

// --- the pieces, for the steps above and their tests ---

// The file name of exePath equals "NewUp" + exeFileName, ignoring case.
bool IsUpdaterCopy(const std::string& exePath, const std::string& exeFileName);

// This user's processes whose executable is installDir + exeFileName (name ignoring case),
// found through /proc; this process excluded.
std::vector<pid_t> FindProgramProcesses(const std::string& installDir, const std::string& exeFileName);
// Waits up to 500 ms for the first such process to end, then kills it.
void EndOldProgram(const std::string& installDir, const std::string& exeFileName);

// A relative path from an update list or package, "\" read as "/", checked: nullopt for an empty
// or absolute path, a drive letter, a ".." component or a NUL byte. "." components are dropped.
std::optional<std::string> SafeRelativePath(const std::string& name);

struct TUpdateReport {
  int written = 0;
  std::vector<std::string> problems;  // one line per refused or failed file
};

// Step A.2: copies appDir + name over installDir + value for every line after the first of
// appDir + "UpdateFiles.ini". nullopt when that file does not exist.
std::optional<TUpdateReport> ApplyUpdateFiles(const std::string& appDir, const std::string& installDir);

// Extracts a zip package into destDir (created when missing). The whole package is checked
// before the first file is written; on any refused entry nothing is written and false returned.
// maxEntryBytes bounds each file's size.
bool ExtractUpdatePackage(const std::string& zipPath, const std::string& destDir, std::string* error = nullptr,
                          const std::function<void()>& afterEachEntry = {},
                          uint64_t maxEntryBytes = MaxUpdateEntryBytes);

// Section "Update" of "Update.ini": the update offered by the service, as the services module
// recorded it, and the attempts made to install it.
struct TPendingUpdate {
  int64_t version = 0;
  bool canUpdate = false;  // the user agreed (or the update needs no question)
  int64_t fileSize = 0;
  int64_t upType = 0;      // the service's update kind, 0 = ask the user
  std::string destFileName;
  int64_t upTimes = 0;
};
// Section "Update" of appDir + "Update.ini"; nullopt when the file is missing.
std::optional<TPendingUpdate> ReadPendingUpdate(const std::string& appDir);
// Writes every key of section "Update" (the file's other sections stay), atomically.
bool WritePendingUpdate(const std::string& appDir, const TPendingUpdate& u, std::string* error = nullptr);
// Newer than this build, package present, fewer than MaxUpdateAttempts tries.
bool ShouldApplyUpdate(const TPendingUpdate& u);

}  // namespace ml
