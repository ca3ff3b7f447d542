#include "net/RegisterRecords.h"

#include "base/GbkText.h"
#include "net/RecordCodec.h"

namespace ml {

using namespace RecordCodec;

TUserNameProblem CheckUserNameRules(std::string_view gbk) {
  if (gbk.empty()) return TUserNameProblem::Empty;
  // Whole characters, so that a GBK second byte is never taken for a digit.
  const std::string utf8 = GbkToUtf8(gbk);
  const std::u32string chars = Utf8ToCodePoints(utf8);
  const char32_t first = chars.empty() ? 0 : chars[0];
  if ((first >= U'0' && first <= U'9') || (first >= U'０' && first <= U'９')) return TUserNameProblem::StartsWithDigit;
  if (utf8.find("系统") != std::string::npos || utf8.find("提示") != std::string::npos) return TUserNameProblem::Reserved;
  if (gbk.size() <= 3) return TUserNameProblem::TooShort;
  if (chars.size() > MaxUserNameChars) return TUserNameProblem::TooLong;
  return TUserNameProblem::None;
}

bool WriteCheckCodeRequest(TCmdStream& s, const TCheckCodeRequest& r) {
  if (!Fits(s, TCheckCodeRequest::FixedSize)) return false;
  s.WriteWord(TCheckCodeRequest::Code);
  s.WriteBuffer(r.HardwareAddress.data(), int32_t(r.HardwareAddress.size()));
  return true;
}

bool ReadCheckCodeRequest(const void* data, size_t length, TCheckCodeRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TCheckCodeRequest::Code, TCheckCodeRequest::FixedSize)) return false;
  return s.ReadBuffer(r.HardwareAddress.data(), int32_t(r.HardwareAddress.size()));
}

bool WriteCheckCodeReply(TCmdStream& s, const TCheckCodeReply& r) {
  const bool ok = r.Result == Status::OK;
  if (ok && (r.CheckCode < 1 || r.CheckCode > TCheckCodeReply::MaxCode)) return false;
  if (!Fits(s, ok ? TCheckCodeReply::CodeSize : TCheckCodeReply::FixedSize)) return false;
  s.WriteWord(r.Result);
  if (ok) s.WriteInteger(r.CheckCode);
  return true;
}

bool ReadCheckCodeReply(const void* data, size_t length, TCheckCodeReply& r) {
  if (!data || length < TCheckCodeReply::FixedSize || length > size_t(INT32_MAX)) return false;
  TCmdStream s;
  s.InitRead(data, int32_t(length));
  r = TCheckCodeReply();
  r.Result = s.ReadWord(0);
  if (r.Result != Status::OK) return true;
  if (length != TCheckCodeReply::CodeSize) return false;
  r.CheckCode = s.ReadInteger(0);
  return r.CheckCode >= 1 && r.CheckCode <= TCheckCodeReply::MaxCode;
}

bool WriteUserNameCheckRequest(TCmdStream& s, const TUserNameCheckRequest& r) {
  if (!Fits(s, Total({2, ShortStringSize(r.UserName)}))) return false;
  s.WriteWord(TUserNameCheckRequest::Code);
  s.WriteShortString(r.UserName);
  return true;
}

bool ReadUserNameCheckRequest(const void* data, size_t length, TUserNameCheckRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TUserNameCheckRequest::Code, TUserNameCheckRequest::FixedSize)) return false;
  return ReadShortString(s, r.UserName);
}

bool WriteUserNameCheckReply(TCmdStream& s, const TUserNameCheckReply& r) {
  if (!Fits(s, TUserNameCheckReply::FixedSize)) return false;
  s.WriteInteger(r.Holder);
  return true;
}

bool ReadUserNameCheckReply(const void* data, size_t length, TUserNameCheckReply& r) {
  if (!data || length < TUserNameCheckReply::FixedSize || length > size_t(INT32_MAX)) return false;
  TCmdStream s;
  s.InitRead(data, int32_t(length));
  r.Holder = s.ReadInteger(0);
  return true;
}

bool WriteRegisterRequest(TCmdStream& s, const TRegisterRequest& r) {
  size_t size = TRegisterRequest::FixedSize - TRegisterRequest::TextCount;
  for (const std::string& t : r.Texts) size = Total({size, ShortStringSize(t)});
  if (!Fits(s, size)) return false;
  s.WriteWord(TRegisterRequest::Code);
  s.WriteInteger(r.CheckCode);
  s.WriteWord(0);
  s.WriteByte(0);
  for (uint8_t b : {r.VerificationMode, r.Privacy, r.Age, r.Sex, r.Question}) s.WriteByte(b);
  for (const auto* d : {&r.PasswordDigest, &r.IdentityDigest, &r.AnswerDigest}) s.WriteBuffer(d->data(), 16);
  for (const std::string& t : r.Texts) s.WriteShortString(t);
  return true;
}

bool ReadRegisterRequest(const void* data, size_t length, TRegisterRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TRegisterRequest::Code, TRegisterRequest::FixedSize)) return false;
  r.CheckCode = s.ReadInteger(0);
  s.ReadWord(0);
  s.ReadByte(0);
  for (uint8_t* b : {&r.VerificationMode, &r.Privacy, &r.Age, &r.Sex, &r.Question}) *b = s.ReadByte(0);
  for (auto* d : {&r.PasswordDigest, &r.IdentityDigest, &r.AnswerDigest}) s.ReadBuffer(d->data(), 16);
  for (std::string& t : r.Texts)
    if (!ReadShortString(s, t)) return false;
  return true;
}

bool WriteRegisterReply(TCmdStream& s, const TRegisterReply& r) {
  const bool ok = r.Result == Status::OK;
  const bool taken = r.Result == RegisterResult::NameTaken;
  const size_t size = ok ? Total({10, ShortStringSize(r.UserName)}) : taken ? 6 : 2;
  if (!Fits(s, size)) return false;
  s.WriteWord(r.Result);
  if (taken) s.WriteInteger(r.Holder);
  if (!ok) return true;
  s.WriteInteger(0);
  s.WriteInteger(r.UserID);
  s.WriteShortString(r.UserName);
  return true;
}

bool ReadRegisterReply(const void* data, size_t length, TRegisterReply& r) {
  if (!data || length < TRegisterReply::FixedSize || length > size_t(INT32_MAX)) return false;
  TCmdStream s;
  s.InitRead(data, int32_t(length));
  r = TRegisterReply();
  r.Result = s.ReadWord(0);
  if (r.Result == RegisterResult::NameTaken) r.Holder = s.ReadInteger(0);
  if (r.Result != Status::OK) return true;
  if (length < TRegisterReply::SuccessSize) return false;
  s.ReadInteger(0);
  r.UserID = s.ReadInteger(0);
  return ReadShortString(s, r.UserName);
}

}  // namespace ml
