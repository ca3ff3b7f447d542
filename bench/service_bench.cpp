// minilirra-service answering on loopback, in this process: one socket thread serves keep-alive
// and server-list requests; logins run on the login pool (anonymous ones cost a session insert,
// password ones an Argon2id check). The client side is a raw socket sending batches.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "net/LREncrypt.h"
#include "net/LoginRecords.h"
#include "net/ServerListRecords.h"
#include "service/Service.h"
#include "service/ServiceSecurity.h"
#include "base/LRMD5.h"

#include "tests/net/NetTestTools.h"

namespace {

using mlnettest::EnvelopeBytes;
using mlnettest::Written;

using Bytes = std::vector<uint8_t>;

Bytes LoginRecord(int32_t who, const ml::TMD5Digest& digest) {
  ml::TLoginRequest r;
  r.Requested = who;
  r.LocalIP = htonl(INADDR_LOOPBACK);
  r.LocalPort = 7000;
  r.NetKind = ml::NetKind::InternalC;
  r.ProgramVersion = 5004;
  r.PasswordDigest = digest.v;
  return Written(ml::WriteLoginRequest, r);
}

struct Fixture {
  std::string folder;
  std::unique_ptr<mlsvc::TService> service;
  int fd = -1;
  int32_t user = 0, key = 0;

  Fixture() {
    char tmpl[] = "/tmp/ml-service-bench-XXXXXX";
    folder = ::mkdtemp(tmpl);
    mlsvc::TServiceConfig cfg;
    cfg.DbPath = folder + "/bench.db";
    cfg.Port = 0;
    cfg.ListPort = 0;
    cfg.CreateDb = true;
    cfg.ListRate = cfg.LoginRate = cfg.LoginIPRate = cfg.AnonRate = cfg.AnonNetRate = 1e9;
    cfg.ListBurst = cfg.LoginBurst = cfg.LoginIPBurst = cfg.AnonBurst = cfg.AnonNetBurst = 1e9;
    cfg.ReplyBytesPerSecond = 1e12;
    service = std::make_unique<mlsvc::TService>(cfg);
    service->Store().AddAccount(
        {10001, "bench", mlsvc::MakeVerifier(ml::LRMD5::MD5String("pw").v, mlsvc::TArgonCost())});
    service->Start();
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int size = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    Bytes reply;
    if (Ask(service->Port(), EnvelopeBytes(ml::Envelope::Table, {1, 1}, LoginRecord(-1, {})), reply)) {
      ml::TOpenedEnvelope env;
      ml::TLoginReply session;
      if (ml::OpenEnvelope(reply.data(), reply.size(), env) &&
          ml::ReadLoginReply(env.Payload, env.PayloadLength, session, false)) {
        user = session.UserID;
        key = session.LoginKey;
      }
    }
  }
  ~Fixture() {
    ::close(fd);
    service.reset();
    std::filesystem::remove_all(folder);
  }

  void SendTo(uint16_t port, const Bytes& d) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  bool Receive(Bytes& out, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return false;
    out.resize(2048);
    const ssize_t n = ::recv(fd, out.data(), out.size(), 0);
    if (n <= 0) return false;
    out.resize(size_t(n));
    return true;
  }
  bool Ask(uint16_t port, const Bytes& d, Bytes& reply) {
    SendTo(port, d);
    return Receive(reply, 5000);
  }
  // Sends the datagrams as one burst and counts the answers.
  int64_t Burst(uint16_t port, const std::vector<Bytes>& batch) {
    std::vector<mmsghdr> msgs(batch.size());
    std::vector<iovec> iov(batch.size());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    for (size_t i = 0; i < batch.size(); ++i) {
      iov[i] = {const_cast<uint8_t*>(batch[i].data()), batch[i].size()};
      std::memset(&msgs[i].msg_hdr, 0, sizeof msgs[i].msg_hdr);
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
      msgs[i].msg_hdr.msg_name = &to;
      msgs[i].msg_hdr.msg_namelen = sizeof to;
    }
    ::sendmmsg(fd, msgs.data(), unsigned(msgs.size()), 0);
    int64_t got = 0;
    Bytes reply;
    while (got < int64_t(batch.size()) && Receive(reply, 200)) ++got;
    return got;
  }
};

Fixture& F() {
  static Fixture f;
  return f;
}

void RunBursts(benchmark::State& state, uint16_t port, const std::vector<Bytes>& batch) {
  int64_t answered = 0, sent = 0;
  for (auto _ : state) {
    answered += F().Burst(port, batch);
    sent += int64_t(batch.size());
  }
  state.SetItemsProcessed(answered);
  state.counters["answered_share"] = sent ? double(answered) / double(sent) : 0;
}

void BM_KeepAlive(benchmark::State& state) {
  Fixture& f = F();
  ml::TKeepAliveRequest r;
  r.UserID = f.user;
  r.LoggedIn = true;
  r.NetKind = ml::NetKind::InternalC;
  r.ProgramVersion = 5004;
  r.LoginKey = f.key;
  const Bytes record = Written(ml::WriteKeepAliveRequest, r);
  std::vector<Bytes> batch;
  for (int i = 0; i < state.range(0); ++i) batch.push_back(EnvelopeBytes(ml::Envelope::Keyed, {f.user, i + 1}, record));
  RunBursts(state, f.service->Port(), batch);
}
BENCHMARK(BM_KeepAlive)->Arg(64)->UseRealTime();

void BM_ServerList(benchmark::State& state) {
  Fixture& f = F();
  // Arg 1: the client's table is current (short answer); 0: the whole table goes out.
  const uint16_t version = state.range(0) ? 7 : 0;
  const Bytes record = Written(ml::WriteServerListRequest, ml::TServerListRequest{f.user, 5004, version});
  std::vector<Bytes> batch;
  for (int i = 0; i < 64; ++i) batch.push_back(EnvelopeBytes(ml::Envelope::Keyed, {f.user, i + 1}, record));
  RunBursts(state, f.service->ListPort(), batch);
}
BENCHMARK(BM_ServerList)->Arg(1)->Arg(0)->UseRealTime();

void BM_Login(benchmark::State& state) {
  Fixture& f = F();
  const bool password = state.range(0) != 0;
  const Bytes record = password ? LoginRecord(10001, ml::LRMD5::MD5String("pw")) : LoginRecord(-1, {});
  int32_t serial = 1000;
  int64_t ok = 0;
  Bytes reply;
  for (auto _ : state) {
    // A new serial each time: a repeated request would be answered from the repeat cache.
    if (f.Ask(f.service->Port(), EnvelopeBytes(ml::Envelope::Table, {1, ++serial}, record), reply)) ++ok;
  }
  state.SetItemsProcessed(ok);
}
BENCHMARK(BM_Login)->Arg(0)->Arg(1)->UseRealTime();

// 64 logins of unknown numbers at once: each is refused only after a password check's time, but
// none holds a worker for it, so the burst takes about one check's time, not 32 of them (two
// workers).
void BM_UnknownUserBurst(benchmark::State& state) {
  Fixture& f = F();
  const Bytes record = LoginRecord(10002, ml::LRMD5::MD5String("pw"));
  int32_t serial = 100000;
  std::vector<Bytes> batch;
  for (auto _ : state) {
    state.PauseTiming();
    batch.clear();
    for (int i = 0; i < 64; ++i) batch.push_back(EnvelopeBytes(ml::Envelope::Table, {1, ++serial}, record));
    state.ResumeTiming();
    const int64_t answered = f.Burst(f.service->Port(), batch);
    state.counters["answered_share"] = double(answered) / 64;
  }
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_UnknownUserBurst)->UseRealTime();

}  // namespace
