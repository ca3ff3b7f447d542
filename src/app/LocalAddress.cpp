#include "app/LocalAddress.h"

#include "online/uLogin.h"

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string>

namespace ml {

int ClassifyIPv4(uint32_t addr) {
  const uint32_t a = ntohl(addr);
  const uint32_t top = a >> 24;
  if (a == 0 || a == 0xFFFFFFFFu || top == 127 || (a >> 16) == 0xA9FE) return -1;
  if (top == 10 || (a >> 20) == 0xAC1 || (a >> 16) == 0xC0A8) return 0;
  return 1;
}

TLocalAddresses ChooseLocalAddresses(const std::vector<uint32_t>& all) {
  // Loopback and link-local addresses reach no other host: they count only on a host that has
  // nothing else.
  std::vector<uint32_t> usable;
  for (uint32_t addr : all)
    if (ClassifyIPv4(addr) >= 0) usable.push_back(addr);
  const std::vector<uint32_t>& addrs = usable.empty() ? all : usable;
  TLocalAddresses r;
  bool noPublicYet = true;
  int best = -1;
  for (uint32_t addr : addrs) {
    const int cls = ClassifyIPv4(addr);
    if (cls == 1) {
      r.LocalIP = addr;
      r.NetKind = 0;
      noPublicYet = false;
    } else if (cls >= best) {
      r.LanIP = addr;
      if (noPublicYet) {
        r.LocalIP = addr;
        r.NetKind = 3;
      }
      best = cls;
    }
  }
  if (addrs.size() == 1 && ClassifyIPv4(addrs[0]) == 1) r.LanIP = r.LocalIP;
  return r;
}

std::vector<uint32_t> HostIPv4Addresses() {
  std::vector<uint32_t> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* i = list; i; i = i->ifa_next)
    if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_UP))
      out.push_back(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
  ::freeifaddrs(list);
  return out;
}

TLocalAddresses ProbeLocalAddresses() { return ChooseLocalAddresses(HostIPv4Addresses()); }

std::array<uint8_t, 6> HardwareAddress(uint32_t addr) {
  std::array<uint8_t, 6> mac{};
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return mac;
  std::string owner;
  for (ifaddrs* i = list; i; i = i->ifa_next)
    if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET &&
        reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == addr)
      owner = i->ifa_name;
  auto macOf = [](ifaddrs* i, std::array<uint8_t, 6>& out) {
    auto* ll = reinterpret_cast<sockaddr_ll*>(i->ifa_addr);
    if (ll->sll_halen != 6) return false;
    std::memcpy(out.data(), ll->sll_addr, 6);
    for (uint8_t b : out)
      if (b) return true;
    return false;
  };
  bool found = false;
  for (int pass = 0; pass < 2 && !found; ++pass)
    for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET || (i->ifa_flags & IFF_LOOPBACK)) continue;
      if (pass == 0 && owner != i->ifa_name) continue;
      found = macOf(i, mac);
    }
  if (!found) mac.fill(0);
  ::freeifaddrs(list);
  return mac;
}

void FillUserAddresses(TUserInfo& user, const TLocalAddresses& local) {
  user.LocalIP = local.LanIP ? local.LanIP : local.LocalIP;
  user.PublicIP = local.LocalIP;
  user.NetKind = local.NetKind;
  user.HardwareAddress = HardwareAddress(user.LocalIP);
}

}  // namespace ml
