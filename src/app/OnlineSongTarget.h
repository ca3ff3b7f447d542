#pragma once
// Where the services module puts the songs that links name: the current playlist. The main window
// hands over its playlist controller through TPlayListSongTarget; tests record the calls.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/LRMD5.h"

namespace ml {

class TMusicFileMgr;
class TPlayListController;

// A song of the service, known by its digest.
struct TOnlineSong {
  std::string Title;
  uint64_t FileSize = 0;  // 0: unknown
  TMD5Digest Digest;
  bool operator==(const TOnlineSong&) const = default;
};

class IOnlineSongTarget {
public:
  virtual ~IOnlineSongTarget() = default;
  // Songs in the current playlist.
  virtual size_t SongCount() const = 0;
  virtual void ClearSelection() = 0;
  virtual void AddOnlineSong(const TOnlineSong& song, bool play) = 0;
  // Plays the current playlist's song at index.
  virtual void PlaySong(size_t index) = 0;
};

// The playlist controller as the target: an online entry of the music library (one per digest)
// appended to the shown list.
class TPlayListSongTarget final : public IOnlineSongTarget {
public:
  TPlayListSongTarget(TPlayListController& playlist, TMusicFileMgr& library)
      : playlist_(playlist), library_(library) {}
  size_t SongCount() const override;
  void ClearSelection() override;
  void AddOnlineSong(const TOnlineSong& song, bool play) override;
  void PlaySong(size_t index) override;

private:
  TPlayListController& playlist_;
  TMusicFileMgr& library_;
};

}  // namespace ml
