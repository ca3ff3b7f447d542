#pragma once
// What the roles of the service work with: the request as the role table hands it over, the
// sockets answers leave by, and the pieces every role shares (configuration, clock, database,
// catalogue, sessions, worker pool, counters, the reply budget and the log). One context per running
// service; each role keeps a reference to it.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Dispatcher.h"
#include "net/LRCmdStream.h"
#include "net/LREncrypt.h"
#include "service/DatagramSender.h"
#include "service/ServiceConfig.h"
#include "service/ServiceLog.h"

namespace mlsvc {

class TCatalogue;
class TServiceStore;
class TSessionStore;
class TWorkPool;
class TRateLimiter;

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
  uint32_t LocalIP = 0;  // the address it was sent to (0: unknown)

  uint16_t Code() const { return Length >= 2 ? uint16_t(Payload[0] | (Payload[1] << 8)) : 0; }
};

struct TServiceCounters {
  std::atomic<uint64_t> Logins{0}, LoginFailures{0}, RateLimited{0}, KeepAlives{0}, ListAnswers{0},
      Logouts{0}, Probes{0}, OverBudget{0}, Repeats{0};
};

// Who an answer goes to. A session's holder has shown that it receives at its address (it knows
// the login key); anyone else may be a forged source, so answers to them spend the reply budget.
enum class TReach { Anyone, Holder };

struct TServiceContext {
  const TServiceConfig& Config;  // with the advertised address and port resolved
  const ml::TClock& Clock;       // wall-clock milliseconds since 1970
  TServiceStore& Store;
  TCatalogue& Catalogue;  // the songs, their search indexes and the usage counts
  TSessionStore& Sessions;
  TWorkPool& Workers;  // for work too slow for a socket's thread
  TServiceCounters& Counters;
  TDatagramSender& ListSocket;
  TDatagramSender& MainSocket;
  TRateLimiter& ReplyBudget;  // bytes to unproven addresses, over all of them
  TServiceLog& Log;
  const uint16_t ListVersion = 0;  // of the table we serve
  const std::string Notice;        // GBK, as it goes out, short enough for one datagram

  int64_t NowMs() const { return Clock.Now().count(); }
  TDatagramSender& Socket(TServer server) const { return server == TServer::List ? ListSocket : MainSocket; }
  // Sends from a socket; false (and nothing sent) when an answer to anyone is over the budget.
  bool Send(TServer from, uint8_t kind, ml::TLRGUID guid, const void* payload, size_t length, uint32_t ip,
            uint16_t port, uint32_t fromIP, TReach reach) const;
  // Answers a request where it came from: its socket, its envelope kind, its identity.
  bool Answer(const TRequest& r, const void* payload, size_t length, TReach reach = TReach::Anyone) const {
    return Send(r.Server, r.Kind, r.Guid, payload, length, r.IP, r.Port, r.LocalIP, reach);
  }
  // Answers r with a record made by its writer; false when the writer refused it or the answer
  // was over the budget.
  template <class T>
  bool AnswerRecord(const TRequest& r, bool (*write)(ml::TCmdStream&, const T&), const T& record,
                    TReach reach = TReach::Anyone) const {
    uint8_t out[ml::Envelope::MaxPayload];
    ml::TCmdStream s;
    s.InitWrite(out, sizeof out);
    return write(s, record) && Answer(r, out, size_t(s.Size()), reach);
  }
  // Whether r comes from the holder of user's proven session, where it logged in from: answers to
  // anyone else spend the reply budget.
  TReach ReachOf(const TRequest& r, int32_t user) const;
  // The request's line in the log at level debug: where it came from, what it asked, and what
  // became of it.
  void Note(const TRequest& r, const char* outcome, ...) const __attribute__((format(printf, 3, 4)));
};

}  // namespace mlsvc
