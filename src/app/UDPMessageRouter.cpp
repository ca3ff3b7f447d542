#include "app/UDPMessageRouter.h"

#include <stdexcept>
#include <string>

#include "base/ByteOrder.h"
#include "net/NetTypeRecords.h"
#include "net/WireCodes.h"
#include "online/uLogin.h"

namespace ml {

namespace {

bool IsOwnRow(uint16_t code) {
  return code == Cmd::Presence || code == Cmd::NetTypeResult || code == Cmd::ServerPresenceCheck;
}

}  // namespace

TUDPMessageRouter::TUDPMessageRouter(TLRUDPClient& udp, TUserInfo& user) : udp_(udp), user_(user) {}

TUDPMessageRouter::~TUDPMessageRouter() {
  if (attached_) Detach();
}

void TUDPMessageRouter::Route(uint16_t code, THandler handler) {
  if (attached_) throw std::logic_error("TUDPMessageRouter::Route after Attach (code " + std::to_string(code) + ")");
  if (!handler || IsOwnRow(code)) throw std::logic_error("TUDPMessageRouter::Route: code " + std::to_string(code) + " is not routable");
  if (!routes_.emplace(code, std::move(handler)).second)
    throw std::logic_error("TUDPMessageRouter::Route: code " + std::to_string(code) + " already has an owner");
}

void TUDPMessageRouter::Attach() {
  attached_ = true;
  udp_.OnUDPClientRead = [this](TUDPWorkThread& sender, const uint8_t* buffer, int32_t length, uint32_t ip,
                                uint16_t port, TLRGUID& guid, uint8_t* reply, int32_t& replyLength) {
    Dispatch(sender, buffer, length, ip, port, guid, reply, replyLength);
  };
}

void TUDPMessageRouter::Detach() {
  udp_.OnUDPClientRead = nullptr;
  attached_ = false;
}

void TUDPMessageRouter::Dispatch(TUDPWorkThread& sender, const uint8_t* buffer, int32_t length, uint32_t ip,
                                 uint16_t port, TLRGUID& guid, uint8_t* reply, int32_t& replyLength) {
  if (!buffer || length < 2) return;
  const uint16_t code = LoadLE16(buffer);
  switch (code) {
    case Cmd::NetTypeResult:
      NetTypeResult(buffer, length);
      return;
    case Cmd::ServerPresenceCheck:
      PresenceCheck(buffer, length, reply, replyLength);
      return;
    case Cmd::Presence:
      PresenceAnswer(buffer, length, reply, replyLength);
      return;
    default:
      break;
  }
  auto it = routes_.find(code);
  if (it != routes_.end()) it->second(sender, buffer, length, ip, port, guid, reply, replyLength);
}

void TUDPMessageRouter::SetNetKind(uint8_t kind) {
  user_.NetKind = kind;
  if (OnNetKindChanged) OnNetKindChanged(kind);
}

void TUDPMessageRouter::NetTypeResult(const uint8_t* buffer, int32_t length) {
  TNetTypeResult result;
  if (ReadNetTypeResult(buffer, size_t(length), result)) SetNetKind(result.NetKind);
}

// The service (or a peer) checks that we can be reached: echo its token with who we are, also
// before any login (user 0). A check that carries the test's result sets our kind and ends the
// test the options dialog is waiting for.
void TUDPMessageRouter::PresenceCheck(const uint8_t* buffer, int32_t length, uint8_t* reply, int32_t& replyLength) {
  TPresenceCheck check;
  if (!ReadPresenceCheck(buffer, size_t(length), check)) return;
  TCmdStream s;
  s.InitWrite(reply, TUDPWorkThread::ReplyBufferSize);
  if (WritePresenceAnswer(s, {user_.UserID.load(), check.Token, user_.LocalPort.load()})) replyLength = s.Size();
  if (check.NetKind) {
    SetNetKind(*check.NetKind);
    AddressTestPending = false;
  }
}

// A peer answered a presence check of ours: acknowledged with a two-byte record of its own code.
// The acknowledgement is shorter than an answer, so it is never acknowledged in turn (two clients
// would otherwise bounce it between them for ever), and it carries defined bytes rather than
// whatever the worker's reply buffer held from an earlier reply.
void TUDPMessageRouter::PresenceAnswer(const uint8_t* buffer, int32_t length, uint8_t* reply,
                                       int32_t& replyLength) const {
  TPresenceAnswer answer;
  if (!ReadPresenceAnswer(buffer, size_t(length), answer)) return;
  StoreLE16(reply, Cmd::Presence);
  replyLength = PresenceAcknowledgeLength;
}

}  // namespace ml
