#pragma once
// The records of transfers between peers and of the hash and relay servers: the file request
// directly (50) and through the relay (42), its answer (51, and 53 read alike), the block request
// (52), the hash server's query and source list (257), the uploader's random songs (265), the data
// packet that travels in a transfer-data envelope, and the requests older clients send (18, 28,
// 35, 36) with their answers and data packets. One writer and one reader each; every count and length is checked
// against what arrived before anything is taken.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/LRMD5.h"
#include "net/LRCmdStream.h"
#include "net/WireCodes.h"

namespace ml {

// Statuses of a file answer (51).
namespace FileAnswer {
constexpr uint8_t WillServe = 0;
constexpr uint8_t NotFound = 1;  // also a size that differs
constexpr uint8_t Busy = 2;
}  // namespace FileAnswer

constexpr size_t TransferBlockBytes = 1024;

// [word 42][hash][Integer size][Integer requester][Integer requester IPv4][word requester port]
// [Integer target][byte DownType]. The relay fills the requester's address with the one it saw.
struct TRelayFileRequest {
  static constexpr uint16_t Code = Cmd::RelayFileRequest;
  static constexpr size_t FixedSize = 37;
  TMD5Digest Hash;
  int32_t FileSize = 0;
  int32_t RequesterID = 0;
  uint32_t RequesterIP = 0;  // network order
  uint16_t RequesterPort = 0;
  int32_t TargetID = 0;
  uint8_t DownType = 0;
  bool operator==(const TRelayFileRequest&) const = default;
};

// [word 50][hash][Integer size][Integer requester][byte DownType][byte NAT type]; a record
// without the NAT byte reads it as 255.
struct TPeerFileRequest {
  static constexpr uint16_t Code = Cmd::PeerFileRequest;
  static constexpr size_t FixedSize = 27;
  TMD5Digest Hash;
  int32_t FileSize = 0;
  int32_t RequesterID = 0;
  uint8_t DownType = 0;
  uint8_t NatType = 255;
  bool operator==(const TPeerFileRequest&) const = default;
};

// [word 51 or 53][hash][Integer size][Integer answering user][byte DownType][byte status]
// [short string name]. A record that stops after the DownType reads status NotFound; a name that
// claims more bytes than arrived refuses the record.
struct TPeerFileAnswer {
  static constexpr size_t FixedSize = 27;
  uint16_t Code = Cmd::PeerFileAnswer;
  TMD5Digest Hash;
  int32_t FileSize = 0;
  int32_t UserID = 0;
  uint8_t DownType = 0;
  uint8_t Status = FileAnswer::NotFound;
  std::string Name;  // GBK, without a folder
  bool operator==(const TPeerFileAnswer&) const = default;
};

// [word 52][hash][Integer requester][byte DownType][byte n][n Integer block numbers]. n = 0
// asks the uploader to stop. The reader takes up to 255 numbers when they all arrived; how many
// an uploader serves is the uploader's rule.
struct TPeerBlockRequest {
  static constexpr uint16_t Code = Cmd::PeerBlockRequest;
  static constexpr size_t FixedSize = 24;
  static constexpr size_t MaxBlocks = 255;
  TMD5Digest Hash;
  int32_t RequesterID = 0;
  uint8_t DownType = 0;
  std::vector<int32_t> Blocks;
  bool operator==(const TPeerBlockRequest&) const = default;
};

// [word 257][hash][Integer requester][byte NAT type].
struct THashSourcesRequest {
  static constexpr uint16_t Code = Cmd::HashSources;
  static constexpr size_t FixedSize = 23;
  TMD5Digest Hash;
  int32_t RequesterID = 0;
  uint8_t NatType = 0;
  bool operator==(const THashSourcesRequest&) const = default;
};

struct TPeerSource {
  int32_t UserID = 0;
  uint32_t IP = 0;  // network order
  uint16_t Port = 0;
  uint8_t NatType = 0;
  bool operator==(const TPeerSource&) const = default;
};

// [word 257][hash][word 144][records of Integer user, Integer IPv4, word port, byte NAT type]
// until a negative user number (4 bytes) or the end. A record cut short refuses the whole list;
// more than MaxSources records are refused too (one datagram holds 129).
struct THashSourcesAnswer {
  static constexpr uint16_t Code = Cmd::HashSources;
  static constexpr size_t FixedSize = 20;
  static constexpr size_t RecordSize = 11;
  static constexpr size_t MaxSources = 128;
  TMD5Digest Hash;
  std::vector<TPeerSource> Sources;
  bool operator==(const THashSourcesAnswer&) const = default;
};

// The body of a transfer-data envelope (after its 5-byte header): [hash][Integer sender]
// [byte DownType][Integer block, -1: could not be read][word length][data]. The length must be
// at most 1024 and exactly what follows; a block of -1 carries no data.
struct TTransferBlock {
  static constexpr size_t FixedSize = 27;
  TMD5Digest Hash;
  int32_t SenderID = 0;
  uint8_t DownType = 0;
  int32_t Block = -1;
  const uint8_t* Data = nullptr;  // into the datagram read
  size_t Length = 0;
};

// [word 265][hash][Integer uploader][1..MaxBytes bytes]: what the uploader offers besides the
// file, sent after a "will serve".
struct TRandomSongs {
  static constexpr uint16_t Code = Cmd::PeerTransfer265;
  static constexpr size_t FixedSize = 22;
  static constexpr size_t MaxBytes = 1023;
  TMD5Digest Hash;
  int32_t UserID = 0;
  std::vector<uint8_t> Songs;
  bool operator==(const TRandomSongs&) const = default;
};

// Older clients name a file by its old key: the name without its folder, the byte 3 and the size
// in decimal, compared without regard to (ASCII) case. Their requests begin with a 32-bit code
// (18: a word) and carry tagged fields ([Integer length + 4][Integer tag][text]); numbers are
// decimal text. A peer number must be above 0.
std::string OldFileKey(std::string_view fileName, int64_t size);
// A key as it is compared: ASCII letters in lower case.
std::string LowerOldFileKey(std::string_view key);
// The name and size of a key; false when it has no byte 3 or no size above 0 after it.
bool SplitOldFileKey(std::string_view key, std::string& name, int64_t& size);

// [word 18][Integer, not negative][Integer][word][Integer request number, not negative][byte]
// [short string][short string file key]. Answered (15) only when the file is held and an
// upload may be opened.
struct TOldFileNotice {
  static constexpr uint16_t Code = Cmd::TransferNotice;
  static constexpr size_t FixedSize = 19;
  int32_t First = 0;
  int32_t Second = 0;
  uint16_t Word = 0;
  int32_t RequestNumber = 0;
  uint8_t Byte = 0;
  std::string Text;
  std::string FileKey;
  bool operator==(const TOldFileNotice&) const = default;
};

// [Integer 36 or 35][tagged file key][tagged peer number]: 36 asks for a file (answered 37 with
// its digest, "FileNoExists" or "MaxSend"), 35 ends the peer's upload of it.
struct TOldPeerRequest {
  static constexpr int32_t StopCode = 35;
  static constexpr size_t FixedSize = 4 + 8 + 8;
  int32_t Code = Cmd::PeerRequestOld36;
  std::string FileKey;
  int32_t PeerID = 0;
  bool operator==(const TOldPeerRequest&) const = default;
};

// [Integer 28][tagged file key][tagged block list: numbers separated by ","][tagged peer number].
// At most MaxBlocks numbers are taken; one that is not a number reads as -1.
struct TOldBlockRequest {
  static constexpr int32_t Code = Cmd::PeerFileRequestOld;
  static constexpr size_t FixedSize = 4 + 3 * 8;
  static constexpr size_t MaxBlocks = 10;
  std::string FileKey;
  std::vector<int32_t> Blocks;
  int32_t PeerID = 0;
  bool operator==(const TOldBlockRequest&) const = default;
};

// The tags of the old answers and data packets.
namespace OldTag {
constexpr int32_t RequestNumber = 76, NatType = 125, Status = 79;
constexpr int32_t FileKey = 142, UserID = 51, Digest = 167, Block = 141, Version = 191;
}  // namespace OldTag
namespace OldAnswer {
constexpr int32_t Notice = 15;  // to 18
constexpr int32_t File = 37;    // to 36
constexpr std::string_view NotHeld = "FileNoExists", Busy = "MaxSend";
}  // namespace OldAnswer

// [Integer 15][tagged 76: request number][tagged 125: NAT type][tagged 79: "8"].
bool WriteOldNoticeAnswer(TCmdStream& s, int32_t requestNumber, uint8_t natType);
// [Integer 37][tagged 142: file key][tagged 51: user number][tagged 167: digest or status].
bool WriteOldFileAnswer(TCmdStream& s, std::string_view fileKey, int32_t userID, std::string_view digestOrStatus);

// An old data packet, sent raw: [byte '1'][Integer n][n bytes of tagged fields: 142 file key,
// 141 block, 51 sender, 191 "300"][data].
struct TOldDataPacket {
  static constexpr uint8_t Kind = '1';
  std::string FileKey;
  int32_t Block = 0;
  int32_t SenderID = 0;
  const uint8_t* Data = nullptr;  // into the datagram read
  size_t Length = 0;
};

bool WriteRelayFileRequest(TCmdStream& s, const TRelayFileRequest& r);
bool ReadRelayFileRequest(const void* data, size_t length, TRelayFileRequest& r);
bool WritePeerFileRequest(TCmdStream& s, const TPeerFileRequest& r);
bool ReadPeerFileRequest(const void* data, size_t length, TPeerFileRequest& r);
bool WritePeerFileAnswer(TCmdStream& s, const TPeerFileAnswer& r);
// Takes 51 and 53 alike.
bool ReadPeerFileAnswer(const void* data, size_t length, TPeerFileAnswer& r);
bool WritePeerBlockRequest(TCmdStream& s, const TPeerBlockRequest& r);
bool ReadPeerBlockRequest(const void* data, size_t length, TPeerBlockRequest& r);
bool WriteHashSourcesRequest(TCmdStream& s, const THashSourcesRequest& r);
bool ReadHashSourcesRequest(const void* data, size_t length, THashSourcesRequest& r);
bool WriteHashSourcesAnswer(TCmdStream& s, const THashSourcesAnswer& r);
bool ReadHashSourcesAnswer(const void* data, size_t length, THashSourcesAnswer& r);
// Writes the header and copies Length bytes from Data.
bool WriteTransferBlock(TCmdStream& s, const TTransferBlock& r);
bool ReadTransferBlock(const void* data, size_t length, TTransferBlock& r);
bool WriteRandomSongs(TCmdStream& s, const TRandomSongs& r);
bool ReadRandomSongs(const void* data, size_t length, TRandomSongs& r);
bool WriteOldFileNotice(TCmdStream& s, const TOldFileNotice& r);
bool ReadOldFileNotice(const void* data, size_t length, TOldFileNotice& r);
// 35 and 36 alike; Code says which came.
bool WriteOldPeerRequest(TCmdStream& s, const TOldPeerRequest& r);
bool ReadOldPeerRequest(const void* data, size_t length, TOldPeerRequest& r);
bool WriteOldBlockRequest(TCmdStream& s, const TOldBlockRequest& r);
bool ReadOldBlockRequest(const void* data, size_t length, TOldBlockRequest& r);
bool WriteOldDataPacket(TCmdStream& s, const TOldDataPacket& r);
bool ReadOldDataPacket(const void* data, size_t length, TOldDataPacket& r);

}  // namespace ml
