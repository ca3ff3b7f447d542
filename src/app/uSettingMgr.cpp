#include "app/uSettingMgr.h"

#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "xml/XmlDocument.h"
#include "app/uFileAssociation.h"

#include <algorithm>
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
  bool present() const { return n_ != nullptr; }
  // keyDefault when the section exists without the key, sectionDefault when the section is missing.
  int64_t integer(const char* key, int64_t keyDefault, int64_t sectionDefault) const {
    return n_ ? n_->attributeInt(key, keyDefault) : sectionDefault;
  }
  int64_t integer(const char* key, int64_t keyDefault) const { return integer(key, keyDefault, keyDefault); }
  bool boolean(const char* key, bool keyDefault, bool sectionDefault) const {
    return integer(key, keyDefault, sectionDefault) != 0;
  }
  bool boolean(const char* key, bool keyDefault) const { return boolean(key, keyDefault, keyDefault); }
  int32_t int32(const char* key, int32_t keyDefault, int32_t sectionDefault) const {
    return static_cast<int32_t>(integer(key, keyDefault, sectionDefault));
  }
  int32_t int32(const char* key, int32_t keyDefault) const { return int32(key, keyDefault, keyDefault); }
  // A text value as the program will use it: what survives GBK (see docs/settings.md).
  std::string text(const char* key, const std::string& fallback = {}) const {
    return n_ && n_->hasAttribute(key) ? GbkRepresentable(n_->attribute(key)) : fallback;
  }
  // Folder and file names are the file system's own bytes and never pass through GBK.
  std::string path(const char* key, const std::string& fallback = {}) const {
    return n_ && n_->hasAttribute(key) ? n_->attribute(key) : fallback;
  }
  const TXmlNode* node() const { return n_; }

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
    : filePath_(std::move(filePath)), context_(std::move(context)) {
  try {
    Load();
  } catch (const std::exception& e) {
    DebugTrace("settings: load failed: %s", e.what());
  }
}

TSettingMgr::~TSettingMgr() {
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
  std::optional<std::string> raw = ReadFileBytes(filePath_, 64 * 1024 * 1024);
  if (raw) {
    intact = doc.loadString(*raw, &error, true);
    if (TXmlNode root = doc.root()) {
      std::vector<TXmlNode> children = root.children();
      for (size_t i = 0; i < std::size(SectionReadOrder); ++i) sections[i] = root.child(SectionReadOrder[i]);
      // In a damaged file the element being read when the text broke off is incomplete: it
      // gets its section defaults like the sections that never arrived.
      if (!intact && !children.empty()) {
        TXmlNode last = children.back();
        if (!ElementClosedBefore(*raw, last.sourceOffset(), last.name(), doc.errorOffset()))
          for (auto& s : sections)
            if (s && s == last) s = TXmlNode();
      }
    }
    if (!intact) {
      DebugTrace("settings: %s is damaged (%s); kept as .bak", filePath_.c_str(), error.c_str());
      WriteFileAtomic(filePath_ + ".bak", *raw, 0600);
    }
  }
  auto at = [&](size_t i) -> const TXmlNode* { return sections[i] ? &sections[i] : nullptr; };
  readMisc(at(0));
  readPlayer(at(1));
  readEqualizer(at(2));
  readAudioDevice(at(3));
  readLyric(at(4));
  readPlugin(at(5));
  readAssociates(at(6));
  readGeneral(at(7));
  readPlayBack(at(8));
  readPlayList(at(9));
  readNetwork(at(10));
  readHotKey(at(11));
  readSkin(at(12));
  return intact;
}

void TSettingMgr::readMisc(const TXmlNode* n) {
  SectionReader r(n);
  DefaultDownPath = r.path("DefaultDownPath");
  if (DefaultDownPath.empty()) DefaultDownPath = context_.AppDir + "Music/";
}

void TSettingMgr::readPlayer(const TXmlNode* n) {
  SectionReader r(n);
  Mute = r.boolean("Mute", false);
  Volume = r.int32("Volume", 100);
  MainFormRect = ParseRect(r.text("MainFormRect", "0"));
  MiniFormRect = ParseRect(r.text("MiniFormRect", "0"));
  PlayListFormRect = ParseRect(r.text("PlayListFormRect", "0"));
  EQFormRect = ParseRect(r.text("EQFormRect", "0"));
  LRCFormRect = ParseRect(r.text("LRCFormRect", "0"));
  PlayListFormVisible = r.boolean("PlayListFormVisible", false, true);
  EQFormVisible = r.boolean("EQFormVisible", false, true);
  LRCFormVisible = r.boolean("LRCFormVisible", false, true);
  MiniMode = r.boolean("MiniMode", false);
  MiniLRCWidth = r.int32("MiniLRCWidth", 300);
  PlayListCount = r.int32("PlayListCount", 0);
  ActivePlayList = r.int32("ActivePlayList", 0);
  ActivePlayIndex = r.int32("ActivePlayIndex", 0);
  PlayListMgrWidth = r.int32("PlayListMgrWidth", 90);
  PlayListMgrVisible = r.boolean("PlayListMgrVisible", false);
  PlayListLoopType = r.int32("PlayListLoopType", 0);
  PlayListOrderType = r.int32("PlayListOrderType", 0);
}

void TSettingMgr::readEqualizer(const TXmlNode* n) {
  SectionReader r(n);
  EQEnable = r.boolean("EQEnable", false);
  Preamp = r.int32("Preamp", 0);
  Balance = r.int32("Balance", 0);
  Sound3D = r.int32("Sound3D", 0);
  EQBandsData = ParseEQBands(r.text("EQBandsData"));
}

void TSettingMgr::readAudioDevice(const TXmlNode* n) {
  SectionReader r(n);
  DeviceType = static_cast<uint8_t>(r.integer("DeviceType", 0));
  DeviceIndex = r.int32("DeviceIndex", 0);
}

void TSettingMgr::readLyric(const TXmlNode* n) {
  SectionReader r(n);
  LRCSavePath = r.path("LRCSavePath");
  if (LRCSavePath.empty()) LRCSavePath = context_.AppDir + "Lyric/";
  LRCStayOnTop = r.boolean("LRCStayOnTop", false);
  AutoShowLRC = r.boolean("AutoShowLRC", true);
  AutoSaveLRCModify = r.boolean("AutoSaveLRCModify", true, false);
  LRCShowStyle = r.int32("LRCShowStyle", 0);
  DragLRCSetPlayPosition = r.boolean("DragLRCSetPlayPosition", true);
  LRCBlendValue = r.int32("LRCBlendValue", 3);
  LRCTextColor = static_cast<uint32_t>(r.integer("LRCTextColor", 39270));
  LRCScrollColor = static_cast<uint32_t>(r.integer("LRCScrollColor", 33023));
  LRCBGColor = static_cast<uint32_t>(r.integer("LRCBGColor", 16777215));
  LRCFontInfo = ParseFont(r.text("LRCFontInfo", "宋体, 9, []"));
}

void TSettingMgr::readPlugin(const TXmlNode* n) {
  SectionReader r(n);
  PluginPath = r.path("PluginPath");
  PluginModules.clear();
  const int64_t count = r.integer("ModulesCount", 0);
  // The count comes from the file; only the ModuleN keys that are really there are taken.
  for (int64_t i = 0; n && i < count && i < 1024; ++i) {
    std::string key = "Module" + std::to_string(i);
    if (!n->hasAttribute(key)) continue;
    PluginModules.push_back(n->attribute(key));
  }
}

void TSettingMgr::readAssociates(const TXmlNode* n) {
  SectionReader r(n);
  AssociatesEnabled = r.boolean("Enabled", false, true);
  AssociatedExts.clear();
  if (n)
    for (const TXmlNode& child : n->children()) {
      std::string ext(Trim(child.value()));
      if (!ext.empty()) AssociatedExts.push_back(ext);
    }
  if (!n || (AssociatedExts.empty() && AssociatesEnabled)) AssociatedExts = DefaultAssociatedExts();
  if (!n) RegisterAssociations(false);
}

void TSettingMgr::readGeneral(const TXmlNode* n) {
  SectionReader r(n);
  TaskBarScrollText = r.boolean("TaskBarScrollText", true);
  MagneticSize = r.int32("MagneticSize", 10);
  GlobalHotKeyActionMsg = r.boolean("GlobalHotKeyActionMsg", true);
  WebBillClickMsg = r.boolean("WebBillClickMsg", true);
  std::string* pages[] = {&SOEMUrl, &SOEMUrl1, &SOEMUrl2};
  const char* keys[] = {"SOEMUrl", "SOEMUrl1", "SOEMUrl2"};
  for (int i = 0; i < 3; ++i) {
    *pages[i] = r.text(keys[i]);
    if (pages[i]->empty()) *pages[i] = DefaultWebPage(i);
  }
}

void TSettingMgr::readPlayBack(const TXmlNode* n) {
  SectionReader r(n);
  AutoPlay = static_cast<uint8_t>(r.integer("AutoPlay", 0));
  PlayPriority = r.int32("PlayPriority", 0);
  AutoStopWhenError = r.boolean("AutoStopWhenError", true);
}

void TSettingMgr::readPlayList(const TXmlNode* n) {
  SectionReader r(n);
  DisableDelFile = r.boolean("DisableDelFile", false);
  IgnoreUnExistFiles = r.boolean("IgnoreUnExistFiles", false);
  ItemInfoHint = r.boolean("ItemInfoHint", true);
  EnablePlaylistDrag = r.boolean("EnablePlaylistDrag", true);
}

void TSettingMgr::readNetwork(const TXmlNode* n) {
  SectionReader r(n);
  NetType = r.int32("NetType", 0);
  ProxyType = r.int32("ProxyType", 0);
  ProxyAddr = r.text("ProxyAddr");
  ProxyPort = r.int32("ProxyPort", 0);
  ProxyUser = r.text("ProxyUser");
  ProxyPwd = r.text("ProxyPwd");
  DownPort = r.int32("DownPort", 0);
  if (DownPort == 0) DownPort = RandomDownPort();
  DownSpeed = r.int32("DownSpeed", 0);
}

void TSettingMgr::readHotKey(const TXmlNode* n) {
  SectionReader r(n);
  GlobalHotKey = r.boolean("GlobalHotKey", true);
  for (size_t i = 0; i < HotKeyCount; ++i)
    KeyMaps[i] = ParseKeyMap(r.text(("KeyMap" + std::to_string(i)).c_str()), i);
}

void TSettingMgr::readSkin(const TXmlNode* n) {
  SectionReader r(n);
  AdjustColor = 0;
  // A bad colour leaves the tint at 0; Skin is the last section, so nothing else is lost.
  try {
    AdjustColor = ParseColor(r.text("AdjustColor", "#000000"));
  } catch (const std::invalid_argument&) {
    DebugTrace("settings: bad AdjustColor ignored");
  }
}

bool TSettingMgr::Save(std::string* error) {
  TXmlDocument doc;
  TXmlNode root = doc.reset(context_.RootName.empty() ? "minilirra" : context_.RootName);
  root.setAttribute("version", "1.0");

  TXmlNode misc = root.addChild("Misc");
  misc.setAttribute("DefaultDownPath", DefaultDownPath);

  TXmlNode p = root.addChild("Player");
  p.setAttribute("Mute", Mute);
  p.setAttribute("Volume", Volume);
  p.setAttribute("MainFormRect", FormatRect(MainFormRect));
  p.setAttribute("MiniFormRect", FormatRect(MiniFormRect));
  p.setAttribute("PlayListFormRect", FormatRect(PlayListFormRect));
  p.setAttribute("EQFormRect", FormatRect(EQFormRect));
  p.setAttribute("LRCFormRect", FormatRect(LRCFormRect));
  p.setAttribute("PlayListFormVisible", PlayListFormVisible);
  p.setAttribute("EQFormVisible", EQFormVisible);
  p.setAttribute("LRCFormVisible", LRCFormVisible);
  p.setAttribute("MiniMode", MiniMode);
  p.setAttribute("MiniLRCWidth", MiniLRCWidth);
  p.setAttribute("PlayListCount", PlayListCount);
  p.setAttribute("ActivePlayList", ActivePlayList);
  p.setAttribute("ActivePlayIndex", ActivePlayIndex);
  p.setAttribute("PlayListMgrWidth", PlayListMgrWidth);
  p.setAttribute("PlayListMgrVisible", PlayListMgrVisible);
  p.setAttribute("PlayListLoopType", PlayListLoopType);
  p.setAttribute("PlayListOrderType", PlayListOrderType);

  TXmlNode eq = root.addChild("Equalizer");
  eq.setAttribute("EQEnable", EQEnable);
  eq.setAttribute("Preamp", Preamp);
  eq.setAttribute("Balance", Balance);
  eq.setAttribute("Sound3D", Sound3D);
  eq.setAttribute("EQBandsData", FormatEQBands(EQBandsData));

  TXmlNode lrc = root.addChild("Lyric");
  lrc.setAttribute("LRCSavePath", LRCSavePath);
  lrc.setAttribute("LRCStayOnTop", LRCStayOnTop);
  lrc.setAttribute("AutoShowLRC", AutoShowLRC);
  lrc.setAttribute("AutoSaveLRCModify", AutoSaveLRCModify);
  lrc.setAttribute("LRCShowStyle", LRCShowStyle);
  lrc.setAttribute("DragLRCSetPlayPosition", DragLRCSetPlayPosition);
  lrc.setAttribute("LRCBlendValue", LRCBlendValue);
  lrc.setAttribute("LRCTextColor", int64_t{LRCTextColor});
  lrc.setAttribute("LRCScrollColor", int64_t{LRCScrollColor});
  lrc.setAttribute("LRCBGColor", int64_t{LRCBGColor});
  lrc.setAttribute("LRCFontInfo", FormatFont(LRCFontInfo));

  TXmlNode plug = root.addChild("Plugin");
  plug.setAttribute("PluginPath", PluginPath);
  plug.setAttribute("ModulesCount", static_cast<int64_t>(PluginModules.size()));
  for (size_t i = 0; i < PluginModules.size(); ++i)
    plug.setAttribute("Module" + std::to_string(i), PluginModules[i]);

  TXmlNode assoc = root.addChild("Associates");
  assoc.setAttribute("Enabled", AssociatesEnabled);
  for (const auto& ext : AssociatedExts) assoc.addChild("FileExt").setValue(ext);

  TXmlNode dev = root.addChild("AudioDevice");
  dev.setAttribute("DeviceType", int64_t{DeviceType});
  dev.setAttribute("DeviceIndex", DeviceIndex);

  TXmlNode gen = root.addChild("General");
  gen.setAttribute("TaskBarScrollText", TaskBarScrollText);
  gen.setAttribute("MagneticSize", MagneticSize);
  gen.setAttribute("GlobalHotKeyActionMsg", GlobalHotKeyActionMsg);
  gen.setAttribute("WebBillClickMsg", WebBillClickMsg);
  gen.setAttribute("SOEMUrl", SOEMUrl);
  gen.setAttribute("SOEMUrl1", SOEMUrl1);
  gen.setAttribute("SOEMUrl2", SOEMUrl2);

  TXmlNode pb = root.addChild("PlayBack");
  pb.setAttribute("AutoPlay", int64_t{AutoPlay});
  pb.setAttribute("PlayPriority", PlayPriority);
  pb.setAttribute("AutoStopWhenError", AutoStopWhenError);

  TXmlNode pl = root.addChild("PlayList");
  pl.setAttribute("DisableDelFile", DisableDelFile);
  pl.setAttribute("IgnoreUnExistFiles", IgnoreUnExistFiles);
  pl.setAttribute("ItemInfoHint", ItemInfoHint);
  pl.setAttribute("EnablePlaylistDrag", EnablePlaylistDrag);

  TXmlNode net = root.addChild("Network");
  net.setAttribute("NetType", NetType);
  net.setAttribute("ProxyType", ProxyType);
  net.setAttribute("ProxyAddr", ProxyAddr);
  net.setAttribute("ProxyPort", ProxyPort);
  net.setAttribute("ProxyUser", ProxyUser);
  net.setAttribute("ProxyPwd", ProxyPwd);
  net.setAttribute("DownPort", DownPort);
  net.setAttribute("DownSpeed", DownSpeed);

  TXmlNode hk = root.addChild("HotKey");
  hk.setAttribute("GlobalHotKey", GlobalHotKey);
  for (size_t i = 0; i < HotKeyCount; ++i) hk.setAttribute("KeyMap" + std::to_string(i), FormatKeyMap(KeyMaps[i]));

  root.addChild("Skin").setAttribute("AdjustColor", FormatColor(AdjustColor));

  return doc.saveFile(filePath_, error, 0600);
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
  for (size_t i = 0; i < EQBandCount && i < fields.size(); ++i) bands[i] = ParseInt32Def(fields[i], 0);
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

std::string TSettingMgr::FormatColor(uint32_t color) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%.2X%.2X%.2X", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  return buf;
}

uint32_t TSettingMgr::ParseColor(const std::string& text) {
  std::string_view hex = text;
  if (!hex.empty() && hex[0] == '#') hex.remove_prefix(1);
  if (hex.size() != 6) throw std::invalid_argument("bad colour " + text);
  uint32_t rgb = 0;
  for (char c : hex) {
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
          : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (v < 0) throw std::invalid_argument("bad colour " + text);
    rgb = rgb << 4 | static_cast<uint32_t>(v);
  }
  // Text is red-green-blue; the colour value keeps red in the low byte.
  return (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
}

int32_t TSettingMgr::RandomDownPort() {
  static thread_local std::mt19937 rng(std::random_device{}());
  return 20000 + std::uniform_int_distribution<int32_t>(0, 9999)(rng);
}

}  // namespace ml
