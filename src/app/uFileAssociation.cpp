#include "app/uFileAssociation.h"

#include "base/Registry.h"
#include "base/StrUtil.h"

#include <algorithm>

namespace ml {
namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

int IconIndex(const TAssociationTarget& target, const std::string& ext) {
  auto index = [&](const std::string& name) -> int {
    auto it = std::find_if(target.IconNames.begin(), target.IconNames.end(),
                           [&](const std::string& n) { return EqualsNoCase(n, name); });
    return it == target.IconNames.end() ? -1 : static_cast<int>(it - target.IconNames.begin());
  };
  if (int i = index("MY" + ext); i >= 0) return i;
  if (int i = index("MYICON"); i >= 0) return i;
  return 1;
}

}  // namespace

std::string AssociationClassName(const std::string& ext) { return "miniLirra." + Upper(ext); }

int RegisterFileAssociations(TRegistryStore& store, const std::vector<std::string>& exts, bool force,
                             const TAssociationTarget& target) {
  using Root = TRegistryStore::Root;
  int written = 0;
  // One read and one write of the store for the whole list, under its lock.
  const bool saved = store.Edit([&](TRegistryStore::TEdit& reg) {
    for (const std::string& rawExt : exts) {
      const std::string ext = Upper(rawExt);
      const std::string extKey = "." + ext;
      const std::string cls = AssociationClassName(ext);
      const std::string old = reg.ReadString(Root::ClassesRoot, extKey, "");
      if (old == cls && !force) continue;
      if (!old.empty() && old != cls) reg.WriteString(Root::ClassesRoot, extKey, "BakType", old);
      reg.WriteString(Root::ClassesRoot, extKey, "", cls);
      const std::string quotedExe = "\"" + target.ExecutablePath + "\"";
      reg.WriteString(Root::ClassesRoot, cls, "", target.AppTitle + ext + "文件");
      reg.WriteString(Root::ClassesRoot, cls + "\\DefaultIcon", "",
                      target.ExecutablePath + "," + std::to_string(IconIndex(target, ext)));
      reg.WriteString(Root::ClassesRoot, cls + "\\Shell\\Open", "", "打开(&O)");
      reg.WriteString(Root::ClassesRoot, cls + "\\Shell\\Open\\Command", "", quotedExe + " /Open \"%1\"");
      reg.WriteString(Root::ClassesRoot, cls + "\\Shell\\PlayList", "", "添加到“" + target.AppTitle + "”播放列表(&P)");
      reg.WriteString(Root::ClassesRoot, cls + "\\Shell\\PlayList\\Command", "", quotedExe + " /List \"%1\"");
      ++written;
    }
  });
  return saved ? written : 0;
}

void UnregisterFileAssociation(TRegistryStore& store, const std::string& rawExt) {
  using Root = TRegistryStore::Root;
  const std::string ext = Upper(rawExt);
  const std::string extKey = "." + ext;
  store.Edit([&](TRegistryStore::TEdit& reg) {
    if (!reg.KeyExists(Root::ClassesRoot, extKey)) return;
    if (!EqualsNoCase(reg.ReadString(Root::ClassesRoot, extKey, ""), AssociationClassName(ext))) return;
    reg.WriteString(Root::ClassesRoot, extKey, "", reg.ReadString(Root::ClassesRoot, extKey, "BakType", ""));
    reg.DeleteValue(Root::ClassesRoot, extKey, "BakType");
  });
}

}  // namespace ml
