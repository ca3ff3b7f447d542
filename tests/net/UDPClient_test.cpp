#include <gtest/gtest.h>
#include "base/ByteOrder.h"
#include "base/EventLoop.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "net/LRUDPClient.h"
#include "tests/net/NetTestTools.h"

using namespace ml;
using namespace mlnettest;
using namespace std::chrono_literals;

namespace {

const uint32_t kLo = LoopbackIP();

// Records the client's diagnostics and unsolicited messages.
struct Events {
  std::mutex mutex;
  std::vector<std::string> errors;
  std::vector<Bytes> reads;
  std::vector<TLRGUID> guids;
  std::atomic<int> readCount{0};

  void Attach(TLRUDPClient& c) {
    c.OnUDPClientError = [this](TLRUDPClient&, const std::string& e) {
      std::lock_guard lock(mutex);
      errors.push_back(e);
    };
    c.OnUDPClientRead = [this](TUDPWorkThread&, const uint8_t* buf, int32_t len, uint32_t, uint16_t,
                               TLRGUID& guid, uint8_t*, int32_t&) {
      std::lock_guard lock(mutex);
      reads.emplace_back(buf, buf + len);
      guids.push_back(guid);
      readCount++;
    };
  }
  int Count(const std::string& error) {
    std::lock_guard lock(mutex);
    return int(std::count(errors.begin(), errors.end(), error));
  }
};

std::unique_ptr<TLRUDPClient> MakeClient(Dispatcher* d = nullptr, const TClock* clock = nullptr,
                                         int workers = 2) {
  auto c = std::make_unique<TLRUDPClient>(d, clock);
  c->SetDefaultPort(FreeUdpPort());
  c->SetWorkThreadCount(workers);
  return c;
}

// Opens what a scripted peer received.
TOpenedEnvelope Open(TDatagram& d) {
  TOpenedEnvelope env;
  EXPECT_TRUE(OpenEnvelope(d.data.data(), d.data.size(), env));
  return env;
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 3s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

}  // namespace

TEST(UDPClient, SerialNumbersWrapWithin1To999) {
  TLRUDPClient c(nullptr);
  for (int i = 1; i < 999; ++i) ASSERT_EQ(c.NextSerial(true), i);
  EXPECT_EQ(c.NextSerial(true), 999);
  EXPECT_EQ(c.NextSerial(true), 1);
  EXPECT_EQ(c.NextSerial(false), 1001);
  EXPECT_GE(c.UserID(), 10);
  EXPECT_LE(c.UserID(), 536870910);
}

TEST(UDPClient, PropertiesAndRefusals) {
  auto c = MakeClient();
  c->SetWorkThreadCount(1000);
  EXPECT_EQ(c->WorkThreadCount(), 2);
  uint8_t buf[16] = {1};
  int32_t len = 5;
  EXPECT_FALSE(c->SendKeyed(kLo, 9, 0, 0, 1, buf));  // inactive
  EXPECT_FALSE(c->SendWait(kLo, 9, true, 10, 0, len, buf, sizeof buf, 1, buf));
  EXPECT_EQ(len, 0);
  ASSERT_TRUE(c->SetActive(true));
  c->SetWorkThreadCount(3);
  EXPECT_EQ(c->WorkThreadCount(), 2);
  const int32_t port = c->DefaultPort();
  c->SetDefaultPort(port + 1);
  EXPECT_EQ(c->DefaultPort(), port);
  EXPECT_FALSE(c->SendKeyed(kLo, 9, 0, 0, 0, buf));
  EXPECT_FALSE(c->SendKeyed(kLo, 9, 0, 0, 1, nullptr));
  Bytes big(1448, 1);
  EXPECT_FALSE(c->SendKeyed(kLo, 9, 0, 0, int32_t(big.size()), big.data()));
  EXPECT_FALSE(c->SendTrailer(kLo, 9, 0, 0, 1437, big.data()));
  EXPECT_FALSE(c->SendRaw(0, 9, 1, buf));

  // A taken port without stepping: reported, and the client stays closed.
  TLRUDPClient second(nullptr);
  Events ev;
  ev.Attach(second);
  second.SetAutoIncPort(false);
  second.SetDefaultPort(port);
  EXPECT_FALSE(second.SetActive(true));
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second.DefaultPort(), port);
  ASSERT_EQ(ev.errors.size(), 1u);
  EXPECT_NE(ev.errors[0].find("TLRUDPClient.OpenUDPClient"), std::string::npos);
}

TEST(UDPClient, SendWaitFormsReplaceTheRequestBuffer) {
  auto server = StartEchoServer();
  auto client = MakeClient();
  ASSERT_TRUE(client->SetActive(true));
  const uint16_t port = uint16_t(server->DefaultPort());
  using Fn = bool (TLRUDPClient::*)(uint32_t, uint16_t, int32_t, int32_t, int32_t&, uint8_t*, int32_t, int32_t, const void*);
  for (Fn wait : {&TLRUDPClient::SendWaitTable, &TLRUDPClient::SendWaitPlain}) {
    uint8_t buf[1500] = {17, 0, 'x'};
    int32_t len = 0;
    ASSERT_TRUE((client.get()->*wait)(kLo, port, 2000, 0, len, buf, sizeof buf, 3, buf));
    EXPECT_EQ(Bytes(buf, buf + len), (Bytes{17, 0, 'x', '!'}));
  }
  uint8_t buf[1500] = {9, 0, 'y'};
  int32_t len = 0;
  ASSERT_TRUE(client->SendWait(kLo, port, true, 2000, 5, len, buf, sizeof buf, 3, buf));
  EXPECT_EQ(Bytes(buf, buf + len), (Bytes{9, 0, 'y', '!'}));
}

TEST(UDPClient, RepliesAreTakenOnlyFromTheRequestedPeerAndWithinCapacity) {
  TUdpPeer server, impostor;
  auto client = MakeClient();
  ASSERT_TRUE(client->SetActive(true));
  const uint16_t clientPort = uint16_t(client->DefaultPort());
  for (uint8_t kind : {Envelope::Keyed, Envelope::Table}) {
    auto reply = std::make_unique<uint8_t[]>(4);  // heap, so an overrun shows under ASan
    int32_t len = 0;
    const uint8_t request[] = {1, 0, 2};
    auto waiting = std::async(std::launch::async, [&] {
      return kind == Envelope::Keyed
                 ? client->SendWait(kLo, server.Port(), true, 3000, 0, len, reply.get(), 4, 3, request)
                 : client->SendWaitTable(kLo, server.Port(), 3000, 0, len, reply.get(), 4, 3, request);
    });
    auto got = server.Receive(2s);
    ASSERT_TRUE(got);
    const TOpenedEnvelope req = Open(*got);
    ASSERT_EQ(req.Kind, kind);
    const Bytes answer = {1, 0, 'a', 'b', 'c', 'd', 'e', 'f'};
    impostor.Send(clientPort, EnvelopeBytes(kind, req.Guid, {6, 6, 6, 6, 6}));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(waiting.wait_for(0s), std::future_status::timeout) << "took a reply from a stranger";
    server.Send(clientPort, EnvelopeBytes(kind, req.Guid, answer));
    ASSERT_TRUE(waiting.get());
    EXPECT_EQ(len, 4);
    EXPECT_EQ(Bytes(reply.get(), reply.get() + 4), (Bytes{1, 0, 'a', 'b'}));
  }
}

TEST(UDPClient, WhatIsNotAWaitedReply) {
  TUdpPeer peer;
  auto client = MakeClient();
  Events ev;
  ev.Attach(*client);
  ASSERT_TRUE(client->SetActive(true));
  const uint16_t port = uint16_t(client->DefaultPort());
  const int32_t me = client->UserID();
  // Our UserID: serial 1000 (keyed) and an unknown table serial are dropped; serial 0 is a
  // message; another UserID is a message whatever the serial.
  peer.Send(port, EnvelopeBytes(Envelope::Keyed, {me, 1000}, {1, 0}));
  peer.Send(port, EnvelopeBytes(Envelope::Keyed, {me, 77}, {2, 0}));  // no waiter
  peer.Send(port, EnvelopeBytes(Envelope::Table, {me, 55}, {3, 0}));
  peer.Send(port, EnvelopeBytes(Envelope::Keyed, {me, 0}, {4, 0}));
  peer.Send(port, EnvelopeBytes(Envelope::Table, {me + 1, 5}, {5, 0}));
  peer.Send(port, EnvelopeBytes(Envelope::Trailer, {me + 1, 2000}, {6, 0}));
  ASSERT_TRUE(WaitUntil([&] { return ev.readCount >= 3; }));
  std::this_thread::sleep_for(50ms);
  std::lock_guard lock(ev.mutex);
  std::vector<int> codes;
  for (auto& r : ev.reads) codes.push_back(r[0]);
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<int>{4, 5, 6}));
}

TEST(UDPClient, ReadHandlerAnswersInTheMessagesKind) {
  auto server = MakeClient();
  server->SetUserID(-1);
  server->OnUDPClientRead = [](TUDPWorkThread& w, const uint8_t*, int32_t, uint32_t, uint16_t,
                               TLRGUID&, uint8_t* reply, int32_t& len) {
    TCmdStream& s = w.Stream();
    s.InitWrite(reply, TUDPWorkThread::ReplyBufferSize);
    s.WriteWord(15);
    s.WriteInteger(1);
    s.WriteInteger(2);
    s.WriteWord(w.CurrentKind());
    len = s.Size();  // 12 bytes
  };
  ASSERT_TRUE(server->SetActive(true));
  TUdpPeer peer;
  struct Case {
    uint8_t kind, replyKind;
    size_t replySize;
  };
  for (Case c : {Case{Envelope::Keyed, 100, 25}, Case{Envelope::Table, 101, 25}, Case{Envelope::Plain, 201, 25},
                 Case{Envelope::Trailer, 57, 29}}) {
    peer.Send(uint16_t(server->DefaultPort()), EnvelopeBytes(c.kind, {42, 7}, {49, 0}));
    auto got = peer.Receive(2s);
    ASSERT_TRUE(got) << int(c.kind);
    EXPECT_EQ(got->data.size(), c.replySize);
    const TOpenedEnvelope env = Open(*got);
    EXPECT_EQ(env.Kind, c.replyKind);
    EXPECT_EQ(env.Guid, (TLRGUID{42, 7}));
    EXPECT_EQ(env.Payload[10], c.kind);
  }
  // A bare message is answered in a trailer envelope.
  Bytes bare(64);
  const uint8_t payload[] = {49, 0};
  bare.resize(BuildBare(bare.data(), bare.size(), 'x', {42, 8}, "1/1", payload, 2));
  peer.Send(uint16_t(server->DefaultPort()), bare);
  auto got = peer.Receive(2s);
  ASSERT_TRUE(got);
  EXPECT_EQ(Open(*got).Kind, 57);
}

TEST(UDPClient, FullQueueDropsWithADiagnostic) {
  auto client = MakeClient(nullptr, nullptr, 1);
  Events ev;
  ev.Attach(*client);
  std::mutex gate;
  std::condition_variable opened;
  bool release = false;
  std::atomic<int> handled{0};
  std::atomic<int> entered{0};
  client->OnUDPClientRead = [&](TUDPWorkThread&, const uint8_t*, int32_t, uint32_t, uint16_t,
                                TLRGUID&, uint8_t*, int32_t&) {
    entered++;
    std::unique_lock lock(gate);
    opened.wait(lock, [&] { return release; });
    handled++;
  };
  // Whatever happens below, the worker is let go before the client closes.
  const auto open = [&] {
    {
      std::lock_guard lock(gate);
      release = true;
    }
    opened.notify_all();
  };
  struct Guard {
    std::function<void()> fn;
    ~Guard() { fn(); }
  } guard{open};
  ASSERT_TRUE(client->SetActive(true));
  TUdpPeer peer;
  const Bytes msg = EnvelopeBytes(Envelope::Keyed, {3, 0}, {12, 0});
  // The one worker first holds one datagram, so exactly 256 fill the queue and the last fails
  // however the threads are scheduled.
  peer.Send(uint16_t(client->DefaultPort()), msg);
  ASSERT_TRUE(WaitUntil([&] { return entered == 1; }, 10s));
  for (int i = 0; i < 257; ++i) peer.Send(uint16_t(client->DefaultPort()), msg);
  ASSERT_TRUE(WaitUntil([&] { return ev.Count("InsertNode faild!") == 1; }, 10s))
      << client->ReceivedDatagrams() << " read, " << client->QueueCount() << " queued";
  EXPECT_EQ(client->QueueCount(), 256);
  EXPECT_EQ(client->ReceivedDatagrams(), 258u);
  // A load probe now reports the queue's length.
  Bytes probe(30, 0xAA);
  probe[0] = Envelope::LoadProbe;
  peer.Send(uint16_t(client->DefaultPort()), probe);
  auto answer = peer.Receive(2s);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->data.size(), 21u);
  EXPECT_EQ(Bytes(answer->data.begin(), answer->data.begin() + 17), Bytes(probe.begin(), probe.begin() + 17));
  EXPECT_EQ(answer->data[17] | (answer->data[18] << 8), 256);
  EXPECT_EQ(answer->data[19] | answer->data[20], 0);
  open();
  ASSERT_TRUE(WaitUntil([&] { return handled == 257; }));
  EXPECT_EQ(client->QueueCount(), 0);
}

TEST(UDPClient, TransferDataComesInBatchesOfWhatWasWaitingAndOnlyWithItsChecksum) {
  auto client = MakeClient();
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::vector<Bytes>> batches;
  bool release = false;
  client->OnTransferData = [&](TLRUDPClient&, std::span<const TLRUDPClient::TTransferDatagram> batch) {
    std::unique_lock lock(mutex);
    batches.emplace_back();
    for (const auto& d : batch) {
      EXPECT_EQ(d.PeerIP, kLo);
      batches.back().emplace_back(d.Data, d.Data + d.Length);
    }
    changed.notify_all();
    // The first batch holds the listener, so that what is sent meanwhile waits in the socket.
    changed.wait(lock, [&] { return release; });
  };
  Events ev;
  ev.Attach(*client);
  ASSERT_TRUE(client->SetActive(true));
  const uint16_t port = uint16_t(client->DefaultPort());
  const auto data = [](size_t n, uint8_t fill) {
    Bytes d(n + Envelope::TransferHeader);
    const Bytes body(n, fill);
    d.resize(BuildTransferData(d.data(), d.size(), body.data(), body.size()));
    return d;
  };
  TUdpPeer peer;
  peer.Send(port, data(20, 0x42));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return !batches.empty(); }));
  }
  // Good ones between a wrong checksum, a datagram longer than any of ours and one too short.
  Bytes badSum = data(30, 0x43);
  badSum[7] ^= 1;
  Bytes tooLong(Envelope::MaxDatagram + 40, 0x44);  // its checksum holds
  tooLong[0] = Envelope::TransferData;
  StoreLE32(tooLong.data() + 1, Crc32(tooLong.data() + 5, tooLong.size() - 5));
  peer.SendBatch(port, {data(8, 0x01), badSum, tooLong, data(1024, 0x02), Bytes{Envelope::TransferData, 1, 2}});
  std::this_thread::sleep_for(50ms);
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  std::unique_lock lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return batches.size() >= 2; }));
  std::this_thread::sleep_for(30ms);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[0], std::vector<Bytes>{Bytes(20, 0x42)});
  // Everything that waited was read at once, and only the two good ones were handed on.
  EXPECT_EQ(batches[1], (std::vector<Bytes>{Bytes(8, 0x01), Bytes(1024, 0x02)}));
  EXPECT_EQ(client->ReceivedDatagrams(), 6u);
  EXPECT_EQ(ev.readCount, 0);
}

TEST(UDPClient, TimeOutsRunOnTheClientsClock) {
  ManualClock clock;
  auto client = MakeClient(nullptr, &clock);
  ASSERT_TRUE(client->SetActive(true));
  TUdpPeer server;
  uint8_t buf[64] = {9, 0};
  int32_t len = 0;
  auto waiting = std::async(std::launch::async, [&] {
    return client->SendWait(kLo, server.Port(), true, 3000, 12, len, buf, sizeof buf, 2, buf);
  });
  auto req = server.Receive(2s);
  ASSERT_TRUE(req);
  clock.Advance(2999ms);
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  clock.Advance(1ms);
  ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  EXPECT_EQ(len, 0);
  // The late reply finds an empty slot and goes nowhere; the serial is free again.
  Events ev;
  ev.Attach(*client);
  server.Send(uint16_t(client->DefaultPort()), EnvelopeBytes(Envelope::Keyed, Open(*req).Guid, {9, 0, 1}));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ev.readCount, 0);
  EXPECT_EQ(buf[2], 0);
  TClockPump pump(clock, 100ms);
  EXPECT_FALSE(client->SendWait(kLo, server.Port(), true, 3000, 12, len, buf, sizeof buf, 2, buf));
}

// Closing ends a wait that its clock would never end (the manual clock does not move), and
// every wait after it, unanswered; the request itself still goes out.
TEST(UDPClient, CancelledWaitsEndAtOnce) {
  ManualClock clock;
  auto client = MakeClient(nullptr, &clock);
  ASSERT_TRUE(client->SetActive(true));
  TUdpPeer server;
  uint8_t buf[64] = {9, 0};
  int32_t len = 0;
  auto waiting = std::async(std::launch::async, [&] {
    return client->SendWait(kLo, server.Port(), true, 3000, 12, len, buf, sizeof buf, 2, buf);
  });
  ASSERT_TRUE(server.Receive(2s));
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  client->CancelWaits();
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  EXPECT_FALSE(client->SendWait(kLo, server.Port(), true, 3000, 0, len, buf, sizeof buf, 2, buf));
  EXPECT_TRUE(server.Receive(2s));
  EXPECT_EQ(len, 0);
}

TEST(UDPClient, ArmedSerialIsNeverArmedTwice) {
  ManualClock clock;
  auto client = MakeClient(nullptr, &clock);
  ASSERT_TRUE(client->SetActive(true));
  TUdpPeer server;
  uint8_t a[64] = {1, 0}, b[64] = {2, 0};
  int32_t la = 0, lb = 0;
  auto first = std::async(std::launch::async, [&] {
    return client->SendWaitTable(kLo, server.Port(), 1000, 33, la, a, sizeof a, 2, a);
  });
  ASSERT_TRUE(server.Receive(2s));
  EXPECT_FALSE(client->SendWaitTable(kLo, server.Port(), 1000, 33, lb, b, sizeof b, 2, b));
  // Two waits at once hold two records; a third afterwards reuses one.
  auto second = std::async(std::launch::async, [&] {
    return client->SendWaitTable(kLo, server.Port(), 1000, 0, lb, b, sizeof b, 2, b);
  });
  ASSERT_TRUE(server.Receive(2s));
  EXPECT_EQ(client->WaitRecordCount(), 2u);
  clock.Advance(1000ms);
  EXPECT_FALSE(first.get());
  EXPECT_FALSE(second.get());
  TClockPump pump(clock, 50ms);
  EXPECT_FALSE(client->SendWaitTable(kLo, server.Port(), 100, 0, la, a, sizeof a, 2, a));
  EXPECT_EQ(client->WaitRecordCount(), 2u);
}

TEST(UDPClient, MainThreadWaitPumpsTheDispatcher) {
  EventLoop loop;
  auto server = StartEchoServer();
  auto client = MakeClient(&loop);
  ASSERT_TRUE(client->SetActive(true));
  bool ran = false;
  loop.Post([&] { ran = true; });
  uint8_t buf[64] = {9, 0, 1};
  int32_t len = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client->SendWait(kLo, uint16_t(server->DefaultPort()), true, 5000, 0, len, buf, sizeof buf, 3, buf));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);  // woken by the reply, not the time-out
  EXPECT_TRUE(ran);
  EXPECT_EQ(len, 4);

  // Time-out on a manual loop, driven from another thread.
  ManualLoop manual;
  auto quiet = MakeClient(&manual);
  ASSERT_TRUE(quiet->SetActive(true));
  TUdpPeer silent;
  TClockPump pump(manual.Manual(), 100ms);
  EXPECT_FALSE(quiet->SendWaitPlain(kLo, silent.Port(), 5000, 0, len, buf, sizeof buf, 3, buf));
}

TEST(UDPClient, ClosingReleasesWaiters) {
  auto client = MakeClient();
  ASSERT_TRUE(client->SetActive(true));
  TUdpPeer silent;
  uint8_t buf[64] = {9, 0};
  int32_t len = 0;
  auto waiting = std::async(std::launch::async, [&] {
    return client->SendWait(kLo, silent.Port(), true, 60000, 0, len, buf, sizeof buf, 2, buf);
  });
  ASSERT_TRUE(silent.Receive(2s));
  client->SetActive(false);
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
}
