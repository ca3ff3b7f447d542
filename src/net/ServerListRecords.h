#pragma once
// The server-list server's records (9): the client's request and the table it gets back, one
// writer and one reader each, shared by the client, the service and the tests.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/WireCodes.h"
#include "net/LRCmdStream.h"
#include "net/LREncrypt.h"

namespace ml {

// One entry as it travels in the cache file and in a server-list answer.
struct TServerEntry {
  uint16_t Slot = 0;
  uint32_t Address = 0;  // network byte order
  uint16_t Port = 0;
  bool operator==(const TServerEntry&) const = default;
};

struct TServerListRequest {
  static constexpr uint16_t Code = Cmd::ServerList;
  static constexpr size_t FixedSize = 12;
  int32_t UserID = 0;
  int32_t ProgramVersion = 0;
  uint16_t Version = 0;  // of the client's table
  bool operator==(const TServerListRequest&) const = default;
};

// [Integer 144][word version][word count][count x (word slot, Integer address, word port)]
// [Integer tag]. No entries says that the client's table is current. The answer begins with a
// status, not the command code.
struct TServerListReply {
  static constexpr size_t HeadSize = 8;   // status, version, count
  static constexpr size_t EntrySize = 8;
  // A client takes only answers longer than this, so the tag always follows the entries.
  static constexpr size_t ShortestTaken = 9;
  static constexpr size_t MaxEntries = (Envelope::MaxPayload - HeadSize - 4) / EntrySize;
  uint16_t Version = 0;
  std::vector<TServerEntry> Entries;
  int32_t Tag = 0;
  bool operator==(const TServerListReply&) const = default;
};

bool WriteServerListRequest(TCmdStream& s, const TServerListRequest& r);
bool ReadServerListRequest(const void* data, size_t length, TServerListRequest& r);
// Refuses (writes nothing) more than MaxEntries entries.
bool WriteServerListReply(TCmdStream& s, const TServerListReply& r);
// False unless the answer is longer than ShortestTaken, begins with status OK and holds every
// entry it counts; the tag after the entries reads as 0 when it is missing.
bool ReadServerListReply(const void* data, size_t length, TServerListReply& r);

}  // namespace ml
