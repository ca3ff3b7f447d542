// The server list: the fixed code-to-slot table, the cache file and its damaged forms, and the
// refresh with command 9 against a scripted list server.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "net/LRCmdStream.h"
#include "net/LRUDPClient.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"
#include "net/uServerListManager.h"

using namespace ml;
using namespace mlnettest;
using namespace mltest;

namespace {

std::array<uint32_t, 10> TenAddresses() {
  std::array<uint32_t, 10> a{};
  for (int i = 0; i < 10; ++i) a[i] = htonl(0x0A000001u + uint32_t(i));  // 10.0.0.1 .. 10.0.0.10
  return a;
}

TServerListDefaults Defaults(uint16_t listPort = 8801) {
  TServerListDefaults d;
  d.Addresses = TenAddresses();
  d.ListServerIP = LoopbackIP();
  d.ListServerPort = listPort;
  d.LoginHost.clear();
  d.TimeoutMs = 300;
  return d;
}

std::string Cache(uint16_t version, const std::vector<TServerEntry>& e) {
  return TServerListManager::SerializeCache(version, e);
}

// A list server on loopback that answers command 9 with what the test's function returns.
class TScriptedListServer {
public:
  using TAnswer = std::function<Bytes(const Bytes& request)>;
  explicit TScriptedListServer(TAnswer answer) : answer_(std::move(answer)) {
    thread_ = std::thread([this] {
      while (!stop_) {
        auto d = peer_.Receive(std::chrono::milliseconds(20));
        if (!d) continue;
        TOpenedEnvelope env;
        if (!OpenEnvelope(d->data.data(), d->data.size(), env)) continue;
        const Bytes request(env.Payload, env.Payload + env.PayloadLength);
        ++requests;
        const Bytes reply = answer_(request);
        if (!reply.empty()) peer_.Send(d->port, EnvelopeBytes(env.Kind, env.Guid, reply));
      }
    });
  }
  ~TScriptedListServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t Port() const { return peer_.Port(); }
  std::atomic<int> requests{0};

private:
  TAnswer answer_;
  TUdpPeer peer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

Bytes ListReply(uint16_t version, const std::vector<TServerEntry>& entries, int32_t tag = 0) {
  return Written(WriteServerListReply, TServerListReply{version, entries, tag});
}

TEST(ServerList, BuiltInTableLookups) {
  TempDir dir;
  TServerListManager m(dir.File("LR4ServerList.bin"), Defaults());
  EXPECT_EQ(m.Version(), 6);
  EXPECT_EQ(m.EntryCount(), 41);
  uint16_t port = 0;
  uint32_t ip = 0;
  // User 7, code 1: slot 2 has two servers, 7 mod 2 = 1 picks the second one.
  ASSERT_TRUE(m.ServerFor(7, 1, port, ip));
  EXPECT_EQ(ip, TenAddresses()[1]);
  EXPECT_EQ(port, 8800);
  for (int code : {0, 10, 13, 81, -1, 1000}) EXPECT_FALSE(m.ServerFor(7, code, port, ip)) << code;
  EXPECT_FALSE(m.ServerFor(-3, 1, port, ip)) << "a negative index fails";
  ASSERT_TRUE(m.ServerFor(3, 45, port, ip));  // slot 18: six servers
  EXPECT_EQ(port, 6613);
  EXPECT_EQ(m.ServerCount(1), 2);
  EXPECT_EQ(m.ServerCount(51), 0) << "only codes up to 50 are counted";
  // Creating it wrote the cache.
  uint16_t version = 0;
  std::vector<TServerEntry> e;
  ASSERT_TRUE(TServerListManager::ParseCache(ReadAll(dir.File("LR4ServerList.bin")), version, e));
  EXPECT_EQ(version, 6);
  EXPECT_EQ(e.size(), 41u);
}

TEST(ServerList, CacheFileForms) {
  TempDir dir;
  const std::string path = dir.File("LR4ServerList.bin");
  const uint32_t a = htonl(0x7F000001);
  struct Case {
    const char* name;
    std::string bytes;
    uint16_t version;  // after loading
    int count;
    bool rewritten;    // replaced by the built-in list
  };
  std::string offByOne = Cache(9, {{1, a, 1}});
  offByOne[0] = char(offByOne.size() - 1);
  std::string truncated = Cache(9, {{1, a, 1}, {2, a, 2}});
  truncated.resize(truncated.size() - 3);
  truncated[0] = char(truncated.size());
  std::vector<TServerEntry> eleven;
  for (int i = 0; i < 11; ++i) eleven.push_back({3, a, uint16_t(100 + i)});
  const Case cases[] = {
      {"good", Cache(9, {{1, a, 1}, {2, a, 2}}), 9, 2, false},
      {"length word off by one", offByOne, 6, 41, true},
      {"truncated entries", truncated, 0, 0, false},
      {"slot 40 skipped, next read", Cache(9, {{40, a, 1}, {2, a, 2}}), 9, 1, false},
      {"eleventh server of a slot skipped", Cache(9, eleven), 9, 10, false},
      {"empty file", "", 0, 0, false},
  };
  for (const Case& c : cases) {
    WriteAll(path, c.bytes);
    {
      TServerListManager m(path, Defaults());
      EXPECT_EQ(m.Version(), c.version) << c.name;
      EXPECT_EQ(m.EntryCount(), c.count) << c.name;
      if (c.rewritten) {
        EXPECT_EQ(ReadAll(path).size(), 6u + 8 * 41) << c.name;
      }
    }
    // What is saved states the number of entries it holds.
    uint16_t version = 0;
    std::vector<TServerEntry> e;
    ASSERT_TRUE(TServerListManager::ParseCache(ReadAll(path), version, e)) << c.name;
    EXPECT_EQ(int(e.size()), c.count) << c.name;
  }
  uint16_t port = 0;
  uint32_t ip = 0;
  WriteAll(path, Cache(9, {{40, a, 1}, {2, a, 2}}));
  TServerListManager m(path, Defaults());
  ASSERT_TRUE(m.ServerFor(0, 1, port, ip));
  EXPECT_EQ(port, 2);
}

class ServerListDownload : public ::testing::Test {
protected:
  TempDir dir;
  TLRUDPClient udp{nullptr};
  void SetUp() override {
    udp.SetDefaultPort(FreeUdpPort());
    ASSERT_TRUE(udp.SetActive(true));
  }
};

TEST_F(ServerListDownload, ReplacesSavesAndIsNotRepeatedWithoutForce) {
  const uint32_t lo = LoopbackIP();
  TScriptedListServer server([&](const Bytes& req) {
    TServerListRequest r;
    EXPECT_TRUE(ReadServerListRequest(req.data(), req.size(), r));
    EXPECT_EQ(r.UserID, 77);
    EXPECT_EQ(r.ProgramVersion, 5004);
    return ListReply(12, {{2, lo, 9100}, {40, lo, 1}, {11, lo, 9111}, {29, lo, 9129}}, 555);
  });
  const std::string path = dir.File("LR4ServerList.bin");
  {
    TServerListManager m(path, Defaults(server.Port()));
    m.SetUDPClient(&udp);
    ASSERT_TRUE(m.Download(77, 5004, false));
    EXPECT_EQ(m.Version(), 12);
    EXPECT_EQ(m.EntryCount(), 3);
    EXPECT_EQ(m.ListTag(), 555);
    uint16_t port = 0;
    uint32_t ip = 0;
    ASSERT_TRUE(m.ServerFor(1, 10, port, ip)) << "codes 10 and 13 get servers from a download";
    EXPECT_EQ(port, 9129);
    EXPECT_FALSE(m.ServerFor(1, 4, port, ip)) << "slot 1 is gone";
    EXPECT_TRUE(m.Download(77, 5004, false));
    EXPECT_EQ(server.requests.load(), 1) << "a second refresh without force sends nothing";
    EXPECT_TRUE(m.Download(77, 5004, true));
    EXPECT_EQ(server.requests.load(), 2);
  }
  TServerListManager again(path, Defaults(server.Port()));
  EXPECT_EQ(again.Version(), 12);
  EXPECT_EQ(again.EntryCount(), 3);
}

TEST_F(ServerListDownload, CurrentAnswerKeepsTheTableAndCountsAsSuccess) {
  TScriptedListServer server([](const Bytes&) { return ListReply(6, {}); });
  TServerListManager m(dir.File("LR4ServerList.bin"), Defaults(server.Port()));
  m.SetUDPClient(&udp);
  EXPECT_TRUE(m.Download(1, 5004, false));
  EXPECT_EQ(m.Version(), 6);
  EXPECT_EQ(m.EntryCount(), 41);
  EXPECT_EQ(server.requests.load(), 1);
}

TEST_F(ServerListDownload, BadAnswersLeaveTheTable) {
  const uint32_t lo = LoopbackIP();
  struct Case {
    const char* name;
    Bytes reply;
  };
  Bytes wrongTag = ListReply(12, {{2, lo, 1}});
  wrongTag[0] = 145;
  Bytes shortEntries = ListReply(12, {{2, lo, 1}, {3, lo, 2}});
  shortEntries.resize(shortEntries.size() - 6);
  const Case cases[] = {{"wrong tag", wrongTag}, {"entries cut", shortEntries}, {"nine bytes", Bytes(9, 0)}};
  for (const Case& c : cases) {
    TScriptedListServer server([&](const Bytes&) { return c.reply; });
    TServerListManager m(dir.File("LR4ServerList.bin"), Defaults(server.Port()));
    m.SetUDPClient(&udp);
    EXPECT_FALSE(m.Download(1, 5004, false)) << c.name;
    EXPECT_EQ(m.Version(), 6) << c.name;
    EXPECT_EQ(server.requests.load(), 3) << c.name << ": three tries";
  }
}

TEST_F(ServerListDownload, LookupsDuringReplacementsStayInBounds) {
  const uint32_t lo = LoopbackIP();
  std::atomic<int> n{0};
  // Alternate between a table where slot 2 is empty and one where it has three servers.
  TScriptedListServer server([&](const Bytes&) {
    return ++n % 2 ? ListReply(20, {{3, lo, 1}}) : ListReply(21, {{2, lo, 1}, {2, lo, 2}, {2, lo, 3}});
  });
  TServerListManager m(dir.File("LR4ServerList.bin"), Defaults(server.Port()));
  m.SetUDPClient(&udp);
  ASSERT_TRUE(m.Download(1, 5004, true));
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    uint16_t port = 0;
    uint32_t ip = 0;
    while (!stop)
      for (int32_t user = 0; user < 50; ++user)
        if (m.ServerFor(user, 1, port, ip)) {
          EXPECT_TRUE(port >= 1 && port <= 3);
        }
  });
  for (int i = 0; i < 30; ++i) m.Download(1, 5004, true);
  stop = true;
  reader.join();
}

}  // namespace
