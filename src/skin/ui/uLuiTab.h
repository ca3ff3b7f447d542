#pragma once
// The tab strip of a skinned window: the skin's "TabBG" stretched behind, each tab drawn from the
// "TabBtn" strip (two frames: normal, selected) with its caption in the skin's font colour.
#include "skin/ui/SkinControl.h"

#include <QImage>
#include <QStringList>
#include <QWidget>

namespace ml {

enum class TSkinTabKind { tkSelf, tkPlayer, tkLyric };

class TLuiSkinTab : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinTab(TSkinTabKind kind, QWidget* parent = nullptr);

  void SetTabs(const QStringList& tabs);
  const QStringList& Tabs() const { return tabs_; }
  void SetTabIndex(int index);
  int TabIndex() const { return index_; }
  void SetImages(const QImage& background, const QImage& button);
  void SetFontColor(TColor color);
  // The tab under a point, or -1.
  int TabAt(const QPoint& at) const;

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  void TabChanged(int index);

protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;

private:
  QRect TabRect(int index) const;

  TSkinTabKind kind_;
  QStringList tabs_;
  int index_ = 0;
  QImage background_, button_;
  TColor fontColor_ = 0;
};

}  // namespace ml
