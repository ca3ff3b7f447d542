// Forged and malformed datagrams get no answer and do not stop the service; a login flood from
// one source is cut down while another client still logs in.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <memory>
#include <thread>

#include "net/LoginRecords.h"
#include "net/LRUDPClient.h"
#include "net/NetTypeRecords.h"
#include "net/ServerListRecords.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/ServiceProcess.h"
#include "tests/support/TestSupport.h"
#include "base/StrUtil.h"
#include "online/uLogin.h"
#include "net/uServerListManager.h"

using namespace mlnettest;
using namespace mltest;
using mlsvctest::TServiceProcess;

namespace {

Bytes ListRequest() { return Written(ml::WriteServerListRequest, ml::TServerListRequest{0, 5004, 6}); }

Bytes LoginRecord(int32_t who, uint8_t netKind = ml::NetKind::InternalC) {
  ml::TLoginRequest r;
  r.Requested = who;
  r.LocalIP = LoopbackIP();
  r.LocalPort = 7000;
  r.NetKind = netKind;
  r.ProgramVersion = 5004;
  return Written(ml::WriteLoginRequest, r);
}

Bytes KeepAlive(int32_t user, int32_t key) {
  ml::TKeepAliveRequest r;
  r.UserID = user;
  r.LoggedIn = true;
  r.NetKind = ml::NetKind::InternalC;
  r.ProgramVersion = 5004;
  r.LoginKey = key;
  return Written(ml::WriteKeepAliveRequest, r);
}

// What a login answer says; status 0 when none came.
ml::TLoginReply ReadAnswer(const std::optional<Bytes>& answer) {
  ml::TLoginReply r;
  r.Status = 0;
  if (answer) ml::ReadLoginReply(answer->data(), answer->size(), r, false);
  return r;
}

// Sends one datagram and returns the payload of the answer, if one came.
std::optional<Bytes> Ask(TUdpPeer& peer, uint16_t port, const Bytes& datagram, int waitMs = 150) {
  peer.Send(port, datagram);
  auto d = peer.Receive(std::chrono::milliseconds(waitMs));
  if (!d) return std::nullopt;
  ml::TOpenedEnvelope env;
  if (!ml::OpenEnvelope(d->data.data(), d->data.size(), env)) return Bytes();
  return Bytes(env.Payload, env.Payload + env.PayloadLength);
}

class ServiceHostile : public ::testing::Test {
protected:
  TempDir dir;
  TServiceProcess service;
  void SetUp() override { ASSERT_TRUE(service.Start(dir.Path().string())) << service.Log(); }
};

TEST_F(ServiceHostile, MalformedAndForgedDatagramsGetNoAnswer) {
  TUdpPeer peer, other;
  const uint16_t mainPort = service.Port(), listPort = service.ListPort();
  const Bytes list = EnvelopeBytes(ml::Envelope::Keyed, {5, 1}, ListRequest());
  ASSERT_TRUE(Ask(peer, listPort, list)) << "control: a good list request is answered";

  // A session of our own, from an anonymous login.
  const ml::TLoginReply session = ReadAnswer(Ask(peer, mainPort, EnvelopeBytes(ml::Envelope::Table, {1, 2}, LoginRecord(-1)), 5000));
  ASSERT_EQ(session.Status, ml::Status::OK);
  const int32_t user = session.UserID, key = session.LoginKey;
  ASSERT_TRUE(Ask(peer, mainPort, EnvelopeBytes(ml::Envelope::Keyed, {user, 3}, KeepAlive(user, key))));

  struct Case {
    std::string name;
    uint16_t port;
    Bytes datagram;
    TUdpPeer* from;
  };
  std::vector<Case> cases;
  auto add = [&](std::string name, uint16_t port, Bytes d, TUdpPeer* from = nullptr) {
    cases.push_back({std::move(name), port, std::move(d), from ? from : &peer});
  };
  for (size_t n : {size_t(0), size_t(1), size_t(9), size_t(13), size_t(14), list.size() - 1})
    add("list request cut to " + std::to_string(n), listPort, Bytes(list.begin(), list.begin() + long(n)));
  for (size_t at : {size_t(1), size_t(3), size_t(13), list.size() - 1}) {
    Bytes d = list;
    d[at] ^= 0x40;
    add("list request with byte " + std::to_string(at) + " changed", listPort, d);
  }
  for (uint8_t kind : {0, 49, 50, 57, 110, 200, 255}) {
    Bytes d = list;
    d[0] = kind;
    add("list request in kind " + std::to_string(kind), listPort, d);
  }
  Bytes shortList = ListRequest();
  shortList.pop_back();
  add("list record of 11 bytes", listPort, EnvelopeBytes(ml::Envelope::Keyed, {5, 4}, shortList));
  add("oversized datagram", listPort, [&] { Bytes d = list; d.resize(1461, 0); return d; }());
  add("huge datagram", mainPort, Bytes(3000, 101));
  Bytes cutLogin = LoginRecord(-1);
  cutLogin.resize(40);
  add("login record cut before the digest", mainPort, EnvelopeBytes(ml::Envelope::Table, {1, 5}, cutLogin));
  Bytes lyingName = LoginRecord(0);
  lyingName.back() = 200;
  lyingName.insert(lyingName.end(), {'a', 'b', 'c'});
  add("login name longer than the datagram", mainPort, EnvelopeBytes(ml::Envelope::Table, {0, 6}, lyingName));
  add("login as user 5", mainPort, EnvelopeBytes(ml::Envelope::Table, {5, 7}, LoginRecord(5)));
  add("login with network kind 9", mainPort, EnvelopeBytes(ml::Envelope::Table, {1, 8}, LoginRecord(-1, 9)));
  add("login as user -7", mainPort, EnvelopeBytes(ml::Envelope::Table, {1, 9}, LoginRecord(-7)));
  add("unknown command", mainPort, EnvelopeBytes(ml::Envelope::Keyed, {1, 10}, Bytes{77, 0, 0, 0, 0, 0}));
  add("keep-alive in a table envelope", mainPort, EnvelopeBytes(ml::Envelope::Table, {user, 10}, KeepAlive(user, key)));
  add("keep-alive with the wrong key", mainPort,
      EnvelopeBytes(ml::Envelope::Keyed, {user, 11}, KeepAlive(user, key ^ 1)));
  add("keep-alive of an unknown user", mainPort,
      EnvelopeBytes(ml::Envelope::Keyed, {user, 12}, KeepAlive(user + 1, key)));
  add("keep-alive with the right key from another port", mainPort,
      EnvelopeBytes(ml::Envelope::Keyed, {user, 13}, KeepAlive(user, key)), &other);
  add("logout from another port", mainPort,
      EnvelopeBytes(ml::Envelope::Table, {user, 14},
                    Written(ml::WriteLogoutRequest, ml::TLogoutRequest{user, key, LoopbackIP(), 7000, 3, false})),
      &other);
  add("keep-alive cut short", mainPort,
      EnvelopeBytes(ml::Envelope::Keyed, {user, 15}, [&] { Bytes k = KeepAlive(user, key); k.resize(18); return k; }()));

  for (const Case& c : cases) EXPECT_FALSE(Ask(*c.from, c.port, c.datagram, 100)) << c.name;

  // Still running, and the session survived the forged logout.
  EXPECT_TRUE(Ask(peer, listPort, EnvelopeBytes(ml::Envelope::Keyed, {5, 16}, ListRequest())));
  EXPECT_TRUE(Ask(peer, mainPort, EnvelopeBytes(ml::Envelope::Keyed, {user, 17}, KeepAlive(user, key))));
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

// The limits themselves are tested on a manual clock (service_core_tests); here the service
// survives a flood and another client gets in meanwhile.
TEST_F(ServiceHostile, ALoginFloodFromOneSourceLeavesRoomForOthers) {
  const std::string db = service.DbPath();
  int status = -1;
  WriteAll(dir.File("pw"), "pw\n");
  const std::string out = TServiceProcess::Admin(db, {"add-user", "erin", "--password-file", dir.File("pw")}, &status);
  ASSERT_EQ(status, 0) << out;

  TUdpPeer flooder;
  std::vector<Bytes> flood;
  for (int i = 1; i <= 400; ++i)
    flood.push_back(EnvelopeBytes(ml::Envelope::Table, {1, i}, LoginRecord(-1)));
  flooder.SendBatch(service.Port(), flood);

  // Meanwhile another client of the same machine logs in.
  ml::TUserInfo info;
  info.LocalIP = LoopbackIP();
  ml::TLRUDPClient udp(nullptr);
  udp.SetDefaultPort(FreeUdpPort());
  ASSERT_TRUE(udp.SetActive(true));
  ml::TServerListDefaults d;
  d.ListServerPort = service.ListPort();
  d.LoginHost.clear();
  ml::TServerListManager list(dir.File("LR4ServerList.bin"), d);
  list.SetUDPClient(&udp);
  {
    ml::TLRLogin login(udp, list, info, dir.Path().string() + "/");
    EXPECT_TRUE(login.Login("erin", ml::EncodeStoredPassword("pw"))) << login.LastMessage();
  }
  udp.SetActive(false);

  int answers = 0;
  while (flooder.Receive(std::chrono::milliseconds(300))) ++answers;
  EXPECT_GE(answers, 1);
  EXPECT_LT(answers, int(flood.size()) / 10) << "the flood is cut down to its burst and rate";
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

// Not hostile, but it needs the raw peer: the network-type check. The probe comes from the other
// port; an answer makes the client reachable (kind 0 when the service sees the address the client
// reports, 1 behind translation), silence makes it 4 or 3.
TEST_F(ServiceHostile, NetworkTypeCheckProbesFromTheSecondPort) {
  struct Case {
    const char* name;
    bool answerProbe;
    uint8_t kind;
  };
  const Case cases[] = {{"probe answered", true, ml::NetKind::ExternalA}, {"probe unanswered", false, ml::NetKind::ExternalB}};
  int serial = 100;
  for (const Case& c : cases) {
    TUdpPeer peer;
    const ml::TLoginReply session =
        ReadAnswer(Ask(peer, service.Port(), EnvelopeBytes(ml::Envelope::Table, {1, ++serial}, LoginRecord(-1)), 5000));
    ASSERT_EQ(session.Status, ml::Status::OK) << c.name;
    const int32_t user = session.UserID;
    peer.Send(service.Port(), EnvelopeBytes(ml::Envelope::Keyed, {0, 0},
                                            Written(ml::WriteNetTypeCheck, ml::TNetTypeCheck{user, ml::NetKind::InternalC})));
    auto probe = peer.Receive(std::chrono::milliseconds(2000));
    ASSERT_TRUE(probe) << c.name;
    EXPECT_EQ(probe->port, service.ListPort()) << c.name;
    ml::TOpenedEnvelope env;
    ASSERT_TRUE(ml::OpenEnvelope(probe->data.data(), probe->data.size(), env));
    ml::TPresenceCheck check;
    ASSERT_TRUE(ml::ReadPresenceCheck(env.Payload, env.PayloadLength, check)) << c.name;
    if (c.answerProbe)
      peer.Send(service.ListPort(), EnvelopeBytes(ml::Envelope::Keyed, {user, 0},
                                                  Written(ml::WritePresenceAnswer, ml::TPresenceAnswer{user, check.Token, peer.Port()})));
    auto result = peer.Receive(std::chrono::milliseconds(3000));
    ASSERT_TRUE(result) << c.name;
    EXPECT_EQ(result->port, service.Port()) << c.name;
    ASSERT_TRUE(ml::OpenEnvelope(result->data.data(), result->data.size(), env));
    ml::TNetTypeResult kind;
    ASSERT_TRUE(ml::ReadNetTypeResult(env.Payload, env.PayloadLength, kind)) << c.name;
    EXPECT_EQ(kind.NetKind, c.kind) << c.name;
  }
}

}  // namespace
