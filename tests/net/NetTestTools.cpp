#include "tests/net/NetTestTools.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/TestSupport.h"

namespace mlnettest {
namespace {

sockaddr_in Addr(uint32_t ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = ip;
  a.sin_port = htons(port);
  return a;
}

int BoundSocket(int type, uint16_t port, uint16_t* bound) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  if (type == SOCK_STREAM) {
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  sockaddr_in a = Addr(LoopbackIP(), port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    throw std::runtime_error(std::string("bind failed: ") + std::strerror(errno));
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (bound) *bound = ntohs(a.sin_port);
  return fd;
}

uint16_t FreePort(int type) {
  uint16_t port = 0;
  ::close(BoundSocket(type, 0, &port));
  return port;
}

}  // namespace

std::unique_ptr<ml::TLRUDPClient> StartEchoServer(uint8_t marker) {
  auto server = std::make_unique<ml::TLRUDPClient>(nullptr);
  server->SetDefaultPort(FreeUdpPort());
  server->SetUserID(-1);
  server->OnUDPClientRead = [marker](ml::TUDPWorkThread&, const uint8_t* buf, int32_t len, uint32_t,
                                     uint16_t, ml::TLRGUID&, uint8_t* reply, int32_t& replyLen) {
    std::memcpy(reply, buf, size_t(len));
    reply[len] = marker;
    replyLen = len + 1;
  };
  if (!server->SetActive(true)) throw std::runtime_error("echo server did not open");
  return server;
}

Bytes Record(const std::function<void(ml::TCmdStream&)>& write) {
  Bytes b(1500);
  ml::TCmdStream s;
  s.InitWrite(b.data(), int32_t(b.size()));
  write(s);
  b.resize(size_t(s.Size()));
  return b;
}

Bytes EnvelopeBytes(uint8_t kind, ml::TLRGUID guid, const Bytes& payload) {
  Bytes d(ml::Envelope::MaxDatagram);
  d.resize(ml::BuildReply(kind, d.data(), d.size(), guid, payload.data(), payload.size()));
  return d;
}

uint32_t LoopbackIP() { return htonl(INADDR_LOOPBACK); }
uint16_t FreeUdpPort() { return FreePort(SOCK_DGRAM); }
uint16_t FreeTcpPort() { return FreePort(SOCK_STREAM); }

// ---- TUdpPeer ------------------------------------------------------------------------------

TUdpPeer::TUdpPeer(uint16_t port) {
  fd_ = BoundSocket(SOCK_DGRAM, port, &port_);
  const int bytes = 1 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
}

TUdpPeer::~TUdpPeer() { ::close(fd_); }

bool TUdpPeer::Send(uint32_t ip, uint16_t port, const void* data, size_t length) {
  const sockaddr_in to = Addr(ip, port);
  return ::sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
         ssize_t(length);
}

void TUdpPeer::SendBatch(uint16_t port, const std::vector<Bytes>& datagrams) {
  sockaddr_in to = Addr(LoopbackIP(), port);
  std::vector<mmsghdr> msgs(datagrams.size());
  std::vector<iovec> iov(datagrams.size());
  for (size_t i = 0; i < datagrams.size(); ++i) {
    iov[i] = {const_cast<uint8_t*>(datagrams[i].data()), datagrams[i].size()};
    msgs[i].msg_hdr = {};
    msgs[i].msg_hdr.msg_name = &to;
    msgs[i].msg_hdr.msg_namelen = sizeof to;
    msgs[i].msg_hdr.msg_iov = &iov[i];
    msgs[i].msg_hdr.msg_iovlen = 1;
  }
  size_t done = 0;
  while (done < msgs.size()) {
    const int n = ::sendmmsg(fd_, msgs.data() + done, unsigned(msgs.size() - done), 0);
    if (n <= 0) break;
    done += size_t(n);
  }
}

std::optional<TDatagram> TUdpPeer::Receive(std::chrono::milliseconds timeout) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, int(timeout.count())) <= 0) return std::nullopt;
  TDatagram d;
  d.data.resize(65536);
  sockaddr_in src{};
  socklen_t len = sizeof src;
  const ssize_t n = ::recvfrom(fd_, d.data.data(), d.data.size(), 0, reinterpret_cast<sockaddr*>(&src), &len);
  if (n < 0) return std::nullopt;
  d.data.resize(size_t(n));
  d.ip = src.sin_addr.s_addr;
  d.port = ntohs(src.sin_port);
  return d;
}

// ---- TLossyRelay ---------------------------------------------------------------------------

TLossyRelay::TLossyRelay(uint32_t serverIP, uint16_t serverPort, TLinkFaults toServer,
                         TLinkFaults toClient, uint64_t seed)
    : serverIP_(serverIP), serverPort_(serverPort) {
  toServer_.faults = toServer;
  toServer_.rng.seed(seed);
  toClient_.faults = toClient;
  toClient_.rng.seed(seed ^ 0x9E3779B97F4A7C15ull);
  front_ = BoundSocket(SOCK_DGRAM, 0, &port_);
  stop_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { Run(); });
}

TLossyRelay::~TLossyRelay() {
  const uint64_t one = 1;
  [[maybe_unused]] auto w = ::write(stop_, &one, sizeof one);
  thread_.join();
  for (auto& c : clients_) ::close(c.upstream);
  ::close(front_);
  ::close(stop_);
}

void TLossyRelay::Schedule(Pending p) { pending_.push_back(std::move(p)); }

void TLossyRelay::Route(Direction& d, int fd, uint32_t ip, uint16_t port, Bytes data) {
  d.stats.in++;
  std::uniform_real_distribution<double> u(0, 1);
  // Draw every decision for every datagram, so one fault setting cannot shift the others.
  const double lossDraw = u(d.rng), dupDraw = u(d.rng), reorderDraw = u(d.rng);
  const int lo = d.faults.delayMinMs, hi = std::max(d.faults.delayMinMs, d.faults.delayMaxMs);
  const int delay = std::uniform_int_distribution<int>(lo, hi)(d.rng);
  const auto now = std::chrono::steady_clock::now();
  if (lossDraw < d.faults.loss) {
    d.stats.dropped++;
    return;
  }
  Pending p{now + std::chrono::milliseconds(delay), fd, ip, port, std::move(data)};
  if (reorderDraw < d.faults.reorder && !d.held) {
    d.stats.reordered++;
    // Released after the next datagram of this direction, or after 50 ms at the latest.
    p.due = now + std::chrono::milliseconds(50);
    d.held = std::move(p);
    return;
  }
  if (dupDraw < d.faults.duplicate) {
    d.stats.duplicated++;
    Schedule(p);
  }
  const auto after = p.due;
  Schedule(std::move(p));
  if (d.held) {
    d.held->due = after + std::chrono::microseconds(1);
    Schedule(std::move(*d.held));
    d.held.reset();
  }
}

void TLossyRelay::FlushDue() {
  const auto now = std::chrono::steady_clock::now();
  for (Direction* d : {&toServer_, &toClient_})
    if (d->held && d->held->due <= now) {
      Schedule(std::move(*d->held));
      d->held.reset();
    }
  std::stable_sort(pending_.begin(), pending_.end(),
                   [](const Pending& a, const Pending& b) { return a.due < b.due; });
  size_t sent = 0;
  for (; sent < pending_.size() && pending_[sent].due <= now; ++sent) {
    const Pending& p = pending_[sent];
    const sockaddr_in to = Addr(p.ip, p.port);
    ::sendto(p.fd, p.data.data(), p.data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    (p.fd == front_ ? toClient_ : toServer_).stats.out++;
  }
  pending_.erase(pending_.begin(), pending_.begin() + long(sent));
}

void TLossyRelay::Run() {
  Bytes buf(65536);
  for (;;) {
    FlushDue();
    int timeout = -1;
    auto next = std::chrono::steady_clock::time_point::max();
    for (auto& p : pending_) next = std::min(next, p.due);
    for (Direction* d : {&toServer_, &toClient_})
      if (d->held) next = std::min(next, d->held->due);
    if (next != std::chrono::steady_clock::time_point::max()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          next - std::chrono::steady_clock::now());
      timeout = int(std::max<int64_t>(0, left.count() + 1));
    }
    std::vector<pollfd> fds{{stop_, POLLIN, 0}, {front_, POLLIN, 0}};
    for (auto& c : clients_) fds.push_back({c.upstream, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;
    sockaddr_in src{};
    socklen_t len = sizeof src;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = ::recvfrom(front_, buf.data(), buf.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&src), &len);
      if (n >= 0) {
        auto it = std::find_if(clients_.begin(), clients_.end(), [&](const Client& c) {
          return c.ip == src.sin_addr.s_addr && c.port == ntohs(src.sin_port);
        });
        if (it == clients_.end()) {
          clients_.push_back({src.sin_addr.s_addr, ntohs(src.sin_port), BoundSocket(SOCK_DGRAM, 0, nullptr)});
          it = clients_.end() - 1;
        }
        Route(toServer_, it->upstream, serverIP_, serverPort_, Bytes(buf.begin(), buf.begin() + n));
      }
    }
    for (size_t i = 2; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      const Client c = clients_[i - 2];
      const ssize_t n = ::recv(c.upstream, buf.data(), buf.size(), MSG_DONTWAIT);
      if (n >= 0) Route(toClient_, front_, c.ip, c.port, Bytes(buf.begin(), buf.begin() + n));
    }
  }
}

// ---- TClockPump ----------------------------------------------------------------------------

TClockPump::TClockPump(ml::ManualClock& clock, std::chrono::milliseconds step,
                       std::chrono::microseconds tick)
    : thread_([this, &clock, step, tick] {
        while (!stop_) {
          std::this_thread::sleep_for(tick);
          clock.Advance(step);
        }
      }) {}

TClockPump::~TClockPump() {
  stop_ = true;
  thread_.join();
}

// ---- TFakeSocks5 ---------------------------------------------------------------------------

TFakeSocks5::TFakeSocks5(std::vector<Step> steps) {
  listen_ = BoundSocket(SOCK_STREAM, 0, &port_);
  ::listen(listen_, 4);
  thread_ = std::thread([this, steps = std::move(steps)] {
    const auto waitIn = [this](int fd) {
      while (!stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) return true;
      }
      return false;
    };
    if (!waitIn(listen_)) return;
    const int fd = ::accept(listen_, nullptr, nullptr);
    if (fd < 0) return;
    for (const Step& s : steps) {
      size_t got = 0;
      uint8_t buf[1024];
      while (got < s.expect && waitIn(fd)) {
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, s.expect - got), 0);
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), buf, buf + n);
        got += size_t(n);
      }
      if (!s.answer.empty()) ::send(fd, s.answer.data(), s.answer.size(), MSG_NOSIGNAL);
      if (s.close) break;
      if (s.hang) {
        // Silent until the client hangs up or the test ends.
        while (waitIn(fd) && ::recv(fd, buf, sizeof buf, 0) > 0) {
        }
        break;
      }
    }
    // Keep the connection (and with it any association) until the test ends.
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0 && ::recv(fd, nullptr, 0, MSG_DONTWAIT) == 0) break;
    }
    ::close(fd);
  });
}

TFakeSocks5::~TFakeSocks5() {
  stop_ = true;
  thread_.join();
  ::close(listen_);
}

Bytes TFakeSocks5::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

// ---- TDantedServer -------------------------------------------------------------------------

TDantedServer::~TDantedServer() {
  if (running_) mltest::RunCapture(mltest::SourceDir() + "/scripts/servers/danted.sh stop '" + folder_ + "'");
}

TDantedServer::Result TDantedServer::Start(const std::string& folder, const std::string& user,
                                           const std::string& password) {
  folder_ = folder;
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreeTcpPort();
    int code = 0;
    mltest::RunCapture(mltest::SourceDir() + "/scripts/servers/danted.sh start '" + folder + "' " +
                           std::to_string(port_) + (user.empty() ? "" : " '" + user + "' '" + password + "'"),
                       &code);
    if (code == 0) {
      running_ = true;
      return Started;
    }
    if (code == 77) return Unavailable;
  }
  return Failed;
}

std::string TDantedServer::Log() const {
  std::string log;
  for (const char* name : {"/danted.log", "/danted.out"}) {
    try {
      log += mltest::ReadAll(folder_ + name);
    } catch (...) {
      // Not written yet.
    }
  }
  return log;
}

}  // namespace mlnettest
