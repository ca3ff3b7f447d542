#pragma once
// The local addresses the network code reports to the service: which IPv4 address is "ours",
// whether it is public (kind 0) or private (kind 3), the LAN address, and the adapter's 6-byte
// hardware address. Addresses are 32-bit values in the socket layer's byte order (s_addr).
#include <array>
#include <cstdint>
#include <vector>

namespace ml {

class TUserInfo;

struct TLocalAddresses {
  uint32_t LocalIP = 0;
  uint8_t NetKind = 0;  // 0 public, 3 private
  uint32_t LanIP = 0;
};

// -1 unusable (0.0.0.0, 255.255.255.255, 127/8, 169.254/16), 0 private (10/8, 172.16/12,
// 192.168/16), 1 public.
int ClassifyIPv4(uint32_t addr);

// The choice over the host's addresses in their order: the first public address wins with kind
// 0; otherwise the best-classed other address (the later one on a tie) becomes the LAN address
// and, while no public address has been seen, the local one with kind 3. A host with one public
// address only has it as its LAN address too. Unusable addresses count only when there is no
// other.
TLocalAddresses ChooseLocalAddresses(const std::vector<uint32_t>& addrs);

// The IPv4 addresses of the interfaces that are up, in the system's order.
std::vector<uint32_t> HostIPv4Addresses();

TLocalAddresses ProbeLocalAddresses();

// The hardware address of the interface that holds addr; else of the first other interface that
// has one; all zero when none does.
std::array<uint8_t, 6> HardwareAddress(uint32_t addr);

// The user record's addresses as start-up fills them from the probe: LocalIP is the LAN address
// (the local one when there is none), PublicIP and NetKind the probe's own choice, and the
// hardware address that of LocalIP.
void FillUserAddresses(TUserInfo& user, const TLocalAddresses& local);

}  // namespace ml
