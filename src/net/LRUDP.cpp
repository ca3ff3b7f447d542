#include "net/LRUDP.h"

#include "net/IPv4Text.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <typeinfo>
#include <vector>

namespace ml {
namespace {

// The largest datagram we send through the proxy; the program's own never exceed 1460 bytes.
constexpr size_t MaxProxiedPayload = 8192;
// Room for any UDP datagram the kernel can hand us.
constexpr size_t MaxFrame = 65536;

sockaddr_in MakeAddr(uint32_t ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = ip;
  a.sin_port = htons(port);
  return a;
}

// Blocks until fd is ready for ev, in short slices so that abort (or the deadline) can end it.
bool WaitFd(int fd, short ev, const std::atomic<bool>& abort,
            std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (abort.load() || std::chrono::steady_clock::now() >= deadline) return false;
    pollfd p{fd, ev, 0};
    const int r = ::poll(&p, 1, 50);
    if (r < 0 && errno != EINTR) return false;
    if (r > 0) return (p.revents & ev) != 0;
  }
}

bool SendAll(int fd, const uint8_t* data, size_t n, const std::atomic<bool>& abort,
             std::chrono::steady_clock::time_point deadline) {
  while (n > 0) {
    if (!WaitFd(fd, POLLOUT, abort, deadline)) return false;
    const ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    data += w;
    n -= size_t(w);
  }
  return true;
}

bool RecvExact(int fd, uint8_t* data, size_t n, const std::atomic<bool>& abort,
               std::chrono::steady_clock::time_point deadline) {
  while (n > 0) {
    if (!WaitFd(fd, POLLIN, abort, deadline)) return false;
    const ssize_t r = ::recv(fd, data, n, MSG_DONTWAIT);
    if (r == 0) return false;  // the proxy hung up
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    data += r;
    n -= size_t(r);
  }
  return true;
}

}  // namespace

std::string SocketErrorText(int code, const char* api) {
  char text[256];
  std::snprintf(text, sizeof text, "Socket error: %s (%d), on API '%s'", std::strerror(code), code,
                api);
  return text;
}

TLRUDP::TLRUDP(Dispatcher* dispatcher) : dispatcher_(dispatcher) {}

TLRUDP::~TLRUDP() { SetActive(false); }

void TLRUDP::SetOnUDPRead(TUDPReadEvent handler) {
  onUDPRead_.store(handler ? std::make_shared<const TUDPReadEvent>(std::move(handler)) : nullptr);
}

void TLRUDP::SetOnUDPError(TUDPErrorEvent handler) {
  onUDPError_.store(handler ? std::make_shared<const TUDPErrorEvent>(std::move(handler)) : nullptr);
}

void TLRUDP::ReportError(const std::string& text) {
  const auto onError = onUDPError_.load();
  if (!onError) return;
  try {
    (*onError)(*this, text);
  } catch (...) {
    // A diagnostics handler must not take the transport down.
  }
}

int TLRUDP::OpenSocket(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ELRUDPError(SocketErrorText(errno, "socket"));
  // Without SO_REUSEADDR a bound UDP port is ours alone, as the exclusive-use option intends.
  for (;;) {
    sockaddr_in a = MakeAddr(htonl(INADDR_ANY), port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) break;
    const int err = errno;
    // The step stops at the last port rather than wrapping to 0 (which would bind at random).
    if ((err == EADDRINUSE || err == EINVAL) && autoIncPort_ && port < 65535) {
      ++port;
      continue;
    }
    ::close(fd);
    throw ELRUDPError(SocketErrorText(err, "bind"));
  }
  // Root may raise the buffers past the system's default cap; others get what the cap allows.
  const int bytes = KernelBufferBytes;
  for (int opt : {SO_SNDBUF, SO_RCVBUF}) {
    const int force = opt == SO_SNDBUF ? SO_SNDBUFFORCE : SO_RCVBUFFORCE;
    if (::setsockopt(fd, SOL_SOCKET, force, &bytes, sizeof bytes) == 0) continue;
    if (::setsockopt(fd, SOL_SOCKET, opt, &bytes, sizeof bytes) != 0) {
      const int err = errno;
      ::close(fd);
      throw ELRUDPError(SocketErrorText(err, "setsockopt"));
    }
  }
  return fd;
}

void TLRUDP::SetActive(bool value) {
  if (value == active_.load()) return;
  if (value) {
    if (defaultPort_.load() == 0) throw ELRUDPError("监听的端口号为0!");
    uint16_t port = defaultPort_.load();
    const int fd = OpenSocket(port);
    const int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop < 0) {
      const int err = errno;
      ::close(fd);
      throw ELRUDPError(SocketErrorText(err, "eventfd"));
    }
    {
      std::unique_lock lock(socketLock_);
      fd_ = fd;
      stopFd_ = stop;
    }
    defaultPort_ = port;
    active_ = true;
    StartListener();
    if (proxyEnabled_) EstablishProxy();
    return;
  }
  active_ = false;
  StopListener();
  CloseProxyControl();
  std::unique_lock lock(socketLock_);
  if (fd_ >= 0) ::close(fd_);
  if (stopFd_ >= 0) ::close(stopFd_);
  fd_ = stopFd_ = -1;
}

void TLRUDP::SetDefaultPort(uint16_t value) {
  if (value == defaultPort_.load()) return;
  if (!active_) {
    defaultPort_ = value;
    return;
  }
  // Reopen: bind the new socket first, so that a failure keeps the old one working.
  uint16_t port = value;
  int fd = -1;
  try {
    if (port == 0) return;
    fd = OpenSocket(port);
  } catch (const ELRUDPError&) {
    return;
  }
  StopListener();
  {
    std::unique_lock lock(socketLock_);
    ::close(fd_);
    fd_ = fd;
  }
  defaultPort_ = port;
  StartListener();
  // The association names the old socket's port: renew it.
  if (proxyEnabled_) EstablishProxy();
}

void TLRUDP::StartListener() {
  listener_ = std::thread([this] { Listen(); });
}

void TLRUDP::StopListener() {
  if (!listener_.joinable()) return;
  // The listener cannot join itself: closing or moving the socket from OnUDPRead is a bug.
  if (listener_.get_id() == std::this_thread::get_id())
    throw std::logic_error("TLRUDP closed or reopened from its own listener thread");
  int stop;
  {
    std::shared_lock lock(socketLock_);
    stop = stopFd_;
  }
  const uint64_t one = 1;
  if (stop >= 0) [[maybe_unused]] auto w = ::write(stop, &one, sizeof one);
  listener_.join();
  // Consume the wake-up so that the next listener does not stop at once.
  uint64_t drained;
  if (stop >= 0) [[maybe_unused]] auto r = ::read(stop, &drained, sizeof drained);
}

void TLRUDP::Listen() {
  int fd, stop;
  {
    std::shared_lock lock(socketLock_);
    fd = fd_;
    stop = stopFd_;
  }
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
    const int r = ::poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      ReportError(SocketErrorText(errno, "poll"));
      return;
    }
    if (fds[1].revents) return;
    if (fds[0].revents & POLLNVAL) return;
    if (!(fds[0].revents & (POLLIN | POLLERR))) continue;
    try {
      if (const auto onRead = onUDPRead_.load()) {
        (*onRead)(*this);
      } else {
        uint8_t scratch[1];
        [[maybe_unused]] auto n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
      }
    } catch (const std::exception& e) {
      char text[512];
      std::snprintf(text, sizeof text, "OnUDPRead \"%s\" Excpetion: %s", typeid(e).name(), e.what());
      ReportError(text);
    } catch (...) {
      ReportError("OnUDPRead \"unknown\" Excpetion: unknown");
    }
  }
}

bool TLRUDP::SendTo(uint32_t ip, uint16_t port, const void* data, int32_t length) {
  if (ip == 0 || ip == 0xFFFFFFFFu || port == 0 || length < 0 || (!data && length > 0)) return false;
  std::shared_lock lock(socketLock_);
  if (fd_ < 0) return false;
  ssize_t sent;
  if (proxyEnabled_) {
    if (size_t(length) > MaxProxiedPayload) return false;
    const TEndpoint relay = RelayAddress();
    if (relay.IP == 0) {
      sendErrorCode_ = ENOTCONN;
      ReportError(SocketErrorText(ENOTCONN, "sendto"));
      return false;
    }
    uint8_t frame[Socks5::UdpHeader + MaxProxiedPayload];
    const size_t n = Socks5::WrapDatagram(frame, sizeof frame, {ip, port}, data, size_t(length));
    const sockaddr_in to = MakeAddr(relay.IP, relay.Port);
    sent = ::sendto(fd_, frame, n, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to);
  } else {
    const sockaddr_in to = MakeAddr(ip, port);
    sent = ::sendto(fd_, data, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  if (sent >= 0) {
    sendErrorCode_ = 0;
    return true;
  }
  const int err = errno;
  if (err != EAGAIN && err != EWOULDBLOCK) {
    sendErrorCode_ = err;
    ReportError(SocketErrorText(err, "sendto"));
  }
  return false;
}

int32_t TLRUDP::ReceiveFrom(void* buffer, int32_t capacity, TEndpoint& from) {
  from = {};
  if (!buffer || capacity <= 0) return -1;
  const size_t room = size_t(std::min(capacity, bufferSize_));
  std::shared_lock lock(socketLock_);
  if (fd_ < 0) return -1;
  const bool proxied = proxyEnabled_.load();
  std::unique_lock frameLock(frameMutex_, std::defer_lock);
  if (proxied) {
    frameLock.lock();
    if (frame_.empty()) frame_.resize(MaxFrame);
  }
  uint8_t* frame = frame_.data();
  sockaddr_in src{};
  socklen_t srcLen = sizeof src;
  ssize_t n = proxied ? ::recvfrom(fd_, frame, MaxFrame, MSG_DONTWAIT | MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&src), &srcLen)
                      : ::recvfrom(fd_, buffer, room, MSG_DONTWAIT | MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&src), &srcLen);
  if (n < 0) {
    ReportReceiveError(errno, "recvfrom");
    return -1;
  }
  if (!proxied) {
    if (size_t(n) > room) return 0;
    from = {src.sin_addr.s_addr, ntohs(src.sin_port)};
    return int32_t(n);
  }
  const TEndpoint relay = RelayAddress();
  // Only the relay speaks on this socket while proxied; anything else could forge senders.
  if (size_t(n) > MaxFrame || src.sin_addr.s_addr != relay.IP || ntohs(src.sin_port) != relay.Port)
    return 0;
  TEndpoint origin;
  if (!Socks5::UnwrapDatagram(frame, size_t(n), origin)) return 0;
  const size_t body = size_t(n) - Socks5::UdpHeader;
  if (body > room) return 0;
  std::memcpy(buffer, frame + Socks5::UdpHeader, body);
  from = origin;
  return int32_t(body);
}

int TLRUDP::ReceiveBatch(TDatagram* batch, int count) {
  if (!batch || count <= 0) return -1;
  count = std::min(count, MaxBatch);
  {
    std::shared_lock lock(socketLock_);
    if (fd_ < 0) return -1;
    if (!proxyEnabled_) {
      mmsghdr msgs[MaxBatch];
      iovec iov[MaxBatch];
      sockaddr_in src[MaxBatch];
      for (int i = 0; i < count; ++i) {
        iov[i] = {batch[i].Data, size_t(std::max(0, std::min(batch[i].Capacity, bufferSize_)))};
        msgs[i] = {};
        msgs[i].msg_hdr.msg_name = &src[i];
        msgs[i].msg_hdr.msg_namelen = sizeof src[i];
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
      }
      const int n = ::recvmmsg(fd_, msgs, unsigned(count), MSG_DONTWAIT, nullptr);
      if (n <= 0) {
        if (n < 0) ReportReceiveError(errno, "recvmmsg");
        return -1;
      }
      for (int i = 0; i < n; ++i) {
        TDatagram& d = batch[i];
        // A datagram larger than its room is cut by the kernel: not ours, as in ReceiveFrom.
        const bool cut = (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        d.Length = cut ? 0 : int32_t(msgs[i].msg_len);
        d.From = cut ? TEndpoint{} : TEndpoint{src[i].sin_addr.s_addr, ntohs(src[i].sin_port)};
      }
      return n;
    }
  }
  // Through the proxy each frame is unwrapped and checked on its own.
  int n = 0;
  for (; n < count; ++n) {
    const int32_t length = ReceiveFrom(batch[n].Data, batch[n].Capacity, batch[n].From);
    if (length < 0) break;
    batch[n].Length = length;
  }
  return n > 0 ? n : -1;
}

void TLRUDP::ReportReceiveError(int err, const char* api) {
  // Port-unreachable notices from earlier sends, and an empty socket, are not worth a word.
  if (err != EAGAIN && err != EWOULDBLOCK && err != ECONNREFUSED && err != EINTR)
    ReportError(SocketErrorText(err, api));
}

void TLRUDP::SetProxy(const std::string& host, uint16_t port, const std::string& user,
                      const std::string& password) {
  std::lock_guard lock(proxyMutex_);
  proxyHost_ = host;
  proxyPort_ = port;
  proxyUser_ = user;
  proxyPassword_ = password;
}

void TLRUDP::SetProxyEnabled(bool value) {
  if (value == proxyEnabled_.load()) return;
  proxyEnabled_ = value;
  if (!value) {
    CloseProxyControl();
    proxyState_ = ProxyNone;
  } else if (active_) {
    EstablishProxy();
  }
}

TLRUDP::TEndpoint TLRUDP::RelayAddress() const {
  std::lock_guard lock(proxyMutex_);
  return relay_;
}

void TLRUDP::CloseProxyControl() {
  std::lock_guard lock(proxyMutex_);
  if (controlFd_ >= 0) {
    ::shutdown(controlFd_, SHUT_RDWR);
    ::close(controlFd_);
  }
  controlFd_ = -1;
  relay_ = {};
}

bool TLRUDP::EstablishProxy() {
  std::lock_guard establish(establishMutex_);
  if (!active_) return false;
  CloseProxyControl();
  proxyAbort_ = false;
  proxyState_ = ProxyConnecting;
  int timeoutMs;
  {
    std::lock_guard lock(proxyMutex_);
    timeoutMs = proxyTimeoutMs_;
  }
  proxyThread_ = std::thread([this] { ProxyConnect(); });
  const auto settled = [this] { return proxyState_.load() != ProxyConnecting; };
  if (dispatcher_ && dispatcher_->IsMainThread()) {
    dispatcher_->WaitPumping(settled, Millis(timeoutMs));
  } else {
    std::unique_lock lock(proxyMutex_);
    proxyChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), settled);
  }
  {
    // Too late: abandon the attempt. The connect thread sees the flag within its poll slice and
    // closes its own socket; the state stays "connecting".
    std::lock_guard lock(proxyMutex_);
    if (proxyState_.load() == ProxyConnecting) proxyAbort_ = true;
  }
  proxyThread_.join();
  return proxyState_.load() == ProxyAssociated;
}

void TLRUDP::ProxyConnect() {
  std::string host, user, password;
  uint16_t port;
  int timeoutMs;
  {
    std::lock_guard lock(proxyMutex_);
    host = proxyHost_;
    port = proxyPort_;
    user = proxyUser_;
    password = proxyPassword_;
    timeoutMs = proxyTimeoutMs_;
  }
  // Trailing blanks in a typed user name do not make it a different user.
  while (!user.empty() && (user.back() == ' ' || user.front() == ' ')) {
    if (user.back() == ' ') user.pop_back();
    else user.erase(0, 1);
  }
  const bool withPassword = !user.empty();
  // The thread's own limit is a little longer than the waiter's, so that it never outlives it by
  // much even if nobody aborts it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs + 1000);
  TEndpoint relay;
  int fd = -1;
  const auto finish = [&](bool ok) {
    {
      std::lock_guard lock(proxyMutex_);
      if (ok && !proxyAbort_) {
        controlFd_ = fd;
        relay_ = relay;
        fd = -1;
        proxyState_ = ProxyAssociated;
      } else if (!proxyAbort_) {
        proxyState_ = ProxyFailed;
      }
    }
    if (fd >= 0) ::close(fd);
    proxyChanged_.notify_all();
    // A main-thread waiter sleeps inside the dispatcher: give it something to wake up for.
    if (dispatcher_) dispatcher_->Post([] {});
  };

  uint32_t proxyIP = 0;
  if (port == 0 || !ParseIPv4(host, proxyIP)) return finish(false);
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return finish(false);
  const sockaddr_in to = MakeAddr(proxyIP, port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    if (errno != EINPROGRESS) return finish(false);
    if (!WaitFd(fd, POLLOUT, proxyAbort_, deadline)) return finish(false);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return finish(false);
  }

  uint8_t buf[520];
  size_t n = Socks5::BuildGreeting(buf, withPassword);
  if (!SendAll(fd, buf, n, proxyAbort_, deadline)) return finish(false);
  if (!RecvExact(fd, buf, 2, proxyAbort_, deadline)) return finish(false);
  if (!Socks5::ParseMethodReply(buf, 2, withPassword)) return finish(false);
  if (withPassword) {
    n = Socks5::BuildAuthRequest(buf, user, password);
    if (n == 0 || !SendAll(fd, buf, n, proxyAbort_, deadline)) return finish(false);
    if (!RecvExact(fd, buf, 2, proxyAbort_, deadline)) return finish(false);
    if (!Socks5::ParseAuthReply(buf, 2)) return finish(false);
  }

  // Name the address our datagrams will come from: the UDP socket's port, and (since it is bound
  // to any address) the local address the proxy already sees us on.
  TEndpoint local;
  {
    std::shared_lock lock(socketLock_);
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return finish(false);
    local = {a.sin_addr.s_addr, ntohs(a.sin_port)};
  }
  if (local.IP == 0) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) local.IP = a.sin_addr.s_addr;
  }
  n = Socks5::BuildAssociate(buf, local);
  if (!SendAll(fd, buf, n, proxyAbort_, deadline)) return finish(false);
  // The reply's length follows from its address type; only IPv4 is taken, so read the four fixed
  // bytes, check the type, then the six that an IPv4 reply has left.
  if (!RecvExact(fd, buf, 4, proxyAbort_, deadline)) return finish(false);
  if (buf[0] != Socks5::Version || buf[1] != 0 || buf[3] != Socks5::AddrIPv4) return finish(false);
  if (!RecvExact(fd, buf + 4, 6, proxyAbort_, deadline)) return finish(false);
  return finish(Socks5::ParseAssociateReply(buf, Socks5::AssociateReply, proxyIP, relay));
}

}  // namespace ml
