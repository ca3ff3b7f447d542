#pragma once
// IPv4 addresses as people write them ("127.0.0.1", "10.0.0.2:8800") and as the program keeps
// them: 32-bit values in network order, ports as host numbers.
#include <cstdint>
#include <string>

namespace ml {

// Dotted quad to network order; false for anything else (names are not looked up).
bool ParseIPv4(const std::string& text, uint32_t& ip);
// "ADDR:PORT" with a port from 1 to 65535.
bool ParseIPv4Endpoint(const std::string& text, uint32_t& ip, uint16_t& port);
// Network order to dotted quad.
std::string IPv4Text(uint32_t ip);

}  // namespace ml
