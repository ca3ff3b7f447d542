#include "net/SearchRecords.h"

#include "net/RecordCodec.h"

namespace ml {

using namespace RecordCodec;

namespace {
constexpr size_t kRowNumbers = 16 + 4 + 4 + 2;  // digest, sources, size, duration

bool ReadDigest(TCmdStream& s, std::array<uint8_t, 16>& digest) {
  return s.ReadBuffer(digest.data(), int32_t(digest.size()));
}
}  // namespace

bool WriteSearchRequest(TCmdStream& s, const TSearchRequest& r) {
  if (!Fits(s, Total({TSearchRequest::FixedSize - 1, ShortStringSize(r.Keyword)}))) return false;
  s.WriteWord(TSearchRequest::Code);
  s.WriteInteger(r.SearchNumber);
  s.WriteWord(r.ProgramVersion);
  s.WriteInteger(r.UserID);
  s.WriteShortString(r.Keyword);
  s.WriteWord(r.Page);
  s.WriteInteger(int32_t(r.PartsWanted));
  return true;
}

bool ReadSearchRequest(const void* data, size_t length, TSearchRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TSearchRequest::Code, TSearchRequest::FixedSize)) return false;
  r.SearchNumber = s.ReadInteger(0);
  r.ProgramVersion = s.ReadWord(0);
  r.UserID = s.ReadInteger(0);
  if (!ReadShortString(s, r.Keyword) || s.Remaining() < 6) return false;
  r.Page = s.ReadWord(0);
  r.PartsWanted = uint32_t(s.ReadInteger(0));
  return true;
}

size_t SearchRowSize(const TSearchRow& row) {
  return Total({ShortStringSize(row.Name), kRowNumbers, ShortStringSize(row.Artist)});
}

bool WriteSearchResultPart(TCmdStream& s, const TSearchResultPart& r) {
  if (r.Total == 0) {
    if (!Fits(s, TSearchResultPart::FixedSize)) return false;
    s.WriteWord(TSearchResultPart::Code);
    s.WriteInteger(r.SearchNumber);
    s.WriteInteger(0);
    return true;
  }
  if (r.Rows.size() > TSearchResultPart::MaxRows) return false;
  size_t size = TSearchResultPart::HeaderSize;
  for (const TSearchRow& row : r.Rows) size = Total({size, SearchRowSize(row)});
  if (!Fits(s, size)) return false;
  s.WriteWord(TSearchResultPart::Code);
  s.WriteInteger(r.SearchNumber);
  s.WriteInteger(r.Total);
  s.WriteInteger(r.First);
  s.WriteWord(r.PageRows);
  s.WriteByte(r.Part);
  s.WriteByte(uint8_t(r.Rows.size()));
  for (const TSearchRow& row : r.Rows) {
    s.WriteShortString(row.Name);
    s.WriteBuffer(row.Digest.data(), int32_t(row.Digest.size()));
    s.WriteInteger(row.Sources);
    s.WriteInteger(row.Size);
    s.WriteWord(row.DurationSeconds);
    s.WriteShortString(row.Artist);
  }
  return true;
}

bool ReadSearchResultPart(const void* data, size_t length, TSearchResultPart& r) {
  TCmdStream s;
  if (!Open(s, data, length, TSearchResultPart::Code, TSearchResultPart::FixedSize)) return false;
  r = TSearchResultPart();
  r.SearchNumber = s.ReadInteger(0);
  r.Total = s.ReadInteger(0);
  if (r.Total == 0) return true;
  if (length < TSearchResultPart::HeaderSize) return false;
  r.First = s.ReadInteger(-1);
  r.PageRows = s.ReadWord(0);
  r.Part = s.ReadByte(0);
  const uint8_t count = s.ReadByte(0);
  r.Rows.resize(count);
  for (TSearchRow& row : r.Rows) {
    if (!ReadShortString(s, row.Name) || s.Remaining() < int32_t(kRowNumbers)) return false;
    ReadDigest(s, row.Digest);
    row.Sources = s.ReadInteger(0);
    row.Size = s.ReadInteger(0);
    row.DurationSeconds = s.ReadWord(0);
    if (!ReadShortString(s, row.Artist)) return false;
  }
  return true;
}

bool WriteUsageReport(TCmdStream& s, const TUsageReport& r) {
  if (!Fits(s, Total({4, ShortStringSize(r.Text)}))) return false;
  s.WriteWord(TUsageReport::Code);
  s.WriteWord(r.Kind);
  s.WriteShortString(r.Text);
  return true;
}

bool ReadUsageReport(const void* data, size_t length, TUsageReport& r) {
  TCmdStream s;
  if (!Open(s, data, length, TUsageReport::Code, TUsageReport::FixedSize)) return false;
  r.Kind = s.ReadWord(0);
  return ReadShortString(s, r.Text);
}

bool WriteSongLookupRequest(TCmdStream& s, const TSongLookupRequest& r) {
  if (!Fits(s, Total({2, ShortStringSize(r.Name)}))) return false;
  s.WriteWord(TSongLookupRequest::Code);
  s.WriteShortString(r.Name);
  return true;
}

bool ReadSongLookupRequest(const void* data, size_t length, TSongLookupRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TSongLookupRequest::Code, TSongLookupRequest::FixedSize)) return false;
  return ReadShortString(s, r.Name);
}

bool WriteSongLookupReply(TCmdStream& s, const TSongLookupReply& r) {
  if (!Fits(s, Total({TSongLookupReply::FixedSize - 2, ShortStringSize(r.FileName), ShortStringSize(r.Extension)})))
    return false;
  s.WriteWord(TSongLookupReply::Code);
  s.WriteShortString(r.FileName);
  s.WriteShortString(r.Extension);
  s.WriteBuffer(r.Digest.data(), int32_t(r.Digest.size()));
  s.WriteInteger(r.FileSize);
  s.WriteInteger(r.SizeHeld);
  s.WriteWord(r.BitRateKbps);
  s.WriteWord(r.DurationSeconds);
  return true;
}

bool ReadSongLookupReply(const void* data, size_t length, TSongLookupReply& r) {
  TCmdStream s;
  if (!Open(s, data, length, TSongLookupReply::Code, TSongLookupReply::FixedSize)) return false;
  if (!ReadShortString(s, r.FileName) || !ReadShortString(s, r.Extension) || s.Remaining() < 28) return false;
  ReadDigest(s, r.Digest);
  r.FileSize = s.ReadInteger(0);
  r.SizeHeld = s.ReadInteger(0);
  r.BitRateKbps = s.ReadWord(0);
  r.DurationSeconds = s.ReadWord(0);
  return true;
}

bool WriteSuggestRequest(TCmdStream& s, const TSuggestRequest& r) {
  if (!Fits(s, Total({6, ShortStringSize(r.Text)}))) return false;
  s.WriteWord(TSuggestRequest::Code);
  s.WriteInteger(r.UserID);
  s.WriteShortString(r.Text);
  return true;
}

bool ReadSuggestRequest(const void* data, size_t length, TSuggestRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TSuggestRequest::Code, TSuggestRequest::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  return ReadShortString(s, r.Text);
}

bool WriteSuggestReply(TCmdStream& s, const TSuggestReply& r) {
  if (r.Entries.size() > 255) return false;
  size_t size = TSuggestReply::FixedSize;
  for (const auto& e : r.Entries) size = Total({size, ShortStringSize(e.Word), 4});
  if (!Fits(s, size)) return false;
  s.WriteWord(TSuggestReply::Code);
  s.WriteByte(uint8_t(r.Entries.size()));
  for (const auto& e : r.Entries) {
    s.WriteShortString(e.Word);
    s.WriteInteger(e.Results);
  }
  return true;
}

bool ReadSuggestReply(const void* data, size_t length, TSuggestReply& r) {
  TCmdStream s;
  if (!Open(s, data, length, TSuggestReply::Code, TSuggestReply::FixedSize)) return false;
  r.Entries.assign(s.ReadByte(0), {});
  for (auto& e : r.Entries) {
    if (!ReadShortString(s, e.Word) || s.Remaining() < 4) return false;
    e.Results = s.ReadInteger(0);
  }
  return true;
}

}  // namespace ml
