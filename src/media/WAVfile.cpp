#include "media/WAVfile.h"

#include "base/ByteOrder.h"
#include "media/MediaText.h"
#include "media/RiffWave.h"

#include <algorithm>
#include <climits>

namespace ml {
namespace {
constexpr int kMaxChunks = 64;    // chunks looked at, in the file and in an INFO list
constexpr size_t kMaxValue = 250; // INFO values are read to this many bytes

bool IsId3Chunk(const TRiffChunk& chunk) { return chunk.Is("id3 ") || chunk.Is("ID3 "); }

// The items of a LIST chunk of type INFO ("INAM" title, "IART" artist, ...): each a sub-chunk
// holding a NUL-terminated text. Writers use the system code page or UTF-8 there, as in ID3v1.
// False when the list is of another type (cue labels, for one).
bool ReadInfoList(TMediaSource& src, const TRiffChunk& list, TMediaInfo& tags) {
  static constexpr std::pair<std::string_view, std::string TMediaInfo::*> kFields[] = {
      {"INAM", &TMediaInfo::Title}, {"IART", &TMediaInfo::Artist}, {"IPRD", &TMediaInfo::Album},
      {"ICRD", &TMediaInfo::Year},  {"IGNR", &TMediaInfo::Genre},  {"ICMT", &TMediaInfo::Comment}};
  TSourceSlice body(src, list.BodyOffset, list.Size);
  if (body.Read(0, 4) != "INFO") return false;
  std::string track, part;  // ITRK is the track number; some writers use IPRT for it
  uint64_t pos = 4;
  for (int n = 0; n < kMaxChunks && pos < body.Size() && body.Size() - pos >= 8; ++n) {
    const std::string head = body.Read(pos, 8);
    const uint32_t size = GetLE32(head, 4);
    if (size > body.Size() - pos - 8) break;  // an item running past the list: damaged from here
    std::string value = DecodeAnsiText(body.Read(pos + 8, std::min<size_t>(size, kMaxValue)));
    const std::string_view id = std::string_view(head).substr(0, 4);
    for (auto& [name, field] : kFields)
      if (id == name && (tags.*field).empty()) tags.*field = value;
    if (id == "ITRK" && track.empty()) track = value;
    if (id == "IPRT" && part.empty()) part = value;
    pos += 8 + uint64_t(size) + (size & 1);
  }
  tags.Track = TrackByte(ExtractTrack(track.empty() ? part : track));
  return true;
}

}  // namespace

void TWAVfile::ResetData() { *this = TWAVfile(); }

bool TWAVfile::Parse(TMediaSource& src) {
  std::string h = src.Read(0, 44);
  if (h.size() < 44) return false;
  if (!HasAt(h, 0, "RIFF") || !HasAt(h, 8, "WAVE")) return true;
  const uint64_t realSize = src.Size();
  // "fmt " normally comes first, but writers may put other chunks before it, and "data" often
  // follows a LIST chunk.
  bool haveFormat = false, haveData = false, haveInfo = false;
  WalkRiffChunks(src, kMaxChunks, [&](const TRiffChunk& chunk) {
    if (chunk.Is("fmt ") && chunk.Size >= 16) {
      TWaveFmt& f = Fmt_;
      ReadWaveFmt(src, chunk, f);
      Channels = static_cast<uint8_t>(f.Channels);
      SampleRate = f.SampleRate;
      ByteRate = f.ByteRate;
      BitsPerSample = static_cast<uint8_t>(f.BitsPerSample);
      haveFormat = f.Channels == 1 || f.Channels == 2;
    } else if (chunk.Is("data") && !haveData) {
      haveData = true;
      DataSize = std::min<uint64_t>(chunk.Size, realSize - chunk.BodyOffset);
    } else if (IsId3Chunk(chunk) && !ID3v2.Exists) {
      // Tags may stand before or after the audio, so the walk goes on past "data".
      TSourceSlice tag(src, chunk.BodyOffset, chunk.Size);
      ID3v2.Read(tag);
    } else if (chunk.Is("LIST") && !haveInfo) {
      haveInfo = ReadInfoList(src, chunk, InfoTags);
    }
    return true;
  });
  if (!haveFormat) {
    ResetData();
    return true;
  }
  Valid = true;
  const uint64_t riff = uint64_t(LoadLE32(h.data() + 4)) + 8;
  FileSize = static_cast<uint32_t>(riff > 8 && riff <= realSize ? riff : std::min<uint64_t>(realSize, UINT32_MAX));
  return true;
}

double TWAVfile::Duration() const {
  if (!Valid) return 0;
  // The decoder's reckoning: whole sample frames over the stream's own byte rate.
  const double bytesPerSecond = double(Fmt_.BytesPerSecond());
  if (bytesPerSecond <= 0) return 0;
  uint64_t bytes = DataSize > 0 ? DataSize : (FileSize > 44 ? FileSize - 44 : 0);
  if (const uint32_t frame = Fmt_.FrameBytes()) bytes -= bytes % frame;
  return double(bytes) / bytesPerSecond;
}

int32_t TWAVfile::Bitrate() const { return Valid ? Fmt_.BitrateKbps() : 0; }

void TWAVfile::FillMediaInfo(TMediaInfo& r) const {
  r.FileSize = FileSize;
  r.SampleRate = static_cast<int32_t>(std::min<uint32_t>(SampleRate, INT32_MAX));
  r.Bitrate = Bitrate();
  r.Duration = DurationMs(Duration());
  r.Channels = Channels;
  FillMissingTags(r, ID3v2.Tags());
  FillMissingTags(r, InfoTags);
}

}  // namespace ml
