#include "library/ui/uLuiPlayListBox.h"

#include "base/TimeText.h"
#include "skin/SkinElements.h"
#include "skin/ui/SkinQt.h"
#include "skin/ui/uLuiSkinScrollBar.h"

#include <QDragEnterEvent>
#include <QLinearGradient>
#include <QFileInfo>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QUrl>

#include <algorithm>

namespace ml {

namespace {

constexpr int kMarkCell = 18;  // the list of playlists: the mark's cell

std::string DurationText(int32_t ms) { return ms >= 1 ? FormatTimeText(ms / 1000, true) : std::string(); }

class TPlayListBoxDelegate : public QStyledItemDelegate {
public:
  explicit TPlayListBoxDelegate(TLuiPlayListBox* box) : QStyledItemDelegate(box), box_(box) {}

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return QSize(box_->viewport()->width(), box_->ItemHeight());
  }

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QRect r = box_->FitRow(option.rect);
    const int i = index.row();
    const TPlayListBoxColors& c = box_->Colors();
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) {
      QLinearGradient g(r.topLeft(), r.bottomLeft());
      g.setColorAt(0, ToQColor(c.HighlightBkgnd1));
      g.setColorAt(1, ToQColor(c.HighlightBkgnd2));
      p->fillRect(r, g);
    } else {
      p->fillRect(r, ToQColor(i % 2 == 0 ? c.Background1 : c.Background2));
    }
    const TPlayListBoxRow row = box_->Model().Row(i);
    if (!row.HasObject) return;
    const bool playing = i == box_->PlayingIndex();
    const bool songs = box_->Kind() != TLuiPlayListBoxKind::lkPlayListMgr;
    const QFontMetrics& fm = option.fontMetrics;
    auto measure = [&fm](std::string_view s) { return fm.horizontalAdvance(QString::fromUtf8(s.data(), qsizetype(s.size()))); };
    auto color = [&](TRowText part) {
      return ToQColor(RowTextColor(c, part, row.LackSource && (songs || part != TRowText::Caption), selected, playing));
    };
    const std::string duration = songs ? DurationText(row.DurationMs) : std::string();
    const int dw = songs ? measure(duration) + 2 : 0;
    const int nw = box_->NumberWidth();
    p->setFont(option.font);

    const int left = songs ? r.left() + nw + 9 : r.left() + kMarkCell;
    const QRect caption(left, r.top() + 1, r.right() + 1 - left, r.height() - 1);
    p->setPen(color(TRowText::Caption));
    p->drawText(caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                Q(ElideCaption(row.Caption, caption.width() - dw, measure)));
    if (songs) {
      if (!playing) {
        p->setPen(color(TRowText::Number));
        p->drawText(QRect(r.left(), r.top() + 1, nw + 6, r.height() - 1), Qt::AlignHCenter | Qt::AlignVCenter,
                    QString::number(i + box_->StartSeqNum()));
      }
      p->setPen(ToQColor(c.DivideLine));
      p->drawLine(r.left() + nw + 5, r.top(), r.left() + nw + 5, r.bottom());
      p->setPen(color(TRowText::Duration));
      p->drawText(QRect(r.right() + 1 - dw, r.top() + 1, dw, r.height() - 1), Qt::AlignLeft | Qt::AlignVCenter,
                  Q(duration));
    }
    const QImage& mark = box_->PlayingBmp();
    if (playing && !mark.isNull()) {
      const int cell = songs ? nw + 6 : kMarkCell;
      p->drawImage(QPoint(r.left() + (cell - mark.width() - 1) / 2, r.top() + (box_->ItemHeight() - mark.height()) / 2),
                   mark);
    }
  }

private:
  TLuiPlayListBox* box_;
};

}  // namespace

void TPlayListModel::SetSource(TCount count, TRowAt row) {
  beginResetModel();
  count_ = std::move(count);
  row_ = std::move(row);
  endResetModel();
}

void TPlayListModel::Reload() {
  beginResetModel();
  endResetModel();
}

TPlayListBoxRow TPlayListModel::Row(int index) const {
  if (!row_ || index < 0 || size_t(index) >= (count_ ? count_() : 0)) return {{}, 0, false, false};
  return row_(size_t(index));
}

int TPlayListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !count_) return 0;
  return int(std::min<size_t>(count_(), size_t(INT32_MAX)));
}

QVariant TPlayListModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return Q(Row(index.row()).Caption);
  return {};
}

Qt::ItemFlags TPlayListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList TPlayListModel::mimeTypes() const { return {kRowsFormat, "text/uri-list"}; }

QMimeData* TPlayListModel::mimeData(const QModelIndexList& indexes) const {
  auto* data = new QMimeData;
  QByteArray rows;
  QList<QUrl> urls;
  for (const QModelIndex& index : indexes) {
    if (!index.isValid()) continue;
    rows += QByteArray::number(index.row()) + '\n';
    if (!file_) continue;
    const QString path = QString::fromStdString(file_(size_t(index.row())));
    if (!path.isEmpty() && QFileInfo(path).isFile()) urls.push_back(QUrl::fromLocalFile(path));
  }
  data->setData(kRowsFormat, rows);
  if (!urls.isEmpty()) data->setUrls(urls);
  return data;
}

TLuiPlayListBox::TLuiPlayListBox(TLuiPlayListBoxKind kind, QWidget* parent) : QListView(parent), kind_(kind) {
  setModel(&model_);
  setItemDelegate(new TPlayListBoxDelegate(this));
  setUniformItemSizes(true);
  setFrameShape(QFrame::NoFrame);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setResizeMode(QListView::Adjust);  // rows as wide as the box, also after the bar narrows it
  setSelectionMode(kind == TLuiPlayListBoxKind::lkPlayListMgr ? SingleSelection : ExtendedSelection);
  setDragEnabled(true);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(true);
  FitItemHeight();
  SetColors(colors_);
  connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { SyncScrollBar(); });
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { SyncScrollBar(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { CheckSelection(); });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { CheckSelection(); });
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
    SyncScrollBar();
    emit Changed();
    emit ItemChanged();
  });
}

TLuiPlayListBox::~TLuiPlayListBox() = default;

void TLuiPlayListBox::SetKind(TLuiPlayListBoxKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  viewport()->update();
}

void TLuiPlayListBox::SetColors(const TPlayListBoxColors& colors) {
  colors_ = colors;
  QPalette pal = palette();
  pal.setColor(QPalette::Base, ToQColor(colors_.Background1));
  setPalette(pal);
  viewport()->update();
}

void TLuiPlayListBox::SetPlayingBmp(const QImage& image) {
  playing_ = image;
  viewport()->update();
}

void TLuiPlayListBox::SetStartSeqNum(int first) {
  if (first <= 0 || first == startSeqNum_) return;
  startSeqNum_ = first;
  viewport()->update();
}

void TLuiPlayListBox::SetPlayingIndex(int index) {
  if (index == playingIndex_) return;
  playingIndex_ = index;
  viewport()->update();
}

QRect TLuiPlayListBox::FitRow(QRect row) const {
  // Rows are laid out again after a resize only later: until then they may be wider.
  row.setRight(std::min(row.right(), viewport()->width() - 1));
  return row;
}

int TLuiPlayListBox::VisibleRowCount() const { return itemHeight_ > 0 ? viewport()->height() / itemHeight_ : 0; }

int TLuiPlayListBox::TopRow() const { return verticalScrollBar()->value(); }

void TLuiPlayListBox::SetTopRow(int row) { verticalScrollBar()->setValue(row); }

void TLuiPlayListBox::EnsureVisible(int index) { SetTopRow(EnsureVisibleTop(index, TopRow(), VisibleRowCount())); }

int TLuiPlayListBox::NumberWidth() const {
  if (kind_ == TLuiPlayListBoxKind::lkPlayListMgr) return 0;
  return std::max(fontMetrics().horizontalAdvance(QString::number(model_.rowCount() + startSeqNum_)), 15);
}

QRect TLuiPlayListBox::GetTextRect(int index) const {
  if (index < 0 || index >= model_.rowCount()) return {};
  const QRect r = FitRow(visualRect(model_.index(index)));
  if (kind_ != TLuiPlayListBoxKind::lkPlayList) return r;
  const TPlayListBoxRow row = model_.Row(index);
  if (!row.HasObject) return {};
  const int left = r.left() + NumberWidth() + 9;
  const int right = r.right() + 1 - fontMetrics().horizontalAdvance(Q(DurationText(row.DurationMs))) - 2;
  return QRect(left, r.top(), std::max(0, right - left), r.height());
}

void TLuiPlayListBox::SetScrollBar(TLuiSkinScrollBar* bar) {
  bar_ = bar;
  if (!bar_) return;
  if (parentWidget()) bar_->setParent(parentWidget());
  bar_->hide();
  connect(bar_, &TLuiSkinScrollBar::PositionChanged, this, [this](int position) { SetTopRow(position); });
  SyncScrollBar();
}

void TLuiPlayListBox::SyncScrollBar() {
  // Resizing the box for the bar comes back here through resizeEvent: one pass at a time.
  if (!bar_ || !isVisible() || syncing_) return;
  syncing_ = true;
  const int count = model_.rowCount(), visible = VisibleRowCount();
  const bool needed = count > visible;
  if (needed != bar_->isVisible()) {
    const int w = bar_->width();
    bar_->setVisible(needed);
    if (needed) {
      resize(width() - w, height());
      bar_->setGeometry(x() + width(), y(), w, height());
    } else {
      resize(width() + w, height());
    }
  }
  if (needed) {
    bar_->SetRange(0, std::max(0, count - visible));
    bar_->SetPageStep(std::max(1, visible));
    bar_->SetPosition(TopRow());
  }
  syncing_ = false;
}

void TLuiPlayListBox::FitItemHeight() {
  const int h = fontMetrics().height() + 2;
  if (h == itemHeight_) return;
  itemHeight_ = h;
  // The delegate's size hint changed: the view lays its rows out again.
  model_.Reload();
}

void TLuiPlayListBox::CheckSelection() {
  const int count = int(selectionModel()->selectedRows().size());
  const int current = currentIndex().isValid() ? currentIndex().row() : -1;
  if (count == rememberedCount_ && current == rememberedIndex_) return;
  const int old = rememberedIndex_;
  rememberedCount_ = count;
  rememberedIndex_ = current;
  emit SelectChanged(old, current);
}

void TLuiPlayListBox::UpdateSkin(bool, TColor tint, bool) {
  const char* element = kind_ == TLuiPlayListBoxKind::lkPlayListMgr ? "playlistMgr" : "playlist";
  const TSkinElement* entry = FindSkinElement("playerForm", element);
  const TSkinColorsLook look = SkinManager()->GetColors("playerForm", element, entry->Colors);
  SetInSkin(look.Found);
  if (!look.Found) return;
  auto get = [&](const char* name) { return TintColor(look.Get(name), tint); };
  TPlayListBoxColors c;
  c.Text = get("TextColor");
  c.HighlightBkgnd1 = get("HighlightBkgnd1Color");
  c.HighlightBkgnd2 = get("HighlightBkgnd2Color");
  c.Highlight = get("HighlightColor");
  c.DivideLine = get("DivideLineColor");
  c.Background1 = get("Background1Color");
  c.Background2 = get("Background2Color");
  c.Number = get("NumberColor");
  c.Duration = get("DurationColor");
  c.Select = get("SelectColor");
  c.Unactive = get("UnactiveColor");
  SetColors(c);
  const QImage mark = LoadSkinImage(SkinManager()->Image(SkinManager()->Element("playerForm", element), "PlayingImage"), tint);
  if (!mark.isNull()) SetPlayingBmp(mark);
}

void TLuiPlayListBox::SetDropMark(int row) {
  if (row == dropMark_) return;
  dropMark_ = row;
  viewport()->update();
}

void TLuiPlayListBox::paintEvent(QPaintEvent* e) {
  QListView::paintEvent(e);
  if (const int count = model_.rowCount(); dropMark_ >= 0 && count > 0) {
    const QRect row = visualRect(model_.index(std::min(dropMark_, count - 1)));
    const int y = dropMark_ >= count ? row.bottom() : row.top();
    QPainter line(viewport());
    line.setPen(ToQColor(colors_.Text));
    line.drawLine(0, y, viewport()->width() - 1, y);
  }
  // Below the last row the stripes go on to the bottom, with the number cell's divider.
  const int count = model_.rowCount();
  int y = 0;
  if (count > 0) {
    const QRect last = visualRect(model_.index(count - 1));
    y = last.bottom() + 1;
  }
  if (y >= viewport()->height()) {
    emit Changed();
    return;
  }
  QPainter p(viewport());
  for (int row = count; y < viewport()->height(); ++row, y += itemHeight_)
    p.fillRect(QRect(0, y, viewport()->width(), itemHeight_), ToQColor(row % 2 == 0 ? colors_.Background1 : colors_.Background2));
  if (const int nw = NumberWidth(); nw > 0) {
    const int top = count > 0 ? visualRect(model_.index(count - 1)).bottom() + 1 : 0;
    p.setPen(ToQColor(colors_.DivideLine));
    p.drawLine(nw + 5, top, nw + 5, viewport()->height());
  }
  emit Changed();
}

void TLuiPlayListBox::resizeEvent(QResizeEvent* e) {
  QListView::resizeEvent(e);
  SyncScrollBar();
  emit Changed();
}

void TLuiPlayListBox::changeEvent(QEvent* e) {
  QListView::changeEvent(e);
  if (e->type() == QEvent::FontChange) FitItemHeight();
}

bool TLuiPlayListBox::DroppedFiles(const QMimeData* data) {
  return data->hasUrls() && !data->hasFormat(TPlayListModel::kRowsFormat);
}

void TLuiPlayListBox::dragEnterEvent(QDragEnterEvent* e) {
  if (DroppedFiles(e->mimeData())) {
    e->acceptProposedAction();
    return;
  }
  QListView::dragEnterEvent(e);
}

void TLuiPlayListBox::dragMoveEvent(QDragMoveEvent* e) {
  if (DroppedFiles(e->mimeData())) {
    e->acceptProposedAction();
    return;
  }
  QListView::dragMoveEvent(e);
}

void TLuiPlayListBox::dropEvent(QDropEvent* e) {
  if (!DroppedFiles(e->mimeData())) {
    QListView::dropEvent(e);
    return;
  }
  e->acceptProposedAction();
  DropUrls(e->mimeData()->urls());
}

void TLuiPlayListBox::DropUrls(const QList<QUrl>& urls) {
  // Every dropped path whole, in the order given (no length limit).
  QStringList paths;
  for (const QUrl& url : urls)
    if (url.isLocalFile()) paths.push_back(url.toLocalFile());
  if (!paths.isEmpty()) emit FilesDropped(paths);
}

}  // namespace ml
