#pragma once
// The service's roles in this process, without sockets: requests go through the role table, the
// answers are recorded instead of sent, slow work (logins, registrations) runs at once on a pool
// of no threads, and time is a manual clock set to a date.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <memory>
#include <vector>

#include "base/Clock.h"
#include "service/ServiceCore.h"
#include "service/ServiceStore.h"
#include "service/WorkPool.h"
#include "tests/service/RecordingSender.h"
#include "tests/support/TestSupport.h"

namespace mlsvctest {

inline constexpr int64_t kStartMs = 1'790'000'000'000;  // a wall-clock time, as sessions store them
inline const uint32_t kClientIP = htonl(0xC0A80105);    // 192.168.1.5
inline constexpr mlsvc::TArgonCost kCheap{8, 1};

class TCoreFixture : public ::testing::Test {
protected:
  mltest::TempDir dir;
  mlsvc::TServiceConfig cfg;
  ml::ManualClock clock;
  TRecorder listSocket{TServer::List}, mainSocket{TServer::Main};
  mlsvc::TServiceLog log{mlsvc::TLogLevel::Error};
  std::unique_ptr<mlsvc::TServiceStore> store;
  std::unique_ptr<mlsvc::TWorkPool> workers;
  std::unique_ptr<mlsvc::TServiceCore> core;
  int32_t serial = 0;

  void SetUp() override {
    cfg.DbPath = dir.File("service.db");
    cfg.AdvertiseIP = htonl(INADDR_LOOPBACK);
    cfg.AdvertisePort = 8800;
    cfg.UnknownUserCost = cfg.NewVerifierCost = kCheap;
    clock.Set(ml::Millis(kStartMs));
    store = std::make_unique<mlsvc::TServiceStore>(cfg.DbPath, true);
  }
  // After the test has set cfg; a queue of 0 makes every slow job find the pool full.
  void Start(size_t queue = 1, int threads = 0) {
    core.reset();
    workers = std::make_unique<mlsvc::TWorkPool>(threads, queue);
    core = std::make_unique<mlsvc::TServiceCore>(cfg, *store, clock, listSocket, mainSocket, *workers, log);
  }
  void Advance(int64_t ms) { clock.Advance(ml::Millis(ms)); }

  // Sends a record to a socket from the given address and port, each request with a serial of
  // its own; returns what the service sent meanwhile, from either socket.
  std::vector<TSent> Ask(TServer server, uint8_t kind, const Bytes& record, uint16_t port = 7000,
                         uint32_t ip = kClientIP) {
    ml::TOpenedEnvelope env;
    env.Kind = kind;
    env.Guid = {1, ++serial};
    env.Payload = record.data();
    env.PayloadLength = record.size();
    core->Dispatch(server, env, ip, port);
    std::vector<TSent> sent = listSocket.Take();
    for (TSent& s : mainSocket.Take()) sent.push_back(std::move(s));
    return sent;
  }
};

// The one answer of sent read with its record's reader; a default record (and a failure) when
// there was not exactly one or the reader refused it.
template <class T>
T OnlyAnswer(const std::vector<TSent>& sent, bool (*read)(const void*, size_t, T&), T none = T()) {
  EXPECT_EQ(sent.size(), 1u);
  T record = none;
  if (sent.size() == 1) {
    EXPECT_TRUE(read(sent[0].Payload.data(), sent[0].Payload.size(), record));
  }
  return record;
}

}  // namespace mlsvctest
