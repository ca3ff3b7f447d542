#pragma once
// The server-list server (9, on the list socket): the table of servers the clients use. It is
// built once at start from the slots the administrator set, with this service named for every
// other slot that has service codes, and so are both answers: the whole table, and the short
// "your table is current".
#include <cstdint>
#include <vector>

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
  std::vector<uint8_t> current_, whole_;
};

}  // namespace mlsvc
