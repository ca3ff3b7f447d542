#include "app/uSettingMgr.h"

#include "base/ColorText.h"
#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "xml/XmlDocument.h"
#include "app/uFileAssociation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace ml {
namespace {

// Reads one section element; a null node means the section is missing and section defaults apply.
class SectionReader {
public:
  explicit SectionReader(const TXmlNode* n) : n_(n) {}
  bool Present() const { return n_ != nullptr; }
  // keyDefault when the section exists without the key, sectionDefault when the section is missing.
  int64_t Integer(const char* key, int64_t keyDefault, int64_t sectionDefault) const {
    return n_ ? n_->AttributeInt(key, keyDefault) : sectionDefault;
  }
  int64_t Integer(const char* key, int64_t keyDefault) const { return Integer(key, keyDefault, keyDefault); }
  bool Boolean(const char* key, bool keyDefault, bool sectionDefault) const {
    return Integer(key, keyDefault, sectionDefault) != 0;
  }
  bool Boolean(const char* key, bool keyDefault) const { return Boolean(key, keyDefault, keyDefault); }
  int32_t Int32(const char* key, int32_t keyDefault, int32_t sectionDefault) const {
    return static_cast<int32_t>(Integer(key, keyDefault, sectionDefault));
  }
  int32_t Int32(const char* key, int32_t keyDefault) const { return Int32(key, keyDefault, keyDefault); }
  // A text value as the program will use it: what survives GBK (see docs/settings.md).
  std::string Text(const char* key, const std::string& fallback = {}) const {
    return n_ && n_->HasAttribute(key) ? GbkRepresentable(n_->Attribute(key)) : fallback;
  }
  // Folder and file names are the file system's own bytes and never pass through GBK.
  std::string Path(const char* key, const std::string& fallback = {}) const {
    return n_ && n_->HasAttribute(key) ? n_->Attribute(key) : fallback;
  }
  const TXmlNode* Node() const { return n_; }

private:
  const TXmlNode* n_;
};

std::vector<std::string> SplitAt(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t pos = s.find(sep, start);
    parts.push_back(s.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) break;
    start = pos + 1;
  }
  return parts;
}

// True when the element named name, starting at nameOffset in raw, was closed before limit: a
// section element cut off by a truncated file is not trusted.
bool ElementClosedBefore(std::string_view raw, ptrdiff_t nameOffset, const std::string& name, ptrdiff_t limit) {
  if (nameOffset < 0 || limit < 0) return false;
  raw = raw.substr(0, static_cast<size_t>(std::min<ptrdiff_t>(limit, static_cast<ptrdiff_t>(raw.size()))));
  char quote = 0;
  for (size_t i = static_cast<size_t>(nameOffset); i < raw.size(); ++i) {
    char c = raw[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      if (raw[i - 1] == '/') return true;
      return raw.find("</" + name, i) != std::string_view::npos;
    }
  }
  return false;
}

const char* const SectionReadOrder[] = {"Misc", "Player", "Equalizer", "AudioDevice", "Lyric", "Plugin", "Associates",
                                        "General", "PlayBack", "PlayList", "Network", "HotKey", "Skin"};

}  // namespace

TSettingMgr::TSettingMgr(std::string filePath, TSettingContext context)
    : filePath_(std::move(filePath)), savePath_(filePath_), context_(std::move(context)) {
  try {
    Load();
  } catch (const std::exception& e) {
    DebugTrace("settings: load failed: %s", e.what());
  }
}

TSettingMgr::~TSettingMgr() {
  if (!saveAtExit_) return;
  try {
    Save();
  } catch (...) {
  }
}

bool TSettingMgr::Load() {
  TXmlDocument doc;
  std::string error;
  bool intact = true;
  std::vector<TXmlNode> sections(std::size(SectionReadOrder));
  constexpr uint64_t kMaxBytes = 64 * 1024 * 1024;
  loadProblem_.clear();
  unchangedText_.clear();
  savePath_ = filePath_;
  std::optional<std::string> raw = ReadFileBytes(filePath_, kMaxBytes);
  struct stat st{};
  const bool present = ::stat(filePath_.c_str(), &st) == 0 || errno != ENOENT;
  if (!raw && present) {
    // There is something and it is the user's: defaults must not be saved over it.
    loadProblem_ = S_ISREG(st.st_mode) && uint64_t(st.st_size) > kMaxBytes ? "it is larger than 64 MiB"
                   : !S_ISREG(st.st_mode)                                 ? "it is not a regular file"
                   : ::access(filePath_.c_str(), R_OK) != 0               ? std::strerror(errno)
                                                                          : "it could not be read";
    savePath_ = filePath_ + ".new";
    DebugTrace("settings: %s cannot be read (%s); it is kept, and changes go to %s", filePath_.c_str(),
               loadProblem_.c_str(), savePath_.c_str());
    raw = ReadFileBytes(savePath_, kMaxBytes);
  }
  if (raw) {
    intact = doc.LoadString(*raw, &error, true);
    if (TXmlNode root = doc.Root()) {
      std::vector<TXmlNode> children = root.Children();
      for (size_t i = 0; i < std::size(SectionReadOrder); ++i) sections[i] = root.Child(SectionReadOrder[i]);
      // In a damaged file the element being read when the text broke off is incomplete: it
      // gets its section defaults like the sections that never arrived.
      if (!intact && !children.empty()) {
        TXmlNode last = children.back();
        if (!ElementClosedBefore(*raw, last.SourceOffset(), last.Name(), doc.ErrorOffset()))
          for (auto& s : sections)
            if (s && s == last) s = TXmlNode();
      }
    }
    if (!intact) {
      DebugTrace("settings: %s is damaged (%s); kept as .bak", savePath_.c_str(), error.c_str());
      WriteFileAtomic(savePath_ + ".bak", *raw, 0600);
    }
  }
  auto at = [&](size_t i) -> const TXmlNode* { return sections[i] ? &sections[i] : nullptr; };
  ReadMisc(at(0));
  ReadPlayer(at(1));
  ReadEqualizer(at(2));
  ReadAudioDevice(at(3));
  ReadLyric(at(4));
  ReadPlugin(at(5));
  ReadAssociates(at(6));
  ReadGeneral(at(7));
  ReadPlayBack(at(8));
  ReadPlayList(at(9));
  ReadNetwork(at(10));
  ReadHotKey(at(11));
  ReadSkin(at(12));
  if (!loadProblem_.empty()) unchangedText_ = SavedText();
  return intact;
}

void TSettingMgr::ReadMisc(const TXmlNode* n) {
  SectionReader r(n);
  DefaultDownPath = r.Path("DefaultDownPath");
  if (DefaultDownPath.empty()) DefaultDownPath = context_.AppDir + "Music/";
}

void TSettingMgr::ReadPlayer(const TXmlNode* n) {
  SectionReader r(n);
  Mute = r.Boolean("Mute", false);
  Volume = r.Int32("Volume", 100);
  MainFormRect = ParseRect(r.Text("MainFormRect", "0"));
  MiniFormRect = ParseRect(r.Text("MiniFormRect", "0"));
  PlayListFormRect = ParseRect(r.Text("PlayListFormRect", "0"));
  EQFormRect = ParseRect(r.Text("EQFormRect", "0"));
  LRCFormRect = ParseRect(r.Text("LRCFormRect", "0"));
  PlayListFormVisible = r.Boolean("PlayListFormVisible", false, true);
  EQFormVisible = r.Boolean("EQFormVisible", false, true);
  LRCFormVisible = r.Boolean("LRCFormVisible", false, true);
  MiniMode = r.Boolean("MiniMode", false);
  MiniLRCWidth = r.Int32("MiniLRCWidth", 300);
  PlayListCount = r.Int32("PlayListCount", 0);
  ActivePlayList = r.Int32("ActivePlayList", 0);
  ActivePlayIndex = r.Int32("ActivePlayIndex", 0);
  PlayListMgrWidth = r.Int32("PlayListMgrWidth", 90);
  PlayListMgrVisible = r.Boolean("PlayListMgrVisible", false);
  PlayListLoopType = r.Int32("PlayListLoopType", 0);
  PlayListOrderType = r.Int32("PlayListOrderType", 0);
}

void TSettingMgr::ReadEqualizer(const TXmlNode* n) {
  SectionReader r(n);
  EQEnable = r.Boolean("EQEnable", false);
  Preamp = r.Int32("Preamp", 0);
  Balance = r.Int32("Balance", 0);
  Sound3D = r.Int32("Sound3D", 0);
  EQBandsData = ParseEQBands(r.Text("EQBandsData"));
}

void TSettingMgr::ReadAudioDevice(const TXmlNode* n) {
  SectionReader r(n);
  DeviceType = static_cast<uint8_t>(r.Integer("DeviceType", 0));
  DeviceIndex = r.Int32("DeviceIndex", 0);
}

void TSettingMgr::ReadLyric(const TXmlNode* n) {
  SectionReader r(n);
  LRCSavePath = r.Path("LRCSavePath");
  if (LRCSavePath.empty()) LRCSavePath = context_.AppDir + "Lyric/";
  LRCStayOnTop = r.Boolean("LRCStayOnTop", false);
  AutoShowLRC = r.Boolean("AutoShowLRC", true);
  AutoSaveLRCModify = r.Boolean("AutoSaveLRCModify", true, false);
  LRCShowStyle = r.Int32("LRCShowStyle", 0);
  DragLRCSetPlayPosition = r.Boolean("DragLRCSetPlayPosition", true);
  LRCBlendValue = r.Int32("LRCBlendValue", 3);
  LRCTextColor = static_cast<uint32_t>(r.Integer("LRCTextColor", 39270));
  LRCScrollColor = static_cast<uint32_t>(r.Integer("LRCScrollColor", 33023));
  LRCBGColor = static_cast<uint32_t>(r.Integer("LRCBGColor", 16777215));
  LRCFontInfo = ParseFont(r.Text("LRCFontInfo", "宋体, 9, []"));
}

void TSettingMgr::ReadPlugin(const TXmlNode* n) {
  SectionReader r(n);
  PluginPath = r.Path("PluginPath");
  PluginModules.clear();
  const int64_t count = r.Integer("ModulesCount", 0);
  // The count comes from the file; only the ModuleN keys that are really there are taken.
  for (int64_t i = 0; n && i < count && i < 1024; ++i) {
    std::string key = "Module" + std::to_string(i);
    if (!n->HasAttribute(key)) continue;
    PluginModules.push_back(n->Attribute(key));
  }
}

void TSettingMgr::ReadAssociates(const TXmlNode* n) {
  SectionReader r(n);
  AssociatesEnabled = r.Boolean("Enabled", false, true);
  AssociatedExts.clear();
  if (n)
    for (const TXmlNode& child : n->Children()) {
      std::string ext(Trim(child.Value()));
      if (!ext.empty()) AssociatedExts.push_back(ext);
    }
  if (!n || (AssociatedExts.empty() && AssociatesEnabled)) AssociatedExts = DefaultAssociatedExts();
  if (!n) RegisterAssociations(false);
}

void TSettingMgr::ReadGeneral(const TXmlNode* n) {
  SectionReader r(n);
  TaskBarScrollText = r.Boolean("TaskBarScrollText", true);
  MagneticSize = r.Int32("MagneticSize", 10);
  GlobalHotKeyActionMsg = r.Boolean("GlobalHotKeyActionMsg", true);
  WebBillClickMsg = r.Boolean("WebBillClickMsg", true);
  std::string* pages[] = {&SOEMUrl, &SOEMUrl1, &SOEMUrl2};
  const char* keys[] = {"SOEMUrl", "SOEMUrl1", "SOEMUrl2"};
  for (int i = 0; i < 3; ++i) {
    *pages[i] = r.Text(keys[i]);
    if (pages[i]->empty()) *pages[i] = DefaultWebPage(i);
  }
}

void TSettingMgr::ReadPlayBack(const TXmlNode* n) {
  SectionReader r(n);
  AutoPlay = static_cast<uint8_t>(r.Integer("AutoPlay", 0));
  PlayPriority = r.Int32("PlayPriority", 0);
  AutoStopWhenError = r.Boolean("AutoStopWhenError", true);
}

void TSettingMgr::ReadPlayList(const TXmlNode* n) {
  SectionReader r(n);
  DisableDelFile = r.Boolean("DisableDelFile", false);
  IgnoreUnExistFiles = r.Boolean("IgnoreUnExistFiles", false);
  ItemInfoHint = r.Boolean("ItemInfoHint", true);
  EnablePlaylistDrag = r.Boolean("EnablePlaylistDrag", true);
}

void TSettingMgr::ReadNetwork(const TXmlNode* n) {
  SectionReader r(n);
  NetType = r.Int32("NetType", 0);
  ProxyType = r.Int32("ProxyType", 0);
  ProxyAddr = r.Text("ProxyAddr");
  ProxyPort = r.Int32("ProxyPort", 0);
  ProxyUser = r.Text("ProxyUser");
  ProxyPwd = r.Text("ProxyPwd");
  DownPort = r.Int32("DownPort", 0);
  // A port is 1..65535: none (0, or a negative number) gets a random one as a missing key does,
  // and a number above the range is held to its end.
  if (DownPort <= 0) DownPort = RandomDownPort();
  DownPort = std::min(DownPort, 65535);
  DownSpeed = r.Int32("DownSpeed", 0);
}

void TSettingMgr::ReadHotKey(const TXmlNode* n) {
  SectionReader r(n);
  GlobalHotKey = r.Boolean("GlobalHotKey", true);
  for (size_t i = 0; i < HotKeyCount; ++i)
    KeyMaps[i] = ParseKeyMap(r.Text(("KeyMap" + std::to_string(i)).c_str()), i);
}

void TSettingMgr::ReadSkin(const TXmlNode* n) {
  SectionReader r(n);
  AdjustColor = 0;
  // A bad colour leaves the tint at 0; Skin is the last section, so nothing else is lost.
  try {
    AdjustColor = ParseColorText(r.Text("AdjustColor", "#000000"));
  } catch (const std::invalid_argument&) {
    DebugTrace("settings: bad AdjustColor ignored");
  }
}

bool TSettingMgr::Save(std::string* error) {
  const std::string text = SavedText();
  if (!loadProblem_.empty() && text == unchangedText_) return true;
  return WriteFileAtomic(savePath_, text, 0600, error);
}

std::string TSettingMgr::SavedText() const {
  TXmlDocument doc;
  TXmlNode root = doc.Reset(context_.RootName.empty() ? "minilirra" : context_.RootName);
  root.SetAttribute("version", "1.0");

  TXmlNode misc = root.AddChild("Misc");
  misc.SetAttribute("DefaultDownPath", DefaultDownPath);

  TXmlNode p = root.AddChild("Player");
  p.SetAttribute("Mute", Mute);
  p.SetAttribute("Volume", Volume);
  p.SetAttribute("MainFormRect", FormatRect(MainFormRect));
  p.SetAttribute("MiniFormRect", FormatRect(MiniFormRect));
  p.SetAttribute("PlayListFormRect", FormatRect(PlayListFormRect));
  p.SetAttribute("EQFormRect", FormatRect(EQFormRect));
  p.SetAttribute("LRCFormRect", FormatRect(LRCFormRect));
  p.SetAttribute("PlayListFormVisible", PlayListFormVisible);
  p.SetAttribute("EQFormVisible", EQFormVisible);
  p.SetAttribute("LRCFormVisible", LRCFormVisible);
  p.SetAttribute("MiniMode", MiniMode);
  p.SetAttribute("MiniLRCWidth", MiniLRCWidth);
  p.SetAttribute("PlayListCount", PlayListCount);
  p.SetAttribute("ActivePlayList", ActivePlayList);
  p.SetAttribute("ActivePlayIndex", ActivePlayIndex);
  p.SetAttribute("PlayListMgrWidth", PlayListMgrWidth);
  p.SetAttribute("PlayListMgrVisible", PlayListMgrVisible);
  p.SetAttribute("PlayListLoopType", PlayListLoopType);
  p.SetAttribute("PlayListOrderType", PlayListOrderType);

  TXmlNode eq = root.AddChild("Equalizer");
  eq.SetAttribute("EQEnable", EQEnable);
  eq.SetAttribute("Preamp", Preamp);
  eq.SetAttribute("Balance", Balance);
  eq.SetAttribute("Sound3D", Sound3D);
  eq.SetAttribute("EQBandsData", FormatEQBands(EQBandsData));

  TXmlNode lrc = root.AddChild("Lyric");
  lrc.SetAttribute("LRCSavePath", LRCSavePath);
  lrc.SetAttribute("LRCStayOnTop", LRCStayOnTop);
  lrc.SetAttribute("AutoShowLRC", AutoShowLRC);
  lrc.SetAttribute("AutoSaveLRCModify", AutoSaveLRCModify);
  lrc.SetAttribute("LRCShowStyle", LRCShowStyle);
  lrc.SetAttribute("DragLRCSetPlayPosition", DragLRCSetPlayPosition);
  lrc.SetAttribute("LRCBlendValue", LRCBlendValue);
  lrc.SetAttribute("LRCTextColor", int64_t{LRCTextColor});
  lrc.SetAttribute("LRCScrollColor", int64_t{LRCScrollColor});
  lrc.SetAttribute("LRCBGColor", int64_t{LRCBGColor});
  lrc.SetAttribute("LRCFontInfo", FormatFont(LRCFontInfo));

  TXmlNode plug = root.AddChild("Plugin");
  plug.SetAttribute("PluginPath", PluginPath);
  plug.SetAttribute("ModulesCount", static_cast<int64_t>(PluginModules.size()));
  for (size_t i = 0; i < PluginModules.size(); ++i)
    plug.SetAttribute("Module" + std::to_string(i), PluginModules[i]);

  TXmlNode assoc = root.AddChild("Associates");
  assoc.SetAttribute("Enabled", AssociatesEnabled);
  for (const auto& ext : AssociatedExts) assoc.AddChild("FileExt").SetValue(ext);

  TXmlNode dev = root.AddChild("AudioDevice");
  dev.SetAttribute("DeviceType", int64_t{DeviceType});
  dev.SetAttribute("DeviceIndex", DeviceIndex);

  TXmlNode gen = root.AddChild("General");
  gen.SetAttribute("TaskBarScrollText", TaskBarScrollText);
  gen.SetAttribute("MagneticSize", MagneticSize);
  gen.SetAttribute("GlobalHotKeyActionMsg", GlobalHotKeyActionMsg);
  gen.SetAttribute("WebBillClickMsg", WebBillClickMsg);
  gen.SetAttribute("SOEMUrl", SOEMUrl);
  gen.SetAttribute("SOEMUrl1", SOEMUrl1);
  gen.SetAttribute("SOEMUrl2", SOEMUrl2);

  TXmlNode pb = root.AddChild("PlayBack");
  pb.SetAttribute("AutoPlay", int64_t{AutoPlay});
  pb.SetAttribute("PlayPriority", PlayPriority);
  pb.SetAttribute("AutoStopWhenError", AutoStopWhenError);

  TXmlNode pl = root.AddChild("PlayList");
  pl.SetAttribute("DisableDelFile", DisableDelFile);
  pl.SetAttribute("IgnoreUnExistFiles", IgnoreUnExistFiles);
  pl.SetAttribute("ItemInfoHint", ItemInfoHint);
  pl.SetAttribute("EnablePlaylistDrag", EnablePlaylistDrag);

  TXmlNode net = root.AddChild("Network");
  net.SetAttribute("NetType", NetType);
  net.SetAttribute("ProxyType", ProxyType);
  net.SetAttribute("ProxyAddr", ProxyAddr);
  net.SetAttribute("ProxyPort", ProxyPort);
  net.SetAttribute("ProxyUser", ProxyUser);
  net.SetAttribute("ProxyPwd", ProxyPwd);
  net.SetAttribute("DownPort", DownPort);
  net.SetAttribute("DownSpeed", DownSpeed);

  TXmlNode hk = root.AddChild("HotKey");
  hk.SetAttribute("GlobalHotKey", GlobalHotKey);
  for (size_t i = 0; i < HotKeyCount; ++i) hk.SetAttribute("KeyMap" + std::to_string(i), FormatKeyMap(KeyMaps[i]));

  root.AddChild("Skin").SetAttribute("AdjustColor", FormatColorText(AdjustColor));
  return doc.ToString();
}

void TSettingMgr::RegisterAssociations(bool force) {
  if (!context_.Registry || !AssociatesEnabled) return;
  try {
    RegisterFileAssociations(*context_.Registry, AssociatedExts, force,
                             TAssociationTarget{context_.AppTitle, context_.ExecutablePath, {}});
  } catch (const std::exception& e) {
    DebugTrace("settings: associations not written: %s", e.what());
  }
}

const std::array<THotKeyMap, HotKeyCount>& TSettingMgr::DefaultKeyMaps() {
  static const std::array<THotKeyMap, HotKeyCount> rows = {{
      {"选项", 112, 0},           {"播放/暂停", 116, 49268},   {"上一曲", 16421, 49189},
      {"下一曲", 16423, 49191},   {"停止播放", 117, 49269},    {"模式切换", 16461, 49229},
      {"增大声音", 32806, 49190}, {"减少声音", 32808, 49192},  {"静音开关", 16467, 49235},
      {"歌词窗口", 113, 0},       {"播放文件", 16463, 0},      {"添加文件", 16454, 0},
      {"添加文件夹", 16464, 0},   {"查找歌曲", 32838, 0},      {"查找下一个", 32846, 0},
      {"快速定位文件", 32849, 0}, {"搜索歌词", 16460, 0},      {"浏览文件", 16450, 0},
      {"上传播放列表", 16469, 0}, {"下载播放列表", 16452, 0},  {"重新排列播放器窗口", 16471, 49239},
  }};
  return rows;
}

const std::vector<std::string>& TSettingMgr::DefaultAssociatedExts() {
  static const std::vector<std::string> exts = {"MP1", "MP2", "MP3", "WMA", "WAV", "OGG", "APE", "M3U"};
  return exts;
}

std::string TSettingMgr::DefaultWebPage(int index) {
  // The partner's music site: our own service's web pages on this machine by default.
  static const char* const paths[] = {"tavroplayer/", "tavroplayer/paihang.htm", "tavroplayer/shoucang.htm"};
  return std::string("http://127.0.0.1:8880/") + paths[std::clamp(index, 0, 2)];
}

std::string TSettingMgr::FormatRect(const TRect& r) {
  return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) + "," +
         std::to_string(r.Bottom);
}

TRect TSettingMgr::ParseRect(const std::string& text) {
  TRect r;
  if (text == "0") return r;
  auto fields = SplitAt(text, ',');
  int32_t* out[] = {&r.Left, &r.Top, &r.Right, &r.Bottom};
  for (size_t i = 0; i < 4 && i < fields.size(); ++i) *out[i] = ParseInt32Def(fields[i], 0);
  return r;
}

std::string TSettingMgr::FormatFont(const TFontInfo& f) {
  std::string styles;
  auto add = [&](bool on, const char* word) {
    if (!on) return;
    if (!styles.empty()) styles += "|";
    styles += word;
  };
  add(f.Bold, "Bold");
  add(f.Italic, "Italic");
  add(f.Underline, "Underline");
  add(f.Strikeout, "Strikeout");
  return f.Name + ", " + std::to_string(f.Size) + ", [" + styles + "]";
}

TFontInfo TSettingMgr::ParseFont(const std::string& text) {
  size_t c1 = text.find(',');
  if (c1 == std::string::npos) return TFontInfo{};
  size_t c2 = text.find(',', c1 + 1);
  std::string sizeText = text.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
  // Leading blanks are allowed before the size; anything else that is not a number is a bad value.
  size_t firstDigit = sizeText.find_first_not_of(' ');
  auto size = firstDigit == std::string::npos ? std::nullopt : ParseInt(sizeText.substr(firstDigit));
  if (!size || *size < INT32_MIN || *size > INT32_MAX || sizeText.back() == ' ') return TFontInfo{};
  TFontInfo f;
  f.Name = text.substr(0, c1);
  f.Size = static_cast<int32_t>(*size);
  std::string rest = c2 == std::string::npos ? "" : text.substr(c2 + 1);
  f.Bold = rest.find("Bold") != std::string::npos;
  f.Italic = rest.find("Italic") != std::string::npos;
  f.Underline = rest.find("Underline") != std::string::npos;
  f.Strikeout = rest.find("Strikeout") != std::string::npos;
  return f;
}

std::string TSettingMgr::FormatEQBands(const std::array<int32_t, EQBandCount>& bands) {
  std::string s;
  for (size_t i = 0; i < bands.size(); ++i) s += (i ? "," : "") + std::to_string(bands[i]);
  return s;
}

std::array<int32_t, EQBandCount> TSettingMgr::ParseEQBands(const std::string& text) {
  std::array<int32_t, EQBandCount> bands{};
  if (text.empty()) return bands;
  auto fields = SplitAt(text, ',');
  for (size_t i = 0; i < size_t(EQBandCount) && i < fields.size(); ++i) bands[i] = ParseInt32Def(fields[i], 0);
  return bands;
}

std::string TSettingMgr::FormatKeyMap(const THotKeyMap& k) {
  return k.ActionName + "|" + std::to_string(k.LocalKey) + "|" + std::to_string(k.GlobalKey);
}

THotKeyMap TSettingMgr::ParseKeyMap(const std::string& text, size_t index) {
  if (text.empty()) return DefaultKeyMaps()[std::min(index, HotKeyCount - 1)];
  THotKeyMap k;
  size_t p1 = text.find('|');
  k.ActionName = text.substr(0, p1);
  if (p1 == std::string::npos) return k;
  size_t p2 = text.find('|', p1 + 1);
  k.LocalKey = ParseInt32Def(text.substr(p1 + 1, p2 == std::string::npos ? std::string::npos : p2 - p1 - 1), 0);
  if (p2 != std::string::npos) k.GlobalKey = ParseInt32Def(text.substr(p2 + 1), 0);
  return k;
}

int32_t TSettingMgr::RandomDownPort() {
  static thread_local std::mt19937 rng(std::random_device{}());
  return 20000 + std::uniform_int_distribution<int32_t>(0, 9999)(rng);
}

}  // namespace ml
