#pragma once
// The skinned lyric control: its colours come from the skin ("lrc" of "lyricForm": ScrollColor,
// BkgndColor, CurrentColor, each tinted) and its layout from the window's mode: horizontal in the
// mini layout, the lyric window's own layout (LRCShowStyle, vertical unless set) otherwise.
#include "lyrics/ui/LRScrollLRC.h"
#include "skin/ui/SkinControl.h"

namespace ml {

class TLuiSkinScrollLRC : public TLRScrollLRC, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinScrollLRC(QWidget* parent = nullptr);

  // The layout outside the mini mode (the "LRCShowStyle" setting); applied now unless the last
  // skin pass was in mini mode.
  void SetNormalKind(TLRScrollLRCKind kind);
  TLRScrollLRCKind NormalKind() const { return normalKind_; }

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

private:
  TLRScrollLRCKind normalKind_ = TLRScrollLRCKind::slVertical;
  bool miniMode_ = false;
};

}  // namespace ml
