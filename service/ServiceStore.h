#pragma once
// The service's storage: one SQLite database in WAL mode holding the accounts (with their
// Argon2id verifiers), the live sessions, the notice and update record and a few settings.
// One connection, serialised by a mutex: the hot path (keep-alive) never reaches it, so the
// simplicity costs nothing.
#include <array>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace mlsvc {

struct TAccount {
  int32_t UserID = 0;
  std::string UserName;  // UTF-8
  std::string Verifier;  // Argon2id encoded form
};

// The password protection a registration sets: the question's number and Argon2id verifiers of
// the identity document number and the answer, never the texts themselves.
struct TProtection {
  uint8_t Question = 0;
  std::string IdentityVerifier, AnswerVerifier;
};

struct TSessionRow {
  int32_t UserID = 0;
  int32_t LoginKey = 0;
  uint32_t IP = 0;  // network order, as the service saw the client
  uint16_t Port = 0;
  uint8_t NetKind = 0;
  bool Account = false;
  int64_t LastSeenMs = 0;  // wall clock
};

struct TUpdateRecord {
  uint8_t Kind = 1;
  uint16_t NewestVersion = 0;
  int32_t FileSize = 0;
  std::array<uint8_t, 16> Digest{};
};

// One server of the served table: slot 1..32, its place in the slot, IPv4 (network order), port.
struct TServerRow {
  int Slot = 0;
  int Position = 0;
  uint32_t IP = 0;
  uint16_t Port = 0;
};

class TServiceStore {
public:
  // Opens the database; a missing one is created (readable by its owner only) when create is
  // set and is an error otherwise, so that a mistyped path does not start an empty service.
  // Throws std::runtime_error with the reason.
  TServiceStore(const std::string& path, bool create);
  ~TServiceStore();
  TServiceStore(const TServiceStore&) = delete;
  TServiceStore& operator=(const TServiceStore&) = delete;

  // Account numbers are drawn at random from this range.
  static constexpr uint32_t AccountLow = 10000, AccountHigh = 99999999;

  // False when the name or the number is taken.
  bool AddAccount(const TAccount& a);
  // A new account under a free random number, with its protection when given; nullopt when the
  // name is taken (names compare without case).
  std::optional<int32_t> CreateAccount(const std::string& name, const std::string& verifier,
                                       const TProtection* protection = nullptr);
  std::optional<TProtection> ProtectionOf(int32_t id);
  std::optional<TAccount> AccountByID(int32_t id);
  std::optional<TAccount> AccountByName(const std::string& name);
  bool AccountExists(int32_t id);
  std::vector<TAccount> Accounts();

  // Writes a session, and deletes those it ends to make room, in one transaction.
  void PutSession(const TSessionRow& s, const std::vector<int32_t>& ended = {});
  void DeleteSessions(const std::vector<int32_t>& userIDs);
  void TouchSessions(const std::vector<std::pair<int32_t, int64_t>>& lastSeen);
  std::vector<TSessionRow> Sessions();

  // An account's playlist as it was uploaded (header and body); nullopt when none was.
  std::optional<std::string> Playlist(int32_t id);
  void PutPlaylist(int32_t id, const std::string& data);

  std::string Setting(const std::string& key, const std::string& fallback = {});
  void SetSetting(const std::string& key, const std::string& value);

  // The slots the administrator has set; a slot without rows is served by this service itself.
  std::vector<TServerRow> Servers();
  // Replaces one slot's servers (none: back to this service) and raises the list version, so
  // clients fetch the new table at their next keep-alive.
  void SetSlotServers(int slot, const std::vector<std::pair<uint32_t, uint16_t>>& servers);

  TUpdateRecord Update();
  void SetUpdate(const TUpdateRecord& u);

private:
  void Exec(const char* sql);
  void DeleteSessionRows(const std::lock_guard<std::mutex>& lock, const std::vector<int32_t>& userIDs);
  // Runs body between begin and COMMIT, or rolls back and rethrows, under the caller's lock.
  void Transaction(const std::lock_guard<std::mutex>& lock, const char* begin, const std::function<void()>& body);
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace mlsvc
