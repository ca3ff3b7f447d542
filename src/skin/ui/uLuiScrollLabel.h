#pragma once
// An information label of the main window (the song playing, its bit rate, its sample rate):
// text in the skin's font and colour; text too long for the label scrolls back and forth.
#include "skin/ui/SkinControl.h"

#include <QBasicTimer>
#include <QWidget>

namespace ml {

enum class TScrollLabelKind { lkSelf, lkPlayInfo, lkBitrate, lkSampleRate };

class TLuiScrollLabel : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiScrollLabel(TScrollLabelKind kind, QWidget* parent = nullptr);

  void SetText(const QString& text);
  const QString& Text() const { return text_; }
  void SetDisableScroll(bool disable);
  void SetAlignLeft(bool left);
  void SetFontColor(TColor color);
  // The scroll offset in pixels (0 while the text fits).
  int ScrollOffset() const { return offset_; }
  // One step of the scroll timer (public so tests step it without waiting).
  void ScrollStep();

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

protected:
  void paintEvent(QPaintEvent*) override;
  void timerEvent(QTimerEvent*) override;
  void resizeEvent(QResizeEvent*) override;

private:
  int Overflow() const;
  void Restart();

  TScrollLabelKind kind_;
  QString text_;
  TColor fontColor_ = 0;
  bool alignLeft_ = true, disableScroll_ = false;
  int offset_ = 0, direction_ = 1, pause_ = 0;
  QBasicTimer timer_;
};

}  // namespace ml
