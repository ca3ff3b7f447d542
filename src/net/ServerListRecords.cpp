#include "net/ServerListRecords.h"

#include "net/RecordCodec.h"

namespace ml {

using namespace RecordCodec;

bool WriteServerListRequest(TCmdStream& s, const TServerListRequest& r) {
  if (!Fits(s, TServerListRequest::FixedSize)) return false;
  s.WriteWord(TServerListRequest::Code);
  s.WriteInteger(r.UserID);
  s.WriteInteger(r.ProgramVersion);
  s.WriteWord(r.Version);
  return true;
}

bool ReadServerListRequest(const void* data, size_t length, TServerListRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TServerListRequest::Code, TServerListRequest::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.ProgramVersion = s.ReadInteger(0);
  r.Version = s.ReadWord(0);
  return true;
}

bool WriteServerListReply(TCmdStream& s, const TServerListReply& r) {
  const size_t n = r.Entries.size();
  if (n > TServerListReply::MaxEntries ||
      !Fits(s, TServerListReply::HeadSize + n * TServerListReply::EntrySize + 4))
    return false;
  s.WriteInteger(Status::OK);
  s.WriteWord(r.Version);
  s.WriteWord(uint16_t(n));
  for (const TServerEntry& e : r.Entries) {
    s.WriteWord(e.Slot);
    s.WriteInteger(int32_t(e.Address));
    s.WriteWord(e.Port);
  }
  s.WriteInteger(r.Tag);
  return true;
}

bool ReadServerListReply(const void* data, size_t length, TServerListReply& r) {
  if (!data || length <= TServerListReply::ShortestTaken || length > size_t(INT32_MAX)) return false;
  TCmdStream s;
  s.InitRead(data, int32_t(length));
  if (s.ReadInteger(0) != Status::OK) return false;
  r.Version = s.ReadWord(0);
  const size_t count = s.ReadWord(0);
  if (length < TServerListReply::HeadSize + count * TServerListReply::EntrySize) return false;
  r.Entries.clear();
  r.Entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    TServerEntry e;
    e.Slot = s.ReadWord(0);
    e.Address = uint32_t(s.ReadInteger(0));
    e.Port = s.ReadWord(0);
    r.Entries.push_back(e);
  }
  r.Tag = s.ReadInteger(0);
  return true;
}

}  // namespace ml
