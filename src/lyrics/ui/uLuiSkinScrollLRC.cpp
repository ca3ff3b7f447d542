#include "lyrics/ui/uLuiSkinScrollLRC.h"

#include "skin/SkinColors.h"

namespace ml {

TLuiSkinScrollLRC::TLuiSkinScrollLRC(QWidget* parent) : TLRScrollLRC(parent) { SetKind(normalKind_); }

void TLuiSkinScrollLRC::SetNormalKind(TLRScrollLRCKind kind) {
  normalKind_ = kind;
  if (!miniMode_) SetKind(kind);
}

void TLuiSkinScrollLRC::UpdateSkin(bool miniMode, TColor tint, bool) {
  miniMode_ = miniMode;
  TLRScrollLRCModel& m = Model();
  const TSkinColorsLook look =
      SkinManager()->GetColors("lyricForm", "lrc", {{"ScrollColor", 0}, {"BkgndColor", 0}, {"CurrentColor", 0}});
  SetInSkin(look.Found);
  // A skin without the element leaves the colours as they are: tinting them again on every pass
  // would drift them further from the skin with each one.
  if (look.Found) {
    m.SetScrollColor(TintColor(look.Get("ScrollColor"), tint));
    m.SetCurrentColor(TintColor(look.Get("CurrentColor"), tint));
    m.BKColor = TintColor(look.Get("BkgndColor"), tint);
  }
  m.Kind = miniMode ? KindForMode(true) : normalKind_;
  Refresh();
}

}  // namespace ml
