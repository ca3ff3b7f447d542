#pragma once
// TService: minilirra-service running. Two UDP sockets, each with its own thread: the list socket
// (8801) and the main socket (8800), whose requests the role table hands to the roles (see
// RoleTable.cpp for which serves what). Logins cost an Argon2id computation each and run on a
// small worker pool; everything else is answered on the socket's own thread from memory. A
// housekeeping thread finishes what waits for time to pass. The log goes to standard error.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "service/ServiceClock.h"
#include "service/ServiceConfig.h"
#include "service/ServiceCore.h"
#include "service/ServiceSocket.h"
#include "service/ServiceStore.h"
#include "service/WorkPool.h"

namespace mlsvc {

class TService {
public:
  // Opens the store (creating it only when cfg says so) and binds both sockets; throws
  // std::runtime_error with the reason. The clock gives wall-clock milliseconds (a test may pass
  // a manual one).
  explicit TService(TServiceConfig cfg, const ml::TClock& clock = TWallClock::Instance());
  ~TService();
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;
  void Start();
  // Stops the sockets, the workers and the housekeeping, and writes the sessions' last-seen times.
  void Stop();

  uint16_t Port() const { return main_->Port(); }
  uint16_t ListPort() const { return list_->Port(); }
  TServiceStore& Store() { return *store_; }
  const TServiceCounters& Counters() const { return core_->Counters(); }
  TServiceLog& Log() { return log_; }
  size_t SessionCount() { return core_->Sessions().Count(); }

private:
  void Housekeeping();

  TServiceConfig cfg_;
  TServiceLog log_;
  std::unique_ptr<TServiceStore> store_;
  std::unique_ptr<TServiceSocket> list_, main_;
  std::unique_ptr<TWorkPool> logins_;
  std::unique_ptr<TServiceCore> core_;

  std::mutex stopMutex_;
  std::condition_variable stopChanged_;
  bool stopping_ = false;
  std::thread housekeeper_;
  bool started_ = false;
};

}  // namespace mlsvc
