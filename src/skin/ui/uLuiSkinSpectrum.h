#pragma once
// The spectrum display: falling bars and peak marks (TSpectrumBars) drawn with the skin's four
// colours, a vertical gradient from the start colour at the top through the centre colour to the
// end colour at the bottom, the peaks in the peak colour.
#include "dsp/visSpectrum.h"
#include "skin/ui/SkinControl.h"

#include <QImage>
#include <QWidget>

#include <array>

namespace ml {

class TLuiSkinSpectrum : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinSpectrum(QWidget* parent = nullptr);

  void SetColors(TColor start, TColor center, TColor end, TColor peek);
  void SetSpectrumEnabled(bool enabled);
  bool SpectrumEnabled() const { return enabled_; }
  // One 50 ms tick of levels 0..1.
  void ShowLevels(const std::array<float, SpectrumLevelCount>& levels);
  const TSpectrumBars& Bars() const { return bars_; }

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

private:
  void BuildGradient();
  void FitBars();

  TSpectrumBars bars_;
  QSize barsSize_;
  TColor start_ = 0x4080FF, center_ = 0x00FFFF, end_ = 0x00FF80, peek_ = 0xFFFFFF;  // unskinned look
  bool enabled_ = true;
  QImage gradient_;  // 3 pixels wide, as tall as the control
};

}  // namespace ml
