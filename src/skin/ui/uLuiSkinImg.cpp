#include "skin/ui/uLuiSkinImg.h"

#include "skin/ui/SkinQt.h"

#include <QPainter>

namespace ml {

TLuiSkinImg::TLuiSkinImg(QWidget* parent) : QWidget(parent) {
  resize(16, 16);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TLuiSkinImg::SetImage(const QImage& image) {
  image_ = image;
  update();
}

void TLuiSkinImg::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const TLuiSkinManager& skin = *SkinManager();
  const TXmlNode icon = skin.Element(TLuiSkinManager::MainForm(miniMode), "icon");
  SetInSkin(bool(icon));
  if (!icon) return;
  SetImage(LoadSkinImage(skin.Image(icon, "Image"), tint));
  const TRect position = ParseSkinPosition(icon.Attribute("position"));
  if (setRect && !position.IsEmpty()) setGeometry(ToQRect(position));
}

void TLuiSkinImg::paintEvent(QPaintEvent*) {
  if (image_.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(rect(), image_);
}

TTransparentEdit::TTransparentEdit(QWidget* parent) : QLineEdit(parent) {
  setFrame(false);
  setAttribute(Qt::WA_TranslucentBackground);
  SetTextColor(0);
}

void TTransparentEdit::SetTextColor(TColor color) {
  QPalette pal = palette();
  pal.setColor(QPalette::Base, Qt::transparent);
  pal.setColor(QPalette::Text, ToQColor(color));
  QColor hint = ToQColor(color);
  hint.setAlpha(140);
  pal.setColor(QPalette::PlaceholderText, hint);
  setPalette(pal);
}

void TTransparentEdit::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const TXmlNode edit = SkinManager()->Element(TLuiSkinManager::MainForm(miniMode), "SearchEdit");
  SetInSkin(bool(edit));
  if (!edit) return;
  SetTextColor(TintColor(TLuiSkinManager::Color(edit, "color", 0), tint));
  anchorLeft_ = TLuiSkinManager::Int(edit, "AnchorLeft", 0) != 0;
  anchorRight_ = TLuiSkinManager::Int(edit, "AnchorRight", 1) != 0;
  const TRect position = ParseSkinPosition(edit.Attribute("position"));
  if (setRect && !position.IsEmpty()) setGeometry(ToQRect(position));
}

}  // namespace ml
