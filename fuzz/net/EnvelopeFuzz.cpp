// Opens arbitrary bytes as a datagram. Whatever opens must lie inside the datagram, and must
// survive being built again and reopened with the same identity and payload.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/LREncrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ml;
  std::vector<uint8_t> d(data, data + size);
  CheckTransferData(d.data(), d.size());
  TOpenedEnvelope env;
  if (!OpenEnvelope(d.data(), d.size(), env)) return 0;
  if (env.Payload < d.data() || env.Payload + env.PayloadLength > d.data() + d.size()) std::abort();
  if (env.Kind == Envelope::TransferData) return 0;
  if (env.PartNumber != 1 || env.PartCount != 1 || env.PayloadLength == 0) std::abort();
  uint8_t rebuilt[Envelope::MaxDatagram];
  const size_t n = BuildReply(env.Kind, rebuilt, sizeof rebuilt, env.Guid, env.Payload, env.PayloadLength);
  if (n == 0) return 0;  // a bare payload too long for a trailer envelope
  TOpenedEnvelope again;
  if (!OpenEnvelope(rebuilt, n, again)) std::abort();
  if (!(again.Guid == env.Guid) || again.PayloadLength != env.PayloadLength ||
      std::memcmp(again.Payload, env.Payload, env.PayloadLength) != 0)
    std::abort();
  return 0;
}
