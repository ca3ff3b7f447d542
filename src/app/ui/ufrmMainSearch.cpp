// The main window's side of the service beyond the search itself: the suggestion list under the
// search box and the lyric search dialog of the lyric menu.
#include "app/ui/SuggestionPopup.h"
#include "app/ui/ufrmMain.h"
#include "lyrics/ui/ufmLRC.h"
#include "lyrics/ui/ufrmSearchAndLRC.h"
#include "online/ui/udlgSearchAndDownLRC.h"
#include "skin/ui/uLuiSkinButton.h"
#include "skin/ui/uLuiSkinImg.h"

#include <QAction>
#include <QMenu>

namespace ml {

void TfrmMain::BuildSuggestions() {
  suggestions_ = new TSuggestionPopup(*search_, kSearchHint, *Button(TSkinButtonKind::bkSearch));
  suggestions_->OnAsk = [this](const std::string& text) {
    if (OnSuggest) OnSuggest(text);
  };
  suggestions_->OnChosen = [this] { Search(); };
}

void TfrmMain::ShowSuggestions(const std::string& text, const std::vector<TSuggestion>& words) {
  suggestions_->ShowSuggestions(text, words);
}

void TfrmMain::SetLyricService(TDownLRC* lyrics) {
  if (lyricDialog_) {
    delete lyricDialog_.data();
    if (controller_) controller_->SetLyricDialogOpen(false);
  }
  lyricService_ = lyrics;
  if (QAction* a = lyricWindow_->FrameLRC()->Menu()->findChild<QAction*>("miFindLRC")) a->setEnabled(lyrics != nullptr);
}

TdlgSearchAndDownLRC* TfrmMain::LyricSearchDialog() const { return lyricDialog_.data(); }

void TfrmMain::FindLyrics() {
  if (!lyricService_ || !controller_) return;
  if (!lyricDialog_) {
    TMainController* controller = controller_;
    lyricDialog_ = new TdlgSearchAndDownLRC(*lyricService_, [controller] { return controller->NewLyricRequest(); },
                                            controller->LyricFolder(), lyricWindow_);
    lyricDialog_->setAttribute(Qt::WA_DeleteOnClose);
    controller->SetLyricDialogOpen(true);
    connect(lyricDialog_, &QDialog::finished, this, [controller] { controller->SetLyricDialogOpen(false); });
  }
  lyricDialog_->Prefill(controller_->PlayingEntry() ? controller_->PlayingEntry()->Caption : std::string());
  lyricDialog_->show();
  lyricDialog_->raise();
}

}  // namespace ml
