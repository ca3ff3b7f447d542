#pragma once
// The service's roles and the one constant table that routes an opened request to them: a row
// per server and command code, with the shortest record the role reads and the envelope kinds
// it takes. The table checks both before any role runs, so a role never sees a record shorter
// than its fixed part; an unknown code, another kind or a short record gets no answer.
//
// Adding a role: its file under service/roles/, its family's type in TRoles (RoleTable.cpp), and
// its row.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "service/ServiceContext.h"

namespace mlsvc {

// Envelope kinds a role takes, as bits.
namespace Kinds {
constexpr uint8_t Keyed = 1;
constexpr uint8_t Table = 2;
constexpr uint8_t Plain = 4;
constexpr uint8_t Trailer = 8;
constexpr uint8_t Bare = 16;
}  // namespace Kinds
uint8_t KindBit(uint8_t envelopeKind);

struct TRoles;

struct TRole {
  TServer Server;
  uint16_t Code;
  size_t MinLength;
  uint8_t Kinds;
  void (*Handler)(TRoles& roles, const TRequest& r);
};

// The rows, sorted by server and code.
std::span<const TRole> AllRoles();
// The row of a command code at a server, or null.
const TRole* FindRole(TServer server, uint16_t code);

class TRoleTable {
public:
  explicit TRoleTable(TServiceContext& ctx);
  ~TRoleTable();
  TRoleTable(const TRoleTable&) = delete;
  TRoleTable& operator=(const TRoleTable&) = delete;

  // Hands the request to its role; false when no row takes it.
  bool Dispatch(const TRequest& r);
  // The roles' work that waits for time to pass (deadlines, forgetting); the service calls it
  // about every 50 ms, or sooner when a role has work due. Returns when the next is due
  // (INT64_MAX: nothing waits).
  int64_t Tick(int64_t nowMs);

private:
  std::unique_ptr<TRoles> roles_;
};

}  // namespace mlsvc
