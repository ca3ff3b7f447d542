#include "cli/CliLibrary.h"

#include <cstdio>

#include "app/AppInfo.h"
#include "app/uSettingMgr.h"

namespace mlcli {

std::unique_ptr<Library> LoadLibrary(CliContext& ctx) {
  auto lib = std::make_unique<Library>();
  lib->file = ctx.AppDir() + "MusicFiles.xml";
  std::string error;
  if (!lib->mgr.LoadWithRecovery(lib->file, &error)) {
    std::fprintf(stderr, "minilirra-cli: the library could not be read (%s); it was moved aside\n", error.c_str());
    return nullptr;
  }
  return lib;
}

bool SaveLibrary(Library& lib) {
  std::string error;
  if (lib.mgr.Save(lib.file, &error)) return true;
  std::fprintf(stderr, "minilirra-cli: the library was not saved: %s\n", error.c_str());
  return false;
}

std::unique_ptr<ml::TSettingMgr> LoadPlayerSettings(CliContext& ctx) {
  ml::TSkinResStrings strings;
  strings.Load(ml::DefaultSkinResDir());
  const ml::TAppInfo info = ml::MakeAppInfo(strings, ctx.AppDir());
  auto settings = std::make_unique<ml::TSettingMgr>(
      info.SettingsFileName(), ml::TSettingContext{info.AppDir, info.ExeBaseName, {}, {}, nullptr});
  settings->SaveAtExit(false);
  return settings;
}

}  // namespace mlcli
