#pragma once
// minilirra-service as the tests and benchmarks run it: its own process on loopback, with a
// temporary database, started on free ports and stopped by its process id.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mlsvctest {

class TServiceProcess {
public:
  TServiceProcess() = default;
  ~TServiceProcess();
  TServiceProcess(const TServiceProcess&) = delete;
  TServiceProcess& operator=(const TServiceProcess&) = delete;

  // Starts the binary with --db (created when missing) and the given extra arguments, on free
  // ports unless the extra arguments name them; waits until it reports its ports. False (with
  // Log()) when it did not.
  bool Start(const std::string& folder, const std::vector<std::string>& extra = {},
             uint16_t port = 0, uint16_t listPort = 0);
  // The same over a fresh database (in folder) that holds the song files of songs, imported with
  // "admin import"; advertise names where the served table sends the clients ("ADDR:PORT",
  // empty: the service itself).
  bool StartWithCatalogue(const std::string& folder, const std::string& songs, uint16_t port = 0,
                          const std::string& advertise = "");
  // SIGTERM, then waits; returns the exit status (-1 when it had to be killed).
  int Stop();
  bool Running() const { return pid_ > 0; }
  uint16_t Port() const { return port_; }
  uint16_t ListPort() const { return listPort_; }
  std::string DbPath() const { return folder_ + "/service.db"; }
  std::string Log() const;

  static std::string Binary();
  // Runs "minilirra-service admin --db DB args..." and returns its standard output.
  static std::string Admin(const std::string& db, const std::vector<std::string>& args, int* status = nullptr);

private:
  std::string folder_;
  pid_t pid_ = -1;
  uint16_t port_ = 0, listPort_ = 0;
};

}  // namespace mlsvctest
