#pragma once
// TLRUDPClient: the request/response layer over TLRUDP. Received datagrams are queued in a fixed
// pool and opened by worker threads; replies that somebody waits for are matched by SerialID (a
// fixed slot table for keyed envelopes, wait records for table and plain ones); everything else
// goes to OnUDPClientRead, whose handler may answer in place. A server uses the same class: its
// handlers answer requests through the reply buffer.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "net/LRCmdStream.h"
#include "net/LREncrypt.h"
#include "net/LRQueues.h"
#include "net/LRUDP.h"
#include "base/Dispatcher.h"

namespace ml {

class TLRUDPClient;

// One worker: opens envelopes and runs the read event. Handlers get it as their sender.
class TUDPWorkThread {
public:
  static constexpr int32_t ReplyBufferSize = 46720;

  int Index() const { return index_; }
  // The worker's own stream, free for the read handler to use.
  TCmdStream& Stream() { return stream_; }
  // Envelope kind of the message being delivered (57 for trailer, the bare kind byte for bare).
  uint8_t CurrentKind() const { return currentKind_; }
  TLRUDPClient& Client() const { return client_; }

private:
  friend class TLRUDPClient;
  TUDPWorkThread(TLRUDPClient& client, int index);
  TLRUDPClient& client_;
  int index_;
  TCmdStream stream_;
  uint8_t currentKind_ = 0;
  std::unique_ptr<uint8_t[]> reply_;
  std::thread thread_;
};

class TLRUDPClient {
public:
  // peerIP in network byte order, peerPort in host byte order. The handler may change guid and
  // fill replyBuffer (ReplyBufferSize bytes): a replyLength above 0 sends that many bytes back to
  // the peer with guid, in the envelope kind of the message.
  using TUDPClientReadEvent =
      std::function<void(TUDPWorkThread& sender, const uint8_t* buffer, int32_t bufferLength,
                         uint32_t peerIP, uint16_t peerPort, TLRGUID& guid, uint8_t* replyBuffer,
                         int32_t& replyLength)>;
  using TLRErrorNotifyEvent = std::function<void(TLRUDPClient& sender, const std::string& errorMessage)>;
  // Transfer data (kind 50) with a good checksum, on the listener thread: the data after the
  // 5-byte header, every such datagram of one read of the socket together (so that the handler
  // can write runs of blocks at once and wake its worker once). The bytes live until it returns.
  struct TTransferDatagram {
    const uint8_t* Data = nullptr;
    int32_t Length = 0;
    uint32_t PeerIP = 0;
    uint16_t PeerPort = 0;
  };
  using TTransferDataEvent = std::function<void(TLRUDPClient& sender, std::span<const TTransferDatagram> batch)>;

  static constexpr int32_t MaxSlots = 1000;
  // Datagrams read from the socket per wake-up of the listener, in one system call.
  static constexpr int ArrivalBurst = TLRUDP::MaxBatch;

  // Waits on the dispatcher's main thread pump it; all time-outs run on clock (default: the
  // dispatcher's clock, else the steady clock). Both must outlive the client.
  explicit TLRUDPClient(Dispatcher* dispatcher = MainDispatcher(), const TClock* clock = nullptr);
  ~TLRUDPClient();
  TLRUDPClient(const TLRUDPClient&) = delete;
  TLRUDPClient& operator=(const TLRUDPClient&) = delete;

  // Opening builds the queue, the pool, the transport and the workers. When the transport cannot
  // open, the failure goes to OnUDPClientError and the client stays inactive (returns false).
  bool SetActive(bool value);
  bool Active() const { return active_.load(); }
  // The program is closing: every wait for an answer, now and later, ends at once unanswered, so
  // a login in its retries or a search does not hold up the exit for its timeouts.
  void CancelWaits();

  int32_t UserID() const { return userID_.load(); }
  void SetUserID(int32_t value) { userID_ = value; }
  // Ignored while active; after opening, the port actually bound.
  void SetDefaultPort(int32_t value);
  int32_t DefaultPort() const { return defaultPort_.load(); }
  // Moves the open transport to another local port (the login's last tries do, in case a firewall
  // or a stale mapping eats the datagrams of the old one). Never overlaps an opening or a closing,
  // so a close in the meantime is safe; false when inactive or no port could be bound (the old
  // one is then kept). DefaultPort tells the port bound.
  bool MoveToPort(uint16_t port);
  // Step to the next free port when DefaultPort is taken (on by default; a server turns it off).
  void SetAutoIncPort(bool value) { autoIncPort_ = value; }
  // Takes effect at the next opening; 1..65536.
  void SetMaxBufferCount(int32_t value);
  int32_t MaxBufferCount() const { return maxBufferCount_; }
  // Taken only when 1..999 and the client is inactive.
  void SetWorkThreadCount(int32_t value);
  int32_t WorkThreadCount() const { return workThreadCount_; }
  void SetDebug(bool value) { debug_ = value; }
  // Proxy settings for the transport: applied at opening and by SetProxyEnabled.
  void SetProxy(const std::string& host, uint16_t port, const std::string& user,
                const std::string& password, int timeoutMs = TLRUDP::DefaultProxyTimeoutMs);
  // Returns whether the association stands (true when turning it off).
  bool SetProxyEnabled(bool value);
  bool ProxyEnabled() const { return proxyEnabled_.load(); }

  // 1..999 with wrap, else the raw counter.
  int32_t NextSerial(bool wrap);

  // Fire-and-forget. userID 0 means our own. False when inactive, data missing, length not
  // positive or too long for the envelope, or the transport refused it.
  bool SendKeyed(uint32_t ip, uint16_t port, int32_t userID, int32_t serialID, int32_t length, const void* data);
  bool SendTable(uint32_t ip, uint16_t port, int32_t userID, int32_t serialID, int32_t length, const void* data);
  bool SendPlain(uint32_t ip, uint16_t port, int32_t userID, int32_t serialID, int32_t length, const void* data);
  bool SendTrailer(uint32_t ip, uint16_t port, int32_t userID, int32_t serialID, int32_t length, const void* data);
  bool SendRaw(uint32_t ip, uint16_t port, int32_t length, const void* data);

  // Send-and-wait: true when a reply came from ip:port within timeoutMs. The reply (at most
  // replyCapacity bytes of it) replaces replyBuffer's contents; replyLength is 0 until then.
  // serialID 1..999 is used as given (refused if another wait holds it); anything else picks one.
  // Arming always starts from an empty slot, so clearSlot is kept only for its callers' sake.
  bool SendWait(uint32_t ip, uint16_t port, bool clearSlot, int32_t timeoutMs, int32_t serialID,
                int32_t& replyLength, uint8_t* replyBuffer, int32_t replyCapacity, int32_t length,
                const void* data);
  bool SendWaitTable(uint32_t ip, uint16_t port, int32_t timeoutMs, int32_t serialID,
                     int32_t& replyLength, uint8_t* replyBuffer, int32_t replyCapacity,
                     int32_t length, const void* data);
  bool SendWaitPlain(uint32_t ip, uint16_t port, int32_t timeoutMs, int32_t serialID,
                     int32_t& replyLength, uint8_t* replyBuffer, int32_t replyCapacity,
                     int32_t length, const void* data);

  int32_t QueueCount() const;
  // Wait records allocated so far (they are reused, and freed with the client).
  size_t WaitRecordCount();
  // Datagrams the listener has read, whatever became of them.
  uint64_t ReceivedDatagrams() const { return receivedDatagrams_.load(); }
  uint64_t ReceivedBytes() const { return receivedBytes_.load(); }
  // The transport while active (for its SendErrorCode and proxy state); null otherwise.
  TLRUDP* Transport() { return transport_.get(); }

  TUDPClientReadEvent OnUDPClientRead;
  TLRErrorNotifyEvent OnUDPClientError;
  TTransferDataEvent OnTransferData;

private:
  friend class TUDPWorkThread;
  struct Waiter {
    int32_t serial = 0;
    bool armed = false;
    uint8_t* buffer = nullptr;
    int32_t capacity = 0;
    int32_t length = 0;
    uint32_t ip = 0;
    uint16_t port = 0;
    bool pumping = false;  // the waiter sleeps inside the dispatcher
    int64_t lastUse = 0;
  };

  void OpenClient();
  void CloseClient();
  void OnArrival(TLRUDP& transport);
  // Handles one datagram of a burst; transfer data is kept in transfers_ for the burst's end.
  void TakeArrival(TLRUDP& transport, uint8_t* data, int32_t length, const TLRUDP::TEndpoint& from);
  void WorkerLoop(TUDPWorkThread& worker);
  void Deliver(TUDPWorkThread& worker, TUDPBlock& block);
  // True when env was addressed to one of our waiters (taken, or dropped as stale or foreign).
  bool TakeReply(const TOpenedEnvelope& env, uint32_t ip, uint16_t port);
  void ReadEvent(TUDPWorkThread& worker, const TOpenedEnvelope& env, uint32_t ip, uint16_t port);
  void TransferData(std::span<const TTransferDatagram> batch);
  bool FillWaiter(Waiter& w, const TOpenedEnvelope& env, uint32_t ip, uint16_t port);
  bool SendEnvelope(uint8_t kind, uint32_t ip, uint16_t port, TLRGUID guid, int32_t length, const void* data);
  bool SendWaitRecord(uint8_t kind, uint32_t ip, uint16_t port, int32_t timeoutMs, int32_t serialID,
                      int32_t& replyLength, uint8_t* replyBuffer, int32_t replyCapacity,
                      int32_t length, const void* data);
  bool WaitFor(Waiter& w, int64_t deadline);
  bool OnMainThread() const;
  void Report(const std::string& text);
  void ReportException(const char* where, const char* className, const char* message);
  int64_t NowMs() const { return clock_->Now().count(); }

  Dispatcher* dispatcher_;
  const TClock* clock_;
  std::atomic<bool> active_{false};
  std::atomic<bool> waitsCancelled_{false};
  std::atomic<int32_t> userID_;
  std::atomic<int32_t> defaultPort_{7000};
  bool autoIncPort_ = true;
  int32_t maxBufferCount_ = 256;
  int32_t workThreadCount_ = 5;
  std::atomic<bool> debug_{false};
  std::atomic<bool> proxyEnabled_{false};
  std::string proxyHost_, proxyUser_, proxyPassword_;
  uint16_t proxyPort_ = 0;
  int proxyTimeoutMs_ = TLRUDP::DefaultProxyTimeoutMs;
  std::atomic<uint32_t> serial_{0};
  std::atomic<uint64_t> receivedBytes_{0};
  std::atomic<uint64_t> receivedDatagrams_{0};
  std::mutex activeMutex_;  // one open or close at a time

  // Senders hold it shared while they use the transport; closing frees it exclusively.
  mutable std::shared_mutex transportLock_;
  std::unique_ptr<TLRUDP> transport_;
  std::unique_ptr<TPointerQueue> queue_;
  std::unique_ptr<TStaticMemoryManager> pool_;
  std::vector<std::unique_ptr<TUDPWorkThread>> workers_;
  std::atomic<bool> stopWorkers_{false};
  // The listener's receive buffers: ArrivalBurst datagrams of the largest size we take.
  std::unique_ptr<uint8_t[]> arrivalBytes_;
  TLRUDP::TDatagram arrivals_[ArrivalBurst];
  TTransferDatagram transfers_[ArrivalBurst];  // the burst's transfer data
  int transferCount_ = 0;
  uint8_t replyScratch_[Envelope::MaxDatagram];  // the listener's copy for opening replies

  // Guards the slot table and the wait records; held only to read or write them.
  std::mutex waitMutex_;
  std::condition_variable replied_;
  std::vector<Waiter> slots_;
  std::atomic<int> armed_{0};  // waiters armed right now, slots and records together
  std::deque<Waiter> records_;  // a deque keeps references stable as it grows
};

}  // namespace ml
