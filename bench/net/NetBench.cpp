// Round trips per second on loopback: the raw UDP echo pump (two sockets, one echo thread, no
// envelopes) is the ceiling that TLRUDPClient's request/response path is measured against.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "net/LRCmdStream.h"
#include "net/LREncrypt.h"
#include "net/LRUDPClient.h"

namespace {

constexpr size_t kPayload = 64;
const uint32_t kLo = htonl(INADDR_LOOPBACK);

int BoundUdp(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = kLo;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

uint16_t FreePort() {
  uint16_t port = 0;
  ::close(BoundUdp(port));
  return port;
}

void BM_RawEchoPump(benchmark::State& state) {
  uint16_t serverPort = 0, clientPort = 0;
  const int server = BoundUdp(serverPort), client = BoundUdp(clientPort);
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    uint8_t buf[2048];
    while (!stop) {
      pollfd p{server, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(server, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n > 0) ::sendto(server, buf, size_t(n), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  });
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = kLo;
  to.sin_port = htons(serverPort);
  // The same bytes on the wire as the client's keyed request.
  uint8_t msg[ml::Envelope::KeyedHeader + kPayload] = {100};
  uint8_t buf[2048];
  for (auto _ : state) {
    ::sendto(client, msg, sizeof msg, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{client, POLLIN, 0};
    ::poll(&p, 1, 1000);
    benchmark::DoNotOptimize(::recv(client, buf, sizeof buf, 0));
  }
  state.SetItemsProcessed(state.iterations());
  stop = true;
  echo.join();
  ::close(server);
  ::close(client);
}
BENCHMARK(BM_RawEchoPump)->UseRealTime()->MinTime(2.0);

void ClientRoundTrip(benchmark::State& state, bool table) {
  ml::TLRUDPClient server(nullptr), client(nullptr);
  server.SetUserID(-1);
  server.SetDefaultPort(FreePort());
  server.OnUDPClientRead = [](ml::TUDPWorkThread&, const uint8_t* buf, int32_t len, uint32_t, uint16_t,
                              ml::TLRGUID&, uint8_t* reply, int32_t& replyLen) {
    std::memcpy(reply, buf, size_t(len));
    replyLen = len;
  };
  client.SetDefaultPort(FreePort());
  if (!server.SetActive(true) || !client.SetActive(true)) {
    state.SkipWithError("could not open the clients");
    return;
  }
  const uint16_t port = uint16_t(server.DefaultPort());
  uint8_t buf[1500] = {14, 0};
  int64_t failed = 0;
  for (auto _ : state) {
    int32_t len = 0;
    const bool ok = table ? client.SendWaitTable(kLo, port, 1000, 0, len, buf, sizeof buf, kPayload, buf)
                          : client.SendWait(kLo, port, true, 1000, 0, len, buf, sizeof buf, kPayload, buf);
    if (!ok) ++failed;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["failed"] = double(failed);
}

void BM_ClientRoundTripKeyed(benchmark::State& state) { ClientRoundTrip(state, false); }
void BM_ClientRoundTripTable(benchmark::State& state) { ClientRoundTrip(state, true); }
BENCHMARK(BM_ClientRoundTripKeyed)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ClientRoundTripTable)->UseRealTime()->MinTime(2.0);

void BM_BuildAndOpen(benchmark::State& state) {
  const auto kind = uint8_t(state.range(0));
  std::vector<uint8_t> payload(1436, 0x5A);
  uint8_t d[ml::Envelope::MaxDatagram];
  for (auto _ : state) {
    const size_t n = ml::BuildReply(kind, d, sizeof d, {1, 2}, payload.data(), payload.size());
    ml::TOpenedEnvelope env;
    benchmark::DoNotOptimize(ml::OpenEnvelope(d, n, env));
  }
  state.SetBytesProcessed(int64_t(state.iterations() * payload.size()));
}
BENCHMARK(BM_BuildAndOpen)->Arg(100)->Arg(101)->Arg(57);

void BM_ComposeAndReadRecord(benchmark::State& state) {
  uint8_t buf[1500];
  for (auto _ : state) {
    ml::TCmdStream s;
    s.InitWrite(buf, sizeof buf);
    s.WriteWord(14);
    s.WriteInteger(5004);
    s.WriteShortString("keyword");
    s.WriteBlock(3, "text of a block");
    s.InitRead(buf, s.Size());
    std::string text;
    int32_t v;
    benchmark::DoNotOptimize(s.ReadWord(0) + s.ReadInteger(0));
    s.ReadShortString(text);
    benchmark::DoNotOptimize(s.ReadBlock(v, text));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ComposeAndReadRecord);

}  // namespace
