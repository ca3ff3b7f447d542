#pragma once
// The server-list server (9, on the list socket): the table of servers the clients use. It is
// built once at start from the slots the administrator set, with this service named for every
// other slot that has service codes, and so are both answers: the whole table, and the short
// "your table is current". A service bound to every interface with no advertised address names
// itself by the address each request came to, so that table is filled in per request.
#include <cstdint>
#include <vector>

#include "net/ServerListRecords.h"
#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

class TServerListRole {
public:
  explicit TServerListRole(TServiceContext& ctx);
  void Answer(const TRequest& r);

private:
  TServiceContext& ctx_;
  // A whole table is many times the request: how often one address gets it is limited, so the
  // service cannot be used to amplify a forged flood.
  TRateLimiter wholeTables_;
  std::vector<ml::TServerEntry> entries_;  // this service's own entries with address 0 when unknown
  std::vector<uint8_t> current_, whole_;   // whole_: empty when it depends on the request
};

}  // namespace mlsvc
