#pragma once
// The byte-level part of SOCKS5 UDP association (RFC 1928, RFC 1929): the requests we send and
// the parsers of what a proxy sends back. Pure functions over buffers, so that every parser can
// be fuzzed and tested without a socket. Only IPv4 (address type 1) is accepted anywhere.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ml::Socks5 {

constexpr uint8_t Version = 5;
constexpr uint8_t MethodNone = 0;
constexpr uint8_t MethodUserPassword = 2;
constexpr uint8_t CmdUdpAssociate = 3;
constexpr uint8_t AddrIPv4 = 1;
constexpr size_t UdpHeader = 10;      // RSV RSV FRAG ATYP ADDR(4) PORT(2)
constexpr size_t AssociateReply = 10;  // VER REP RSV ATYP ADDR(4) PORT(2)

// An IPv4 endpoint: address in network byte order, port in host byte order.
struct TEndpoint {
  uint32_t IP = 0;
  uint16_t Port = 0;
  bool operator==(const TEndpoint&) const = default;
};

// Greeting: 05 01 00 without credentials, 05 02 00 02 with. Returns its length (out: 4 bytes).
size_t BuildGreeting(uint8_t* out, bool withPassword);
// The proxy's method choice (2 bytes): true when it chose the method we need (none without
// credentials, user/password with them).
bool ParseMethodReply(const uint8_t* data, size_t length, bool withPassword);
// RFC 1929 request: 01 ULEN user PLEN password. 0 when user is empty or either is over 255 bytes
// (out must hold 513 bytes).
size_t BuildAuthRequest(uint8_t* out, std::string_view user, std::string_view password);
// RFC 1929 status (2 bytes): true when the status byte is 0.
bool ParseAuthReply(const uint8_t* data, size_t length);
// 05 03 00 01 addr port: the address we will send from (out: 10 bytes).
size_t BuildAssociate(uint8_t* out, TEndpoint local);
// The association reply. True for version 5, reply 0, address type 1 and a non-zero port; the
// relay is the address it names, or proxyIP when it names 0.0.0.0.
bool ParseAssociateReply(const uint8_t* data, size_t length, uint32_t proxyIP, TEndpoint& relay);
// Wraps data for the relay: 00 00 00 01 dest-addr dest-port data. 0 when out is too small.
size_t WrapDatagram(uint8_t* out, size_t outCap, TEndpoint dest, const void* data, size_t length);
// Unwraps a relayed frame: true for an unfragmented IPv4 frame of at least the header; from is the
// original sender and the data starts at data + UdpHeader.
bool UnwrapDatagram(const uint8_t* data, size_t length, TEndpoint& from);

}  // namespace ml::Socks5
