#include "library/ui/dlgFileProperties.h"

#include "base/TimeText.h"
#include "skin/ui/SkinQt.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>

namespace ml {

TdlgFileProperties::TdlgFileProperties(const TShareFileInfo& song, QWidget* parent) : QDialog(parent) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("文件属性"));
  const QFileInfo file(Q(song.FileName));
  // The size on disk when the file is there, else the one the library recorded.
  const qint64 size = file.exists() ? file.size() : qint64(song.FileSize);
  QLocale digits = QLocale::c();
  digits.setNumberOptions({});  // with thousands separators
  rows_ = {{QStringLiteral("文件名"), file.fileName()},
           {QStringLiteral("位置"), file.absolutePath()},
           {QStringLiteral("大小"), QStringLiteral("%1 字节").arg(digits.toString(size))},
           {QStringLiteral("标题"), Q(song.Title.empty() ? song.Caption : song.Title)},
           {QStringLiteral("艺术家"), Q(song.Artist)},
           {QStringLiteral("专辑"), Q(song.Album)},
           {QStringLiteral("时长"), song.Duration > 0 ? Q(FormatTimeText(song.Duration / 1000, true)) : QString()}};
  if (!song.Codec.empty()) rows_.emplace_back(QStringLiteral("格式"), Q(song.Codec));
  if (song.Bitrate > 0) rows_.emplace_back(QStringLiteral("比特率"), QStringLiteral("%1 kbps").arg(song.Bitrate));
  if (!file.exists()) rows_.emplace_back(QStringLiteral("状态"), QStringLiteral("文件不存在"));
  auto* form = new QFormLayout(this);
  for (const auto& [label, value] : rows_) {
    auto* v = new QLabel(value, this);
    v->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, v);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  form->addRow(buttons);
}

}  // namespace ml
