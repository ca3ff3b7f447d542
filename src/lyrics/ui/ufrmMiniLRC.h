#pragma once
// The mini lyric window: borderless, beside the main window in its mini layout, a skinned panel
// holding the lyric frame while the mini layout lasts. The user widens or narrows it by dragging
// with the left button on the panel (the cursor shows it near the right edge); it never gets
// narrower than MinWidth, and the width it ends at is reported for the "MiniLRCWidth" setting.
#include <QPointer>
#include <QRect>
#include <QWidget>

namespace ml {

class TfmLRC;
class TLuiPanel;

class TfrmMiniLRC : public QWidget {
  Q_OBJECT
public:
  static constexpr int MinWidth = 100;
  static constexpr int DefaultWidth = 300;
  static constexpr int PanelBorder = 1;

  explicit TfrmMiniLRC(QWidget* owner = nullptr);

  TLuiPanel* Panel() const { return pnlMiniLRC_; }
  // The frame moves into the panel, and back to where it came from (its parent, place and
  // visibility then).
  void TakeFrame(TfmLRC* frame);
  TfmLRC* GiveBackFrame();
  TfmLRC* Frame() const { return frame_; }

signals:
  // A resize by the user ended at this width.
  void MiniLRCWidthChanged(int width);

protected:
  void resizeEvent(QResizeEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Layout();
  bool NearRightEdge(int x) const { return x >= width() - (PanelBorder + 1); }

  TLuiPanel* pnlMiniLRC_;
  QPointer<TfmLRC> frame_;
  QPointer<QWidget> frameHome_;
  QRect frameHomePlace_;
  bool frameHomeHidden_ = false;
  bool resizing_ = false;
};

}  // namespace ml
