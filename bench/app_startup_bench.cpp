// Round trips of the instance socket as a second start makes them: the presence query and the
// command-line hand-off, each answered on a running main loop (a real EventLoop on its own thread).
#include "app/CommandLine.h"
#include "base/EventLoop.h"
#include "app/SingleInstance.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

struct Sink : ml::IInstanceRequests {
  std::atomic<int> calls{0};
  void InstanceActivate() override { ++calls; }
  void InstanceCommandLine(const std::vector<std::string>&) override { ++calls; }
  int InstanceLookMailbox() override { return 1; }
};

// A running instance: its loop on a thread of its own, its socket in a scratch folder.
class RunningInstance {
public:
  RunningInstance() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "mlbench-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
    socket_ = ml::TSingleInstance::SocketPath(dir_);
    std::atomic<bool> ready{false};
    thread_ = std::thread([&] {
      ml::EventLoop loop;
      loop_ = &loop;
      ml::TInstanceServer server(socket_, loop, sink_);
      if (!server.Start()) std::abort();
      loop.Post([&] { ready = true; });  // set once Run() is going, so Quit() cannot come first
      loop.Run();
      server.Stop();
    });
    while (!ready) std::this_thread::yield();
  }
  ~RunningInstance() {
    loop_->Quit();
    thread_.join();
    std::filesystem::remove_all(dir_);
  }
  const std::string& Socket() const { return socket_; }

private:
  std::string dir_, socket_;
  Sink sink_;
  ml::EventLoop* loop_ = nullptr;
  std::thread thread_;
};

void BM_PresenceQuery(benchmark::State& state) {
  RunningInstance running;
  for (auto _ : state) {
    auto answer = ml::SendInstanceRequest(running.Socket(), ml::RequestPresence, 5004, {}, ml::Millis(5000));
    if (answer != 5004) state.SkipWithError("no answer");
  }
}
BENCHMARK(BM_PresenceQuery)->Unit(benchmark::kMicrosecond);

void BM_CommandLineHandOff(benchmark::State& state) {
  RunningInstance running;
  // A full buffer: fifteen paths of 255 bytes after "/list".
  std::vector<std::string> args;
  for (int i = 0; i < 8; ++i) {
    args.push_back("/list");
    args.push_back("/home/user/music/" + std::string(230, 'a' + i) + ".mp3");
  }
  const std::string data = ml::EncodeForwardedArgs(args);
  for (auto _ : state) {
    auto answer = ml::SendInstanceRequest(running.Socket(), ml::RequestCommandLine, 0, data, ml::Millis(5000));
    if (answer != 5004) state.SkipWithError("not taken");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_CommandLineHandOff)->Unit(benchmark::kMicrosecond);

}  // namespace
