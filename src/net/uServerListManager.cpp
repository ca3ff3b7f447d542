#include "net/uServerListManager.h"

#include "base/ByteOrder.h"

#include <arpa/inet.h>
#include <netdb.h>

#include "net/LRCmdStream.h"
#include "net/ServerListRecords.h"
#include "net/LRUDPClient.h"
#include "base/DebugTrace.h"
#include "base/FileUtil.h"

namespace ml {

namespace {

// Slot of each service code 1..80 (index = code); 0 means no server.
constexpr uint8_t kServiceSlot[81] = {
    0,
    2, 2, 8, 1, 7, 9, 10, 12, 12, 29,    // 1..10
    11, 5, 29, 4, 12, 1, 3, 13, 14, 4,   // 11..20
    1, 4, 1, 1, 1, 1, 16, 1, 20, 20,     // 21..30
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1,        // 31..40
    15, 13, 17, 18, 18, 18, 18, 19, 1, 1,  // 41..50
    1, 1, 1, 1, 1, 21, 21, 21, 21, 21,   // 51..60
    1, 1, 27, 27, 1, 1, 1, 1, 1, 22,     // 61..70
    23, 24, 25, 1, 26, 26, 26, 26, 1, 1  // 71..80
};


uint32_t ResolveIPv4(const std::string& host) {
  if (host.empty()) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return 0;
  uint32_t ip = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  return ip;
}

}  // namespace

int TServerListManager::SlotOfService(int serviceCode) {
  if (serviceCode < 1 || serviceCode > MaxServiceCode) return 0;
  return kServiceSlot[serviceCode];
}

std::vector<TServerEntry> TServerListManager::BuiltInEntries(const std::array<uint32_t, 10>& a) {
  std::vector<TServerEntry> e;
  auto add = [&](uint16_t slot, int addr, uint16_t port) { e.push_back({slot, a[addr - 1], port}); };
  for (uint16_t slot = 1; slot <= 25; ++slot) {
    switch (slot) {
      case 1: add(1, 1, 8800); break;
      case 2: case 3: case 7: case 8: case 9: case 10: case 11: case 13: case 14: case 15: case 16:
        add(slot, 1, 8800);
        add(slot, 2, 8800);
        break;
      case 4: add(4, 3, 8005); break;
      case 5: add(5, 4, 9000); break;
      case 6: add(6, 5, 8900); break;
      case 12: add(12, 3, 8820); break;
      case 17: add(17, 5, 8600); break;
      case 18:
        add(18, 6, 6610); add(18, 6, 6611); add(18, 7, 6612);
        add(18, 7, 6613); add(18, 8, 6614); add(18, 8, 6615);
        break;
      case 19: add(19, 2, 8802); break;
      case 20: add(20, 4, 7770); break;
      case 21: add(21, 9, 8810); break;
      case 22: add(22, 10, 9860); break;
      case 23: add(23, 10, 9861); break;
      case 24: add(24, 10, 9861); break;
      case 25: add(25, 10, 9862); break;
    }
  }
  return e;
}

TServerListManager::Table TServerListManager::MakeTable(uint16_t version,
                                                        const std::vector<TServerEntry>& entries) {
  // The count is the number of entries the table holds, so a later save agrees with it.
  Table t;
  t.version = version;
  for (int i = 0; i < SlotCount; ++i) t.slots[i].SlotNo = uint16_t(i + 1);
  for (const TServerEntry& e : entries) {
    // Entries for slots we do not have, or beyond a slot's ten servers, are skipped whole.
    if (e.Slot == 0 || e.Slot > SlotCount) continue;
    TServerSlot& s = t.slots[e.Slot - 1];
    if (s.Count >= MaxServers) continue;
    s.Address[s.Count] = e.Address;
    s.Port[s.Count] = e.Port;
    ++s.Count;
    ++t.count;
  }
  return t;
}

bool TServerListManager::ParseCache(std::string_view bytes, uint16_t& version,
                                    std::vector<TServerEntry>& entries) {
  entries.clear();
  version = 0;
  if (bytes.empty()) return true;  // an empty file leaves the table empty
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() < 2 || LoadLE16(p) != bytes.size()) return false;
  if (bytes.size() < 6) return true;
  version = LoadLE16(p + 2);
  const size_t n = LoadLE16(p + 4);
  if (bytes.size() < 6 + 8 * n) {
    version = 0;
    return true;  // truncated: an empty table until the next download
  }
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* e = p + 6 + 8 * i;
    entries.push_back({LoadLE16(e), LoadLE32(e + 2), LoadLE16(e + 6)});
  }
  return true;
}

std::string TServerListManager::SerializeCache(uint16_t version, const std::vector<TServerEntry>& entries) {
  std::string s;
  AppendLE16(s, 0);
  AppendLE16(s, version);
  AppendLE16(s, uint16_t(entries.size()));
  for (const TServerEntry& e : entries) {
    AppendLE16(s, e.Slot);
    AppendLE32(s, e.Address);
    AppendLE16(s, e.Port);
  }
  const auto len = uint16_t(s.size());
  s[0] = char(len & 0xFF);
  s[1] = char(len >> 8);
  return s;
}

TServerListManager::TServerListManager(std::string filePath, TDefaults defaults)
    : filePath_(std::move(filePath)), defaults_(std::move(defaults)) {
  bool anySet = false;
  for (uint32_t a : defaults_.Addresses) anySet = anySet || a != 0;
  if (!anySet) defaults_.Addresses.fill(htonl(INADDR_LOOPBACK));
  if (!defaults_.ListServerIP) defaults_.ListServerIP = defaults_.Addresses[0];
  try {
    if (!FileExists(filePath_) || !Load()) InstallBuiltIn();
  } catch (...) {
    // A cache we cannot read is no reason to stop the program.
  }
}

TServerListManager::~TServerListManager() {
  try {
    Save();
  } catch (...) {
  }
}

bool TServerListManager::Load() {
  auto bytes = ReadFileBytes(filePath_, 1 << 20);
  if (!bytes) return false;
  uint16_t version = 0;
  std::vector<TServerEntry> entries;
  if (!ParseCache(*bytes, version, entries)) return false;
  Replace(MakeTable(version, entries));
  return true;
}

std::vector<TServerEntry> TServerListManager::EntriesLocked() const {
  std::vector<TServerEntry> out;
  for (const TServerSlot& s : table_.slots)
    for (int i = 0; i < s.Count; ++i) out.push_back({s.SlotNo, s.Address[i], s.Port[i]});
  return out;
}

bool TServerListManager::Save() const {
  std::string bytes;
  {
    std::shared_lock lock(mutex_);
    bytes = SerializeCache(table_.version, EntriesLocked());
  }
  return WriteFileAtomic(filePath_, bytes);
}

void TServerListManager::InstallBuiltIn() {
  Replace(MakeTable(BuiltInVersion, BuiltInEntries(defaults_.Addresses)));
  Save();
}

void TServerListManager::Replace(Table t) {
  std::unique_lock lock(mutex_);
  table_ = t;
}

TServerSlot TServerListManager::Slot(int slotNo) const {
  std::shared_lock lock(mutex_);
  if (slotNo < 1 || slotNo > SlotCount) return {};
  return table_.slots[slotNo - 1];
}

bool TServerListManager::IsNewerVersion(uint16_t announced, uint16_t ours) {
  if (announced == 0) return false;
  if (ours == 0) return true;
  // The count skips 0, so the circle has 65535 places.
  const int distance = (int(announced) - int(ours) + 65535) % 65535;
  return distance != 0 && distance < 65535 / 2 + 1;
}

uint16_t TServerListManager::Version() const {
  std::shared_lock lock(mutex_);
  return table_.version;
}

uint16_t TServerListManager::EntryCount() const {
  std::shared_lock lock(mutex_);
  return table_.count;
}

bool TServerListManager::ServerFor(int32_t userID, int serviceCode, uint16_t& port, uint32_t& address) const {
  const int slot = SlotOfService(serviceCode);
  if (slot < 1 || slot > SlotCount) return false;
  std::shared_lock lock(mutex_);
  const TServerSlot& s = table_.slots[slot - 1];
  if (s.Count == 0) return false;
  const int32_t k = userID % int32_t(s.Count);
  if (k < 0) return false;
  address = s.Address[k];
  port = s.Port[k];
  return true;
}

int TServerListManager::ServerCount(int serviceCode) const {
  if (serviceCode < 1 || serviceCode > 50) return 0;
  const int slot = SlotOfService(serviceCode);
  if (slot < 1) return 0;
  std::shared_lock lock(mutex_);
  return table_.slots[slot - 1].Count;
}

bool TServerListManager::DownloadFrom(uint32_t ip, uint16_t port, int32_t userID, int32_t programVersion) {
  TLRUDPClient* udp = udp_;
  if (!udp || !udp->Active()) return false;
  uint8_t request[TServerListRequest::FixedSize];
  TCmdStream s;
  s.InitWrite(request, sizeof request);
  WriteServerListRequest(s, {userID, programVersion, Version()});
  uint8_t buf[1500];
  const int32_t serial = udp->NextSerial(true);
  for (int attempt = 0; attempt < 3; ++attempt) {
    int32_t replyLength = 0;
    if (!udp->SendWait(ip, port, attempt == 0, defaults_.TimeoutMs, serial, replyLength, buf,
                       sizeof buf, s.Size(), request))
      continue;
    TServerListReply reply;
    if (!ReadServerListReply(buf, size_t(replyLength), reply)) continue;
    if (reply.Entries.empty()) {
      // The server says our table is current: that is a successful refresh.
      downloaded_ = true;
      return true;
    }
    listTag_ = reply.Tag;
    Replace(MakeTable(reply.Version, reply.Entries));
    Save();
    downloaded_ = true;
    return true;
  }
  return false;
}

bool TServerListManager::Download(int32_t userID, int32_t programVersion, bool force) {
  if (downloaded_ && !force) return true;
  std::lock_guard one(downloadMutex_);
  busy_ = true;
  bool ok = false;
  try {
    ok = DownloadFrom(defaults_.ListServerIP, defaults_.ListServerPort, userID, programVersion);
    if (!ok) {
      const uint32_t ip = ResolveIPv4(defaults_.LoginHost);
      if (ip && ip != defaults_.ListServerIP)
        ok = DownloadFrom(ip, defaults_.ListServerPort, userID, programVersion);
    }
  } catch (...) {
    ok = false;
  }
  DebugTrace("ServerList download result: %d", ok ? 1 : 0);
  busy_ = false;
  return ok;
}

}  // namespace ml
