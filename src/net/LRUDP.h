#pragma once
// TLRUDP: the program's one UDP socket. Binds a local port (stepping up to the next free one when
// asked), receives on a listener thread of its own that wakes on poll() (an eventfd stops it),
// sends to IPv4 endpoints, and can route everything through a SOCKS5 proxy by UDP association.
// It knows nothing of envelopes; its owner is the UDP client.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/Socks5.h"
#include "base/Dispatcher.h"

namespace ml {

class ELRUDPError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "Socket error: <system text> (<code>), on API '<api>'".
std::string SocketErrorText(int code, const char* api);

class TLRUDP {
public:
  using TUDPReadEvent = std::function<void(TLRUDP& sender)>;
  using TUDPErrorEvent = std::function<void(TLRUDP& sender, const std::string& errorMessage)>;
  using TEndpoint = Socks5::TEndpoint;

  enum TProxyState : int { ProxyConnecting = 0, ProxyAssociated = 1, ProxyFailed = 2, ProxyNone = 3 };

  static constexpr int32_t DefaultBufferSize = 4088;
  // The socket's kernel buffers: bursts of replies must not be dropped by a small queue.
  static constexpr int KernelBufferBytes = 256 * 1024;
  static constexpr int DefaultProxyTimeoutMs = 5000;

  // The dispatcher (when given) is pumped while EstablishProxy waits on its main thread.
  explicit TLRUDP(Dispatcher* dispatcher = nullptr);
  ~TLRUDP();
  TLRUDP(const TLRUDP&) = delete;
  TLRUDP& operator=(const TLRUDP&) = delete;

  // Opening throws ELRUDPError ("监听的端口号为0!" for port 0, the socket error text otherwise);
  // closing never throws.
  void SetActive(bool value);
  bool Active() const { return active_.load(); }

  // Changing the port while active reopens on the new port; if that fails the old socket stays
  // open and the port stays as it was (the error is swallowed, as for any reopen).
  void SetDefaultPort(uint16_t value);
  uint16_t DefaultPort() const { return defaultPort_.load(); }
  void SetAutoIncPort(bool value) { autoIncPort_ = value; }
  bool AutoIncPort() const { return autoIncPort_; }
  void SetBufferSize(int32_t value) { bufferSize_ = value > 0 ? value : DefaultBufferSize; }
  int32_t BufferSize() const { return bufferSize_; }

  // Proxy settings: host is a dotted IPv4 address (no name resolution); an empty user means no
  // authentication. Take effect at the next EstablishProxy.
  void SetProxy(const std::string& host, uint16_t port, const std::string& user,
                const std::string& password);
  void SetProxyTimeout(int ms) { proxyTimeoutMs_ = ms > 0 ? ms : DefaultProxyTimeoutMs; }
  // Turning it on runs EstablishProxy at once (when active); turning it off drops the association.
  void SetProxyEnabled(bool value);
  bool ProxyEnabled() const { return proxyEnabled_.load(); }
  // True when the association stands. Waits at most the proxy time-out; on the dispatcher's main
  // thread it pumps the dispatcher meanwhile.
  bool EstablishProxy();
  int ProxyState() const { return proxyState_.load(); }
  TEndpoint RelayAddress() const;

  // ip in network byte order, port in host byte order. False when refused (address 0 or
  // 255.255.255.255, port 0, negative length, inactive) or when the socket failed.
  bool SendTo(uint32_t ip, uint16_t port, const void* data, int32_t length);
  // Reads one datagram of at most min(capacity, BufferSize) bytes. Returns its length, -1 on a
  // socket error, 0 for a datagram that is not for us: a proxy frame that is not a plain IPv4
  // datagram or does not come from the relay, or a datagram larger than the room given.
  int32_t ReceiveFrom(void* buffer, int32_t capacity, TEndpoint& from);
  // One datagram of a batch: Data has Capacity bytes of room; ReceiveBatch sets Length (0 for a
  // datagram that is not for us, as ReceiveFrom returns) and From.
  struct TDatagram {
    uint8_t* Data = nullptr;
    int32_t Capacity = 0;
    int32_t Length = 0;
    TEndpoint From;
  };
  static constexpr int MaxBatch = 64;
  // Reads up to count (at most MaxBatch) waiting datagrams in one system call (recvmmsg; through
  // the proxy one frame at a time, each unwrapped and checked as ReceiveFrom does). Returns how
  // many were read, -1 when none was waiting or the socket failed.
  int ReceiveBatch(TDatagram* batch, int count);
  // 0 after a successful send, else the errno of the last failed one (would-block excepted).
  int32_t SendErrorCode() const { return sendErrorCode_.load(); }

  // The events, raised on the listener thread. They may be set at any time, also while the
  // transport listens: the listener takes each handler as a whole, never half assigned.
  void SetOnUDPRead(TUDPReadEvent handler);
  void SetOnUDPError(TUDPErrorEvent handler);

private:
  int OpenSocket(uint16_t& port);  // returns the bound fd or throws
  void StartListener();
  void StopListener();
  void Listen();
  void CloseProxyControl();
  void ProxyConnect();
  void ReportError(const std::string& text);
  void ReportReceiveError(int err, const char* api);

  Dispatcher* dispatcher_;
  std::atomic<std::shared_ptr<const TUDPReadEvent>> onUDPRead_;
  std::atomic<std::shared_ptr<const TUDPErrorEvent>> onUDPError_;
  std::atomic<bool> active_{false};
  std::atomic<bool> proxyEnabled_{false};
  bool autoIncPort_ = false;
  std::atomic<uint16_t> defaultPort_{0};
  int32_t bufferSize_ = DefaultBufferSize;
  std::atomic<int32_t> sendErrorCode_{0};

  // Senders hold it shared, opening and closing exclusively, so a reopen never closes the socket
  // under a send in progress.
  mutable std::shared_mutex socketLock_;
  int fd_ = -1;
  int stopFd_ = -1;  // eventfd that wakes the listener to stop
  std::thread listener_;
  std::mutex frameMutex_;
  std::vector<uint8_t> frame_;  // a proxied frame as received, header and all

  mutable std::mutex proxyMutex_;
  std::condition_variable proxyChanged_;
  std::string proxyHost_, proxyUser_, proxyPassword_;
  uint16_t proxyPort_ = 0;
  int proxyTimeoutMs_ = DefaultProxyTimeoutMs;
  int controlFd_ = -1;
  TEndpoint relay_;
  std::atomic<int> proxyState_{ProxyNone};
  std::atomic<bool> proxyAbort_{false};
  std::thread proxyThread_;
  std::mutex establishMutex_;  // one EstablishProxy at a time
};

}  // namespace ml
