#include "service/roles/Registration.h"

#include <exception>

#include "base/GbkText.h"
#include "net/RegisterRecords.h"
#include "service/ServiceStore.h"
#include "service/WorkPool.h"

namespace mlsvc {

namespace {

uint64_t RequesterOf(uint32_t ip, const std::array<uint8_t, 6>& hardware) {
  // The hardware address's low 32 bits beside the address: enough to tell machines apart behind
  // one address.
  uint64_t key = ip;
  for (int i = 2; i < 6; ++i) key = key << 8 | hardware[size_t(i)];
  return key ^ (uint64_t(hardware[0]) << 56 | uint64_t(hardware[1]) << 48);
}

}  // namespace

TRegistrationRole::TRegistrationRole(TServiceContext& ctx)
    : ctx_(ctx),
      codeRequests_(ctx.Config.CheckCodeRate, ctx.Config.CheckCodeBurst),
      perAddress_(ctx.Config.RegisterRate, ctx.Config.RegisterBurst),
      perNet_(ctx.Config.RegisterNetRate, ctx.Config.RegisterNetBurst) {}

void TRegistrationRole::AnswerWord(const TRequest& r, uint16_t word) {
  ml::TRegisterReply reply;
  reply.Result = word;
  ctx_.AnswerRecord(r, ml::WriteRegisterReply, reply);
}

void TRegistrationRole::CheckCode(const TRequest& r) {
  ml::TCheckCodeRequest req;
  if (!ml::ReadCheckCodeRequest(r.Payload, r.Length, req)) return;
  const int64_t now = ctx_.NowMs();
  ml::TCheckCodeReply reply;
  if (!codeRequests_.Allow(r.IP, now)) {
    reply.Result = ml::RegisterResult::TooMany;
    ctx_.AnswerRecord(r, ml::WriteCheckCodeReply, reply);
    return ctx_.Note(r, "check code refused, over the rate of its address");
  }
  const uint64_t requester = RequesterOf(r.IP, req.HardwareAddress);
  {
    std::lock_guard lock(mutex_);
    if (auto old = byRequester_.find(requester); old != byRequester_.end()) codes_.erase(old->second);
    if (codes_.size() >= MaxCodes) {
      reply.Result = ml::RegisterResult::Busy;
    } else {
      int32_t code = 0;
      do code = int32_t(SecureRandomRange(1, ml::TCheckCodeReply::MaxCode));
      while (codes_.count(code));
      codes_[code] = {r.IP, requester, now + ctx_.Config.CheckCodeLifetimeMs};
      byRequester_[requester] = code;
      reply.Result = ml::Status::OK;
      reply.CheckCode = code;
    }
  }
  ctx_.AnswerRecord(r, ml::WriteCheckCodeReply, reply);
  ctx_.Note(r, "check code %s", reply.Result == ml::Status::OK ? "issued" : "refused, too many live");
}

bool TRegistrationRole::TakeCode(int32_t code, uint32_t ip, int64_t nowMs) {
  std::lock_guard lock(mutex_);
  const auto it = codes_.find(code);
  if (it == codes_.end() || it->second.IP != ip) return false;
  const bool valid = nowMs < it->second.ExpiresMs;
  byRequester_.erase(it->second.Requester);
  codes_.erase(it);
  return valid;
}

void TRegistrationRole::Tick(int64_t nowMs) {
  std::lock_guard lock(mutex_);
  for (auto it = codes_.begin(); it != codes_.end();) {
    if (nowMs < it->second.ExpiresMs) {
      ++it;
      continue;
    }
    byRequester_.erase(it->second.Requester);
    it = codes_.erase(it);
  }
}

void TRegistrationRole::CheckUserName(const TRequest& r) {
  ml::TUserNameCheckRequest req;
  if (!ml::ReadUserNameCheckRequest(r.Payload, r.Length, req) || !codeRequests_.Allow(r.IP, ctx_.NowMs())) return;
  ml::TUserNameCheckReply reply;
  try {
    if (ml::CheckUserNameRules(req.UserName) != ml::TUserNameProblem::None)
      reply.Holder = ml::TUserNameCheckReply::Illegal;
    else if (const auto a = ctx_.Store.AccountByName(ml::GbkToUtf8(req.UserName)))
      reply.Holder = a->UserID;
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "user name test failed: %s", e.what());
    return;
  }
  ctx_.AnswerRecord(r, ml::WriteUserNameCheckReply, reply);
  ctx_.Note(r, "user name tested: %d", reply.Holder);
}

void TRegistrationRole::Register(const TRequest& r) {
  ml::TRegisterRequest req;
  if (!ml::ReadRegisterRequest(r.Payload, r.Length, req)) return;
  const int64_t now = ctx_.NowMs();
  if (!perAddress_.Allow(r.IP, now) || !perNet_.Allow(NetOf(r.IP), now)) {
    ++ctx_.Counters.RateLimited;
    AnswerWord(r, ml::RegisterResult::TooMany);
    return ctx_.Note(r, "registration refused, over the rate of its source");
  }
  if (!TakeCode(req.CheckCode, r.IP, now)) {
    AnswerWord(r, ml::RegisterResult::BadCheckCode);
    return ctx_.Note(r, "registration refused, check code not issued here, used or expired");
  }
  if (ml::CheckUserNameRules(req.UserName()) != ml::TUserNameProblem::None) {
    ml::TRegisterReply reply;
    reply.Result = ml::RegisterResult::NameTaken;
    reply.Holder = ml::TUserNameCheckReply::Illegal;
    ctx_.AnswerRecord(r, ml::WriteRegisterReply, reply);
    return ctx_.Note(r, "registration refused, an illegal user name");
  }
  TRequest answerTo = r;
  answerTo.Payload = nullptr;
  answerTo.Length = 0;
  const bool posted = ctx_.Workers.TryPost([this, answerTo, req] {
    const TArgonCost& cost = ctx_.Config.NewVerifierCost;
    ml::TRegisterReply reply;
    try {
      const std::string name = ml::GbkToUtf8(req.UserName());
      TProtection protection;
      protection.Question = req.Question;
      protection.IdentityVerifier = MakeVerifier(req.IdentityDigest, cost);
      protection.AnswerVerifier = MakeVerifier(req.AnswerDigest, cost);
      if (const auto id = ctx_.Store.CreateAccount(name, MakeVerifier(req.PasswordDigest, cost), &protection)) {
        reply.Result = ml::Status::OK;
        reply.UserID = *id;
        reply.UserName = req.UserName();
      } else {
        reply.Result = ml::RegisterResult::NameTaken;
        const auto holder = ctx_.Store.AccountByName(name);
        reply.Holder = holder ? holder->UserID : 0;
      }
    } catch (const std::exception& e) {
      ctx_.Log.Write(TLogLevel::Warning, "registration failed: %s", e.what());
      reply = ml::TRegisterReply();
      reply.Result = ml::RegisterResult::Busy;
    }
    ctx_.AnswerRecord(answerTo, ml::WriteRegisterReply, reply);
    if (reply.Result == ml::Status::OK)
      ctx_.Log.Write(TLogLevel::Info, "registered account %d", reply.UserID);
  });
  if (!posted) AnswerWord(r, ml::RegisterResult::Busy);
}

}  // namespace mlsvc
