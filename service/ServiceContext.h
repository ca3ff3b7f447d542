#pragma once
// What the roles of the service work with: the request as the role table hands it over, the
// sockets answers leave by, and the pieces every role shares (configuration, clock, database,
// sessions, worker pool, counters). One context per running service; each role keeps a
// reference to it.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Dispatcher.h"
#include "net/LREncrypt.h"
#include "service/DatagramSender.h"
#include "service/ServiceConfig.h"

namespace mlsvc {

class TServiceStore;
class TSessionStore;
class TWorkPool;

// The service's two sockets, each a server with command codes of its own: the server list's
// (8801), which also hears the answers to our presence checks, and the main one (8800).
enum class TServer : uint8_t { List, Main };

// One opened request. Payload points into the receiving socket's buffer: a role that keeps it
// beyond its handler copies it.
struct TRequest {
  TServer Server = TServer::Main;
  uint8_t Kind = 0;  // envelope kind
  ml::TLRGUID Guid;
  const uint8_t* Payload = nullptr;
  size_t Length = 0;
  uint32_t IP = 0;  // network order
  uint16_t Port = 0;
};

struct TServiceCounters {
  std::atomic<uint64_t> Logins{0}, LoginFailures{0}, RateLimited{0}, KeepAlives{0}, ListAnswers{0},
      Logouts{0}, Probes{0};
};

struct TServiceContext {
  const TServiceConfig& Config;  // with the advertised address and port resolved
  const ml::TClock& Clock;       // wall-clock milliseconds since 1970
  TServiceStore& Store;
  TSessionStore& Sessions;
  TWorkPool& Workers;  // for work too slow for a socket's thread
  TServiceCounters& Counters;
  TDatagramSender& ListSocket;
  TDatagramSender& MainSocket;
  const uint16_t ListVersion = 0;  // of the table we serve
  const std::string Notice;        // GBK, as it goes out, short enough for one datagram

  int64_t NowMs() const { return Clock.Now().count(); }
  TDatagramSender& Socket(TServer server) const { return server == TServer::List ? ListSocket : MainSocket; }
  // Answers a request where it came from: its socket, its envelope kind, its identity.
  bool Answer(const TRequest& r, const void* payload, size_t length) const {
    return Socket(r.Server).Send(r.Kind, r.Guid, payload, length, r.IP, r.Port);
  }
};

}  // namespace mlsvc
