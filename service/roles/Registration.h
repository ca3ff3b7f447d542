#pragma once
// The registration server: check codes (21), user-name tests (68) and registrations (4).
//
// A check code is random, issued to an address and a hardware address (a new request from both
// replaces the code they held), used once and valid for the configured lifetime (check_code_seconds, ten minutes); a registration must bring
// one issued to its own address. Registrations are limited per address and per /24, check codes
// and name tests per address. A new account's password is kept as the login role keeps it (an
// Argon2id verifier of its digest), and the protection answers as Argon2id verifiers too, never
// in clear; the verifiers are made on the worker pool, whose full queue answers "busy".
#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>

#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

class TRegistrationRole {
public:
  static constexpr size_t MaxCodes = 65536;

  explicit TRegistrationRole(TServiceContext& ctx);
  void CheckCode(const TRequest& r);
  void CheckUserName(const TRequest& r);
  void Register(const TRequest& r);
  // Forgets the codes that have expired.
  void Tick(int64_t nowMs);

private:
  struct TIssued {
    uint32_t IP = 0;
    uint64_t Requester = 0;  // address and hardware address
    int64_t ExpiresMs = 0;
  };
  // Takes code if it was issued to ip and is still valid; it cannot be used again either way.
  bool TakeCode(int32_t code, uint32_t ip, int64_t nowMs);
  void AnswerWord(const TRequest& r, uint16_t word);

  TServiceContext& ctx_;
  TRateLimiter codeRequests_, perAddress_, perNet_;
  std::mutex mutex_;
  std::unordered_map<int32_t, TIssued> codes_;
  std::unordered_map<uint64_t, int32_t> byRequester_;
};

}  // namespace mlsvc
