// minilirra-service end to end: the service runs as its own process on loopback with a temporary
// database, and the client side (server list, login, keep-alive, logout) talks to it directly
// and through a lossy relay.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <memory>
#include <thread>

#include "net/LRCmdStream.h"
#include "net/ServerListRecords.h"
#include "net/LRUDPClient.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/ServiceProcess.h"
#include "service/ServiceStore.h"
#include "tests/support/TestSupport.h"
#include "base/IniFile.h"
#include "base/StrUtil.h"
#include "base/Version.h"
#include "online/uLogin.h"
#include "net/uServerListManager.h"

using namespace mlnettest;
using namespace mltest;
using mlsvctest::TServiceProcess;

namespace {

// One client program: its UDP client, server list, user record and login object.
struct TClient {
  ml::ManualClock* clock = nullptr;
  ml::TUserInfo info;
  std::unique_ptr<ml::TLRUDPClient> udp;
  std::unique_ptr<ml::TServerListManager> servers;
  std::unique_ptr<ml::TLRLogin> login;

  // listIP: where the list server is (0: the built-in address, 127.0.0.1).
  TClient(const std::string& appDir, uint16_t listPort, ml::ManualClock* fakeClock = nullptr, uint32_t listIP = 0) {
    udp = std::make_unique<ml::TLRUDPClient>(nullptr, fakeClock);
    udp->SetDefaultPort(FreeUdpPort());
    EXPECT_TRUE(udp->SetActive(true));
    info.LocalIP = LoopbackIP();
    info.NetKind = 3;
    info.LocalPort = uint16_t(udp->DefaultPort());
    ml::TServerListDefaults d;
    d.ListServerIP = listIP;
    d.ListServerPort = listPort;
    d.LoginHost.clear();  // no name lookup in tests
    servers = std::make_unique<ml::TServerListManager>(appDir + "LR4ServerList.bin", d);
    servers->SetUDPClient(udp.get());
    login = std::make_unique<ml::TLRLogin>(*udp, *servers, info, appDir);
  }
  ~TClient() {
    login.reset();
    udp->SetActive(false);
  }
};

std::vector<mlsvc::TSessionRow> Sessions(const std::string& db) {
  mlsvc::TServiceStore store(db, false);
  return store.Sessions();
}

bool HasSession(const std::string& db, int32_t id) {
  for (const auto& s : Sessions(db))
    if (s.UserID == id) return true;
  return false;
}

// Creates the database when missing; the password goes through a file, as an operator's would.
int32_t AddUser(const std::string& db, const std::string& name, const std::string& password) {
  int status = -1;
  TServiceProcess::Admin(db, {"init"}, &status);
  EXPECT_EQ(status, 0);
  TempDir tmp;
  WriteAll(tmp.File("pw"), password + "\n");
  const std::string out = TServiceProcess::Admin(db, {"add-user", name, "--password-file", tmp.File("pw")}, &status);
  EXPECT_EQ(status, 0) << out;
  return int32_t(ml::ParseIntDef(ml::Trim(out), 0));
}

class ServiceE2E : public ::testing::Test {
protected:
  TempDir dir;
  TServiceProcess service;
  std::string AppDir() { return dir.Path().string() + "/"; }
};

TEST_F(ServiceE2E, ListLoginKeepAliveLogoutDirect) {
  const std::string db = dir.File("service.db");
  const int32_t alice = AddUser(db, "alice", "pässwörd");
  ASSERT_GE(alice, 10);
  ASSERT_TRUE(service.Start(dir.Path().string())) << service.Log();

  TClient c(AppDir(), service.ListPort());
  EXPECT_EQ(c.servers->Version(), 6);  // built in before any download
  const std::string stored = ml::EncodeStoredPassword("pässwörd");

  // By number: the list comes first and is cached, then the login.
  ASSERT_TRUE(c.login->Login(std::to_string(alice), stored)) << c.login->LastMessage();
  EXPECT_TRUE(c.servers->DownloadedThisRun());
  EXPECT_EQ(c.servers->Version(), 7);
  uint16_t port = 0;
  uint32_t ip = 0;
  ASSERT_TRUE(c.servers->ServerFor(alice, 11, port, ip));
  EXPECT_EQ(port, service.Port());
  EXPECT_EQ(c.info.UserID.load(), alice);
  EXPECT_EQ(c.info.UserName(), "alice");
  EXPECT_EQ(c.info.PublicIP.load(), LoopbackIP());
  EXPECT_EQ(c.info.PublicPort.load(), c.udp->DefaultPort());
  EXPECT_EQ(c.login->LastMessage(), "登录成功");
  EXPECT_TRUE(HasSession(db, alice));
  {
    uint16_t version = 0;
    std::vector<ml::TServerEntry> entries;
    ASSERT_TRUE(ml::TServerListManager::ParseCache(ReadAll(AppDir() + "LR4ServerList.bin"), version, entries));
    EXPECT_EQ(version, 7);
    EXPECT_EQ(entries.size(), c.servers->EntryCount());
  }
  // The login is remembered, readable by its owner only.
  ml::IniFile saved;
  ASSERT_TRUE(saved.Load(AppDir() + "LoginSave.bin"));
  EXPECT_EQ(saved.ReadInteger("LastLogin", "ID", 0), alice);
  EXPECT_EQ(saved.ReadString("LastLogin", "Password"), stored);
  EXPECT_EQ(std::filesystem::status(AppDir() + "LoginSave.bin").permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  EXPECT_TRUE(c.login->KeepAliveOnce());
  c.login->Logout();
  EXPECT_FALSE(c.login->LoggedIn());
  EXPECT_FALSE(HasSession(db, alice));
  EXPECT_FALSE(c.login->KeepAliveOnce()) << "a keep-alive of an ended session is not answered";

  // By name (trimmed), then the wrong password and unknown users.
  ASSERT_TRUE(c.login->Login("  alice ", stored));
  EXPECT_EQ(c.info.UserID.load(), alice);
  c.login->Logout();
  EXPECT_FALSE(c.login->Login("alice", ml::EncodeStoredPassword("wrong")));
  EXPECT_EQ(c.login->LastResult(), ml::Status::WrongPassword);
  ASSERT_TRUE(saved.Load(AppDir() + "LoginSave.bin"));
  EXPECT_EQ(saved.ReadString("LastLogin", "Password"), "");
  EXPECT_FALSE(saved.ReadBool("LastLogin", "AutoLogin", true));
  EXPECT_FALSE(c.login->Login("nobody", stored));
  EXPECT_EQ(c.login->LastResult(), ml::Status::NoSuchUser);
  EXPECT_FALSE(c.login->Login("99", stored));
  EXPECT_EQ(c.login->LastResult(), ml::Status::NoSuchUser);

  // Anonymous connect: a number of its own, and a session the keep-alive holds.
  ASSERT_TRUE(c.login->Login("", ""));
  const int32_t anon = c.info.UserID;
  EXPECT_GE(anon, 100000000);
  EXPECT_TRUE(HasSession(db, anon));
  EXPECT_TRUE(c.login->KeepAliveOnce());
  c.login->Logout();
  EXPECT_FALSE(HasSession(db, anon));
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

TEST_F(ServiceE2E, KeepAliveThreadReportsAndListSurvivesRestart) {
  const std::string db = dir.File("service.db");
  const int32_t bob = AddUser(db, "bob", "secret");
  ASSERT_TRUE(service.Start(dir.Path().string())) << service.Log();
  {
    TClient c(AppDir(), service.ListPort());
    c.login->SetKeepAlivePeriodOverride(100);
    ASSERT_TRUE(c.login->Login("bob", ml::EncodeStoredPassword("secret")));
    EXPECT_TRUE(c.login->KeepAliveRunning());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (c.login->KeepAliveAnswers() < 3 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(c.login->KeepAliveAnswers(), 3u);
    c.login->StopKeepAlive();
    c.login->Logout();
  }
  // The next run starts from the cached table, which names the service's own port.
  EXPECT_EQ(service.Stop(), 0);
  ASSERT_TRUE(service.Start(dir.Path().string(), {}, service.Port(), service.ListPort()));
  ml::TServerListManager restarted(AppDir() + "LR4ServerList.bin");
  EXPECT_EQ(restarted.Version(), 7);
  uint16_t port = 0;
  uint32_t ip = 0;
  ASSERT_TRUE(restarted.ServerFor(bob, 1, port, ip));
  EXPECT_EQ(port, service.Port());

  // And the command-line front end logs in, keeps alive and logs out.
  WriteAll(dir.File("pw"), "secret\n");
  int status = -1;
  const std::string out = RunCapture(BinDir() + "/minilirra-cli --data-dir " + dir.Path().string() +
                                         " login --user bob --password-file " + dir.File("pw") +
                                         " --list-server 127.0.0.1:" + std::to_string(service.ListPort()) +
                                         " --udp-port " + std::to_string(FreeUdpPort()) +
                                         " --keepalive-ms 100 --keepalive-count 2 2>&1",
                                     &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("result: 0 logged in (登录成功)"), std::string::npos) << out;
  EXPECT_NE(out.find("user: " + std::to_string(bob)), std::string::npos) << out;
  EXPECT_NE(out.find("keep-alive: 2 reports, 2 answered"), std::string::npos) << out;
  EXPECT_NE(out.find("logged out"), std::string::npos) << out;
  EXPECT_FALSE(HasSession(db, bob));
}

TEST_F(ServiceE2E, ThroughLossyRelayAtTwentyPercent) {
  const std::string db = dir.File("service.db");
  const int32_t carol = AddUser(db, "carol", "pw");
  const uint16_t port = FreeUdpPort(), listPort = FreeUdpPort();
  TLinkFaults lossy;
  lossy.loss = 0.2;
  TLossyRelay listRelay(LoopbackIP(), listPort, lossy, lossy, 20261209);
  TLossyRelay mainRelay(LoopbackIP(), port, lossy, lossy, 20261210);
  ASSERT_TRUE(service.Start(dir.Path().string(), {"--advertise", "127.0.0.1:" + std::to_string(mainRelay.Port())},
                            port, listPort))
      << service.Log();

  // Waits run on a fast fake clock: a lost datagram costs its time-out in a fifth of real time.
  ml::ManualClock clock;
  TClockPump pump(clock, std::chrono::milliseconds(1));
  TClient c(AppDir(), listRelay.Port(), &clock);
  const std::string stored = ml::EncodeStoredPassword("pw");

  ASSERT_TRUE(c.login->Login(std::to_string(carol), stored)) << c.login->LastMessage();
  EXPECT_TRUE(c.servers->DownloadedThisRun());
  uint16_t p = 0;
  uint32_t ip = 0;
  ASSERT_TRUE(c.servers->ServerFor(carol, 2, p, ip));
  EXPECT_EQ(p, mainRelay.Port());
  EXPECT_TRUE(HasSession(db, carol));
  int answered = 0;
  for (int i = 0; i < 8; ++i) answered += c.login->KeepAliveOnce() ? 1 : 0;
  EXPECT_GE(answered, 2);
  // Logout counts as done even unanswered; repeat it until the service has heard it.
  for (int i = 0; i < 6 && HasSession(db, carol); ++i) c.login->Logout();
  EXPECT_FALSE(HasSession(db, carol));

  ASSERT_TRUE(c.login->Login("", "")) << c.login->LastMessage();
  const int32_t anon = c.info.UserID;
  EXPECT_TRUE(HasSession(db, anon));
  for (int i = 0; i < 6 && HasSession(db, anon); ++i) c.login->Logout();
  EXPECT_FALSE(HasSession(db, anon));
  EXPECT_GT(mainRelay.ToServerStats().dropped + mainRelay.ToClientStats().dropped +
                listRelay.ToServerStats().dropped + listRelay.ToClientStats().dropped,
            0u);
}

// Their end after missed keep-alives is tested on a manual clock (service_core_tests).
TEST_F(ServiceE2E, SessionsSurviveARestart) {
  WriteAll(dir.File("service.ini"), "[sessions]\ninternal_period_ms=300000\nkeepalive_periods=3\n");
  ASSERT_TRUE(service.Start(dir.Path().string(), {"--config", dir.File("service.ini")})) << service.Log();
  const std::string db = service.DbPath();
  TClient c(AppDir(), service.ListPort());
  ASSERT_TRUE(c.login->Login("", ""));
  const int32_t anon = c.info.UserID;
  EXPECT_TRUE(c.login->KeepAliveOnce());
  ASSERT_EQ(service.Stop(), 0);
  ASSERT_TRUE(service.Start(dir.Path().string(), {"--config", dir.File("service.ini")}, service.Port(),
                            service.ListPort()));
  EXPECT_TRUE(HasSession(db, anon));
  EXPECT_TRUE(c.login->KeepAliveOnce()) << "the restarted service knows the session and its key";
}

TEST_F(ServiceE2E, AdministratorSetsSlotsOfTheServedTable) {
  const std::string db = dir.File("service.db");
  int status = -1;
  TServiceProcess::Admin(db, {"init"}, &status);
  EXPECT_EQ(status, 0);
  TServiceProcess::Admin(db, {"set-servers", "4", "10.1.2.3:8005", "10.1.2.4:8006"}, &status);
  EXPECT_EQ(status, 0);
  TServiceProcess::Admin(db, {"set-servers", "40", "10.1.2.3:8005"}, &status);
  EXPECT_NE(status, 0) << "no slot 40";
  TServiceProcess::Admin(db, {"set-servers", "5", "10.1.2.3"}, &status);
  EXPECT_NE(status, 0) << "a server needs its port";
  const std::string listed = TServiceProcess::Admin(db, {"list-servers"}, &status);
  EXPECT_EQ(listed, "version 8\n4\t10.1.2.3:8005\n4\t10.1.2.4:8006\n");
  ASSERT_TRUE(service.Start(dir.Path().string())) << service.Log();

  ml::TLRUDPClient udp(nullptr);
  udp.SetDefaultPort(FreeUdpPort());
  ASSERT_TRUE(udp.SetActive(true));
  ml::TServerListDefaults d;
  d.ListServerPort = service.ListPort();
  d.LoginHost.clear();
  ml::TServerListManager list(AppDir() + "LR4ServerList.bin", d);
  list.SetUDPClient(&udp);
  ASSERT_TRUE(list.Download(0, ml::ProgramVersion, false));
  EXPECT_EQ(list.Version(), 8);
  uint16_t port = 0;
  uint32_t ip = 0;
  ASSERT_TRUE(list.ServerFor(0, 14, port, ip));
  EXPECT_EQ(ip, htonl(0x0A010203));
  EXPECT_EQ(port, 8005);
  ASSERT_TRUE(list.ServerFor(1, 14, port, ip));
  EXPECT_EQ(port, 8006);
  ASSERT_TRUE(list.ServerFor(0, 1, port, ip));
  EXPECT_EQ(port, service.Port()) << "other slots stay with the service";
  udp.SetActive(false);
}

// Bound to every interface, the service answers at any of the machine's addresses, from that
// address, and names it in the served table; at level debug each request leaves a line.
TEST_F(ServiceE2E, EveryInterfaceWhenAskedWithALinePerRequest) {
  ASSERT_TRUE(service.Start(dir.Path().string(), {"--address", "0.0.0.0", "--log", "debug"})) << service.Log();
  const uint32_t other = htonl(0x7F000002);  // 127.0.0.2: not the default address
  TUdpPeer peer;
  const Bytes request =
      EnvelopeBytes(ml::Envelope::Keyed, {5, 1}, Written(ml::WriteServerListRequest, ml::TServerListRequest{0, 5004, 0}));
  peer.Send(other, service.ListPort(), request.data(), request.size());
  auto d = peer.Receive(std::chrono::milliseconds(3000));
  ASSERT_TRUE(d) << service.Log();
  EXPECT_EQ(d->ip, other) << "the answer comes from the address the request went to";
  ml::TOpenedEnvelope env;
  ASSERT_TRUE(ml::OpenEnvelope(d->data.data(), d->data.size(), env));
  ml::TServerListReply table;
  ASSERT_TRUE(ml::ReadServerListReply(env.Payload, env.PayloadLength, table));
  ASSERT_FALSE(table.Entries.empty());
  for (const ml::TServerEntry& e : table.Entries) {
    EXPECT_EQ(e.Address, other);
    EXPECT_EQ(e.Port, service.Port());
  }

  {
    // A client that knows the service only by that address logs in through it.
    TClient c(AppDir(), service.ListPort(), nullptr, other);
    EXPECT_TRUE(c.login->Login("", "")) << c.login->LastMessage();
  }

  EXPECT_EQ(service.Stop(), 0);
  const std::string log = service.Log();
  EXPECT_NE(log.find("request 127.0.0.1:" + std::to_string(peer.Port()) + " -> list code 9: answered the whole table"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("-> main code 1: logged in, user"), std::string::npos) << log;
  EXPECT_NE(log.find("listening on every interface, UDP ports"), std::string::npos) << log;
}

}  // namespace
