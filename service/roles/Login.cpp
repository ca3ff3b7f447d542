#include "service/roles/Login.h"

#include <arpa/inet.h>

#include <chrono>
#include <limits>
#include <optional>

#include "base/GbkText.h"
#include "service/ServiceStore.h"
#include "service/SessionStore.h"
#include "service/WorkPool.h"

namespace mlsvc {

namespace {

// Refusals held back at most; beyond, one goes at once rather than pile up.
constexpr size_t kMaxHeld = 4096;

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

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

TLoginRole::TLoginRole(TServiceContext& ctx)
    : ctx_(ctx),
      perEndpoint_(ctx.Config.LoginRate, ctx.Config.LoginBurst),
      perAddress_(ctx.Config.LoginIPRate, ctx.Config.LoginIPBurst),
      anonymousPerAddress_(ctx.Config.AnonRate, ctx.Config.AnonBurst),
      anonymousPerNet_(ctx.Config.AnonNetRate, ctx.Config.AnonNetBurst) {
  // Until real checks have been timed, one of the cost new verifiers get.
  const auto start = std::chrono::steady_clock::now();
  MakeVerifier({}, ctx.Config.UnknownUserCost);
  checkMs_ = ElapsedMs(start);
}

bool TLoginRole::Limited(const TRequest& r, const ml::TLoginRequest& req, int64_t nowMs) {
  if (!perEndpoint_.Allow(Endpoint(r.IP, r.Port), nowMs) || !perAddress_.Allow(r.IP, nowMs)) return true;
  if (req.Requested != ml::TLoginRequest::Anonymous) return false;
  return !anonymousPerAddress_.Allow(r.IP, nowMs) || !anonymousPerNet_.Allow(NetOf(r.IP), nowMs);
}

void TLoginRole::Login(const TRequest& r) {
  TJob job{r, {}, std::vector<uint8_t>(r.Payload, r.Payload + r.Length), {}};
  job.Request.Payload = nullptr;
  job.Request.Length = 0;
  if (!ml::ReadLoginRequest(r.Payload, r.Length, job.Login) || !FromOurClient(job.Login)) {
    ctx_.Note(r, "dropped, not a login our clients send");
    return;
  }
  const int64_t now = ctx_.NowMs();
  if (Limited(r, job.Login, now)) {
    ++ctx_.Counters.RateLimited;
    ctx_.Note(r, "dropped, over the login rate of its source");
    return;
  }
  job.Id = EndpointKey(r.IP, r.Port);
  job.Id.append(reinterpret_cast<const char*>(&r.Guid), sizeof r.Guid);
  job.Id.append(job.Record.begin(), job.Record.end());
  std::vector<uint8_t> earlier;
  switch (Claim(job.Id, now, earlier)) {
    case TClaim::Answered:
      ++ctx_.Counters.Repeats;
      ctx_.Note(r, "%s", ctx_.Answer(r, earlier.data(), earlier.size()) ? "answered again, a repeat" : "a repeat, over the reply budget");
      return;
    case TClaim::Running:
      ++ctx_.Counters.Repeats;
      ctx_.Note(r, "dropped, the same login is running");
      return;
    case TClaim::Full:
      ctx_.Note(r, "dropped, too many logins running");
      return;
    case TClaim::New:
      break;
  }
  const std::string id = job.Id;
  if (ctx_.Workers.TryPost([this, job = std::move(job)] { Serve(job); })) return;
  Settle(id, {});
  ml::TLoginReply busy;
  busy.Status = ml::Status::Busy;
  const std::vector<uint8_t> reply = Encoded(busy, false);
  ctx_.Note(r, "%s", ctx_.Answer(r, reply.data(), reply.size()) ? "answered busy, the login queue is full"
                                                                 : "busy, over the reply budget");
}

void TLoginRole::Serve(const TJob& job) {
  bool unknownUser = false;
  std::vector<uint8_t> reply;
  try {
    reply = Answer(job, unknownUser);
  } catch (...) {
    Settle(job.Id, {});
    throw;
  }
  if (reply.empty()) {
    Settle(job.Id, {});
    ctx_.Note(job.Whole(), "dropped, its answer does not fit");
    return;
  }
  if (unknownUser) {
    // Held as long as a password check takes; still running for a repeat until it goes.
    std::lock_guard lock(heldMutex_);
    if (held_.size() < kMaxHeld) {
      held_.emplace(ctx_.NowMs() + checkMs_.load(), THeld{job, std::move(reply)});
      return;
    }
  }
  Settle(job.Id, reply);
  SendAnswer(job, reply);
}

void TLoginRole::SendAnswer(const TJob& job, const std::vector<uint8_t>& reply) {
  const TRequest r = job.Whole();
  const bool sent = ctx_.Answer(r, reply.data(), reply.size());
  if (!ctx_.Log.Enabled(TLogLevel::Debug)) return;
  ml::TLoginReply said;
  ml::ReadLoginReply(reply.data(), reply.size(), said, job.Login.EditionCode != 0);
  if (said.Status == ml::Status::OK)
    ctx_.Note(r, "%s, user %d", sent ? "logged in" : "logged in, answer over the reply budget", said.UserID);
  else
    ctx_.Note(r, "%s %u", sent ? "refused" : "refused, answer over the reply budget",
              unsigned(said.Status == ml::Status::Refused ? said.Reason : said.Status));
}

uint16_t TLoginRole::Authenticate(const ml::TLoginRequest& req, int32_t& account, std::string& userName,
                                  bool& unknownUser) {
  if (req.ProgramVersion < ctx_.Config.MinVersion) return ml::Status::TooOld;
  if (req.Requested == ml::TLoginRequest::Anonymous) {
    account = ctx_.Sessions.NewAnonymousID();
    return 0;
  }
  const std::optional<TAccount> a = req.Requested == ml::TLoginRequest::ByName
                                        ? ctx_.Store.AccountByName(ml::GbkToUtf8(req.UserName))
                                        : ctx_.Store.AccountByID(req.Requested);
  if (!a) {
    unknownUser = true;
    return ml::Status::NoSuchUser;
  }
  const auto start = std::chrono::steady_clock::now();
  const bool matches = CheckVerifier(a->Verifier, req.PasswordDigest);
  // A moving average, so that the held refusals follow the machine's load.
  checkMs_ = (7 * checkMs_.load() + ElapsedMs(start) + 4) / 8;
  if (!matches) return ml::Status::WrongPassword;
  account = a->UserID;
  userName = a->UserName;
  return 0;
}

std::vector<uint8_t> TLoginRole::Answer(const TJob& job, bool& unknownUser) {
  const ml::TLoginRequest& req = job.Login;
  const bool partnerFields = req.EditionCode != 0;
  int32_t account = 0;
  std::string userName;
  if (const uint16_t refused = Authenticate(req, account, userName, unknownUser)) {
    ++ctx_.Counters.LoginFailures;
    return Encoded(Refusal(refused), partnerFields);
  }

  TSession session;
  while (session.LoginKey == 0) session.LoginKey = int32_t(SecureRandomRange(1, 0x7FFFFFFF));
  session.IP = job.Request.IP;
  session.Port = job.Request.Port;
  session.LocalIP = req.LocalIP;
  session.NetKind = req.NetKind;
  session.Account = req.Requested != ml::TLoginRequest::Anonymous;
  session.Proven = session.Account;
  session.LastSeenMs = ctx_.NowMs();
  ctx_.Sessions.Begin(account, session);
  ++ctx_.Counters.Logins;

  const TUpdateRecord update = ctx_.Store.Update();
  ml::TLoginReply reply;
  reply.UserID = account;
  reply.LoginKey = session.LoginKey;
  reply.PublicIP = job.Request.IP;
  reply.PublicPort = job.Request.Port;
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
  if (!ctx_.Sessions.End(req.UserID, req.LoginKey, r.IP, r.Port)) {
    ctx_.Note(r, "dropped, no such session here");
    return;
  }
  Forget(r.IP, r.Port);
  ++ctx_.Counters.Logouts;
  uint8_t out[ml::TLogoutReply::FixedSize];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  ml::WriteLogoutReply(s, {});
  ctx_.Answer(r, out, size_t(s.Size()), TReach::Holder);
  ctx_.Note(r, "logged out, user %d", req.UserID);
}

TLoginRole::TClaim TLoginRole::Claim(const std::string& id, int64_t nowMs, std::vector<uint8_t>& earlier) {
  std::lock_guard lock(answeredMutex_);
  if (auto it = answered_.find(id); it != answered_.end()) {
    if (it->second.Reply.empty()) return TClaim::Running;
    if (nowMs - it->second.AtMs < RepeatWindowMs) {
      earlier = it->second.Reply;
      return TClaim::Answered;
    }
    answered_.erase(it);
  }
  if (answered_.size() >= MaxAnswered && !DropOld(lock, nowMs, true)) return TClaim::Full;
  answered_[id] = {{}, nowMs};
  order_.emplace_back(id, nowMs);
  return TClaim::New;
}

void TLoginRole::Settle(const std::string& id, const std::vector<uint8_t>& reply) {
  std::lock_guard lock(answeredMutex_);
  auto it = answered_.find(id);
  if (it == answered_.end()) return;  // a logout forgot it meanwhile
  if (reply.empty())
    answered_.erase(it);
  else
    it->second.Reply = reply;
}

void TLoginRole::Forget(uint32_t ip, uint16_t port) {
  const std::string prefix = EndpointKey(ip, port);
  std::lock_guard lock(answeredMutex_);
  for (auto it = answered_.begin(); it != answered_.end();)
    it = it->first.compare(0, prefix.size(), prefix) == 0 ? answered_.erase(it) : std::next(it);
}

void TLoginRole::Tick(int64_t nowMs) {
  {
    std::lock_guard lock(answeredMutex_);
    DropOld(lock, nowMs, false);
  }
  std::vector<THeld> due;
  {
    std::lock_guard lock(heldMutex_);
    auto end = held_.upper_bound(nowMs);
    for (auto it = held_.begin(); it != end; ++it) due.push_back(std::move(it->second));
    held_.erase(held_.begin(), end);
  }
  for (const THeld& h : due) {
    Settle(h.Job.Id, h.Reply);
    SendAnswer(h.Job, h.Reply);
  }
}

int64_t TLoginRole::NextDueMs() {
  std::lock_guard lock(heldMutex_);
  return held_.empty() ? std::numeric_limits<int64_t>::max() : held_.begin()->first;
}

bool TLoginRole::DropOld(const std::lock_guard<std::mutex>&, int64_t nowMs, bool makeRoom) {
  for (size_t looked = 0, n = order_.size(); looked < n && !order_.empty(); ++looked) {
    auto [id, atMs] = std::move(order_.front());
    order_.pop_front();
    auto it = answered_.find(id);
    // Forgotten meanwhile, or claimed again later (that claim has a place of its own).
    if (it == answered_.end() || it->second.AtMs != atMs) continue;
    // A running login stays claimed until it settles, however long its queue took.
    if (it->second.Reply.empty()) {
      order_.emplace_back(std::move(id), atMs);
      continue;
    }
    const bool inWindow = nowMs - atMs < RepeatWindowMs;
    if (inWindow && !makeRoom) {
      order_.emplace_front(std::move(id), atMs);
      return true;
    }
    answered_.erase(it);
    if (makeRoom) return true;
  }
  return !makeRoom;
}

}  // namespace mlsvc
