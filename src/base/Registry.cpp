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
  ini.load(path);
  return ini;
}
}  // namespace

std::string TRegistryStore::readString(Root root, std::string_view keyPath, std::string_view name,
                                       std::string_view fallback) const {
  std::lock_guard lock(mutex_);
  return LoadStore(path_).readString(SectionName(root, keyPath), ValueName(name), fallback);
}

int64_t TRegistryStore::readInteger(Root root, std::string_view keyPath, std::string_view name,
                                    int64_t fallback) const {
  std::lock_guard lock(mutex_);
  return LoadStore(path_).readInteger(SectionName(root, keyPath), ValueName(name), fallback);
}

bool TRegistryStore::readBool(Root root, std::string_view keyPath, std::string_view name, bool fallback) const {
  return readInteger(root, keyPath, name, fallback ? 1 : 0) != 0;
}

bool TRegistryStore::valueExists(Root root, std::string_view keyPath, std::string_view name) const {
  std::lock_guard lock(mutex_);
  return LoadStore(path_).valueExists(SectionName(root, keyPath), ValueName(name));
}

bool TRegistryStore::keyExists(Root root, std::string_view keyPath) const {
  std::lock_guard lock(mutex_);
  return LoadStore(path_).sectionExists(SectionName(root, keyPath));
}

bool TRegistryStore::writeString(Root root, std::string_view keyPath, std::string_view name,
                                 std::string_view value) {
  std::lock_guard lock(mutex_);
  IniFile ini = LoadStore(path_);
  ini.writeString(SectionName(root, keyPath), ValueName(name), value);
  return ini.save(path_);
}

bool TRegistryStore::writeInteger(Root root, std::string_view keyPath, std::string_view name, int64_t value) {
  return writeString(root, keyPath, name, std::to_string(value));
}

bool TRegistryStore::writeBool(Root root, std::string_view keyPath, std::string_view name, bool value) {
  return writeString(root, keyPath, name, value ? "1" : "0");
}

bool TRegistryStore::deleteValue(Root root, std::string_view keyPath, std::string_view name) {
  std::lock_guard lock(mutex_);
  IniFile ini = LoadStore(path_);
  if (!ini.valueExists(SectionName(root, keyPath), ValueName(name))) return true;
  ini.deleteKey(SectionName(root, keyPath), ValueName(name));
  return ini.save(path_);
}

}  // namespace ml
