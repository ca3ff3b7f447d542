#include "base/Registry.h"

#include "base/IniFile.h"

namespace ml {

TRegistryStore::TRegistryStore(std::string appDir) : path_(std::move(appDir) + "Registry.ini") {}

std::string TRegistryStore::SectionName(Root root, std::string_view keyPath) {
  while (!keyPath.empty() && (keyPath.front() == '\\' || keyPath.front() == '/')) keyPath.remove_prefix(1);
  std::string name = root == Root::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT";
  if (!keyPath.empty()) name += "\\" + std::string(keyPath);
  return name;
}

namespace {
// The unnamed (default) value of a key, written "@" as registry exports do.
std::string_view ValueName(std::string_view name) { return name.empty() ? std::string_view("@") : name; }

IniFile LoadStore(const std::string& path) {
  IniFile ini(IniFile::Encoding::Utf8);
  ini.Load(path);
  return ini;
}
}  // namespace

std::string TRegistryStore::ReadString(Root root, std::string_view keyPath, std::string_view name,
                                       std::string_view fallback) const {
  std::lock_guard lock(mutex_);
  return LoadStore(path_).ReadString(SectionName(root, keyPath), ValueName(name), fallback);
}

int64_t TRegistryStore::ReadInteger(Root root, std::string_view keyPath, std::string_view name,
                                    int64_t fallback) const {
  std::lock_guard lock(mutex_);
  return LoadStore(path_).ReadInteger(SectionName(root, keyPath), ValueName(name), fallback);
}

bool TRegistryStore::ReadBool(Root root, std::string_view keyPath, std::string_view name, bool fallback) const {
  return ReadInteger(root, keyPath, name, fallback ? 1 : 0) != 0;
}

bool TRegistryStore::ValueExists(Root root, std::string_view keyPath, std::string_view name) const {
  std::lock_guard lock(mutex_);
  return LoadStore(path_).ValueExists(SectionName(root, keyPath), ValueName(name));
}

bool TRegistryStore::KeyExists(Root root, std::string_view keyPath) const {
  std::lock_guard lock(mutex_);
  return LoadStore(path_).SectionExists(SectionName(root, keyPath));
}

bool TRegistryStore::WriteString(Root root, std::string_view keyPath, std::string_view name,
                                 std::string_view value) {
  std::lock_guard lock(mutex_);
  IniFile ini = LoadStore(path_);
  ini.WriteString(SectionName(root, keyPath), ValueName(name), value);
  return ini.Save(path_);
}

bool TRegistryStore::WriteInteger(Root root, std::string_view keyPath, std::string_view name, int64_t value) {
  return WriteString(root, keyPath, name, std::to_string(value));
}

bool TRegistryStore::WriteBool(Root root, std::string_view keyPath, std::string_view name, bool value) {
  return WriteString(root, keyPath, name, value ? "1" : "0");
}

bool TRegistryStore::DeleteValue(Root root, std::string_view keyPath, std::string_view name) {
  std::lock_guard lock(mutex_);
  IniFile ini = LoadStore(path_);
  if (!ini.ValueExists(SectionName(root, keyPath), ValueName(name))) return true;
  ini.DeleteKey(SectionName(root, keyPath), ValueName(name));
  return ini.Save(path_);
}

}  // namespace ml
