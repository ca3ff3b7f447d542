// Random and mutated datagrams thrown at a listening client: none may crash it and none may be
// delivered, to a waiter, the read event or the transfer event. Every generated datagram is
// first checked with the opener itself, and the rare one that would open (random bytes that
// happen to form a valid bare envelope, a mutation that keeps a checksum) is replaced, so the test
// asks exactly "does the client let through anything the opener rejects".
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <random>

#include "net/LRUDPClient.h"
#include "tests/net/NetTestTools.h"

using namespace ml;
using namespace mlnettest;
using namespace std::chrono_literals;

namespace {

// About 16 s under AddressSanitizer on a busy two-core machine, a few seconds in a release build.
constexpr long kDefaultCount = 1000000;

long FloodCount() {
  const char* v = std::getenv("ML_NET_FLOOD_COUNT");
  return v ? std::atol(v) : kDefaultCount;
}

bool WouldOpen(const Bytes& d) {
  if (d.empty()) return false;
  if (d[0] == Envelope::LoadProbe) return true;  // answered, not delivered: keep them out
  Bytes copy = d;
  TOpenedEnvelope env;
  return OpenEnvelope(copy.data(), copy.size(), env);
}

}  // namespace

TEST(Flood, RandomAndMutatedDatagramsAreNeverDelivered) {
  const long total = FloodCount();
  TLRUDPClient client(nullptr);
  client.SetDefaultPort(FreeUdpPort());
  std::atomic<long> delivered{0};
  client.OnUDPClientRead = [&](TUDPWorkThread&, const uint8_t*, int32_t, uint32_t, uint16_t, TLRGUID&,
                               uint8_t*, int32_t&) { delivered++; };
  client.OnTransferData = [&](TLRUDPClient&, std::span<const TLRUDPClient::TTransferDatagram> batch) {
    delivered += long(batch.size());
  };
  ASSERT_TRUE(client.SetActive(true));
  const uint16_t port = uint16_t(client.DefaultPort());
  const int32_t me = client.UserID();

  // Waiters armed all through the flood, one per way of waiting, on the flooding peer itself so
  // that a forged reply has the right address.
  TUdpPeer peer;
  uint8_t keyedBuf[64] = {9, 0}, tableBuf[64] = {9, 0};
  int32_t keyedLen = 0, tableLen = 0;
  auto keyedWait = std::async(std::launch::async, [&] {
    return client.SendWait(LoopbackIP(), peer.Port(), true, 600000, 5, keyedLen, keyedBuf, sizeof keyedBuf, 2, keyedBuf);
  });
  auto tableWait = std::async(std::launch::async, [&] {
    return client.SendWaitTable(LoopbackIP(), peer.Port(), 600000, 6, tableLen, tableBuf, sizeof tableBuf, 2, tableBuf);
  });
  ASSERT_TRUE(peer.Receive(2s));
  ASSERT_TRUE(peer.Receive(2s));

  // Valid datagrams to mutate: replies to both waiters in every kind, messages, transfer data.
  std::vector<Bytes> seeds;
  const Bytes payload = {9, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  for (uint8_t kind : {Envelope::Keyed, Envelope::Table, Envelope::Plain, Envelope::Trailer})
    for (TLRGUID g : {TLRGUID{me, 5}, TLRGUID{me, 6}, TLRGUID{me, 0}, TLRGUID{3, 4}})
      seeds.push_back(EnvelopeBytes(kind, g, payload));
  Bytes bare(64), transfer(64);
  bare.resize(BuildBare(bare.data(), bare.size(), 'x', {me, 5}, "1/1", payload.data(), payload.size()));
  transfer.resize(BuildTransferData(transfer.data(), transfer.size(), payload.data(), payload.size()));
  seeds.push_back(bare);
  seeds.push_back(transfer);

  std::mt19937_64 rng(20261209);
  long sent = 0, replaced = 0;
  std::vector<Bytes> batch;
  while (sent < total) {
    Bytes d;
    for (;;) {
      if (rng() % 2) {
        d.resize(rng() % 1600);
        for (auto& b : d) b = uint8_t(rng());
        if (!d.empty() && rng() % 2) d[0] = uint8_t(std::array{100, 101, 201, 57, 50, 48}[rng() % 6]);
      } else {
        d = seeds[rng() % seeds.size()];
        const int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
          switch (rng() % 4) {
            case 0: d[rng() % d.size()] ^= uint8_t(1 + rng() % 255); break;
            case 1: d.resize(rng() % d.size() + 1); break;
            case 2: d.push_back(uint8_t(rng())); break;
            default: d[rng() % d.size()] = uint8_t(std::array{0, 0xFF, 48, 57, 1}[rng() % 5]); break;
          }
        }
      }
      if (!WouldOpen(d)) break;
      replaced++;
    }
    batch.push_back(std::move(d));
    ++sent;
    // Keep the socket's queue short so that the datagrams reach the client rather than the floor.
    if (batch.size() == 128 || sent == total) {
      peer.SendBatch(port, batch);
      batch.clear();
      const auto limit = std::chrono::steady_clock::now() + 200ms;
      while (client.ReceivedDatagrams() + 64 < uint64_t(sent) && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
    }
  }
  const auto limit = std::chrono::steady_clock::now() + 5s;
  while (client.ReceivedDatagrams() < uint64_t(sent) && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(1ms);
  while (client.QueueCount() > 0 && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);

  EXPECT_EQ(delivered.load(), 0);
  EXPECT_GT(client.ReceivedDatagrams(), uint64_t(sent) * 9 / 10) << "most datagrams must reach the client";
  client.SetActive(false);
  EXPECT_FALSE(keyedWait.get());
  EXPECT_FALSE(tableWait.get());
  EXPECT_EQ(keyedLen, 0);
  EXPECT_EQ(tableLen, 0);
  RecordProperty("replaced", std::to_string(replaced));
  std::printf("flood: %ld datagrams sent, %llu read by the client, %ld generated ones replaced\n", sent,
              static_cast<unsigned long long>(client.ReceivedDatagrams()), replaced);
}
