#include "net/LRUDPClient.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <typeinfo>

#include "base/DebugTrace.h"

namespace ml {
namespace {

int32_t RandomUserID() {
  std::random_device rd;
  std::uniform_int_distribution<int32_t> pick(10, 536870910);
  return pick(rd);
}

}  // namespace

TUDPWorkThread::TUDPWorkThread(TLRUDPClient& client, int index)
    : client_(client), index_(index), reply_(new uint8_t[ReplyBufferSize]()) {}

TLRUDPClient::TLRUDPClient(Dispatcher* dispatcher, const TClock* clock)
    : dispatcher_(dispatcher),
      clock_(clock ? clock : dispatcher ? &dispatcher->Clock() : &SteadyClock::Instance()),
      userID_(RandomUserID()),
      arrivalBytes_(new uint8_t[size_t(ArrivalBurst) * Envelope::MaxDatagram]),
      slots_(MaxSlots) {
  for (int i = 0; i < ArrivalBurst; ++i)
    arrivals_[i] = {arrivalBytes_.get() + size_t(i) * Envelope::MaxDatagram, int32_t(Envelope::MaxDatagram), 0, {}};
}

TLRUDPClient::~TLRUDPClient() { SetActive(false); }

void TLRUDPClient::Report(const std::string& text) {
  if (!OnUDPClientError) return;
  try {
    OnUDPClientError(*this, text);
  } catch (...) {
    // Diagnostics must never stop a worker or the listener.
  }
}

void TLRUDPClient::ReportException(const char* where, const char* className, const char* message) {
  char text[768];
  std::snprintf(text, sizeof text, "\"%s\" raised exception class [%s] with message \"%s\"", where,
                className, message);
  Report(text);
}

void TLRUDPClient::SetDefaultPort(int32_t value) {
  if (active_ || value < 0 || value > 65535) return;
  defaultPort_ = value;
}

bool TLRUDPClient::MoveToPort(uint16_t port) {
  std::lock_guard lock(activeMutex_);
  if (!active_ || !transport_) return false;
  const int32_t before = defaultPort_;
  transport_->SetDefaultPort(port);
  defaultPort_ = transport_->DefaultPort();
  // The transport may have stepped past a port in use.
  return defaultPort_ == port || defaultPort_ != before;
}

void TLRUDPClient::SetMaxBufferCount(int32_t value) {
  if (value >= 1 && value <= 65536) maxBufferCount_ = value;
}

void TLRUDPClient::SetWorkThreadCount(int32_t value) {
  if (active_ || value < 1 || value > 999) return;
  workThreadCount_ = value;
}

void TLRUDPClient::SetProxy(const std::string& host, uint16_t port, const std::string& user,
                            const std::string& password, int timeoutMs) {
  std::unique_lock lock(transportLock_);
  proxyHost_ = host;
  proxyPort_ = port;
  proxyUser_ = user;
  proxyPassword_ = password;
  proxyTimeoutMs_ = timeoutMs;
  if (transport_) {
    transport_->SetProxy(host, port, user, password);
    transport_->SetProxyTimeout(timeoutMs);
  }
}

bool TLRUDPClient::SetProxyEnabled(bool value) {
  proxyEnabled_ = value;
  std::shared_lock lock(transportLock_);
  if (!transport_) return !value;
  transport_->SetProxyEnabled(value);
  return !value || transport_->ProxyState() == TLRUDP::ProxyAssociated;
}

bool TLRUDPClient::SetActive(bool value) {
  std::lock_guard lock(activeMutex_);
  if (value == active_.load()) return true;
  if (value) {
    OpenClient();
    return active_.load();
  }
  CloseClient();
  return true;
}

void TLRUDPClient::OpenClient() {
  receivedBytes_ = 0;
  receivedDatagrams_ = 0;
  std::unique_ptr<TPointerQueue> queue;
  std::unique_ptr<TStaticMemoryManager> pool;
  try {
    queue = std::make_unique<TPointerQueue>(size_t(maxBufferCount_));
    // Every worker may hold one block and the listener one more while the queue is full, so the
    // queue, not the pool, is what limits the backlog.
    pool = std::make_unique<TStaticMemoryManager>(size_t(maxBufferCount_ + workThreadCount_ + 1));
  } catch (const std::exception& e) {
    ReportException("TLRUDPClient.OpenUDPClient", typeid(e).name(), e.what());
    return;
  }
  auto transport = std::make_unique<TLRUDP>(dispatcher_);
  transport->SetAutoIncPort(autoIncPort_);
  transport->SetDefaultPort(uint16_t(defaultPort_.load()));
  transport->SetOnUDPRead([this](TLRUDP& t) { OnArrival(t); });
  transport->SetOnUDPError([this](TLRUDP&, const std::string& text) { Report(text); });
  {
    std::shared_lock lock(transportLock_);
    transport->SetProxy(proxyHost_, proxyPort_, proxyUser_, proxyPassword_);
    transport->SetProxyTimeout(proxyTimeoutMs_);
  }
  {
    std::unique_lock lock(transportLock_);
    queue_ = std::move(queue);
    pool_ = std::move(pool);
    transport_ = std::move(transport);
  }
  try {
    transport_->SetActive(true);
  } catch (const std::exception& e) {
    ReportException("TLRUDPClient.OpenUDPClient", typeid(e).name(), e.what());
    std::unique_lock lock(transportLock_);
    transport_.reset();
    queue_.reset();
    pool_.reset();
    return;
  }
  defaultPort_ = transport_->DefaultPort();
  stopWorkers_ = false;
  queue_->Reopen();
  for (int i = 0; i < workThreadCount_; ++i) {
    auto worker = std::unique_ptr<TUDPWorkThread>(new TUDPWorkThread(*this, i));
    TUDPWorkThread& w = *worker;
    workers_.push_back(std::move(worker));
    w.thread_ = std::thread([this, &w] { WorkerLoop(w); });
  }
  active_ = true;
  // The association needs the socket, so it follows the opening.
  if (proxyEnabled_) transport_->SetProxyEnabled(true);
}

void TLRUDPClient::CloseClient() {
  // A worker or the listener cannot wait for itself: closing from a handler is a bug.
  for (auto& w : workers_)
    if (w->thread_.get_id() == std::this_thread::get_id())
      throw std::logic_error("TLRUDPClient closed from its own worker thread");
  active_ = false;
  {
    std::lock_guard lock(waitMutex_);
  }
  replied_.notify_all();
  if (dispatcher_) dispatcher_->Post([] {});
  try {
    // The listener stops first, so nothing new is queued while the workers wind down.
    transport_->SetActive(false);
    stopWorkers_ = true;
    queue_->Close();
    for (auto& w : workers_)
      if (w->thread_.joinable()) w->thread_.join();
    workers_.clear();
    std::unique_lock lock(transportLock_);
    transport_.reset();
    queue_.reset();
    pool_.reset();
  } catch (const std::exception& e) {
    ReportException("TLRUDPClient.CloseUDPClient", typeid(e).name(), e.what());
  }
}

int32_t TLRUDPClient::NextSerial(bool wrap) {
  const uint32_t v = serial_.fetch_add(1) + 1;
  if (wrap) return int32_t((v - 1) % 999 + 1);
  return int32_t(v);
}

int32_t TLRUDPClient::QueueCount() const {
  std::shared_lock lock(transportLock_);
  return queue_ ? int32_t(queue_->Count()) : 0;
}

size_t TLRUDPClient::WaitRecordCount() {
  std::lock_guard lock(waitMutex_);
  return records_.size();
}

// ---- receiving -----------------------------------------------------------------------------

void TLRUDPClient::OnArrival(TLRUDP& transport) {
  // One system call reads a burst of datagrams rather than one: a poll and a read per datagram
  // halve the rate the listener can take. The bound keeps a flood from starving the stop signal.
  // A datagram longer than any of ours is cut by the kernel and comes back empty.
  const int n = transport.ReceiveBatch(arrivals_, ArrivalBurst);
  if (n < 0) return;  // empty (or failed): back to poll
  transferCount_ = 0;
  for (int i = 0; i < n; ++i) {
    receivedDatagrams_++;
    TakeArrival(transport, arrivals_[i].Data, arrivals_[i].Length, arrivals_[i].From);
  }
  if (transferCount_ > 0) TransferData({transfers_, size_t(transferCount_)});
}

void TLRUDPClient::TakeArrival(TLRUDP& transport, uint8_t* data, int32_t n, const TLRUDP::TEndpoint& from) {
  if (n < int32_t(Envelope::MinDatagram) || n > int32_t(Envelope::MaxDatagram)) return;
  switch (data[0]) {
    case Envelope::TransferData:
      if (CheckTransferData(data, size_t(n)))
        transfers_[transferCount_++] = {data + Envelope::TransferHeader, n - int32_t(Envelope::TransferHeader),
                                        from.IP, from.Port};
      return;
    case Envelope::LoadProbe: {
      // Only the first 17 bytes are echoed; a shorter probe has nothing to echo.
      if (n < int32_t(Envelope::LoadProbeMinimum)) return;
      StoreLE16(data + 17, uint16_t(std::min<size_t>(queue_->Count(), 0xFFFF)));
      StoreLE16(data + 19, 0);
      transport.SendTo(from.IP, from.Port, data, int32_t(Envelope::LoadProbeAnswer));
      return;
    }
    case Envelope::Ignored: return;
    default: break;
  }
  if (armed_.load() > 0) {
    // Somebody waits: open a copy here and hand a reply straight to its waiter, saving the hop
    // through a worker on every round trip. Opening is a bounded pass over at most 1460 bytes.
    // What does not open is dropped now; messages still go to the workers, untouched.
    std::memcpy(replyScratch_, data, size_t(n));
    TOpenedEnvelope env;
    if (!OpenEnvelope(replyScratch_, size_t(n), env)) return;
    if (TakeReply(env, from.IP, from.Port)) return;
  }
  auto* block = static_cast<TUDPBlock*>(pool_->GetMem());
  if (!block) {
    Report("GetMem faild!");
    return;
  }
  block->PeerIP = from.IP;
  block->PeerPort = from.Port;
  block->Length = uint16_t(n);
  std::memcpy(block->Data, data, size_t(n));
  if (!queue_->Push(block)) {
    if (!pool_->FreeMem(block)) Report("FreeMem error");
    Report("InsertNode faild!");
    return;
  }
  receivedBytes_ += uint64_t(n);
}

void TLRUDPClient::WorkerLoop(TUDPWorkThread& worker) {
  while (!stopWorkers_) {
    void* p = queue_->PopWait(std::chrono::milliseconds(200));
    if (!p) continue;
    try {
      Deliver(worker, *static_cast<TUDPBlock*>(p));
    } catch (const std::exception& e) {
      ReportException("TUDPWorkThread.Execute", typeid(e).name(), e.what());
    } catch (...) {
      ReportException("TUDPWorkThread.Execute", "unknown", "unknown");
    }
    if (!pool_->FreeMem(p)) Report("FreeMem error");
  }
}

void TLRUDPClient::TransferData(std::span<const TTransferDatagram> batch) {
  if (!OnTransferData) return;
  try {
    OnTransferData(*this, batch);
  } catch (const std::exception& e) {
    ReportException("DoUDPClientFTPData", typeid(e).name(), e.what());
  } catch (...) {
    ReportException("DoUDPClientFTPData", "unknown", "unknown");
  }
}

bool TLRUDPClient::FillWaiter(Waiter& w, const TOpenedEnvelope& env, uint32_t ip, uint16_t port) {
  // Only the party the request went to may answer it, the first answer wins, and a reserved
  // waiter without its buffer yet takes nothing.
  if (!w.armed || !w.buffer || w.length > 0 || w.ip != ip || w.port != port) return false;
  const size_t take = std::min(env.PayloadLength, size_t(w.capacity));
  std::memmove(w.buffer, env.Payload, take);
  w.length = int32_t(take);
  w.lastUse = NowMs();
  if (debug_ && DebugTraceEnabled()) DebugTrace("Recv SerialID=%d", w.serial);
  return true;
}

bool TLRUDPClient::TakeReply(const TOpenedEnvelope& env, uint32_t ip, uint16_t port) {
  // A reply to us carries our UserID and a serial; serial 0 is a message, as is anything with
  // another UserID.
  if (env.Guid.UserID != userID_.load() || env.Guid.SerialID == 0) return false;
  const int32_t serial = env.Guid.SerialID;
  const bool records = env.Kind == Envelope::Table || env.Kind == Envelope::Plain;
  // Keyed, trailer and bare replies are matched in the slot table, which ends at 999.
  if (!records && (serial < 1 || serial > Envelope::MaxSlotSerial)) return true;
  bool woke = false, pumping = false;
  {
    std::lock_guard lock(waitMutex_);
    Waiter* w = nullptr;
    if (records) {
      for (auto& r : records_)
        if (r.armed && r.serial == serial) {
          w = &r;
          break;
        }
    } else {
      w = &slots_[size_t(serial)];
    }
    if (w) {
      woke = FillWaiter(*w, env, ip, port);
      pumping = w->pumping;
    }
  }
  if (woke) {
    replied_.notify_all();
    if (pumping && dispatcher_) dispatcher_->Post([] {});
  }
  return true;
}

void TLRUDPClient::Deliver(TUDPWorkThread& worker, TUDPBlock& block) {
  TOpenedEnvelope env;
  if (!OpenEnvelope(block.Data, block.Length, env)) return;
  worker.currentKind_ = env.Kind;
  if (env.Kind == Envelope::TransferData) {
    const TTransferDatagram one{env.Payload, int32_t(env.PayloadLength), block.PeerIP, block.PeerPort};
    TransferData({&one, 1});
    return;
  }
  if (TakeReply(env, block.PeerIP, block.PeerPort)) return;
  ReadEvent(worker, env, block.PeerIP, block.PeerPort);
}

void TLRUDPClient::ReadEvent(TUDPWorkThread& worker, const TOpenedEnvelope& env, uint32_t ip,
                             uint16_t port) {
  if (!OnUDPClientRead) return;
  TLRGUID guid = env.Guid;
  int32_t replyLength = 0;
  OnUDPClientRead(worker, env.Payload, int32_t(env.PayloadLength), ip, port, guid,
                  worker.reply_.get(), replyLength);
  if (replyLength <= 0) return;
  replyLength = std::min(replyLength, TUDPWorkThread::ReplyBufferSize);
  // Trailer and bare messages are answered in a trailer envelope.
  const uint8_t kind = (env.Kind == Envelope::Keyed || env.Kind == Envelope::Table ||
                        env.Kind == Envelope::Plain)
                           ? env.Kind
                           : Envelope::Trailer;
  // The handler decides the pair, including a UserID of 0: send it as it stands.
  uint8_t datagram[Envelope::MaxDatagram];
  const size_t n = BuildReply(kind, datagram, sizeof datagram, guid, worker.reply_.get(), size_t(replyLength));
  if (n == 0) {
    Report("reply too long for its envelope");
    return;
  }
  std::shared_lock lock(transportLock_);
  if (transport_) transport_->SendTo(ip, port, datagram, int32_t(n));
}

// ---- sending -------------------------------------------------------------------------------

bool TLRUDPClient::SendEnvelope(uint8_t kind, uint32_t ip, uint16_t port, TLRGUID guid,
                                int32_t length, const void* data) {
  if (!active_ || !data || length <= 0) return false;
  if (guid.UserID == 0) guid.UserID = userID_.load();
  uint8_t datagram[Envelope::MaxDatagram];
  const size_t n = BuildReply(kind, datagram, sizeof datagram, guid, data, size_t(length));
  if (n == 0) return false;
  std::shared_lock lock(transportLock_);
  return transport_ && transport_->SendTo(ip, port, datagram, int32_t(n));
}

bool TLRUDPClient::SendKeyed(uint32_t ip, uint16_t port, int32_t userID, int32_t serialID,
                             int32_t length, const void* data) {
  return SendEnvelope(Envelope::Keyed, ip, port, {userID, serialID}, length, data);
}

bool TLRUDPClient::SendTable(uint32_t ip, uint16_t port, int32_t userID, int32_t serialID,
                             int32_t length, const void* data) {
  return SendEnvelope(Envelope::Table, ip, port, {userID, serialID}, length, data);
}

bool TLRUDPClient::SendPlain(uint32_t ip, uint16_t port, int32_t userID, int32_t serialID,
                             int32_t length, const void* data) {
  return SendEnvelope(Envelope::Plain, ip, port, {userID, serialID}, length, data);
}

bool TLRUDPClient::SendTrailer(uint32_t ip, uint16_t port, int32_t userID, int32_t serialID,
                               int32_t length, const void* data) {
  return SendEnvelope(Envelope::Trailer, ip, port, {userID, serialID}, length, data);
}

bool TLRUDPClient::SendRaw(uint32_t ip, uint16_t port, int32_t length, const void* data) {
  if (!active_ || ip == 0 || !data || length <= 0 || length > int32_t(Envelope::MaxDatagram))
    return false;
  std::shared_lock lock(transportLock_);
  return transport_ && transport_->SendTo(ip, port, data, length);
}

bool TLRUDPClient::OnMainThread() const { return dispatcher_ && dispatcher_->IsMainThread(); }

void TLRUDPClient::CancelWaits() {
  {
    // Under the lock, so that a waiter between its check and its sleep cannot miss the wake.
    std::lock_guard lock(waitMutex_);
    waitsCancelled_ = true;
  }
  replied_.notify_all();
}

bool TLRUDPClient::WaitFor(Waiter& w, int64_t deadline) {
  const auto answered = [&] { return w.length > 0; };
  const auto giveUp = [&] {
    return !active_ || waitsCancelled_ || (dispatcher_ && dispatcher_->ShuttingDown());
  };
  if (OnMainThread()) {
    dispatcher_->WaitPumping(
        [&] {
          std::lock_guard lock(waitMutex_);
          return answered() || giveUp();
        },
        Millis(std::max<int64_t>(deadline - NowMs(), 0)));
    std::lock_guard lock(waitMutex_);
    return answered();
  }
  std::unique_lock lock(waitMutex_);
  for (;;) {
    if (answered()) return true;
    const int64_t left = deadline - NowMs();
    if (left <= 0 || giveUp()) return false;
    // A manual clock moves only when a test moves it: look again every few milliseconds.
    const int64_t slice = clock_->IsManual() ? std::min<int64_t>(left, 2) : left;
    replied_.wait_for(lock, std::chrono::milliseconds(slice));
  }
}

bool TLRUDPClient::SendWait(uint32_t ip, uint16_t port, bool /*clearSlot*/, int32_t timeoutMs,
                            int32_t serialID, int32_t& replyLength, uint8_t* replyBuffer,
                            int32_t replyCapacity, int32_t length, const void* data) {
  replyLength = 0;
  if (!active_ || !data || length <= 0 || !replyBuffer || replyCapacity <= 0) return false;
  // Data and replyBuffer are often the same buffer: the envelope is built from the request before
  // the slot is armed, so a reply can never overwrite a request not yet sent.
  uint8_t datagram[Envelope::MaxDatagram];
  int32_t serial = 0;
  {
    std::lock_guard lock(waitMutex_);
    if (serialID >= 1 && serialID <= Envelope::MaxSlotSerial) {
      if (slots_[size_t(serialID)].armed) return false;
      serial = serialID;
    } else {
      for (int tries = 0; tries < Envelope::MaxSlotSerial && serial == 0; ++tries) {
        const int32_t s = NextSerial(true);
        if (!slots_[size_t(s)].armed) serial = s;
      }
      if (serial == 0) return false;
    }
    slots_[size_t(serial)] = Waiter{serial, true, nullptr, 0, 0, ip, port, OnMainThread(), NowMs()};
    armed_++;
  }
  Waiter& slot = slots_[size_t(serial)];
  const size_t n = BuildKeyed(datagram, sizeof datagram, {userID_.load(), serial}, data, size_t(length));
  {
    std::lock_guard lock(waitMutex_);
    if (n == 0) {
      slot = Waiter{};
      armed_--;
      return false;
    }
    slot.buffer = replyBuffer;
    slot.capacity = replyCapacity;
  }
  if (debug_ && DebugTraceEnabled()) DebugTrace("SendWait SerialID=%d", serial);
  // The time-out counts from the moment the request leaves.
  const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
  bool sent;
  {
    std::shared_lock lock(transportLock_);
    sent = transport_ && transport_->SendTo(ip, port, datagram, int32_t(n));
  }
  const bool ok = sent && WaitFor(slot, deadline);
  std::lock_guard lock(waitMutex_);
  if (ok) replyLength = slot.length;
  slot = Waiter{};
  armed_--;
  return ok;
}

bool TLRUDPClient::SendWaitRecord(uint8_t kind, uint32_t ip, uint16_t port, int32_t timeoutMs,
                                  int32_t serialID, int32_t& replyLength, uint8_t* replyBuffer,
                                  int32_t replyCapacity, int32_t length, const void* data) {
  replyLength = 0;
  if (!active_ || !data || length <= 0 || !replyBuffer || replyCapacity <= 0) return false;
  uint8_t datagram[Envelope::MaxDatagram];
  Waiter* record = nullptr;
  {
    std::lock_guard lock(waitMutex_);
    const auto held = [&](int32_t s) {
      return std::any_of(records_.begin(), records_.end(),
                         [&](const Waiter& r) { return r.armed && r.serial == s; });
    };
    int32_t serial = 0;
    if (serialID >= 1 && serialID <= Envelope::MaxSlotSerial) {
      if (held(serialID)) return false;
      serial = serialID;
    } else {
      do serial = NextSerial(false);
      while (serial == 0 || held(serial));
    }
    for (auto& r : records_)
      if (!r.armed) {
        record = &r;
        break;
      }
    if (!record) record = &records_.emplace_back();
    *record = Waiter{serial, true, nullptr, 0, 0, ip, port, OnMainThread(), NowMs()};
    armed_++;
  }
  const size_t n = BuildReply(kind, datagram, sizeof datagram, {userID_.load(), record->serial},
                              data, size_t(length));
  {
    std::lock_guard lock(waitMutex_);
    if (n == 0) {
      *record = Waiter{0, false, nullptr, 0, 0, 0, 0, false, NowMs()};
      armed_--;
      return false;
    }
    record->buffer = replyBuffer;
    record->capacity = replyCapacity;
  }
  const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
  bool sent;
  {
    std::shared_lock lock(transportLock_);
    sent = transport_ && transport_->SendTo(ip, port, datagram, int32_t(n));
  }
  const bool ok = sent && WaitFor(*record, deadline);
  std::lock_guard lock(waitMutex_);
  if (ok) replyLength = record->length;
  *record = Waiter{0, false, nullptr, 0, 0, 0, 0, false, NowMs()};
  armed_--;
  return ok;
}

bool TLRUDPClient::SendWaitTable(uint32_t ip, uint16_t port, int32_t timeoutMs, int32_t serialID,
                                 int32_t& replyLength, uint8_t* replyBuffer, int32_t replyCapacity,
                                 int32_t length, const void* data) {
  return SendWaitRecord(Envelope::Table, ip, port, timeoutMs, serialID, replyLength, replyBuffer,
                        replyCapacity, length, data);
}

bool TLRUDPClient::SendWaitPlain(uint32_t ip, uint16_t port, int32_t timeoutMs, int32_t serialID,
                                 int32_t& replyLength, uint8_t* replyBuffer, int32_t replyCapacity,
                                 int32_t length, const void* data) {
  return SendWaitRecord(Envelope::Plain, ip, port, timeoutMs, serialID, replyLength, replyBuffer,
                        replyCapacity, length, data);
}

}  // namespace ml
