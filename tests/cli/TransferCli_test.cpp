// Transfers end to end on loopback: the real service (hash server, relay, seed peer) with a
// catalogue holding a 20 MB song, `minilirra-cli share` peers and `minilirra-cli get`: a download
// from the seed and a second peer under a stream of forged data datagrams, a peer killed in the
// middle, the downloader killed with SIGKILL and started again, and the same download with the
// service behind the seeded lossy relay at 30 % loss with reordering and duplicates. md5sum judges
// every file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/LRMD5.h"
#include "net/LREncrypt.h"
#include "net/TransferRecords.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/ServiceProcess.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A program of ours in the background, its output in files, stopped by its process id.
class TProcess {
public:
  TProcess(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~TProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // The exit status, or -signal.
  int Wait(std::chrono::seconds limit = 300s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    int st = 0;
    while (pid_ > 0) {
      if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
      }
      if (std::chrono::steady_clock::now() > until) {
        Signal(SIGKILL);
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  bool Running() const { return pid_ > 0; }

private:
  pid_t pid_ = -1;
};

std::string SongBytes(size_t n) {
  std::mt19937_64 rng(20261211);
  std::string payload(n, 0);
  for (char& c : payload) c = char(rng() >> 24);
  return mltest::TinyWav(payload);
}

// The megabytes the last progress line of a get says it has.
double ReceivedMB(const std::string& progress) {
  const size_t at = progress.rfind(" MB of ");
  if (at == std::string::npos) return 0;
  size_t begin = progress.rfind('\n', at);
  begin = begin == std::string::npos ? 0 : begin + 1;
  return std::atof(progress.substr(begin, at - begin).c_str());
}

class TransferCli : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(dir.File("songs"));
    song = dir.File("songs/big.wav");
    mltest::WriteAll(song, SongBytes(20 * 1024 * 1024));
    digest = ml::LRMD5::MD5DigestToStr(ml::LRMD5::MD5File(song));
    mltest::WriteAll(dir.File("pw"), "secret\n");
  }
  void StartService(uint16_t port = 0, const std::string& advertise = "") {
    fs::create_directories(dir.File("svc"));
    ASSERT_TRUE(service.StartWithCatalogue(dir.File("svc"), dir.File("songs"), port, advertise)) << service.Log();
    for (const char* user : {"alice", "bob", "carol"})
      users.push_back(mlsvctest::TServiceProcess::Admin(service.DbPath(), {"add-user", user, "--password-file", dir.File("pw")}));
  }
  std::vector<std::string> Cli(const std::string& data, const std::string& user, std::vector<std::string> args,
                               uint16_t udpPort = 0) {
    std::vector<std::string> argv = {mltest::BinDir() + "/minilirra-cli", "--data-dir", dir.File(data)};
    argv.insert(argv.end(), args.begin(), args.end());
    for (const std::string& a : {std::string("--list-server"), "127.0.0.1:" + std::to_string(service.ListPort()),
                                 std::string("--udp-port"), std::to_string(udpPort ? udpPort : mlnettest::FreeUdpPort()),
                                 std::string("--user"), user, std::string("--password-file"), dir.File("pw")})
      argv.push_back(a);
    return argv;
  }
  // A peer sharing a copy of the songs; waits until it says so.
  std::unique_ptr<TProcess> Share(const std::string& name, const std::string& user) {
    fs::create_directories(dir.File(name + "-songs"));
    fs::copy_file(song, dir.File(name + "-songs/big.wav"));
    auto p = std::make_unique<TProcess>(Cli(name, user, {"share", dir.File(name + "-songs")}), dir.File(name + ".out"),
                                        dir.File(name + ".err"));
    for (int i = 0; i < 500 && mltest::ReadAll(dir.File(name + ".out")).find("sharing") == std::string::npos; ++i)
      std::this_thread::sleep_for(20ms);
    EXPECT_NE(mltest::ReadAll(dir.File(name + ".out")).find("sharing 1 files"), std::string::npos)
        << mltest::ReadAll(dir.File(name + ".err"));
    return p;
  }
  std::string Md5Sum(const std::string& path) {
    return mltest::RunCapture("md5sum " + path + " | cut -c1-32").substr(0, 32);
  }
  json Result(const std::string& name) { return json::parse(mltest::ReadAll(dir.File(name + ".out")), nullptr, false); }
  int32_t UserNumber(size_t i) { return std::stoi(users.at(i)); }

  mltest::TempDir dir;
  mlsvctest::TServiceProcess service;
  std::string song, digest;
  std::vector<std::string> users;  // alice, bob, carol
};

TEST_F(TransferCli, FromTheSeedAndAPeerWhileForgedDataArrive) {
  StartService();
  auto bob = Share("bob", "bob");
  const uint16_t port = mlnettest::FreeUdpPort();
  // Slow enough that both sources take part and the forgeries land in the middle.
  TProcess get(Cli("alice", "alice", {"get", digest, "--to", dir.File("out"), "--max-rate", "8000", "--json"}, port),
               dir.File("get.out"), dir.File("get.err"));
  std::atomic<bool> done{false};
  std::atomic<int> forged{0};
  std::thread forger([&] {
    mlnettest::TUdpPeer peer;
    const std::string junk(1024, 'F');
    ml::TMD5Digest hash = ml::LRMD5::MD5StrToDigest(digest);
    for (int32_t block = 0; !done; block = (block + 97) % 20480) {
      uint8_t body[1100], out[1200];
      ml::TCmdStream s;
      s.InitWrite(body, sizeof body);
      // The seed's number, from a third address.
      ml::WriteTransferBlock(s, ml::TTransferBlock{hash, 1, 0, block, reinterpret_cast<const uint8_t*>(junk.data()), 1024});
      peer.Send(mlnettest::LoopbackIP(), port, out, ml::BuildTransferData(out, sizeof out, body, size_t(s.Size())));
      ++forged;
      std::this_thread::sleep_for(1ms);
    }
  });
  const int status = get.Wait();
  done = true;
  forger.join();
  ASSERT_EQ(status, 0) << mltest::ReadAll(dir.File("get.err"));
  const json r = Result("get");
  EXPECT_EQ(r["digest"], digest);
  EXPECT_EQ(r["size"], fs::file_size(song));
  EXPECT_EQ(r["received"], fs::file_size(song));
  EXPECT_EQ(Md5Sum(r["path"]), digest);
  EXPECT_EQ(r["sources"], json::array({1, UserNumber(1)})) << "the seed and bob";
  EXPECT_GT(forged.load(), 100);
}

TEST_F(TransferCli, AFileNoPeerHasEndsTheGetWithItsReason) {
  StartService();
  // The hash server knows no holder: get searches once, finds no one and says so, not waits on.
  const std::string nobody(32, 'e');
  TProcess get(Cli("alice", "alice", {"get", nobody, "--to", dir.File("out")}), dir.File("get.out"), dir.File("get.err"));
  EXPECT_EQ(get.Wait(60s), 1) << mltest::ReadAll(dir.File("get.err"));
  EXPECT_NE(mltest::ReadAll(dir.File("get.err")).find("get: no peer has the file now (1 search); 3 tries"), std::string::npos)
      << mltest::ReadAll(dir.File("get.err"));
}

TEST_F(TransferCli, APeerKilledMidTransferLeavesTheOthers) {
  StartService();
  auto bob = Share("bob", "bob");
  auto carol = Share("carol", "carol");
  TProcess get(Cli("alice", "alice", {"get", digest, "--to", dir.File("out"), "--max-rate", "6000", "--json"}),
               dir.File("get.out"), dir.File("get.err"));
  for (int i = 0; i < 1000 && ReceivedMB(mltest::ReadAll(dir.File("get.err"))) < 5; ++i) std::this_thread::sleep_for(20ms);
  bob->Signal(SIGKILL);
  ASSERT_EQ(get.Wait(), 0) << mltest::ReadAll(dir.File("get.err"));
  const json r = Result("get");
  EXPECT_EQ(Md5Sum(r["path"]), digest);
  EXPECT_GE(r["sources"].size(), 2u) << r.dump();
}

TEST_F(TransferCli, TheDownloaderKilledGoesOnFromItsHistory) {
  StartService();
  {
    TProcess get(Cli("alice", "alice", {"get", digest, "--to", dir.File("out"), "--max-rate", "2000"}),
                 dir.File("get1.out"), dir.File("get1.err"));
    for (int i = 0; i < 1500 && ReceivedMB(mltest::ReadAll(dir.File("get1.err"))) < 8; ++i) std::this_thread::sleep_for(20ms);
    get.Signal(SIGKILL);
    EXPECT_EQ(get.Wait(), -SIGKILL);
  }
  ASSERT_TRUE(fs::exists(dir.File("alice/SaveDownFiles.xml")));
  TProcess again(Cli("alice", "alice", {"get", digest, "--to", dir.File("out"), "--json"}), dir.File("get2.out"),
                 dir.File("get2.err"));
  ASSERT_EQ(again.Wait(), 0) << mltest::ReadAll(dir.File("get2.err"));
  const json r = Result("get2");
  EXPECT_EQ(Md5Sum(r["path"]), digest);
  EXPECT_NE(mltest::ReadAll(dir.File("get2.err")).find("going on from the history"), std::string::npos);
  // At least 6 of the first run's 8 MB were on disk with their table (saved every second).
  EXPECT_LT(r["received"].get<int64_t>(), int64_t(fs::file_size(song)) - 6 * 1024 * 1024);
  EXPECT_FALSE(fs::exists(dir.File("out/Temp/big.wav.lr!")));
}

TEST_F(TransferCli, ThroughTheLossyRelayAtThirtyPercent) {
  const uint16_t port = mlnettest::FreeUdpPort();
  const mlnettest::TLinkFaults faults{0.3, 0.05, 0.1, 0, 2};
  mlnettest::TLossyRelay relay(mlnettest::LoopbackIP(), port, faults, faults, 14);
  StartService(port, "127.0.0.1:" + std::to_string(relay.Port()));
  TProcess get(Cli("alice", "alice", {"get", digest, "--to", dir.File("out"), "--json"}), dir.File("get.out"),
               dir.File("get.err"));
  ASSERT_EQ(get.Wait(600s), 0) << mltest::ReadAll(dir.File("get.err"));
  EXPECT_EQ(Md5Sum(Result("get")["path"]), digest);
  EXPECT_GT(relay.ToClientStats().dropped.load(), 1000u);
  EXPECT_GT(relay.ToClientStats().duplicated.load(), 100u);
  EXPECT_GT(relay.ToClientStats().reordered.load(), 100u);
}

}  // namespace
