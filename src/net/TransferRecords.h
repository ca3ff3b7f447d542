#pragma once
// The records of transfers between peers and of the hash and relay servers: the file request
// directly (50) and through the relay (42), its answer (51, and 53 read alike), the block request
// (52), the hash server's query and source list (257) and the data packet that travels in a
// transfer-data envelope. One writer and one reader each; every count and length is checked
// against what arrived before anything is taken.
#include <cstddef>
#include <cstdint>
#include <string>
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

}  // namespace ml
