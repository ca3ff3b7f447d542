#pragma once
// Tools for the network tests, reusable by every online test: loopback endpoints, a raw UDP peer,
// a seeded lossy relay (this kernel has no netem), a pump that runs a manual clock fast, a
// scripted SOCKS5 proxy and the real SOCKS5 server of scripts/servers/danted.sh.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/LRCmdStream.h"
#include "net/LREncrypt.h"
#include "net/LRUDPClient.h"
#include "base/Dispatcher.h"

namespace mlnettest {

using Bytes = std::vector<uint8_t>;

// 127.0.0.1 in network byte order.
uint32_t LoopbackIP();
// A port that was free on loopback a moment ago (UDP or TCP).
uint16_t FreeUdpPort();
uint16_t FreeTcpPort();

// A server on a free port that answers every request with its payload followed by marker (in
// the request's envelope, with its pair). Its UserID is -1, which no client uses.
std::unique_ptr<ml::TLRUDPClient> StartEchoServer(uint8_t marker = '!');

// A datagram in the envelope of the given kind (bare and trailer kinds give a trailer envelope).
Bytes EnvelopeBytes(uint8_t kind, ml::TLRGUID guid, const Bytes& payload);
// A command record composed by write with TCmdStream, cut to what was written.
Bytes Record(const std::function<void(ml::TCmdStream&)>& write);
// A record made by one of the record writers (net/*Records.h).
template <class T>
Bytes Written(bool (*write)(ml::TCmdStream&, const T&), const T& record) {
  return Record([&](ml::TCmdStream& s) { write(s, record); });
}

struct TDatagram {
  Bytes data;
  uint32_t ip = 0;  // network order
  uint16_t port = 0;
};

// A plain UDP socket on 127.0.0.1 (ephemeral port unless given): the peer or server a test scripts.
class TUdpPeer {
public:
  explicit TUdpPeer(uint16_t port = 0);
  ~TUdpPeer();
  TUdpPeer(const TUdpPeer&) = delete;
  TUdpPeer& operator=(const TUdpPeer&) = delete;
  uint16_t Port() const { return port_; }
  int Fd() const { return fd_; }
  bool Send(uint32_t ip, uint16_t port, const void* data, size_t length);
  bool Send(uint16_t port, const Bytes& data) { return Send(LoopbackIP(), port, data.data(), data.size()); }
  // Sends them all to 127.0.0.1:port with as few system calls as the kernel allows.
  void SendBatch(uint16_t port, const std::vector<Bytes>& datagrams);
  // Waits up to timeout for one datagram.
  std::optional<TDatagram> Receive(std::chrono::milliseconds timeout);

private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Misbehaviour of one direction of the relay. Probabilities are 0..1; delays in milliseconds.
struct TLinkFaults {
  double loss = 0;
  double duplicate = 0;
  double reorder = 0;  // hold a datagram back until the next one in this direction has passed
  int delayMinMs = 0;
  int delayMaxMs = 0;
};

struct TLinkStats {
  std::atomic<uint64_t> in{0}, dropped{0}, duplicated{0}, reordered{0}, out{0};
};

// A UDP relay on 127.0.0.1 between any number of clients and one server. Clients send to Port();
// each client gets its own upstream socket, so the server sees one address per client and its
// answers find their way back. Every decision comes from a generator seeded per direction, so a
// run's faults depend only on the seed and the order of arrivals.
class TLossyRelay {
public:
  TLossyRelay(uint32_t serverIP, uint16_t serverPort, TLinkFaults toServer, TLinkFaults toClient,
              uint64_t seed);
  ~TLossyRelay();
  TLossyRelay(const TLossyRelay&) = delete;
  TLossyRelay& operator=(const TLossyRelay&) = delete;
  uint16_t Port() const { return port_; }
  const TLinkStats& ToServerStats() const { return toServer_.stats; }
  const TLinkStats& ToClientStats() const { return toClient_.stats; }

private:
  struct Pending {
    std::chrono::steady_clock::time_point due;
    int fd;
    uint32_t ip;
    uint16_t port;
    Bytes data;
  };
  struct Direction {
    TLinkFaults faults;
    std::mt19937_64 rng;
    TLinkStats stats;
    std::optional<Pending> held;
  };
  struct Client {
    uint32_t ip;
    uint16_t port;
    int upstream;
  };
  void Run();
  void Route(Direction& d, int fd, uint32_t ip, uint16_t port, Bytes data);
  void Schedule(Pending p);
  void FlushDue();

  uint32_t serverIP_;
  uint16_t serverPort_;
  int front_ = -1;
  int stop_ = -1;
  uint16_t port_ = 0;
  Direction toServer_, toClient_;
  std::vector<Client> clients_;
  std::vector<Pending> pending_;
  std::thread thread_;
};

// Runs a manual clock fast on a thread of its own: every tick of real time it moves by step.
// Waits measured on that clock then pass quickly and in order.
class TClockPump {
public:
  TClockPump(ml::ManualClock& clock, std::chrono::milliseconds step,
             std::chrono::microseconds tick = std::chrono::microseconds(200));
  ~TClockPump();

private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A scripted SOCKS5 proxy for the refusal cases: accepts one connection and plays its steps.
class TFakeSocks5 {
public:
  struct Step {
    size_t expect = 0;  // bytes to read from the client first
    Bytes answer;       // then send these
    bool hang = false;  // then stay silent until the client gives up
    bool close = false; // or hang up
  };
  explicit TFakeSocks5(std::vector<Step> steps);
  ~TFakeSocks5();
  uint16_t Port() const { return port_; }
  // Everything the client sent.
  Bytes Received();

private:
  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  Bytes received_;
  std::thread thread_;
};

// The real SOCKS5 server, started through scripts/servers/danted.sh on a free loopback port and
// stopped by its process id.
class TDantedServer {
public:
  enum Result { Started, Unavailable, Failed };
  TDantedServer() = default;
  ~TDantedServer();
  Result Start(const std::string& folder, const std::string& user = "", const std::string& password = "");
  uint16_t Port() const { return port_; }
  std::string Log() const;

private:
  std::string folder_;
  uint16_t port_ = 0;
  bool running_ = false;
};

}  // namespace mlnettest
