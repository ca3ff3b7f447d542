#pragma once
// The list of keyword suggestions under the search box. It is a window of its own that never
// takes the focus: the box keeps the keyboard, and its arrow keys move the list's selection
// (through an event filter on the box). The rules are TSuggestionList's; this draws the words and
// their counts and routes the pointer, the keys and the application's focus to them.
#include "app/MainWindowRules.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QLineEdit;

namespace ml {

class TSuggestionPopup final : public QWidget {
  Q_OBJECT
public:
  // box: the search box (its hint is the default text); anchor: the search button, whose right
  // edge the list lines up with. Both outlive the list.
  TSuggestionPopup(QLineEdit& box, std::string hint, QWidget& anchor);
  ~TSuggestionPopup() override;

  // The words the service suggests for text (the box may have changed meanwhile).
  void ShowSuggestions(const std::string& text, const std::vector<TSuggestion>& words);
  void HideList();
  const TSuggestionList& Rules() const { return rules_; }
  int ItemHeight() const;

  // The user typed text: ask the service for its words.
  std::function<void(const std::string& text)> OnAsk;
  // A word was clicked: it is in the box; search for it.
  std::function<void()> OnChosen;

protected:
  void paintEvent(QPaintEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  int RowAt(int y) const;
  void Place();
  void TakeWord(const std::string& word);

  QLineEdit& box_;
  std::string hint_;
  QWidget& anchor_;
  TSuggestionList rules_;
};

}  // namespace ml
