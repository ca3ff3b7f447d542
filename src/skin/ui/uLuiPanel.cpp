#include "skin/ui/uLuiPanel.h"

#include "skin/SkinElements.h"
#include "skin/ui/SkinQt.h"

#include <QPainter>

#include <algorithm>
#include <utility>

namespace ml {

namespace {

// The form and element of each kind.
std::pair<const char*, const char*> PanelElement(TLuiPanelKind kind) {
  switch (kind) {
    case TLuiPanelKind::pkPlayList: return {"playerForm", "list"};
    case TLuiPanelKind::pkLRC: return {"lyricForm", "lrc"};
    case TLuiPanelKind::pkMiniLRC: return {"lyricForm", "miniborder"};
    case TLuiPanelKind::pkWeb: return {"webForm", "web"};
    case TLuiPanelKind::pkSelf: break;
  }
  return {nullptr, nullptr};
}

}  // namespace

TLuiPanel::TLuiPanel(TLuiPanelKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {}

void TLuiPanel::SetColors(TColor frame, TColor background) {
  frame_ = frame;
  background_ = background;
  update();
}

void TLuiPanel::SetBorderSize(int size) {
  borderSize_ = std::max(0, size);
  update();
}

void TLuiPanel::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const auto [form, name] = PanelElement(kind_);
  SetInSkin(false);
  if (!form) return;
  const TSkinColorsLook look = SkinManager()->GetColors(form, name, {{"BorderColor", 0}, {"color", 0}});
  SetInSkin(look.Found && !(kind_ == TLuiPanelKind::pkPlayList && miniMode));
  if (!look.Found) return;
  SetColors(TintColor(look.Get("BorderColor"), tint), TintColor(look.Get("color"), tint));
  const TRect position = ParseSkinPosition(SkinManager()->Element(form, name).Attribute("position"));
  if (setRect && !position.IsEmpty()) setGeometry(ToQRect(position));
}

void TLuiPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ToQColor(frame_));
  p.fillRect(rect().adjusted(borderSize_, borderSize_, -borderSize_, -borderSize_), ToQColor(background_));
}

}  // namespace ml
