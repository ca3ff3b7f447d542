#pragma once
// One UDP socket of the service, bound to the configured address, with its own receive thread.
// Datagrams are read in batches (recvmmsg), opened in place and handed to the handler on that
// thread; cheap roles answer inline, costly ones hand the work on. Every datagram is hostile
// until OpenEnvelope has checked its kind, checksum and lengths. Each datagram's destination
// address comes with it (IP_PKTINFO), and answers leave from that address: a socket bound to
// every interface then answers from the address the client wrote to, as its waiter expects.
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "net/LREncrypt.h"
#include "service/DatagramSender.h"
#include "service/ServiceLog.h"

namespace mlsvc {

class TServiceSocket final : public TDatagramSender {
public:
  using THandler =
      std::function<void(const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port, uint32_t localIP)>;

  // ip in network order (0: every interface); port 0 picks a free one. Throws std::runtime_error
  // when it cannot bind. Datagrams that do not open are noted in log at level debug.
  TServiceSocket(uint32_t ip, uint16_t port, TServiceLog* log = nullptr);
  ~TServiceSocket() override;
  TServiceSocket(const TServiceSocket&) = delete;
  TServiceSocket& operator=(const TServiceSocket&) = delete;

  uint16_t Port() const { return port_; }
  void Start(THandler handler);
  void Stop();

  bool Send(uint8_t kind, ml::TLRGUID guid, const void* payload, size_t length, uint32_t ip,
            uint16_t port, uint32_t fromIP) override;
  uint64_t Received() const { return received_.load(); }

private:
  void Run();
  void NoteDropped(uint32_t ip, uint16_t port, const char* why);

  TServiceLog* log_;
  int fd_ = -1;
  int stopFd_ = -1;
  uint16_t port_ = 0;
  THandler handler_;
  std::thread thread_;
  std::atomic<uint64_t> received_{0};
};

}  // namespace mlsvc
