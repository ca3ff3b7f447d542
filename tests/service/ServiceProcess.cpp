#include "tests/service/ServiceProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"

extern char** environ;
using namespace mltest;

namespace mlsvctest {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& outPath) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace

std::string TServiceProcess::Binary() { return BinDir() + "/minilirra-service"; }

bool TServiceProcess::StartWithCatalogue(const std::string& folder, const std::string& songs, uint16_t port,
                                         const std::string& advertise) {
  const std::string db = folder + "/service.db";
  int status = -1;
  Admin(db, {"init"}, &status);
  if (status != 0) return false;
  const std::string imported = Admin(db, {"import", songs}, &status);
  if (status != 0) {
    ADD_FAILURE() << imported;
    return false;
  }
  std::vector<std::string> extra;
  if (!advertise.empty()) extra = {"--advertise", advertise};
  return Start(folder, extra, port, port ? mlnettest::FreeUdpPort() : 0);
}

std::string TServiceProcess::Admin(const std::string& db, const std::vector<std::string>& args, int* status) {
  TempDir tmp;
  std::vector<std::string> argv = {Binary(), "admin", "--db", db};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::string out = tmp.File("admin.out");
  const pid_t pid = Spawn(argv, out);
  int st = -1;
  if (pid > 0) ::waitpid(pid, &st, 0);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return Slurp(out);
}

bool TServiceProcess::Start(const std::string& folder, const std::vector<std::string>& extra, uint16_t port,
                            uint16_t listPort) {
  folder_ = folder;
  port_ = port ? port : mlnettest::FreeUdpPort();
  listPort_ = listPort ? listPort : mlnettest::FreeUdpPort();
  while (listPort_ == port_) listPort_ = mlnettest::FreeUdpPort();
  std::vector<std::string> argv = {Binary(), "--db", DbPath(), "--create", "--port", std::to_string(port_),
                                   "--list-port", std::to_string(listPort_)};
  argv.insert(argv.end(), extra.begin(), extra.end());
  pid_ = Spawn(argv, folder_ + "/service.log");
  if (pid_ <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Log().find("list port") != std::string::npos) return true;
    int st = 0;
    if (::waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  return false;
}

std::string TServiceProcess::Log() const { return Slurp(folder_ + "/service.log"); }

int TServiceProcess::Stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  int st = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (::waitpid(pid_, &st, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &st, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TServiceProcess::~TServiceProcess() { Stop(); }

}  // namespace mlsvctest
