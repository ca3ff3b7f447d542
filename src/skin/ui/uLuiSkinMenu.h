#pragma once
// The skinned pop-up menus: the "MenuColor" colours of the skin ("Menu" form), tinted, applied to
// every menu attached (a style sheet per menu, so other widgets keep the desktop's look).
#include "skin/ui/SkinControl.h"

#include <QMenu>
#include <QPointer>
#include <QString>

#include <vector>

namespace ml {

struct TSkinMenuColors {
  TColor Title1 = 0xE8E0D8, Title2 = 0xD0C0B0, Frame = 0xB99D7F, Selected = 0xF0D8C0, Unused = 0xA0A0A0,
         Font = 0, SelectedFont = 0;
};

class TLuiSkinColorMap : public TSkinControl {
public:
  void Attach(QMenu* menu);
  const TSkinMenuColors& Colors() const { return colors_; }
  void SetColors(const TSkinMenuColors& colors);
  QString StyleSheet() const;

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

private:
  TSkinMenuColors colors_;
  std::vector<QPointer<QMenu>> menus_;
};

}  // namespace ml
