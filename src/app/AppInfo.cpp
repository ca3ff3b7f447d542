#include "app/AppInfo.h"

#include "base/AppPaths.h"
#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/IniFile.h"
#include "base/StrUtil.h"

#include <filesystem>

namespace ml {

bool TSkinResStrings::Load(const std::string& skinResDir) {
  loaded_ = false;
  for (auto& v : values_) v.clear();
  IniFile ini;
  if (!ini.Load(WithTrailingSlash(skinResDir) + FileName)) return false;
  for (int id = 1; id <= 6; ++id) {
    // The limit counts GBK bytes, as the strings travel in that form; cutting on a whole
    // character keeps the rest decodable.
    std::string gbk = Utf8ToGbk(ini.ReadString("Strings", std::to_string(id)));
    values_[id] = GbkToUtf8(GbkTruncate(gbk, MaxStringBytes));
  }
  loaded_ = true;
  return true;
}

std::string TSkinResStrings::LoadString(int id, std::string_view fallback) const {
  if (!loaded_) return {};
  if (id < 1 || id > 6 || values_[id].empty()) return std::string(fallback);
  return values_[id];
}

std::string TAppInfo::SettingsFileName() const {
  std::string name = ExeFileName;
  auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return AppDir + name + ".xml";
}

TAppInfo MakeAppInfo(const TSkinResStrings& strings, const std::string& appDir) {
  TAppInfo info;
  info.SkinResLoaded = strings.Loaded();
  info.AppDisplayName = strings.LoadString(1);
  info.AppTitle = strings.LoadString(2);
  info.AppSlogan = strings.LoadString(3);
  info.ExeBaseName = strings.LoadString(4);
  // An empty base name would make the settings file a hidden ".xml" and leave the updater no
  // name to look for, so the platform's own name stands in.
  if (info.ExeBaseName.empty()) info.ExeBaseName = DefaultExeBaseName;
  info.EditionCode = ParseInt32Def(strings.LoadString(5), 0);
  info.RegistryKeyName = strings.LoadString(6, info.ExeBaseName);
  if (info.RegistryKeyName.empty()) info.RegistryKeyName = info.ExeBaseName;
  info.ExeFileName = info.ExeBaseName;  // executables carry no extension here
  info.RegistryPath = "\\Software\\" + info.RegistryKeyName;
  info.AppDir = appDir.empty() ? appDir : WithTrailingSlash(appDir);
  return info;
}

TAppInfo LoadAppInfo(const std::string& skinResDir, const std::string& dataDirOption) {
  TSkinResStrings strings;
  strings.Load(skinResDir);
  TAppInfo info = MakeAppInfo(strings, ResolveAppDir(dataDirOption));
  info.SkinResDir = WithTrailingSlash(skinResDir);
  return info;
}

std::string DefaultSkinResDir() { return ExecutableDir() + "SkinRes/"; }

namespace {
// Written once at start-up, before any other thread exists; read-only afterwards.
TAppInfo g_info;
}  // namespace

const TAppInfo& AppInfo() { return g_info; }

void SetAppInfo(TAppInfo info) { g_info = std::move(info); }

}  // namespace ml
