#include "skin/uLuiSkinMgr.h"

#include "base/FileUtil.h"
#include "base/StrUtil.h"

#include <algorithm>

#include <charconv>

namespace ml {

namespace {

int FieldInt(std::string_view text) {
  const std::string t(Trim(text));
  int v = 0;
  const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size() ? v : 0;
}

}  // namespace

TRect ParseSkinPosition(std::string_view text) {
  if (Trim(text).empty()) return {};
  int v[4] = {};
  std::string_view rest = text;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = rest.find(',');
    v[i] = FieldInt(rest.substr(0, comma));
    // Out of fields: what is left is read again for the ones that remain.
    if (comma != std::string_view::npos) rest.remove_prefix(comma + 1);
  }
  return {v[0], v[1], v[2], v[3]};
}

TColor TSkinColorsLook::Get(std::string_view name) const {
  for (const auto& [n, c] : Colors)
    if (n == name) return c;
  return 0;
}

bool TLuiSkinManager::Load(std::string packageBytes) {
  loaded_ = false;
  definition_.Clear();
  if (!reader_.Open(std::move(packageBytes))) {
    error_ = reader_.Error();
    return false;
  }
  try {
    const std::optional<std::string> text = reader_.GetStream(TLuiSkinFileReader::kDefinitionName);
    std::string why;
    if (!text || !definition_.LoadString(*text, &why)) {
      error_ = std::string(TLuiSkinFileReader::kDefinitionName) + " is not readable XML: " + why;
      definition_.Clear();
      return false;
    }
  } catch (const EZipError& e) {
    error_ = e.what();
    return false;
  }
  error_.clear();
  loaded_ = true;
  return true;
}

void TLuiSkinManager::RegisterControl(ISkinControl* control) {
  if (control && !IsRegistered(control)) controls_.push_back(control);
}

void TLuiSkinManager::UnregisterControl(ISkinControl* control) { std::erase(controls_, control); }

bool TLuiSkinManager::IsRegistered(const ISkinControl* control) const {
  return std::find(controls_.begin(), controls_.end(), control) != controls_.end();
}

bool TLuiSkinManager::ApplySkin(bool miniMode, TColor tint, bool setRect) {
  if (!packageFile_.empty()) {
    std::optional<std::string> bytes = ReadFileBytes(packageFile_, kMaxPackageBytes);
    if (!bytes) {
      error_ = "cannot read the skin package " + packageFile_;
      return false;
    }
    if (!Load(std::move(*bytes))) return false;
  }
  if (!loaded_) return false;
  miniMode_ = miniMode;
  tint_ = tint;
  // A control may come or go while another updates (a window building its children): the pass
  // walks a copy and skips those gone meanwhile.
  const std::vector<ISkinControl*> pass(controls_.rbegin(), controls_.rend());
  try {
    for (ISkinControl* c : pass)
      if (IsRegistered(c)) c->UpdateSkin(miniMode, tint, setRect);
  } catch (const ESkinError& e) {
    error_ = e.what();
    return false;
  } catch (const EZipError& e) {
    error_ = e.what();
    return false;
  }
  if (OnUpdateSkinFinish) OnUpdateSkinFinish(setRect);
  return true;
}

std::optional<std::string> TLuiSkinManager::GetEntry(const std::string& name) const {
  if (name.empty() || !loaded_) return std::nullopt;
  return reader_.GetStream(name);
}

const char* TLuiSkinManager::ButtonForm(std::string_view button, bool miniMode) {
  return EqualsNoCase(button, "Close") ? "lyricForm" : MainForm(miniMode);
}

TXmlNode TLuiSkinManager::Element(std::string_view form, std::string_view element) const {
  if (!loaded_) return {};
  const TXmlNode f = definition_.Root().Child(form);
  return element.empty() || !f ? f : f.Child(element);
}

TColor TLuiSkinManager::Color(const TXmlNode& n, std::string_view attr, TColor fallback) {
  const std::string text = n ? n.Attribute(attr) : std::string();
  if (text.empty()) return fallback;
  try {
    return ParseColorText(text);
  } catch (const std::invalid_argument&) {
    throw ESkinError("Invalid Color string");
  }
}

int TLuiSkinManager::Int(const TXmlNode& n, std::string_view attr, int fallback) {
  return n ? int(n.AttributeInt(attr, fallback)) : fallback;
}

std::optional<std::string> TLuiSkinManager::Image(const TXmlNode& n, std::string_view attr) const {
  return n ? GetEntry(n.Attribute(attr)) : std::nullopt;
}

TSkinFormLook TLuiSkinManager::GetForm(std::string_view form) const {
  TSkinFormLook look;
  const TXmlNode n = Element(form);
  if (!n) return look;
  look.Found = true;
  look.Image = Image(n, "Image");
  look.SeperateX = Int(n, "SeperateX", 0);
  look.SeperateY = Int(n, "SeperateY", 0);
  look.Color = Color(n, "color", 0xFFFFFF);
  return look;
}

TSkinButtonLook TLuiSkinManager::GetButton(std::string_view form, std::string_view button) const {
  TSkinButtonLook look;
  const TXmlNode n = Element(form, button);
  if (!n) return look;
  look.Image = Image(n, "image");
  look.Position = ParseSkinPosition(n.Attribute("position"));
  look.Found = look.Image.has_value();
  return look;
}

TSkinTrackBarLook TLuiSkinManager::GetTrackBar(std::string_view form, std::string_view name) const {
  TSkinTrackBarLook look;
  const TXmlNode n = Element(form, name);
  if (!n) return look;
  look.Position = ParseSkinPosition(n.Attribute("position"));
  look.Vertical = !EqualsNoCase(n.Attribute("vertical"), "false");
  look.Thumb = Image(n, "thumb_image");
  look.Fill = Image(n, "fill_image");
  look.FulFill = Int(n, "FulFill", 0);
  look.Found = look.Thumb || look.Fill;
  return look;
}

TSkinLabelLook TLuiSkinManager::GetLabel(std::string_view form, std::string_view name) const {
  TSkinLabelLook look;
  const TXmlNode n = Element(form, name);
  if (!n) return look;
  look.Found = true;
  look.Position = ParseSkinPosition(n.Attribute("position"));
  look.FontColor = Color(n, "fontcolor", 0);
  look.FontName = n.Attribute("FontName");
  look.FontSize = Int(n, "FontSize", 0);
  look.AlignLeft = Int(n, "AlignLeft", 1) != 0;
  return look;
}

TSkinColorsLook TLuiSkinManager::GetColors(std::string_view form, std::string_view element,
                                           const std::vector<std::pair<std::string, TColor>>& defaults) const {
  TSkinColorsLook look;
  const TXmlNode n = Element(form, element);
  look.Found = bool(n);
  for (const auto& [name, fallback] : defaults) look.Colors.emplace_back(name, Color(n, name, fallback));
  return look;
}

}  // namespace ml
