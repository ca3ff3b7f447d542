#include "service/ServiceStore.h"

#include "net/IPv4Text.h"
#include "service/Catalogue.h"
#include "service/ServiceSecurity.h"
#include "service/SqliteStatement.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace mlsvc {

namespace {

TAccount AccountFrom(Stmt& s) { return {int32_t(s.I64(0)), s.Text(1), s.Text(2)}; }

}  // namespace

TServiceStore::TServiceStore(const std::string& path, bool create) {
  // The database holds password verifiers and where every client is: only its owner may read
  // it. SQLite gives its journal files the database file's mode, so creating the file ourselves
  // with 0600 covers them too.
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT && !create)
      throw std::runtime_error("no database at " + path + " (create one with --create or \"admin --db PATH init\")");
    throw std::runtime_error("cannot open database " + path + ": " + std::strerror(err));
  }
  ::close(fd);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    std::string err = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("cannot open database " + path + ": " + err);
  }
  sqlite3_busy_timeout(db_, 5000);
  try {
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec("PRAGMA foreign_keys=ON");
    Exec("CREATE TABLE IF NOT EXISTS accounts ("
         " user_id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
         " verifier TEXT NOT NULL, created INTEGER NOT NULL DEFAULT (strftime('%s','now')))");
    Exec("CREATE TABLE IF NOT EXISTS sessions ("
         " user_id INTEGER PRIMARY KEY, login_key INTEGER NOT NULL, ip INTEGER NOT NULL,"
         " port INTEGER NOT NULL, net_kind INTEGER NOT NULL, account INTEGER NOT NULL,"
         " last_seen INTEGER NOT NULL)");
    Exec("CREATE TABLE IF NOT EXISTS servers ("
         " slot INTEGER NOT NULL CHECK (slot BETWEEN 1 AND 32), position INTEGER NOT NULL,"
         " address TEXT NOT NULL, port INTEGER NOT NULL CHECK (port BETWEEN 1 AND 65535),"
         " PRIMARY KEY (slot, position))");
    Exec("CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value TEXT NOT NULL)");
    Exec("CREATE TABLE IF NOT EXISTS update_record ("
         " id INTEGER PRIMARY KEY CHECK (id = 1), kind INTEGER NOT NULL, newest_version INTEGER NOT NULL,"
         " file_size INTEGER NOT NULL, digest BLOB NOT NULL)");
    Exec("CREATE TABLE IF NOT EXISTS account_protection ("
         " user_id INTEGER PRIMARY KEY REFERENCES accounts (user_id) ON DELETE CASCADE,"
         " question INTEGER NOT NULL, identity_verifier TEXT NOT NULL, answer_verifier TEXT NOT NULL)");
    Exec("CREATE TABLE IF NOT EXISTS playlists ("
         " user_id INTEGER PRIMARY KEY REFERENCES accounts (user_id) ON DELETE CASCADE,"
         " data BLOB NOT NULL, updated INTEGER NOT NULL DEFAULT (strftime('%s','now')))");
    // The song catalogue; a database of the first phase gains its tables here.
    CreateCatalogueSchema(db_);
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

TServiceStore::~TServiceStore() {
  if (db_) sqlite3_close(db_);
}

void TServiceStore::Exec(const char* sql) { mlsvc::Exec(db_, sql); }

bool TServiceStore::AddAccount(const TAccount& a) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "INSERT INTO accounts (user_id, name, verifier) VALUES (?, ?, ?)");
  s.Bind(1, a.UserID).Bind(2, a.UserName).Bind(3, a.Verifier);
  const int rc = s.Run();
  if (rc == SQLITE_DONE) return true;
  if ((rc & 0xFF) == SQLITE_CONSTRAINT) return false;
  throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db_));
}

std::optional<int32_t> TServiceStore::CreateAccount(const std::string& name, const std::string& verifier,
                                                   const TProtection* protection) {
  std::lock_guard lock(mutex_);
  std::optional<int32_t> created;
  Transaction(lock, "BEGIN IMMEDIATE", [&] {
    Stmt taken(db_, "SELECT 1 FROM accounts WHERE name = ?");
    taken.Bind(1, name);
    if (taken.Step()) return;
    Stmt add(db_, "INSERT OR IGNORE INTO accounts (user_id, name, verifier) VALUES (?, ?, ?)");
    for (int tries = 0; tries < 100 && !created; ++tries) {
      const auto id = int32_t(SecureRandomRange(AccountLow, AccountHigh));
      add.Bind(1, id).Bind(2, name).Bind(3, verifier);
      if (add.Run() == SQLITE_DONE && sqlite3_changes(db_) == 1) created = id;
      add.Reset();
    }
    if (!created) throw std::runtime_error("no free account number");
    if (!protection) return;
    Stmt p(db_, "INSERT INTO account_protection (user_id, question, identity_verifier, answer_verifier)"
                " VALUES (?, ?, ?, ?)");
    p.Bind(1, *created).Bind(2, int64_t(protection->Question)).Bind(3, protection->IdentityVerifier)
        .Bind(4, protection->AnswerVerifier);
    p.Run();
  });
  return created;
}

std::optional<TProtection> TServiceStore::ProtectionOf(int32_t id) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT question, identity_verifier, answer_verifier FROM account_protection WHERE user_id = ?");
  s.Bind(1, id);
  if (!s.Step()) return std::nullopt;
  return TProtection{uint8_t(s.I64(0)), s.Text(1), s.Text(2)};
}

std::optional<std::string> TServiceStore::Playlist(int32_t id) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT data FROM playlists WHERE user_id = ?");
  s.Bind(1, id);
  if (!s.Step()) return std::nullopt;
  return s.Blob(0);
}

void TServiceStore::PutPlaylist(int32_t id, const std::string& data) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "INSERT INTO playlists (user_id, data) VALUES (?1, ?2)"
              " ON CONFLICT (user_id) DO UPDATE SET data = ?2, updated = strftime('%s','now')");
  s.Bind(1, id).BindBlob(2, data.data(), int(data.size()));
  if (s.Run() != SQLITE_DONE) throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db_));
}

std::optional<TAccount> TServiceStore::AccountByID(int32_t id) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT user_id, name, verifier FROM accounts WHERE user_id = ?");
  s.Bind(1, id);
  if (!s.Step()) return std::nullopt;
  return AccountFrom(s);
}

std::optional<TAccount> TServiceStore::AccountByName(const std::string& name) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT user_id, name, verifier FROM accounts WHERE name = ?");
  s.Bind(1, name);
  if (!s.Step()) return std::nullopt;
  return AccountFrom(s);
}

bool TServiceStore::AccountExists(int32_t id) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT 1 FROM accounts WHERE user_id = ?");
  s.Bind(1, id);
  return s.Step();
}

std::vector<TAccount> TServiceStore::Accounts() {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT user_id, name, verifier FROM accounts ORDER BY user_id");
  std::vector<TAccount> out;
  while (s.Step()) out.push_back(AccountFrom(s));
  return out;
}

void TServiceStore::PutSession(const TSessionRow& r, const std::vector<int32_t>& ended) {
  std::lock_guard lock(mutex_);
  Transaction(lock, "BEGIN", [&] {
    DeleteSessionRows(lock, ended);
    Stmt s(db_, "INSERT OR REPLACE INTO sessions (user_id, login_key, ip, port, net_kind, account, last_seen)"
                " VALUES (?, ?, ?, ?, ?, ?, ?)");
    s.Bind(1, r.UserID).Bind(2, r.LoginKey).Bind(3, int64_t(r.IP)).Bind(4, r.Port).Bind(5, r.NetKind)
        .Bind(6, r.Account ? 1 : 0).Bind(7, r.LastSeenMs);
    s.Step();
  });
}

void TServiceStore::DeleteSessionRows(const std::lock_guard<std::mutex>&, const std::vector<int32_t>& userIDs) {
  if (userIDs.empty()) return;
  Stmt s(db_, "DELETE FROM sessions WHERE user_id = ?");
  for (int32_t id : userIDs) {
    s.Bind(1, id);
    s.Step();
    s.Reset();
  }
}

void TServiceStore::Transaction(const std::lock_guard<std::mutex>&, const char* begin,
                                const std::function<void()>& body) {
  Exec(begin);
  try {
    body();
    Exec("COMMIT");
  } catch (...) {
    Exec("ROLLBACK");
    throw;
  }
}

void TServiceStore::DeleteSessions(const std::vector<int32_t>& userIDs) {
  if (userIDs.empty()) return;
  std::lock_guard lock(mutex_);
  Transaction(lock, "BEGIN", [&] { DeleteSessionRows(lock, userIDs); });
}

void TServiceStore::TouchSessions(const std::vector<std::pair<int32_t, int64_t>>& lastSeen) {
  if (lastSeen.empty()) return;
  std::lock_guard lock(mutex_);
  Transaction(lock, "BEGIN", [&] {
    Stmt s(db_, "UPDATE sessions SET last_seen = ? WHERE user_id = ?");
    for (const auto& [id, ms] : lastSeen) {
      s.Bind(1, ms).Bind(2, id);
      s.Step();
      s.Reset();
    }
  });
}

std::vector<TSessionRow> TServiceStore::Sessions() {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT user_id, login_key, ip, port, net_kind, account, last_seen FROM sessions");
  std::vector<TSessionRow> out;
  while (s.Step()) {
    TSessionRow r;
    r.UserID = int32_t(s.I64(0));
    r.LoginKey = int32_t(s.I64(1));
    r.IP = uint32_t(s.I64(2));
    r.Port = uint16_t(s.I64(3));
    r.NetKind = uint8_t(s.I64(4));
    r.Account = s.I64(5) != 0;
    r.LastSeenMs = s.I64(6);
    out.push_back(r);
  }
  return out;
}

std::string TServiceStore::Setting(const std::string& key, const std::string& fallback) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT value FROM settings WHERE key = ?");
  s.Bind(1, key);
  return s.Step() ? s.Text(0) : fallback;
}

void TServiceStore::SetSetting(const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "INSERT OR REPLACE INTO settings (key, value) VALUES (?, ?)");
  s.Bind(1, key).Bind(2, value);
  s.Step();
}

std::vector<TServerRow> TServiceStore::Servers() {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT slot, position, address, port FROM servers ORDER BY slot, position");
  std::vector<TServerRow> out;
  while (s.Step()) {
    TServerRow r;
    r.Slot = int(s.I64(0));
    r.Position = int(s.I64(1));
    if (!ml::ParseIPv4(s.Text(2), r.IP)) continue;  // hand-edited nonsense
    r.Port = uint16_t(s.I64(3));
    out.push_back(r);
  }
  return out;
}

void TServiceStore::SetSlotServers(int slot, const std::vector<std::pair<uint32_t, uint16_t>>& servers) {
  std::lock_guard lock(mutex_);
  Transaction(lock, "BEGIN IMMEDIATE", [&] {
    Stmt del(db_, "DELETE FROM servers WHERE slot = ?");
    del.Bind(1, slot);
    del.Step();
    Stmt ins(db_, "INSERT INTO servers (slot, position, address, port) VALUES (?, ?, ?, ?)");
    int position = 0;
    for (const auto& [ip, port] : servers) {
      ins.Bind(1, slot).Bind(2, ++position).Bind(3, ml::IPv4Text(ip)).Bind(4, port);
      ins.Step();
      ins.Reset();
    }
    // The version wraps past 65535 to 1: 0 is what a client without a table sends.
    Exec("INSERT INTO settings (key, value) VALUES ('list_version', '8') ON CONFLICT(key) DO UPDATE SET"
         " value = CAST((CAST(value AS INTEGER) % 65535) + 1 AS TEXT)");
  });
}

TUpdateRecord TServiceStore::Update() {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "SELECT kind, newest_version, file_size, digest FROM update_record WHERE id = 1");
  TUpdateRecord u;
  if (!s.Step()) return u;
  u.Kind = uint8_t(s.I64(0));
  u.NewestVersion = uint16_t(s.I64(1));
  u.FileSize = int32_t(s.I64(2));
  const std::string d = s.Blob(3);
  if (d.size() == 16) std::memcpy(u.Digest.data(), d.data(), 16);
  return u;
}

void TServiceStore::SetUpdate(const TUpdateRecord& u) {
  std::lock_guard lock(mutex_);
  Stmt s(db_, "INSERT OR REPLACE INTO update_record (id, kind, newest_version, file_size, digest)"
              " VALUES (1, ?, ?, ?, ?)");
  s.Bind(1, u.Kind).Bind(2, u.NewestVersion).Bind(3, u.FileSize).BindBlob(4, u.Digest.data(), 16);
  s.Step();
}

}  // namespace mlsvc
