#pragma once
// TService: the roles of minilirra-service on two UDP sockets. The list socket (8801) answers the
// server table (9) and receives the answers (15) to our reachability probes; the main socket
// (8800) serves login (1) and logout (2), keep-alive (11) and the network-type check (41). Logins
// cost an Argon2id computation each and run on a small pool; everything else is answered on the
// socket's own thread from memory.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "service/ServiceSecurity.h"
#include "service/ServiceSocket.h"
#include "service/ServiceStore.h"

namespace mlsvc {

struct TServiceConfig {
  std::string DbPath;
  uint32_t Address = 0;          // network order; 0 means 127.0.0.1
  uint16_t ListPort = 8801;
  uint16_t Port = 8800;
  uint32_t AdvertiseIP = 0;      // what the served table names (0: Address)
  uint16_t AdvertisePort = 0;    // 0: the main socket's port
  uint16_t MinVersion = 0;       // older programs get code 149
  int LoginThreads = 2;
  size_t LoginQueue = 64;
  double LoginRate = 1, LoginBurst = 8;        // per address and port
  double LoginIPRate = 20, LoginIPBurst = 60;  // per address
  double ListRate = 20, ListBurst = 40;        // full tables per address
  double ProbeRate = 1, ProbeBurst = 4;        // network-type checks per address
  int KeepAlivePeriods = 3;                    // missed periods before a session ends
  int64_t InternalPeriodMs = 45000, ExternalPeriodMs = 240000;
  int64_t ProbeWaitMs = 1500;
};

// Reads an INI configuration ([service], [limits], [sessions]) into cfg; false when unreadable.
bool LoadServiceConfig(const std::string& path, TServiceConfig& cfg, std::string& error);

struct TServiceCounters {
  std::atomic<uint64_t> Logins{0}, LoginFailures{0}, RateLimited{0}, KeepAlives{0}, ListAnswers{0},
      Logouts{0}, Probes{0};
};

class TService {
public:
  // Opens the store and binds both sockets; throws std::runtime_error with the reason.
  explicit TService(TServiceConfig cfg);
  ~TService();
  void Start();
  void Stop();

  uint16_t Port() const { return main_->Port(); }
  uint16_t ListPort() const { return list_->Port(); }
  TServiceStore& Store() { return *store_; }
  const TServiceCounters& Counters() const { return counters_; }
  size_t SessionCount();

  // Builds the answer to one request as the sockets would (for benchmarks and tests of the
  // records); returns its length, 0 for no answer.
  size_t AnswerListRequest(const uint8_t* payload, size_t length, uint32_t ip, uint8_t* out, size_t cap);
  size_t AnswerKeepAlive(const uint8_t* payload, size_t length, uint32_t ip, uint16_t port, uint8_t* out, size_t cap);

private:
  struct Session {
    int32_t LoginKey = 0;
    uint32_t IP = 0;
    uint16_t Port = 0;
    uint32_t LocalIP = 0;
    uint8_t NetKind = 0;
    bool Account = false;
    int64_t LastSeenMs = 0;
    bool Dirty = false;
  };
  struct LoginJob {
    uint8_t Kind;
    ml::TLRGUID Guid;
    std::vector<uint8_t> Payload;
    uint32_t IP;
    uint16_t Port;
  };
  struct Probe {
    uint32_t IP;
    uint16_t Port;
    int32_t UserID;
    uint8_t Kind;
    ml::TLRGUID Guid;
    int64_t DeadlineMs;
  };

  void onMain(const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port);
  void onList(const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port);
  void loginWorker();
  size_t answerLogin(const LoginJob& job, uint8_t* out, size_t cap);
  size_t answerLogout(const uint8_t* p, size_t n, uint32_t ip, uint16_t port, uint8_t* out, size_t cap);
  void startProbe(const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port);
  void probeAnswered(const uint8_t* p, size_t n, uint32_t ip);
  void finishProbe(const Probe& probe, bool reached);
  void housekeeping();
  // The session of user if key matches and the request came from where it logged in; the
  // caller holds sessionsMutex_.
  Session* boundSession(int32_t user, int32_t key, uint32_t ip, uint16_t port);
  int32_t newAnonymousID();
  int64_t periodOf(uint8_t netKind) const;
  std::string notice();

  TServiceConfig cfg_;
  std::unique_ptr<TServiceStore> store_;
  std::unique_ptr<TServiceSocket> main_, list_;
  TServiceCounters counters_;
  TRateLimiter loginLimit_, loginIPLimit_, listLimit_, probeLimit_;

  std::mutex sessionsMutex_;
  std::unordered_map<int32_t, Session> sessions_;

  std::mutex jobsMutex_;
  std::condition_variable jobsChanged_;
  std::deque<LoginJob> jobs_;
  std::vector<std::thread> loginThreads_;

  // The last answers to logins by request identity: a repeated request (a lost answer, a
  // duplicated datagram) gets the same answer instead of a second session with another key.
  struct Answered {
    std::vector<uint8_t> Reply;
    int64_t AtMs;
  };
  std::mutex answeredMutex_;
  std::unordered_map<std::string, Answered> answered_;

  std::mutex probesMutex_;
  std::unordered_map<uint32_t, Probe> probes_;  // by token

  std::mutex noticeMutex_;
  std::string notice_;  // GBK, as it goes out
  uint16_t listVersion_ = 7;
  std::vector<uint8_t> tableRecord_;  // the entries and trailing Integer, built once
  uint16_t tableEntries_ = 0;

  std::atomic<bool> stopping_{false};
  std::mutex stopMutex_;
  std::condition_variable stopChanged_;
  std::thread housekeeper_;
  bool started_ = false;
};

int64_t WallClockMs();

}  // namespace mlsvc
