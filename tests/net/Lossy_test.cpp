// Requests and replies through the seeded lossy relay: each request gets as many tries as a
// service caller gives it, and must succeed about as often as the loss rate allows, with every
// reply reaching the waiter that asked for it.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "net/LRUDPClient.h"
#include "tests/net/NetTestTools.h"

using namespace ml;
using namespace mlnettest;

namespace {

struct Outcome {
  int requests = 0, succeeded = 0, misdelivered = 0;
};

Outcome RunThroughRelay(double loss, uint64_t seed) {
  // The time-out is far above a loaded machine's loopback round trip, so only the relay decides.
  constexpr int kThreads = 8, kPerThread = 25, kTries = 3, kTimeoutMs = 150;
  // The answer repeats the request (its nonce) and adds a marker.
  auto server = StartEchoServer(0xEE);

  TLinkFaults faults;
  faults.loss = loss;
  faults.duplicate = 0.05;
  faults.reorder = 0.05;
  faults.delayMinMs = 0;
  faults.delayMaxMs = 4;
  TLossyRelay relay(LoopbackIP(), uint16_t(server->DefaultPort()), faults, faults, seed);

  TLRUDPClient client(nullptr);
  client.SetDefaultPort(FreeUdpPort());
  EXPECT_TRUE(client.SetActive(true));

  std::atomic<int> succeeded{0}, misdelivered{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const uint32_t nonce = uint32_t(t * 100000 + i);
        bool ok = false;
        for (int attempt = 0; attempt < kTries && !ok; ++attempt) {
          uint8_t buf[1500] = {14, 0};
          std::memcpy(buf + 2, &nonce, 4);
          int32_t len = 0;
          // Alternate the two ways of waiting; every try takes a fresh serial, so a late answer
          // to an earlier try must find nobody.
          ok = (i % 2 == 0)
                   ? client.SendWait(LoopbackIP(), relay.Port(), true, kTimeoutMs, 0, len, buf, sizeof buf, 6, buf)
                   : client.SendWaitTable(LoopbackIP(), relay.Port(), kTimeoutMs, 0, len, buf, sizeof buf, 6, buf);
          if (ok) {
            uint32_t echoed;
            std::memcpy(&echoed, buf + 2, 4);
            if (len != 7 || echoed != nonce || buf[6] != 0xEE) misdelivered++;
          }
        }
        if (ok) succeeded++;
      }
    });
  }
  for (auto& c : callers) c.join();
  client.SetActive(false);
  server->SetActive(false);
  return {kThreads * kPerThread, succeeded.load(), misdelivered.load()};
}

}  // namespace

TEST(LossyRelay, RequestsSucceedAsOftenAsTheRetriesAllow) {
  for (double loss : {0.10, 0.20, 0.30}) {
    const Outcome o = RunThroughRelay(loss, 1000 + uint64_t(loss * 100));
    // A try needs both the request and its answer to survive.
    const double perTry = (1 - loss) * (1 - loss);
    const double expected = 1 - std::pow(1 - perTry, 3);
    const double rate = double(o.succeeded) / o.requests;
    const double sd = std::sqrt(expected * (1 - expected) / o.requests);
    EXPECT_EQ(o.misdelivered, 0) << "loss " << loss;
    EXPECT_NEAR(rate, expected, 5 * sd + 0.02) << "loss " << loss << ": " << o.succeeded << "/" << o.requests;
  }
}

TEST(LossyRelay, RelayFaultsFollowTheSeed) {
  // The same seed gives the same decisions: what a failing run saw can be replayed.
  auto run = [](uint64_t seed) {
    TUdpPeer server;
    TLinkFaults faults;
    faults.loss = 0.5;
    TLossyRelay relay(LoopbackIP(), server.Port(), faults, {}, seed);
    TUdpPeer client;
    std::vector<int> arrived;
    for (int i = 0; i < 64; ++i) {
      client.Send(relay.Port(), {uint8_t(i)});
      if (auto d = server.Receive(std::chrono::milliseconds(i % 8 == 7 ? 50 : 0))) arrived.push_back(d->data[0]);
    }
    while (auto d = server.Receive(std::chrono::milliseconds(50))) arrived.push_back(d->data[0]);
    std::sort(arrived.begin(), arrived.end());
    return arrived;
  };
  const auto a = run(7), b = run(7), c = run(8);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_GT(a.size(), 16u);
  EXPECT_LT(a.size(), 48u);
}
