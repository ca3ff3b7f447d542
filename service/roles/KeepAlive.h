#pragma once
// The keep-alive server (11): a report from the holder of a session, from where it logged in,
// keeps the session alive and is answered with the server's time, the list version (a newer one
// makes the client fetch the table) and the notice. Anything else gets no answer. Answered on the
// socket's thread from memory: the last-seen time reaches the database later, in a batch.
#include "service/ServiceContext.h"

namespace mlsvc {

class TKeepAliveRole {
public:
  explicit TKeepAliveRole(TServiceContext& ctx) : ctx_(ctx) {}
  void Answer(const TRequest& r);

private:
  TServiceContext& ctx_;
};

}  // namespace mlsvc
