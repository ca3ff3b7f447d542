#pragma once
// The login server: log in (1) and log out (2), and with them the sessions' beginnings and ends.
//
// A login costs an Argon2id check (also for an unknown user, so that timing does not tell which
// names exist), so it runs on the worker pool; the socket's thread only limits the rate (per
// address and port, and per address: logins over the limit are dropped without an answer, since
// answering would let a forged flood use us against its victim) and answers "busy" when the
// pool's queue is full. A repeated login (same address, port, envelope identity and record within
// the repeat window: a lost answer or a duplicated datagram) gets the same answer again rather
// than a second session with another key, which would make the client's keep-alives fail.
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/LoginRecords.h"
#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

class TLoginRole {
public:
  // A client repeats a login for 6 x 5 s at most; a repeat within this window is the same login.
  static constexpr int64_t RepeatWindowMs = 30000;

  explicit TLoginRole(TServiceContext& ctx);
  void Login(const TRequest& r);
  // Only the holder of a session, from where it logged in, may end it.
  void Logout(const TRequest& r);
  // Forgets the answers that have left the repeat window.
  void Tick(int64_t nowMs);

private:
  struct TJob {
    TServer Server;
    uint8_t Kind;
    ml::TLRGUID Guid;
    uint32_t IP;
    uint16_t Port;
    std::vector<uint8_t> Payload;
  };
  struct TAnswered {
    std::vector<uint8_t> Reply;
    int64_t AtMs;
  };

  void Serve(const TJob& job);
  // The answer to a login; empty for a record no client of ours sends.
  std::vector<uint8_t> Answer(const TJob& job);
  // 0 with the account to log in as, or the reason to refuse.
  uint16_t Authenticate(const ml::TLoginRequest& req, int32_t& account, std::string& userName);
  std::vector<uint8_t> Repeated(const std::string& id, int64_t nowMs);
  void Remember(const std::string& id, const std::vector<uint8_t>& reply, int64_t nowMs);
  // After a logout, a login from its address is a new login, not a repeat of the ended one.
  void Forget(uint32_t ip, uint16_t port);
  void DropOld(const std::lock_guard<std::mutex>& answeredLock, int64_t nowMs);

  TServiceContext& ctx_;
  TRateLimiter perEndpoint_, perAddress_;
  const std::string unknownUserVerifier_;
  std::mutex answeredMutex_;
  std::unordered_map<std::string, TAnswered> answered_;  // by address, port, identity and record
};

}  // namespace mlsvc
