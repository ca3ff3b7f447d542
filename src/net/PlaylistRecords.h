#pragma once
// The records of the playlist server: an upload's start (37) and parts (8) with their
// acknowledgements (8), a download's start (35), the request for its parts (9) and the parts (9),
// and the answer to either start. Writers write all or nothing; readers take a record whole.
//
// The login key rides in the Integer after the account (8, 9), which the player used to leave 0,
// and behind the start requests (35, 37): the service keeps a playlist only for a live session of
// its account, bound to the address it logged in from and to that key.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/LRCmdStream.h"
#include "net/WireCodes.h"

namespace ml {

// Sizes of the synchronised data: a 20-byte header (MD5 of the body, Integer version) and the
// body, cut into parts of UploadPartBytes going up and DownloadPartBytes coming down, at most
// MaxParts either way (the acknowledged and wanted sets have 32 bits).
namespace PlaylistData {
constexpr size_t HeaderBytes = 20;
constexpr size_t UploadPartBytes = 900;
constexpr size_t DownloadPartBytes = 1024;
constexpr int MaxParts = 32;
constexpr size_t MaxUploadBytes = MaxParts * UploadPartBytes;  // header included
}  // namespace PlaylistData

// [word 37][Integer user][byte 0][byte part count][Integer total length, header included]
// [Integer login key].
struct TPlaylistUploadStart {
  static constexpr uint16_t Code = Cmd::PlaylistUploadStart;
  static constexpr size_t FixedSize = 16;
  int32_t UserID = 0;
  uint8_t PartCount = 0;
  int32_t Length = 0;
  int32_t LoginKey = 0;
  bool operator==(const TPlaylistUploadStart&) const = default;
};

// [word 8][Integer user][Integer login key][byte part][word length][bytes].
struct TPlaylistUploadPart {
  static constexpr uint16_t Code = Cmd::PlaylistUploadPart;
  static constexpr size_t FixedSize = 13;
  int32_t UserID = 0;
  int32_t LoginKey = 0;
  uint8_t Part = 0;
  std::string Data;  // at most UploadPartBytes
  bool operator==(const TPlaylistUploadPart&) const = default;
};

// [word 8][Integer user][Integer parts received so far, bit i for part i].
struct TPlaylistUploadAck {
  static constexpr uint16_t Code = Cmd::PlaylistUploadPart;
  static constexpr size_t FixedSize = 10;
  int32_t UserID = 0;
  uint32_t Received = 0;
  bool operator==(const TPlaylistUploadAck&) const = default;
};

// [word 35][Integer user][Integer login key].
struct TPlaylistDownloadStart {
  static constexpr uint16_t Code = Cmd::PlaylistDownloadStart;
  static constexpr size_t FixedSize = 10;
  int32_t UserID = 0;
  int32_t LoginKey = 0;
  bool operator==(const TPlaylistDownloadStart&) const = default;
};

// The answer to either start, beginning with a status word instead of a command:
// [word 144][byte 0][byte part count][Integer total length] (an upload's echoes its request),
// [word 145][word refusal] (a refusal without its word reads as 65535), or any other status alone.
struct TPlaylistStartReply {
  static constexpr size_t FixedSize = 2;
  static constexpr size_t AcceptedSize = 8;
  uint16_t Status = ml::Status::Busy;
  uint16_t Refusal = 0xFFFF;
  uint8_t PartCount = 0;
  int32_t Length = 0;
  bool operator==(const TPlaylistStartReply&) const = default;
};

// [word 9][Integer user][Integer login key][Integer parts wanted].
struct TPlaylistPartRequest {
  static constexpr uint16_t Code = Cmd::PlaylistPart;
  static constexpr size_t FixedSize = 14;
  int32_t UserID = 0;
  int32_t LoginKey = 0;
  uint32_t Wanted = 0;
  bool operator==(const TPlaylistPartRequest&) const = default;
};

// [word 9][Integer user][byte part][word length][bytes]: exactly length + 9 bytes, a length of
// 1..DownloadPartBytes.
struct TPlaylistPart {
  static constexpr uint16_t Code = Cmd::PlaylistPart;
  static constexpr size_t FixedSize = 9;
  int32_t UserID = 0;
  uint8_t Part = 0;
  std::string Data;
  bool operator==(const TPlaylistPart&) const = default;
};

bool WritePlaylistUploadStart(TCmdStream& s, const TPlaylistUploadStart& r);
bool ReadPlaylistUploadStart(const void* data, size_t length, TPlaylistUploadStart& r);
bool WritePlaylistUploadPart(TCmdStream& s, const TPlaylistUploadPart& r);
bool ReadPlaylistUploadPart(const void* data, size_t length, TPlaylistUploadPart& r);
bool WritePlaylistUploadAck(TCmdStream& s, const TPlaylistUploadAck& r);
bool ReadPlaylistUploadAck(const void* data, size_t length, TPlaylistUploadAck& r);
bool WritePlaylistDownloadStart(TCmdStream& s, const TPlaylistDownloadStart& r);
bool ReadPlaylistDownloadStart(const void* data, size_t length, TPlaylistDownloadStart& r);
bool WritePlaylistStartReply(TCmdStream& s, const TPlaylistStartReply& r);
bool ReadPlaylistStartReply(const void* data, size_t length, TPlaylistStartReply& r);
bool WritePlaylistPartRequest(TCmdStream& s, const TPlaylistPartRequest& r);
bool ReadPlaylistPartRequest(const void* data, size_t length, TPlaylistPartRequest& r);
bool WritePlaylistPart(TCmdStream& s, const TPlaylistPart& r);
bool ReadPlaylistPart(const void* data, size_t length, TPlaylistPart& r);

}  // namespace ml
