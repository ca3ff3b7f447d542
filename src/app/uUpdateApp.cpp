#include "app/uUpdateApp.h"

#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/IniFile.h"
#include "base/StrUtil.h"
#include "base/Version.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zip.h>

extern char** environ;

namespace ml {
namespace fs = std::filesystem;

namespace {

std::string FileNameOf(const std::string& path) { return fs::path(path).filename().string(); }

// installDir etc. in one spelling: absolute, normalised, trailing "/".
std::string NormalDir(const std::string& dir) {
  std::string s = fs::absolute(dir).lexically_normal().string();
  return WithTrailingSlash(s);
}

// Creates the folders of rel's parent below base, refusing any that is a symbolic link or not a
// folder, so a write below base cannot be steered elsewhere.
bool MakeParentDirs(const std::string& base, const std::string& rel, std::string* why) {
  std::string dir = WithTrailingSlash(base);
  fs::path parent = fs::path(rel).parent_path();
  for (const auto& part : parent) {
    dir += part.string();
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0) {
      if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        *why = "cannot create folder " + dir + ": " + std::strerror(errno);
        return false;
      }
      if (::lstat(dir.c_str(), &st) != 0) {
        *why = "cannot create folder " + dir;
        return false;
      }
    }
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
      *why = dir + " is not a plain folder";
      return false;
    }
    dir += "/";
  }
  return true;
}

// A file already at the destination may be replaced, but only when it is a plain file (the
// rename puts the new one in place of a link without following it; a folder stays).
bool DestinationReplaceable(const std::string& path, std::string* why) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return true;
  if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return true;
  *why = path + " exists and is not a file";
  return false;
}

bool ProcessEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string line;
  std::getline(stat, line);
  auto close = line.rfind(')');
  // A zombie has ended; only its parent has yet to collect it.
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z' ||
         line[close + 2] == 'X';
}

}  // namespace

bool SpawnProgram(const std::string& path, const std::vector<std::string>& args, pid_t* pidOut) {
  std::vector<char*> argv;
  std::string arg0 = path;
  argv.push_back(arg0.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session: the new program must outlive this one and not share its terminal signals.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    DebugTrace("cannot start %s: %s", path.c_str(), std::strerror(rc));
    return false;
  }
  if (pidOut) *pidOut = pid;
  return true;
}

bool IsUpdaterCopy(const std::string& exePath, const std::string& exeFileName) {
  return !exeFileName.empty() && EqualsNoCase(FileNameOf(exePath), UpdaterPrefix + exeFileName);
}

std::vector<pid_t> FindProgramProcesses(const std::string& installDir, const std::string& exeFileName) {
  std::vector<pid_t> found;
  const std::string wantDir = NormalDir(installDir);
  DIR* d = ::opendir("/proc");
  if (!d) return found;
  const pid_t self = ::getpid();
  while (dirent* e = ::readdir(d)) {
    auto pid = ParseInt(e->d_name);
    if (!pid || *pid <= 0 || *pid == self || !std::isdigit(static_cast<unsigned char>(e->d_name[0]))) continue;
    std::string procDir = std::string("/proc/") + e->d_name;
    struct stat st{};
    if (::stat(procDir.c_str(), &st) != 0 || st.st_uid != ::getuid()) continue;
    char buf[4096];
    ssize_t n = ::readlink((procDir + "/exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0) continue;
    std::string exe(buf, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
      exe.resize(exe.size() - deleted.size());
    fs::path p(exe);
    if (EqualsNoCase(p.filename().string(), exeFileName) &&
        WithTrailingSlash(p.parent_path().lexically_normal().string()) == wantDir)
      found.push_back(static_cast<pid_t>(*pid));
  }
  ::closedir(d);
  return found;
}

void EndOldProgram(const std::string& installDir, const std::string& exeFileName) {
  auto pids = FindProgramProcesses(installDir, exeFileName);
  if (pids.empty()) return;
  const pid_t pid = pids.front();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (!ProcessEnded(pid) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (!ProcessEnded(pid)) {
    DebugTrace("old program %d still running, ending it", static_cast<int>(pid));
    ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::optional<std::string> SafeRelativePath(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  std::string s = name;
  for (char& c : s)
    if (c == '\\') c = '/';
  if (s[0] == '/') return std::nullopt;
  if (s.size() >= 2 && s[1] == ':') return std::nullopt;  // "C:..." from a Windows-made list
  std::string out;
  std::size_t pos = 0;
  while (pos <= s.size()) {
    std::size_t slash = s.find('/', pos);
    if (slash == std::string::npos) slash = s.size();
    std::string part = s.substr(pos, slash - pos);
    pos = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return std::nullopt;
    if (!out.empty()) out += '/';
    out += part;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::optional<TUpdateReport> ApplyUpdateFiles(const std::string& appDir, const std::string& installDir) {
  const std::string listPath = WithTrailingSlash(appDir) + "UpdateFiles.ini";
  auto bytes = ReadFileBytes(listPath, 1 << 20);
  if (!bytes) return std::nullopt;
  // Our own lists are UTF-8; one written by older tools is GBK.
  std::string text = IsValidUtf8(*bytes) ? std::string(StripUtf8Bom(*bytes)) : GbkToUtf8(*bytes);
  TUpdateReport report;
  auto lines = SplitLines(text);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string name(Trim(line.substr(0, eq)));
    std::string value(Trim(line.substr(eq + 1)));
    if (name.empty() || value.empty()) continue;
    auto problem = [&](const std::string& why) { report.problems.push_back(name + "=" + value + ": " + why); };
    auto src = SafeRelativePath(name);
    auto dst = SafeRelativePath(value);
    if (!src || !dst) {
      problem("path leaves the update folders");
      continue;
    }
    if (ToLowerAscii(fs::path(*dst).parent_path().string()).find("<system>") != std::string::npos) {
      problem("system folder destinations are not used on this platform");
      continue;
    }
    const std::string srcPath = WithTrailingSlash(appDir) + *src;
    const std::string dstPath = WithTrailingSlash(installDir) + *dst;
    struct stat st{};
    if (::lstat(srcPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      problem("source is missing or not a plain file");
      continue;
    }
    std::string why;
    if (!MakeParentDirs(appDir, *src, &why) || !MakeParentDirs(installDir, *dst, &why) ||
        !DestinationReplaceable(dstPath, &why)) {
      problem(why);
      continue;
    }
    auto data = ReadFileBytes(srcPath, MaxUpdateEntryBytes);
    if (!data) {
      problem("cannot read the source (or it is too large)");
      continue;
    }
    if (!WriteFileAtomic(dstPath, *data, st.st_mode & 0755, &why)) {
      problem(why);
      continue;
    }
    ++report.written;
  }
  for (const auto& p : report.problems) DebugTrace("update: %s", p.c_str());
  return report;
}

bool ExtractUpdatePackage(const std::string& zipPath, const std::string& destDir, std::string* error,
                          const std::function<void()>& afterEachEntry, uint64_t maxEntryBytes) {
  auto fail = [&](const std::string& why) {
    if (error) *error = zipPath + ": " + why;
    return false;
  };
  int err = 0;
  zip_t* za = zip_open(zipPath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
  if (!za) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, err);
    std::string why = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return fail(why);
  }
  struct Entry {
    zip_uint64_t index;
    std::string rel;
    bool dir;
    uint64_t size;
    mode_t mode;
  };
  std::vector<Entry> entries;
  std::string why;
  const zip_int64_t count = zip_get_num_entries(za, 0);
  if (count < 0 || count > MaxUpdateEntries) why = "too many entries";
  uint64_t total = 0;
  for (zip_int64_t i = 0; why.empty() && i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) ||
        !(st.valid & ZIP_STAT_SIZE)) {
      why = "unreadable entry " + std::to_string(i);
      break;
    }
    std::string name = st.name;
    zip_uint8_t opsys = 0;
    zip_uint32_t attr = 0;
    zip_file_get_external_attributes(za, static_cast<zip_uint64_t>(i), 0, &opsys, &attr);
    const mode_t unixMode = opsys == ZIP_OPSYS_UNIX ? static_cast<mode_t>(attr >> 16) : 0;
    if (opsys == ZIP_OPSYS_UNIX && (unixMode & S_IFMT) != 0 && (unixMode & S_IFMT) != S_IFREG &&
        (unixMode & S_IFMT) != S_IFDIR) {
      why = "entry " + name + " is a link or special file";
      break;
    }
    auto rel = SafeRelativePath(name);
    if (!rel) {
      why = "entry " + name + " would be written outside the update folder";
      break;
    }
    if (st.size > maxEntryBytes || (total += st.size) > MaxUpdatePackageBytes) {
      why = "entry " + name + " is too large";
      break;
    }
    const bool dir = name.back() == '/' || name.back() == '\\' || (unixMode & S_IFMT) == S_IFDIR;
    mode_t mode = (unixMode & 0111) ? 0755 : 0644;
    // A package made without Unix modes still carries the updater, which must run.
    if (EqualsNoCase(fs::path(*rel).filename().string().substr(0, 5), UpdaterPrefix)) mode = 0755;
    entries.push_back({static_cast<zip_uint64_t>(i), *rel, dir, st.size, mode});
  }
  if (why.empty()) {
    // The folder itself must be a real folder: a link planted in its place would carry every
    // file somewhere else.
    std::string plain = WithTrailingSlash(destDir);
    plain.pop_back();
    struct stat st{};
    if (!EnsureDirectory(destDir))
      why = "cannot create " + destDir;
    else if (::lstat(plain.c_str(), &st) != 0 || S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
      why = destDir + " is not a plain folder";
  }
  for (std::size_t k = 0; why.empty() && k < entries.size(); ++k) {
    const Entry& e = entries[k];
    const std::string path = WithTrailingSlash(destDir) + e.rel;
    if (!MakeParentDirs(destDir, e.rel + (e.dir ? "/x" : ""), &why)) break;
    if (e.dir) continue;
    if (!DestinationReplaceable(path, &why)) break;
    zip_file_t* zf = zip_fopen_index(za, e.index, 0);
    if (!zf) {
      why = "cannot open entry " + e.rel + ": " + zip_strerror(za);
      break;
    }
    std::string data;
    data.reserve(static_cast<size_t>(e.size));
    char buf[65536];
    zip_int64_t n;
    // Read no more than the size the directory promised; a longer stream is a forged entry.
    while ((n = zip_fread(zf, buf, sizeof buf)) > 0) {
      data.append(buf, static_cast<size_t>(n));
      if (data.size() > e.size) break;
    }
    if (n < 0) why = "entry " + e.rel + " is damaged: " + zip_file_strerror(zf);
    zip_fclose(zf);
    if (why.empty() && data.size() != e.size) why = "entry " + e.rel + " does not have its stated size";
    if (!why.empty()) break;
    if (!WriteFileAtomic(path, data, e.mode, &why)) break;
    if (afterEachEntry) afterEachEntry();
  }
  zip_discard(za);
  if (!why.empty()) return fail(why);
  return true;
}

std::optional<TPendingUpdate> ReadPendingUpdate(const std::string& appDir) {
  IniFile ini;
  if (!ini.Load(WithTrailingSlash(appDir) + "Update.ini")) return std::nullopt;
  TPendingUpdate u;
  u.version = ini.ReadInteger("Update", "Version", 0);
  u.canUpdate = ini.ReadBool("Update", "CanUpdate", false);
  u.fileSize = ini.ReadInteger("Update", "FileSize", 0);
  u.upType = ini.ReadInteger("Update", "UpType", 0);
  u.destFileName = ini.ReadString("Update", "DestFileName");
  u.upTimes = ini.ReadInteger("Update", "UpTimes", 0);
  return u;
}

bool WritePendingUpdate(const std::string& appDir, const TPendingUpdate& u, std::string* error) {
  const std::string path = WithTrailingSlash(appDir) + "Update.ini";
  IniFile ini;
  ini.Load(path);
  ini.WriteInteger("Update", "Version", u.version);
  ini.WriteBool("Update", "CanUpdate", u.canUpdate);
  ini.WriteInteger("Update", "FileSize", u.fileSize);
  ini.WriteInteger("Update", "UpType", u.upType);
  ini.WriteString("Update", "DestFileName", u.destFileName);
  ini.WriteInteger("Update", "UpTimes", u.upTimes);
  return ini.Save(path, 0644, error);
}

bool ShouldApplyUpdate(const TPendingUpdate& u) {
  return u.version > ProgramVersion && !u.destFileName.empty() && FileExists(u.destFileName) &&
         u.upTimes < MaxUpdateAttempts;
}

namespace {

TUpdateOutcome StartOther(const TUpdateContext& ctx, const std::string& path) {
  if (ctx.releaseAppLock) ctx.releaseAppLock();
  if (ctx.spawn(path, {})) return TUpdateOutcome::EndProcess;
  // Ending now would leave the user with no program at all.
  if (ctx.retakeAppLock) ctx.retakeAppLock();
  return TUpdateOutcome::Continue;
}

TUpdateOutcome UpdaterStep(const TUpdateContext& ctx) {
  const std::string installDir = NormalDir(ctx.appDir + "..");
  if (ctx.endOldProgram)
    ctx.endOldProgram(installDir, ctx.exeFileName);
  else
    EndOldProgram(installDir, ctx.exeFileName);
  auto report = ApplyUpdateFiles(ctx.appDir, installDir);
  if (!report) return TUpdateOutcome::Continue;
  const std::string updated = installDir + ctx.exeFileName;
  if (!FileExists(updated)) return TUpdateOutcome::Continue;
  return StartOther(ctx, updated);
}

TUpdateOutcome PendingUpdateStep(const TUpdateContext& ctx) {
  auto pending = ReadPendingUpdate(ctx.appDir);
  if (!pending || !ShouldApplyUpdate(*pending)) return TUpdateOutcome::Continue;
  const std::string upDir = ctx.appDir + "Up/";
  std::string error;
  if (!ExtractUpdatePackage(pending->destFileName, upDir, &error, ctx.pumpMessages)) {
    DebugTrace("update package refused: %s", error.c_str());
    return TUpdateOutcome::Continue;
  }
  const std::string updater = upDir + UpdaterPrefix + ctx.exeFileName;
  if (!FileExists(updater)) return TUpdateOutcome::Continue;
  // The updater copy is part of this portable install: it keeps its data beside itself too, and
  // so finds the install one folder up.
  if (!WriteFileAtomic(upDir + "portable", "", 0644, &error)) {
    DebugTrace("update not attempted: %s", error.c_str());
    return TUpdateOutcome::Continue;
  }
  IniFile ini;
  ini.Load(ctx.appDir + "Update.ini");
  ini.WriteInteger("Update", "UpTimes", pending->upTimes + 1);
  // Without the count on disk a failing update would be retried at every start, forever.
  if (!ini.Save(ctx.appDir + "Update.ini", 0644, &error)) {
    DebugTrace("update not attempted: %s", error.c_str());
    return TUpdateOutcome::Continue;
  }
  return StartOther(ctx, updater);
}

}  // namespace

TUpdateOutcome CheckSelfUpdate(const TUpdateContext& ctx) {
  try {
    if (IsUpdaterCopy(ctx.exePath, ctx.exeFileName) && UpdaterStep(ctx) == TUpdateOutcome::EndProcess)
      return TUpdateOutcome::EndProcess;
    return PendingUpdateStep(ctx);
  } catch (const std::exception& e) {
    DebugTrace("update check failed: %s", e.what());  // start normally
    return TUpdateOutcome::Continue;
  }
}

}  // namespace ml
