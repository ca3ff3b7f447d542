#include "app/CommandLine.h"
#include "base/EventLoop.h"
#include "base/FileUtil.h"
#include "app/SingleInstance.h"
#include "tests/support/TestSupport.h"
#include "base/Version.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(StartupLockFile, StandsForANamedMutex) {
  mltest::TempDir dir;
  ml::TLockFile a(dir.File("m.lock")), b(dir.File("m.lock"));
  ASSERT_TRUE(a.Valid() && b.Valid());
  EXPECT_TRUE(a.TryLock(ml::Millis(0)));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(b.TryLock(ml::Millis(100)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  // Released while the other waits: the wait succeeds.
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    a.Unlock();
  });
  EXPECT_TRUE(b.TryLock(ml::Millis(5000)));
  releaser.join();
  EXPECT_FALSE(a.TryLock(ml::Millis(0)));
  b.Unlock();
  EXPECT_TRUE(a.TryLock(ml::Millis(0)));
}

struct Requests : ml::IInstanceRequests {
  std::vector<std::string> events;
  void InstanceActivate() override { events.push_back("activate"); }
  void InstanceCommandLine(const std::vector<std::string>& args) override {
    std::string e = "args";
    for (const auto& a : args) e += " " + a;
    events.push_back(e);
  }
  int InstanceLookMailbox() override {
    events.push_back("look");
    return 1;
  }
};

// Runs a client call on its own thread while this (the main) thread keeps the loop going.
template <class F>
auto AskWhilePumping(ml::ManualLoop& loop, F ask) {
  std::atomic<bool> done{false};
  decltype(ask()) result{};
  std::thread t([&] {
    result = ask();
    done = true;
  });
  loop.WaitPumping([&] { return done.load(); }, ml::Millis(20000));
  t.join();
  return result;
}

// A raw request, for lengths a well-behaved client never sends. Returns what came back.
std::string RawRequest(const std::string& path, const std::string& bytes) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return "no connection";
  }
  ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  std::string answer;
  char buf[16];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) answer.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return answer;
}

std::string Header(uint32_t code, uint32_t param, uint32_t len) {
  std::string h(12, '\0');
  for (int i = 0; i < 4; ++i) {
    h[i] = static_cast<char>(code >> (8 * i));
    h[4 + i] = static_cast<char>(param >> (8 * i));
    h[8 + i] = static_cast<char>(len >> (8 * i));
  }
  return h;
}

TEST(StartupInstanceServer, AnswersRequestsOnTheMainThreadAndChecksLengths) {
  mltest::TempDir dir;
  const std::string sock = ml::TSingleInstance::SocketPath(dir.Path().string());
  ml::ManualLoop loop;
  Requests req;
  ml::TInstanceServer server(sock, loop, req);
  mltest::WriteAll(sock, "left behind by a crashed instance");
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;

  const ml::Millis t{10000};
  auto presence = AskWhilePumping(loop, [&] { return ml::SendInstanceRequest(sock, ml::RequestPresence, 5004, {}, t); });
  EXPECT_EQ(presence, std::optional<int32_t>(ml::ProgramVersion));

  std::string data = ml::EncodeForwardedArgs({"/open", "/m/a.mp3"});
  auto handed = AskWhilePumping(loop, [&] { return ml::SendInstanceRequest(sock, ml::RequestCommandLine, 0, data, t); });
  EXPECT_EQ(handed, std::optional<int32_t>(ml::ProgramVersion));

  auto look = AskWhilePumping(loop, [&] { return ml::SendInstanceRequest(sock, ml::RequestLookMailbox, 0, {}, t); });
  EXPECT_EQ(look, std::optional<int32_t>(1));

  // Bad requests: dropped (no answer) or refused (answer 0), and the server carries on.
  EXPECT_EQ(RawRequest(sock, Header(ml::RequestCommandLine, 0, 100000)), "");  // over 4066 bytes
  EXPECT_EQ(RawRequest(sock, Header(ml::RequestPresence, 0, 1) + "x"), "");    // data where none belongs
  EXPECT_EQ(RawRequest(sock, Header(77, 0, 0)), "");                            // unknown request
  EXPECT_EQ(RawRequest(sock, Header(ml::RequestCommandLine, 0, 10) + "\x05" "abc"), "");  // cut short
  EXPECT_EQ(RawRequest(sock, Header(ml::RequestCommandLine, 0, 2) + "\x09" "a"), std::string(4, '\0'));

  EXPECT_TRUE(ml::PostInstanceRequest(sock, ml::RequestActivate, t));
  loop.WaitPumping([&] { return req.events.size() == 4; }, ml::Millis(20000));
  EXPECT_EQ(req.events, (std::vector<std::string>{"activate", "args /open /m/a.mp3", "look", "activate"}));

  server.Stop();
  EXPECT_FALSE(ml::FileExists(sock));
  EXPECT_FALSE(ml::SendInstanceRequest(sock, ml::RequestPresence, 5004, {}, t));
}

// Counts what reaches the main queue, so a test can tell when a request is waiting there.
struct CountingLoop : ml::ManualLoop {
  std::atomic<int> posts{0};
  void Post(std::function<void()> fn) override {
    ++posts;
    ManualLoop::Post(std::move(fn));
  }
};

TEST(StartupInstanceServer, StopReleasesARequestWaitingForTheMainThread) {
  mltest::TempDir dir;
  const std::string sock = ml::TSingleInstance::SocketPath(dir.Path().string());
  CountingLoop loop;
  Requests req;
  ml::TInstanceServer server(sock, loop, req);
  ASSERT_TRUE(server.Start());
  std::optional<int32_t> answer;
  std::thread client([&] { answer = ml::SendInstanceRequest(sock, ml::RequestPresence, 5004, {}, ml::Millis(10000)); });
  // The request waits for the main thread, which is busy stopping the server: Stop() must keep
  // the main queue moving or both would wait forever.
  for (int i = 0; i < 20000 && loop.posts == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(loop.posts, 1);
  server.Stop();
  client.join();
  EXPECT_EQ(answer, std::optional<int32_t>(ml::ProgramVersion));
  EXPECT_EQ(req.events, std::vector<std::string>{"activate"});
}

}  // namespace
