#include "service/Service.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "net/LRCmdStream.h"
#include "base/DebugTrace.h"
#include "base/GbkText.h"
#include "base/IniFile.h"
#include "base/StrUtil.h"
#include "base/Version.h"
#include "net/uServerListManager.h"
#include "net/WireCodes.h"

namespace mlsvc {

namespace {

constexpr uint16_t kStatusOK = 144;
constexpr uint16_t kStatusRefused = 145;
constexpr uint16_t kBusy = 146;
constexpr uint16_t kWrongPassword = 147;
constexpr uint16_t kNoSuchUser = 148;
constexpr uint16_t kTooOld = 149;
// Anonymous numbers come from a range of their own, above every account number.
constexpr uint32_t kAnonLow = 100000000, kAnonHigh = 536870910;
constexpr size_t kLoginFixed = 41;
// A client repeats a login for 6 x 5 s at most; a repeat within this window is the same login.
constexpr int64_t kRepeatWindowMs = 30000;  // the login record up to and including the password digest

uint64_t Endpoint(uint32_t ip, uint16_t port) { return (uint64_t(ip) << 16) | port; }

void WriteWordString(ml::TCmdStream& s, const std::string& gbk) {
  const size_t n = std::min<size_t>(gbk.size(), 1000);  // the notice must leave room in one datagram
  s.WriteWord(uint16_t(n));
  if (n) s.WriteBuffer(gbk.data(), int32_t(n));
}

uint32_t ParseIP(const std::string& text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return 0;
  return a.s_addr;
}

}  // namespace

int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch()).count();
}

bool LoadServiceConfig(const std::string& path, TServiceConfig& cfg, std::string& error) {
  ml::IniFile ini(ml::IniFile::Encoding::Utf8);
  if (!ini.load(path)) {
    error = "cannot read configuration " + path;
    return false;
  }
  auto str = [&](const char* sec, const char* key) { return ini.readString(sec, key); };
  auto num = [&](const char* sec, const char* key, double def) {
    const std::string v = str(sec, key);
    if (v.empty()) return def;
    try {
      return std::stod(v);
    } catch (...) {
      return def;
    }
  };
  if (!str("service", "db").empty()) cfg.DbPath = str("service", "db");
  if (!str("service", "address").empty()) {
    cfg.Address = ParseIP(str("service", "address"));
    if (!cfg.Address) {
      error = "bad address in configuration";
      return false;
    }
  }
  cfg.Port = uint16_t(ini.readInteger("service", "port", cfg.Port));
  cfg.ListPort = uint16_t(ini.readInteger("service", "list_port", cfg.ListPort));
  if (!str("service", "advertise").empty()) cfg.AdvertiseIP = ParseIP(str("service", "advertise"));
  cfg.AdvertisePort = uint16_t(ini.readInteger("service", "advertise_port", cfg.AdvertisePort));
  cfg.MinVersion = uint16_t(ini.readInteger("service", "min_version", cfg.MinVersion));
  cfg.LoginThreads = int(ini.readInteger("service", "login_threads", cfg.LoginThreads));
  cfg.LoginRate = num("limits", "login_rate", cfg.LoginRate);
  cfg.LoginBurst = num("limits", "login_burst", cfg.LoginBurst);
  cfg.LoginIPRate = num("limits", "login_ip_rate", cfg.LoginIPRate);
  cfg.LoginIPBurst = num("limits", "login_ip_burst", cfg.LoginIPBurst);
  cfg.ListRate = num("limits", "list_rate", cfg.ListRate);
  cfg.ListBurst = num("limits", "list_burst", cfg.ListBurst);
  cfg.ProbeRate = num("limits", "probe_rate", cfg.ProbeRate);
  cfg.ProbeBurst = num("limits", "probe_burst", cfg.ProbeBurst);
  cfg.KeepAlivePeriods = int(ini.readInteger("sessions", "keepalive_periods", cfg.KeepAlivePeriods));
  cfg.InternalPeriodMs = ini.readInteger("sessions", "internal_period_ms", cfg.InternalPeriodMs);
  cfg.ExternalPeriodMs = ini.readInteger("sessions", "external_period_ms", cfg.ExternalPeriodMs);
  cfg.ProbeWaitMs = ini.readInteger("sessions", "probe_wait_ms", cfg.ProbeWaitMs);
  return true;
}

TService::TService(TServiceConfig cfg)
    : cfg_(std::move(cfg)),
      loginLimit_(cfg_.LoginRate, cfg_.LoginBurst),
      loginIPLimit_(cfg_.LoginIPRate, cfg_.LoginIPBurst),
      listLimit_(cfg_.ListRate, cfg_.ListBurst),
      probeLimit_(cfg_.ProbeRate, cfg_.ProbeBurst) {
  if (!cfg_.Address) cfg_.Address = htonl(INADDR_LOOPBACK);
  if (cfg_.LoginThreads < 1) cfg_.LoginThreads = 1;
  store_ = std::make_unique<TServiceStore>(cfg_.DbPath);
  list_ = std::make_unique<TServiceSocket>(cfg_.Address, cfg_.ListPort);
  main_ = std::make_unique<TServiceSocket>(cfg_.Address, cfg_.Port);

  listVersion_ = uint16_t(ml::ParseIntDef(store_->Setting("list_version", "7"), 7));
  notice_ = ml::Utf8ToGbk(store_->Setting("notice"));

  // The table we serve: the slots the administrator set, and this service for every other slot
  // that has service codes.
  const uint32_t ip = cfg_.AdvertiseIP ? cfg_.AdvertiseIP : cfg_.Address;
  const uint16_t port = cfg_.AdvertisePort ? cfg_.AdvertisePort : main_->Port();
  std::array<std::vector<TServerRow>, ml::TServerListManager::SlotCount + 1> set;
  for (const TServerRow& r : store_->Servers())
    if (r.Slot >= 1 && r.Slot <= ml::TServerListManager::SlotCount &&
        set[r.Slot].size() < size_t(ml::TServerListManager::MaxServers))
      set[r.Slot].push_back(r);
  tableRecord_.resize(ml::Envelope::MaxPayload);
  ml::TCmdStream s;
  s.InitWrite(tableRecord_.data(), int32_t(tableRecord_.size()));
  int entries = 0;
  auto add = [&](int slot, uint32_t a, uint16_t p) {
    // Room for the answer's 8-byte head and the Integer after the entries.
    if (s.Size() + 8 + 12 > int32_t(ml::Envelope::MaxPayload)) return;
    s.WriteWord(uint16_t(slot));
    s.WriteInteger(int32_t(a));
    s.WriteWord(p);
    ++entries;
  };
  for (int slot = 1; slot <= ml::TServerListManager::SlotCount; ++slot) {
    if (!set[slot].empty()) {
      for (const TServerRow& r : set[slot]) add(slot, r.IP, r.Port);
      continue;
    }
    bool used = false;
    for (int code = 1; code <= ml::TServerListManager::MaxServiceCode; ++code)
      used = used || ml::TServerListManager::SlotOfService(code) == slot;
    if (used) add(slot, ip, port);
  }
  s.WriteInteger(0);
  tableRecord_.resize(size_t(s.Size()));
  tableEntries_ = uint16_t(entries);

  // Sessions survive a restart; those that outlived their periods meanwhile end now.
  const int64_t now = WallClockMs();
  for (const TSessionRow& r : store_->Sessions()) {
    Session ses;
    ses.LoginKey = r.LoginKey;
    ses.IP = r.IP;
    ses.Port = r.Port;
    ses.NetKind = r.NetKind;
    ses.Account = r.Account;
    ses.LastSeenMs = r.LastSeenMs;
    if (now - r.LastSeenMs <= cfg_.KeepAlivePeriods * periodOf(r.NetKind))
      sessions_[r.UserID] = ses;
    else
      store_->DeleteSession(r.UserID);
  }
}

TService::~TService() { Stop(); }

int64_t TService::periodOf(uint8_t netKind) const {
  return (netKind == 0 || netKind == 4) ? cfg_.ExternalPeriodMs : cfg_.InternalPeriodMs;
}

void TService::Start() {
  if (started_) return;
  started_ = true;
  for (int i = 0; i < cfg_.LoginThreads; ++i) loginThreads_.emplace_back([this] { loginWorker(); });
  housekeeper_ = std::thread([this] { housekeeping(); });
  list_->Start([this](const ml::TOpenedEnvelope& e, uint32_t ip, uint16_t port) { onList(e, ip, port); });
  main_->Start([this](const ml::TOpenedEnvelope& e, uint32_t ip, uint16_t port) { onMain(e, ip, port); });
}

void TService::Stop() {
  if (!started_) return;
  started_ = false;
  main_->Stop();
  list_->Stop();
  {
    std::lock_guard lock(jobsMutex_);
    stopping_ = true;
  }
  jobsChanged_.notify_all();
  {
    std::lock_guard lock(stopMutex_);
  }
  stopChanged_.notify_all();
  for (auto& t : loginThreads_) t.join();
  loginThreads_.clear();
  if (housekeeper_.joinable()) housekeeper_.join();
}

size_t TService::SessionCount() {
  std::lock_guard lock(sessionsMutex_);
  return sessions_.size();
}

std::string TService::notice() {
  std::lock_guard lock(noticeMutex_);
  return notice_;
}

void TService::onList(const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port) {
  if (env.PayloadLength < 2) return;
  const uint16_t code = uint16_t(env.Payload[0] | (env.Payload[1] << 8));
  if (code == 9) {
    uint8_t out[ml::Envelope::MaxPayload];
    const size_t n = AnswerListRequest(env.Payload, env.PayloadLength, ip, out, sizeof out);
    if (n && list_->Send(env.Kind, env.Guid, out, n, ip, port)) ++counters_.ListAnswers;
  } else if (code == 15) {
    probeAnswered(env.Payload, env.PayloadLength, ip);
  }
}

size_t TService::AnswerListRequest(const uint8_t* payload, size_t length, uint32_t ip, uint8_t* out, size_t cap) {
  if (length < 12) return 0;
  ml::TCmdStream in;
  in.InitRead(payload, int32_t(length));
  in.ReadWord(0);
  in.ReadInteger(0);  // user number
  in.ReadInteger(0);  // program version
  const uint16_t theirs = in.ReadWord(0);
  const bool current = theirs == listVersion_;
  // A whole table is many times the request: limit how often one address gets it, so the
  // service cannot be used to amplify a forged flood.
  if (!current && !listLimit_.Allow(ip, WallClockMs())) {
    ++counters_.RateLimited;
    return 0;
  }
  ml::TCmdStream s;
  s.InitWrite(out, int32_t(cap));
  s.WriteInteger(ml::Status::OK);
  s.WriteWord(listVersion_);
  if (current) {
    s.WriteWord(0);
    s.WriteInteger(0);  // keeps the answer above the 9 bytes a client demands
  } else {
    s.WriteWord(tableEntries_);
    s.WriteBuffer(tableRecord_.data(), int32_t(tableRecord_.size()));
  }
  return size_t(s.Size());
}

void TService::onMain(const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port) {
  if (env.PayloadLength < 2) return;
  const uint16_t code = uint16_t(env.Payload[0] | (env.Payload[1] << 8));
  uint8_t out[ml::Envelope::MaxPayload];
  size_t n = 0;
  switch (code) {
    case 1: {
      if (env.PayloadLength < kLoginFixed) return;
      const int64_t now = WallClockMs();
      if (!loginLimit_.Allow(Endpoint(ip, port), now) || !loginIPLimit_.Allow(ip, now)) {
        ++counters_.RateLimited;
        return;
      }
      std::unique_lock lock(jobsMutex_);
      if (jobs_.size() >= cfg_.LoginQueue) {
        lock.unlock();
        ml::TCmdStream s;
        s.InitWrite(out, sizeof out);
        s.WriteWord(1);
        s.WriteWord(kBusy);
        main_->Send(env.Kind, env.Guid, out, size_t(s.Size()), ip, port);
        return;
      }
      jobs_.push_back({env.Kind, env.Guid, std::vector<uint8_t>(env.Payload, env.Payload + env.PayloadLength), ip, port});
      lock.unlock();
      jobsChanged_.notify_one();
      return;
    }
    case 2:
      n = answerLogout(env.Payload, env.PayloadLength, ip, port, out, sizeof out);
      break;
    case 11:
      n = AnswerKeepAlive(env.Payload, env.PayloadLength, ip, port, out, sizeof out);
      if (n) ++counters_.KeepAlives;
      break;
    case 41:
      startProbe(env, ip, port);
      return;
    default:
      return;
  }
  if (n) main_->Send(env.Kind, env.Guid, out, n, ip, port);
}

void TService::loginWorker() {
  uint8_t out[ml::Envelope::MaxPayload];
  for (;;) {
    LoginJob job;
    {
      std::unique_lock lock(jobsMutex_);
      jobsChanged_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    try {
      std::string id(reinterpret_cast<const char*>(&job.IP), 4);
      id.append(reinterpret_cast<const char*>(&job.Port), 2);
      id.append(reinterpret_cast<const char*>(&job.Guid), sizeof job.Guid);
      id.append(reinterpret_cast<const char*>(job.Payload.data()), job.Payload.size());
      const int64_t now = WallClockMs();
      size_t n = 0;
      {
        std::lock_guard lock(answeredMutex_);
        auto it = answered_.find(id);
        if (it != answered_.end() && now - it->second.AtMs < kRepeatWindowMs) {
          n = it->second.Reply.size();
          std::memcpy(out, it->second.Reply.data(), n);
        }
      }
      if (!n) {
        n = answerLogin(job, out, sizeof out);
        std::lock_guard lock(answeredMutex_);
        if (answered_.size() >= 4096)
          for (auto it = answered_.begin(); it != answered_.end();)
            it = now - it->second.AtMs >= kRepeatWindowMs ? answered_.erase(it) : std::next(it);
        if (n && answered_.size() < 4096) answered_[id] = {std::vector<uint8_t>(out, out + n), now};
      }
      if (n) main_->Send(job.Kind, job.Guid, out, n, job.IP, job.Port);
    } catch (const std::exception& e) {
      ml::DebugTrace("login: %s", e.what());
    }
  }
}

int32_t TService::newAnonymousID() {
  for (;;) {
    const auto id = int32_t(SecureRandomRange(kAnonLow, kAnonHigh));
    std::lock_guard lock(sessionsMutex_);
    if (!sessions_.count(id)) return id;
  }
}

size_t TService::answerLogin(const LoginJob& job, uint8_t* out, size_t cap) {
  ml::TCmdStream in;
  in.InitRead(job.Payload.data(), int32_t(job.Payload.size()));
  in.ReadWord(0);
  const int32_t requested = in.ReadInteger(0);
  const uint32_t localIP = uint32_t(in.ReadInteger(0));
  in.ReadWord(0);  // local port
  const uint8_t netKind = in.ReadByte(3);
  in.ReadByte(0);
  in.ReadByte(0);  // login kind
  uint8_t hw[6];
  in.ReadBuffer(hw, 6);
  const uint16_t version = in.ReadWord(0);
  const uint16_t edition = in.ReadWord(0);
  std::array<uint8_t, 16> digest{};
  in.ReadBuffer(digest.data(), 16);
  std::string nameGbk;
  if (in.Remaining() > 0) {
    // A name that claims more bytes than arrived is a forged or damaged record.
    if (int32_t(job.Payload[size_t(in.Position())]) > in.Remaining() - 1) return 0;
    in.ReadShortString(nameGbk);
  }

  ml::TCmdStream s;
  s.InitWrite(out, int32_t(cap));
  s.WriteWord(1);
  auto refuse = [&](uint16_t code) {
    ++counters_.LoginFailures;
    s.WriteWord(kStatusRefused);
    s.WriteWord(code);
    return size_t(s.Size());
  };
  if (requested < -1 || (requested > 0 && requested < 10) || netKind > 4) return 0;  // not a client of ours
  if (version < cfg_.MinVersion) return refuse(kTooOld);

  int32_t account = 0;
  std::string userName;
  if (requested == -1) {
    account = newAnonymousID();
  } else {
    std::optional<TAccount> a = requested == 0 ? store_->AccountByName(ml::GbkToUtf8(nameGbk))
                                               : store_->AccountByID(requested);
    if (!a) {
      // Spend the same work as a real check, so timing does not tell which names exist.
      static const std::string dummy = MakeVerifier({}, TArgonCost());
      CheckVerifier(dummy, digest);
      return refuse(kNoSuchUser);
    }
    if (!CheckVerifier(a->Verifier, digest)) return refuse(kWrongPassword);
    account = a->UserID;
    userName = a->UserName;
  }

  int32_t key = 0;
  while (key == 0) key = int32_t(SecureRandomRange(1, 0x7FFFFFFF));
  Session ses;
  ses.LoginKey = key;
  ses.IP = job.IP;
  ses.Port = job.Port;
  ses.LocalIP = localIP;
  ses.NetKind = netKind;
  ses.Account = requested != -1;
  ses.LastSeenMs = WallClockMs();
  {
    std::lock_guard lock(sessionsMutex_);
    sessions_[account] = ses;
  }
  store_->PutSession({account, key, job.IP, job.Port, netKind, ses.Account, ses.LastSeenMs});
  ++counters_.Logins;

  const TUpdateRecord up = store_->Update();
  s.WriteWord(kStatusOK);
  s.WriteInteger(account);
  s.WriteInteger(key);
  s.WriteInteger(0);
  s.WriteInteger(0);
  s.WriteInteger(int32_t(job.IP));
  s.WriteWord(job.Port);
  s.WriteByte(0);
  s.WriteByte(0);  // do not remember: no
  s.WriteByte(0);
  for (int i = 0; i < 4; ++i) s.WriteByte(0);
  s.WriteByte(up.Kind);
  s.WriteWord(up.NewestVersion);
  s.WriteInteger(up.FileSize);
  s.WriteBuffer(up.Digest.data(), 16);
  s.WriteInteger(0);
  s.WriteByte(0);
  s.WriteByte(0);
  s.WriteShortString(ml::Utf8ToGbk(userName));
  s.WriteShortString(std::string_view());
  WriteWordString(s, notice());
  if (edition != 0) {
    // We run no partner service: its address stays empty.
    s.WriteInteger(0);
    s.WriteWord(0);
    s.WriteInteger(0);
    s.WriteShortString(std::string_view());
  }
  return size_t(s.Size());
}

TService::Session* TService::boundSession(int32_t user, int32_t key, uint32_t ip, uint16_t port) {
  auto it = sessions_.find(user);
  if (it == sessions_.end() || it->second.LoginKey != key || it->second.IP != ip || it->second.Port != port)
    return nullptr;
  return &it->second;
}

size_t TService::answerLogout(const uint8_t* p, size_t n, uint32_t ip, uint16_t port, uint8_t* out, size_t cap) {
  if (n < 10) return 0;
  ml::TCmdStream in;
  in.InitRead(p, int32_t(n));
  in.ReadWord(0);
  const int32_t user = in.ReadInteger(0);
  const int32_t key = in.ReadInteger(0);
  {
    std::lock_guard lock(sessionsMutex_);
    // Only the holder of the session, from where it logged in, may end it.
    Session* ses = boundSession(user, key, ip, port);
    if (!ses) return 0;
    sessions_.erase(user);
  }
  store_->DeleteSession(user);
  {
    // A login repeated after this logout is a new login, not a repeat of the ended one.
    std::string prefix(reinterpret_cast<const char*>(&ip), 4);
    prefix.append(reinterpret_cast<const char*>(&port), 2);
    std::lock_guard lock(answeredMutex_);
    for (auto it = answered_.begin(); it != answered_.end();)
      it = it->first.compare(0, prefix.size(), prefix) == 0 ? answered_.erase(it) : std::next(it);
  }
  ++counters_.Logouts;
  ml::TCmdStream s;
  s.InitWrite(out, int32_t(cap));
  s.WriteWord(2);
  s.WriteWord(kStatusOK);
  return size_t(s.Size());
}

size_t TService::AnswerKeepAlive(const uint8_t* p, size_t n, uint32_t ip, uint16_t port, uint8_t* out, size_t cap) {
  if (n < 19) return 0;
  ml::TCmdStream in;
  in.InitRead(p, int32_t(n));
  in.ReadWord(0);
  const int32_t user = in.ReadInteger(0);
  in.ReadByte(0);
  in.ReadByte(0);
  const uint8_t netKind = in.ReadByte(0);
  in.ReadWord(0);
  in.ReadWord(0);
  in.ReadWord(0);
  const int32_t key = in.ReadInteger(0);
  {
    std::lock_guard lock(sessionsMutex_);
    Session* ses = boundSession(user, key, ip, port);
    if (!ses) return 0;
    ses->LastSeenMs = WallClockMs();
    if (netKind <= 4) ses->NetKind = netKind;
    ses->Dirty = true;
  }
  ml::TCmdStream s;
  s.InitWrite(out, int32_t(cap));
  s.WriteWord(11);
  s.WriteInteger(user);
  s.WriteInteger(int32_t(WallClockMs() / 1000));
  s.WriteWord(listVersion_);
  WriteWordString(s, notice());
  return size_t(s.Size());
}

void TService::startProbe(const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port) {
  if (env.PayloadLength < 7) return;
  if (!probeLimit_.Allow(ip, WallClockMs())) {
    ++counters_.RateLimited;
    return;
  }
  ml::TCmdStream in;
  in.InitRead(env.Payload, int32_t(env.PayloadLength));
  in.ReadWord(0);
  const int32_t user = in.ReadInteger(0);
  Probe probe{ip, port, user, env.Kind, env.Guid, WallClockMs() + cfg_.ProbeWaitMs};
  uint32_t token = 0;
  {
    std::lock_guard lock(probesMutex_);
    if (probes_.size() >= 4096) return;
    do token = SecureRandomRange(1, 0xFFFFFFFFu);
    while (probes_.count(token));
    probes_[token] = probe;
  }
  ++counters_.Probes;
  // The probe leaves from the other socket: an answer proves that a port the client never
  // wrote to can reach it.
  uint8_t msg[10] = {49, 0};
  std::memcpy(msg + 2, &token, 4);
  list_->Send(ml::Envelope::Keyed, {-1, 0}, msg, sizeof msg, ip, port);
}

void TService::probeAnswered(const uint8_t* p, size_t n, uint32_t ip) {
  if (n < 12) return;
  uint32_t token = 0;
  std::memcpy(&token, p + 6, 4);
  Probe probe;
  {
    std::lock_guard lock(probesMutex_);
    auto it = probes_.find(token);
    if (it == probes_.end() || it->second.IP != ip) return;
    probe = it->second;
    probes_.erase(it);
  }
  finishProbe(probe, true);
}

void TService::finishProbe(const Probe& probe, bool reached) {
  uint32_t localIP = 0;
  bool known = false;
  {
    std::lock_guard lock(sessionsMutex_);
    auto it = sessions_.find(probe.UserID);
    if (it != sessions_.end() && it->second.IP == probe.IP) {
      localIP = it->second.LocalIP;
      known = true;
    }
  }
  // Seen at the address the client itself reports: no translation in between.
  const bool direct = known && localIP == probe.IP;
  const uint8_t kind = reached ? (direct ? 0 : 1) : (direct ? 4 : 3);
  {
    std::lock_guard lock(sessionsMutex_);
    auto it = sessions_.find(probe.UserID);
    if (it != sessions_.end() && it->second.IP == probe.IP) it->second.NetKind = kind;
  }
  const uint8_t msg[6] = {39, 0, kind, 0, 0, 0};
  main_->Send(ml::Envelope::Keyed, {-1, 0}, msg, sizeof msg, probe.IP, probe.Port);
}

void TService::housekeeping() {
  int64_t lastFlush = WallClockMs();
  std::unique_lock lock(stopMutex_);
  while (!stopping_) {
    stopChanged_.wait_for(lock, std::chrono::milliseconds(50));
    const int64_t now = WallClockMs();
    std::vector<Probe> expired;
    {
      std::lock_guard pl(probesMutex_);
      for (auto it = probes_.begin(); it != probes_.end();) {
        if (it->second.DeadlineMs <= now) {
          expired.push_back(it->second);
          it = probes_.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (const Probe& p : expired) finishProbe(p, false);

    if (now - lastFlush < 1000) continue;
    lastFlush = now;
    {
      std::lock_guard al(answeredMutex_);
      for (auto it = answered_.begin(); it != answered_.end();)
        it = now - it->second.AtMs >= kRepeatWindowMs ? answered_.erase(it) : std::next(it);
    }
    std::vector<std::pair<int32_t, int64_t>> touched;
    std::vector<int32_t> gone;
    {
      std::lock_guard sl(sessionsMutex_);
      for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session& s = it->second;
        if (now - s.LastSeenMs > cfg_.KeepAlivePeriods * periodOf(s.NetKind)) {
          gone.push_back(it->first);
          it = sessions_.erase(it);
          continue;
        }
        if (s.Dirty) touched.emplace_back(it->first, s.LastSeenMs);
        s.Dirty = false;
        ++it;
      }
    }
    try {
      store_->TouchSessions(touched);
      for (int32_t id : gone) store_->DeleteSession(id);
    } catch (const std::exception& e) {
      ml::DebugTrace("sessions: %s", e.what());
    }
  }
  // Last seen times reach the database before we go.
  std::vector<std::pair<int32_t, int64_t>> touched;
  {
    std::lock_guard sl(sessionsMutex_);
    for (auto& [id, s] : sessions_)
      if (s.Dirty) touched.emplace_back(id, s.LastSeenMs);
  }
  try {
    store_->TouchSessions(touched);
  } catch (...) {
  }
}

}  // namespace mlsvc
