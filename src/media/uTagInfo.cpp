#include "media/uTagInfo.h"

#include "media/MediaText.h"

#include <cmath>
#include <climits>

namespace ml {
namespace {

int32_t Milliseconds(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return 0;
  double ms = std::round(seconds * 1000);
  return ms >= double(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(ms);
}

uint32_t Size32(uint64_t size) { return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size); }

}  // namespace

bool TTagInfo::Load(const std::string& path) {
  TFileSource src(path);
  if (!src.IsOpen()) return false;
  Load(src);
  fileName_ = path;
  return true;
}

bool TTagInfo::Load(TMediaSource& src) {
  fileName_.clear();
  // Every reader resets itself first and catches its own errors, so one that does not
  // recognise the file is simply left empty.
  mpeg_.Read(src);
  ogg_.Read(src);
  wma_.Read(src);
  wav_.Read(src);
  ape_.Read(src);
  return true;
}

bool TTagInfo::GetMediaInfo(TMediaInfo& info) const {
  TMediaInfo r;
  if (mpeg_.Valid()) {
    r.FileSize = Size32(mpeg_.FileSize);
    r.SampleRate = mpeg_.SampleRate();
    r.Bitrate = mpeg_.BitRate();
    r.Duration = Milliseconds(mpeg_.Duration());
    r.Channels = mpeg_.ChannelMode() == "Mono" ? 1 : 2;
    if (mpeg_.ID3v2.Exists) {
      // An ID3v2 tag is the file's tag even when its fields are empty.
      const TID3v2& t = mpeg_.ID3v2;
      r.Title = t.Title;
      r.Artist = t.Artist;
      r.Album = t.Album;
      r.Year = t.Year;
      r.Genre = t.Genre;
      r.Track = TrackByte(t.Track);
      r.Comment = t.Comment;
    } else if (mpeg_.ID3v1.Exists) {
      const TID3v1& t = mpeg_.ID3v1;
      r.Title = t.Title;
      r.Artist = t.Artist;
      r.Album = t.Album;
      r.Year = t.Year;
      r.Genre = t.Genre();
      r.Track = t.VersionID == 2 ? t.Track : 0;
      r.Comment = t.Comment;
    }
  } else if (wma_.Valid) {
    r.FileSize = Size32(wma_.FileSize);
    r.SampleRate = static_cast<int32_t>(wma_.SampleRate);
    r.Bitrate = static_cast<int32_t>(wma_.BitRate);
    r.Duration = Milliseconds(wma_.Duration);
    r.Channels = static_cast<int32_t>(wma_.Channels);
    r.Title = wma_.Title;
    r.Artist = wma_.Artist;
    r.Album = wma_.Album;
    r.Year = wma_.Year;
    r.Genre = wma_.Genre;
    r.Track = TrackByte(wma_.Track);
    r.Comment = wma_.Comment;
  } else if (ogg_.Valid()) {
    r.FileSize = Size32(ogg_.FileSize);
    r.SampleRate = static_cast<int32_t>(ogg_.SampleRate);
    r.Bitrate = ogg_.BitRate();
    r.Duration = Milliseconds(ogg_.Duration());
    r.Channels = ogg_.ChannelModeID;
    r.Title = ogg_.Title;
    r.Artist = ogg_.Artist;
    r.Album = ogg_.Album;
    r.Year = ogg_.Date;
    r.Genre = ogg_.Genre;
    r.Track = ogg_.Track;
    r.Comment = ogg_.Comment;
  } else if (wav_.Valid) {
    r.FileSize = wav_.FileSize;
    r.SampleRate = static_cast<int32_t>(std::min<uint32_t>(wav_.SampleRate, INT32_MAX));
    r.Duration = Milliseconds(wav_.Duration());
    r.Channels = wav_.Channels;
  } else if (ape_.Exists) {
    r.FileSize = Size32(ape_.FileSize);
    r.Title = ape_.Title;
    r.Artist = ape_.Artist;
    r.Album = ape_.Album;
    r.Year = ape_.Year;
    r.Genre = ape_.Genre;
    r.Track = ape_.Track;
    r.Comment = ape_.Comment;
  } else {
    return false;
  }
  info = std::move(r);
  return true;
}

bool ReadMediaInfo(const std::string& path, TMediaInfo& info) {
  TTagInfo tags;
  return tags.Load(path) && tags.GetMediaInfo(info);
}

}  // namespace ml
