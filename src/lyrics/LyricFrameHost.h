#pragma once
// What the lyric frame asks of the rest of the player: the player's state before a drag moves the
// lyrics or seeks, the seek itself, and the commands that open the player's own dialogs or change
// the playing song's lyric association. The main window implements it; the frame knows nothing
// else of the program, and tests give it a fake.
#include "lyrics/LRScrollLRC.h"

#include <cstdint>
#include <string>

namespace ml {

class ILyricFrameHost {
public:
  // The player's state for a drag that ended (or is) at position ms: PositionDownloaded answers
  // for that position.
  virtual TLyricSeekState LyricSeekState(int32_t ms) const = 0;
  virtual void SeekTo(int32_t ms) = 0;
  // The lyric search dialog, prefilled from the playing song's caption.
  virtual void FindLyrics() = 0;
  // The association dialog, starting from the lyric file shown now (empty when none).
  virtual void LinkLocalLyric(const std::string& currentFile) = 0;
  // Drop the playing song's lyric association (the library entry's lyric file emptied).
  virtual void CancelLyricLink() = 0;
  // A lyric file the user dropped on the frame becomes the playing song's, as an association.
  virtual void AssociateLyricFile(const std::string& path) = 0;
  // The options dialog on its lyric page.
  virtual void ShowLyricOptions() = 0;

protected:
  ~ILyricFrameHost() = default;
};

}  // namespace ml
