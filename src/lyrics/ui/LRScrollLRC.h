#pragma once
// The scrolling lyric control: the display model's frame painted into one off-screen picture and
// copied to the screen in one block (no flicker), the mouse handed to the model's drag. The model
// decides what stands where; this class measures texts with the control's font, draws and routes.
#include "lyrics/LRScrollLRC.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>

class QPainter;

namespace ml {

class TLRScrollLRC : public QWidget {
  Q_OBJECT
public:
  explicit TLRScrollLRC(QWidget* parent = nullptr);
  ~TLRScrollLRC() override;

  TLRScrollLRCModel& Model() { return model_; }
  const TLRScrollLRCModel& Model() const { return model_; }

  // The settings; each repaints at the current position.
  void SetKind(TLRScrollLRCKind kind);
  TLRScrollLRCKind Kind() const { return model_.Kind; }
  void SetBlendValue(int value);
  void SetBackground(bool parentPicture);
  void SetBKColor(TLyricColor color);
  void SetCurrentColor(TLyricColor color);
  void SetScrollColor(TLyricColor color);
  void SetIsSmall(bool small);
  void SetLRCParse(TLRCParse* parser);
  TLRCParse* LRCParse() const { return model_.LRCParse; }
  void SetMaxTime(int32_t ms) { model_.MaxTime = ms; }

  // Repaints for the play position (ms); ignored while hidden, disabled or dragged, or when
  // there is no line to show.
  void UpdatePosition(int32_t t);
  // Empties the parser and shows the bare background (before each new song).
  void ClearLyrics();
  // Recomposes at the current position: after lyrics were loaded or the offset changed.
  void Refresh();

  // The composed picture, as the screen gets it (drawn for the asking).
  QImage Picture() const;

signals:
  // At every drag step; clearing *canChange refuses the new position.
  void Change(int32_t time, bool* canChange);
  // A drag ended at a new position.
  void ChangePosition(int32_t time);

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void changeEvent(QEvent*) override;
  void showEvent(QShowEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

private:
  class TFontMeasure;
  template <class T>
  void Set(T& setting, T value);
  void SyncState();
  void RebuildBackground();
  // Asks for a repaint of the current frame.
  void Paint();
  void DrawFrame(QPainter& p) const;

  std::unique_ptr<TFontMeasure> measure_;
  TLRScrollLRCModel model_;
  // What every frame starts from: the colour, or the picture of what the window shows under
  // the control (ParentBackground), taken at backgroundSize_.
  QColor backgroundColor_;
  bool plainBackground_ = true;
  QImage background_;
  QSize backgroundSize_;
  bool takingBackground_ = false;
};

}  // namespace ml
