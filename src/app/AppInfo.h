#pragma once
// The process-wide start-up values: product strings from the SkinRes/ folder beside the program,
// the names derived from them, and the data folder. They are filled once, before anything else
// of the program exists, and read everywhere afterwards.
#include "base/Version.h"

#include <string>
#include <string_view>

namespace ml {

// The product strings of the SkinRes/ folder ("Strings.ini", section "Strings", keys "1" to "6").
// The folder stands for the resource library: when its strings file cannot be read the library
// counts as not loaded.
class TSkinResStrings {
public:
  static constexpr const char* FileName = "Strings.ini";
  // A string holds at most this many bytes in its GBK form (the 256-byte load buffer).
  static constexpr std::size_t MaxStringBytes = 255;

  // Reads skinResDir + "Strings.ini". Returns Loaded().
  bool Load(const std::string& skinResDir);
  bool Loaded() const { return loaded_; }

  // String id as UTF-8, cut to MaxStringBytes of GBK. Not loaded: empty. Loaded but the string is
  // missing or empty: fallback.
  std::string LoadString(int id, std::string_view fallback = {}) const;

private:
  bool loaded_ = false;
  std::string values_[7];
};

// The executable's base name on this platform when the strings do not give one: the settings
// file is then AppDir + "minilirra.xml".
inline constexpr const char* DefaultExeBaseName = "minilirra";

struct TAppInfo {
  std::string AppDisplayName;   // string 1, e.g. "迷你琴鸟播放器"
  std::string AppTitle;         // string 2: caption of message boxes and notices
  std::string AppSlogan;        // string 3: tray hint and scrolling information label
  std::string ExeBaseName;      // string 4: executable name without extension
  int EditionCode = 0;          // string 5: 0 standard, 1 partner edition
  std::string RegistryKeyName;  // string 6, else ExeBaseName
  std::string ExeFileName;      // the executable's file name (no ".exe" on this platform)
  std::string RegistryPath;     // "\Software\" + RegistryKeyName
  std::string AppDir;           // base of every data file, trailing "/"
  bool SkinResLoaded = false;
  std::string SkinResDir;       // trailing "/"

  // The settings file: AppDir + ExeFileName with its extension changed to ".xml".
  std::string SettingsFileName() const;
};

// Fills every value from the strings (loaded or not) and the data folder.
TAppInfo MakeAppInfo(const TSkinResStrings& strings, const std::string& appDir);

// Reads skinResDir's strings and resolves AppDir from the --data-dir option (see ResolveAppDir).
TAppInfo LoadAppInfo(const std::string& skinResDir, const std::string& dataDirOption);

// SkinRes/ beside the running executable.
std::string DefaultSkinResDir();

// The process-wide copy, set once at start-up.
const TAppInfo& AppInfo();
void SetAppInfo(TAppInfo info);

}  // namespace ml
