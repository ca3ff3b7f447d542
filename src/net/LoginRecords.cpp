#include "net/LoginRecords.h"

#include "net/RecordCodec.h"

namespace ml {

using namespace RecordCodec;

namespace {

// The account fields of a successful login answer, from the account number to its texts.
constexpr size_t kAccountFields = 58;
// The partner fields before the home page's length byte.
constexpr size_t kPartnerFields = 10;

void WriteZeros(TCmdStream& s, int count) {
  for (int i = 0; i < count; ++i) s.WriteByte(0);
}

}  // namespace

bool WriteLoginRequest(TCmdStream& s, const TLoginRequest& r) {
  if (!Fits(s, Total({TLoginRequest::FixedSize, ShortStringSize(r.UserName)}))) return false;
  s.WriteWord(TLoginRequest::Code);
  s.WriteInteger(r.Requested);
  s.WriteInteger(int32_t(r.LocalIP));
  s.WriteWord(r.LocalPort);
  s.WriteByte(r.NetKind);
  s.WriteByte(0);
  s.WriteByte(r.LoginKind);
  s.WriteBuffer(r.HardwareAddress.data(), int32_t(r.HardwareAddress.size()));
  s.WriteWord(r.ProgramVersion);
  s.WriteWord(r.EditionCode);
  s.WriteBuffer(r.PasswordDigest.data(), int32_t(r.PasswordDigest.size()));
  s.WriteShortString(r.UserName);
  return true;
}

bool ReadLoginRequest(const void* data, size_t length, TLoginRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TLoginRequest::Code, TLoginRequest::FixedSize)) return false;
  r.Requested = s.ReadInteger(0);
  r.LocalIP = uint32_t(s.ReadInteger(0));
  r.LocalPort = s.ReadWord(0);
  r.NetKind = s.ReadByte(0);
  s.ReadByte(0);
  r.LoginKind = s.ReadByte(0);
  s.ReadBuffer(r.HardwareAddress.data(), int32_t(r.HardwareAddress.size()));
  r.ProgramVersion = s.ReadWord(0);
  r.EditionCode = s.ReadWord(0);
  s.ReadBuffer(r.PasswordDigest.data(), int32_t(r.PasswordDigest.size()));
  r.UserName.clear();
  return s.Remaining() == 0 || ReadShortString(s, r.UserName);
}

bool WriteLoginReply(TCmdStream& s, const TLoginReply& r, bool partnerFields) {
  if (r.Status != Status::OK) {
    if (!Fits(s, r.Status == Status::Refused ? 6 : 4)) return false;
    s.WriteWord(TLoginReply::Code);
    s.WriteWord(r.Status);
    if (r.Status == Status::Refused) s.WriteWord(r.Reason);
    return true;
  }
  const size_t partner = partnerFields ? Total({kPartnerFields, ShortStringSize(r.HomePage)}) : 0;
  if (!Fits(s, Total({4, kAccountFields, ShortStringSize(r.UserName), ShortStringSize(r.WebKey),
                      WordStringSize(r.Notice), partner})))
    return false;
  s.WriteWord(TLoginReply::Code);
  s.WriteWord(r.Status);
  s.WriteInteger(r.UserID);
  s.WriteInteger(r.LoginKey);
  s.WriteInteger(0);
  s.WriteInteger(0);
  s.WriteInteger(int32_t(r.PublicIP));
  s.WriteWord(r.PublicPort);
  s.WriteByte(0);
  s.WriteByte(r.DoNotRemember ? 1 : 0);
  WriteZeros(s, 5);
  s.WriteByte(r.UpdateKind);
  s.WriteWord(r.NewestVersion);
  s.WriteInteger(r.UpdateFileSize);
  s.WriteBuffer(r.UpdateDigest.data(), int32_t(r.UpdateDigest.size()));
  s.WriteInteger(0);
  WriteZeros(s, 2);
  s.WriteShortString(r.UserName);
  s.WriteShortString(r.WebKey);
  WriteWordString(s, r.Notice);
  if (partnerFields) {
    s.WriteInteger(int32_t(r.PartnerIP));
    s.WriteWord(r.PartnerPort);
    s.WriteInteger(r.PartnerValue);
    s.WriteShortString(r.HomePage);
  }
  return true;
}

bool ReadLoginReply(const void* data, size_t length, TLoginReply& r, bool partnerFields) {
  TCmdStream s;
  if (!Open(s, data, length, TLoginReply::Code, 2)) return false;
  r = TLoginReply();
  r.Status = s.ReadWord(Status::Busy);
  if (r.Status == Status::Refused) r.Reason = s.ReadWord(TLoginReply::ReasonMissing);
  if (r.Status != Status::OK) return true;
  if (s.Remaining() < int32_t(kAccountFields)) return false;
  r.UserID = s.ReadInteger(0);
  r.LoginKey = s.ReadInteger(0);
  s.Seek(8, 1);
  r.PublicIP = uint32_t(s.ReadInteger(0));
  r.PublicPort = s.ReadWord(0);
  s.ReadByte(0);
  r.DoNotRemember = s.ReadByte(0) == 1;
  s.Seek(5, 1);
  r.UpdateKind = s.ReadByte(1);
  r.NewestVersion = s.ReadWord(0);
  r.UpdateFileSize = s.ReadInteger(0);
  s.ReadBuffer(r.UpdateDigest.data(), int32_t(r.UpdateDigest.size()));
  s.Seek(6, 1);
  if (!ReadShortString(s, r.UserName) || !ReadShortString(s, r.WebKey) || !ReadWordString(s, r.Notice))
    return false;
  if (!partnerFields) return true;
  if (s.Remaining() < int32_t(kPartnerFields)) return false;
  r.PartnerIP = uint32_t(s.ReadInteger(0));
  r.PartnerPort = s.ReadWord(0);
  r.PartnerValue = s.ReadInteger(0);
  return ReadShortString(s, r.HomePage);
}

bool WriteLogoutRequest(TCmdStream& s, const TLogoutRequest& r) {
  if (!Fits(s, TLogoutRequest::FixedSize)) return false;
  s.WriteWord(TLogoutRequest::Code);
  s.WriteInteger(r.UserID);
  s.WriteInteger(r.LoginKey);
  s.WriteInteger(int32_t(r.LocalIP));
  s.WriteWord(r.LocalPort);
  s.WriteByte(r.NetKind);
  s.WriteByte(r.LoggedIn ? 1 : 0);
  return true;
}

bool ReadLogoutRequest(const void* data, size_t length, TLogoutRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TLogoutRequest::Code, TLogoutRequest::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.LoginKey = s.ReadInteger(0);
  r.LocalIP = uint32_t(s.ReadInteger(0));
  r.LocalPort = s.ReadWord(0);
  r.NetKind = s.ReadByte(0);
  r.LoggedIn = s.ReadByte(0) != 0;
  return true;
}

bool WriteLogoutReply(TCmdStream& s, const TLogoutReply& r) {
  if (!Fits(s, TLogoutReply::FixedSize)) return false;
  s.WriteWord(TLogoutReply::Code);
  s.WriteWord(r.Status);
  return true;
}

bool ReadLogoutReply(const void* data, size_t length, TLogoutReply& r) {
  TCmdStream s;
  if (!Open(s, data, length, TLogoutReply::Code, TLogoutReply::FixedSize)) return false;
  r.Status = s.ReadWord(0);
  return true;
}

bool WriteKeepAliveRequest(TCmdStream& s, const TKeepAliveRequest& r) {
  if (!Fits(s, TKeepAliveRequest::FixedSize)) return false;
  s.WriteWord(TKeepAliveRequest::Code);
  s.WriteInteger(r.UserID);
  s.WriteByte(1);
  s.WriteByte(r.LoggedIn ? 1 : 0);
  s.WriteByte(r.NetKind);
  s.WriteWord(r.ProgramVersion);
  s.WriteWord(0);
  s.WriteWord(0);
  s.WriteInteger(r.LoginKey);
  s.WriteWord(r.EditionCode);
  WriteZeros(s, 6);
  s.WriteByte(r.QueueCount);
  s.WriteByte(0);
  return true;
}

bool ReadKeepAliveRequest(const void* data, size_t length, TKeepAliveRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TKeepAliveRequest::Code, TKeepAliveRequest::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  s.ReadByte(0);
  r.LoggedIn = s.ReadByte(0) != 0;
  r.NetKind = s.ReadByte(0);
  r.ProgramVersion = s.ReadWord(0);
  s.Seek(4, 1);
  r.LoginKey = s.ReadInteger(0);
  r.EditionCode = s.ReadWord(0);
  s.Seek(6, 1);
  r.QueueCount = s.ReadByte(0);
  return true;
}

bool WriteKeepAliveReply(TCmdStream& s, const TKeepAliveReply& r) {
  if (!Fits(s, Total({TKeepAliveReply::FixedSize - 2, WordStringSize(r.Notice)}))) return false;
  s.WriteWord(TKeepAliveReply::Code);
  s.WriteInteger(r.UserID);
  s.WriteInteger(r.ServerTime);
  s.WriteWord(r.ListVersion);
  WriteWordString(s, r.Notice);
  return true;
}

bool ReadKeepAliveReply(const void* data, size_t length, TKeepAliveReply& r) {
  TCmdStream s;
  if (!Open(s, data, length, TKeepAliveReply::Code, TKeepAliveReply::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.ServerTime = s.ReadInteger(0);
  r.ListVersion = s.ReadWord(0);
  return ReadWordString(s, r.Notice);
}

}  // namespace ml
