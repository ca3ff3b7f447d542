#include "service/ServiceSocket.h"

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

#include "net/IPv4Text.h"

namespace mlsvc {

namespace {
constexpr int kBatch = 32;
constexpr size_t kRoom = 2048;  // larger than any datagram we accept, so oversize shows as MSG_TRUNC
constexpr size_t kControlRoom = CMSG_SPACE(sizeof(in_pktinfo));

// The destination address the kernel reports with a datagram; 0 when it did not.
uint32_t Destination(msghdr& h) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&h); c; c = CMSG_NXTHDR(&h, c))
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO && c->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      return info.ipi_addr.s_addr;
    }
  return 0;
}

}  // namespace

TServiceSocket::TServiceSocket(uint32_t ip, uint16_t port, TServiceLog* log) : log_(log) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int size = 1 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
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
                          uint32_t ip, uint16_t port, uint32_t fromIP) {
  uint8_t out[ml::Envelope::MaxDatagram + 16];
  // Transfer data (the seed's blocks) go in their own envelope, without an identity.
  const size_t n = kind == ml::Envelope::TransferData ? ml::BuildTransferData(out, sizeof out, payload, length)
                                                      : ml::BuildReply(kind, out, sizeof out, guid, payload, length);
  if (n == 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = ip;
  to.sin_port = htons(port);
  iovec iov{out, n};
  msghdr h{};
  h.msg_name = &to;
  h.msg_namelen = sizeof to;
  h.msg_iov = &iov;
  h.msg_iovlen = 1;
  alignas(cmsghdr) uint8_t control[kControlRoom] = {};
  if (fromIP) {
    h.msg_control = control;
    h.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&h);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = fromIP;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  return ::sendmsg(fd_, &h, MSG_DONTWAIT) == ssize_t(n);
}

void TServiceSocket::NoteDropped(uint32_t ip, uint16_t port, const char* why) {
  if (log_ && log_->Enabled(TLogLevel::Debug))
    log_->Write(TLogLevel::Debug, "request %s:%u -> port %u: dropped, %s", ml::IPv4Text(ip).c_str(), unsigned(port),
                unsigned(port_), why);
}

void TServiceSocket::Run() {
  static thread_local uint8_t bufs[kBatch][kRoom];
  mmsghdr msgs[kBatch];
  iovec iov[kBatch];
  sockaddr_in from[kBatch];
  alignas(cmsghdr) static thread_local uint8_t control[kBatch][kControlRoom];
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
        msgs[i].msg_hdr.msg_control = control[i];
        msgs[i].msg_hdr.msg_controllen = sizeof control[i];
      }
      const int got = ::recvmmsg(fd_, msgs, kBatch, MSG_DONTWAIT, nullptr);
      if (got <= 0) break;
      received_ += uint64_t(got);
      for (int i = 0; i < got; ++i) {
        const uint32_t ip = from[i].sin_addr.s_addr;
        const uint16_t port = ntohs(from[i].sin_port);
        const size_t len = msgs[i].msg_len;
        if ((msgs[i].msg_hdr.msg_flags & MSG_TRUNC) || len > ml::Envelope::MaxDatagram) {
          NoteDropped(ip, port, "too long");
          continue;
        }
        ml::TOpenedEnvelope env;
        if (!ml::OpenEnvelope(bufs[i], len, env)) {
          NoteDropped(ip, port, "not an envelope that opens");
          continue;
        }
        try {
          handler_(env, ip, port, Destination(msgs[i].msg_hdr));
        } catch (const std::exception& e) {
          // One bad request must not stop the service.
          if (log_) log_->Write(TLogLevel::Error, "request from %s:%u: %s", ml::IPv4Text(ip).c_str(), unsigned(port), e.what());
        } catch (...) {
        }
      }
      if (got < kBatch) break;
    }
  }
}

}  // namespace mlsvc
