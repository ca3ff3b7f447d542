#include "app/LocalAddress.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <set>

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

uint32_t Ip(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a.s_addr;
}

TEST(StartupLocalAddress, Classes) {
  struct Case {
    const char* ip;
    int cls;
  } cases[] = {{"0.0.0.0", -1},      {"255.255.255.255", -1}, {"127.0.0.1", -1},   {"127.1.2.3", -1},
               {"169.254.9.9", -1},  {"10.1.2.3", 0},         {"172.16.0.1", 0},   {"172.31.255.255", 0},
               {"172.32.0.1", 1},    {"172.15.0.1", 1},       {"192.168.1.1", 0},  {"192.169.1.1", 1},
               {"8.8.8.8", 1}};
  for (const auto& c : cases) EXPECT_EQ(ml::ClassifyIPv4(Ip(c.ip)), c.cls) << c.ip;
}

TEST(StartupLocalAddress, ChoiceOverTheHostsAddresses) {
  struct Case {
    std::vector<const char*> addrs;
    const char* local;
    int kind;
    const char* lan;
  } cases[] = {
      {{"127.0.0.1", "192.168.1.5"}, "192.168.1.5", 3, "192.168.1.5"},
      {{"192.168.1.5", "8.8.4.4", "10.0.0.2"}, "8.8.4.4", 0, "10.0.0.2"},  // a public one wins; LAN goes on
      {{"8.8.4.4"}, "8.8.4.4", 0, "8.8.4.4"},                            // one public: it is the LAN too
      {{"8.8.4.4", "1.2.3.4"}, "1.2.3.4", 0, "0.0.0.0"},
      {{"192.168.1.5", "169.254.1.1"}, "192.168.1.5", 3, "192.168.1.5"},  // a worse class does not replace
      {{"127.0.0.1"}, "127.0.0.1", 3, "127.0.0.1"},                      // nothing better than loopback
      {{"127.0.0.1", "8.8.4.4"}, "8.8.4.4", 0, "8.8.4.4"},               // loopback is no LAN address
      {{"8.8.4.4", "169.254.3.3", "127.0.0.1"}, "8.8.4.4", 0, "8.8.4.4"},
      {{}, "0.0.0.0", 0, "0.0.0.0"},
  };
  for (const auto& c : cases) {
    std::vector<uint32_t> addrs;
    for (auto a : c.addrs) addrs.push_back(Ip(a));
    auto r = ml::ChooseLocalAddresses(addrs);
    EXPECT_EQ(r.LocalIP, Ip(c.local)) << c.addrs.size();
    EXPECT_EQ(r.NetKind, c.kind) << c.addrs.size();
    EXPECT_EQ(r.LanIP, Ip(c.lan)) << c.addrs.size();
  }
}

TEST(StartupLocalAddress, ThisHostsAddressesAndTheirHardwareAddress) {
  auto addrs = ml::HostIPv4Addresses();
  EXPECT_NE(std::find(addrs.begin(), addrs.end(), Ip("127.0.0.1")), addrs.end());
  EXPECT_NE(ml::ProbeLocalAddresses().LocalIP, 0u);
  // The kernel's own word on each interface's hardware address judges ours.
  std::set<std::string> known;
  for (const auto& e : std::filesystem::directory_iterator("/sys/class/net")) {
    std::string mac = mltest::ReadAll((e.path() / "address").string());
    if (mac.size() >= 17 && mac.substr(0, 17) != "00:00:00:00:00:00") known.insert(mac.substr(0, 17));
  }
  if (known.empty()) GTEST_SKIP() << "no interface with a hardware address";
  for (uint32_t addr : addrs) {
    if (ml::ClassifyIPv4(addr) < 0) continue;
    auto mac = ml::HardwareAddress(addr);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    EXPECT_TRUE(known.count(text)) << text;
  }
}

}  // namespace
