#include "net/LyricRecords.h"

#include "net/RecordCodec.h"

namespace ml {

using namespace RecordCodec;

namespace {

// The next "|"-ended field of text from pos; false when no "|" ends it.
bool NextField(const std::string& text, size_t& pos, std::string& field) {
  const size_t bar = text.find('|', pos);
  if (bar == std::string::npos) return false;
  field.assign(text, pos, bar - pos);
  pos = bar + 1;
  return true;
}

bool ParseLyricID(const std::string& digits, int32_t& id) {
  if (digits.empty() || digits.size() > 10) return false;
  int64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > INT32_MAX) return false;
  id = int32_t(v);
  return true;
}

}  // namespace

bool WriteLyricSearchRequest(TCmdStream& s, const TLyricSearchRequest& r) {
  if (!Fits(s, Total({TLyricSearchRequest::FixedSize - 1, ShortStringSize(r.SongName)}))) return false;
  s.WriteWord(TLyricSearchRequest::Code);
  s.WriteInteger(r.RequestID);
  s.WriteShortString(r.SongName);
  s.WriteInteger(r.DurationMs);
  return true;
}

bool ReadLyricSearchRequest(const void* data, size_t length, TLyricSearchRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TLyricSearchRequest::Code, TLyricSearchRequest::FixedSize)) return false;
  r.RequestID = s.ReadInteger(0);
  if (!ReadShortString(s, r.SongName) || s.Remaining() < 4) return false;
  r.DurationMs = s.ReadInteger(0);
  return true;
}

bool WriteLyricArtistSearchRequest(TCmdStream& s, const TLyricArtistSearchRequest& r) {
  if (!Fits(s, Total({6, ShortStringSize(r.Singer), ShortStringSize(r.Song)}))) return false;
  s.WriteWord(TLyricArtistSearchRequest::Code);
  s.WriteInteger(r.RequestID);
  s.WriteShortString(r.Singer);
  s.WriteShortString(r.Song);
  return true;
}

bool ReadLyricArtistSearchRequest(const void* data, size_t length, TLyricArtistSearchRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TLyricArtistSearchRequest::Code, TLyricArtistSearchRequest::FixedSize)) return false;
  r.RequestID = s.ReadInteger(0);
  return ReadShortString(s, r.Singer) && ReadShortString(s, r.Song);
}

bool WriteLyricSearchReply(TCmdStream& s, const TLyricSearchReply& r) {
  if (r.Hits.size() > TLyricSearchReply::MaxHits) return false;
  std::string text;
  for (const TLyricHit& h : r.Hits) {
    if (h.LyricID < 0 || h.Singer.find('|') != std::string::npos || h.Title.find('|') != std::string::npos)
      return false;
    text += std::to_string(h.LyricID) + "|" + h.Singer + "|" + h.Title + "|";
  }
  if (!Fits(s, Total({TLyricSearchReply::FixedSize - 2, WordStringSize(text)}))) return false;
  s.WriteWord(TLyricSearchReply::Code);
  s.WriteInteger(r.RequestID);
  s.WriteByte(uint8_t(r.Hits.size()));
  WriteWordString(s, text);
  return true;
}

bool ReadLyricSearchReply(const void* data, size_t length, TLyricSearchReply& r) {
  TCmdStream s;
  if (!Open(s, data, length, TLyricSearchReply::Code, TLyricSearchReply::FixedSize)) return false;
  r.RequestID = s.ReadInteger(0);
  const uint8_t hits = s.ReadByte(0);
  std::string text;
  if (hits > TLyricSearchReply::MaxHits || !ReadWordString(s, text)) return false;
  r.Hits.assign(hits, {});
  size_t pos = 0;
  std::string id;
  for (TLyricHit& h : r.Hits)
    if (!NextField(text, pos, id) || !ParseLyricID(id, h.LyricID) || !NextField(text, pos, h.Singer) ||
        !NextField(text, pos, h.Title))
      return false;
  return true;
}

bool WriteLyricDownloadRequest(TCmdStream& s, const TLyricDownloadRequest& r) {
  if (!Fits(s, TLyricDownloadRequest::FixedSize)) return false;
  s.WriteWord(TLyricDownloadRequest::Code);
  s.WriteInteger(r.RequestID);
  s.WriteInteger(r.LyricID);
  return true;
}

bool ReadLyricDownloadRequest(const void* data, size_t length, TLyricDownloadRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TLyricDownloadRequest::Code, TLyricDownloadRequest::FixedSize)) return false;
  r.RequestID = s.ReadInteger(0);
  r.LyricID = s.ReadInteger(0);
  return true;
}

bool WriteLyricPart(TCmdStream& s, const TLyricPart& r) {
  if (r.PartCount == 0 || r.PartCount > TLyricPart::MaxParts || r.PartIndex >= r.PartCount ||
      r.Data.size() > TLyricPart::PartBytes || !Fits(s, TLyricPart::FixedSize + r.Data.size()))
    return false;
  s.WriteWord(TLyricPart::Code);
  s.WriteInteger(r.RequestID);
  s.WriteInteger(r.LyricID);
  s.WriteByte(r.PartCount);
  s.WriteByte(r.PartIndex);
  WriteWordString(s, r.Data);
  return true;
}

bool ReadLyricPart(const void* data, size_t length, TLyricPart& r) {
  TCmdStream s;
  if (!Open(s, data, length, TLyricPart::Code, TLyricPart::FixedSize)) return false;
  r.RequestID = s.ReadInteger(0);
  r.LyricID = s.ReadInteger(0);
  r.PartCount = s.ReadByte(0);
  r.PartIndex = s.ReadByte(0);
  if (r.PartCount == 0 || r.PartCount > TLyricPart::MaxParts || r.PartIndex >= r.PartCount) return false;
  if (!ReadWordString(s, r.Data)) return false;
  return r.Data.size() <= TLyricPart::PartBytes;
}

}  // namespace ml
