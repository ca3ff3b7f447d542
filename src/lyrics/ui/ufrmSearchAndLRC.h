#pragma once
// The lyric window: a skinned tool window of the main window with a tab strip over a bordered
// container of pages: the lyric frame, then the song search results and the login page, whose
// widgets the main window supplies. The login tab comes and goes with the login state. Two
// buttons keep the window above the others or stop doing so; closing hides it and says so.
#include "skin/ui/uLuiSkinPlayForm.h"

#include <QPointer>

#include <array>

class QPushButton;

namespace ml {

class TfmLRC;
class TLRCParse;
class TLuiPanel;
class TLuiSkinButton;
class TLuiSkinTab;

class TfrmSearchAndLRC : public TLuiSkinPlayForm {
  Q_OBJECT
public:
  enum TPage { pgLyric, pgSearch, pgLogin };

  explicit TfrmSearchAndLRC(TLRCParse& parser, QWidget* owner = nullptr);

  // The window and every skinned control on it take their look from this manager.
  void UseSkin(TLuiSkinManager* skin);

  TfmLRC* FrameLRC() const { return frame_; }
  TLuiSkinTab* Tab() const { return tab_; }
  TLuiPanel* Container() const { return container_; }
  TLuiSkinButton* CloseButton() const { return close_; }
  QPushButton* StayOnTopButton() const { return onTop_; }
  QPushButton* NotOnTopButton() const { return notOnTop_; }

  // The search-result and login pages: the window takes the widget into its container.
  void SetPage(TPage page, QWidget* widget);
  QWidget* Page(TPage page) const { return pages_[page]; }
  void ShowPage(TPage page);
  TPage CurrentPage() const;
  // The login tab while the user can log in; removing it while selected selects the first tab.
  void SetLoginTab(bool shown);
  bool LoginTab() const { return loginTab_; }

  // "LRCStayOnTop".
  void SetStayOnTop(bool onTop);
  bool StayOnTop() const;

  // The window's look, and the stay-on-top buttons in the tab strip's font colour.
  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  void StayOnTopChanged(bool onTop);
  // The close button hid the window (the main window releases its lyric button).
  void Closed();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void SyncTabs();
  void TabChanged(int index);
  void LayoutPages();
  void PlaceTopButtons();

  TfmLRC* frame_;
  TLuiSkinTab* tab_;
  TLuiPanel* container_;
  TLuiSkinButton* close_;
  QPushButton* onTop_;
  QPushButton* notOnTop_;
  std::array<QPointer<QWidget>, 3> pages_;
  bool loginTab_ = true;
  TPage current_ = pgLyric;
};

}  // namespace ml
