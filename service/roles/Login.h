#pragma once
// The login server: log in (1) and log out (2), and with them the sessions' beginnings and ends.
//
// Everything cheap happens on the socket's thread, before any work is queued: the record is read,
// the rates are limited (per address and port and per address; anonymous logins, which need no
// credentials, also per address and per /24), and a repeat is recognised. Logins over a limit are
// dropped without an answer, since answering would let a forged flood use us against its victim.
// Only then does the login go to the worker pool, whose full queue answers "busy".
//
// On the pool an account's Argon2id check runs. An unknown user costs no check and holds no
// worker: its refusal waits, off the pool, as long as a check takes, so that timing does not tell
// which names exist.
//
// A repeated login (same address, port, envelope identity and record within the repeat window: a
// lost answer or a duplicated datagram) gets the same answer again rather than a second session
// with another key, which would make the client's keep-alives fail. The first arrival claims the
// login before it is queued, so a copy that arrives while it is still running is dropped, not
// run a second time.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
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
  // Logins remembered for repeats (answered or running) at most; beyond, the oldest answered one
  // is forgotten, and while all are running new logins are dropped.
  static constexpr size_t MaxAnswered = 4096;

  explicit TLoginRole(TServiceContext& ctx);
  void Login(const TRequest& r);
  // Only the holder of a session, from where it logged in, may end it.
  void Logout(const TRequest& r);
  // Forgets the answers that have left the repeat window and sends the refusals that are due.
  void Tick(int64_t nowMs);
  // When the next held refusal is due (INT64_MAX: none is held).
  int64_t NextDueMs();
  // How long an account's password check takes, as the refusals of unknown users wait.
  int64_t CheckMs() const { return checkMs_.load(); }

private:
  struct TJob {
    TRequest Request;  // without its payload, which Record holds
    std::string Id;    // address, port, identity and record: what a repeat has in common
    std::vector<uint8_t> Record;
    ml::TLoginRequest Login;
    // The request with its payload, for the answer and the log.
    TRequest Whole() const {
      TRequest r = Request;
      r.Payload = Record.data();
      r.Length = Record.size();
      return r;
    }
  };
  struct TAnswered {
    std::vector<uint8_t> Reply;  // empty while running
    int64_t AtMs;
  };
  struct THeld {
    TJob Job;
    std::vector<uint8_t> Reply;
  };
  enum class TClaim { New, Running, Answered, Full };

  // Over one of the limits for its source.
  bool Limited(const TRequest& r, const ml::TLoginRequest& req, int64_t nowMs);
  void Serve(const TJob& job);
  // The answer to a login; unknownUser tells that it must be held back.
  std::vector<uint8_t> Answer(const TJob& job, bool& unknownUser);
  // 0 with the account to log in as, or the reason to refuse.
  uint16_t Authenticate(const ml::TLoginRequest& req, int32_t& account, std::string& userName, bool& unknownUser);
  void SendAnswer(const TJob& job, const std::vector<uint8_t>& reply);

  // The repeat table: a login is claimed before it is queued, and settled with its answer (an
  // empty one forgets it).
  TClaim Claim(const std::string& id, int64_t nowMs, std::vector<uint8_t>& earlier);
  void Settle(const std::string& id, const std::vector<uint8_t>& reply);
  // After a logout, a login from its address is a new login, not a repeat of the ended one.
  void Forget(uint32_t ip, uint16_t port);
  // Forgets, from the oldest claim on, the answers that have left the repeat window; with
  // makeRoom, the oldest answer only, in the window or not. Running logins stay. False when room
  // was asked for and every login is running.
  bool DropOld(const std::lock_guard<std::mutex>& answeredLock, int64_t nowMs, bool makeRoom);

  TServiceContext& ctx_;
  TRateLimiter perEndpoint_, perAddress_, anonymousPerAddress_, anonymousPerNet_;
  std::atomic<int64_t> checkMs_;
  std::mutex answeredMutex_;
  std::unordered_map<std::string, TAnswered> answered_;
  std::deque<std::pair<std::string, int64_t>> order_;  // the claims in the order they came, with their times
  std::mutex heldMutex_;
  std::multimap<int64_t, THeld> held_;  // by the time they are due
};

}  // namespace mlsvc
