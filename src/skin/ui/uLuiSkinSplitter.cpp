#include "skin/ui/uLuiSkinSplitter.h"

#include "skin/ui/SkinQt.h"

#include <QPainter>

namespace ml {

namespace {

class TSkinSplitterHandle : public QSplitterHandle {
public:
  TSkinSplitterHandle(Qt::Orientation o, TLuiSkinSplitter* parent) : QSplitterHandle(o, parent), owner_(parent) {}

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QImage& bg = owner_->BackBmp();
    const QImage& arrow = owner_->ArrowBmp();
    if (bg.isNull())
      p.fillRect(rect(), palette().mid());
    else
      p.drawImage(rect(), bg);
    if (!arrow.isNull()) p.drawImage(QPoint((width() - arrow.width()) / 2, (height() - arrow.height()) / 2), arrow);
  }

private:
  TLuiSkinSplitter* owner_;
};

}  // namespace

TLuiSkinSplitter::TLuiSkinSplitter(Qt::Orientation orientation, QWidget* parent) : QSplitter(orientation, parent) {
  setHandleWidth(6);
}

QSplitterHandle* TLuiSkinSplitter::createHandle() { return new TSkinSplitterHandle(orientation(), this); }

void TLuiSkinSplitter::SetImages(const QImage& background, const QImage& arrow) {
  background_ = background;
  arrow_ = arrow;
  if (!background_.isNull()) setHandleWidth(orientation() == Qt::Vertical ? background_.height() : background_.width());
  for (int i = 0; i < count(); ++i) handle(i)->update();
}

void TLuiSkinSplitter::UpdateSkin(bool, TColor tint, bool) {
  const TLuiSkinManager& skin = *SkinManager();
  const TXmlNode splitter = skin.Element("playerForm", "Splitter");
  SetInSkin(bool(splitter));
  if (!splitter) return;
  SetImages(LoadSkinImage(skin.Image(splitter, "SplitterBG"), tint),
            LoadSkinImage(skin.Image(splitter, "SplitterArrow"), tint));
}

}  // namespace ml
