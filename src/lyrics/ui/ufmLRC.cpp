#include "lyrics/ui/ufmLRC.h"

#include "skin/ui/SkinQt.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

namespace ml {

namespace {

// The first dropped item that is a local file, or empty.
QString DroppedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return {};
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return {};
}

}  // namespace

TfmLRC::TfmLRC(TLRCParse& parser, QWidget* parent)
    : QWidget(parent), parser_(parser), scroll_(new TLuiSkinScrollLRC(this)), lblFindLRC_(new QLabel("查找歌词", this)),
      pmLRC_(new QMenu(this)) {
  scroll_->setObjectName("ScrollLRC");
  scroll_->SetLRCParse(&parser_);
  connect(scroll_, &TLRScrollLRC::Change, this, &TfmLRC::ScrollLRCChange);
  connect(scroll_, &TLRScrollLRC::ChangePosition, this, &TfmLRC::ScrollLRCChangePosition);
  lblFindLRC_->setObjectName("lblFindLRC");
  lblFindLRC_->installEventFilter(this);
  StyleFindLink(false);
  pmLRC_->setObjectName("pmLRC");
  BuildMenu();
  setAcceptDrops(true);
  SyncFindLink();
}

void TfmLRC::BuildMenu() {
  auto item = [this](const char* name, const QString& caption, auto&& run) {
    QAction* a = pmLRC_->addAction(caption);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, run);
  };
  item("miFindLRC", "搜索歌词...", [this] { FindLRC(); });
  item("miLocalLinkLRC", "本地关联...", [this] { LocalLinkLRC(); });
  item("miCancelLRCLink", "取消关联", [this] { CancelLRCLink(); });
  pmLRC_->addSeparator();
  static const char* const steps[] = {"0.5", "1", "2", "5"};
  for (int i = 0; i < 4; ++i)
    item(qPrintable(QString("miLRCForward%1").arg(i + 1)), QString("提前%1秒").arg(steps[i]), [this, i] { StepOffset(i, true); });
  for (int i = 0; i < 4; ++i)
    item(qPrintable(QString("miLRCbackward%1").arg(i + 1)), QString("延后%1秒").arg(steps[i]), [this, i] { StepOffset(i, false); });
  pmLRC_->addSeparator();
  item("miCopyLRCToClip", "复制到剪贴板...", [this] { CopyLRCToClip(); });
  item("miLRCFileBrowse", "浏览歌词文件...", [this] { LRCFileBrowse(); });
  pmLRC_->addSeparator();
  item("miLRCConfig", "选项", [this] { LRCConfig(); });
}

void TfmLRC::UpdatePosition(int32_t t) {
  scroll_->UpdatePosition(t);
  SyncFindLink();
}

void TfmLRC::ClearLyrics() {
  scroll_->ClearLyrics();
  SyncFindLink();
}

void TfmLRC::LyricsLoaded() {
  scroll_->Refresh();
  SyncFindLink();
}

void TfmLRC::FindLRC() {
  if (host_) host_->FindLyrics();
}

void TfmLRC::LocalLinkLRC() {
  if (host_) host_->LinkLocalLyric(parser_.FileName);
}

void TfmLRC::CancelLRCLink() {
  ClearLyrics();
  if (host_) host_->CancelLyricLink();
}

void TfmLRC::StepOffset(int step, bool forward) {
  StepLyricOffset(parser_, step, forward);
  scroll_->Refresh();
  if (!parser_.Modified) return;
  std::string error;
  if (!parser_.SaveOffset(&error)) Say("歌词偏移", QString("歌词偏移未能保存：%1").arg(QString::fromStdString(error)));
}

void TfmLRC::CopyLRCToClip() {
  if (parser_.Count() == 0) return;
  QApplication::clipboard()->setText(QString::fromStdString(parser_.GetText()));
  Say("提示", "已经把歌词内容复制到您的剪贴板。");
}

// The desktop has no portable "show this file selected": its folder is opened.
void TfmLRC::LRCFileBrowse() {
  const QString file = QString::fromStdString(parser_.FileName);
  const QFileInfo info(file);
  if (file.isEmpty() || !info.isFile()) {
    Say("浏览文件", QString("您要浏览的文件“%1”不存在！").arg(file));
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

void TfmLRC::LRCConfig() {
  if (host_) host_->ShowLyricOptions();
}

TLyricSeekState TfmLRC::SeekState(int32_t time) const {
  TLyricSeekState s = host_ ? host_->LyricSeekState(time) : TLyricSeekState{};
  s.HasLines = parser_.Count() > 0;
  return s;
}

// The lyrics move under the mouse only while the player plays; otherwise the drag snaps back.
void TfmLRC::ScrollLRCChange(int32_t time, bool* canChange) { *canChange = AcceptLyricDrag(SeekState(time)); }

void TfmLRC::ScrollLRCChangePosition(int32_t time) {
  if (host_ && ShouldSeekAfterLyricDrag(SeekState(time))) host_->SeekTo(time);
}

void TfmLRC::SyncFindLink() {
  const bool show = scroll_->Model().ShowsFindLink();
  if (lblFindLRC_->isHidden() == show) lblFindLRC_->setVisible(show);
  if (show) StyleFindLink(linkHot_);
}

// Hovered: underlined in the current line's colour with a hand cursor; else the other lines'.
void TfmLRC::StyleFindLink(bool hot) {
  linkHot_ = hot;
  const TLyricColor color = hot ? scroll_->Model().CurrentColor() : scroll_->Model().ScrollColor();
  QPalette pal = lblFindLRC_->palette();
  QFont font = lblFindLRC_->font();
  if (pal.color(QPalette::WindowText) == ToQColor(color) && font.underline() == hot) return;
  pal.setColor(QPalette::WindowText, ToQColor(color));
  lblFindLRC_->setPalette(pal);
  font.setUnderline(hot);
  lblFindLRC_->setFont(font);
  PlaceFindLink();
  if (hot) lblFindLRC_->setCursor(Qt::PointingHandCursor);
  else lblFindLRC_->unsetCursor();
}

bool TfmLRC::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lblFindLRC_) {
    if (event->type() == QEvent::Enter && !lblFindLRC_->text().isEmpty()) StyleFindLink(true);
    else if (event->type() == QEvent::Leave) StyleFindLink(false);
    else if (event->type() == QEvent::MouseButtonRelease &&
             static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      FindLRC();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TfmLRC::resizeEvent(QResizeEvent*) {
  scroll_->setGeometry(rect());
  PlaceFindLink();
}

// Centred over the lyric control.
void TfmLRC::PlaceFindLink() {
  lblFindLRC_->adjustSize();
  const QRect r = scroll_->geometry();
  lblFindLRC_->move(r.center().x() - lblFindLRC_->width() / 2, r.center().y() - lblFindLRC_->height() / 2);
}

void TfmLRC::contextMenuEvent(QContextMenuEvent* e) { pmLRC_->popup(e->globalPos()); }

void TfmLRC::dragEnterEvent(QDragEnterEvent* e) {
  if (!DroppedFile(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void TfmLRC::dropEvent(QDropEvent* e) {
  const QString file = DroppedFile(e->mimeData());
  if (file.isEmpty() || !QFileInfo(file).isFile()) return;
  e->acceptProposedAction();
  if (host_) host_->AssociateLyricFile(file.toStdString());
}

void TfmLRC::Say(const QString& caption, const QString& text) {
  if (message_) message_(caption, text);
  else QMessageBox::information(this, caption, text);
}

}  // namespace ml
