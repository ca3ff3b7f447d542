#pragma once
// minilirra-service's configuration: the command line and an INI file fill one record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/ServiceSecurity.h"

namespace mlsvc {

struct TServiceConfig {
  std::string DbPath;
  uint32_t Address = 0;          // network order; 0 means 127.0.0.1
  uint16_t ListPort = 8801;
  uint16_t Port = 8800;
  uint32_t AdvertiseIP = 0;      // what the served table names (0: Address)
  uint16_t AdvertisePort = 0;    // 0: the main socket's port
  uint16_t MinVersion = 0;       // older programs get code 149
  int LoginThreads = 2;
  size_t LoginQueue = 64;
  double LoginRate = 1, LoginBurst = 8;        // per address and port
  double LoginIPRate = 20, LoginIPBurst = 60;  // per address
  double ListRate = 20, ListBurst = 40;        // full tables per address
  double ProbeRate = 1, ProbeBurst = 4;        // network-type checks per address
  int KeepAlivePeriods = 3;                    // missed periods before a session ends
  int64_t InternalPeriodMs = 45000, ExternalPeriodMs = 240000;
  int64_t ProbeWaitMs = 1500;
  // The Argon2id cost of the verifier an unknown user is checked against, so that a refusal
  // costs what a wrong password costs. Not a configuration key: tests and the fuzzer lower it.
  TArgonCost UnknownUserCost;
};

// Reads an INI configuration ([service], [limits], [sessions]) into cfg; false when unreadable.
bool LoadServiceConfig(const std::string& path, TServiceConfig& cfg, std::string& error);

}  // namespace mlsvc
