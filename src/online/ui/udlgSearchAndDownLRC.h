#pragma once
// The lyric search dialog: singer and song (prefilled from the playing song's caption), the
// service's hits for them, and the download of the chosen one into the lyric folder. While it is
// open it is the lyric downloader's second client: its handlers run before the main window's
// (which fetches a single hit by itself and makes a downloaded lyric the playing song's), and
// closing the dialog gives the events back. Its searches take their numbers from the main
// window's lyric requests, so the lyric chosen here becomes the playing song's.
//
// The page "SearchLRC" is for the main window's automatic search: when it finds several lyrics
// for a song while the dialog is open, the main window leaves the choice to the user, and the
// dialog lists them with a ten-second countdown. Unless the user takes to the list first, the
// first hit is then downloaded under the name the automatic search gives it, and the dialog
// closes.
#include <QDialog>

#include <functional>
#include <string>

#include "base/Dispatcher.h"
#include "online/uDownLRC.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTreeWidget;

namespace ml {

class TdlgSearchAndDownLRC final : public QDialog {
  Q_OBJECT
public:
  // newRequest: the next lyric request number; folder: where lyrics go (ends with "/").
  TdlgSearchAndDownLRC(TDownLRC& lyrics, std::function<int32_t()> newRequest, std::string folder,
                       QWidget* parent = nullptr);
  ~TdlgSearchAndDownLRC() override;

  // Singer and song from a caption: one part is the song, with more the first is the singer and
  // the second the song. The tip shows when both are there.
  void Prefill(const std::string& caption);
  // "搜索(&S)".
  void Search();
  // "下载(&D)" and a double click: the selected hit (the first when none is) into the lyric
  // folder under the file name box's name; then the dialog closes.
  void DownloadChosen();
  // Seconds and interval of the countdown page.
  static constexpr int CountdownSeconds = 10;
  static constexpr Millis CountdownInterval{1000};
  // The countdown page is shown and counting.
  bool CountingDown() const { return countdownTimer_ != 0; }

  QLineEdit* SingerBox() const { return lbledtSinger_; }
  QLineEdit* SongBox() const { return lbledtSong_; }
  QLineEdit* FileNameBox() const { return edtLRCFileName_; }
  QTreeWidget* Results() const { return lvwFiles_; }
  QPushButton* SearchButton() const { return btnSearch_; }
  QPushButton* DownloadButton() const { return btnDownload_; }
  QLabel* Tips() const { return lblTips_; }
  // The notebook of the tip ("Tips") and countdown ("SearchLRC") pages, and the seconds left.
  QStackedWidget* Pages() const { return nbPages_; }
  QLabel* Countdown() const { return lblCountdown_; }
  // Where the dialog's messages go (caption, text); default: a message box.
  std::function<void(const QString& caption, const QString& text)> ShowMessage;

  // Closing stops the countdown.
  void done(int result) override;

private:
  void Connect();
  void Disconnect();
  void SetBusy(bool searchEnabled, bool downloadEnabled, const char* tip);
  void Found(const TSearchResult& result);
  void RowChosen();
  void ShowCountdown();
  void Tick();
  // Stops the countdown and hides its seconds; the page stays until the next tip.
  void StopCountdown();
  void ShowTips();
  bool eventFilter(QObject* watched, QEvent* event) override;

  TDownLRC& lyrics_;
  std::function<int32_t()> newRequest_;
  std::string folder_;
  TSearchResult reply_;                // the last answer shown
  std::string lastSinger_, lastSong_;  // the last search sent
  int32_t ownSearch_ = 0;              // the request number of the dialog's own last search
  int countdown_ = 0;
  TimerId countdownTimer_ = 0;
  // The handlers the dialog found on the downloader, called after its own and put back at close.
  decltype(TDownLRC::OnSearchBegan) searchBegan_;
  decltype(TDownLRC::OnSearchDone) searchDone_;
  decltype(TDownLRC::OnSearchTimedOut) searchTimedOut_;
  decltype(TDownLRC::OnDownloadBegan) downloadBegan_;
  decltype(TDownLRC::OnDownloadDone) downloadDone_;
  decltype(TDownLRC::OnDownloadTimedOut) downloadTimedOut_;

  QLineEdit *lbledtSinger_, *lbledtSong_, *edtLRCFileName_;
  QPushButton *btnSearch_, *btnDownload_, *btnClose_;
  QTreeWidget* lvwFiles_;
  QLabel* lblTips_;
  QStackedWidget* nbPages_;
  QLabel *lblCountdown_, *lblCountdownText_;
};

}  // namespace ml
