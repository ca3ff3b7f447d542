#pragma once
// The one table that sends every message the UDP client does not match to a waiter (its read
// event) to the part of the program that owns its command code. The owners connect themselves
// with Route before Attach; the table is fixed from then on, so the workers (several at once)
// read it without a lock. Three rows belong to the router itself: the network-type result (39),
// the service's presence check (49, answered in place) and a peer's presence answer (15).
//
// A handler runs on a UDP worker. One that must reach the main thread (the search view with its
// result parts) does so with a synchronous Dispatcher::Send, so the worker's buffer stays valid
// while the main thread reads it and the next part waits its turn:
//   router.Route(Cmd::Search, [&](auto&, const uint8_t* buf, int32_t len, auto...) {
//     dispatcher.Send([&] { view.TakePart(buf, len); });
//   });
// Send returns false without running the call once shutdown has begun, so a worker never waits
// for a main thread that is joining it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <unordered_map>

#include "net/LRUDPClient.h"

namespace ml {

class TUserInfo;

class TUDPMessageRouter {
public:
  using THandler = TLRUDPClient::TUDPClientReadEvent;  // same arguments as the read event

  TUDPMessageRouter(TLRUDPClient& udp, TUserInfo& user);
  ~TUDPMessageRouter();
  TUDPMessageRouter(const TUDPMessageRouter&) = delete;
  TUDPMessageRouter& operator=(const TUDPMessageRouter&) = delete;

  // Connects the owner of a command (search 14, lyrics 29/30, playlists 8/9, transfers 18, 28,
  // 36, 42, 50-53, 257, 265). Before Attach only; a second owner for a code, a code the router
  // answers itself, or a call after Attach is a programming error (std::logic_error).
  void Route(uint16_t code, THandler handler);
  // Becomes the client's OnUDPClientRead / gives it back. While the client is inactive: the
  // client reads the event without a lock.
  void Attach();
  void Detach();
  // The client it routes for: an owner connecting its routes also sets the client's data event
  // (transfer packets) there, while the client is still closed.
  TLRUDPClient& Client() { return udp_; }

  // Runs the row of the message's command (its first word); unrouted commands and messages
  // shorter than a code are ignored. What Attach installs; public for the tests.
  void Dispatch(TUDPWorkThread& sender, const uint8_t* buffer, int32_t bufferLength, uint32_t peerIP,
                uint16_t peerPort, TLRGUID& guid, uint8_t* replyBuffer, int32_t& replyLength);

  // The network kind the service told us (39, or a presence check that carries one), on the
  // worker; the transfer manager listens. Set before Attach.
  std::function<void(uint8_t netKind)> OnNetKindChanged;

  // Set by the options dialog when it asks the service to test our address; cleared when the
  // service's presence check carries the result. Read by the dialog's timer without a lock.
  std::atomic<bool> AddressTestPending{false};

  // The reply length a peer's presence answer (15) gets: a two-byte acknowledgement.
  static constexpr int32_t PresenceAcknowledgeLength = 2;

private:
  void NetTypeResult(const uint8_t* buffer, int32_t length);
  void PresenceCheck(const uint8_t* buffer, int32_t length, uint8_t* reply, int32_t& replyLength);
  void PresenceAnswer(const uint8_t* buffer, int32_t length, uint8_t* reply, int32_t& replyLength) const;
  void SetNetKind(uint8_t kind);

  TLRUDPClient& udp_;
  TUserInfo& user_;
  std::unordered_map<uint16_t, THandler> routes_;
  bool attached_ = false;
};

}  // namespace ml
