#pragma once
// Small skinned pieces of the main window: the program's icon ("icon") and the search box
// ("SearchEdit"), a transparent edit in the skin's text colour showing a hint while empty.
#include "skin/ui/SkinControl.h"

#include <QImage>
#include <QLineEdit>
#include <QWidget>

namespace ml {

class TLuiSkinImg : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinImg(QWidget* parent = nullptr);
  void SetImage(const QImage& image);
  const QImage& Image() const { return image_; }
  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QImage image_;
};

class TTransparentEdit : public QLineEdit, public TSkinControl {
  Q_OBJECT
public:
  explicit TTransparentEdit(QWidget* parent = nullptr);
  void SetDefaultEditText(const QString& text) { setPlaceholderText(text); }
  void SetTextColor(TColor color);
  // Whether the box keeps its distance to the window's left and right edges when the window is
  // resized (the skin's AnchorLeft, AnchorRight).
  bool AnchorLeft() const { return anchorLeft_; }
  bool AnchorRight() const { return anchorRight_; }
  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

private:
  bool anchorLeft_ = false, anchorRight_ = true;
};

}  // namespace ml
