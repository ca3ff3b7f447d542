#pragma once
// Where the service's datagrams leave: one of its sockets, or a recorder in tests and the fuzzer.
#include <cstddef>
#include <cstdint>

#include "net/LREncrypt.h"

namespace mlsvc {

class TDatagramSender {
public:
  virtual ~TDatagramSender() = default;
  // Sends payload in an envelope of the given kind (the answer's kind for a request of that kind;
  // Envelope::TransferData for a data packet's body) to ip:port. fromIP is the address the client wrote to (0: unknown), which a socket bound to
  // every interface answers from, so that the answer comes from where the request went.
  virtual bool Send(uint8_t kind, ml::TLRGUID guid, const void* payload, size_t length, uint32_t ip,
                    uint16_t port, uint32_t fromIP) = 0;
};

}  // namespace mlsvc
