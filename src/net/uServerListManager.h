#pragma once
// TServerListManager: which servers answer which service code. The table starts from a built-in
// default, is cached in "LR4ServerList.bin" and is refreshed from the server-list server with
// command 9. Lookups spread the users of one slot over its servers by user number.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/ServerListRecords.h"

namespace ml {

class TLRUDPClient;

struct TServerSlot {
  uint16_t SlotNo = 0;
  uint16_t Count = 0;  // 0..MaxServers; entries 0..Count-1 are valid
  std::array<uint32_t, 10> Address{};  // network byte order
  std::array<uint16_t, 10> Port{};
};

// Where the built-in table points. The ten addresses are ours to choose: by default they all
// name this machine, where minilirra-service listens, so no name lookup is needed.
struct TServerListDefaults {
  std::array<uint32_t, 10> Addresses{};  // network order; all zero means 127.0.0.1
  uint32_t ListServerIP = 0;             // 0: Addresses[0]
  uint16_t ListServerPort = 8801;
  std::string LoginHost = "localhost";   // tried when the list server does not answer
  int32_t TimeoutMs = 3000;
};

class TServerListManager {
public:
  static constexpr int SlotCount = 32;
  static constexpr int MaxServers = 10;
  static constexpr int MaxServiceCode = 80;
  static constexpr uint16_t BuiltInVersion = 6;
  static constexpr uint16_t ListServerPort = 8801;

  using TDefaults = TServerListDefaults;

  // Loads filePath when it exists, else installs (and writes) the built-in table.
  explicit TServerListManager(std::string filePath, TDefaults defaults = TDefaults());
  // Saves the table.
  ~TServerListManager();
  TServerListManager(const TServerListManager&) = delete;
  TServerListManager& operator=(const TServerListManager&) = delete;

  // The client that Download sends through (must outlive this object).
  void SetUDPClient(TLRUDPClient* client) { udp_ = client; }

  // Address (network order) and port for a user and a service code; false when the code has no
  // server.
  bool ServerFor(int32_t userID, int serviceCode, uint16_t& port, uint32_t& address) const;
  // Server count of the code's slot, for codes 1..50; 0 otherwise.
  int ServerCount(int serviceCode) const;
  // Refreshes the table with command 9. True when the table is current or was replaced.
  bool Download(int32_t userID, int32_t programVersion, bool force);

  uint16_t Version() const;
  // Whether a version the service announces is newer than ours. Versions are serial numbers
  // (RFC 1982 over 16 bits): the service's count wraps from 65535 to 1, and 1 then follows 65535.
  // Versions half the circle apart or more compare as not newer; 0 (no table) is older than all.
  static bool IsNewerVersion(uint16_t announced, uint16_t ours);
  uint16_t EntryCount() const;
  bool Busy() const { return busy_.load(); }
  bool DownloadedThisRun() const { return downloaded_.load(); }
  // The Integer that came after the entries of the last download.
  int32_t ListTag() const { return listTag_.load(); }
  const std::string& FilePath() const { return filePath_; }

  void InstallBuiltIn();
  bool Load();
  bool Save() const;
  TServerSlot Slot(int slotNo) const;

  // The slot of a service code (0: none), from the fixed table.
  static int SlotOfService(int serviceCode);
  // The built-in table over the given ten addresses, in file order.
  static std::vector<TServerEntry> BuiltInEntries(const std::array<uint32_t, 10>& addresses);
  // Parses a cache file. ok is false when the length word does not match (the caller then
  // installs the built-in list); a truncated entry list gives an empty table with ok true.
  static bool ParseCache(std::string_view bytes, uint16_t& version, std::vector<TServerEntry>& entries);
  static std::string SerializeCache(uint16_t version, const std::vector<TServerEntry>& entries);

private:
  struct Table {
    uint16_t version = 0;
    uint16_t count = 0;
    std::array<TServerSlot, SlotCount> slots{};
  };
  static Table MakeTable(uint16_t version, const std::vector<TServerEntry>& entries);
  std::vector<TServerEntry> EntriesLocked() const;
  bool DownloadFrom(uint32_t ip, uint16_t port, int32_t userID, int32_t programVersion);
  void Replace(Table t);

  std::string filePath_;
  TDefaults defaults_;
  TLRUDPClient* udp_ = nullptr;
  mutable std::shared_mutex mutex_;  // guards table_: a lookup never sees a half-filled table
  Table table_;
  std::mutex downloadMutex_;  // one download at a time
  std::atomic<bool> busy_{false};
  std::atomic<bool> downloaded_{false};
  std::atomic<int32_t> listTag_{0};
};

}  // namespace ml
