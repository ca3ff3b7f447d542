#pragma once
// The registry stand-in: "Registry.ini" in AppDir, one section per key path, same key and value
// names as the platform registry had ("HKEY_CURRENT_USER\Software\MiniLirra" / "AppFileName").
// A key's default value has the empty name and is kept as "@". Every call reads the file afresh
// and every change replaces it atomically, under a lock that other processes of the program
// take too ("Registry.ini.lock", flock): two programs see each other's values and never lose
// each other's writes. A batch of changes (Edit) reads once and writes once.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace ml {

class IniFile;

class TRegistryStore {
public:
  enum class Root { CurrentUser, ClassesRoot };

  // Reads and writes of one batch, on the file as it was when the batch took the lock.
  class TEdit {
  public:
    std::string ReadString(Root root, std::string_view keyPath, std::string_view name,
                           std::string_view fallback = {}) const;
    bool KeyExists(Root root, std::string_view keyPath) const;
    bool ValueExists(Root root, std::string_view keyPath, std::string_view name) const;
    void WriteString(Root root, std::string_view keyPath, std::string_view name, std::string_view value);
    void DeleteValue(Root root, std::string_view keyPath, std::string_view name);

  private:
    friend class TRegistryStore;
    explicit TEdit(IniFile& ini) : ini_(ini) {}
    IniFile& ini_;
    bool changed_ = false;
  };

  explicit TRegistryStore(std::string appDir);

  std::string ReadString(Root root, std::string_view keyPath, std::string_view name,
                         std::string_view fallback = {}) const;
  int64_t ReadInteger(Root root, std::string_view keyPath, std::string_view name, int64_t fallback) const;
  bool ReadBool(Root root, std::string_view keyPath, std::string_view name, bool fallback) const;
  bool ValueExists(Root root, std::string_view keyPath, std::string_view name) const;
  bool KeyExists(Root root, std::string_view keyPath) const;

  // Writes return false when the file could not be replaced. A write that changes nothing does
  // not touch the file.
  bool WriteString(Root root, std::string_view keyPath, std::string_view name, std::string_view value);
  bool WriteInteger(Root root, std::string_view keyPath, std::string_view name, int64_t value);
  bool WriteBool(Root root, std::string_view keyPath, std::string_view name, bool value);
  bool DeleteValue(Root root, std::string_view keyPath, std::string_view name);
  // Runs edit on the file under the lock and replaces the file once, when edit changed it.
  bool Edit(const std::function<void(TEdit&)>& edit);

  const std::string& FilePath() const { return path_; }
  // "HKEY_CURRENT_USER\Software\MiniLirra" for (CurrentUser, "\Software\MiniLirra").
  static std::string SectionName(Root root, std::string_view keyPath);

private:
  template <typename Fn>
  auto Read(Fn&& fn) const;

  std::string path_;
  mutable std::mutex mutex_;  // the file lock is per open file, so threads of one process queue here
};

}  // namespace ml
