#include "app/SingleInstance.h"

#include "base/ByteOrder.h"

#include "app/CommandLine.h"
#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "base/Version.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ml {
namespace {

// How long one connection may take to deliver its request or to read its answer.
constexpr Millis ConnectionTimeout{3000};
constexpr std::size_t HeaderSize = 12;

void SetTimeouts(int fd, Millis timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Reads exactly n bytes; false on end of stream, error or timeout.
bool ReadExact(int fd, char* buf, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::recv(fd, buf, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    buf += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool WriteExact(int fd, const char* buf, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::send(fd, buf, n, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    buf += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool MakeAddress(const std::string& path, sockaddr_un& addr) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int Connect(const std::string& path, Millis timeout) {
  sockaddr_un addr;
  if (!MakeAddress(path, addr)) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  SetTimeouts(fd, timeout);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendRequest(int fd, uint32_t code, int32_t param, std::string_view data) {
  std::string msg(HeaderSize, '\0');
  StoreLE32(msg.data(), code);
  StoreLE32(msg.data() + 4, static_cast<uint32_t>(param));
  StoreLE32(msg.data() + 8, static_cast<uint32_t>(data.size()));
  msg += data;
  return WriteExact(fd, msg.data(), msg.size());
}

// The largest data a request of this code may carry; nullopt for unknown codes.
std::optional<std::size_t> MaxDataFor(uint32_t code) {
  switch (code) {
    case RequestCommandLine: return ForwardBufferSize;
    case RequestPresence:
    case RequestLookMailbox:
    case RequestActivate: return 0;
    default: return std::nullopt;
  }
}

}  // namespace

// --- TLockFile ---

TLockFile::TLockFile(std::string path) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) DebugTrace("cannot open lock file %s: %s", path_.c_str(), std::strerror(errno));
}

TLockFile::~TLockFile() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

bool TLockFile::TryLock(Millis timeout) {
  if (fd_ < 0) return false;
  if (held_) return true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return held_ = true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Millis(5));
  }
}

void TLockFile::Unlock() {
  if (fd_ >= 0 && held_) ::flock(fd_, LOCK_UN);
  held_ = false;
}

// --- TSingleInstance ---

std::string TSingleInstance::AppLockPath(const std::string& dir) { return WithTrailingSlash(dir) + "Lirra3Application.lock"; }
std::string TSingleInstance::MainFormLockPath(const std::string& dir) { return WithTrailingSlash(dir) + "MiniLirraMainForm.lock"; }
std::string TSingleInstance::SocketPath(const std::string& dir) { return WithTrailingSlash(dir) + "Lirra3Application.sock"; }

TSingleInstance::TSingleInstance(const std::string& runtimeDir)
    : appLock_(AppLockPath(runtimeDir)), mainFormLock_(MainFormLockPath(runtimeDir)),
      socketPath_(SocketPath(runtimeDir)) {}

// --- client ---

std::optional<int32_t> SendInstanceRequest(const std::string& socketPath, uint32_t code, int32_t param,
                                           std::string_view data, Millis timeout) {
  int fd = Connect(socketPath, timeout);
  if (fd < 0) return std::nullopt;
  std::optional<int32_t> result;
  char answer[4];
  if (SendRequest(fd, code, param, data) && ReadExact(fd, answer, sizeof answer))
    result = static_cast<int32_t>(LoadLE32(answer));
  ::close(fd);
  return result;
}

bool PostInstanceRequest(const std::string& socketPath, uint32_t code, Millis timeout) {
  int fd = Connect(socketPath, timeout);
  if (fd < 0) return false;
  bool ok = SendRequest(fd, code, 0, {});
  ::close(fd);
  return ok;
}

// --- server ---

TInstanceServer::TInstanceServer(std::string socketPath, Dispatcher& dispatcher, IInstanceRequests& handler)
    : path_(std::move(socketPath)),
      dispatcher_(dispatcher),
      handler_(handler),
      handlerAlive_(std::make_shared<IInstanceRequests*>(&handler)) {}

TInstanceServer::~TInstanceServer() { Stop(); }

bool TInstanceServer::Start(std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + " " + path_ + ": " + std::strerror(errno);
    if (listenFd_ >= 0) ::close(listenFd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
    return false;
  };
  if (Running()) return true;
  sockaddr_un addr;
  if (!MakeAddress(path_, addr)) {
    errno = ENAMETOOLONG;
    return fail("socket path too long:");
  }
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) return fail("cannot create socket");
  // Only the holder of the instance lock gets here, so a socket file left behind is a dead one.
  ::unlink(path_.c_str());
  // The folder is the user's own (0700); the mode is a second fence.
  mode_t old = ::umask(077);
  int rc = ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::umask(old);
  if (rc != 0) return fail("cannot bind");
  if (::listen(listenFd_, 16) != 0) return fail("cannot listen on");
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (wakeFd_ < 0) return fail("cannot create wake-up event for");
  stop_ = false;
  done_ = false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void TInstanceServer::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  // A request in progress may be waiting for this (the main) thread; keep its queue moving.
  while (!done_) {
    if (dispatcher_.IsMainThread()) dispatcher_.ProcessPending();
    std::this_thread::sleep_for(Millis(1));
  }
  thread_.join();
  ::close(listenFd_);
  ::close(wakeFd_);
  listenFd_ = wakeFd_ = -1;
  ::unlink(path_.c_str());
}

void TInstanceServer::Serve() {
  while (!stop_) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || stop_) break;
    if (!(fds[0].revents & POLLIN)) continue;
    // The listening socket does not block: a client gone between poll and accept costs nothing.
    // The connection itself blocks, bounded by its timeouts.
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    try {
      HandleClient(fd);
    } catch (...) {
      // A failing handler must not take the server down with it.
    }
    ::close(fd);
  }
  done_ = true;
}

void TInstanceServer::HandleClient(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != ::getuid()) {
    DebugTrace("instance request from another user refused");
    return;
  }
  SetTimeouts(fd, ConnectionTimeout);
  char header[HeaderSize];
  if (!ReadExact(fd, header, sizeof header)) return;
  const uint32_t code = LoadLE32(header);
  const int32_t param = static_cast<int32_t>(LoadLE32(header + 4));
  const uint32_t dataLen = LoadLE32(header + 8);
  auto maxData = MaxDataFor(code);
  if (!maxData || dataLen > *maxData) {
    DebugTrace("instance request %u with %u bytes refused", code, dataLen);
    return;
  }
  std::string data(dataLen, '\0');
  if (dataLen > 0 && !ReadExact(fd, data.data(), dataLen)) return;
  (void)param;  // the sender's version: every build since the query exists answers alike

  int32_t answer = 0;
  bool ran = false;
  switch (code) {
    case RequestActivate:
      dispatcher_.Post([handler = std::weak_ptr<IInstanceRequests*>(handlerAlive_)] {
        if (auto h = handler.lock()) (*h)->InstanceActivate();
      });
      return;
    case RequestPresence:
      ran = dispatcher_.Send([&] { handler_.InstanceActivate(); });
      answer = ProgramVersion;
      break;
    case RequestCommandLine: {
      auto args = DecodeForwardedArgs(data);
      if (!args) {
        DebugTrace("malformed command line hand-off refused");
        ran = true;
        break;  // answer 0: the sender learns it was not taken
      }
      ran = dispatcher_.Send([&] { handler_.InstanceCommandLine(*args); });
      answer = ProgramVersion;
      break;
    }
    case RequestLookMailbox:
      ran = dispatcher_.Send([&] { answer = handler_.InstanceLookMailbox(); });
      break;
  }
  if (!ran) return;  // shutting down: no answer, the sender sees the connection close
  char out[4];
  StoreLE32(out, static_cast<uint32_t>(answer));
  WriteExact(fd, out, sizeof out);
}

}  // namespace ml
