#pragma once
// A bordered panel of a skinned window (the playlist's frame, the lyric pages, the web page):
// its background in the skin's colour inside a border of BorderSize pixels in the border colour.
#include "skin/ui/SkinControl.h"

#include <QWidget>

namespace ml {

enum class TLuiPanelKind { pkSelf, pkPlayList, pkLRC, pkMiniLRC, pkWeb };

class TLuiPanel : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiPanel(TLuiPanelKind kind, QWidget* parent = nullptr);

  void SetColors(TColor frame, TColor background);
  TColor FrameColor() const { return frame_; }
  TColor BackgroundColor() const { return background_; }
  void SetBorderSize(int size);

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

protected:
  void paintEvent(QPaintEvent*) override;

private:
  TLuiPanelKind kind_;
  TColor frame_ = 0x7F9DB9, background_ = 0xFFFFFF;
  int borderSize_ = 1;
};

}  // namespace ml
