#pragma once
// The records of the login server (log in 1, log out 2) and of the keep-alive server (11): one
// writer and one reader each, which the client, the service and the tests share. Texts are GBK,
// as they travel. Readers take a record whole or not at all (net/RecordCodec.h); writers write
// all of a record or nothing and say which.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/WireCodes.h"
#include "net/LRCmdStream.h"

namespace ml {

struct TLoginRequest {
  static constexpr uint16_t Code = Cmd::Login;
  // Up to and including the password digest; the name's short string may be missing.
  static constexpr size_t FixedSize = 41;
  static constexpr int32_t Anonymous = -1;  // Requested of an anonymous connect
  static constexpr int32_t ByName = 0;      // Requested of a login by name
  static constexpr uint8_t KindByNumber = 2;

  int32_t Requested = Anonymous;  // Anonymous, ByName, or the account number
  uint32_t LocalIP = 0;           // network order
  uint16_t LocalPort = 0;
  uint8_t NetKind = 0;
  uint8_t LoginKind = 0;          // KindByNumber for a login by number, 0 otherwise
  std::array<uint8_t, 6> HardwareAddress{};
  uint16_t ProgramVersion = 0;
  uint16_t EditionCode = 0;
  std::array<uint8_t, 16> PasswordDigest{};
  std::string UserName;  // by name only
  bool operator==(const TLoginRequest&) const = default;
};

// The answer to a login. Status OK carries the account fields; Refused carries its reason; any
// other status is the reason itself. A client of an edition other than 0 gets the partner fields
// after the notice.
struct TLoginReply {
  static constexpr uint16_t Code = Cmd::Login;
  static constexpr uint16_t ReasonMissing = 65535;  // what a refusal without its reason reads as

  uint16_t Status = ml::Status::OK;
  uint16_t Reason = 0;
  int32_t UserID = 0;
  int32_t LoginKey = 0;
  uint32_t PublicIP = 0;  // network order, as the server saw the client
  uint16_t PublicPort = 0;
  bool DoNotRemember = false;
  uint8_t UpdateKind = 1;
  uint16_t NewestVersion = 0;
  int32_t UpdateFileSize = 0;
  std::array<uint8_t, 16> UpdateDigest{};
  std::string UserName, WebKey, Notice;
  uint32_t PartnerIP = 0;
  uint16_t PartnerPort = 0;
  int32_t PartnerValue = 0;
  std::string HomePage;
  bool operator==(const TLoginReply&) const = default;
};

struct TLogoutRequest {
  static constexpr uint16_t Code = Cmd::Logout;
  static constexpr size_t FixedSize = 18;
  int32_t UserID = 0;
  int32_t LoginKey = 0;
  uint32_t LocalIP = 0;
  uint16_t LocalPort = 0;
  uint8_t NetKind = 0;
  bool LoggedIn = false;
  bool operator==(const TLogoutRequest&) const = default;
};

struct TLogoutReply {
  static constexpr uint16_t Code = Cmd::Logout;
  static constexpr size_t FixedSize = 4;
  uint16_t Status = ml::Status::OK;
  bool operator==(const TLogoutReply&) const = default;
};

struct TKeepAliveRequest {
  static constexpr uint16_t Code = Cmd::KeepAlive;
  static constexpr size_t FixedSize = 29;
  int32_t UserID = 0;
  bool LoggedIn = false;
  uint8_t NetKind = 0;
  uint16_t ProgramVersion = 0;
  int32_t LoginKey = 0;
  uint16_t EditionCode = 0;
  uint8_t QueueCount = 0;  // datagrams waiting in the client's work queue
  bool operator==(const TKeepAliveRequest&) const = default;
};

struct TKeepAliveReply {
  static constexpr uint16_t Code = Cmd::KeepAlive;
  static constexpr size_t FixedSize = 14;  // up to the notice's length word
  int32_t UserID = 0;
  int32_t ServerTime = 0;  // seconds since 1970
  uint16_t ListVersion = 0;
  std::string Notice;
  bool operator==(const TKeepAliveReply&) const = default;
};

bool WriteLoginRequest(TCmdStream& s, const TLoginRequest& r);
bool ReadLoginRequest(const void* data, size_t length, TLoginRequest& r);
// partnerFields: the answer goes to (comes from the server of) a client whose edition is not 0.
// A missing status reads as Busy and a refusal without its reason as ReasonMissing; an account
// answer must hold every field up to the notice.
bool WriteLoginReply(TCmdStream& s, const TLoginReply& r, bool partnerFields);
bool ReadLoginReply(const void* data, size_t length, TLoginReply& r, bool partnerFields);

bool WriteLogoutRequest(TCmdStream& s, const TLogoutRequest& r);
bool ReadLogoutRequest(const void* data, size_t length, TLogoutRequest& r);
bool WriteLogoutReply(TCmdStream& s, const TLogoutReply& r);
bool ReadLogoutReply(const void* data, size_t length, TLogoutReply& r);

bool WriteKeepAliveRequest(TCmdStream& s, const TKeepAliveRequest& r);
bool ReadKeepAliveRequest(const void* data, size_t length, TKeepAliveRequest& r);
bool WriteKeepAliveReply(TCmdStream& s, const TKeepAliveReply& r);
bool ReadKeepAliveReply(const void* data, size_t length, TKeepAliveReply& r);

}  // namespace ml
