#pragma once
// What get and share share: a transfer manager on the session's UDP client, with its messages
// and data packets routed to it, the servers it asks named by the session's server list, and the
// announcement that tells the hash server which files we hold.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/LRMD5.h"

namespace ml {
class Dispatcher;
class TminiLRMFTP;
class TUDPMessageRouter;
}  // namespace ml

namespace mlcli {

class CliSession;
class CliSignals;

class CliTransfer {
public:
  explicit CliTransfer(CliSession& session);
  // Stops the manager (its progress saved) before the session goes.
  ~CliTransfer();
  CliTransfer(const CliTransfer&) = delete;
  CliTransfer& operator=(const CliTransfer&) = delete;

  // Opens the session (logging in as its options say) with the transfer codes and the data
  // packets routed to the manager; 0, or the exit code after a message naming command.
  int OpenSession(CliSignals& signals, const char* command);
  // After the session opened: the manager, with its history and temporary folder, active.
  ml::TminiLRMFTP& Start(ml::Dispatcher& dispatcher, const std::string& historyFile, const std::string& tempFolder);
  // Tells the hash server that we serve this file.
  void Announce(const ml::TMD5Digest& hash, int64_t size, const std::string& name);

private:
  void ConnectRoutes(ml::TUDPMessageRouter& router);

  CliSession& session_;
  std::atomic<std::shared_ptr<ml::TminiLRMFTP>> manager_;
};

}  // namespace mlcli
