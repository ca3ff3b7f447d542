// The service's roles in this process, without sockets: requests go through the role table, the
// answers are recorded instead of sent, logins run at once, and time is a manual clock, so
// session expiry, the login repeat window, the presence-check deadline and the rate limits are
// tested by moving the clock.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/LRMD5.h"
#include "net/LoginRecords.h"
#include "net/NetTypeRecords.h"
#include "net/ServerListRecords.h"
#include "service/RoleTable.h"
#include "service/roles/Login.h"
#include "service/ServiceCore.h"
#include "service/ServiceStore.h"
#include "service/WorkPool.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/CoreFixture.h"
#include "tests/service/RecordingSender.h"
#include "tests/support/TestSupport.h"

using namespace ml;
using namespace mlsvc;
using mlnettest::Bytes;
using mlnettest::Written;
using mlsvctest::TRecorder;
using mlsvctest::TSent;
using mlsvctest::kCheap;
using mlsvctest::kClientIP;
using mlsvctest::kStartMs;

namespace {

class ServiceCore : public mlsvctest::TCoreFixture {
protected:
  TLoginReply Login(TLoginRequest r, uint16_t port = 7000) {
    r.LocalIP = r.LocalIP ? r.LocalIP : kClientIP;
    r.ProgramVersion = 5004;
    auto answers = Ask(TServer::Main, Envelope::Table, Written(WriteLoginRequest, r), port);
    TLoginReply reply;
    reply.Status = 0;
    if (answers.size() == 1) {
      EXPECT_TRUE(ReadLoginReply(answers[0].Payload.data(), answers[0].Payload.size(), reply, false));
    }
    return reply;
  }
  TLoginReply Anonymous(uint8_t netKind = NetKind::InternalC, uint16_t port = 7000) {
    TLoginRequest r;
    r.NetKind = netKind;
    return Login(r, port);
  }
  // The report carries the client's network kind, which the session takes.
  bool KeepAlive(const TLoginReply& session, uint16_t port = 7000, uint8_t netKind = NetKind::InternalC) {
    TKeepAliveRequest r;
    r.UserID = session.UserID;
    r.LoginKey = session.LoginKey;
    r.NetKind = netKind;
    return !Ask(TServer::Main, Envelope::Keyed, Written(WriteKeepAliveRequest, r), port).empty();
  }
  // Runs the housekeeping; returns what it sent.
  std::vector<TSent> Housekeep() {
    core->Housekeep();
    std::vector<TSent> sent = listSocket.Take();
    for (TSent& s : mainSocket.Take()) sent.push_back(std::move(s));
    return sent;
  }
  bool Alive(int32_t user) {
    auto lock = core->Sessions().Lock();
    return core->Sessions().Find(lock, user) != nullptr;
  }
  bool Stored(int32_t user) {
    for (const TSessionRow& r : store->Sessions())
      if (r.UserID == user) return true;
    return false;
  }
};

TEST_F(ServiceCore, SessionsEndAfterTheirPeriodsWithoutKeepAlive) {
  struct Case {
    const char* name;
    uint8_t netKind;
    int64_t lifetimeMs;
  };
  for (Case c : {Case{"internal kind", NetKind::InternalC, 3 * 45000}, Case{"external kind", NetKind::ExternalA, 3 * 240000}}) {
    Start();
    const TLoginReply s = Anonymous(c.netKind);
    ASSERT_EQ(s.Status, Status::OK) << c.name;
    ASSERT_TRUE(Stored(s.UserID)) << c.name;

    // A keep-alive just before the end starts the count again, and its time reaches the database.
    Advance(c.lifetimeMs - 1);
    ASSERT_TRUE(KeepAlive(s, 7000, c.netKind)) << c.name;
    core->Housekeep();
    const int64_t seen = clock.Now().count();
    for (const TSessionRow& r : store->Sessions())
      if (r.UserID == s.UserID) {
        EXPECT_EQ(r.LastSeenMs, seen) << c.name;
      }

    // The end itself, to the millisecond.
    Advance(c.lifetimeMs);
    core->Sessions().Expire(clock.Now().count());
    EXPECT_TRUE(Alive(s.UserID)) << c.name << ": exactly its lifetime later it still lives";
    Advance(1);
    core->Sessions().Expire(clock.Now().count());
    EXPECT_FALSE(Alive(s.UserID)) << c.name;
    EXPECT_FALSE(Stored(s.UserID)) << c.name;
    EXPECT_FALSE(KeepAlive(s)) << c.name << ": an ended session is not answered";

    // The housekeeping looks once a second.
    const TLoginReply next = Anonymous(c.netKind);
    Advance(c.lifetimeMs + 1);
    core->Housekeep();
    EXPECT_FALSE(Alive(next.UserID)) << c.name;
  }
}

TEST_F(ServiceCore, ARestartKeepsTheSessionsStillAlive) {
  Start();
  const TLoginReply early = Anonymous(NetKind::InternalC, 7001);
  Advance(60000);
  const TLoginReply late = Anonymous(NetKind::InternalC, 7002);
  core.reset();

  // Down for longer than the first session's lifetime, not the second's.
  Advance(3 * 45000 - 30000);
  Start();
  EXPECT_FALSE(Alive(early.UserID));
  EXPECT_FALSE(Stored(early.UserID));
  EXPECT_TRUE(Alive(late.UserID));
  EXPECT_TRUE(KeepAlive(late, 7002));
}

TEST_F(ServiceCore, RateLimitsCountOnTheServiceClock) {
  // Each send: how far the clock moves first, the client's port, and whether an answer came.
  struct Send {
    int64_t advanceMs;
    uint16_t port;
    bool answered;
    uint32_t ip = kClientIP;
  };
  struct Case {
    const char* name;
    std::function<void(TServiceConfig&)> limit;
    TServer server;
    uint8_t kind;
    Bytes record;
    std::vector<Send> sends;
    uint64_t limited;
  };
  TLoginRequest anonymous;
  anonymous.ProgramVersion = 5004;
  anonymous.NetKind = NetKind::InternalC;
  const Bytes login = Written(WriteLoginRequest, anonymous);
  const Bytes wholeTable = Written(WriteServerListRequest, TServerListRequest{0, 5004, 6});
  const Bytes currentTable = Written(WriteServerListRequest, TServerListRequest{0, 5004, 7});
  const Bytes check = Written(WriteNetTypeCheck, TNetTypeCheck{0, NetKind::InternalC});
  const Case cases[] = {
      {"logins per address and port: a burst of 2, then one a second",
       [](TServiceConfig& c) { c.LoginRate = 1; c.LoginBurst = 2; }, TServer::Main, Envelope::Table, login,
       {{0, 7000, true}, {0, 7000, true}, {0, 7000, false}, {999, 7000, false}, {1, 7000, true}, {0, 7001, true}},
       2},
      {"logins per address: 2 a second over all its ports",
       [](TServiceConfig& c) { c.LoginIPRate = 2; c.LoginIPBurst = 2; }, TServer::Main, Envelope::Table, login,
       {{0, 7000, true}, {0, 7001, true}, {0, 7002, false}, {499, 7003, false}, {1, 7003, true}},
       2},
      {"anonymous logins per address: 2, then one a second",
       [](TServiceConfig& c) { c.AnonRate = 1; c.AnonBurst = 2; }, TServer::Main, Envelope::Table, login,
       {{0, 7000, true}, {0, 7001, true}, {0, 7002, false}, {1000, 7003, true}},
       1},
      {"anonymous logins per /24: 2, then one a second",
       [](TServiceConfig& c) { c.AnonNetRate = 1; c.AnonNetBurst = 2; }, TServer::Main, Envelope::Table, login,
       {{0, 7000, true, htonl(0xC0A80105)}, {0, 7000, true, htonl(0xC0A80106)}, {0, 7000, false, htonl(0xC0A801F0)},
        {0, 7000, true, htonl(0xC0A80205)}, {1000, 7000, true, htonl(0xC0A80107)}},
       1},
      {"whole server tables per address", [](TServiceConfig& c) { c.ListRate = 1; c.ListBurst = 1; }, TServer::List,
       Envelope::Keyed, wholeTable, {{0, 7000, true}, {0, 7001, false}, {1000, 7002, true}}, 1},
      {"the short answer to a current table is not limited", [](TServiceConfig& c) { c.ListRate = 1; c.ListBurst = 1; },
       TServer::List, Envelope::Keyed, currentTable, {{0, 7000, true}, {0, 7000, true}, {0, 7000, true}}, 0},
      {"network-type checks per address", [](TServiceConfig& c) { c.ProbeRate = 0.5; c.ProbeBurst = 1; },
       TServer::Main, Envelope::Keyed, check, {{0, 7000, true}, {1999, 7000, false}, {1, 7001, true}}, 1},
  };
  const TServiceConfig defaults = cfg;
  for (const Case& c : cases) {
    cfg = defaults;
    c.limit(cfg);
    Start();
    for (size_t i = 0; i < c.sends.size(); ++i) {
      Advance(c.sends[i].advanceMs);
      EXPECT_EQ(!Ask(c.server, c.kind, c.record, c.sends[i].port, c.sends[i].ip).empty(), c.sends[i].answered)
          << c.name << ", send " << i;
    }
    EXPECT_EQ(core->Counters().RateLimited.load(), c.limited) << c.name;
  }
}

TEST_F(ServiceCore, ARepeatedLoginGetsTheSameAnswerWithinTheWindow) {
  Start();
  TLoginRequest r;
  r.ProgramVersion = 5004;
  const Bytes record = Written(WriteLoginRequest, r);
  auto ask = [&](int32_t withSerial) {
    serial = withSerial - 1;
    auto answers = Ask(TServer::Main, Envelope::Table, record);
    return answers.size() == 1 ? answers[0].Payload : Bytes();
  };
  const Bytes first = ask(5);
  ASSERT_FALSE(first.empty());
  Advance(TLoginRole::RepeatWindowMs - 1);
  EXPECT_EQ(ask(5), first) << "a lost answer is answered again";
  EXPECT_NE(ask(6), first) << "another request identity is another login";
  Advance(1);
  const Bytes later = ask(5);
  EXPECT_NE(later, first) << "after the window the same record is a new login";

  // A logout from that address ends the repeats there too.
  TLoginReply session;
  ASSERT_TRUE(ReadLoginReply(later.data(), later.size(), session, false));
  const Bytes logout = Written(WriteLogoutRequest, TLogoutRequest{session.UserID, session.LoginKey, 0, 0, 0, false});
  ASSERT_EQ(Ask(TServer::Main, Envelope::Table, logout).size(), 1u);
  EXPECT_NE(ask(5), later);
}

TEST_F(ServiceCore, NetworkTypeFromThePresenceCheckAndItsDeadline) {
  struct Case {
    const char* name;
    bool answerCheck;
    uint32_t reportedIP;  // what the client reports at login as its own address
    uint8_t kind;
  };
  const Case cases[] = {
      {"answered, no translation", true, kClientIP, NetKind::ExternalA},
      {"answered, behind a translation", true, htonl(0x0A000002), NetKind::InternalA},
      {"unanswered, no translation", false, kClientIP, NetKind::ExternalB},
      {"unanswered, behind a translation", false, htonl(0x0A000002), NetKind::InternalC},
  };
  Start();
  uint16_t port = 7000;
  for (const Case& c : cases) {
    ++port;
    TLoginRequest r;
    r.LocalIP = c.reportedIP;
    const TLoginReply s = Login(r, port);
    ASSERT_EQ(s.Status, Status::OK) << c.name;

    const std::vector<TSent> checks =
        Ask(TServer::Main, Envelope::Keyed, Written(WriteNetTypeCheck, TNetTypeCheck{s.UserID, NetKind::InternalC}), port);
    ASSERT_EQ(checks.size(), 1u) << c.name;
    EXPECT_EQ(checks[0].From, TServer::List) << c.name << ": the presence check leaves from the other socket";
    TPresenceCheck check;
    ASSERT_TRUE(ReadPresenceCheck(checks[0].Payload.data(), checks[0].Payload.size(), check));
    EXPECT_EQ(checks[0].Port, port);

    std::vector<TSent> results;
    if (c.answerCheck) {
      const Bytes echo = Written(WritePresenceAnswer, TPresenceAnswer{s.UserID, check.Token, port});
      results = Ask(TServer::List, Envelope::Keyed, echo, 9999);
    } else {
      Advance(cfg.ProbeWaitMs - 1);
      core->Housekeep();
      EXPECT_TRUE(mainSocket.Take().empty()) << c.name << ": still waiting";
      Advance(1);
      core->Housekeep();
      results = mainSocket.Take();
    }
    ASSERT_EQ(results.size(), 1u) << c.name;
    EXPECT_EQ(results[0].From, TServer::Main) << c.name;
    EXPECT_EQ(results[0].Port, port) << c.name << ": the result goes to where the check came from";
    TNetTypeResult result;
    ASSERT_TRUE(ReadNetTypeResult(results[0].Payload.data(), results[0].Payload.size(), result));
    EXPECT_EQ(result.NetKind, c.kind) << c.name;
    auto lock = core->Sessions().Lock();
    EXPECT_EQ(core->Sessions().Find(lock, s.UserID)->NetKind, c.kind) << c.name;
  }
}

TEST_F(ServiceCore, TheTableChecksServerKindAndLengthBeforeAnyRole) {
  Start();
  for (const TRole& role : AllRoles()) {
    Bytes record(role.MinLength, 0);
    record[0] = uint8_t(role.Code);
    record[1] = uint8_t(role.Code >> 8);
    const uint8_t kind = role.Kinds & Kinds::Table ? Envelope::Table : Envelope::Keyed;
    const uint8_t otherKind = kind == Envelope::Table ? Envelope::Keyed : Envelope::Table;
    const TServer otherServer = role.Server == TServer::Main ? TServer::List : TServer::Main;
    auto takes = [&](TServer server, uint8_t k, const Bytes& b) {
      TOpenedEnvelope env;
      env.Kind = k;
      env.Payload = b.data();
      env.PayloadLength = b.size();
      const bool taken = core->Dispatch(server, env, kClientIP, 7000);
      listSocket.Take();
      mainSocket.Take();
      return taken;
    };
    EXPECT_TRUE(takes(role.Server, kind, record)) << role.Code;
    EXPECT_FALSE(takes(role.Server, otherKind, record)) << role.Code << " in another envelope";
    // The other server takes the code only with a row of its own for it, in that envelope kind
    // (the list server's 9 is keyed, the playlist server's 9 a table).
    const TRole* other = FindRole(otherServer, role.Code);
    EXPECT_EQ(takes(otherServer, kind, record),
              other && (other->Kinds & KindBit(kind)) && record.size() >= other->MinLength)
        << role.Code;
    record.pop_back();
    EXPECT_FALSE(takes(role.Server, kind, record)) << role.Code << " one byte short";
  }
  const Bytes unknown = {77, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(Ask(TServer::Main, Envelope::Keyed, unknown).empty());
}

TEST_F(ServiceCore, LoginRefusals) {
  const TMD5Digest pw = LRMD5::MD5String("pw");
  ASSERT_TRUE(store->AddAccount({10001, "erin", MakeVerifier(pw.v, kCheap)}));
  cfg.MinVersion = 5004;
  struct Case {
    const char* name;
    int32_t requested;
    std::string user;
    std::string password;
    uint16_t version;
    size_t queue;
    uint16_t status, reason;
  };
  const Case cases[] = {
      {"by number", 10001, "", "pw", 5004, 1, Status::OK, 0},
      {"by name", TLoginRequest::ByName, "ERIN", "pw", 5004, 1, Status::OK, 0},
      {"wrong password", 10001, "", "px", 5004, 1, Status::Refused, Status::WrongPassword},
      {"unknown number", 10002, "", "pw", 5004, 1, Status::Refused, Status::NoSuchUser},
      {"unknown name", TLoginRequest::ByName, "frank", "pw", 5004, 1, Status::Refused, Status::NoSuchUser},
      {"program too old", 10001, "", "pw", 5003, 1, Status::Refused, Status::TooOld},
      {"login queue full", 10001, "", "pw", 5004, 0, Status::Busy, 0},
  };
  for (const Case& c : cases) {
    Start(c.queue);
    TLoginRequest r;
    r.Requested = c.requested;
    r.UserName = c.user;
    r.PasswordDigest = LRMD5::MD5String(c.password).v;
    auto answers = Ask(TServer::Main, Envelope::Table, [&] {
      r.ProgramVersion = c.version;
      return Written(WriteLoginRequest, r);
    }());
    // An unknown user's refusal is held back as long as a check takes.
    Advance(5000);
    for (TSent& later : Housekeep()) answers.push_back(std::move(later));
    ASSERT_EQ(answers.size(), 1u) << c.name;
    TLoginReply reply;
    ASSERT_TRUE(ReadLoginReply(answers[0].Payload.data(), answers[0].Payload.size(), reply, false)) << c.name;
    EXPECT_EQ(reply.Status, c.status) << c.name;
    EXPECT_EQ(reply.Reason, c.reason) << c.name;
    if (c.status == Status::OK) {
      EXPECT_EQ(reply.UserID, 10001) << c.name;
    }
  }
}

TEST_F(ServiceCore, AnUnknownUserIsRefusedAsLateAsAWrongPasswordWithoutHoldingAWorker) {
  // Real checks, so that they take measurable time.
  cfg.UnknownUserCost = TArgonCost();
  ASSERT_TRUE(store->AddAccount({10001, "erin", MakeVerifier(LRMD5::MD5String("pw").v, TArgonCost())}));
  Start();
  auto login = [&](int32_t who) {
    TLoginRequest r;
    r.Requested = who;
    r.ProgramVersion = 5004;
    r.PasswordDigest = LRMD5::MD5String("px").v;
    return Ask(TServer::Main, Envelope::Table, Written(WriteLoginRequest, r));
  };
  ASSERT_EQ(login(10001).size(), 1u) << "a wrong password costs its check, here on the caller's thread";
  // An unknown number: the pool of no threads has run the job, and yet no answer has gone.
  EXPECT_TRUE(login(10002).empty());
  EXPECT_TRUE(Housekeep().empty()) << "nor does it at once";
  Advance(5000);
  const std::vector<TSent> later = Housekeep();
  ASSERT_EQ(later.size(), 1u);
  TLoginReply reply;
  ASSERT_TRUE(ReadLoginReply(later[0].Payload.data(), later[0].Payload.size(), reply, false));
  EXPECT_EQ(reply.Reason, Status::NoSuchUser);
}

TEST_F(ServiceCore, ADatagramTwiceAtOnceMakesOneSession) {
  // A check slow enough that both copies are in the pool at the same time.
  ASSERT_TRUE(store->AddAccount({10001, "erin", MakeVerifier(LRMD5::MD5String("pw").v, TArgonCost())}));
  Start(8, 2);
  TLoginRequest r;
  r.Requested = 10001;
  r.ProgramVersion = 5004;
  r.PasswordDigest = LRMD5::MD5String("pw").v;
  const Bytes record = Written(WriteLoginRequest, r);
  TOpenedEnvelope env;
  env.Kind = Envelope::Table;
  env.Guid = {1, 77};
  env.Payload = record.data();
  env.PayloadLength = record.size();
  core->Dispatch(TServer::Main, env, kClientIP, 7000);
  core->Dispatch(TServer::Main, env, kClientIP, 7000);
  std::vector<TSent> answers;
  for (int i = 0; i < 1000 && answers.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    answers = mainSocket.Take();
  }
  ASSERT_FALSE(answers.empty());
  // Both copies ran side by side, if they ran at all: the other has finished by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  workers->Stop();
  for (TSent& a : mainSocket.Take()) answers.push_back(std::move(a));
  for (const TSent& a : answers) {
    TLoginReply reply;
    ASSERT_TRUE(ReadLoginReply(a.Payload.data(), a.Payload.size(), reply, false));
    ASSERT_EQ(reply.Status, Status::OK);
    EXPECT_TRUE(KeepAlive(reply)) << "the key a client takes from any answer holds the session";
  }
  EXPECT_EQ(core->Sessions().Count(), 1u);
}

TEST_F(ServiceCore, SessionsStayWithinTheirBoundsAndProvenOnesStay) {
  cfg.MaxSessions = 64;
  cfg.MaxAnonymousPerNet = 8;
  cfg.AnonRate = cfg.AnonBurst = cfg.AnonNetRate = cfg.AnonNetBurst = 1e9;
  cfg.LoginIPRate = cfg.LoginIPBurst = 1e9;
  ASSERT_TRUE(store->AddAccount({10001, "erin", MakeVerifier(LRMD5::MD5String("pw").v, kCheap)}));
  Start();
  // A client that logged in first and keeps its session alive.
  const TLoginReply kept = Anonymous();
  ASSERT_EQ(kept.Status, Status::OK);
  // An account that logged in with its password and has not reported yet: the oldest idle one.
  TLoginRequest byNumber;
  byNumber.Requested = 10001;
  byNumber.PasswordDigest = LRMD5::MD5String("pw").v;
  const TLoginReply account = Login(byNumber, 7001);
  ASSERT_EQ(account.Status, Status::OK);
  Advance(1000);
  ASSERT_TRUE(KeepAlive(kept));

  struct Case {
    const char* name;
    int logins;
    std::function<uint32_t(int)> source;
    size_t most;  // sessions alive afterwards at most
  };
  const Case cases[] = {
      // The client's /24: its eight anonymous ones, and the account.
      {"one /24, many addresses", 40, [](int i) { return htonl(0xC0A80100 + uint32_t(i % 250) + 1); }, 9},
      {"3,000 forged addresses", 3000, [](int i) { return htonl(0x0A000000 + uint32_t(i) * 256 + 1); }, 64},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < c.logins; ++i) {
      Advance(1);
      TLoginRequest r;
      r.ProgramVersion = 5004;
      r.NetKind = NetKind::InternalC;
      Ask(TServer::Main, Envelope::Table, Written(WriteLoginRequest, r), uint16_t(20000 + i % 30000), c.source(i));
    }
    EXPECT_LE(core->Sessions().Count(), c.most) << c.name;
    EXPECT_LE(store->Sessions().size(), c.most) << c.name << ": the database holds no more";
    EXPECT_TRUE(Alive(kept.UserID)) << c.name << ": forged sessions go first";
    EXPECT_TRUE(KeepAlive(kept)) << c.name;
    EXPECT_TRUE(Alive(account.UserID)) << c.name << ": a password proves its holder as a keep-alive does";
  }
  EXPECT_GT(core->Sessions().Evicted(), 0u);
}

TEST_F(ServiceCore, AnswersToUnprovenAddressesShareOneBudget) {
  // A long notice makes the login answer many times the request.
  store->SetSetting("notice", std::string(900, 'n'));
  cfg.ReplyBytesPerSecond = 20000;
  cfg.AnonRate = cfg.AnonBurst = cfg.AnonNetRate = cfg.AnonNetBurst = 1e9;
  Start();
  const TLoginReply held = Anonymous();
  ASSERT_EQ(held.Status, Status::OK);
  size_t bytes = 0, answers = 0;
  TLoginRequest r;
  r.ProgramVersion = 5004;
  const Bytes record = Written(WriteLoginRequest, r);
  for (int i = 0; i < 3000; ++i)
    for (const TSent& a : Ask(TServer::Main, Envelope::Table, record, 7000, htonl(0x0A000000 + uint32_t(i) * 256 + 1))) {
      bytes += a.Payload.size();
      ++answers;
    }
  EXPECT_GT(answers, 0u);
  EXPECT_LE(bytes, 20000u) << "3,000 victims together get no more than the budget";
  EXPECT_GT(core->Counters().OverBudget.load(), 0u);
  EXPECT_TRUE(KeepAlive(held)) << "a session's holder is answered whatever the budget";
  EXPECT_TRUE(Ask(TServer::Main, Envelope::Table, record, 7000, htonl(0x0B000001)).empty());
  const Bytes table = Written(WriteServerListRequest, TServerListRequest{0, 5004, 0});
  int tables = 0;
  for (uint32_t i = 0; i < 100; ++i) tables += Ask(TServer::List, Envelope::Keyed, table, 7000, htonl(0x0C000001 + i * 256)).empty() ? 0 : 1;
  EXPECT_LT(tables, 10) << "whole server tables take from the same budget";
  Advance(1000);
  EXPECT_FALSE(Ask(TServer::List, Envelope::Keyed, table).empty()) << "a second later there is budget again";
}

TEST_F(ServiceCore, ASessionKeepsThePeriodItsClientLoggedInWith) {
  // Logged in as external (a 240 s period); the check then finds it behind a translation.
  Start();
  TLoginRequest r;
  r.NetKind = NetKind::ExternalA;
  r.LocalIP = htonl(0x0A000002);
  const TLoginReply s = Login(r);
  ASSERT_EQ(s.Status, Status::OK);
  ASSERT_EQ(Ask(TServer::Main, Envelope::Keyed, Written(WriteNetTypeCheck, TNetTypeCheck{s.UserID, NetKind::ExternalA})).size(), 1u);
  Advance(cfg.ProbeWaitMs);
  core->Housekeep();
  {
    auto lock = core->Sessions().Lock();
    ASSERT_EQ(core->Sessions().Find(lock, s.UserID)->NetKind, NetKind::InternalC);
  }
  // The client's next report comes a 240 s period after its login, saying the new kind.
  Advance(240000 - cfg.ProbeWaitMs);
  core->Sessions().Expire(clock.Now().count());
  ASSERT_TRUE(KeepAlive(s, 7000, NetKind::InternalC));
  Advance(3 * 240000);
  core->Sessions().Expire(clock.Now().count());
  EXPECT_TRUE(Alive(s.UserID)) << "three of its periods";
  Advance(1);
  core->Sessions().Expire(clock.Now().count());
  EXPECT_FALSE(Alive(s.UserID));
}

TEST_F(ServiceCore, ALoginSentAsInternalKeepsTheLongPeriodItsClientStillReportsBy) {
  // A client fixes its period when its keep-alive thread starts, with its first session: here an
  // external one (240 s). The network-type check then makes it internal, and its next login (a
  // logout first, as a client does) says so; the client still reports every 240 s.
  Start();
  const TLoginReply first = Anonymous(NetKind::ExternalA);
  ASSERT_EQ(first.Status, Status::OK);
  Advance(1000);
  ASSERT_TRUE(KeepAlive(first, 7000, NetKind::ExternalA));
  ASSERT_EQ(Ask(TServer::Main, Envelope::Table,
                Written(WriteLogoutRequest, TLogoutRequest{first.UserID, first.LoginKey, 0, 0, 0, false}))
                .size(),
            1u);
  const TLoginReply second = Anonymous(NetKind::InternalC);
  ASSERT_EQ(second.Status, Status::OK);
  Advance(240000);
  core->Sessions().Expire(clock.Now().count());
  EXPECT_TRUE(KeepAlive(second)) << "the report a period later finds the session";
  Advance(3 * 240000);
  core->Sessions().Expire(clock.Now().count());
  EXPECT_TRUE(Alive(second.UserID)) << "three of the client's periods";

  // Elsewhere the kind it logs in with still decides; an unproven session leaves nothing behind.
  ASSERT_EQ(Anonymous(NetKind::ExternalA, 7100).Status, Status::OK);
  const TLoginReply other = Anonymous(NetKind::InternalC, 7100);
  ASSERT_EQ(other.Status, Status::OK);
  Advance(3 * 45000 + 1);
  core->Sessions().Expire(clock.Now().count());
  EXPECT_FALSE(Alive(other.UserID));
}

TEST(RateLimiter, AFullTableKeepsTheDebtOfThoseWhoSpentMost) {
  TRateLimiter limiter(1, 2, 4);
  EXPECT_TRUE(limiter.Allow(1, 0));
  EXPECT_TRUE(limiter.Allow(1, 0));
  EXPECT_FALSE(limiter.Allow(1, 0)) << "source 1 has spent its burst";
  // Many new sources, each of which spends one token: the table overflows again and again.
  for (uint64_t source = 100; source < 400; ++source) limiter.Allow(source, 0);
  EXPECT_LE(limiter.Sources(), 4u);
  EXPECT_FALSE(limiter.Allow(1, 0)) << "its debt outlived the overflow";
  EXPECT_TRUE(limiter.Allow(1, 1000)) << "and it refills as usual";
}

}  // namespace
