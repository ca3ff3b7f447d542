#pragma once
// Login and keep-alive. TUserInfo is the process-wide record of who we are to the service;
// TLRLogin runs the login, logout and keep-alive conversations; TLoginThread runs logins off the
// caller's thread; the keep-alive has a thread of its own inside TLRLogin.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/LRMD5.h"
#include "net/WireCodes.h"

namespace ml {

class TLRUDPClient;
class TServerListManager;

// Written by the login and keep-alive threads, read everywhere: numbers are atomics, texts sit
// behind a lock.
class TUserInfo {
public:
  std::atomic<int32_t> UserID{0};
  std::atomic<bool> LoggedIn{false};
  std::atomic<uint8_t> NetKind{ml::NetKind::InternalC};
  std::atomic<uint32_t> PublicIP{0};  // network order
  std::atomic<uint16_t> PublicPort{0};
  std::atomic<uint32_t> LocalIP{0};
  std::atomic<uint16_t> LocalPort{0};
  std::array<uint8_t, 6> HardwareAddress{};  // set once at start-up

  std::string UserName() const;
  void SetUserName(const std::string& v);
  std::string Password() const;  // stored form
  void SetPassword(const std::string& v);

private:
  mutable std::mutex mutex_;
  std::string userName_, password_;
};

struct TLoginRecord {
  int32_t ID = 0;
  std::string UserName;
  bool AutoLogin = false;
  std::string Password;  // stored form
};

struct TUpdateInfo {
  uint8_t Kind = 1;
  uint16_t NewestVersion = 0;
  int32_t FileSize = 0;
  TMD5Digest Digest;
};

// The stored form of a password: its MD5 digest as 32 lower-case hex characters, enciphered with
// the packet key, behind the CRC-16 of the enciphered bytes, as 68 upper-case hex characters.
std::string EncodeStoredPassword(const std::string& passwordUtf8);
// Back to the 32 hex characters; empty when the text is not a valid stored form.
std::string DecodeStoredPassword(const std::string& stored);
// The digest a login request carries (all zero for an invalid stored form).
TMD5Digest StoredPasswordDigest(const std::string& stored);
// Result codes of a login besides the service's refusals (Status::Busy to Status::TooOld, or any
// other code it sends) and Status::NoAnswer.
namespace LoginResult {
constexpr int Success = 0;
constexpr int Damaged = 1;  // the answer was malformed
constexpr int Unknown = -1;
}  // namespace LoginResult

// The text of a login result code.
std::string LoginResultText(int code);

// Logins, logouts and relogins run one at a time (any thread). The keep-alive thread starts with
// the first successful exchange and runs until StopKeepAlive. Each session's keep-alive period is
// fixed by the network kind its login was sent with, as the service fixes the session's lifetime;
// when reports go unanswered KeepAliveMissesBeforeRelogin times in a row the session is taken as
// lost (the service ended it, or the network did), and the keep-alive thread logs in again as
// the last login did, once a period until it succeeds or is refused. A Logout stops that.
class TLRLogin {
public:
  static constexpr int32_t LoginWaitMs = 5000;
  static constexpr int LoginTries = 6;
  static constexpr int32_t LogoutWaitMs = 100;
  static constexpr int64_t ExternalPeriodMs = 240000;
  static constexpr int64_t InternalPeriodMs = 45000;
  static constexpr int KeepAliveMissesBeforeRelogin = 2;

  // appDir holds "LoginSave.bin" and the registry stand-in (empty: no saved login).
  TLRLogin(TLRUDPClient& udp, TServerListManager& servers, TUserInfo& user, std::string appDir,
           int editionCode = 0);
  ~TLRLogin();
  TLRLogin(const TLRLogin&) = delete;
  TLRLogin& operator=(const TLRLogin&) = delete;

  // A number above 9 logs in by number, a text not starting with a digit by name, an empty text
  // connects anonymously. True on result 0.
  bool Login(const std::string& userText, const std::string& storedPassword);
  int ConnectLoginServer();
  void Logout();
  bool ShouldAutoLogin() const;
  void SaveLogin(int32_t id, const std::string& userName, bool autoLogin, const std::string& storedPassword);
  void SetAutoLogin(bool v) { autoLogin_ = v; }

  bool LoggedIn() const { return loggedIn_.load(); }
  int LastResult() const { return lastResult_.load(); }
  std::string LastMessage() const;
  TLoginRecord LastLogin() const;
  int32_t LoginKey() const { return loginKey_.load(); }
  bool DoNotRemember() const { return doNotRemember_.load(); }
  std::string Notice() const;
  std::string WebKey() const;
  TUpdateInfo Update() const;

  // One keep-alive report; true when the service answered.
  bool KeepAliveOnce();
  // The period of the current session, fixed at its login by the network kind sent with it
  // (before any login: by the current kind). A test may shorten it.
  int64_t KeepAlivePeriodMs() const;
  void SetKeepAlivePeriodOverride(int64_t ms) { periodOverride_ = ms; }
  bool KeepAliveRunning();
  uint64_t KeepAliveReports() const { return keepAliveReports_.load(); }
  uint64_t KeepAliveAnswers() const { return keepAliveAnswers_.load(); }
  uint64_t Relogins() const { return relogins_.load(); }
  // Stops the keep-alive thread (shutdown); a login running meanwhile stops after its current
  // try.
  void StopKeepAlive();

  // After a successful exchange: the number, address and port the peers of the transfer manager
  // must know us by.
  std::function<void(int32_t userID, uint32_t publicIP, uint16_t publicPort)> OnIdentity;
  // On the keep-alive thread, after it logged in again for a lost session: the result code.
  std::function<void(int code)> OnRelogin;
  // Before each try of a login exchange (sending the request, then waiting up to LoginWaitMs),
  // on the thread running the login (the keep-alive thread's for a relogin): attempt counts from
  // 1 to tries (LoginTries), and again from 1 when a login by name is repeated by number;
  // serverIP (network order) and serverPort are the login server tried. Lets a caller say what
  // it is doing while the tries run. Set it before the first login, not while one runs.
  std::function<void(int attempt, int tries, uint32_t serverIP, uint16_t serverPort)> OnAttempt;

private:
  enum class Kind { Anonymous, ByName, ByNumber };
  // Under exchangeMutex_.
  int Connect();
  int Exchange(Kind kind, int32_t number, const std::string& name, const TMD5Digest& digest,
               int32_t& account, uint32_t& usedIP);
  int TakeLoginReply(const uint8_t* buf, int32_t len, uint8_t netKindSent, int32_t& account);
  void LoadLastLogin();
  void KeepAliveLoop();
  // The keep-alive thread's new login for a lost session; skipped while another login runs.
  void Relogin();
  void SetResult(int code);

  TLRUDPClient& udp_;
  TServerListManager& servers_;
  TUserInfo& user_;
  std::string appDir_;
  int editionCode_;

  std::atomic<bool> loggedIn_{false};
  std::atomic<bool> doNotRemember_{false};
  std::atomic<int> lastResult_{-1};
  std::atomic<int32_t> loginKey_{0};
  std::atomic<bool> autoLogin_{false};
  std::mutex exchangeMutex_;  // one login, logout or relogin at a time; guards the two below
  int32_t requestedNumber_ = 0;
  std::string requestedName_;
  std::atomic<bool> wantSession_{false};  // a login succeeded and no logout followed
  std::atomic<bool> stopping_{false};     // StopKeepAlive is running: logins end early
  mutable std::mutex mutex_;  // the texts below
  std::string lastMessage_, password_, notice_, webKey_;
  TUpdateInfo update_;
  TLoginRecord lastLogin_;

  std::atomic<int64_t> periodOverride_{0};
  std::atomic<int64_t> sessionPeriodMs_{0};
  std::atomic<uint64_t> sessions_{0};  // successful exchanges: a new one restarts the period
  std::atomic<uint64_t> keepAliveReports_{0}, keepAliveAnswers_{0}, relogins_{0};
  std::mutex keepAliveMutex_;
  std::condition_variable keepAliveStop_;
  bool stopKeepAlive_ = false;
  std::thread keepAlive_;
};

// Runs one login at a time off the caller's thread and reports its result code.
class TLoginThread {
public:
  using TResultEvent = std::function<void(bool withUserText, int code)>;
  TLoginThread(TLRLogin& login, TResultEvent onResult);
  ~TLoginThread();
  // Ignored (false) while a login is running.
  bool Request(const std::string& userText, const std::string& storedPassword);
  bool Busy() const { return busy_.load(); }

private:
  void Run();
  TLRLogin& login_;
  TResultEvent onResult_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool pending_ = false, stop_ = false;
  std::string userText_, password_;
  std::atomic<bool> busy_{false};
  std::thread thread_;
};

}  // namespace ml
