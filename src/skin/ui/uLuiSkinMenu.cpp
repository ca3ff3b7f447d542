#include "skin/ui/uLuiSkinMenu.h"

#include "skin/SkinElements.h"
#include "skin/ui/SkinQt.h"

#include <QPalette>

namespace ml {

namespace {
QString Css(TColor c) { return ToQColor(c).name(); }
}  // namespace

void TLuiSkinColorMap::Attach(QMenu* menu) {
  menus_.emplace_back(menu);
  // A greyed item's text is drawn twice, the second time in the palette's light colour one pixel
  // off: on the skin's dark menus that shadow came out white, brighter than the items that work.
  QPalette palette = menu->palette();
  palette.setColor(QPalette::Disabled, QPalette::Light, Qt::transparent);
  menu->setPalette(palette);
  menu->setStyleSheet(StyleSheet());
}

void TLuiSkinColorMap::SetColors(const TSkinMenuColors& colors) {
  colors_ = colors;
  const QString css = StyleSheet();
  std::erase_if(menus_, [](const QPointer<QMenu>& m) { return m.isNull(); });
  for (const auto& m : menus_) m->setStyleSheet(css);
}

QString TLuiSkinColorMap::StyleSheet() const {
  const TSkinMenuColors& c = colors_;
  return QString("QMenu { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 %1, stop:1 %2);"
                 " border: 1px solid %3; color: %4; }"
                 " QMenu::item:selected { background: %5; color: %6; }"
                 " QMenu::item:disabled { color: %7; }"
                 " QMenu::separator { height: 1px; background: %3; margin: 3px 6px; }")
      .arg(Css(c.Title1), Css(c.Title2), Css(c.Frame), Css(c.Font), Css(c.Selected), Css(c.SelectedFont),
           Css(c.Unused));
}

void TLuiSkinColorMap::UpdateSkin(bool, TColor tint, bool) {
  const TSkinColorsLook look = SkinManager()->GetColors("Menu", "MenuColor", FindSkinElement("Menu", "MenuColor")->Colors);
  SetInSkin(look.Found);
  if (!look.Found) return;
  auto get = [&](const char* name) { return TintColor(look.Get(name), tint); };
  SetColors({get("TitleBG1Color"), get("TitleBG2Color"), get("FrameColor"), get("SelectedColor"), get("UnusedColor"),
             get("FontColor"), get("SelectedFontColor")});
}

}  // namespace ml
