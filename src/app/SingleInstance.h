#pragma once
// One running player per user. Two lock files in the user's runtime folder stand for the two
// named mutexes: "Lirra3Application.lock", held by the running instance for its whole life, and
// "MiniLirraMainForm.lock", held from start until its main window has been shown. A local socket,
// "Lirra3Application.sock" beside them, carries what other processes ask of the running instance:
// the presence query (answered with ProgramVersion), the hand-off of a second instance's
// command line (answered with ProgramVersion), "look at the mailbox" (answered with 1) and the
// bring-to-front request a second instance broadcasts (no answer).
//
// Wire format of a request (little-endian): uint32 code, int32 parameter, uint32 data length,
// then the data; the answer is one int32. Codes are the message numbers the requests always had.
#include "base/Dispatcher.h"

#include <atomic>
#include <memory>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ml {

// A lock file standing for a named mutex: flock on a file only its owner may open. The lock
// goes with the process, so a crashed instance never leaves a stale lock behind.
class TLockFile {
public:
  explicit TLockFile(std::string path);
  ~TLockFile();
  TLockFile(const TLockFile&) = delete;
  TLockFile& operator=(const TLockFile&) = delete;

  // False when the file could not be opened (then no wait succeeds).
  bool Valid() const { return fd_ >= 0; }
  // Waits up to timeout for the lock (0 tries once). True when held afterwards.
  bool TryLock(Millis timeout);
  void Unlock();
  bool Held() const { return held_; }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
  int fd_ = -1;
  bool held_ = false;
};

enum TInstanceRequest : uint32_t {
  RequestCommandLine = 0x004A,   // the argument list of a second instance (data: forwarded encoding)
  RequestLookMailbox = 1196,     // an outside program has written the mailbox
  RequestPresence = 1283,        // parameter: the sender's ProgramVersion
  RequestActivate = 0xC0DE,      // bring the main window to the front; no answer
};

// What the running instance does for those requests, called on the main thread.
class IInstanceRequests {
public:
  virtual ~IInstanceRequests() = default;
  // Restore the application, show and front the main window.
  virtual void InstanceActivate() = 0;
  // A second instance's argument list (already decoded).
  virtual void InstanceCommandLine(const std::vector<std::string>& args) = 0;
  // Look at the mailbox; the result goes back to the asking program.
  virtual int InstanceLookMailbox() = 0;
};

// The running instance's socket. Requests are accepted on a thread of the server's own and run
// on the main thread through the dispatcher; each connection gets a few seconds to deliver its
// request, and every length is checked before it is trusted.
class TInstanceServer {
public:
  TInstanceServer(std::string socketPath, Dispatcher& dispatcher, IInstanceRequests& handler);
  ~TInstanceServer();
  TInstanceServer(const TInstanceServer&) = delete;
  TInstanceServer& operator=(const TInstanceServer&) = delete;

  // Call only while holding the instance lock: a leftover socket file of a dead instance is
  // replaced.
  bool Start(std::string* error = nullptr);
  // On the main thread: stops accepting, lets a request in progress finish (running the main
  // thread's queue meanwhile) and removes the socket file.
  void Stop();
  bool Running() const { return thread_.joinable(); }

private:
  void Serve();
  void HandleClient(int fd);

  std::string path_;
  Dispatcher& dispatcher_;
  IInstanceRequests& handler_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  // Work posted to the main thread holds this weakly: a request that arrives as the server (and
  // the handler it serves) goes away does nothing.
  std::shared_ptr<IInstanceRequests*> handlerAlive_;
  std::thread thread_;
};

// The asking side. Connects, sends one request and waits up to timeout for the answer.
// nullopt when nobody listens, the request fails or no answer comes in time.
std::optional<int32_t> SendInstanceRequest(const std::string& socketPath, uint32_t code, int32_t param,
                                           std::string_view data, Millis timeout);
// Sends a request that has no answer (the bring-to-front broadcast). True when it was delivered.
bool PostInstanceRequest(const std::string& socketPath, uint32_t code, Millis timeout);

// The named objects of one user session.
class TSingleInstance {
public:
  static constexpr Millis FirstInstanceWait{100};
  static constexpr Millis MainFormWait{10000};

  // runtimeDir: the per-user folder (RuntimeDir()), trailing "/" optional.
  explicit TSingleInstance(const std::string& runtimeDir);

  TLockFile& AppLock() { return appLock_; }            // "Lirra3Application"
  TLockFile& MainFormLock() { return mainFormLock_; }  // "MiniLirraMainForm"
  const std::string& SocketPath() const { return socketPath_; }

  static std::string AppLockPath(const std::string& runtimeDir);
  static std::string MainFormLockPath(const std::string& runtimeDir);
  static std::string SocketPath(const std::string& runtimeDir);

private:
  TLockFile appLock_;
  TLockFile mainFormLock_;
  std::string socketPath_;
};

}  // namespace ml
