#include "net/Socks5.h"

#include "base/ByteOrder.h"

#include <cstring>

namespace ml::Socks5 {

size_t BuildGreeting(uint8_t* out, bool withPassword) {
  out[0] = Version;
  if (!withPassword) {
    out[1] = 1;
    out[2] = MethodNone;
    return 3;
  }
  out[1] = 2;
  out[2] = MethodNone;
  out[3] = MethodUserPassword;
  return 4;
}

bool ParseMethodReply(const uint8_t* data, size_t length, bool withPassword) {
  if (!data || length < 2 || data[0] != Version) return false;
  return data[1] == (withPassword ? MethodUserPassword : MethodNone);
}

size_t BuildAuthRequest(uint8_t* out, std::string_view user, std::string_view password) {
  if (user.empty() || user.size() > 255 || password.size() > 255) return 0;
  size_t n = 0;
  out[n++] = 1;
  out[n++] = uint8_t(user.size());
  std::memcpy(out + n, user.data(), user.size());
  n += user.size();
  out[n++] = uint8_t(password.size());
  if (!password.empty()) std::memcpy(out + n, password.data(), password.size());
  return n + password.size();
}

bool ParseAuthReply(const uint8_t* data, size_t length) {
  return data && length >= 2 && data[0] == 1 && data[1] == 0;
}

size_t BuildAssociate(uint8_t* out, TEndpoint local) {
  out[0] = Version;
  out[1] = CmdUdpAssociate;
  out[2] = 0;
  out[3] = AddrIPv4;
  std::memcpy(out + 4, &local.IP, 4);
  out[8] = uint8_t(local.Port >> 8);
  out[9] = uint8_t(local.Port);
  return 10;
}

bool ParseAssociateReply(const uint8_t* data, size_t length, uint32_t proxyIP, TEndpoint& relay) {
  if (!data || length < AssociateReply) return false;
  if (data[0] != Version || data[1] != 0 || data[3] != AddrIPv4) return false;
  TEndpoint r;
  std::memcpy(&r.IP, data + 4, 4);
  r.Port = LoadBE16(data + 8);
  if (r.Port == 0) return false;
  // A proxy that answers 0.0.0.0 relays on its own address.
  if (r.IP == 0) r.IP = proxyIP;
  if (r.IP == 0 || r.IP == 0xFFFFFFFFu) return false;
  relay = r;
  return true;
}

size_t WrapDatagram(uint8_t* out, size_t outCap, TEndpoint dest, const void* data, size_t length) {
  if (!out || (!data && length) || outCap < UdpHeader || length > outCap - UdpHeader) return 0;
  out[0] = 0;
  out[1] = 0;
  out[2] = 0;
  out[3] = AddrIPv4;
  std::memcpy(out + 4, &dest.IP, 4);
  out[8] = uint8_t(dest.Port >> 8);
  out[9] = uint8_t(dest.Port);
  if (length) std::memmove(out + UdpHeader, data, length);
  return UdpHeader + length;
}

bool UnwrapDatagram(const uint8_t* data, size_t length, TEndpoint& from) {
  if (!data || length < UdpHeader) return false;
  if (data[0] != 0 || data[1] != 0 || data[2] != 0 || data[3] != AddrIPv4) return false;
  std::memcpy(&from.IP, data + 4, 4);
  from.Port = LoadBE16(data + 8);
  return true;
}

}  // namespace ml::Socks5
