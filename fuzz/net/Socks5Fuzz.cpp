// The parsers of what a SOCKS5 proxy sends: method choice, password status, association reply
// and relayed datagram headers.
#include <cstdint>
#include <cstdlib>

#include "net/Socks5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ml::Socks5;
  ParseMethodReply(data, size, false);
  ParseMethodReply(data, size, true);
  ParseAuthReply(data, size);
  TEndpoint relay;
  if (ParseAssociateReply(data, size, 0x0100007F, relay) && (relay.Port == 0 || relay.IP == 0)) std::abort();
  TEndpoint from;
  if (UnwrapDatagram(data, size, from) && size < UdpHeader) std::abort();
  return 0;
}
