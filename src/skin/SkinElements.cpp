#include "skin/SkinElements.h"

#include "skin/uLuiSkinMgr.h"

namespace ml {

namespace {

using TColors = std::vector<std::pair<std::string, TColor>>;

const char* const kMainForms[] = {"playerForm", "miniForm"};
const char* const kMainButtons[] = {
    "play",     "pause",     "stop",     "next",      "prev",     "Open",      "ChangeColor", "Mute",
    "UnMute",   "AllCyc",    "SingleCyc", "NoneCyc",  "Random",   "Order",     "Search",      "MainMode",
    "Equalizer", "Playlist", "Lyric",    "Minimize",  "Minimode", "Exit",      "AddSong",     "FindSong",
    "SyncSong", "PlayMode",  "DeleteSong", "PrevPage", "NextPage", "MaxMode",  "Web"};

std::vector<TSkinElement> MakeTable() {
  std::vector<TSkinElement> t;
  auto add = [&](std::string form, std::string element, std::vector<std::string> images, TColors colors,
                 bool position) { t.push_back({std::move(form), std::move(element), std::move(images), std::move(colors), position}); };
  for (const char* form : {"playerForm", "miniForm", "lyricForm", "equalizerForm", "webForm"})
    add(form, "", {"Image"}, {{"color", 0xFFFFFF}}, false);
  for (const char* form : kMainForms) {
    add(form, "SearchEdit", {}, {{"color", 0}}, true);
    add(form, "icon", {"Image"}, {}, true);
    for (const char* label : {"PlayInfo", "Bitrate", "SampleRate"}) add(form, label, {}, {{"fontcolor", 0}}, true);
    add(form, "led", {"image"}, {}, true);
    for (const char* button : kMainButtons) add(form, button, {"image"}, {}, true);
    for (const char* bar : {"volume", "progress"}) add(form, bar, {"thumb_image", "fill_image"}, {}, true);
  }
  for (const char* bar : {"volume", "progress"}) add("equalizerForm", bar, {"thumb_image", "fill_image"}, {}, true);
  add("lyricForm", "Close", {"image"}, {}, true);
  for (const char* button : {"GoBackWebPage", "GoForwardWebPage", "RefreshWebPage", "HomeWebPage", "Close"})
    add("webForm", button, {"image"}, {}, true);
  add("MsgForm", "Close", {"image"}, {}, true);
  for (const char* list : {"playlist", "playlistMgr"})
    add("playerForm", list, {"PlayingImage"},
        {{"TextColor", 0}, {"HighlightBkgnd1Color", 0}, {"HighlightBkgnd2Color", 0}, {"HighlightColor", 0},
         {"DivideLineColor", 0}, {"Background1Color", 0}, {"Background2Color", 0}, {"NumberColor", 0},
         {"DurationColor", 0}, {"SelectColor", 0}, {"UnactiveColor", 0}},
        false);
  add("playerForm", "NumLabel", {}, {{"FontColor", 0}, {"SelectFontColor", 0}}, false);
  add("playerForm", "list", {}, {{"BorderColor", 0}, {"color", 0}}, true);
  add("lyricForm", "lrc", {},
      {{"BorderColor", 0}, {"color", 0}, {"ScrollColor", 0}, {"BkgndColor", 0}, {"CurrentColor", 0}}, true);
  add("lyricForm", "miniborder", {}, {{"BorderColor", 0}, {"color", 0}}, true);
  add("webForm", "web", {}, {{"BorderColor", 0}, {"color", 0}}, true);
  add("playerForm", "ScrollBar", {"ScrollbarSlider", "ScrollbarButton", "ScrollbarBG"}, {}, false);
  add("playerForm", "Visual", {},
      {{"SpectrumStartColor", 0}, {"SpectrumCenterColor", 0}, {"SpectrumEndColor", 0}, {"SpectrumPeekColor", 0}},
      true);
  add("playerForm", "Splitter", {"SplitterArrow", "SplitterBG"}, {}, false);
  for (const char* form : {"playerForm", "lyricForm"}) add(form, "Tab", {"TabBG", "TabBtn"}, {{"FontColor", 0}}, true);
  add("lyricForm", "SearchResult", {"ColumnHeader", "ColumnSort"},
      {{"FontColor", 0}, {"HighlightTextColor", 0}, {"HighlightBkGnd1Color", 0}, {"HighlightBkGnd2Color", 0}}, false);
  add("Menu", "MenuColor", {},
      {{"TitleBG1Color", 0}, {"TitleBG2Color", 0}, {"FrameColor", 0}, {"SelectedColor", 0}, {"UnusedColor", 0},
       {"FontColor", 0}, {"SelectedFontColor", 0}},
      false);
  return t;
}

}  // namespace

const std::vector<std::string>& SkinForms() {
  static const std::vector<std::string> forms{"playerForm", "miniForm", "lyricForm", "MsgForm",
                                              "Menu",       "equalizerForm", "webForm"};
  return forms;
}

bool SkinFormUnused(const std::string& form) { return form == "equalizerForm" || form == "webForm"; }

const std::vector<TSkinElement>& SkinElementTable() {
  static const std::vector<TSkinElement> table = MakeTable();
  return table;
}

const TSkinElement* FindSkinElement(const std::string& form, const std::string& element) {
  for (const TSkinElement& e : SkinElementTable())
    if (e.Form == form && e.Element == element) return &e;
  return nullptr;
}

TSkinButtonElement SkinButtonElement(TSkinButtonKind kind) {
  using K = TSkinButtonKind;
  switch (kind) {
    case K::bkSelf: case K::bkSetLRCTopMost: case K::bkSetLRCUntopMost: return {};
    case K::bkCloseLRC: return {"Close", "lyricForm"};
    case K::bkGoBackWebPage: return {"GoBackWebPage", "webForm"};
    case K::bkGoForwardWebPage: return {"GoForwardWebPage", "webForm"};
    case K::bkRefreshWebPage: return {"RefreshWebPage", "webForm"};
    case K::bkHomeWebPage: return {"HomeWebPage", "webForm"};
    case K::bkCloseWeb: return {"Close", "webForm"};
    case K::bkCloseMsg: return {"Close", "MsgForm"};
    case K::bkMaxMode: return {"MaxMode", nullptr};
    case K::bkWeb: return {"Web", nullptr};
    case K::bkPrevPage: return {"PrevPage", nullptr};
    case K::bkNextPage: return {"NextPage", nullptr};
    default: break;
  }
  // bkPlay .. bkDeleteSong follow the main form's button list in order.
  const int i = int(kind) - int(K::bkPlay);
  return {kMainButtons[i], nullptr};
}

std::vector<TSkinFormReport> CheckSkin(const TLuiSkinManager& skin) {
  std::vector<TSkinFormReport> reports;
  for (const std::string& form : SkinForms()) {
    TSkinFormReport r;
    r.Form = form;
    r.Unused = SkinFormUnused(form);
    r.Found = bool(skin.Element(form));
    for (const TSkinElement& e : SkinElementTable()) {
      if (e.Form != form) continue;
      const TXmlNode node = skin.Element(form, e.Element);
      const std::string label = e.Element.empty() ? form : e.Element;
      if (!e.Element.empty()) (node ? r.Present : r.Missing).push_back(e.Element);
      if (!node) continue;
      for (const std::string& attr : e.Images) {
        const std::string entry = node.Attribute(attr);
        if (entry.empty()) continue;
        try {
          if (!skin.GetEntry(entry)) r.MissingImages.push_back(label + "." + attr + ": " + entry);
        } catch (const EZipError& error) {
          r.Problems.push_back(label + "." + attr + ": " + error.what());
        }
      }
      for (const auto& [attr, fallback] : e.Colors) {
        try {
          TLuiSkinManager::Color(node, attr, fallback);
        } catch (const ESkinError& error) {
          r.Problems.push_back(label + "." + attr + ": " + error.what() + " \"" + node.Attribute(attr) + "\"");
        }
      }
    }
    reports.push_back(std::move(r));
  }
  return reports;
}

}  // namespace ml
