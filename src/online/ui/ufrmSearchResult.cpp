#include "online/ui/ufrmSearchResult.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

#include "base/LRMD5.h"
#include "online/SongSearch.h"
#include "skin/SkinColors.h"
#include "skin/SkinElements.h"
#include "skin/ui/SkinQt.h"

namespace ml {

namespace {

constexpr int kBarWidth = 7;
constexpr int kBarLineGap = 2;

QString DurationText(int seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
  return text;
}

// Rows in the skin's colours: selected ones on the highlight gradient; the name column starts
// with the availability bar of the row's sources.
class TResultDelegate final : public QStyledItemDelegate {
public:
  TResultDelegate(const TSearchResultColors& colors, QObject* parent) : QStyledItemDelegate(parent), colors_(colors) {}

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    p->save();
    const bool selected = option.state & QStyle::State_Selected;
    QRect r = option.rect;
    if (selected) {
      QLinearGradient g(r.topLeft(), r.bottomLeft());
      g.setColorAt(0, ToQColor(colors_.HighlightBkgnd1));
      g.setColorAt(1, ToQColor(colors_.HighlightBkgnd2));
      p->fillRect(r, g);
    }
    if (index.column() == TfrmSearchResult::ColName) {
      const int lines = TSongSearch::AvailabilityLines(index.data(Qt::UserRole + 1).toInt());
      const int bottom = r.bottom() - 2;
      for (int i = 0; i < lines; ++i) {
        p->setPen(ToQColor(TSongSearch::AvailabilityColor(i)));
        p->drawLine(r.left() + 2, bottom - i * kBarLineGap, r.left() + 2 + kBarWidth - 1, bottom - i * kBarLineGap);
      }
      r.setLeft(r.left() + kBarWidth + 6);
    }
    p->setPen(ToQColor(selected ? colors_.HighlightText : colors_.Font));
    p->setFont(option.font);
    const Qt::Alignment align =
        Qt::AlignVCenter | (index.column() == TfrmSearchResult::ColSize ? Qt::AlignRight : Qt::AlignLeft);
    const QRect text = r.adjusted(2, 0, -3, 0);
    p->drawText(text, int(align), option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, text.width()));
    p->restore();
  }

private:
  const TSearchResultColors& colors_;
};

}  // namespace

TfrmSearchResult::TfrmSearchResult(TSongSearch& search, QWidget* parent)
    : QWidget(parent),
      search_(search),
      list_(new QTreeWidget(this)),
      prev_(new QPushButton(QStringLiteral("上页"), this)),
      next_(new QPushButton(QStringLiteral("下页"), this)),
      pages_(new QLabel(this)),
      status_(new QLabel(this)) {
  list_->setColumnCount(ColumnCount);
  list_->setHeaderLabels({QStringLiteral("歌曲名称"), QStringLiteral("歌手"), QStringLiteral("时长"), QStringLiteral("大小")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setItemDelegate(new TResultDelegate(colors_, list_));
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(ColName, QHeaderView::Stretch);
  list_->setColumnWidth(ColArtist, 90);
  list_->setColumnWidth(ColDuration, 50);
  list_->setColumnWidth(ColSize, 72);
  // Double click and Enter both activate a row.
  connect(list_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { Choose(list_->indexOfTopLevelItem(item), true); });
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (QMenu* menu = MakeContextMenu()) {
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->popup(list_->viewport()->mapToGlobal(at));
    }
  });

  for (QPushButton* b : {prev_, next_}) {
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
  }
  connect(prev_, &QPushButton::clicked, this, [this] { search_.PreviousPage(); });
  connect(next_, &QPushButton::clicked, this, [this] { search_.NextPage(); });
  pages_->setTextFormat(Qt::RichText);
  connect(pages_, &QLabel::linkActivated, this, [this](const QString& link) {
    bool ok = false;
    const int number = link.toInt(&ok);
    if (ok && number > 0) search_.Search(search_.Keyword(), number - 1);
  });

  auto* tool = new QHBoxLayout;
  tool->setContentsMargins(4, 2, 4, 2);
  tool->addWidget(status_);
  tool->addStretch();
  tool->addWidget(prev_);
  tool->addWidget(pages_);
  tool->addWidget(next_);
  tool->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(list_);
  layout->addLayout(tool);

  search_.OnChanged = [this] { Reload(); };
  Reload();
}

TfrmSearchResult::~TfrmSearchResult() { search_.OnChanged = nullptr; }

void TfrmSearchResult::Reload() {
  list_->clear();
  const auto& rows = search_.Rows();
  QList<QTreeWidgetItem*> items;
  for (const TSearchResultInfo& row : rows) {
    auto* item = new QTreeWidgetItem({Q(row.Name), Q(row.Artist), DurationText(row.DurationSeconds),
                                      Q(TSongSearch::SizeText(row.Size))});
    item->setData(ColName, Qt::UserRole + 1, row.Sources);
    item->setToolTip(ColName, Q(row.Name));
    items.push_back(item);
  }
  list_->addTopLevelItems(items);

  prev_->setEnabled(search_.PreviousEnabled());
  next_->setEnabled(search_.NextEnabled());
  const TPageStrip strip = search_.Strip();
  QString html;
  for (int n = strip.First; n <= strip.Last; ++n) {
    if (!html.isEmpty()) html += "&nbsp;";
    html += n == strip.Current ? QString("<b>%1</b>").arg(n) : QString("<a href=\"%1\">%1</a>").arg(n);
  }
  pages_->setText(html);
  status_->setText(Q(search_.StatusText()));
}

const TSearchResultInfo* TfrmSearchResult::RowOf(int item) const {
  const auto& rows = search_.Rows();
  return item >= 0 && item < int(rows.size()) ? &rows[size_t(item)] : nullptr;
}

void TfrmSearchResult::Choose(int item, bool play) {
  if (const TSearchResultInfo* row = RowOf(item))
    emit SongChosen(Q(LRMD5::MD5DigestToStr(row->Digest)), Q(row->Name), qint64(row->Size), play);
}

QMenu* TfrmSearchResult::MakeContextMenu() {
  const int focused = list_->indexOfTopLevelItem(list_->currentItem());
  const TSearchResultInfo* row = RowOf(focused);
  if (!row) return nullptr;
  auto* menu = new QMenu(this);
  menu->addAction(QStringLiteral("添加到播放列表"), this, [this] {
    for (QTreeWidgetItem* item : list_->selectedItems()) Choose(list_->indexOfTopLevelItem(item), false);
  });
  menu->addAction(QStringLiteral("播放"), this, [this, focused] { Choose(focused, true); });
  const std::vector<std::string> words = TSongSearch::RelatedKeywords(row->Name);
  if (!words.empty()) menu->addSeparator();
  for (const std::string& word : words) {
    const QString w = Q(word);
    menu->addAction(QStringLiteral("搜索 \"%1\"").arg(w), this, [this, w] { emit KeywordChosen(w); });
  }
  return menu;
}

void TfrmSearchResult::UpdateSkin(bool, TColor tint, bool) {
  const TSkinElement* form = FindSkinElement("lyricForm", "");
  const TSkinElement* element = FindSkinElement("lyricForm", "SearchResult");
  const TSkinColorsLook look = SkinManager()->GetColors("lyricForm", "SearchResult", element->Colors);
  const TSkinColorsLook back = SkinManager()->GetColors("lyricForm", "", form->Colors);
  SetInSkin(look.Found);
  if (look.Found) {
    auto get = [&](const char* name) { return TintColor(look.Get(name), tint); };
    colors_.Font = get("FontColor");
    colors_.HighlightText = get("HighlightTextColor");
    colors_.HighlightBkgnd1 = get("HighlightBkGnd1Color");
    colors_.HighlightBkgnd2 = get("HighlightBkGnd2Color");
  }
  if (back.Found) colors_.Background = TintColor(back.Get("color"), tint);
  QPalette pal = palette();
  for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase, QPalette::Button})
    pal.setColor(role, ToQColor(colors_.Background));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    pal.setColor(role, ToQColor(colors_.Font));
  pal.setColor(QPalette::Link, ToQColor(colors_.Font));
  setPalette(pal);
  setAutoFillBackground(true);
  list_->setPalette(pal);
  list_->viewport()->update();
}

}  // namespace ml
