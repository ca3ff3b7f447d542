#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/LRUDP.h"
#include "tests/net/NetTestTools.h"

using namespace ml;
using namespace mlnettest;
using namespace std::chrono_literals;

namespace {

// Collects the transport's error events and the datagrams its listener reads.
struct Recorder {
  std::mutex mutex;
  std::vector<std::string> errors;
  std::vector<TDatagram> received;
  std::atomic<int> reads{0};

  void Attach(TLRUDP& t, int32_t capacity = 8192) {
    t.SetOnUDPError([this](TLRUDP&, const std::string& e) {
      std::lock_guard lock(mutex);
      errors.push_back(e);
    });
    t.SetOnUDPRead([this, capacity](TLRUDP& t) {
      std::vector<uint8_t> buf(static_cast<size_t>(capacity), 0);
      TLRUDP::TEndpoint from;
      const int32_t n = t.ReceiveFrom(buf.data(), capacity, from);
      std::lock_guard lock(mutex);
      if (n > 0) received.push_back({{buf.begin(), buf.begin() + n}, from.IP, from.Port});
      reads++;
    });
  }
  bool WaitReads(int count) {
    for (int i = 0; i < 500 && reads < count; ++i) std::this_thread::sleep_for(5ms);
    return reads >= count;
  }
};

// Three consecutive ports that are free for a wildcard bind right now.
uint16_t FreeRun(int length) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const uint16_t base = FreeUdpPort();
    if (base > 65535 - length) continue;
    bool ok = true;
    for (int i = 0; i < length && ok; ++i) {
      TLRUDP probe;
      probe.SetDefaultPort(uint16_t(base + i));
      try {
        probe.SetActive(true);
      } catch (const ELRUDPError&) {
        ok = false;
      }
    }
    if (ok) return base;
  }
  return 0;
}

std::unique_ptr<TLRUDP> OpenOn(uint16_t port, bool autoInc = false) {
  auto t = std::make_unique<TLRUDP>();
  t->SetAutoIncPort(autoInc);
  t->SetDefaultPort(port);
  t->SetActive(true);
  return t;
}

}  // namespace

TEST(UDPTransport, AutoIncPortStepsPastTakenPorts) {
  const uint16_t base = FreeRun(3);
  ASSERT_NE(base, 0);
  auto a = OpenOn(base), b = OpenOn(uint16_t(base + 1));
  auto c = OpenOn(base, true);
  EXPECT_EQ(c->DefaultPort(), base + 2);
  EXPECT_TRUE(c->Active());
}

TEST(UDPTransport, OpeningErrors) {
  TLRUDP zero;
  try {
    zero.SetActive(true);
    FAIL() << "port 0 opened";
  } catch (const ELRUDPError& e) {
    EXPECT_STREQ(e.what(), "监听的端口号为0!");
  }
  EXPECT_FALSE(zero.Active());

  const uint16_t port = FreeRun(1);
  auto holder = OpenOn(port);
  TLRUDP taken;
  taken.SetDefaultPort(port);
  try {
    taken.SetActive(true);
    FAIL() << "taken port opened";
  } catch (const ELRUDPError& e) {
    EXPECT_NE(std::string(e.what()).find("on API 'bind'"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(taken.Active());
}

TEST(UDPTransport, AutoIncPortStopsAtTheLastPort) {
  std::unique_ptr<TLRUDP> holder;
  try {
    holder = OpenOn(65535);
  } catch (const ELRUDPError&) {
    GTEST_SKIP() << "port 65535 is in use on this machine";
  }
  TLRUDP last;
  last.SetAutoIncPort(true);
  last.SetDefaultPort(65535);
  EXPECT_THROW(last.SetActive(true), ELRUDPError);
  EXPECT_FALSE(last.Active());
}

TEST(UDPTransport, SendsAndReceivesWithTheSendersAddress) {
  auto t = OpenOn(FreeRun(1));
  Recorder rec;
  rec.Attach(*t);
  TUdpPeer peer;
  ASSERT_TRUE(peer.Send(t->DefaultPort(), {1, 2, 3}));
  ASSERT_TRUE(rec.WaitReads(1));
  {
    std::lock_guard lock(rec.mutex);
    ASSERT_EQ(rec.received.size(), 1u);
    EXPECT_EQ(rec.received[0].data, (Bytes{1, 2, 3}));
    EXPECT_EQ(rec.received[0].ip, LoopbackIP());
    EXPECT_EQ(rec.received[0].port, peer.Port());
  }
  ASSERT_TRUE(t->SendTo(LoopbackIP(), peer.Port(), "abc", 3));
  auto got = peer.Receive(2s);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data, (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(got->port, t->DefaultPort());
  EXPECT_EQ(t->SendErrorCode(), 0);
}

TEST(UDPTransport, RefusedSendsTouchNothing) {
  auto t = OpenOn(FreeRun(1));
  Recorder rec;
  rec.Attach(*t);
  EXPECT_FALSE(t->SendTo(LoopbackIP(), 0, "x", 1));
  EXPECT_FALSE(t->SendTo(0, 7000, "x", 1));
  EXPECT_FALSE(t->SendTo(0xFFFFFFFFu, 7000, "x", 1));
  EXPECT_FALSE(t->SendTo(LoopbackIP(), 7000, "x", -1));
  EXPECT_EQ(t->SendErrorCode(), 0);
  EXPECT_TRUE(rec.errors.empty());
  TLRUDP closed;
  EXPECT_FALSE(closed.SendTo(LoopbackIP(), 7000, "x", 1));
}

TEST(UDPTransport, OversizedDatagramIsNotHandedOut) {
  auto t = OpenOn(FreeRun(1));
  Recorder rec;
  rec.Attach(*t, 16);
  TUdpPeer peer;
  peer.Send(t->DefaultPort(), Bytes(17, 1));
  peer.Send(t->DefaultPort(), Bytes(16, 2));
  ASSERT_TRUE(rec.WaitReads(2));
  std::lock_guard lock(rec.mutex);
  ASSERT_EQ(rec.received.size(), 1u);
  EXPECT_EQ(rec.received[0].data, Bytes(16, 2));
}

TEST(UDPTransport, ReopenThatFailsKeepsTheOldSocket) {
  const uint16_t base = FreeRun(2);
  auto holder = OpenOn(uint16_t(base + 1));
  auto t = OpenOn(base);
  Recorder rec;
  rec.Attach(*t);
  t->SetDefaultPort(uint16_t(base + 1));  // taken, no stepping
  EXPECT_EQ(t->DefaultPort(), base);
  EXPECT_TRUE(t->Active());
  TUdpPeer peer;
  peer.Send(base, {7});
  ASSERT_TRUE(rec.WaitReads(1));

  holder.reset();
  t->SetDefaultPort(uint16_t(base + 1));
  EXPECT_EQ(t->DefaultPort(), base + 1);
  peer.Send(uint16_t(base + 1), {8});
  ASSERT_TRUE(rec.WaitReads(2));
  std::lock_guard lock(rec.mutex);
  EXPECT_EQ(rec.received.back().data, Bytes{8});
}

TEST(UDPTransport, HandlerExceptionIsReportedAndListeningGoesOn) {
  auto t = OpenOn(FreeRun(1));
  Recorder rec;
  rec.Attach(*t);
  std::atomic<int> calls{0};
  t->SetOnUDPRead([&](TLRUDP& tr) {
    uint8_t buf[64];
    TLRUDP::TEndpoint from;
    tr.ReceiveFrom(buf, sizeof buf, from);
    if (calls++ == 0) throw std::runtime_error("boom");
  });
  TUdpPeer peer;
  peer.Send(t->DefaultPort(), {1});
  peer.Send(t->DefaultPort(), {2});
  for (int i = 0; i < 400 && calls < 2; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(calls, 2);
  std::lock_guard lock(rec.mutex);
  ASSERT_EQ(rec.errors.size(), 1u);
  EXPECT_NE(rec.errors[0].find("OnUDPRead"), std::string::npos);
  EXPECT_NE(rec.errors[0].find("boom"), std::string::npos);
}

TEST(UDPTransport, SendingWhileReopeningIsSafe) {
  const uint16_t base = FreeRun(2);
  auto t = OpenOn(base);
  TUdpPeer peer;
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    while (!stop) t->SendTo(LoopbackIP(), peer.Port(), "x", 1);
  });
  for (int i = 0; i < 20; ++i) t->SetDefaultPort(uint16_t(base + (i + 1) % 2));
  stop = true;
  sender.join();
  EXPECT_TRUE(t->Active());
}
