#include "lyrics/ui/ufrmSearchAndLRC.h"

#include "lyrics/ui/ufmLRC.h"
#include "skin/SkinColors.h"
#include "skin/ui/SkinQt.h"
#include "skin/ui/uLuiPanel.h"
#include "skin/ui/uLuiSkinButton.h"
#include "skin/ui/uLuiTab.h"

#include <QEvent>
#include <QPushButton>

namespace ml {

namespace {

constexpr int kContainerBorder = 1;

QPushButton* TextButton(const QString& caption, const char* name, QWidget* parent) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setFlat(true);
  b->setFocusPolicy(Qt::NoFocus);
  b->setCursor(Qt::PointingHandCursor);
  b->adjustSize();
  return b;
}

const char* const kTabCaptions[] = {"歌词", "搜索", "登录"};

}  // namespace

TfrmSearchAndLRC::TfrmSearchAndLRC(TLRCParse& parser, QWidget* owner)
    : TLuiSkinPlayForm(TSkinFormKind::fkLRC, {}, owner),
      tab_(new TLuiSkinTab(TSkinTabKind::tkLyric, this)),
      container_(new TLuiPanel(TLuiPanelKind::pkLRC, this)),
      close_(new TLuiSkinButton(TSkinButtonKind::bkCloseLRC, this)),
      onTop_(TextButton("总在最前", "btnStayOnTop", this)),
      notOnTop_(TextButton("取消总在最前", "btnNotOnTop", this)) {
  setWindowFlag(Qt::Tool);
  container_->SetBorderSize(kContainerBorder);
  container_->installEventFilter(this);
  close_->installEventFilter(this);
  frame_ = new TfmLRC(parser, container_);
  pages_[pgLyric] = frame_;
  connect(tab_, &TLuiSkinTab::TabChanged, this, &TfrmSearchAndLRC::TabChanged);
  connect(close_, &TLuiSkinButton::Clicked, this, [this] {
    hide();
    emit Closed();
  });
  connect(onTop_, &QPushButton::clicked, this, [this] { SetStayOnTop(true); });
  connect(notOnTop_, &QPushButton::clicked, this, [this] { SetStayOnTop(false); });
  notOnTop_->hide();
  SyncTabs();
  LayoutPages();
  PlaceTopButtons();
}

void TfrmSearchAndLRC::UseSkin(TLuiSkinManager* skin) {
  // A pass asks the last registered first: the controls take their places before the window
  // takes its size and anchors them.
  SetSkinManager(skin);
  tab_->SetSkinManager(skin);
  container_->SetSkinManager(skin);
  close_->SetSkinManager(skin);
  frame_->ScrollLRC()->SetSkinManager(skin);
}

void TfrmSearchAndLRC::SetPage(TPage page, QWidget* widget) {
  if (page == pgLyric || pages_[page] == widget) return;
  if (pages_[page] && pages_[page]->parentWidget() == container_) pages_[page]->hide();
  pages_[page] = widget;
  if (widget) widget->setParent(container_);
  LayoutPages();
  ShowPage(current_);
}

// The pages the tabs stand for, in tab order.
void TfrmSearchAndLRC::SyncTabs() {
  QStringList tabs{kTabCaptions[pgLyric], kTabCaptions[pgSearch]};
  if (loginTab_) tabs << kTabCaptions[pgLogin];
  tab_->SetTabs(tabs);
}

void TfrmSearchAndLRC::SetLoginTab(bool shown) {
  if (shown == loginTab_) return;
  loginTab_ = shown;
  const bool wasOnLogin = current_ == pgLogin;
  SyncTabs();
  if (wasOnLogin && !shown) ShowPage(pgLyric);
}

void TfrmSearchAndLRC::ShowPage(TPage page) {
  if (page == pgLogin && !loginTab_) return;
  current_ = page;
  for (int i = 0; i < int(pages_.size()); ++i)
    if (pages_[i] && pages_[i]->parentWidget() == container_) pages_[i]->setVisible(i == page);
  // The tab follows without coming back here: its signal only fires on a change.
  tab_->SetTabIndex(page);
}

TfrmSearchAndLRC::TPage TfrmSearchAndLRC::CurrentPage() const { return current_; }

void TfrmSearchAndLRC::TabChanged(int index) {
  if (index >= 0 && index <= pgLogin && TPage(index) != current_) ShowPage(TPage(index));
}

void TfrmSearchAndLRC::SetStayOnTop(bool onTop) {
  if (onTop != StayOnTop()) {
    // Changing a window's flags hides it; it comes back where it was.
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (shown) show();
  }
  onTop_->setVisible(!onTop);
  notOnTop_->setVisible(onTop);
  emit StayOnTopChanged(onTop);
}

void TfrmSearchAndLRC::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  TLuiSkinPlayForm::UpdateSkin(miniMode, tint, setRect);
  const TXmlNode tab = SkinManager()->Element("lyricForm", "Tab");
  if (!tab) return;
  const QColor color = ToQColor(TintColor(TLuiSkinManager::Color(tab, "FontColor", 0), tint));
  for (QPushButton* b : {onTop_, notOnTop_}) {
    QPalette pal = b->palette();
    pal.setColor(QPalette::ButtonText, color);
    b->setPalette(pal);
  }
}

bool TfrmSearchAndLRC::StayOnTop() const { return windowFlags().testFlag(Qt::WindowStaysOnTopHint); }

// Every page fills the container inside its border.
void TfrmSearchAndLRC::LayoutPages() {
  const QRect inside = container_->rect().adjusted(kContainerBorder, kContainerBorder, -kContainerBorder, -kContainerBorder);
  for (const QPointer<QWidget>& page : pages_)
    if (page && page->parentWidget() == container_) page->setGeometry(inside);
}

// The stay-on-top buttons stand left of the close button, whatever place the skin gives it.
void TfrmSearchAndLRC::PlaceTopButtons() {
  const QRect c = close_->geometry();
  for (QPushButton* b : {onTop_, notOnTop_}) b->move(c.left() - 4 - b->width(), c.center().y() - b->height() / 2);
}

bool TfrmSearchAndLRC::eventFilter(QObject* watched, QEvent* event) {
  const bool placed = event->type() == QEvent::Resize || event->type() == QEvent::Move;
  if (placed && watched == container_) LayoutPages();
  if (placed && watched == close_) PlaceTopButtons();
  return TLuiSkinPlayForm::eventFilter(watched, event);
}

}  // namespace ml
