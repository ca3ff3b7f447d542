#pragma once
// A splitter whose handle is drawn from the skin: "SplitterBG" stretched along the handle and
// "SplitterArrow" centred on it.
#include "skin/ui/SkinControl.h"

#include <QImage>
#include <QSplitter>

namespace ml {

class TLuiSkinSplitter : public QSplitter, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

  void SetImages(const QImage& background, const QImage& arrow);
  const QImage& BackBmp() const { return background_; }
  const QImage& ArrowBmp() const { return arrow_; }

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

protected:
  QSplitterHandle* createHandle() override;

private:
  QImage background_, arrow_;
};

}  // namespace ml
