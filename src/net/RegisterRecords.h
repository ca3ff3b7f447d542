#pragma once
// The records of the registration server: the check code (21), the user-name test (68) and the
// registration (4), with their answers, and the rules a user name must pass on both sides.
// Writers write all or nothing; readers take a record whole. Texts are GBK, as they travel.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/LRCmdStream.h"
#include "net/WireCodes.h"

namespace ml {

// [word 21][6 bytes hardware address].
struct TCheckCodeRequest {
  static constexpr uint16_t Code = Cmd::CheckCode;
  static constexpr size_t FixedSize = 8;
  std::array<uint8_t, 6> HardwareAddress{};
  bool operator==(const TCheckCodeRequest&) const = default;
};

// [word result] and, with Status::OK, [Integer code]: exactly 6 bytes then (a longer one is
// refused), a code of 1..999999. Results below 4 are the RegisterResult refusals.
struct TCheckCodeReply {
  static constexpr size_t FixedSize = 2;
  static constexpr size_t CodeSize = 6;
  static constexpr int32_t MaxCode = 999999;
  uint16_t Result = RegisterResult::Busy;
  int32_t CheckCode = 0;
  bool operator==(const TCheckCodeReply&) const = default;
};

// [word 68][short string name].
struct TUserNameCheckRequest {
  static constexpr uint16_t Code = Cmd::CheckUserName;
  static constexpr size_t FixedSize = 3;
  std::string UserName;
  bool operator==(const TUserNameCheckRequest&) const = default;
};

// [Integer holder]: 0 when the name is free, Illegal when it breaks the rules, else the number of
// the account that holds it.
struct TUserNameCheckReply {
  static constexpr size_t FixedSize = 4;
  static constexpr int32_t Free = 0;
  static constexpr int32_t Illegal = 2147483647;
  int32_t Holder = Free;
  bool operator==(const TUserNameCheckReply&) const = default;
};

// [word 4][Integer check code][word 0][byte 0][byte verification mode][byte privacy][byte age]
// [byte sex][byte question][16 bytes MD5 of the password][16 bytes MD5 of the identity number]
// [16 bytes MD5 of the answer] and thirteen short strings: user name, nickname, country,
// province, city, postcode, job, full name, telephone, mobile, e-mail, address, description.
struct TRegisterRequest {
  static constexpr uint16_t Code = Cmd::Register;
  static constexpr size_t FixedSize = 75;  // with thirteen empty texts
  static constexpr size_t TextCount = 13;
  int32_t CheckCode = 0;
  uint8_t VerificationMode = 0, Privacy = 0, Age = 0, Sex = 1, Question = 0;
  std::array<uint8_t, 16> PasswordDigest{}, IdentityDigest{}, AnswerDigest{};
  // UserName first, then the profile texts in the order above.
  std::array<std::string, TextCount> Texts;
  const std::string& UserName() const { return Texts[0]; }
  bool operator==(const TRegisterRequest&) const = default;
};

// [word result]: with RegisterResult::NameTaken [Integer holder] (0 when missing); with
// Status::OK [Integer 0][Integer account number][short string user name].
struct TRegisterReply {
  static constexpr size_t FixedSize = 2;
  static constexpr size_t SuccessSize = 11;
  uint16_t Result = RegisterResult::Busy;
  int32_t Holder = 0;
  int32_t UserID = 0;
  std::string UserName;
  bool operator==(const TRegisterReply&) const = default;
};

// What is wrong with a user name (GBK), in the order the rules are tried; None when it passes.
// Empty; starting with a digit (ASCII or full-width); holding 系统 or 提示; 3 bytes or fewer;
// more than MaxUserNameChars characters.
enum class TUserNameProblem { None, Empty, StartsWithDigit, Reserved, TooShort, TooLong };
constexpr size_t MaxUserNameChars = 20;
TUserNameProblem CheckUserNameRules(std::string_view gbk);

bool WriteCheckCodeRequest(TCmdStream& s, const TCheckCodeRequest& r);
bool ReadCheckCodeRequest(const void* data, size_t length, TCheckCodeRequest& r);
bool WriteCheckCodeReply(TCmdStream& s, const TCheckCodeReply& r);
bool ReadCheckCodeReply(const void* data, size_t length, TCheckCodeReply& r);
bool WriteUserNameCheckRequest(TCmdStream& s, const TUserNameCheckRequest& r);
bool ReadUserNameCheckRequest(const void* data, size_t length, TUserNameCheckRequest& r);
bool WriteUserNameCheckReply(TCmdStream& s, const TUserNameCheckReply& r);
bool ReadUserNameCheckReply(const void* data, size_t length, TUserNameCheckReply& r);
bool WriteRegisterRequest(TCmdStream& s, const TRegisterRequest& r);
bool ReadRegisterRequest(const void* data, size_t length, TRegisterRequest& r);
bool WriteRegisterReply(TCmdStream& s, const TRegisterReply& r);
bool ReadRegisterReply(const void* data, size_t length, TRegisterReply& r);

}  // namespace ml
