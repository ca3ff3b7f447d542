#include "media/WMAfile.h"

#include "media/AsfGuids.h"
#include "media/MediaText.h"
#include "base/StrUtil.h"

#include <optional>
#include <tuple>

namespace ml {
namespace {

using asf::kAudioMedia;
using asf::kContentDescription;
using asf::kExtendedContent;
using asf::kFileProperties;
using asf::kHeaderObject;
using asf::kStreamProperties;

constexpr size_t kMaxUnits = 250;  // strings are read to this many UTF-16 units

enum Tag { kTitle, kArtist, kAlbum, kTrack, kYear, kGenre, kComment };

// A cursor over one header object that refuses to move or read past the object's end.
class ObjectReader {
public:
  ObjectReader(TMediaSource& src, uint64_t pos, uint64_t end) : src_(src), pos_(pos), end_(end) {}
  bool Ok() const { return ok_; }
  uint16_t U16() { return GetLE16(Take(2), 0); }
  uint32_t U32() { return GetLE32(Take(4), 0); }
  // A UTF-16 string of len bytes: its first kMaxUnits units are decoded, the rest skipped.
  std::string Utf16(uint32_t len) {
    std::string s = Take(std::min<uint32_t>(len, kMaxUnits * 2));
    if (len > kMaxUnits * 2) Skip(len - kMaxUnits * 2);
    return DecodeUtf16Text(s, false);
  }
  std::string Take(size_t n) {
    if (!ok_ || n > end_ - pos_) {
      ok_ = false;
      pos_ = end_;
      return std::string(n, '\0');
    }
    std::string s = src_.Read(pos_, n);
    if (s.size() < n) ok_ = false;
    pos_ += n;
    s.resize(n, '\0');
    return s;
  }
  void Skip(uint64_t n) {
    if (!ok_ || n > end_ - pos_) {
      ok_ = false;
      pos_ = end_;
      return;
    }
    pos_ += n;
  }

private:
  TMediaSource& src_;
  uint64_t pos_, end_;
  bool ok_ = true;
};

// The tag slots as the header objects offer values for them. The same field can come from the
// content description and from one or more descriptors, and writers put the objects in any
// order, so a value is kept by the rank of where it came from (lower wins; the first of equal
// ranks), never by its place in the file. An empty value offers nothing.
class TagSlots {
public:
  enum Rank {
    kDescriptor,          // a descriptor of the extended content description
    kOldTrackDescriptor,  // the zero-based WM/Track: only when WM/TrackNumber is missing
    kContentDescription,  // the content description object
    kFallback,            // a related field (the album artist for the artist)
  };
  void Offer(int slot, Rank rank, std::string value) {
    if (value.empty() || (!value_[slot].empty() && rank_[slot] <= rank)) return;
    value_[slot] = std::move(value);
    rank_[slot] = rank;
  }
  const std::array<std::string, 7>& Values() const { return value_; }

private:
  std::array<std::string, 7> value_;
  std::array<Rank, 7> rank_{};
};

void ReadContentDescription(ObjectReader r, TagSlots& slots) {
  uint16_t len[5];
  for (auto& l : len) l = r.U16();
  std::string title = r.Utf16(len[0]);
  std::string author = r.Utf16(len[1]);
  r.Utf16(len[2]);  // copyright
  std::string description = r.Utf16(len[3]);
  if (!r.Ok()) return;  // the lengths claim more than the object holds
  slots.Offer(kTitle, TagSlots::kContentDescription, title);
  slots.Offer(kArtist, TagSlots::kContentDescription, author);
  slots.Offer(kComment, TagSlots::kContentDescription, description);
}

// A descriptor value as text: strings, and the numbers that some writers use for the track
// number and the year (WORD, DWORD, QWORD).
std::optional<std::string> DescriptorText(ObjectReader& r, uint16_t type, uint16_t len) {
  if (type == 0) return r.Utf16(len);
  if (type == 5 && len == 2) return std::to_string(r.U16());
  if (type == 3 && len == 4) return std::to_string(r.U32());
  if (type == 4 && len == 8) return std::to_string(GetLE64(r.Take(8), 0));
  r.Skip(len);
  return std::nullopt;
}

void ReadExtendedContent(ObjectReader r, TagSlots& slots) {
  static constexpr std::tuple<std::string_view, int, TagSlots::Rank> kNames[] = {
      {"WM/TITLE", kTitle, TagSlots::kDescriptor},
      {"WM/AUTHOR", kArtist, TagSlots::kDescriptor},
      {"WM/ALBUMTITLE", kAlbum, TagSlots::kDescriptor},
      {"WM/TRACKNUMBER", kTrack, TagSlots::kDescriptor},
      {"WM/TRACK", kTrack, TagSlots::kOldTrackDescriptor},
      {"WM/YEAR", kYear, TagSlots::kDescriptor},
      {"WM/GENRE", kGenre, TagSlots::kDescriptor},
      {"WM/DESCRIPTION", kComment, TagSlots::kDescriptor},
      // Some writers store the content description's own fields as descriptors.
      {"TITLE", kTitle, TagSlots::kDescriptor},
      {"AUTHOR", kArtist, TagSlots::kDescriptor},
      {"DESCRIPTION", kComment, TagSlots::kDescriptor},
      {"WM/ALBUMARTIST", kArtist, TagSlots::kFallback}};
  const uint16_t count = r.U16();
  for (uint16_t i = 0; i < count && r.Ok(); ++i) {
    std::string name(Trim(r.Utf16(r.U16())));
    for (auto& c : name)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const uint16_t type = r.U16();
    const uint16_t len = r.U16();
    std::optional<std::string> value = DescriptorText(r, type, len);
    if (!r.Ok()) return;
    if (!value) continue;
    for (auto& [key, slot, rank] : kNames)
      if (name == key) {
        slots.Offer(slot, rank, std::move(*value));
        break;
      }
  }
}

}  // namespace

void TWMAfile::ResetData() { *this = TWMAfile(); }

void TWMAfile::ReadObjects(TMediaSource& src, TFileData& data) {
  std::string head = src.Read(16, 14);
  const uint64_t headerEnd = std::min<uint64_t>(GetLE64(head, 0), data.FileSize);
  const uint32_t count = GetLE32(head, 8);
  uint64_t pos = 30;
  TagSlots slots;
  for (uint32_t n = 0; n < count && pos < headerEnd && headerEnd - pos >= 24; ++n) {
    std::string oh = src.Read(pos, 24);
    const uint64_t size = GetLE64(oh, 16);
    if (size < 24 || size > headerEnd - pos) break;  // a broken object ends the walk
    std::string_view guid = std::string_view(oh).substr(0, 16);
    const uint64_t end = pos + size;
    if (guid == kFileProperties) {
      std::string fp = src.Read(pos, static_cast<size_t>(std::min<uint64_t>(size, 104)));
      if (fp.size() >= 104) {
        data.MaxBitRate = GetLE32(fp, 100);
        // Play duration and preroll (100 ns and ms units) give the exact length.
        double play = double(GetLE64(fp, 64)) / 1e7 - double(GetLE64(fp, 80)) / 1e3;
        const bool broadcast = GetLE32(fp, 88) & 1;
        data.PlayDuration = (!broadcast && play > 0) ? play : 0;
      }
    } else if (guid == kStreamProperties) {
      std::string sp = src.Read(pos, static_cast<size_t>(std::min<uint64_t>(size, 90)));
      if (sp.size() >= 90 && std::string_view(sp).substr(24, 16) == kAudioMedia) {
        data.Channels = GetLE16(sp, 80);
        data.SampleRate = GetLE32(sp, 82);
        data.ByteRate = GetLE32(sp, 86);
      }
    } else if (guid == kContentDescription) {
      ReadContentDescription(ObjectReader(src, pos + 24, end), slots);
    } else if (guid == kExtendedContent) {
      ReadExtendedContent(ObjectReader(src, pos + 24, end), slots);
    }
    pos = end;
  }
  data.TagData = slots.Values();
}

bool TWMAfile::Parse(TMediaSource& src) {
  std::string guid = src.Read(0, 16);
  if (guid.size() < 16) return false;
  if (guid != kHeaderObject) return true;
  TFileData data;
  data.FileSize = src.Size();
  ReadObjects(src, data);
  if (!(data.MaxBitRate > 0 && data.MaxBitRate < 320000 && (data.Channels == 1 || data.Channels == 2) &&
        data.SampleRate >= 8000 && data.SampleRate <= 96000 && data.ByteRate > 0 && data.ByteRate < 40000))
    return true;
  Valid = true;
  FileSize = data.FileSize;
  Channels = data.Channels;
  SampleRate = data.SampleRate;
  Duration = data.PlayDuration > 0 ? data.PlayDuration : double(data.FileSize) * 8 / data.MaxBitRate;
  BitRate = data.ByteRate * 8 / 1000;
  auto& t = data.TagData;
  Title = Trim(t[kTitle]);
  Artist = Trim(t[kArtist]);
  Album = Trim(t[kAlbum]);
  Track = ExtractTrack(t[kTrack]);
  Year = Trim(t[kYear]);
  Genre = Trim(t[kGenre]);
  Comment = Trim(t[kComment]);
  return true;
}

void TWMAfile::FillMediaInfo(TMediaInfo& r) const {
  r.FileSize = FileSize32(FileSize);
  r.SampleRate = static_cast<int32_t>(SampleRate);
  r.Bitrate = static_cast<int32_t>(BitRate);
  r.Duration = DurationMs(Duration);
  r.Channels = static_cast<int32_t>(Channels);
  SetTagFields(r, *this);
}

}  // namespace ml
