#pragma once
// Every user setting of the program, loaded from one XML file in AppDir when the manager is
// created and written back whole when it is destroyed or the options dialog applies changes.
// The fields are public: the parts of the program that act on a setting read it directly.
#include "base/Rect.h"
#include "dsp/dspEqualizer.h"  // EQBandCount

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ml {

class TRegistryStore;
class TXmlNode;

struct TFontInfo {
  std::string Name = "宋体";
  int32_t Size = 9;
  bool Bold = false, Italic = false, Underline = false, Strikeout = false;
  bool operator==(const TFontInfo&) const = default;
};

struct THotKeyMap {
  std::string ActionName;
  int32_t LocalKey = 0;   // virtual-key code + 8192 Shift, 16384 Ctrl, 32768 Alt; 0 = none
  int32_t GlobalKey = 0;
  bool operator==(const THotKeyMap&) const = default;
};

constexpr size_t HotKeyCount = 21;

// What the manager needs to know of its surroundings.
struct TSettingContext {
  std::string AppDir;         // with trailing "/"
  std::string RootName;       // the document's root element (ExeBaseName)
  std::string AppTitle;       // for the file-association texts
  std::string ExecutablePath; // for the file-association commands
  TRegistryStore* Registry = nullptr;  // where associations are written; none: not written
};

class TSettingMgr {
public:
  // Stores the path and loads the file; a damaged or missing file gives the defaults.
  TSettingMgr(std::string filePath, TSettingContext context);
  // Saves, swallowing errors.
  ~TSettingMgr();
  TSettingMgr(const TSettingMgr&) = delete;
  TSettingMgr& operator=(const TSettingMgr&) = delete;

  // Reads every section (in the file's read order) into the fields. Returns false when the file
  // was damaged: the sections it still held are read, every other section gets its section
  // defaults, and the damaged file is kept beside it as ".bak". A file that exists but cannot be
  // read at all (no permission, an I/O error, too large) is never written over: the settings
  // come from the copy beside it (FilePath() + ".new") when there is one, else the defaults, and
  // LoadProblem() says why.
  bool Load();
  // Writes the whole file atomically (mode 0600: it can hold the proxy password) to SavePath().
  // While the user's own file is kept (LoadProblem() set), a save that would change nothing is
  // skipped, so the copy appears only once the user changes something.
  bool Save(std::string* error = nullptr);
  // For tools that only read the settings (the command line): nothing is written at destruction.
  void SaveAtExit(bool value) { saveAtExit_ = value; }
  // Writes the file associations for every listed extension (see uFileAssociation.h).
  void RegisterAssociations(bool force);

  const std::string& FilePath() const { return filePath_; }
  // Where Save writes: FilePath(), or the ".new" copy while the file itself cannot be read.
  const std::string& SavePath() const { return savePath_; }
  // Why the settings file could not be read; empty when it was read or did not exist.
  const std::string& LoadProblem() const { return loadProblem_; }

  // Misc
  std::string DefaultDownPath;
  // Player
  bool Mute = false;
  int32_t Volume = 0;
  TRect MainFormRect, MiniFormRect, PlayListFormRect, EQFormRect, LRCFormRect;
  bool PlayListFormVisible = false, EQFormVisible = false, LRCFormVisible = false;
  bool MiniMode = false;
  int32_t MiniLRCWidth = 0;
  int32_t PlayListCount = 0, ActivePlayList = 0, ActivePlayIndex = 0;
  int32_t PlayListMgrWidth = 0;
  bool PlayListMgrVisible = false;
  int32_t PlayListLoopType = 0, PlayListOrderType = 0;
  // Equalizer
  bool EQEnable = false;
  int32_t Preamp = 0, Balance = 0, Sound3D = 0;
  std::array<int32_t, EQBandCount> EQBandsData{};
  // AudioDevice
  uint8_t DeviceType = 0;
  int32_t DeviceIndex = 0;
  // Lyric
  std::string LRCSavePath;
  bool LRCStayOnTop = false, AutoShowLRC = false, AutoSaveLRCModify = false;
  int32_t LRCShowStyle = 0;
  bool DragLRCSetPlayPosition = false;
  int32_t LRCBlendValue = 0;
  uint32_t LRCTextColor = 0, LRCScrollColor = 0, LRCBGColor = 0;
  TFontInfo LRCFontInfo;
  // Plugin
  std::string PluginPath;
  std::vector<std::string> PluginModules;  // "library|index"
  // Associates
  bool AssociatesEnabled = false;
  std::vector<std::string> AssociatedExts;
  // General
  bool TaskBarScrollText = false;
  int32_t MagneticSize = 0;
  bool GlobalHotKeyActionMsg = false, WebBillClickMsg = false;
  std::string SOEMUrl, SOEMUrl1, SOEMUrl2;
  // PlayBack
  uint8_t AutoPlay = 0;
  int32_t PlayPriority = 0;
  bool AutoStopWhenError = false;
  // PlayList
  bool DisableDelFile = false, IgnoreUnExistFiles = false, ItemInfoHint = false, EnablePlaylistDrag = false;
  // Network
  int32_t NetType = 0, ProxyType = 0;
  std::string ProxyAddr;
  int32_t ProxyPort = 0;
  std::string ProxyUser, ProxyPwd;
  int32_t DownPort = 0;
  int32_t DownSpeed = 0;
  // HotKey
  bool GlobalHotKey = false;
  std::array<THotKeyMap, HotKeyCount> KeyMaps;
  // Skin: the tint as a colour value (red in the low byte); 0 = none
  uint32_t AdjustColor = 0;

  // Defaults and value formats, shared with the options dialog.
  static const std::array<THotKeyMap, HotKeyCount>& DefaultKeyMaps();
  static const std::vector<std::string>& DefaultAssociatedExts();
  static std::string DefaultWebPage(int index);  // 0..2
  static std::string FormatRect(const TRect& r);
  static TRect ParseRect(const std::string& text);
  static std::string FormatFont(const TFontInfo& f);
  static TFontInfo ParseFont(const std::string& text);
  static std::string FormatEQBands(const std::array<int32_t, EQBandCount>& bands);
  static std::array<int32_t, EQBandCount> ParseEQBands(const std::string& text);
  static std::string FormatKeyMap(const THotKeyMap& k);
  static THotKeyMap ParseKeyMap(const std::string& text, size_t index);
  static int32_t RandomDownPort();

private:
  void ReadMisc(const TXmlNode* n);
  void ReadPlayer(const TXmlNode* n);
  void ReadEqualizer(const TXmlNode* n);
  void ReadAudioDevice(const TXmlNode* n);
  void ReadLyric(const TXmlNode* n);
  void ReadPlugin(const TXmlNode* n);
  void ReadAssociates(const TXmlNode* n);
  void ReadGeneral(const TXmlNode* n);
  void ReadPlayBack(const TXmlNode* n);
  void ReadPlayList(const TXmlNode* n);
  void ReadNetwork(const TXmlNode* n);
  void ReadHotKey(const TXmlNode* n);
  void ReadSkin(const TXmlNode* n);
  std::string SavedText() const;

  std::string filePath_;
  std::string savePath_;
  bool saveAtExit_ = true;
  std::string loadProblem_;
  std::string unchangedText_;  // the settings as loaded, while the user's unreadable file is kept
  TSettingContext context_;
};

}  // namespace ml
