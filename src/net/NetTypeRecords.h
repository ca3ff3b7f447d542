#pragma once
// The network-type check: the client's request (41), the server's presence check that tests
// whether the client can be reached from elsewhere (49), the client's answer to it (15) and the
// result (39). One writer and one reader each, shared by the client, the service and the tests.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "net/WireCodes.h"
#include "net/LRCmdStream.h"

namespace ml {

struct TNetTypeCheck {
  static constexpr uint16_t Code = Cmd::NetTypeCheck;
  static constexpr size_t FixedSize = 7;
  int32_t UserID = 0;
  uint8_t NetKind = 0;  // what the client believes
  bool operator==(const TNetTypeCheck&) const = default;
};

// [word 49][Integer token][byte kind][2 bytes][byte 0xFF when the kind is set]. The client echoes
// the token; a set kind becomes its network kind.
struct TPresenceCheck {
  static constexpr uint16_t Code = Cmd::ServerPresenceCheck;
  static constexpr size_t FixedSize = 6;  // what the echo needs
  static constexpr size_t Size = 10;
  static constexpr uint8_t KindSet = 0xFF;
  uint32_t Token = 0;
  std::optional<uint8_t> NetKind;
  bool operator==(const TPresenceCheck&) const = default;
};

struct TPresenceAnswer {
  static constexpr uint16_t Code = Cmd::Presence;
  static constexpr size_t FixedSize = 12;
  int32_t UserID = 0;
  uint32_t Token = 0;  // the presence check's, unchanged
  uint16_t Port = 0;   // the client's own
  bool operator==(const TPresenceAnswer&) const = default;
};

struct TNetTypeResult {
  static constexpr uint16_t Code = Cmd::NetTypeResult;
  static constexpr size_t FixedSize = 6;
  uint8_t NetKind = 0;
  bool operator==(const TNetTypeResult&) const = default;
};

bool WriteNetTypeCheck(TCmdStream& s, const TNetTypeCheck& r);
bool ReadNetTypeCheck(const void* data, size_t length, TNetTypeCheck& r);
bool WritePresenceCheck(TCmdStream& s, const TPresenceCheck& r);
bool ReadPresenceCheck(const void* data, size_t length, TPresenceCheck& r);
bool WritePresenceAnswer(TCmdStream& s, const TPresenceAnswer& r);
bool ReadPresenceAnswer(const void* data, size_t length, TPresenceAnswer& r);
bool WriteNetTypeResult(TCmdStream& s, const TNetTypeResult& r);
bool ReadNetTypeResult(const void* data, size_t length, TNetTypeResult& r);

}  // namespace ml
