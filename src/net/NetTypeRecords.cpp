#include "net/NetTypeRecords.h"

#include "net/RecordCodec.h"

namespace ml {

using namespace RecordCodec;

bool WriteNetTypeCheck(TCmdStream& s, const TNetTypeCheck& r) {
  if (!Fits(s, TNetTypeCheck::FixedSize)) return false;
  s.WriteWord(TNetTypeCheck::Code);
  s.WriteInteger(r.UserID);
  s.WriteByte(r.NetKind);
  return true;
}

bool ReadNetTypeCheck(const void* data, size_t length, TNetTypeCheck& r) {
  TCmdStream s;
  if (!Open(s, data, length, TNetTypeCheck::Code, TNetTypeCheck::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.NetKind = s.ReadByte(0);
  return true;
}

bool WritePresenceCheck(TCmdStream& s, const TPresenceCheck& r) {
  if (!Fits(s, TPresenceCheck::Size)) return false;
  s.WriteWord(TPresenceCheck::Code);
  s.WriteInteger(int32_t(r.Token));
  s.WriteByte(r.NetKind.value_or(0));
  s.WriteWord(0);
  s.WriteByte(r.NetKind ? TPresenceCheck::KindSet : 0);
  return true;
}

bool ReadPresenceCheck(const void* data, size_t length, TPresenceCheck& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPresenceCheck::Code, TPresenceCheck::FixedSize)) return false;
  r.Token = uint32_t(s.ReadInteger(0));
  const uint8_t kind = s.ReadByte(0);
  s.Seek(2, 1);
  r.NetKind.reset();
  if (length >= TPresenceCheck::Size && s.ReadByte(0) == TPresenceCheck::KindSet) r.NetKind = kind;
  return true;
}

bool WritePresenceAnswer(TCmdStream& s, const TPresenceAnswer& r) {
  if (!Fits(s, TPresenceAnswer::FixedSize)) return false;
  s.WriteWord(TPresenceAnswer::Code);
  s.WriteInteger(r.UserID);
  s.WriteInteger(int32_t(r.Token));
  s.WriteWord(r.Port);
  return true;
}

bool ReadPresenceAnswer(const void* data, size_t length, TPresenceAnswer& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPresenceAnswer::Code, TPresenceAnswer::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.Token = uint32_t(s.ReadInteger(0));
  r.Port = s.ReadWord(0);
  return true;
}

bool WriteNetTypeResult(TCmdStream& s, const TNetTypeResult& r) {
  if (!Fits(s, TNetTypeResult::FixedSize)) return false;
  s.WriteWord(TNetTypeResult::Code);
  s.WriteByte(r.NetKind);
  s.WriteByte(0);
  s.WriteWord(0);
  return true;
}

bool ReadNetTypeResult(const void* data, size_t length, TNetTypeResult& r) {
  TCmdStream s;
  if (!Open(s, data, length, TNetTypeResult::Code, TNetTypeResult::FixedSize)) return false;
  r.NetKind = s.ReadByte(0);
  return true;
}

}  // namespace ml
