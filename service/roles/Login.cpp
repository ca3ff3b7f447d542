#include "service/roles/Login.h"

#include <optional>

#include "base/GbkText.h"
#include "service/ServiceStore.h"
#include "service/SessionStore.h"
#include "service/WorkPool.h"

namespace mlsvc {

namespace {

// The answers kept for repeats at most: a full table first forgets those that have left the
// window, and remembers no more while none has.
constexpr size_t kMaxAnswered = 4096;

uint64_t Endpoint(uint32_t ip, uint16_t port) { return (uint64_t(ip) << 16) | port; }

std::string EndpointKey(uint32_t ip, uint16_t port) {
  std::string key(reinterpret_cast<const char*>(&ip), sizeof ip);
  key.append(reinterpret_cast<const char*>(&port), sizeof port);
  return key;
}

// Numbers 1..9 and below -1, and network kinds above the highest, come from no client of ours.
bool FromOurClient(const ml::TLoginRequest& req) {
  return req.Requested >= ml::TLoginRequest::Anonymous && (req.Requested <= 0 || req.Requested >= 10) &&
         req.NetKind <= ml::NetKind::Highest;
}

std::vector<uint8_t> Encoded(const ml::TLoginReply& reply, bool partnerFields) {
  uint8_t out[ml::Envelope::MaxPayload];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  if (!ml::WriteLoginReply(s, reply, partnerFields)) return {};
  return std::vector<uint8_t>(out, out + s.Size());
}

ml::TLoginReply Refusal(uint16_t reason) {
  ml::TLoginReply reply;
  reply.Status = ml::Status::Refused;
  reply.Reason = reason;
  return reply;
}

}  // namespace

TLoginRole::TLoginRole(TServiceContext& ctx)
    : ctx_(ctx),
      perEndpoint_(ctx.Config.LoginRate, ctx.Config.LoginBurst),
      perAddress_(ctx.Config.LoginIPRate, ctx.Config.LoginIPBurst),
      unknownUserVerifier_(MakeVerifier({}, ctx.Config.UnknownUserCost)) {}

void TLoginRole::Login(const TRequest& r) {
  const int64_t now = ctx_.NowMs();
  if (!perEndpoint_.Allow(Endpoint(r.IP, r.Port), now) || !perAddress_.Allow(r.IP, now)) {
    ++ctx_.Counters.RateLimited;
    return;
  }
  TJob job{r.Server, r.Kind, r.Guid, r.IP, r.Port, std::vector<uint8_t>(r.Payload, r.Payload + r.Length)};
  if (ctx_.Workers.TryPost([this, job = std::move(job)] { Serve(job); })) return;
  ml::TLoginReply busy;
  busy.Status = ml::Status::Busy;
  const std::vector<uint8_t> reply = Encoded(busy, false);
  ctx_.Answer(r, reply.data(), reply.size());
}

void TLoginRole::Serve(const TJob& job) {
  std::string id = EndpointKey(job.IP, job.Port);
  id.append(reinterpret_cast<const char*>(&job.Guid), sizeof job.Guid);
  id.append(reinterpret_cast<const char*>(job.Payload.data()), job.Payload.size());
  const int64_t now = ctx_.NowMs();
  std::vector<uint8_t> reply = Repeated(id, now);
  if (reply.empty()) {
    reply = Answer(job);
    if (!reply.empty()) Remember(id, reply, now);
  }
  if (!reply.empty())
    ctx_.Socket(job.Server).Send(job.Kind, job.Guid, reply.data(), reply.size(), job.IP, job.Port);
}

uint16_t TLoginRole::Authenticate(const ml::TLoginRequest& req, int32_t& account, std::string& userName) {
  if (req.ProgramVersion < ctx_.Config.MinVersion) return ml::Status::TooOld;
  if (req.Requested == ml::TLoginRequest::Anonymous) {
    account = ctx_.Sessions.NewAnonymousID();
    return 0;
  }
  const std::optional<TAccount> a = req.Requested == ml::TLoginRequest::ByName
                                        ? ctx_.Store.AccountByName(ml::GbkToUtf8(req.UserName))
                                        : ctx_.Store.AccountByID(req.Requested);
  if (!a) {
    // Spend the same work as a real check, so timing does not tell which names exist.
    CheckVerifier(unknownUserVerifier_, req.PasswordDigest);
    return ml::Status::NoSuchUser;
  }
  if (!CheckVerifier(a->Verifier, req.PasswordDigest)) return ml::Status::WrongPassword;
  account = a->UserID;
  userName = a->UserName;
  return 0;
}

std::vector<uint8_t> TLoginRole::Answer(const TJob& job) {
  ml::TLoginRequest req;
  if (!ml::ReadLoginRequest(job.Payload.data(), job.Payload.size(), req) || !FromOurClient(req)) return {};
  const bool partnerFields = req.EditionCode != 0;
  int32_t account = 0;
  std::string userName;
  if (const uint16_t refused = Authenticate(req, account, userName)) {
    ++ctx_.Counters.LoginFailures;
    return Encoded(Refusal(refused), partnerFields);
  }

  TSession session;
  while (session.LoginKey == 0) session.LoginKey = int32_t(SecureRandomRange(1, 0x7FFFFFFF));
  session.IP = job.IP;
  session.Port = job.Port;
  session.LocalIP = req.LocalIP;
  session.NetKind = req.NetKind;
  session.Account = req.Requested != ml::TLoginRequest::Anonymous;
  session.LastSeenMs = ctx_.NowMs();
  ctx_.Sessions.Begin(account, session);
  ++ctx_.Counters.Logins;

  const TUpdateRecord update = ctx_.Store.Update();
  ml::TLoginReply reply;
  reply.UserID = account;
  reply.LoginKey = session.LoginKey;
  reply.PublicIP = job.IP;
  reply.PublicPort = job.Port;
  reply.UpdateKind = update.Kind;
  reply.NewestVersion = update.NewestVersion;
  reply.UpdateFileSize = update.FileSize;
  reply.UpdateDigest = update.Digest;
  reply.UserName = ml::Utf8ToGbk(userName);
  reply.Notice = ctx_.Notice;
  // We run no partner service: a partner edition's fields go out empty.
  return Encoded(reply, partnerFields);
}

void TLoginRole::Logout(const TRequest& r) {
  ml::TLogoutRequest req;
  if (!ml::ReadLogoutRequest(r.Payload, r.Length, req)) return;
  if (!ctx_.Sessions.End(req.UserID, req.LoginKey, r.IP, r.Port)) return;
  Forget(r.IP, r.Port);
  ++ctx_.Counters.Logouts;
  uint8_t out[ml::TLogoutReply::FixedSize];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  ml::WriteLogoutReply(s, {});
  ctx_.Answer(r, out, size_t(s.Size()));
}

std::vector<uint8_t> TLoginRole::Repeated(const std::string& id, int64_t nowMs) {
  std::lock_guard lock(answeredMutex_);
  auto it = answered_.find(id);
  if (it == answered_.end() || nowMs - it->second.AtMs >= RepeatWindowMs) return {};
  return it->second.Reply;
}

void TLoginRole::Remember(const std::string& id, const std::vector<uint8_t>& reply, int64_t nowMs) {
  std::lock_guard lock(answeredMutex_);
  if (answered_.size() >= kMaxAnswered) DropOld(lock, nowMs);
  if (answered_.size() < kMaxAnswered) answered_[id] = {reply, nowMs};
}

void TLoginRole::Forget(uint32_t ip, uint16_t port) {
  const std::string prefix = EndpointKey(ip, port);
  std::lock_guard lock(answeredMutex_);
  for (auto it = answered_.begin(); it != answered_.end();)
    it = it->first.compare(0, prefix.size(), prefix) == 0 ? answered_.erase(it) : std::next(it);
}

void TLoginRole::Tick(int64_t nowMs) {
  std::lock_guard lock(answeredMutex_);
  DropOld(lock, nowMs);
}

void TLoginRole::DropOld(const std::lock_guard<std::mutex>&, int64_t nowMs) {
  for (auto it = answered_.begin(); it != answered_.end();)
    it = nowMs - it->second.AtMs >= RepeatWindowMs ? answered_.erase(it) : std::next(it);
}

}  // namespace mlsvc
