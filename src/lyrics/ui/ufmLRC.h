#pragma once
// The lyric frame: the skinned lyric control filling it, the "查找歌词" link over it while there are
// no lines, and the lyric menu (search, association, offset steps saved back into the file, copy,
// browse, options). What needs the rest of the player (its state for a drag, seeking, the dialogs,
// the song's lyric association) goes through the host; the lyric window and the mini lyric window
// take the frame in turn.
#include "lyrics/LyricFrameHost.h"
#include "lyrics/ui/uLuiSkinScrollLRC.h"

#include <QWidget>

#include <functional>

class QLabel;
class QMenu;

namespace ml {

class TfmLRC : public QWidget {
  Q_OBJECT
public:
  // The frame shows the player's one shared parser.
  explicit TfmLRC(TLRCParse& parser, QWidget* parent = nullptr);

  void SetHost(ILyricFrameHost* host) { host_ = host; }
  // Where the frame's messages go (a message box unless set): caption, text.
  using TMessageSink = std::function<void(const QString& caption, const QString& text)>;
  void SetMessageSink(TMessageSink sink) { message_ = std::move(sink); }

  TLuiSkinScrollLRC* ScrollLRC() const { return scroll_; }
  QLabel* FindLink() const { return lblFindLRC_; }
  // The menu; its items are named as the lyric menu's (miFindLRC, miLRCForward1, ...).
  QMenu* Menu() const { return pmLRC_; }

  // The main window's driving: the play position every tick, the display cleared before a new
  // song, and a refresh after it loaded lyrics into the parser.
  void UpdatePosition(int32_t t);
  void ClearLyrics();
  void LyricsLoaded();

  // The menu's commands.
  void FindLRC();
  void LocalLinkLRC();
  void CancelLRCLink();
  // Moves the lines earlier (forward) or later by LyricOffsetSteps[step] and saves the offset
  // into the lyric file; a failed save is reported and the new offset kept for this session.
  void StepOffset(int step, bool forward);
  void CopyLRCToClip();
  void LRCFileBrowse();
  void LRCConfig();

protected:
  void resizeEvent(QResizeEvent*) override;
  void contextMenuEvent(QContextMenuEvent*) override;
  void dragEnterEvent(QDragEnterEvent*) override;
  void dropEvent(QDropEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildMenu();
  void SyncFindLink();
  void StyleFindLink(bool hot);
  void PlaceFindLink();
  void ScrollLRCChange(int32_t time, bool* canChange);
  void ScrollLRCChangePosition(int32_t time);
  TLyricSeekState SeekState(int32_t time) const;
  void Say(const QString& caption, const QString& text);

  TLRCParse& parser_;
  ILyricFrameHost* host_ = nullptr;
  TMessageSink message_;
  TLuiSkinScrollLRC* scroll_;
  QLabel* lblFindLRC_;
  QMenu* pmLRC_;
  bool linkHot_ = false;
};

}  // namespace ml
