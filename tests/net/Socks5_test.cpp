#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "net/LRUDP.h"
#include "net/LRUDPClient.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"

using namespace ml;
using namespace mlnettest;
using namespace std::chrono_literals;
using TStep = TFakeSocks5::Step;

namespace {

Bytes Ipv4Reply(uint8_t rep, uint32_t ip, uint16_t port, uint8_t atyp = 1) {
  Bytes r = {5, rep, 0, atyp};
  const uint8_t* a = reinterpret_cast<const uint8_t*>(&ip);
  r.insert(r.end(), a, a + 4);
  r.push_back(uint8_t(port >> 8));
  r.push_back(uint8_t(port));
  return r;
}

std::unique_ptr<TLRUDP> ProxiedTransport(uint16_t proxyPort, const std::string& user = "",
                                         const std::string& password = "", int timeoutMs = 3000) {
  auto t = std::make_unique<TLRUDP>();
  t->SetAutoIncPort(true);
  t->SetDefaultPort(FreeUdpPort());
  t->SetProxy("127.0.0.1", proxyPort, user, password);
  t->SetProxyTimeout(timeoutMs);
  t->SetActive(true);
  return t;
}

}  // namespace

TEST(Socks5Parse, AssociateReplies) {
  const uint32_t proxy = LoopbackIP(), other = htonl(0x0A000001);
  struct Case {
    Bytes reply;
    bool ok;
    uint32_t relayIP;
  };
  const Case cases[] = {
      {Ipv4Reply(0, other, 4000), true, other},
      {Ipv4Reply(0, 0, 4000), true, proxy},  // 0.0.0.0: the proxy's own address
      {Ipv4Reply(1, other, 4000), false, 0},
      {Ipv4Reply(0, other, 0), false, 0},
      {Ipv4Reply(0, other, 4000, 3), false, 0},
      {Ipv4Reply(0, other, 4000, 4), false, 0},
      {Ipv4Reply(0, 0xFFFFFFFFu, 4000), false, 0},
      {Bytes{5, 0, 0, 1, 1, 2, 3}, false, 0},
      {Bytes{4, 0, 0, 1, 1, 2, 3, 4, 0, 1}, false, 0},
  };
  for (const Case& c : cases) {
    Socks5::TEndpoint relay;
    EXPECT_EQ(Socks5::ParseAssociateReply(c.reply.data(), c.reply.size(), proxy, relay), c.ok);
    if (c.ok) {
      EXPECT_EQ(relay.IP, c.relayIP);
      EXPECT_EQ(relay.Port, 4000);
    }
  }
  const uint8_t none[] = {5, 0}, pass[] = {5, 2}, refuse[] = {5, 0xFF};
  EXPECT_TRUE(Socks5::ParseMethodReply(none, 2, false));
  EXPECT_FALSE(Socks5::ParseMethodReply(none, 2, true));
  EXPECT_TRUE(Socks5::ParseMethodReply(pass, 2, true));
  EXPECT_FALSE(Socks5::ParseMethodReply(refuse, 2, false));
  EXPECT_FALSE(Socks5::ParseMethodReply(none, 1, false));
  uint8_t auth[600];
  EXPECT_EQ(Socks5::BuildAuthRequest(auth, "", "p"), 0u);
  EXPECT_EQ(Socks5::BuildAuthRequest(auth, std::string(256, 'u'), "p"), 0u);
  EXPECT_EQ(Socks5::BuildAuthRequest(auth, "u", std::string(256, 'p')), 0u);
}

TEST(Socks5Parse, RelayFrames) {
  Socks5::TEndpoint from;
  const uint8_t fragment[] = {0, 0, 1, 1, 127, 0, 0, 1, 0, 80, 'x'};
  EXPECT_FALSE(Socks5::UnwrapDatagram(fragment, sizeof fragment, from));
  const uint8_t domain[] = {0, 0, 0, 3, 127, 0, 0, 1, 0, 80, 'x'};
  EXPECT_FALSE(Socks5::UnwrapDatagram(domain, sizeof domain, from));
  EXPECT_FALSE(Socks5::UnwrapDatagram(fragment, 9, from));
  uint8_t frame[32];
  const size_t n = Socks5::WrapDatagram(frame, sizeof frame, {LoopbackIP(), 8801}, "ab", 2);
  ASSERT_EQ(n, 12u);
  ASSERT_TRUE(Socks5::UnwrapDatagram(frame, n, from));
  EXPECT_EQ(from, (Socks5::TEndpoint{LoopbackIP(), 8801}));
  EXPECT_EQ(Socks5::WrapDatagram(frame, 11, {LoopbackIP(), 1}, "ab", 2), 0u);
}

// Refusals by a scripted proxy: each ends in the failed state, except the silent one.
TEST(Socks5Fake, RefusalsFailTheAssociation) {
  struct Case {
    const char* name;
    std::string user;
    std::vector<TStep> steps;
  };
  const std::vector<Case> cases = {
      {"no-auth chosen although we offered a password", "u", {{4, {5, 0}}}},
      {"no acceptable method", "", {{3, {5, 0xFF}}}},
      {"password refused", "u", {{4, {5, 2}}, {5, {1, 1}}}},
      {"association refused", "", {{3, {5, 0}}, {10, Ipv4Reply(1, 0, 0)}}},
      {"domain-name relay", "", {{3, {5, 0}}, {10, {5, 0, 0, 3, 9, 'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't', 0, 80}}}},
      {"relay port 0", "", {{3, {5, 0}}, {10, Ipv4Reply(0, LoopbackIP(), 0)}}},
      {"hang-up after the greeting", "", {{3, {5, 0}, false, true}}},
  };
  for (const Case& c : cases) {
    TFakeSocks5 proxy(c.steps);
    auto t = ProxiedTransport(proxy.Port(), c.user, "p");
    EXPECT_FALSE(t->EstablishProxy()) << c.name;
    EXPECT_EQ(t->ProxyState(), TLRUDP::ProxyFailed) << c.name;
    EXPECT_EQ(t->RelayAddress().IP, 0u) << c.name;
  }
  // Nobody listening at all.
  auto t = ProxiedTransport(FreeTcpPort());
  EXPECT_FALSE(t->EstablishProxy());
  EXPECT_EQ(t->ProxyState(), TLRUDP::ProxyFailed);
}

TEST(Socks5Fake, SilentProxyTimesOutAndStaysConnecting) {
  TFakeSocks5 proxy({{3, {}, true}});
  auto t = ProxiedTransport(proxy.Port(), "", "", 300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(t->EstablishProxy());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(t->ProxyState(), TLRUDP::ProxyConnecting);
  // While proxied and unassociated, sends fail instead of going out directly.
  t->SetProxyEnabled(true);
  EXPECT_FALSE(t->SendTo(LoopbackIP(), 9, "x", 1));
}

TEST(Socks5Fake, HandshakeBytesAndRelayedFrames) {
  TUdpPeer relay;
  const uint16_t relayPort = relay.Port();
  TFakeSocks5 proxy({{4, {5, 2}}, {5, {1, 0}}, {10, Ipv4Reply(0, 0, relayPort)}});
  auto t = ProxiedTransport(proxy.Port(), "u", "p");
  std::mutex mutex;
  std::vector<TDatagram> got;
  std::atomic<int> reads{0};
  t->SetOnUDPRead([&](TLRUDP& tr) {
    uint8_t buf[2048];
    TLRUDP::TEndpoint from;
    const int32_t n = tr.ReceiveFrom(buf, sizeof buf, from);
    std::lock_guard lock(mutex);
    got.push_back({Bytes(buf, buf + std::max(n, 0)), from.IP, from.Port});
    reads++;
  });
  t->SetProxyEnabled(true);
  ASSERT_EQ(t->ProxyState(), TLRUDP::ProxyAssociated);
  EXPECT_EQ(t->RelayAddress(), (Socks5::TEndpoint{LoopbackIP(), relayPort}));

  Bytes expected = {5, 2, 0, 2, 1, 1, 'u', 1, 'p', 5, 3, 0, 1, 127, 0, 0, 1};
  expected.push_back(uint8_t(t->DefaultPort() >> 8));
  expected.push_back(uint8_t(t->DefaultPort()));
  EXPECT_EQ(proxy.Received(), expected);

  // Outgoing: wrapped and sent to the relay.
  ASSERT_TRUE(t->SendTo(htonl(0x0A000002), 8801, "hi", 2));
  auto frame = relay.Receive(2s);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->data, (Bytes{0, 0, 0, 1, 10, 0, 0, 2, 0x22, 0x61, 'h', 'i'}));

  // Incoming: a plain frame from the relay, a fragment from the relay, and a frame from a
  // stranger that claims to be the relay's traffic.
  relay.Send(t->DefaultPort(), {0, 0, 0, 1, 10, 0, 0, 3, 0x1F, 0x40, 'o', 'k'});
  relay.Send(t->DefaultPort(), {0, 0, 1, 1, 10, 0, 0, 3, 0x1F, 0x40, 'n', 'o'});
  TUdpPeer stranger;
  stranger.Send(t->DefaultPort(), {0, 0, 0, 1, 10, 0, 0, 3, 0x1F, 0x40, 'n', 'o'});
  for (int i = 0; i < 400 && reads < 3; ++i) std::this_thread::sleep_for(5ms);
  std::lock_guard lock(mutex);
  ASSERT_EQ(got.size(), 3u);
  int plain = 0;
  for (auto& d : got)
    if (!d.data.empty()) {
      ++plain;
      EXPECT_EQ(d.data, (Bytes{'o', 'k'}));
      EXPECT_EQ(d.ip, htonl(0x0A000003));
      EXPECT_EQ(d.port, 8000);
    }
  EXPECT_EQ(plain, 1);
}

// ---- against the real SOCKS5 server ---------------------------------------------------------

namespace {

// A request/response pair through the proxy: a client behind it asks a server on loopback.
void RoundTripThrough(uint16_t proxyPort, const std::string& user, const std::string& password) {
  auto server = StartEchoServer();

  TLRUDPClient client(nullptr);
  client.SetDefaultPort(FreeUdpPort());
  client.SetProxy("127.0.0.1", proxyPort, user, password, 3000);
  client.SetProxyEnabled(true);
  ASSERT_TRUE(client.SetActive(true));
  ASSERT_NE(client.Transport(), nullptr);
  ASSERT_EQ(client.Transport()->ProxyState(), TLRUDP::ProxyAssociated);
  for (int i = 0; i < 3; ++i) {
    uint8_t buf[1500] = {9, 0, uint8_t('a' + i)};
    int32_t replyLen = 0;
    ASSERT_TRUE(client.SendWait(LoopbackIP(), uint16_t(server->DefaultPort()), true, 2000, 0,
                                replyLen, buf, sizeof buf, 3, buf));
    EXPECT_EQ(Bytes(buf, buf + replyLen), (Bytes{9, 0, uint8_t('a' + i), '!'}));
    ASSERT_TRUE(client.SendWaitTable(LoopbackIP(), uint16_t(server->DefaultPort()), 2000, 0,
                                     replyLen, buf, sizeof buf, 3, buf));
    EXPECT_EQ(replyLen, 4);
  }
}

}  // namespace

TEST(Socks5Dante, AssociationWithoutAuthentication) {
  mltest::TempDir dir;
  TDantedServer dante;
  const auto r = dante.Start(dir.Path().string());
  if (r == TDantedServer::Unavailable) GTEST_SKIP() << "danted is not installed";
  ASSERT_EQ(r, TDantedServer::Started) << dante.Log();
  RoundTripThrough(dante.Port(), "", "");
  if (HasFailure()) ADD_FAILURE() << dante.Log();
}

TEST(Socks5Dante, AssociationWithUserNameAndPassword) {
  mltest::TempDir dir;
  TDantedServer dante;
  const auto r = dante.Start(dir.Path().string(), "mlproxy", "s3cret pass");
  if (r == TDantedServer::Unavailable) GTEST_SKIP() << "needs root to give danted a private user";
  ASSERT_EQ(r, TDantedServer::Started) << dante.Log();
  RoundTripThrough(dante.Port(), "mlproxy", "s3cret pass");
  if (HasFailure()) ADD_FAILURE() << dante.Log();

  // A wrong password is refused by the server.
  auto t = ProxiedTransport(dante.Port(), "mlproxy", "wrong");
  EXPECT_FALSE(t->EstablishProxy());
  EXPECT_EQ(t->ProxyState(), TLRUDP::ProxyFailed);
}
