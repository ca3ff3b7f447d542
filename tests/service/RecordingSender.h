#pragma once
// A stand-in for the service's sockets in tests that drive TServiceCore in this process: it keeps
// what would have been sent.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "net/LREncrypt.h"
#include "service/DatagramSender.h"
#include "service/ServiceContext.h"
#include "tests/net/NetTestTools.h"

namespace mlsvctest {

using mlnettest::Bytes;
using mlsvc::TServer;

struct TSent {
  TServer From;
  uint8_t Kind;
  ml::TLRGUID Guid;
  Bytes Payload;
  uint32_t IP;
  uint16_t Port;
};

class TRecorder final : public mlsvc::TDatagramSender {
public:
  explicit TRecorder(TServer server) : server_(server) {}
  bool Send(uint8_t kind, ml::TLRGUID guid, const void* payload, size_t length, uint32_t ip, uint16_t port,
            uint32_t) override {
    const auto* p = static_cast<const uint8_t*>(payload);
    std::lock_guard lock(mutex_);
    sent_.push_back({server_, kind, guid, Bytes(p, p + length), ip, port});
    return true;
  }
  std::vector<TSent> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
  }

private:
  const TServer server_;
  std::mutex mutex_;
  std::vector<TSent> sent_;
};

}  // namespace mlsvctest
