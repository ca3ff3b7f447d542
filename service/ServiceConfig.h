#pragma once
// minilirra-service's configuration: the command line and an INI file fill one record.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "service/ServiceLog.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

struct TServiceConfig {
  std::string DbPath;
  bool CreateDb = false;         // create the database when it is missing (else that is an error)
  uint32_t Address = htonl(INADDR_LOOPBACK);  // network order; 0 binds every interface
  uint16_t ListPort = 8801;
  uint16_t Port = 8800;
  // What the served table names (0: the bound address, or, bound to every interface, the
  // address each request came to).
  uint32_t AdvertiseIP = 0;
  uint16_t AdvertisePort = 0;    // 0: the main socket's port
  uint16_t MinVersion = 0;       // older programs get code 149
  int LoginThreads = 2;
  size_t LoginQueue = 64;
  TLogLevel LogLevel = TLogLevel::Info;
  double LoginRate = 1, LoginBurst = 8;        // per address and port
  double LoginIPRate = 20, LoginIPBurst = 60;  // per address
  double AnonRate = 1, AnonBurst = 10;         // anonymous logins per address
  double AnonNetRate = 4, AnonNetBurst = 40;   // anonymous logins per /24
  double ListRate = 20, ListBurst = 40;        // full tables per address
  double ProbeRate = 1, ProbeBurst = 4;        // network-type checks per address
  double SearchRate = 20, SearchBurst = 40;    // searches, song lookups and suggestions per address
  double UsageRate = 20, UsageBurst = 60;      // usage reports per address
  double LyricRate = 20, LyricBurst = 40;      // lyric searches and downloads per address
  double PlaylistRate = 2, PlaylistBurst = 10; // playlist uploads and downloads begun per account
  double CheckCodeRate = 1, CheckCodeBurst = 10;        // check codes and name tests per address
  double RegisterRate = 0.05, RegisterBurst = 3;        // registrations per address
  double RegisterNetRate = 0.2, RegisterNetBurst = 10;  // registrations per /24
  int64_t CheckCodeLifetimeMs = 10 * 60 * 1000;       // how long a check code stays good
  size_t MaxPlaylistBytes = 28800;             // a stored playlist, header included
  // Bytes a second that all answers to unproven addresses (logins, tables, network-type checks,
  // search results, lookups, suggestions) may take together, whatever their destinations; a
  // second's worth may go at once.
  double ReplyBytesPerSecond = 1000000;
  size_t MaxSessions = 100000;
  size_t MaxAnonymousPerNet = 1024;            // live anonymous sessions per /24
  int KeepAlivePeriods = 3;                    // missed periods before a session ends
  int64_t InternalPeriodMs = 45000, ExternalPeriodMs = 240000;
  int64_t ProbeWaitMs = 1500;
  // The Argon2id cost a refusal of an unknown user is first timed by (the real checks' times
  // follow), so that it takes as long as a wrong password. Not a configuration key: tests and
  // the fuzzer lower it.
  TArgonCost UnknownUserCost;
  // What the verifiers of new accounts (their passwords and protection answers) cost. Not a
  // configuration key either: tests and the fuzzer lower it.
  TArgonCost NewVerifierCost;
};

// Reads an INI configuration ([service], [limits], [sessions]) into cfg; false when unreadable.
bool LoadServiceConfig(const std::string& path, TServiceConfig& cfg, std::string& error);

}  // namespace mlsvc
