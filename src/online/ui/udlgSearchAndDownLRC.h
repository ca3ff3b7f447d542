#pragma once
// The lyric search dialog: singer and song (prefilled from the playing song's caption), the
// service's hits for them, and the download of the chosen one into the lyric folder. While it is
// open it is the lyric downloader's second client: its handlers run before the main window's
// (which fetches a single hit by itself and makes a downloaded lyric the playing song's), and
// closing the dialog gives the events back. Its searches take their numbers from the main
// window's lyric requests, so the lyric chosen here becomes the playing song's.
#include <QDialog>

#include <functional>
#include <string>

#include "online/uDownLRC.h"

class QLabel;
class QLineEdit;
class QPushButton;
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

  QLineEdit* SingerBox() const { return lbledtSinger_; }
  QLineEdit* SongBox() const { return lbledtSong_; }
  QLineEdit* FileNameBox() const { return edtLRCFileName_; }
  QTreeWidget* Results() const { return lvwFiles_; }
  QPushButton* SearchButton() const { return btnSearch_; }
  QPushButton* DownloadButton() const { return btnDownload_; }
  QLabel* Tips() const { return lblTips_; }
  // Where the dialog's messages go (caption, text); default: a message box.
  std::function<void(const QString& caption, const QString& text)> ShowMessage;

private:
  void Connect();
  void Disconnect();
  void SetBusy(bool searchEnabled, bool downloadEnabled, const char* tip);
  void Found(const TSearchResult& result);
  void RowChosen();

  TDownLRC& lyrics_;
  std::function<int32_t()> newRequest_;
  std::string folder_;
  TSearchResult reply_;                // the last answer shown
  std::string lastSinger_, lastSong_;  // the last search sent
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
};

}  // namespace ml
