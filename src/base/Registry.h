#pragma once
// The registry stand-in: "Registry.ini" in AppDir, one section per key path, same key and value
// names as the platform registry had ("HKEY_CURRENT_USER\Software\MiniLirra" / "AppFileName").
// A key's default value has the empty name and is kept as "@". Every call reads the file afresh and every write replaces it atomically, so two processes of
// the program see each other's values.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace ml {

class TRegistryStore {
public:
  enum class Root { CurrentUser, ClassesRoot };

  explicit TRegistryStore(std::string appDir);

  std::string ReadString(Root root, std::string_view keyPath, std::string_view name,
                         std::string_view fallback = {}) const;
  int64_t ReadInteger(Root root, std::string_view keyPath, std::string_view name, int64_t fallback) const;
  bool ReadBool(Root root, std::string_view keyPath, std::string_view name, bool fallback) const;
  bool ValueExists(Root root, std::string_view keyPath, std::string_view name) const;
  bool KeyExists(Root root, std::string_view keyPath) const;

  // Writes return false when the file could not be replaced.
  bool WriteString(Root root, std::string_view keyPath, std::string_view name, std::string_view value);
  bool WriteInteger(Root root, std::string_view keyPath, std::string_view name, int64_t value);
  bool WriteBool(Root root, std::string_view keyPath, std::string_view name, bool value);
  bool DeleteValue(Root root, std::string_view keyPath, std::string_view name);

  const std::string& FilePath() const { return path_; }
  // "HKEY_CURRENT_USER\Software\MiniLirra" for (CurrentUser, "\Software\MiniLirra").
  static std::string SectionName(Root root, std::string_view keyPath);

private:
  std::string path_;
  mutable std::mutex mutex_;
};

}  // namespace ml
