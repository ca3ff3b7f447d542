#include "net/IPv4Text.h"

#include "base/StrUtil.h"

#include <arpa/inet.h>

namespace ml {

bool ParseIPv4(const std::string& text, uint32_t& ip) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  ip = a.s_addr;
  return true;
}

bool ParseIPv4Endpoint(const std::string& text, uint32_t& ip, uint16_t& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  const auto p = ParseInt(text.substr(colon + 1));
  if (!p || *p < 1 || *p > 65535 || !ParseIPv4(text.substr(0, colon), ip)) return false;
  port = uint16_t(*p);
  return true;
}

std::string IPv4Text(uint32_t ip) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &ip, text, sizeof text);
  return text;
}

}  // namespace ml
