#include "base/Registry.h"

#include "base/IniFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ml {

namespace {

// The unnamed (default) value of a key, written "@" as registry exports do.
std::string_view ValueName(std::string_view name) { return name.empty() ? std::string_view("@") : name; }

// flock on the file beside the store: the store itself is replaced by rename, so its own inode
// cannot carry the lock. Without a lock file (a read-only folder) reads still work.
class TFileLock {
public:
  TFileLock(const std::string& path, int operation) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ >= 0)
      while (::flock(fd_, operation) != 0 && errno == EINTR) {
      }
  }
  ~TFileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

private:
  int fd_;
};

}  // namespace

TRegistryStore::TRegistryStore(std::string appDir) : path_(std::move(appDir) + "Registry.ini") {}

std::string TRegistryStore::SectionName(Root root, std::string_view keyPath) {
  while (!keyPath.empty() && (keyPath.front() == '\\' || keyPath.front() == '/')) keyPath.remove_prefix(1);
  std::string name = root == Root::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT";
  if (!keyPath.empty()) name += "\\" + std::string(keyPath);
  return name;
}

std::string TRegistryStore::TEdit::ReadString(Root root, std::string_view keyPath, std::string_view name,
                                              std::string_view fallback) const {
  return ini_.ReadString(SectionName(root, keyPath), ValueName(name), fallback);
}

bool TRegistryStore::TEdit::KeyExists(Root root, std::string_view keyPath) const {
  return ini_.SectionExists(SectionName(root, keyPath));
}

bool TRegistryStore::TEdit::ValueExists(Root root, std::string_view keyPath, std::string_view name) const {
  return ini_.ValueExists(SectionName(root, keyPath), ValueName(name));
}

void TRegistryStore::TEdit::WriteString(Root root, std::string_view keyPath, std::string_view name,
                                        std::string_view value) {
  const std::string section = SectionName(root, keyPath);
  if (ini_.ValueExists(section, ValueName(name)) && ini_.ReadString(section, ValueName(name)) == value) return;
  ini_.WriteString(section, ValueName(name), value);
  changed_ = true;
}

void TRegistryStore::TEdit::DeleteValue(Root root, std::string_view keyPath, std::string_view name) {
  const std::string section = SectionName(root, keyPath);
  if (!ini_.ValueExists(section, ValueName(name))) return;
  ini_.DeleteKey(section, ValueName(name));
  changed_ = true;
}

template <typename Fn>
auto TRegistryStore::Read(Fn&& fn) const {
  std::lock_guard lock(mutex_);
  TFileLock fileLock(path_ + ".lock", LOCK_SH);
  IniFile ini(IniFile::Encoding::Utf8);
  ini.Load(path_);
  return fn(ini);
}

bool TRegistryStore::Edit(const std::function<void(TEdit&)>& edit) {
  std::lock_guard lock(mutex_);
  TFileLock fileLock(path_ + ".lock", LOCK_EX);
  IniFile ini(IniFile::Encoding::Utf8);
  ini.Load(path_);
  TEdit e(ini);
  edit(e);
  return !e.changed_ || ini.Save(path_);
}

std::string TRegistryStore::ReadString(Root root, std::string_view keyPath, std::string_view name,
                                       std::string_view fallback) const {
  return Read([&](IniFile& ini) { return ini.ReadString(SectionName(root, keyPath), ValueName(name), fallback); });
}

int64_t TRegistryStore::ReadInteger(Root root, std::string_view keyPath, std::string_view name,
                                    int64_t fallback) const {
  return Read([&](IniFile& ini) { return ini.ReadInteger(SectionName(root, keyPath), ValueName(name), fallback); });
}

bool TRegistryStore::ReadBool(Root root, std::string_view keyPath, std::string_view name, bool fallback) const {
  return ReadInteger(root, keyPath, name, fallback ? 1 : 0) != 0;
}

bool TRegistryStore::ValueExists(Root root, std::string_view keyPath, std::string_view name) const {
  return Read([&](IniFile& ini) { return ini.ValueExists(SectionName(root, keyPath), ValueName(name)); });
}

bool TRegistryStore::KeyExists(Root root, std::string_view keyPath) const {
  return Read([&](IniFile& ini) { return ini.SectionExists(SectionName(root, keyPath)); });
}

bool TRegistryStore::WriteString(Root root, std::string_view keyPath, std::string_view name,
                                 std::string_view value) {
  return Edit([&](TEdit& e) { e.WriteString(root, keyPath, name, value); });
}

bool TRegistryStore::WriteInteger(Root root, std::string_view keyPath, std::string_view name, int64_t value) {
  return WriteString(root, keyPath, name, std::to_string(value));
}

bool TRegistryStore::WriteBool(Root root, std::string_view keyPath, std::string_view name, bool value) {
  return WriteString(root, keyPath, name, value ? "1" : "0");
}

bool TRegistryStore::DeleteValue(Root root, std::string_view keyPath, std::string_view name) {
  return Edit([&](TEdit& e) { e.DeleteValue(root, keyPath, name); });
}

}  // namespace ml
