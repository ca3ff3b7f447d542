#include "cli/CliTransfer.h"

#include <cstdio>

#include "app/UDPMessageRouter.h"
#include "base/Clock.h"
#include "base/Dispatcher.h"
#include "cli/CliOnline.h"
#include "net/LRUDPClient.h"
#include "net/TransferRecords.h"
#include "net/WireCodes.h"
#include "net/uServerListManager.h"
#include "online/uLogin.h"
#include "transfer/miniLRMFTP.h"

namespace mlcli {

namespace {
constexpr int HashServerCode = 44;
int32_t HashKey(const ml::TMD5Digest& h) {
  int32_t sum = 0;
  for (uint8_t b : h.v) sum += b;
  return sum;
}
}  // namespace

CliTransfer::CliTransfer(CliSession& session) : session_(session) {}

CliTransfer::~CliTransfer() {
  // A UDP thread may still hold the manager for a moment; it finds it inactive and lets go.
  if (auto m = manager_.exchange(nullptr)) m->SetActive(false);
}

int CliTransfer::OpenSession(CliSignals& signals, const char* command) {
  const int opened = session_.Open(CliDefaultLogin::None, signals, 0,
                                   [this](ml::TUDPMessageRouter& router) { ConnectRoutes(router); });
  if (opened != 0 && session_.Attempted()) std::fprintf(stderr, "%s: %s\n", command, session_.ResultLine().c_str());
  return opened;
}

void CliTransfer::ConnectRoutes(ml::TUDPMessageRouter& router) {
  for (uint16_t code : ml::TminiLRMFTP::RoutedCodes) {
    router.Route(code, [this](ml::TUDPWorkThread&, const uint8_t* buffer, int32_t length, uint32_t ip, uint16_t port,
                              ml::TLRGUID&, uint8_t*, int32_t&) {
      if (auto m = manager_.load()) m->DispatchCommand(buffer, length, ip, port);
    });
  }
  session_.Udp().OnTransferData = [this](ml::TLRUDPClient&, std::span<const ml::TLRUDPClient::TTransferDatagram> batch) {
    if (auto m = manager_.load()) m->QueueFTPData(batch);
  };
}

ml::TminiLRMFTP& CliTransfer::Start(ml::Dispatcher& dispatcher, const std::string& historyFile,
                                     const std::string& tempFolder) {
  auto m = std::make_shared<ml::TminiLRMFTP>(session_.Udp(), dispatcher, dispatcher.Clock());
  ml::TServerListManager& servers = session_.Servers();
  m->OnGetCmdAddr = [&servers](int32_t key, uint16_t command, uint32_t& ip, uint16_t& port) {
    return servers.ServerFor(key, command, port, ip);
  };
  m->SetUserID(session_.User().UserID.load());
  m->SetNatType(session_.User().NetKind.load());
  m->SetXmlFileName(historyFile);
  m->SetTempFileDirectory(tempFolder);
  manager_.store(m);
  m->SetActive(true);
  return *m;
}

void CliTransfer::Announce(const ml::TMD5Digest& hash, int64_t size, const std::string& name) {
  uint32_t ip = 0;
  uint16_t port = 0;
  if (!session_.Servers().ServerFor(HashKey(hash), HashServerCode, port, ip) || size <= 0 || size > INT32_MAX) return;
  ml::TPeerFileAnswer a{ml::Cmd::PeerFileAnswer, hash, int32_t(size), session_.User().UserID.load(), 0,
                        ml::FileAnswer::WillServe, name.size() <= 255 ? name : std::string()};
  uint8_t out[512];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  if (ml::WritePeerFileAnswer(s, a)) session_.Udp().SendKeyed(ip, port, 0, 0, s.Size(), out);
}

}  // namespace mlcli
