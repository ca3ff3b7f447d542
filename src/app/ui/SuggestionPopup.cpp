#include "app/ui/SuggestionPopup.h"

#include "skin/ui/SkinQt.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>

namespace ml {

namespace {

QRect ScreenRect(const QWidget& w) { return QRect(w.mapToGlobal(QPoint(0, 0)), w.size()); }

// The count as the list writes it: thousands grouped, "结果" after it.
QString CountText(int32_t results) {
  const std::string line = TKeywordSuggest::SuggestionLine({"", results});
  return QString::fromStdString(line.substr(line.find('|') + 1));
}

}  // namespace

TSuggestionPopup::TSuggestionPopup(QLineEdit& box, std::string hint, QWidget& anchor)
    // A tool-tip window: above the player, without a frame, and never activated, so the box
    // keeps the keyboard while the list shows.
    : QWidget(box.window(), Qt::ToolTip | Qt::FramelessWindowHint),
      box_(box),
      hint_(std::move(hint)),
      anchor_(anchor) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
  setObjectName("lstPopup");
  // Only what the user types asks; a word put into the box by the list does not.
  connect(&box_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (rules_.Edited(text.toStdString(), hint_)) {
      if (OnAsk) OnAsk(text.toStdString());
    } else {
      HideList();
    }
  });
  connect(&box_, &QLineEdit::returnPressed, this, &TSuggestionPopup::HideList);
  box_.installEventFilter(this);
  // A press anywhere else, and the player losing the focus, close the list.
  qApp->installEventFilter(this);
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state != Qt::ApplicationActive) HideList();
  });
}

TSuggestionPopup::~TSuggestionPopup() { qApp->removeEventFilter(this); }

int TSuggestionPopup::ItemHeight() const { return fontMetrics().height() + 4; }

void TSuggestionPopup::ShowSuggestions(const std::string&, const std::vector<TSuggestion>& words) {
  if (!rules_.Arrived(box_.text().toStdString(), words)) return HideList();
  Place();
  show();
  update();
}

void TSuggestionPopup::HideList() {
  rules_.Hide();
  hide();
}

void TSuggestionPopup::Place() {
  const TRect r = TSuggestionList::Placement(ToTRect(ScreenRect(box_)), ToTRect(ScreenRect(anchor_)), ItemHeight(),
                                             rules_.Words().size());
  setGeometry(r.Left, r.Top, r.Width(), r.Height());
}

int TSuggestionPopup::RowAt(int y) const {
  const int row = (y - 1) / ItemHeight();
  return y >= 1 && row < int(rules_.Words().size()) ? row : -1;
}

void TSuggestionPopup::TakeWord(const std::string& word) {
  // setText does not count as typing: no new question goes out.
  box_.setText(QString::fromStdString(word));
}

void TSuggestionPopup::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  p.fillRect(rect(), pal.color(QPalette::Base));
  p.setPen(pal.color(QPalette::Mid));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  const int h = ItemHeight();
  const auto& words = rules_.Words();
  for (int i = 0; i < int(words.size()); ++i) {
    const QRect row(1, 1 + i * h, width() - 2, h);
    const bool selected = i == rules_.Selected();
    if (selected) p.fillRect(row, pal.color(QPalette::Highlight));
    const QRect text = row.adjusted(4, 0, -4, 0);
    p.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QString count = CountText(words[size_t(i)].Results);
    const int countWidth = fontMetrics().horizontalAdvance(count);
    const QString word =
        fontMetrics().elidedText(QString::fromStdString(words[size_t(i)].Word), Qt::ElideRight, text.width() - countWidth - 8);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, word);
    if (!selected) p.setPen(pal.color(QPalette::PlaceholderText));
    p.drawText(text, Qt::AlignRight | Qt::AlignVCenter, count);
  }
}

void TSuggestionPopup::mouseMoveEvent(QMouseEvent* e) {
  const int before = rules_.Selected();
  rules_.Hover(RowAt(int(e->position().y())));
  if (rules_.Selected() != before) update();
}

void TSuggestionPopup::mousePressEvent(QMouseEvent* e) {
  const int row = RowAt(int(e->position().y()));
  if (e->button() != Qt::LeftButton || row < 0) return;
  const std::string word = rules_.Words()[size_t(row)].Word;
  HideList();
  TakeWord(word);
  if (OnChosen) OnChosen();
}

bool TSuggestionPopup::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &box_ && event->type() == QEvent::KeyPress && rules_.Shown()) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      if (const std::optional<std::string> word = rules_.Move(key == Qt::Key_Down ? 1 : -1)) TakeWord(*word);
      update();
      return true;
    }
    if (key == Qt::Key_Escape) {
      HideList();
      return true;
    }
  }
  if (event->type() == QEvent::MouseButtonPress && isVisible() && watched != this) {
    // A press on another of the program's windows or controls (this list takes its own).
    const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    if (!geometry().contains(at)) HideList();
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace ml
