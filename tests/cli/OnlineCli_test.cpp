// The lyric, playlist and registration commands against the real service on loopback, over a
// catalogue imported from the generated demo songs (most with a lyric of the same name): a lyric
// fetched and its bytes compared with the imported file, the service's "not found", the same
// through a link that loses a fifth of the datagrams each way; a 40-song playlist uploaded in
// parts and downloaded into a fresh data folder; an account registered, logged in with, and
// refused a second time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/NetTestTools.h"
#include "tests/service/DemoCatalogue.h"
#include "tests/service/ServiceProcess.h"
#include "tests/support/TestSupport.h"

using mlsvctest::TServiceProcess;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// Runs a shell command whose standard input answers the check code it prints; returns its
// standard output and sets its exit status.
// answer: what to type for the code shown (the code itself when not given).
std::string RunTypingCheckCode(const std::string& command, int& status,
                               const std::function<std::string(const std::string&)>& answer = {}) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  std::string output, pending;
  char buf[512];
  bool answered = false;
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) {
    output.append(buf, size_t(n));
    const size_t at = output.find("check code: ");
    if (!answered && at != std::string::npos && output.find('\n', at) != std::string::npos) {
      const std::string shown = output.substr(at + 12, output.find('\n', at) - at - 12);
      const std::string code = (answer ? answer(shown) : shown) + "\n";
      if (write(in[1], code.data(), code.size()) < 0) break;
      close(in[1]);
      answered = true;
    }
  }
  if (!answered) close(in[1]);
  close(out[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return output;
}

class OnlineCli : public ::testing::Test {
protected:
  void StartService(uint16_t port = 0, const std::string& advertise = "") {
    ASSERT_TRUE(service.StartWithCatalogue(dir.Path().string(), mlsvctest::DemoCatalogueFolder(), port, advertise))
        << service.Log();
  }

  // A command of the CLI against the service, in data folder data.
  std::string Cli(const std::string& data, const std::string& command, const std::string& args) const {
    return mltest::BinDir() + "/minilirra-cli --data-dir " + dir.File(data) + " " + command + " --list-server 127.0.0.1:" +
           std::to_string(service.ListPort()) + " --udp-port " + std::to_string(mlnettest::FreeUdpPort()) + " " + args;
  }
  json RunJson(const std::string& command, int& status, std::string* errors = nullptr) const {
    const std::string out = mltest::RunCapture(command + " 2>" + dir.File("stderr"), &status);
    if (errors) *errors = mltest::ReadAll(dir.File("stderr"));
    return json::parse(out, nullptr, false);
  }

  // The demo songs with a lyric of the same stem, and those without.
  static std::vector<fs::path> Songs(bool withLyric) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(mlsvctest::DemoCatalogueFolder()))
      if (e.path().extension() == ".mp3" && fs::exists(fs::path(e.path()).replace_extension(".lrc")) == withLyric)
        out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

  mltest::TempDir dir;
  TServiceProcess service;
};

TEST_F(OnlineCli, LyricsAreFetchedSavedAndAssociated) {
  StartService();
  const fs::path song = Songs(true).front();
  int status = -1;
  std::string errors;
  json out = RunJson(Cli("data", "lrc fetch", "--json " + Quoted(song)), status, &errors);
  ASSERT_EQ(status, 0) << errors;
  EXPECT_EQ(out["source"], "service");
  const std::string path = out["path"];
  EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir.File("data/Lyric"))) << "the player's lyric folder";
  EXPECT_EQ(mltest::ReadAll(path), mltest::ReadAll(fs::path(song).replace_extension(".lrc").string()))
      << "the imported lyric's bytes";
  EXPECT_NE(mltest::ReadAll(dir.File("data/MusicFiles.xml")).find(path), std::string::npos)
      << "the song's entry names its lyric";

  // Asked again, the lyric is found where it was saved, without the service.
  service.Stop();
  out = RunJson(Cli("data", "lrc fetch", "--json " + Quoted(song)), status, &errors);
  ASSERT_EQ(status, 0) << errors;
  EXPECT_EQ(out["source"], "local");
  EXPECT_EQ(out["path"], path);
}

TEST_F(OnlineCli, ASongWithoutALyricIsNotFound) {
  StartService();
  int status = -1;
  const std::string out =
      mltest::RunCapture(Cli("data", "lrc fetch", Quoted(Songs(false).front())) + " 2>&1", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("未能在服务器上找到歌词"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir.File("data/Lyric")) && !fs::is_empty(dir.File("data/Lyric"))) << "nothing saved";
}

TEST_F(OnlineCli, LyricsCompleteThroughALossyLink) {
  const uint16_t port = mlnettest::FreeUdpPort();
  mlnettest::TLinkFaults loss;
  loss.loss = 0.2;
  mlnettest::TLossyRelay relay(mlnettest::LoopbackIP(), port, loss, loss, 20261210);
  StartService(port, "127.0.0.1:" + std::to_string(relay.Port()));
  const auto withLyric = Songs(true);
  for (size_t i = 0; i < 4; ++i) {
    int status = -1;
    std::string errors;
    const json out = RunJson(Cli("data" + std::to_string(i), "lrc fetch", "--json " + Quoted(withLyric[i])), status, &errors);
    ASSERT_EQ(status, 0) << withLyric[i] << "\n" << errors;
    EXPECT_EQ(mltest::ReadAll(out["path"]), mltest::ReadAll(fs::path(withLyric[i]).replace_extension(".lrc").string()));
  }
  int status = -1;
  const std::string none = mltest::RunCapture(Cli("data9", "lrc fetch", Quoted(Songs(false).front())) + " 2>&1", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(none.find("未能在服务器上找到歌词"), std::string::npos) << none;
  EXPECT_GT(relay.ToServerStats().dropped.load() + relay.ToClientStats().dropped.load(), 0u);
}

TEST_F(OnlineCli, APlaylistGoesUpInPartsAndComesDownWhole) {
  StartService();
  mltest::WriteAll(dir.File("password"), "pw-alice\n");
  int status = -1;
  TServiceProcess::Admin(service.DbPath(), {"add-user", "alice", "--password-file", dir.File("password")}, &status);
  ASSERT_EQ(status, 0);
  std::string files;
  const auto all = [] {
    auto songs = Songs(true);
    for (auto& s : Songs(false)) songs.push_back(s);
    return songs;
  }();
  ASSERT_GE(all.size(), 40u);
  for (size_t i = 0; i < 40; ++i) files += " " + Quoted(all[i]);
  const std::string add = mltest::RunCapture(mltest::BinDir() + "/minilirra-cli --data-dir " + dir.File("a") +
                                                 " library add" + files + " 2>&1",
                                             &status);
  ASSERT_EQ(status, 0) << add;

  const std::string login = "--json --user alice --password-file " + dir.File("password");
  std::string errors;
  const json up = RunJson(Cli("a", "playlists upload", login), status, &errors);
  ASSERT_EQ(status, 0) << errors;
  EXPECT_EQ(up["songs"].size(), 40u);
  EXPECT_GE(up["parts"].get<int>(), 2) << "forty songs take several parts";

  const json down = RunJson(Cli("b", "playlists download", login), status, &errors);
  ASSERT_EQ(status, 0) << errors;
  EXPECT_EQ(down["songs"], up["songs"]);
  // The fresh data folder's library now holds them as its first playlist.
  const std::string shown = mltest::RunCapture(mltest::BinDir() + "/minilirra-cli --data-dir " + dir.File("b") +
                                                   " library --json show 0",
                                               &status);
  ASSERT_EQ(status, 0) << shown;
  const json listed = json::parse(shown, nullptr, false);
  ASSERT_EQ(listed.size(), 40u) << shown;
  for (size_t i = 0; i < 40; ++i) EXPECT_EQ(listed[i]["digest"], up["songs"][i]["digest"]) << i;

  // Without an account there is no playlist to keep.
  const std::string anonymous =
      mltest::RunCapture(Cli("c", "playlists download", "--anonymous") + " 2>&1", &status);
  EXPECT_EQ(status, 1) << anonymous;
  EXPECT_NE(anonymous.find("无效用户，或没有开通该服务"), std::string::npos) << anonymous;
}

TEST_F(OnlineCli, ARegisteredAccountLogsInAndItsNameIsTaken) {
  StartService();
  mltest::WriteAll(dir.File("password"), "pw-new\n");
  const std::string args = "--check-code-from-stdin --json --password-file " + dir.File("password") + " 星光用户";
  int status = -1;
  const std::string out = RunTypingCheckCode(Cli("data", "register", args) + " 2>" + dir.File("stderr"), status);
  ASSERT_EQ(status, 0) << out << mltest::ReadAll(dir.File("stderr"));
  const json account = json::parse(out.substr(out.find('{')), nullptr, false);
  EXPECT_EQ(account["user_name"], "星光用户");
  EXPECT_EQ(account["logged_in"], true);
  EXPECT_NE(TServiceProcess::Admin(service.DbPath(), {"list-users"}).find(std::to_string(account["user_id"].get<int>()) +
                                                                           "\t星光用户"),
            std::string::npos);
  // The new account logs in by number as any other.
  const std::string login = mltest::RunCapture(
      Cli("other", "login",
          "--keepalive-ms 100 --keepalive-count 1 --user " + std::to_string(account["user_id"].get<int>()) +
              " --password-file " + dir.File("password")) +
          " 2>&1",
      &status);
  EXPECT_EQ(status, 0) << login;

  const std::string again = RunTypingCheckCode(Cli("data", "register", args) + " 2>&1", status);
  EXPECT_EQ(status, 1) << again;
  EXPECT_NE(again.find("已经被用户 [ " + std::to_string(account["user_id"].get<int>()) + " ]"), std::string::npos) << again;
}

// A check code serves one registration, at the address it was given to, for as long as the
// service keeps it (two seconds here): typed again, or typed late, it is refused and no account
// is made.
TEST_F(OnlineCli, ACheckCodeServesOnceAndExpires) {
  mltest::WriteAll(dir.File("service.ini"), "[limits]\ncheck_code_seconds=2\n");
  ASSERT_TRUE(service.Start(dir.Path().string(), {"--config", dir.File("service.ini")})) << service.Log();
  mltest::WriteAll(dir.File("password"), "pw-new\n");
  auto registerAs = [&](const std::string& name, const std::function<std::string(const std::string&)>& answer,
                        int& status) {
    return RunTypingCheckCode(
        Cli("data", "register", "--check-code-from-stdin --password-file " + dir.File("password") + " " + name) +
            " 2>&1",
        status, answer);
  };
  std::string firstCode;
  int status = -1;
  const std::string first = registerAs("first", [&](const std::string& shown) { return firstCode = shown; }, status);
  ASSERT_EQ(status, 0) << first;

  const std::string reused = registerAs("second", [&](const std::string&) { return firstCode; }, status);
  EXPECT_NE(status, 0) << reused;
  const std::string late = registerAs("third", [](const std::string& shown) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    return shown;
  }, status);
  EXPECT_NE(status, 0) << late;
  const std::string users = TServiceProcess::Admin(service.DbPath(), {"list-users"});
  EXPECT_NE(users.find("\tfirst"), std::string::npos) << users;
  EXPECT_EQ(users.find("\tsecond"), std::string::npos) << users;
  EXPECT_EQ(users.find("\tthird"), std::string::npos) << users;
}

}  // namespace
