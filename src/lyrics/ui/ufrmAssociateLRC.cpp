#include "lyrics/ui/ufrmAssociateLRC.h"

#include "lyrics/LyricFileSearch.h"
#include "skin/ui/SkinQt.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>

namespace ml {

namespace fs = std::filesystem;

namespace {

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setObjectName(name);
  // Enter belongs to the title box (it searches): no button takes it as the dialog's default.
  b->setAutoDefault(false);
  return b;
}

}  // namespace

TfrmAssociateLRC::TfrmAssociateLRC(std::string lyricFolder, const std::string& currentFile, QWidget* parent)
    : QDialog(parent), folder_(std::move(lyricFolder)) {
  setWindowTitle(QStringLiteral("关联歌唱文件"));
  setObjectName("frmAssociateLRC");
  edtTitle_ = new QLineEdit(this);
  edtTitle_->setObjectName("edtLRCTitle");
  btnSearch_ = Button("本地搜索", "btnLocalSearch", this);
  chkPartial_ = new QCheckBox(QStringLiteral("部分匹配"), this);
  chkPartial_->setObjectName("chkPartialMatch");
  chkPartial_->setChecked(true);
  lvwLRCFiles_ = new QTreeWidget(this);
  lvwLRCFiles_->setObjectName("lvwLRCFiles");
  lvwLRCFiles_->setRootIsDecorated(false);
  lvwLRCFiles_->setHeaderLabels({QStringLiteral("文件名"), QStringLiteral("所在目录")});
  lvwLRCFiles_->header()->setStretchLastSection(true);
  lvwLRCFiles_->setColumnWidth(0, 220);
  lvwLRCFiles_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  btnBrowse_ = Button("浏览", "btnBrowse", this);
  btnRename_ = Button("重命名", "btnRename", this);
  btnDelete_ = Button("删除文件", "btnDeleteFile", this);
  btnCancelLink_ = Button("撤销关联", "btnCancelLink", this);
  btnAssociate_ = Button("关联", "btnAssociate", this);
  btnCancel_ = Button("取消", "btnCancel", this);

  auto* grid = new QGridLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("歌词标题"), this));
  top->addWidget(edtTitle_, 1);
  top->addWidget(btnSearch_);
  top->addWidget(chkPartial_);
  grid->addLayout(top, 0, 0);
  grid->addWidget(lvwLRCFiles_, 1, 0);
  auto* bottom = new QHBoxLayout;
  for (QPushButton* b : {btnBrowse_, btnRename_, btnDelete_, btnCancelLink_}) bottom->addWidget(b);
  bottom->addStretch(1);
  bottom->addWidget(btnAssociate_);
  bottom->addWidget(btnCancel_);
  grid->addLayout(bottom, 2, 0);
  resize(520, 320);

  scanTimer_ = new QTimer(this);
  scanTimer_->setInterval(0);
  connect(scanTimer_, &QTimer::timeout, this, &TfrmAssociateLRC::ScanMore);
  connect(btnSearch_, &QPushButton::clicked, this, &TfrmAssociateLRC::LocalSearch);
  connect(edtTitle_, &QLineEdit::returnPressed, this, &TfrmAssociateLRC::LocalSearch);
  connect(btnBrowse_, &QPushButton::clicked, this, &TfrmAssociateLRC::Browse);
  connect(btnRename_, &QPushButton::clicked, this, &TfrmAssociateLRC::RenameSelected);
  connect(btnDelete_, &QPushButton::clicked, this, &TfrmAssociateLRC::DeleteSelected);
  connect(btnCancelLink_, &QPushButton::clicked, this, [this] {
    if (OnCancelLink) OnCancelLink();
  });
  connect(btnAssociate_, &QPushButton::clicked, this, &TfrmAssociateLRC::Associate);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(lvwLRCFiles_, &QTreeWidget::itemChanged, this, &TfrmAssociateLRC::Renamed);

  if (!currentFile.empty()) {
    edtTitle_->setText(Q(fs::path(currentFile).filename().string()));
    std::error_code ec;
    if (fs::is_regular_file(currentFile, ec)) SetOnlyRow(currentFile);
  }
}

TfrmAssociateLRC::~TfrmAssociateLRC() = default;

bool TfrmAssociateLRC::Scanning() const { return scan_ != nullptr; }

std::string TfrmAssociateLRC::RowPath(const QTreeWidgetItem* item) {
  return item ? item->data(0, Qt::UserRole).toByteArray().toStdString() : std::string();
}

void TfrmAssociateLRC::Say(const QString& caption, const QString& text, bool error) {
  if (ShowMessage) ShowMessage(caption, text, error);
  else if (error) QMessageBox::critical(this, caption, text);
  else QMessageBox::information(this, caption, text);
}

QTreeWidgetItem* TfrmAssociateLRC::AddRow(const std::string& path) {
  const fs::path p(path);
  auto* item = new QTreeWidgetItem(QStringList{Q(p.filename().string()), Q(p.parent_path().string())});
  // The path's own bytes: a name that is not UTF-8 still finds its file.
  item->setData(0, Qt::UserRole, QByteArray::fromStdString(path));
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  filling_ = true;
  lvwLRCFiles_->addTopLevelItem(item);
  filling_ = false;
  return item;
}

void TfrmAssociateLRC::SetOnlyRow(const std::string& path) {
  StopScan();
  lvwLRCFiles_->clear();
  lvwLRCFiles_->setCurrentItem(AddRow(path));
}

void TfrmAssociateLRC::LocalSearch() {
  StopScan();
  const TLyricFileQuery query = MakeLyricFileQuery(edtTitle_->text().toStdString(), chkPartial_->isChecked());
  std::error_code ec;
  if (folder_.empty() || !fs::is_directory(folder_, ec)) {
    Say(QStringLiteral("错误提示"), QStringLiteral("搜索目录不存在"), true);
    return;
  }
  lvwLRCFiles_->clear();
  scan_ = std::make_unique<TLyricFolderScan>(folder_, query);
  ScanMore();
}

void TfrmAssociateLRC::ScanMore() {
  if (!scan_) return;
  std::vector<std::string> found;
  const bool more = scan_->Step(ScanBatch, found);
  for (const std::string& path : found) {
    QTreeWidgetItem* item = AddRow(path);
    if (lvwLRCFiles_->topLevelItemCount() == 1) lvwLRCFiles_->setCurrentItem(item);
  }
  if (more) scanTimer_->start();
  else StopScan();
}

void TfrmAssociateLRC::StopScan() {
  scanTimer_->stop();
  scan_.reset();
}

void TfrmAssociateLRC::Browse() {
  const QString folder = Q(folder_);
  const QString file = ChooseFile ? ChooseFile(folder)
                                  : QFileDialog::getOpenFileName(this, QStringLiteral("浏览"), folder,
                                                                 QStringLiteral("歌词文件 (*.lrc);;所有文件 (*)"));
  if (!file.isEmpty()) SetOnlyRow(file.toStdString());
}

void TfrmAssociateLRC::RenameSelected() {
  if (QTreeWidgetItem* item = lvwLRCFiles_->currentItem()) lvwLRCFiles_->editItem(item, 0);
}

void TfrmAssociateLRC::Renamed(QTreeWidgetItem* item, int column) {
  if (filling_ || column != 0) return;
  const std::string path = RowPath(item);
  const std::string oldName = fs::path(path).filename().string();
  const std::string wanted = item->text(0).toStdString();
  if (wanted == oldName) return;
  std::string newPath, error;
  const bool ok = RenameLyricFile(path, wanted, newPath, error);
  filling_ = true;
  if (ok) {
    item->setData(0, Qt::UserRole, QByteArray::fromStdString(newPath));
    item->setText(0, Q(fs::path(newPath).filename().string()));
    edtTitle_->setText(item->text(0));
  } else {
    item->setText(0, Q(oldName));
  }
  filling_ = false;
  if (!ok) Say(QStringLiteral("错误提示"), QStringLiteral("无法重命名“%1”：%2").arg(Q(oldName), Q(error)), true);
}

void TfrmAssociateLRC::DeleteSelected() {
  QTreeWidgetItem* item = lvwLRCFiles_->currentItem();
  if (!item) return;
  const QString caption = QStringLiteral("提示"), question = QStringLiteral("是否确定删除该歌词文件？");
  const bool yes = Confirm ? Confirm(caption, question)
                           : QMessageBox::question(this, caption, question, QMessageBox::Yes | QMessageBox::No,
                                                   QMessageBox::No) == QMessageBox::Yes;
  if (!yes) return;
  std::string error;
  if (!DeleteLyricFile(RowPath(item), error)) {
    Say(QStringLiteral("错误提示"), QStringLiteral("无法删除“%1”：%2").arg(item->text(0), Q(error)), true);
    return;
  }
  delete item;
}

void TfrmAssociateLRC::Associate() {
  const QTreeWidgetItem* item = lvwLRCFiles_->currentItem();
  if (item) {
    const std::string path = RowPath(item);
    std::error_code ec;
    // A row whose file went meanwhile: say so rather than close having done nothing.
    if (!fs::is_regular_file(path, ec)) {
      Say(QStringLiteral("错误提示"), QStringLiteral("歌词文件“%1”不存在！").arg(item->text(0)), true);
      return;
    }
    chosen_ = path;
  }
  accept();
}

void TfrmAssociateLRC::done(int result) {
  StopScan();
  QDialog::done(result);
}

}  // namespace ml
