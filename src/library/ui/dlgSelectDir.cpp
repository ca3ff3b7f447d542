#include "library/ui/dlgSelectDir.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace ml {

TdlgSelectDir::TdlgSelectDir(const std::vector<std::string>& extensions, const QString& start, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("目录选择"));
  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setReadOnly(true);
  model_->setRootPath(QDir::rootPath());
  tree_ = new QTreeView(this);
  tree_->setModel(model_);
  tree_->setHeaderHidden(true);
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);

  subfolders_ = new QCheckBox(QStringLiteral("包含子目录"), this);
  subfolders_->setChecked(true);
  auto* group = new QGroupBox(QStringLiteral("包含文件类型"), this);
  auto* grid = new QGridLayout(group);
  for (const std::string& e : extensions) {
    auto* box = new QCheckBox(QStringLiteral(".") + QString::fromStdString(e).toUpper(), group);
    box->setChecked(true);
    grid->addWidget(box, int(types_.size()) / 4, int(types_.size()) % 4);
    connect(box, &QCheckBox::toggled, this, [this] { UpdateOk(); });
    types_.push_back(box);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  ok_->setText(QStringLiteral("确定"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addWidget(subfolders_);
  layout->addWidget(group);
  layout->addWidget(buttons);
  resize(360, 460);

  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { UpdateOk(); });
  if (!start.isEmpty() && QDir(start).exists()) SelectFolder(start);
  UpdateOk();
}

void TdlgSelectDir::SelectFolder(const QString& path) {
  const QModelIndex index = model_->index(QDir(path).absolutePath());
  if (!index.isValid()) return;
  tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
}

std::string TdlgSelectDir::Folder() const {
  const QModelIndex index = tree_->currentIndex();
  return index.isValid() ? model_->filePath(index).toStdString() : std::string();
}

bool TdlgSelectDir::Recursive() const { return subfolders_->isChecked(); }

std::string TdlgSelectDir::Extensions() const {
  std::string joined;
  for (const QCheckBox* box : types_)
    if (box->isChecked()) joined += (joined.empty() ? "" : "|") + box->text().toStdString();
  return joined;
}

void TdlgSelectDir::UpdateOk() { ok_->setEnabled(!Folder().empty() && !Extensions().empty()); }

}  // namespace ml
