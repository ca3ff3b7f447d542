#pragma once
// The skin manager's core: a skin package read (uLuiZipUtils), its definition "SkinResDef.xml"
// parsed, and the queries every skinned window and control asks it, each answering whether its
// element was found and its values with the definition's defaults. Forms are the root's
// children, elements the form's, found without regard to case; every value is an attribute.
// The manager also keeps the skinned windows and controls registered with it and asks each to
// take its look again on every pass (ApplySkin); drawing belongs to them (skin/ui).
#include "base/ColorText.h"
#include "base/Rect.h"
#include "skin/uLuiZipUtils.h"
#include "xml/XmlDocument.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ml {

// A value of the definition that a control cannot use ("Invalid Color string"): it ends the
// control's update, as a damaged entry does (EZipError).
class ESkinError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "left, top, right, bottom"; with fewer fields the last one read stands for the rest; an empty
// text is the empty rectangle; a field that is not a number reads as 0.
TRect ParseSkinPosition(std::string_view text);

struct TSkinFormLook {
  bool Found = false;
  std::optional<std::string> Image;
  int SeperateX = 0, SeperateY = 0;
  TColor Color = 0xFFFFFF;
};

struct TSkinButtonLook {
  bool Found = false;  // only with its image
  std::optional<std::string> Image;
  TRect Position;
};

struct TSkinTrackBarLook {
  bool Found = false;  // with a thumb or a fill image
  TRect Position;
  bool Vertical = true;
  std::optional<std::string> Thumb, Fill;
  int FulFill = 0;
};

struct TSkinLabelLook {
  bool Found = false;
  TRect Position;
  TColor FontColor = 0;
  std::string FontName;
  int FontSize = 0;
  bool AlignLeft = true;
};

// Colours of an element by attribute, each with its default.
struct TSkinColorsLook {
  bool Found = false;
  std::vector<std::pair<std::string, TColor>> Colors;
  TColor Get(std::string_view name) const;
};

// A skinned window or control as its manager sees it: asked to read its values again (with the
// layout and the tint of this pass), take the skin's position when setRect, and repaint. It may
// throw ESkinError or EZipError, which ends the pass.
class ISkinControl {
public:
  virtual void UpdateSkin(bool miniMode, TColor tint, bool setRect) = 0;

protected:
  ~ISkinControl() = default;
};

class TLuiSkinManager {
public:
  static constexpr const char* kPreviewName = "Preview.jpg";
  // The built-in skin: this package in the SkinRes/ folder beside the programs.
  static constexpr const char* kBuiltInPackage = "SkinRes.zip";
  // A package holds a skin's pictures: a few megabytes. A larger file is not one.
  static constexpr uint64_t kMaxPackageBytes = uint64_t(256) << 20;

  // Reads the package and its definition. False with Error(): the package refused, no
  // definition, a definition that is not XML. The queries then find nothing.
  bool Load(std::string packageBytes);
  bool Loaded() const { return loaded_; }
  const std::string& Error() const { return error_; }

  // The package file each pass reads again, so a skin replaced on disk shows at the next pass.
  void SetPackageFile(std::string path) { packageFile_ = std::move(path); }
  const std::string& PackageFile() const { return packageFile_; }

  // Controls register once and unregister when they go; a pass asks them last-registered first.
  void RegisterControl(ISkinControl* control);
  void UnregisterControl(ISkinControl* control);
  bool IsRegistered(const ISkinControl* control) const;
  // One pass: the package read again (when a file is set), then every registered control
  // updated, then OnUpdateSkinFinish. False with Error() when the package is unusable or a
  // control's update failed; the controls not yet reached keep their look.
  bool ApplySkin(bool miniMode, TColor tint, bool setRect);
  std::function<void(bool setRect)> OnUpdateSkinFinish;
  // The layout and tint of the last pass, for a control that joins later.
  bool MiniMode() const { return miniMode_; }
  TColor Tint() const { return tint_; }

  // An entry's bytes (an image), or none when missing. Throws EZipError for a damaged entry.
  std::optional<std::string> GetEntry(const std::string& name) const;
  std::optional<std::string> GetPreview() const { return GetEntry(kPreviewName); }

  // The main window's form in either layout.
  static const char* MainForm(bool miniMode) { return miniMode ? "miniForm" : "playerForm"; }
  // The form a button is looked up under: "Close" belongs to the lyric window in both layouts.
  static const char* ButtonForm(std::string_view button, bool miniMode);

  // The element (or, with element empty, the form itself); a null node when absent.
  TXmlNode Element(std::string_view form, std::string_view element = {}) const;
  // Attribute readers with the definition's rules. Color throws ESkinError for bad text.
  static TColor Color(const TXmlNode& n, std::string_view attr, TColor fallback);
  static int Int(const TXmlNode& n, std::string_view attr, int fallback);
  std::optional<std::string> Image(const TXmlNode& n, std::string_view attr) const;

  TSkinFormLook GetForm(std::string_view form) const;
  TSkinButtonLook GetButton(std::string_view form, std::string_view button) const;
  TSkinTrackBarLook GetTrackBar(std::string_view form, std::string_view name) const;
  TSkinLabelLook GetLabel(std::string_view form, std::string_view name) const;
  TSkinColorsLook GetColors(std::string_view form, std::string_view element,
                            const std::vector<std::pair<std::string, TColor>>& defaults) const;

private:
  TLuiSkinFileReader reader_;
  TXmlDocument definition_;
  std::string packageFile_;
  std::vector<ISkinControl*> controls_;
  bool miniMode_ = false;
  TColor tint_ = 0;
  bool loaded_ = false;
  std::string error_;
};

}  // namespace ml
