#include "skin/ui/uLuiTab.h"

#include "skin/ui/SkinQt.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace ml {

TLuiSkinTab::TLuiSkinTab(TSkinTabKind kind, QWidget* parent) : QWidget(parent), kind_(kind) { resize(200, 20); }

void TLuiSkinTab::SetTabs(const QStringList& tabs) {
  tabs_ = tabs;
  index_ = std::clamp(index_, 0, std::max(0, int(tabs_.size()) - 1));
  update();
}

void TLuiSkinTab::SetTabIndex(int index) {
  if (index < 0 || index >= tabs_.size() || index == index_) return;
  index_ = index;
  update();
  emit TabChanged(index_);
}

void TLuiSkinTab::SetImages(const QImage& background, const QImage& button) {
  background_ = background;
  button_ = button;
  update();
}

void TLuiSkinTab::SetFontColor(TColor color) {
  fontColor_ = color;
  update();
}

QRect TLuiSkinTab::TabRect(int index) const {
  if (tabs_.isEmpty()) return {};
  const int w = width() / int(tabs_.size());
  return QRect(index * w, 0, w, height());
}

int TLuiSkinTab::TabAt(const QPoint& at) const {
  for (int i = 0; i < tabs_.size(); ++i)
    if (TabRect(i).contains(at)) return i;
  return -1;
}

void TLuiSkinTab::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const char* form = kind_ == TSkinTabKind::tkPlayer ? "playerForm" : kind_ == TSkinTabKind::tkLyric ? "lyricForm" : nullptr;
  SetInSkin(false);
  if (!form) return;
  const TLuiSkinManager& skin = *SkinManager();
  const TXmlNode tab = skin.Element(form, "Tab");
  SetInSkin(tab && !(kind_ == TSkinTabKind::tkPlayer && miniMode));
  if (!tab) return;
  SetImages(LoadSkinImage(skin.Image(tab, "TabBG"), tint), LoadSkinImage(skin.Image(tab, "TabBtn"), tint));
  SetFontColor(TintColor(TLuiSkinManager::Color(tab, "FontColor", 0), tint));
  const TRect position = ParseSkinPosition(tab.Attribute("position"));
  if (setRect && !position.IsEmpty()) setGeometry(ToQRect(position));
}

void TLuiSkinTab::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (!background_.isNull()) p.drawImage(rect(), background_);
  const int frameWidth = button_.width() / 2;
  for (int i = 0; i < tabs_.size(); ++i) {
    const QRect r = TabRect(i);
    if (frameWidth > 0) p.drawImage(r, button_, QRect(i == index_ ? frameWidth : 0, 0, frameWidth, button_.height()));
    p.setPen(ToQColor(fontColor_));
    QFont f = font();
    f.setBold(i == index_);
    p.setFont(f);
    p.drawText(r, Qt::AlignCenter, tabs_[i]);
  }
}

void TLuiSkinTab::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const int i = TabAt(e->position().toPoint());
  if (i >= 0) SetTabIndex(i);
}

}  // namespace ml
