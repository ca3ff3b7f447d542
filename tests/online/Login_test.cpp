// The login client against a scripted login server: the records it sends, how it reads every
// kind of answer, what it saves, and the keep-alive's reaction to a newer server list.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/LRCmdStream.h"
#include "net/LRUDPClient.h"
#include "net/LoginRecords.h"
#include "net/ServerListRecords.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"
#include "base/IniFile.h"
#include "online/uLogin.h"
#include "net/uServerListManager.h"

using namespace ml;
using namespace mlnettest;
using namespace mltest;

namespace {

// A login server on loopback: answers the list request with a table naming itself, and every
// other request with what the test's function returns for it.
class TScriptedLoginServer {
public:
  using TAnswer = std::function<Bytes(uint16_t code, TCmdStream& request)>;
  explicit TScriptedLoginServer(TAnswer answer) : answer_(std::move(answer)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TScriptedLoginServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t Port() const { return peer_.Port(); }
  std::atomic<uint16_t> listVersion{8};
  std::atomic<int> listRequests{0}, logins{0};

private:
  void Run() {
    while (!stop_) {
      auto d = peer_.Receive(std::chrono::milliseconds(20));
      if (!d) continue;
      TOpenedEnvelope env;
      if (!OpenEnvelope(d->data.data(), d->data.size(), env)) continue;
      TCmdStream s;
      s.InitRead(env.Payload, int32_t(env.PayloadLength));
      const uint16_t code = s.ReadWord(0);
      Bytes reply;
      if (code == Cmd::ServerList) {
        ++listRequests;
        TServerListReply table;
        table.Version = listVersion;
        for (uint16_t slot : {2, 11, 15}) table.Entries.push_back({slot, LoopbackIP(), peer_.Port()});
        reply = Written(WriteServerListReply, table);
      } else {
        if (code == Cmd::Login) ++logins;
        reply = answer_(code, s);
      }
      if (!reply.empty()) peer_.Send(d->port, EnvelopeBytes(env.Kind, env.Guid, reply));
    }
  }
  TAnswer answer_;
  TUdpPeer peer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

Bytes LoginOK(int32_t account, bool doNotRemember = false, const std::string& name = "dave") {
  TLoginReply r;
  r.UserID = account;
  r.LoginKey = 4242;
  r.PublicIP = htonl(0xC0000201);  // 192.0.2.1
  r.PublicPort = 4321;
  r.DoNotRemember = doNotRemember;
  r.NewestVersion = 5005;
  r.UpdateFileSize = 123456;
  r.UpdateDigest.fill(0xAB);
  r.UserName = name;
  r.WebKey = "key";
  r.Notice = "hello";
  return Written(+[](TCmdStream& s, const TLoginReply& x) { return WriteLoginReply(s, x, false); }, r);
}

// A request the server thread keeps for the test to read: the reply that follows reaches the test
// through a socket, which orders nothing for the memory model, so the bytes sit behind a lock.
class TCapturedRequest {
public:
  void Keep(const TCmdStream& s) {
    std::lock_guard lock(mutex_);
    bytes_.assign(s.Buffer(), s.Buffer() + s.Size());
  }
  Bytes Get() const {
    std::lock_guard lock(mutex_);
    return bytes_;
  }

private:
  mutable std::mutex mutex_;
  Bytes bytes_;
};

Bytes Refusal(uint16_t status, uint16_t reason = 0) {
  TLoginReply r;
  r.Status = status;
  r.Reason = reason;
  return Written(+[](TCmdStream& s, const TLoginReply& x) { return WriteLoginReply(s, x, false); }, r);
}

class LoginTest : public ::testing::Test {
protected:
  TempDir dir;
  TUserInfo info;
  TLRUDPClient udp{nullptr};
  std::string AppDir() { return dir.Path().string() + "/"; }
  void SetUp() override {
    udp.SetDefaultPort(FreeUdpPort());
    ASSERT_TRUE(udp.SetActive(true));
    info.LocalIP = htonl(0xC0A80005);  // 192.168.0.5
    info.LocalPort = uint16_t(udp.DefaultPort());
    info.NetKind = 3;
  }
  std::unique_ptr<TServerListManager> List(uint16_t port) {
    TServerListDefaults d;
    d.ListServerPort = port;
    d.LoginHost.clear();
    d.TimeoutMs = 500;
    auto m = std::make_unique<TServerListManager>(AppDir() + "LR4ServerList.bin", d);
    m->SetUDPClient(&udp);
    return m;
  }
};

TEST(StoredPassword, FormAndDamage) {
  const std::string stored = EncodeStoredPassword("secret");
  ASSERT_EQ(stored.size(), 68u);
  for (char c : stored) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << stored;
  EXPECT_EQ(DecodeStoredPassword(stored), "5ebe2294ecd0e0f08eab7690d2a6ee69");  // MD5("secret")
  for (size_t i : {0u, 3u, 40u, 67u}) {
    std::string flipped = stored;
    flipped[i] = flipped[i] == '0' ? '1' : '0';
    EXPECT_EQ(DecodeStoredPassword(flipped), "") << i;
  }
  for (const char* bad : {"", "ZZ", "0102", "123"}) EXPECT_EQ(DecodeStoredPassword(bad), "") << bad;
  EXPECT_TRUE(LRMD5::MD5DigestIsZero(StoredPasswordDigest("garbage")));
  EXPECT_EQ(LRMD5::MD5DigestToStr(StoredPasswordDigest(stored)), "5ebe2294ecd0e0f08eab7690d2a6ee69");
}

TEST(LoginResultText, Codes) {
  EXPECT_EQ(LoginResultText(0), "登录成功");
  EXPECT_EQ(LoginResultText(147), "请您检查用户名与密码是否正确！错误代码：147");
  EXPECT_EQ(LoginResultText(150), "连接服务器超时！错误代码：150");
  EXPECT_EQ(LoginResultText(-1), "未知错误");
  EXPECT_EQ(LoginResultText(77), "登录失败，错误代码:77");
}

TEST_F(LoginTest, ByNumberSendsTheRecordAndReadsTheAnswer) {
  TCapturedRequest captured;
  TScriptedLoginServer server([&](uint16_t code, TCmdStream& s) {
    if (code != Cmd::Login) return Bytes();
    captured.Keep(s);
    return LoginOK(12345);
  });
  auto list = List(server.Port());
  TLRLogin login(udp, *list, info, AppDir());
  login.SetAutoLogin(true);
  const std::string stored = EncodeStoredPassword("secret");
  int attempts = 0;
  login.OnAttempt = [&](int, int, uint32_t, uint16_t) { ++attempts; };
  ASSERT_TRUE(login.Login(" 12345 ", stored)) << login.LastMessage();
  EXPECT_EQ(attempts, 1) << "an answered first try is the only one";
  EXPECT_EQ(server.listRequests.load(), 1);

  const Bytes seen = captured.Get();
  TLoginRequest sent;
  ASSERT_TRUE(ReadLoginRequest(seen.data(), seen.size(), sent));
  EXPECT_EQ(seen.size(), TLoginRequest::FixedSize + 1) << "an empty name";
  EXPECT_EQ(sent.Requested, 12345);
  EXPECT_EQ(sent.LocalIP, htonl(0xC0A80005));
  EXPECT_EQ(sent.LocalPort, info.LocalPort.load());
  EXPECT_EQ(sent.NetKind, NetKind::InternalC);
  EXPECT_EQ(sent.LoginKind, TLoginRequest::KindByNumber);
  EXPECT_EQ(sent.ProgramVersion, 5004);
  EXPECT_EQ(sent.EditionCode, 0);
  TMD5Digest d;
  d.v = sent.PasswordDigest;
  EXPECT_EQ(LRMD5::MD5DigestToStr(d), "5ebe2294ecd0e0f08eab7690d2a6ee69");

  EXPECT_EQ(info.UserID.load(), 12345);
  EXPECT_EQ(info.UserName(), "dave");
  EXPECT_EQ(info.PublicIP.load(), htonl(0xC0000201));
  EXPECT_EQ(info.PublicPort.load(), 4321);
  EXPECT_EQ(udp.UserID(), 12345);
  EXPECT_EQ(login.LoginKey(), 4242);
  EXPECT_EQ(login.Notice(), "hello");
  EXPECT_EQ(login.Update().NewestVersion, 5005);
  EXPECT_EQ(login.Update().FileSize, 123456);
  EXPECT_TRUE(login.KeepAliveRunning());
  TLRLogin reread(udp, *list, info, AppDir());
  EXPECT_TRUE(reread.ShouldAutoLogin());
  EXPECT_EQ(reread.LastLogin().ID, 12345);
  EXPECT_EQ(reread.LastLogin().Password, stored);
}

TEST_F(LoginTest, AnswersAndWhatIsSaved) {
  struct Case {
    const char* name;
    std::string user;
    Bytes reply;
    int code;
    bool fileWritten;
    std::string savedPassword;
  };
  const std::string stored = EncodeStoredPassword("pw");
  Bytes notOne = LoginOK(12345);
  notOne[0] = 2;
  const Bytes refusalWithoutReason = {1, 0, Status::Refused, 0};
  Bytes cut = LoginOK(12345);
  cut.resize(20);
  const Case cases[] = {
      {"ok by name", "dave", LoginOK(12345), 0, true, stored},
      {"do not remember", "dave", LoginOK(12345, true), 0, false, ""},
      {"status 145 code 147", "dave", Refusal(Status::Refused, Status::WrongPassword), 147, true, ""},
      {"status 145 without code", "dave", refusalWithoutReason, 65535, false, ""},
      {"status 149", "dave", Refusal(Status::TooOld), 149, false, ""},
      {"status 0", "dave", Refusal(0), 1, false, ""},
      {"not word 1", "dave", notOne, 1, false, ""},
      {"success cut short", "dave", cut, 1, false, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(AppDir() + "LoginSave.bin");
    TScriptedLoginServer server([&](uint16_t code, TCmdStream&) { return code == Cmd::Login ? c.reply : Bytes(); });
    auto list = List(server.Port());
    TLRLogin login(udp, *list, info, AppDir());
    EXPECT_EQ(login.Login(c.user, stored), c.code == 0) << c.name;
    EXPECT_EQ(login.LastResult(), c.code) << c.name;
    EXPECT_EQ(login.LastMessage(), LoginResultText(c.code)) << c.name;
    EXPECT_EQ(std::filesystem::exists(AppDir() + "LoginSave.bin"), c.fileWritten) << c.name;
    if (c.fileWritten) {
      IniFile ini;
      ASSERT_TRUE(ini.Load(AppDir() + "LoginSave.bin"));
      EXPECT_EQ(ini.ReadString("LastLogin", "Password"), c.savedPassword) << c.name;
    }
  }
}

TEST_F(LoginTest, NoAnswerIs150AfterSixTriesEachAnnounced) {
  // The list server answers; the login server named by it never does. Time runs on a fast clock.
  ManualClock clock;
  TLRUDPClient fast(nullptr, &clock);
  fast.SetDefaultPort(FreeUdpPort());
  ASSERT_TRUE(fast.SetActive(true));
  TScriptedLoginServer server([](uint16_t, TCmdStream&) { return Bytes(); });
  TServerListDefaults d;
  d.ListServerPort = server.Port();
  d.LoginHost.clear();
  TServerListManager list(AppDir() + "LR4ServerList.bin", d);
  list.SetUDPClient(&fast);
  TLRLogin login(fast, list, info, AppDir());
  // Each try is announced before its request leaves, naming the server it goes to.
  std::vector<std::string> attempts;
  login.OnAttempt = [&](int attempt, int tries, uint32_t ip, uint16_t port) {
    const bool before = server.logins < attempt;
    attempts.push_back(std::to_string(attempt) + "/" + std::to_string(tries) + (before ? " before" : " after") +
                       (ip == LoopbackIP() && port == server.Port() ? " to the server" : " elsewhere"));
  };
  TClockPump pump(clock, std::chrono::milliseconds(20));
  EXPECT_FALSE(login.Login("", ""));
  EXPECT_EQ(login.LastResult(), 150);
  EXPECT_EQ(server.logins.load(), 6);
  std::vector<std::string> expected;
  for (int i = 1; i <= 6; ++i) expected.push_back(std::to_string(i) + "/6 before to the server");
  EXPECT_EQ(attempts, expected);
  EXPECT_FALSE(login.LoggedIn());
  fast.SetActive(false);
}

TEST_F(LoginTest, KeepAliveRecordAndNewerListForcesDownload) {
  TCapturedRequest captured;
  TScriptedLoginServer server([&](uint16_t code, TCmdStream& s) {
    if (code == Cmd::Login) return LoginOK(12345);
    if (code != Cmd::KeepAlive) return Bytes();
    captured.Keep(s);
    return Written(WriteKeepAliveReply, TKeepAliveReply{0, 0, 30, "new"});  // 30: newer than ours
  });
  auto list = List(server.Port());
  TLRLogin login(udp, *list, info, AppDir());
  ASSERT_TRUE(login.Login("12345", EncodeStoredPassword("pw")));
  EXPECT_EQ(list->Version(), 8);
  EXPECT_EQ(server.listRequests.load(), 1);
  server.listVersion = 30;
  ASSERT_TRUE(login.KeepAliveOnce());
  EXPECT_EQ(server.listRequests.load(), 2) << "a newer version forces a download";
  EXPECT_EQ(list->Version(), 30);
  EXPECT_EQ(login.Notice(), "new");
  const Bytes keepAlive = captured.Get();
  ASSERT_EQ(keepAlive.size(), TKeepAliveRequest::FixedSize);
  TKeepAliveRequest report;
  ASSERT_TRUE(ReadKeepAliveRequest(keepAlive.data(), keepAlive.size(), report));
  EXPECT_EQ(report.UserID, 12345);
  EXPECT_TRUE(report.LoggedIn);
  EXPECT_EQ(report.NetKind, NetKind::InternalC);
  EXPECT_EQ(report.ProgramVersion, 5004);
  EXPECT_EQ(report.LoginKey, 4242);
  // The session's period is the one of the kind it logged in with, whatever the kind becomes
  // (the service keeps the session by the same period); the next login fixes it anew.
  EXPECT_EQ(login.KeepAlivePeriodMs(), 45000);
  info.NetKind = NetKind::ExternalA;
  EXPECT_EQ(login.KeepAlivePeriodMs(), 45000);
  ASSERT_TRUE(login.Login("12345", EncodeStoredPassword("pw")));
  EXPECT_EQ(login.KeepAlivePeriodMs(), 240000);
}

TEST_F(LoginTest, ANewerListVersionCountsAcrossTheWrap) {
  struct Case {
    uint16_t ours, announced;
    bool download;
  };
  const Case cases[] = {{8, 9, true}, {8, 8, false}, {9, 8, false}, {65535, 1, true}, {1, 65535, false}, {65534, 65535, true}};
  for (const Case& c : cases) {
    TScriptedLoginServer server([&](uint16_t code, TCmdStream&) {
      if (code == Cmd::Login) return LoginOK(12345);
      return code == Cmd::KeepAlive ? Written(WriteKeepAliveReply, TKeepAliveReply{0, 0, c.announced, ""}) : Bytes();
    });
    server.listVersion = c.ours;
    std::filesystem::remove(AppDir() + "LR4ServerList.bin");
    auto list = List(server.Port());
    TLRLogin login(udp, *list, info, AppDir());
    ASSERT_TRUE(login.Login("12345", EncodeStoredPassword("pw")));
    ASSERT_EQ(list->Version(), c.ours);
    ASSERT_TRUE(login.KeepAliveOnce());
    EXPECT_EQ(server.listRequests.load(), c.download ? 2 : 1) << c.ours << " then " << c.announced;
  }
}

TEST_F(LoginTest, UnansweredKeepAlivesLogInAgainUntilALogout) {
  std::atomic<bool> keepAlivesAnswered{true};
  TScriptedLoginServer server([&](uint16_t code, TCmdStream&) {
    if (code == Cmd::Login) return LoginOK(12345);
    if (code == Cmd::KeepAlive && keepAlivesAnswered) return Written(WriteKeepAliveReply, TKeepAliveReply{0, 0, 8, ""});
    return Bytes();
  });
  // Unanswered waits pass on a fast clock.
  ManualClock clock;
  TLRUDPClient fast(nullptr, &clock);
  fast.SetDefaultPort(FreeUdpPort());
  ASSERT_TRUE(fast.SetActive(true));
  TClockPump pump(clock, std::chrono::milliseconds(20));
  auto list = List(server.Port());
  list->SetUDPClient(&fast);
  TLRLogin login(fast, *list, info, AppDir());
  std::atomic<int> relogins{0};
  login.OnRelogin = [&](int code) {
    if (code == 0) ++relogins;
  };
  login.SetKeepAlivePeriodOverride(30);
  ASSERT_TRUE(login.Login("12345", EncodeStoredPassword("pw")));
  auto waitFor = [](const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
  };
  ASSERT_TRUE(waitFor([&] { return login.KeepAliveAnswers() >= 2; }));
  EXPECT_EQ(server.logins.load(), 1) << "answered reports keep the session";

  // The service has forgotten us: the client does not stay "logged in" for ever.
  keepAlivesAnswered = false;
  ASSERT_TRUE(waitFor([&] { return relogins >= 1; })) << server.logins.load();
  EXPECT_GE(server.logins.load(), 2);
  EXPECT_TRUE(info.LoggedIn.load());
  EXPECT_TRUE(login.LoggedIn());

  // After a logout nobody logs in behind the user's back.
  login.Logout();
  const int logins = server.logins;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(server.logins.load(), logins);
  EXPECT_FALSE(info.LoggedIn.load());
  login.StopKeepAlive();
  fast.SetActive(false);
}

TEST_F(LoginTest, ClosingTheClientDuringALoginsPortMovesIsSafe) {
  // The login server never answers, so the last tries move the client's port; the client closes
  // meanwhile (a shutdown), at a different moment each round.
  ManualClock clock;
  TScriptedLoginServer server([](uint16_t, TCmdStream&) { return Bytes(); });
  TServerListDefaults d;
  d.ListServerPort = server.Port();
  d.LoginHost.clear();
  TClockPump pump(clock, std::chrono::milliseconds(50));
  for (int round = 0; round < 6; ++round) {
    TLRUDPClient fast(nullptr, &clock);
    fast.SetDefaultPort(FreeUdpPort());
    ASSERT_TRUE(fast.SetActive(true));
    TServerListManager list(AppDir() + "LR4ServerList.bin", d);
    list.SetUDPClient(&fast);
    TLRLogin login(fast, list, info, AppDir());
    const int before = server.logins;
    std::thread t([&] { login.Login("", ""); });
    while (server.logins < before + 3) std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::this_thread::sleep_for(std::chrono::microseconds(round * 4000));
    fast.SetActive(false);
    t.join();
    EXPECT_EQ(login.LastResult(), Status::NoAnswer);
    EXPECT_FALSE(fast.Active()) << "nothing reopened the closed client";
    EXPECT_FALSE(fast.MoveToPort(uint16_t(FreeUdpPort())));
  }
}

TEST_F(LoginTest, LoginThreadReportsResults) {
  TScriptedLoginServer server([](uint16_t code, TCmdStream&) {
    return code == Cmd::Login ? Refusal(Status::Refused, Status::NoSuchUser) : Bytes();
  });
  auto list = List(server.Port());
  TLRLogin login(udp, *list, info, AppDir());
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::pair<bool, int>> results;
  {
    TLoginThread thread(login, [&](bool withUser, int code) {
      std::lock_guard lock(m);
      results.emplace_back(withUser, code);
      cv.notify_all();
    });
    ASSERT_TRUE(thread.Request("ghost", EncodeStoredPassword("x")));
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return !results.empty(); }));
  }
  EXPECT_EQ(results[0], std::make_pair(true, 148));
}

}  // namespace
