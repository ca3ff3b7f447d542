#pragma once
// A skinned window: borderless, painted from its form's skin image at any size (nine slices around
// the skin's separation point; at the image's own size when the skin gives none), shaped by the
// image's key colour, moved by dragging anywhere that is not a control and resized at its frame
// (when resizable). Resizing follows the skin's separation point for the controls too: a control
// right of SeperateX moves with the right edge, one across it stretches (below SeperateY alike),
// so any skin's layout holds at any size. While moving it snaps to the screen's work area and to
// the other skinned windows; the main window takes the windows docked to it along.
#include "skin/SkinWindowRules.h"
#include "skin/ui/SkinControl.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <vector>

namespace ml {

enum class TSkinFormKind { fkSelf, fkMain, fkLRC, fkEQ, fkWeb };

class TLuiSkinPlayForm : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  // fkSelf windows name their form ("MsgForm"); the others know theirs.
  explicit TLuiSkinPlayForm(TSkinFormKind kind, QString selfForm = {}, QWidget* parent = nullptr);
  ~TLuiSkinPlayForm() override;

  TSkinFormKind SkinFormKind() const { return kind_; }
  // The live window of a kind (one each for the main, lyric, equalizer and web windows), or null.
  static TLuiSkinPlayForm* FormOfKind(TSkinFormKind kind);

  void SetGlyph(const QImage& image, int seperateX, int seperateY);
  const QImage& Glyph() const { return glyph_; }
  bool Resizable() const { return resizable_; }
  void SetBorders(const TSkinBorders& borders);
  const TSkinBorders& Borders() const { return borders_; }
  // The picture of the window at its current size, and the shape made from it.
  const QImage& Painted() const { return painted_; }
  const std::vector<TRect>& ShapeRectangles() const { return shape_; }
  TSkinHit HitTest(const QPoint& local) const;

  // Moving as the mouse does it, for tests and for code that places windows: snapping, and the
  // main window taking its docked windows along.
  void MoveSnapped(const QPoint& topLeft);

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  void RegionChanged();

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

private:
  QString FormName(bool miniMode) const;
  void Repaint();
  void AnchorChildren();
  static std::vector<TLuiSkinPlayForm*>& Live();

  TSkinFormKind kind_;
  QString selfForm_;
  QImage glyph_, painted_;
  int seperateX_ = 0, seperateY_ = 0;
  bool resizable_ = false;
  TSkinBorders borders_;
  std::vector<TRect> shape_;
  QSize layoutSize_;  // the size the controls' places are for
  // A drag in progress: what it does, where it started (global), the window's rectangle then.
  TSkinHit drag_ = hitNowhere;
  QPoint dragFrom_;
  QRect dragStart_;
};

}  // namespace ml
