#include "online/uLogin.h"

#include "base/ByteOrder.h"

#include <chrono>
#include <cstring>
#include <random>

#include "net/LRCmdStream.h"
#include "net/LREncrypt.h"
#include "net/LoginRecords.h"
#include "net/LRUDPClient.h"
#include "base/DebugTrace.h"
#include "base/GbkText.h"
#include "base/IniFile.h"
#include "base/Registry.h"
#include "base/StrUtil.h"
#include "base/Version.h"
#include "net/uServerListManager.h"

namespace ml {

namespace {

constexpr const char* kLoginFile = "LoginSave.bin";
constexpr const char* kSection = "LastLogin";
constexpr const char* kRegistryKey = "\\Software\\Lirra4";

std::string HexUpper(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(digits[p[i] >> 4]);
    s.push_back(digits[p[i] & 15]);
  }
  return s;
}

bool FromHex(const std::string& text, std::string& out) {
  if (text.size() % 2) return false;
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(char(hi * 16 + lo));
  }
  return true;
}

int32_t RandomBelow(int32_t n) {
  if (n <= 0) return 0;
  static thread_local std::mt19937 rng(std::random_device{}());
  return std::uniform_int_distribution<int32_t>(0, n - 1)(rng);
}

}  // namespace

std::string TUserInfo::UserName() const {
  std::lock_guard lock(mutex_);
  return userName_;
}
void TUserInfo::SetUserName(const std::string& v) {
  std::lock_guard lock(mutex_);
  userName_ = v;
}
std::string TUserInfo::Password() const {
  std::lock_guard lock(mutex_);
  return password_;
}
void TUserInfo::SetPassword(const std::string& v) {
  std::lock_guard lock(mutex_);
  password_ = v;
}

std::string EncodeStoredPassword(const std::string& passwordUtf8) {
  std::string hex = LRMD5::MD5DigestToStr(LRMD5::MD5String(Utf8ToGbk(passwordUtf8)));
  uint8_t bytes[34];
  for (size_t j = 0; j < 32; ++j) bytes[2 + j] = uint8_t(hex[j]) ^ PacketKey[j % 16];
  const uint16_t crc = Crc16(bytes + 2, 32);
  StoreLE16(bytes, crc);
  return HexUpper(bytes, sizeof bytes);
}

std::string DecodeStoredPassword(const std::string& stored) {
  std::string raw;
  if (!FromHex(stored, raw) || raw.size() <= 2) return {};
  const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
  const uint16_t crc = Crc16(p + 2, raw.size() - 2);
  if (crc != LoadLE16(p)) return {};
  std::string plain;
  for (size_t j = 2; j < raw.size(); ++j) plain.push_back(char(p[j] ^ PacketKey[(j - 2) % 16]));
  if (plain.size() != 32) return {};
  return plain;
}

TMD5Digest StoredPasswordDigest(const std::string& stored) {
  return LRMD5::MD5StrToDigest(DecodeStoredPassword(stored));
}

std::string LoginResultText(int code) {
  switch (code) {
    case LoginResult::Success: return "登录成功";
    case LoginResult::Damaged: return "可能网络传输数据出错,请再次尝试!";
    case Status::Busy: return "可能服务器正繁忙,请稍后再试！错误代码：146";
    case Status::WrongPassword: return "请您检查用户名与密码是否正确！错误代码：147";
    case Status::NoSuchUser: return "这个用户不存在！错误代码：148";
    case Status::TooOld: return "您使用的Lirra的版本太低，请下载更高版本安装！错误代码：149";
    case Status::NoAnswer: return "连接服务器超时！错误代码：150";
    case LoginResult::Unknown: return "未知错误";
    default: return "登录失败，错误代码:" + std::to_string(code);
  }
}

TLRLogin::TLRLogin(TLRUDPClient& udp, TServerListManager& servers, TUserInfo& user, std::string appDir,
                   int editionCode)
    : udp_(udp), servers_(servers), user_(user), appDir_(std::move(appDir)), editionCode_(editionCode) {
  lastMessage_ = LoginResultText(LoginResult::Unknown);
  try {
    LoadLastLogin();
  } catch (...) {
    // A damaged saved login only means no automatic login.
  }
}

TLRLogin::~TLRLogin() { StopKeepAlive(); }

void TLRLogin::LoadLastLogin() {
  if (appDir_.empty()) return;
  IniFile ini;
  TLoginRecord r;
  if (ini.Load(appDir_ + kLoginFile)) {
    r.ID = int32_t(ini.ReadInteger(kSection, "ID", 0));
    r.UserName = ini.ReadString(kSection, "UserName");
    r.AutoLogin = ini.ReadBool(kSection, "AutoLogin", false);
    r.Password = ini.ReadString(kSection, "Password");
  }
  if (r.ID <= 9 && r.UserName.empty()) {
    TRegistryStore reg(appDir_);
    const auto root = TRegistryStore::Root::CurrentUser;
    r.ID = int32_t(reg.ReadInteger(root, kRegistryKey, "LastLoginUserID", 0));
    r.UserName = reg.ReadString(root, kRegistryKey, "LastLoginUserName");
    r.AutoLogin = reg.ValueExists(root, kRegistryKey, "LastLoginType");
    r.Password = reg.ReadString(root, kRegistryKey, "LastLoginPassword");
  }
  std::lock_guard lock(mutex_);
  lastLogin_ = r;
}

TLoginRecord TLRLogin::LastLogin() const {
  std::lock_guard lock(mutex_);
  return lastLogin_;
}

bool TLRLogin::ShouldAutoLogin() const {
  const TLoginRecord r = LastLogin();
  return r.ID > 9 && r.AutoLogin && !r.Password.empty();
}

void TLRLogin::SaveLogin(int32_t id, const std::string& userName, bool autoLogin, const std::string& storedPassword) {
  if (id <= 9 && userName.empty()) return;
  {
    std::lock_guard lock(mutex_);
    lastLogin_ = {id, userName, autoLogin, storedPassword};
  }
  if (appDir_.empty()) return;
  IniFile ini;
  ini.WriteInteger(kSection, "ID", id);
  ini.WriteString(kSection, "UserName", userName);
  ini.WriteBool(kSection, "AutoLogin", autoLogin);
  ini.WriteString(kSection, "Password", storedPassword);
  std::string error;
  // It holds a password form that logs in: only its owner may read it.
  if (!ini.Save(appDir_ + kLoginFile, 0600, &error)) DebugTrace("SaveLogin: %s", error.c_str());
}

std::string TLRLogin::LastMessage() const {
  std::lock_guard lock(mutex_);
  return lastMessage_;
}
std::string TLRLogin::Notice() const {
  std::lock_guard lock(mutex_);
  return notice_;
}
std::string TLRLogin::WebKey() const {
  std::lock_guard lock(mutex_);
  return webKey_;
}
TUpdateInfo TLRLogin::Update() const {
  std::lock_guard lock(mutex_);
  return update_;
}

void TLRLogin::SetResult(int code) {
  lastResult_ = code;
  std::lock_guard lock(mutex_);
  lastMessage_ = LoginResultText(code);
}

bool TLRLogin::Login(const std::string& userText, const std::string& storedPassword) {
  std::lock_guard exchange(exchangeMutex_);
  wantSession_ = false;
  const std::string text(Trim(userText));
  requestedNumber_ = 0;
  requestedName_.clear();
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
    const auto n = ParseInt(text);
    if (n && *n > 9 && *n <= INT32_MAX) requestedNumber_ = int32_t(*n);
  } else {
    requestedName_ = text;
  }
  {
    std::lock_guard lock(mutex_);
    password_ = storedPassword;
  }
  return Connect() == LoginResult::Success;
}

int TLRLogin::ConnectLoginServer() {
  std::lock_guard exchange(exchangeMutex_);
  wantSession_ = false;
  return Connect();
}

int TLRLogin::Connect() {
  int code = LoginResult::Unknown;
  try {
    servers_.Download(requestedNumber_, ProgramVersion, false);
    Kind kind = requestedNumber_ >= 10 ? Kind::ByNumber : !requestedName_.empty() ? Kind::ByName : Kind::Anonymous;
    std::string stored;
    {
      std::lock_guard lock(mutex_);
      stored = password_;
    }
    const TMD5Digest digest = kind == Kind::Anonymous ? TMD5Digest() : StoredPasswordDigest(stored);
    int32_t account = 0;
    uint32_t usedIP = 0;
    code = Exchange(kind, requestedNumber_, requestedName_, digest, account, usedIP);
    if (code == LoginResult::Success && kind == Kind::ByName) {
      // Accounts live on the server their number picks: go there when it is another one.
      uint16_t port = 0;
      uint32_t ip = 0;
      if (servers_.ServerFor(account, Cmd::Login, port, ip) && ip != usedIP)
        code = Exchange(Kind::ByNumber, account, "", digest, account, usedIP);
    }
    SetResult(code);
    loggedIn_ = code == LoginResult::Success;
    if (code == LoginResult::Success) {
      wantSession_ = true;
      user_.SetPassword(stored);
      if (!doNotRemember_ && kind != Kind::Anonymous)
        SaveLogin(user_.UserID, user_.UserName(), autoLogin_, stored);
    } else if (code == Status::WrongPassword) {
      SaveLogin(requestedNumber_, requestedName_, false, "");
    }
  } catch (const std::exception& e) {
    // A failure inside the request ends as a result, never as a login that hangs.
    DebugTrace("Login failed: %s", e.what());
    code = LoginResult::Unknown;
    SetResult(code);
    loggedIn_ = false;
  }
  return code;
}

int TLRLogin::Exchange(Kind kind, int32_t number, const std::string& name, const TMD5Digest& digest,
                       int32_t& account, uint32_t& usedIP) {
  const int32_t chooser = kind == Kind::Anonymous ? RandomBelow(servers_.ServerCount(Cmd::Login))
                          : kind == Kind::ByName  ? 0
                                                  : number;
  udp_.SetUserID(chooser);
  if (OnIdentity) OnIdentity(chooser, user_.PublicIP, user_.PublicPort);
  uint16_t port = 0;
  uint32_t ip = 0;
  user_.LoggedIn = false;
  if (!servers_.ServerFor(chooser, Cmd::Login, port, ip)) return Status::NoAnswer;
  usedIP = ip;

  TLoginRequest r;
  r.Requested = kind == Kind::Anonymous ? TLoginRequest::Anonymous : kind == Kind::ByName ? TLoginRequest::ByName : number;
  r.LocalIP = user_.LocalIP;
  r.LocalPort = user_.LocalPort;
  r.NetKind = user_.NetKind;
  r.LoginKind = kind == Kind::ByNumber ? TLoginRequest::KindByNumber : 0;
  r.HardwareAddress = user_.HardwareAddress;
  r.ProgramVersion = uint16_t(ProgramVersion);
  r.EditionCode = uint16_t(editionCode_);
  r.PasswordDigest = digest.v;
  if (kind == Kind::ByName) r.UserName = Utf8ToGbk(name);
  uint8_t request[1500];
  TCmdStream s;
  s.InitWrite(request, sizeof request);
  // A name too long for its length byte cannot be sent: no account has one.
  if (!WriteLoginRequest(s, r)) return Status::NoSuchUser;
  const int32_t requestLength = s.Size();

  uint8_t reply[1500];
  int32_t replyLength = 0;
  const int32_t serial = udp_.NextSerial(true);
  bool answered = false;
  for (int attempt = 0; attempt < LoginTries && !answered && !stopping_; ++attempt) {
    // A firewall or a stale mapping may be what eats our datagrams: try another local port. The
    // client moves its own transport, so a close meanwhile is safe.
    if (attempt >= 3 && udp_.MoveToPort(uint16_t(1000 + RandomBelow(20000))))
      user_.LocalPort = uint16_t(udp_.DefaultPort());
    if (OnAttempt) OnAttempt(attempt + 1, LoginTries, ip, port);
    answered = udp_.SendWaitTable(ip, port, LoginWaitMs, serial, replyLength, reply, sizeof reply,
                                  requestLength, request);
  }
  if (!answered) return Status::NoAnswer;
  return TakeLoginReply(reply, replyLength, r.NetKind, account);
}

int TLRLogin::TakeLoginReply(const uint8_t* buf, int32_t len, uint8_t netKindSent, int32_t& account) {
  TLoginReply r;
  if (!ReadLoginReply(buf, size_t(len), r, editionCode_ != 0)) return LoginResult::Damaged;
  if (r.Status == Status::Refused) return r.Reason;
  if (r.Status != Status::OK) return r.Status == 0 ? LoginResult::Damaged : r.Status;
  if (r.UserID < 10) return LoginResult::Damaged;
  account = r.UserID;
  TUpdateInfo up;
  up.Kind = r.UpdateKind;
  up.NewestVersion = r.NewestVersion;
  up.FileSize = r.UpdateFileSize;
  up.Digest.v = r.UpdateDigest;

  loginKey_ = r.LoginKey;
  doNotRemember_ = r.DoNotRemember;
  user_.UserID = account;
  user_.PublicIP = r.PublicIP;
  user_.PublicPort = r.PublicPort;
  if (!r.UserName.empty()) user_.SetUserName(GbkToUtf8(r.UserName));
  {
    std::lock_guard lock(mutex_);
    update_ = up;
    webKey_ = GbkToUtf8(r.WebKey);
    notice_ = GbkToUtf8(r.Notice);
  }
  // The service keeps the session by the period of the kind we logged in with: so do we.
  sessionPeriodMs_ = NetKind::IsExternal(netKindSent) ? ExternalPeriodMs : InternalPeriodMs;
  ++sessions_;
  user_.LoggedIn = true;
  udp_.SetUserID(account);
  if (OnIdentity) OnIdentity(account, r.PublicIP, r.PublicPort);
  {
    std::lock_guard lock(keepAliveMutex_);
    // Not while StopKeepAlive runs: this may be the stopping thread's own relogin.
    if (!keepAlive_.joinable() && !stopping_) {
      stopKeepAlive_ = false;
      keepAlive_ = std::thread([this] { KeepAliveLoop(); });
    }
  }
  return LoginResult::Success;
}

void TLRLogin::Logout() {
  wantSession_ = false;  // a relogin that has not begun yet is not wanted
  std::lock_guard exchange(exchangeMutex_);
  wantSession_ = false;  // nor is the session of one that just ended
  user_.LoggedIn = false;
  const int32_t userID = user_.UserID;
  uint16_t port = 0;
  uint32_t ip = 0;
  bool done = false;
  if (servers_.ServerFor(userID, Cmd::Logout, port, ip)) {
    uint8_t request[TLogoutRequest::FixedSize];
    TCmdStream s;
    s.InitWrite(request, sizeof request);
    WriteLogoutRequest(s, {userID, loginKey_, user_.LocalIP, user_.LocalPort, user_.NetKind, false});
    uint8_t reply[64];
    const int32_t serial = udp_.NextSerial(true);
    for (int attempt = 0; attempt < 3 && !done; ++attempt) {
      int32_t replyLength = 0;
      done = udp_.SendWaitTable(ip, port, LogoutWaitMs, serial, replyLength, reply, sizeof reply, s.Size(), request);
    }
  }
  loggedIn_ = false;
  DebugTrace("Logout result :%s", done ? "True" : "False");
}

int64_t TLRLogin::KeepAlivePeriodMs() const {
  if (periodOverride_ > 0) return periodOverride_;
  if (sessionPeriodMs_ > 0) return sessionPeriodMs_;
  return NetKind::IsExternal(user_.NetKind) ? ExternalPeriodMs : InternalPeriodMs;
}

bool TLRLogin::KeepAliveOnce() {
  const int32_t userID = user_.UserID;
  uint16_t port = 0;
  uint32_t ip = 0;
  if (!servers_.ServerFor(userID, Cmd::KeepAlive, port, ip)) return false;
  TKeepAliveRequest r;
  r.UserID = userID;
  r.LoggedIn = user_.LoggedIn;
  r.NetKind = user_.NetKind;
  r.ProgramVersion = uint16_t(ProgramVersion);
  r.LoginKey = loginKey_;
  r.EditionCode = uint16_t(editionCode_);
  r.QueueCount = uint8_t(std::min<int32_t>(udp_.QueueCount(), 255));
  uint8_t request[TKeepAliveRequest::FixedSize];
  TCmdStream s;
  s.InitWrite(request, sizeof request);
  WriteKeepAliveRequest(s, r);
  ++keepAliveReports_;
  uint8_t buf[1500];
  int32_t replyLength = 0;
  TKeepAliveReply reply;
  if (!udp_.SendWait(ip, port, true, 5000, 0, replyLength, buf, sizeof buf, s.Size(), request) ||
      !ReadKeepAliveReply(buf, size_t(replyLength), reply))
    return false;
  ++keepAliveAnswers_;
  {
    std::lock_guard lock(mutex_);
    notice_ = GbkToUtf8(reply.Notice);
  }
  if (TServerListManager::IsNewerVersion(reply.ListVersion, servers_.Version()))
    servers_.Download(userID, ProgramVersion, true);
  else if (!servers_.DownloadedThisRun())
    servers_.Download(userID, ProgramVersion, false);
  return true;
}

void TLRLogin::KeepAliveLoop() {
  uint64_t session = sessions_;
  auto last = std::chrono::steady_clock::now();
  int missed = 0;
  std::unique_lock lock(keepAliveMutex_);
  while (!stopKeepAlive_) {
    keepAliveStop_.wait_for(lock, std::chrono::milliseconds(10));
    if (stopKeepAlive_) break;
    const auto now = std::chrono::steady_clock::now();
    if (sessions_ != session) {
      // A new session: its period counts from its login.
      session = sessions_;
      last = now;
      missed = 0;
      continue;
    }
    if (now - last < std::chrono::milliseconds(KeepAlivePeriodMs())) continue;
    last = now;
    lock.unlock();
    try {
      if (user_.LoggedIn) {
        // A failed report waits for the next period; too many in a row mean the session is gone.
        if (KeepAliveOnce())
          missed = 0;
        else if (++missed >= KeepAliveMissesBeforeRelogin)
          Relogin();
      } else if (wantSession_) {
        Relogin();
      }
    } catch (...) {
    }
    lock.lock();
  }
}

void TLRLogin::Relogin() {
  std::unique_lock exchange(exchangeMutex_, std::try_to_lock);
  // A login of the user's is running (it will make the session), or a logout came first.
  if (!exchange.owns_lock() || !wantSession_) return;
  user_.LoggedIn = false;
  loggedIn_ = false;
  ++relogins_;
  DebugTrace("Keep-alive unanswered: logging in again");
  const int code = Connect();
  // A refusal will not turn into a session by trying again; silence or a busy service may.
  if (code != LoginResult::Success && code != Status::NoAnswer && code != Status::Busy) wantSession_ = false;
  if (OnRelogin) {
    try {
      OnRelogin(code);
    } catch (...) {
    }
  }
}

void TLRLogin::StopKeepAlive() {
  stopping_ = true;
  std::thread t;
  {
    std::lock_guard lock(keepAliveMutex_);
    stopKeepAlive_ = true;
    t = std::move(keepAlive_);
  }
  keepAliveStop_.notify_all();
  if (t.joinable()) t.join();
  stopping_ = false;
}

bool TLRLogin::KeepAliveRunning() {
  std::lock_guard lock(keepAliveMutex_);
  return keepAlive_.joinable();
}

TLoginThread::TLoginThread(TLRLogin& login, TResultEvent onResult)
    : login_(login), onResult_(std::move(onResult)), thread_([this] { Run(); }) {}

TLoginThread::~TLoginThread() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool TLoginThread::Request(const std::string& userText, const std::string& storedPassword) {
  std::lock_guard lock(mutex_);
  if (pending_ || busy_) return false;
  userText_ = userText;
  password_ = storedPassword;
  pending_ = true;
  busy_ = true;
  changed_.notify_all();
  return true;
}

void TLoginThread::Run() {
  for (;;) {
    std::string user, password;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || pending_; });
      if (stop_) return;
      user = userText_;
      password = password_;
      pending_ = false;
    }
    int code = -1;
    try {
      if (login_.LoggedIn()) login_.Logout();
      login_.Login(user, password);
      code = login_.LastResult();
    } catch (...) {
      code = -1;
    }
    busy_ = false;
    if (onResult_) {
      try {
        onResult_(!user.empty(), code);
      } catch (...) {
      }
    }
  }
}

}  // namespace ml
