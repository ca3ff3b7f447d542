#include "service/ServiceSocket.h"

#include "net/IPv4Text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/DebugTrace.h"

namespace mlsvc {

namespace {
constexpr int kBatch = 32;
constexpr size_t kRoom = 2048;  // larger than any datagram we accept, so oversize shows as MSG_TRUNC
}

TServiceSocket::TServiceSocket(uint32_t ip, uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int size = 1 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = ip;
  a.sin_port = htons(port);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    const int err = errno;
    ::close(fd_);
    throw std::runtime_error("cannot bind UDP " + ml::IPv4Text(ip) + ":" + std::to_string(port) +
                             ": " + std::strerror(err));
  }
  socklen_t len = sizeof a;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TServiceSocket::~TServiceSocket() {
  Stop();
  if (fd_ >= 0) ::close(fd_);
  if (stopFd_ >= 0) ::close(stopFd_);
}

void TServiceSocket::Start(THandler handler) {
  handler_ = std::move(handler);
  thread_ = std::thread([this] { Run(); });
}

void TServiceSocket::Stop() {
  if (!thread_.joinable()) return;
  uint64_t one = 1;
  (void)!::write(stopFd_, &one, sizeof one);
  thread_.join();
}

bool TServiceSocket::Send(uint8_t kind, ml::TLRGUID guid, const void* payload, size_t length,
                          uint32_t ip, uint16_t port) {
  uint8_t out[ml::Envelope::MaxDatagram + 16];
  const size_t n = ml::BuildReply(kind, out, sizeof out, guid, payload, length);
  if (n == 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = ip;
  to.sin_port = htons(port);
  return ::sendto(fd_, out, n, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to), sizeof to) == ssize_t(n);
}

void TServiceSocket::Run() {
  static thread_local uint8_t bufs[kBatch][kRoom];
  mmsghdr msgs[kBatch];
  iovec iov[kBatch];
  sockaddr_in from[kBatch];
  pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents) break;
    for (;;) {
      for (int i = 0; i < kBatch; ++i) {
        iov[i] = {bufs[i], kRoom};
        std::memset(&msgs[i].msg_hdr, 0, sizeof msgs[i].msg_hdr);
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_name = &from[i];
        msgs[i].msg_hdr.msg_namelen = sizeof from[i];
      }
      const int got = ::recvmmsg(fd_, msgs, kBatch, MSG_DONTWAIT, nullptr);
      if (got <= 0) break;
      received_ += uint64_t(got);
      for (int i = 0; i < got; ++i) {
        if (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) continue;
        const size_t len = msgs[i].msg_len;
        if (len > ml::Envelope::MaxDatagram) continue;
        ml::TOpenedEnvelope env;
        if (!ml::OpenEnvelope(bufs[i], len, env)) continue;
        try {
          handler_(env, from[i].sin_addr.s_addr, ntohs(from[i].sin_port));
        } catch (const std::exception& e) {
          // One bad request must not stop the service.
          ml::DebugTrace("service handler: %s", e.what());
        } catch (...) {
        }
      }
      if (got < kBatch) break;
    }
  }
}

}  // namespace mlsvc
