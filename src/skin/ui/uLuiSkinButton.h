#pragma once
// The skinned push button: a strip of frames (normal, hovered, pressed, disabled) from the skin,
// drawn scaled to the button with its key colour transparent. Buttons of one group (GroupIndex
// on the same parent) latch: pressing one down releases the others.
#include "skin/SkinControlRules.h"
#include "skin/SkinElements.h"
#include "skin/ui/SkinControl.h"

#include <QImage>
#include <QWidget>

namespace ml {

class TLuiSkinButton : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinButton(TSkinButtonKind kind, QWidget* parent = nullptr);

  TSkinButtonKind SkinButtonKind() const { return kind_; }
  void SetGlyph(const QImage& strip, int numGlyphs);
  const QImage& Glyph() const { return glyph_; }
  int NumGlyphs() const { return numGlyphs_; }
  void SetCheck(bool check);
  bool Check() const { return check_; }
  void SetGroupIndex(int group) { groupIndex_ = group; }
  int GroupIndex() const { return groupIndex_; }
  void SetAllowAllUp(bool allow) { allowAllUp_ = allow; }
  // Latched down; only a grouped button latches, and one already down comes up only with
  // AllowAllUp. Latching releases the group's other buttons on the same parent.
  void SetDown(bool down);
  bool Down() const { return press_ == TButtonPress::Latched; }
  int CurrentFrame() const;

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  void Clicked();
  void DoubleClicked();

protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  void changeEvent(QEvent*) override;

private:
  TSkinButtonKind kind_;
  QImage glyph_;
  int numGlyphs_ = 4;
  bool check_ = false, hovered_ = false, held_ = false;
  TButtonPress press_ = TButtonPress::Up;
  int groupIndex_ = 0;
  bool allowAllUp_ = false;
};

}  // namespace ml
