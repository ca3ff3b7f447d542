#pragma once
// A prepared SQLite statement that finalises itself, shared by the service's stores. Every value
// is bound, never spliced into SQL. Step and Exec throw std::runtime_error with SQLite's reason.
#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mlsvc {

class Stmt {
public:
  Stmt(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db));
  }
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  Stmt& Bind(int i, int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  Stmt& Bind(int i, std::string_view v) {
    sqlite3_bind_text(st_, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& BindBlob(int i, const void* p, int n) {
    sqlite3_bind_blob(st_, i, p, n, SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& BindNull(int i) {
    sqlite3_bind_null(st_, i);
    return *this;
  }
  bool Step() {
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(sqlite3_db_handle(st_)));
  }
  // For inserts that may hit a uniqueness rule.
  int Run() { return sqlite3_step(st_); }
  // Makes a kept statement ready for its next use.
  void Reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  int64_t I64(int c) { return sqlite3_column_int64(st_, c); }
  bool IsNull(int c) { return sqlite3_column_type(st_, c) == SQLITE_NULL; }
  std::string Text(int c) {
    const auto* p = sqlite3_column_text(st_, c);
    return p ? std::string(reinterpret_cast<const char*>(p), size_t(sqlite3_column_bytes(st_, c))) : "";
  }
  std::string Blob(int c) {
    const void* p = sqlite3_column_blob(st_, c);
    return p ? std::string(static_cast<const char*>(p), size_t(sqlite3_column_bytes(st_, c))) : "";
  }

private:
  sqlite3_stmt* st_ = nullptr;
};

// Runs SQL without results.
inline void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string text = err ? err : "unknown error";
    sqlite3_free(err);
    throw std::runtime_error("SQLite: " + text);
  }
}

}  // namespace mlsvc
