// The suggestion list offscreen, beside a search box and its button: typing asks, the words show
// under the box at the button's right edge without taking the box's focus, the arrows wrap and
// copy the word, hovering selects, a click searches the word without asking again, and a press
// elsewhere, the player losing the focus and an emptied box hide the list. The list's picture is
// compared with a reference of ours.
#include "app/ui/SuggestionPopup.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/support/ReferenceImage.h"

using namespace ml;

namespace {

void Hover(QWidget& w, QPoint at) {
  QMouseEvent move(QEvent::MouseMove, at, w.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&w, &move);
}

TEST(SuggestionPopup, AsksShowsMovesAndTakesAWord) {
  QWidget window;
  window.resize(300, 120);
  auto* box = new QLineEdit(&window);
  box->setGeometry(20, 40, 160, 20);
  auto* button = new QPushButton(&window);
  button->setGeometry(190, 38, 40, 24);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  box->setFocus();

  TSuggestionPopup popup(*box, "搜索歌曲，歌手", *button);
  std::vector<std::string> asked;
  int searches = 0;
  popup.OnAsk = [&](const std::string& text) { asked.push_back(text); };
  popup.OnChosen = [&] { ++searches; };
  QTest::keyClicks(box, "lu");
  EXPECT_EQ(asked, (std::vector<std::string>{"l", "lu"}));

  const std::vector<TSuggestion> words{{"Luna Park", 4}, {"Lunar", 12345}};
  popup.ShowSuggestions("lu", words);
  ASSERT_TRUE(popup.isVisible());
  const int h = popup.ItemHeight();
  const QPoint boxBottom = box->mapToGlobal(QPoint(0, box->height()));
  const int buttonRight = button->mapToGlobal(QPoint(button->width(), 0)).x();
  EXPECT_EQ(popup.geometry(), QRect(buttonRight - 200, boxBottom.y(), 200, 2 * h + 2));
  EXPECT_EQ(window.focusWidget(), box) << "the box keeps the keyboard";
  EXPECT_FALSE(popup.isActiveWindow());
  QTest::keyClick(box, Qt::Key_Down);
  // The words at the left, their counts at the right, the selected row highlighted.
  mltest::ExpectLooksLike(popup.grab().toImage(), "suggestions", "tests/app/ui/reference");

  EXPECT_EQ(box->text().toStdString(), "Luna Park");
  for (const char* expected : {"Lunar", "Luna Park", "Lunar"}) {
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(box->text().toStdString(), expected);
  }
  QTest::keyClick(box, Qt::Key_Up);
  EXPECT_EQ(box->text().toStdString(), "Luna Park");
  EXPECT_EQ(asked.size(), 2u) << "a word the list puts in the box asks nothing";

  Hover(popup, QPoint(50, 1 + h / 2));
  EXPECT_EQ(popup.Rules().Selected(), 0);
  QTest::mouseClick(&popup, Qt::LeftButton, {}, QPoint(50, 1 + h + h / 2));
  EXPECT_EQ(box->text().toStdString(), "Lunar");
  EXPECT_EQ(searches, 1);
  EXPECT_FALSE(popup.isVisible());
  EXPECT_EQ(asked.size(), 2u);

  struct Case {
    const char* what;
    std::function<void()> act;
  };
  const Case hiders[] = {
      {"a press elsewhere", [&] { QTest::mouseClick(button, Qt::LeftButton); }},
      {"the player losing the focus", [&] { emit qApp->applicationStateChanged(Qt::ApplicationInactive); }},
      {"Escape", [&] { QTest::keyClick(box, Qt::Key_Escape); }},
      {"an emptied box", [&] { box->selectAll(), QTest::keyClick(box, Qt::Key_Backspace); }},
  };
  for (const Case& c : hiders) {
    SCOPED_TRACE(c.what);
    QTest::keyClicks(box, "x");
    popup.ShowSuggestions(box->text().toStdString(), words);
    ASSERT_TRUE(popup.isVisible());
    c.act();
    EXPECT_FALSE(popup.isVisible());
  }
}

}  // namespace
