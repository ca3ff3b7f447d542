// Managers talking over loopback: a scripted hash server lists the peers, the seeds serve a
// file, the downloader fetches it from all of them; the same behind the seeded lossy relay; a
// forged data datagram from a third address; and a download stopped and resumed from its history.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <memory>
#include <random>
#include <vector>

#include "base/EventLoop.h"
#include "base/FileUtil.h"
#include "net/LREncrypt.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"
#include "transfer/DownloadHistory.h"
#include "transfer/miniLRMFTP.h"

using namespace ml;
using namespace mlnettest;

namespace {

std::string RandomBytes(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string s(n, 0);
  for (char& c : s) c = char(rng());
  return s;
}

// One program on loopback: its UDP client and its transfer manager.
struct TPeer {
  TPeer(EventLoop& loop, int32_t id, uint16_t hashPort) : udp(&loop) {
    m = std::make_unique<TminiLRMFTP>(udp, loop, loop.Clock());
    udp.SetDefaultPort(FreeUdpPort());
    udp.OnUDPClientRead = [this](TUDPWorkThread&, const uint8_t* b, int32_t n, uint32_t ip, uint16_t port, TLRGUID&,
                                 uint8_t*, int32_t&) { m->DispatchCommand(b, n, ip, port); };
    udp.OnTransferData = [this](TLRUDPClient&, std::span<const TLRUDPClient::TTransferDatagram> batch) {
      m->QueueFTPData(batch);
    };
    m->OnGetCmdAddr = [hashPort](int32_t, uint16_t, uint32_t& ip, uint16_t& port) {
      ip = LoopbackIP();
      port = hashPort;
      return true;
    };
    m->SetUserID(id);
    EXPECT_TRUE(udp.SetActive(true));
  }
  ~TPeer() {
    m->SetActive(false);
    udp.SetActive(false);
  }
  void Share(const std::string& path, const std::string& content) {
    const TMD5Digest h = LRMD5::MD5String(content);
    m->OnLocateFile = [=](const TMD5Digest& want, std::string& p, int64_t& size) {
      if (want != h) return false;
      p = path;
      size = int64_t(content.size());
      return true;
    };
    m->SetActive(true);
  }
  uint16_t Port() const { return uint16_t(udp.DefaultPort()); }

  TLRUDPClient udp;
  std::unique_ptr<TminiLRMFTP> m;
};

// Answers every 257 with the sources it was given.
struct THashServer {
  THashServer() : udp(nullptr) {
    udp.SetDefaultPort(FreeUdpPort());
    udp.SetAutoIncPort(true);
    udp.OnUDPClientRead = [this](TUDPWorkThread&, const uint8_t* b, int32_t n, uint32_t, uint16_t, TLRGUID&,
                                 uint8_t* reply, int32_t& replyLength) {
      THashSourcesRequest r;
      if (!ReadHashSourcesRequest(b, size_t(n), r)) return;
      TCmdStream s;
      s.InitWrite(reply, TUDPWorkThread::ReplyBufferSize);
      if (WriteHashSourcesAnswer(s, THashSourcesAnswer{r.Hash, sources})) replyLength = s.Size();
    };
    EXPECT_TRUE(udp.SetActive(true));
  }
  ~THashServer() { udp.SetActive(false); }
  uint16_t Port() const { return uint16_t(udp.DefaultPort()); }
  TLRUDPClient udp;
  std::vector<TPeerSource> sources;  // set before the first request
};

struct TNet {
  mltest::TempDir dir;
  EventLoop loop;
  THashServer hash;

  std::unique_ptr<TPeer> Seed(int32_t id, const std::string& content) {
    auto p = std::make_unique<TPeer>(loop, id, hash.Port());
    const std::string path = dir.File("seed" + std::to_string(id) + ".bin");
    mltest::WriteAll(path, content);
    p->Share(path, content);
    return p;
  }
  std::unique_ptr<TPeer> Downloader(int32_t id) {
    auto p = std::make_unique<TPeer>(loop, id, hash.Port());
    p->m->SetXmlFileName(dir.File("SaveDownFiles.xml"));
    p->m->SetTempFileDirectory(dir.File("down/Temp"));
    p->m->SetActive(true);
    return p;
  }
  TDownFileParam Param(const std::string& content) {
    TDownFileParam param;
    param.FileHash = LRMD5::MD5String(content);
    param.FileSize = int64_t(content.size());
    param.DestFileName = dir.File("down/song.bin");
    return param;
  }
  // Polls: the work that moves a download happens on other threads and posts nothing.
  bool WaitFor(const std::function<bool()>& done, int seconds = 60) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      loop.ProcessPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    loop.ProcessPending();
    return true;
  }
};

TEST(Peers, OneFileFromTwoSeedsVerified) {
  TNet net;
  const std::string content = RandomBytes(700 * 1024 + 5, 1);
  auto a = net.Seed(11, content), b = net.Seed(12, content);
  net.hash.sources = {{11, LoopbackIP(), a->Port(), 0}, {12, LoopbackIP(), b->Port(), 0}};
  auto d = net.Downloader(20);
  bool finished = false;
  d->m->OnDownFinish = [&](const TminiLRMFTP::TDownFilePtr&) { finished = true; };
  TDownFileParam param = net.Param(content);
  auto job = d->m->AddDownFile(param);
  ASSERT_TRUE(job);
  ASSERT_TRUE(net.WaitFor([&] { return finished; })) << int(job->State()) << " " << job->ReceivedBytes();
  EXPECT_EQ(mltest::ReadAll(param.DestFileName), content);
  EXPECT_EQ(job->SourcesUsed(), (std::vector<int32_t>{11, 12}));
  EXPECT_TRUE(TDownloadHistory(net.dir.File("SaveDownFiles.xml")).Load().empty()) << "the entry goes after the move";
}

TEST(Peers, ThroughALossyLinkWithReorderingAndDuplicates) {
  TNet net;
  const std::string content = RandomBytes(200 * 1024, 2);
  auto a = net.Seed(11, content);
  const TLinkFaults faults{0.3, 0.1, 0.2, 0, 2};
  TLossyRelay relay(LoopbackIP(), a->Port(), faults, faults, 42);
  net.hash.sources = {{11, LoopbackIP(), relay.Port(), 0}};
  auto d = net.Downloader(20);
  TDownFileParam param = net.Param(content);
  auto job = d->m->AddDownFile(param);
  ASSERT_TRUE(net.WaitFor([&] {
    // Three lost file requests cost the job its only source, and it would wait minutes to search
    // again: continue it at once, as get does.
    if (job->State() == dsWaiting && !job->FailReason().empty()) job->ContinueDown();
    return job->State() == dsComplete;
  }, 120)) << int(job->State()) << " " << job->ReceivedBytes() << " " << job->FailReason();
  EXPECT_EQ(mltest::ReadAll(param.DestFileName), content);
  EXPECT_GT(relay.ToClientStats().dropped.load(), 0u);
  EXPECT_GT(relay.ToClientStats().duplicated.load(), 0u);
}

TEST(Peers, AForgedDataDatagramFromAThirdAddressIsIgnored) {
  TNet net;
  const std::string content = RandomBytes(300 * 1024, 3);
  auto a = net.Seed(11, content);
  net.hash.sources = {{11, LoopbackIP(), a->Port(), 0}};
  auto d = net.Downloader(20);
  d->m->SetMaxDownBandwide(400);  // slow enough for the forgery to land in the middle
  TDownFileParam param = net.Param(content);
  auto job = d->m->AddDownFile(param);
  TUdpPeer forger;
  const std::string junk(1024, '\x66');
  int forged = 0;
  ASSERT_TRUE(net.WaitFor([&] {
    // The seed's number, every block of the file, from somewhere else.
    for (int32_t block = 0; block < 300 && forged < 3000; block += 7) {
      uint8_t body[1100], out[1200];
      TCmdStream s;
      s.InitWrite(body, sizeof body);
      WriteTransferBlock(s, TTransferBlock{param.FileHash, 11, 0, block,
                                           reinterpret_cast<const uint8_t*>(junk.data()), junk.size()});
      const size_t n = BuildTransferData(out, sizeof out, body, size_t(s.Size()));
      forger.Send(LoopbackIP(), d->Port(), out, n);
      ++forged;
    }
    return job->State() == dsComplete;
  }, 120)) << job->FailReason();
  EXPECT_GT(forged, 0);
  EXPECT_EQ(mltest::ReadAll(param.DestFileName), content) << "not one forged byte";
}

TEST(Peers, AStoppedDownloadGoesOnFromItsHistory) {
  TNet net;
  const std::string content = RandomBytes(400 * 1024, 4);
  auto a = net.Seed(11, content);
  net.hash.sources = {{11, LoopbackIP(), a->Port(), 0}};
  TDownFileParam param = net.Param(content);
  int64_t before = 0;
  {
    auto d = net.Downloader(20);
    d->m->SetMaxDownBandwide(100);
    auto job = d->m->AddDownFile(param);
    ASSERT_TRUE(net.WaitFor([&] { return job->ReceivedBytes() > 100 * 1024; }));
    // The manager going away saves what it has.
  }
  auto d = net.Downloader(21);
  TDownFileParam again = net.Param(content);
  auto job = d->m->AddDownFile(again);
  EXPECT_EQ(again.Result, 1) << "restored from the history: " << mltest::ReadAll(net.dir.File("SaveDownFiles.xml"));
  before = job->ReceivedBytes();
  EXPECT_GT(before, 100 * 1024);
  ASSERT_TRUE(net.WaitFor([&] { return job->State() == dsComplete; })) << job->FailReason();
  EXPECT_EQ(mltest::ReadAll(param.DestFileName), content);
  EXPECT_LE(job->BytesThisRun(), int64_t(content.size()) - before + 16 * 1024) << "only what was missing, give or take a window";
}

}  // namespace
