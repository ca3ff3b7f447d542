#include "cli/CliSettings.h"

#include "app/AppInfo.h"
#include "app/uSettingMgr.h"

namespace mlcli {

std::unique_ptr<ml::TSettingMgr> OpenSavedSettings(CliContext& context) {
  ml::TSkinResStrings strings;
  strings.Load(ml::DefaultSkinResDir());
  const ml::TAppInfo info = ml::MakeAppInfo(strings, context.AppDir());
  auto settings = std::make_unique<ml::TSettingMgr>(
      info.SettingsFileName(), ml::TSettingContext{info.AppDir, info.ExeBaseName, {}, {}, nullptr});
  settings->SaveAtExit(false);
  return settings;
}

}  // namespace mlcli
