#include "app/OnlineSongTarget.h"

#include "library/MusicFileMgr.h"
#include "library/PlayListController.h"

namespace ml {

size_t TPlayListSongTarget::SongCount() const { return playlist_.Songs().size(); }

void TPlayListSongTarget::ClearSelection() { playlist_.DeselectAll(); }

void TPlayListSongTarget::AddOnlineSong(const TOnlineSong& song, bool play) {
  TShareFileInfo record;
  record.Encrypt = true;
  record.ShareStatus = ssReady;
  record.Caption = CleanText(song.Title);
  record.FileSize = song.FileSize;
  record.FileHash = song.Digest;
  playlist_.AddEntry(library_.AddCopy(record), play);
}

void TPlayListSongTarget::PlaySong(size_t index) {
  const auto& songs = playlist_.Songs();
  if (index < songs.size()) playlist_.PlayEntry(playlist_.ShownList(), songs[index]);
}

}  // namespace ml
