#include "online/ui/udlgSearchAndDownLRC.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>

#include "base/StrUtil.h"
#include "media/uSongName.h"
#include "skin/ui/SkinQt.h"

namespace ml {

namespace {

constexpr const char* kTip = "提示:不输入歌手名可以得到更多搜索结果。";

// The dialog's handler first, then the one it found there.
template <class F, class Mine>
void Chain(std::function<F>& slot, std::function<F>& saved, Mine mine) {
  saved = slot;
  slot = [mine = std::move(mine), next = saved](auto&&... a) {
    mine(a...);
    if (next) next(a...);
  };
}

std::string S(const QString& s) { return s.toStdString(); }

}  // namespace

TdlgSearchAndDownLRC::TdlgSearchAndDownLRC(TDownLRC& lyrics, std::function<int32_t()> newRequest, std::string folder,
                                           QWidget* parent)
    : QDialog(parent), lyrics_(lyrics), newRequest_(std::move(newRequest)), folder_(std::move(folder)) {
  setWindowTitle(QStringLiteral("下载歌词"));
  setObjectName("dlgSearchAndDownLRC");
  lbledtSinger_ = new QLineEdit(this);
  lbledtSong_ = new QLineEdit(this);
  btnSearch_ = new QPushButton(QStringLiteral("搜索(&S)"), this);
  lvwFiles_ = new QTreeWidget(this);
  lvwFiles_->setRootIsDecorated(false);
  lvwFiles_->setHeaderLabels({QStringLiteral("歌手"), QStringLiteral("歌名")});
  lvwFiles_->header()->setStretchLastSection(true);
  edtLRCFileName_ = new QLineEdit(this);
  btnDownload_ = new QPushButton(QStringLiteral("下载(&D)"), this);
  btnClose_ = new QPushButton(QStringLiteral("关闭(&C)"), this);
  lblTips_ = new QLabel(QString::fromUtf8(kTip), this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QStringLiteral("歌手："), this), 0, 0);
  grid->addWidget(lbledtSinger_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("歌名："), this), 0, 2);
  grid->addWidget(lbledtSong_, 0, 3);
  grid->addWidget(btnSearch_, 0, 4);
  grid->addWidget(lvwFiles_, 1, 0, 1, 5);
  grid->addWidget(new QLabel(QStringLiteral("保存文件名："), this), 2, 0);
  grid->addWidget(edtLRCFileName_, 2, 1, 1, 4);
  // The notebook under the list: the tip, or the countdown of the automatic download.
  nbPages_ = new QStackedWidget(this);
  lblTips_->setObjectName("Tips");
  nbPages_->addWidget(lblTips_);
  auto* countdownPage = new QWidget(nbPages_);
  countdownPage->setObjectName("SearchLRC");
  auto* countdown = new QHBoxLayout(countdownPage);
  countdown->setContentsMargins(0, 0, 0, 0);
  lblCountdown_ = new QLabel(QString::number(CountdownSeconds), countdownPage);
  lblCountdown_->setObjectName("lblCountdown");
  lblCountdownText_ = new QLabel(QStringLiteral("秒后将自动下载"), countdownPage);
  countdown->addWidget(new QLabel(QStringLiteral("请选择歌词文件进行下载： "), countdownPage));
  countdown->addWidget(lblCountdown_);
  countdown->addWidget(lblCountdownText_);
  countdown->addStretch(1);
  nbPages_->addWidget(countdownPage);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(nbPages_, 1);
  buttons->addWidget(btnDownload_);
  buttons->addWidget(btnClose_);
  grid->addLayout(buttons, 3, 0, 1, 5);
  resize(460, 320);

  connect(btnSearch_, &QPushButton::clicked, this, &TdlgSearchAndDownLRC::Search);
  connect(lbledtSong_, &QLineEdit::returnPressed, this, &TdlgSearchAndDownLRC::Search);
  connect(lbledtSinger_, &QLineEdit::returnPressed, this, &TdlgSearchAndDownLRC::Search);
  connect(btnDownload_, &QPushButton::clicked, this, &TdlgSearchAndDownLRC::DownloadChosen);
  connect(btnClose_, &QPushButton::clicked, this, &QDialog::reject);
  connect(lvwFiles_, &QTreeWidget::itemSelectionChanged, this, &TdlgSearchAndDownLRC::RowChosen);
  connect(lvwFiles_, &QTreeWidget::itemDoubleClicked, this, &TdlgSearchAndDownLRC::DownloadChosen);
  // A click (or a key) in the list is the user choosing: the countdown gives way.
  lvwFiles_->installEventFilter(this);
  lvwFiles_->viewport()->installEventFilter(this);
  btnDownload_->setEnabled(false);
  Connect();
}

TdlgSearchAndDownLRC::~TdlgSearchAndDownLRC() {
  StopCountdown();
  Disconnect();
}

void TdlgSearchAndDownLRC::done(int result) {
  StopCountdown();
  QDialog::done(result);
}

bool TdlgSearchAndDownLRC::eventFilter(QObject* watched, QEvent* event) {
  const bool click = watched == lvwFiles_->viewport() && event->type() == QEvent::MouseButtonPress;
  const bool key = watched == lvwFiles_ && event->type() == QEvent::KeyPress;
  if ((click || key) && CountingDown()) StopCountdown();
  return QDialog::eventFilter(watched, event);
}

void TdlgSearchAndDownLRC::Connect() {
  Chain(lyrics_.OnSearchBegan, searchBegan_,
        [this](int32_t, const std::string&) { SetBusy(false, false, "正在服务器上搜索歌词..."); });
  Chain(lyrics_.OnSearchDone, searchDone_, [this](const TSearchResult& r) { Found(r); });
  Chain(lyrics_.OnSearchTimedOut, searchTimedOut_,
        [this](int32_t, const std::string&) { SetBusy(true, false, "连接服务器失败"); });
  Chain(lyrics_.OnDownloadBegan, downloadBegan_,
        [this](int32_t, int32_t) { SetBusy(false, false, "正在从服务器下载歌词..."); });
  Chain(lyrics_.OnDownloadDone, downloadDone_,
        [this](int32_t, const std::string&, int32_t) { SetBusy(true, true, "下载歌词成功"); });
  Chain(lyrics_.OnDownloadTimedOut, downloadTimedOut_,
        [this](int32_t, int32_t) { SetBusy(true, false, "连接服务器失败"); });
}

void TdlgSearchAndDownLRC::Disconnect() {
  lyrics_.OnSearchBegan = std::move(searchBegan_);
  lyrics_.OnSearchDone = std::move(searchDone_);
  lyrics_.OnSearchTimedOut = std::move(searchTimedOut_);
  lyrics_.OnDownloadBegan = std::move(downloadBegan_);
  lyrics_.OnDownloadDone = std::move(downloadDone_);
  lyrics_.OnDownloadTimedOut = std::move(downloadTimedOut_);
}

void TdlgSearchAndDownLRC::Prefill(const std::string& caption) {
  TSongNameParts parts;
  ParseSongName(caption, parts);
  std::string singer, song;
  LyricSearchNames(parts, singer, song);
  lbledtSinger_->setText(Q(singer));
  lbledtSong_->setText(Q(song));
  lblTips_->setText(QString::fromUtf8(kTip));
  lblTips_->setVisible(!singer.empty() && !song.empty());
}

void TdlgSearchAndDownLRC::SetBusy(bool searchEnabled, bool downloadEnabled, const char* tip) {
  ShowTips();
  btnSearch_->setEnabled(searchEnabled);
  btnDownload_->setEnabled(downloadEnabled);
  lblTips_->setText(QString::fromUtf8(tip));
  lblTips_->setVisible(true);
}

void TdlgSearchAndDownLRC::Search() {
  const std::string singer(Trim(S(lbledtSinger_->text()))), song(Trim(S(lbledtSong_->text())));
  if (song.empty()) {
    const QString caption = QStringLiteral("提示"), text = QStringLiteral("请输入歌名");
    if (ShowMessage) ShowMessage(caption, text);
    else QMessageBox::information(this, caption, text);
    return;
  }
  // The same words again while their hits are listed: nothing new to ask.
  if (singer == lastSinger_ && song == lastSong_ && lvwFiles_->topLevelItemCount() > 0) return;
  lvwFiles_->clear();
  reply_ = {};
  lastSinger_ = singer;
  lastSong_ = song;
  ownSearch_ = newRequest_();
  lyrics_.SearchBySingerAndSong(ownSearch_, singer, song);
}

void TdlgSearchAndDownLRC::Found(const TSearchResult& result) {
  reply_ = result;
  lvwFiles_->clear();
  for (const TLRCResult& hit : result.Results)
    lvwFiles_->addTopLevelItem(new QTreeWidgetItem(QStringList{Q(hit.Singer), Q(hit.Title)}));
  SetBusy(true, !result.Results.empty(),
          result.Results.empty() ? "未能在服务器上找到歌词" : "选择歌词文件进行下载");
  // Not the dialog's own search: the main window's automatic one, which leaves several hits to
  // the user while the dialog is open.
  if (result.RequestID != ownSearch_ && result.Results.size() > 1) ShowCountdown();
}

void TdlgSearchAndDownLRC::ShowCountdown() {
  nbPages_->setCurrentIndex(1);
  btnDownload_->setDefault(true);
  lvwFiles_->setCurrentItem(lvwFiles_->topLevelItem(0));
  countdown_ = CountdownSeconds;
  lblCountdown_->setText(QString::number(countdown_));
  lblCountdown_->show();
  lblCountdownText_->show();
  if (!countdownTimer_) countdownTimer_ = lyrics_.GetDispatcher().StartTimer(CountdownInterval, [this] { Tick(); });
}

void TdlgSearchAndDownLRC::Tick() {
  lblCountdown_->setText(QString::number(--countdown_));
  if (countdown_ > 0) return;
  StopCountdown();
  if (reply_.Results.empty()) return;
  // What the automatic search would have done by itself with the dialog closed.
  const TLRCResult& first = reply_.Results.front();
  lyrics_.Download(reply_.RequestID, first.LyricID, folder_ + TDownLRC::LyricFileName(first));
  accept();
}

void TdlgSearchAndDownLRC::StopCountdown() {
  if (countdownTimer_) lyrics_.GetDispatcher().StopTimer(countdownTimer_);
  countdownTimer_ = 0;
  lblCountdown_->hide();
  lblCountdownText_->hide();
}

void TdlgSearchAndDownLRC::ShowTips() {
  StopCountdown();
  nbPages_->setCurrentIndex(0);
  btnDownload_->setDefault(false);
}

void TdlgSearchAndDownLRC::RowChosen() {
  const int row = lvwFiles_->currentIndex().row();
  if (row < 0 || size_t(row) >= reply_.Results.size()) return;
  const TLRCResult& hit = reply_.Results[size_t(row)];
  lbledtSinger_->setText(Q(hit.Singer));
  lbledtSong_->setText(Q(hit.Title));
  const bool unnamed = Trim(hit.Singer).empty() && Trim(hit.Title).empty();
  edtLRCFileName_->setText(unnamed ? QStringLiteral("未命名歌词.lrc") : Q(TDownLRC::LyricFileName(hit)));
}

void TdlgSearchAndDownLRC::DownloadChosen() {
  if (reply_.Results.empty() || lvwFiles_->topLevelItemCount() == 0) return;
  if (!lvwFiles_->currentItem()) lvwFiles_->setCurrentItem(lvwFiles_->topLevelItem(0));
  const int row = lvwFiles_->indexOfTopLevelItem(lvwFiles_->currentItem());
  if (row < 0 || size_t(row) >= reply_.Results.size()) return;
  const TLRCResult& hit = reply_.Results[size_t(row)];
  std::string name = MakeSafeFileName(S(edtLRCFileName_->text()));
  if (name.empty()) name = TDownLRC::LyricFileName(hit);
  lyrics_.Download(reply_.RequestID, hit.LyricID, folder_ + name);
  accept();
}

}  // namespace ml
