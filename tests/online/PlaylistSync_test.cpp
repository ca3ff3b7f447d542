// The playlist synchronisation against a scripted playlist server on loopback: a 32-part upload
// completes (its last acknowledgement has the top bit set), parts and part requests go with
// serial 0, and a download whose announced length does not fit its part count fails with 103
// before any part is asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "base/EventLoop.h"
#include "base/FileUtil.h"
#include "base/LRMD5.h"
#include "net/LRUDPClient.h"
#include "net/PlaylistRecords.h"
#include "net/uServerListManager.h"
#include "online/PlaylistSync.h"
#include "online/uLogin.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"

using namespace ml;
using namespace mlnettest;

namespace {

// The playlist server: acknowledges every upload part with the set received so far, announces
// downloads as told, and sends the parts asked for.
class TScriptedServer {
public:
  uint8_t AnnouncedParts = 1;
  int32_t AnnouncedLength = 0;
  std::string Stored;

  TScriptedServer() {
    thread_ = std::thread([this] { Run(); });
  }
  ~TScriptedServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t Port() const { return peer_.Port(); }
  std::vector<int32_t> PartSerials() {
    std::lock_guard lock(mutex_);
    return partSerials_;
  }
  int PartRequests() const { return partRequests_.load(); }

private:
  void Answer(const TDatagram& d, const TLRGUID& guid, const Bytes& record) {
    const Bytes env = EnvelopeBytes(Envelope::Table, guid, record);
    peer_.Send(d.ip, d.port, env.data(), env.size());
  }
  void Run() {
    uint32_t received = 0;
    while (!stop_) {
      auto d = peer_.Receive(std::chrono::milliseconds(20));
      TOpenedEnvelope env;
      if (!d || !OpenEnvelope(d->data.data(), d->data.size(), env) || env.PayloadLength < 2) continue;
      const uint16_t code = uint16_t(env.Payload[0] | env.Payload[1] << 8);
      TPlaylistUploadPart part;
      TPlaylistPartRequest wanted;
      if (code == Cmd::PlaylistUploadStart) {
        received = 0;
        TPlaylistStartReply ok;
        ok.Status = Status::OK;
        Answer(*d, env.Guid, Written(WritePlaylistStartReply, ok));
      } else if (code == Cmd::PlaylistDownloadStart) {
        TPlaylistStartReply ok;
        ok.Status = Status::OK;
        ok.PartCount = AnnouncedParts;
        ok.Length = AnnouncedLength;
        Answer(*d, env.Guid, Written(WritePlaylistStartReply, ok));
      } else if (ReadPlaylistUploadPart(env.Payload, env.PayloadLength, part)) {
        {
          std::lock_guard lock(mutex_);
          partSerials_.push_back(env.Guid.SerialID);
        }
        received |= 1u << part.Part;
        Answer(*d, env.Guid, Written(WritePlaylistUploadAck, TPlaylistUploadAck{part.UserID, received}));
      } else if (ReadPlaylistPartRequest(env.Payload, env.PayloadLength, wanted)) {
        ++partRequests_;
        {
          std::lock_guard lock(mutex_);
          partSerials_.push_back(env.Guid.SerialID);
        }
        for (size_t k = 0; k * 1024 < Stored.size(); ++k)
          if (wanted.Wanted >> k & 1)
            Answer(*d, env.Guid, Written(WritePlaylistPart, TPlaylistPart{wanted.UserID, uint8_t(k), Stored.substr(k * 1024, 1024)}));
      }
    }
  }

  TUdpPeer peer_;
  std::atomic<bool> stop_{false};
  std::atomic<int> partRequests_{0};
  std::mutex mutex_;
  std::vector<int32_t> partSerials_;
  std::thread thread_;
};

class PlaylistSync : public ::testing::Test {
protected:
  mltest::TempDir dir;
  TScriptedServer server;
  ManualLoop loop;
  TLRUDPClient udp{nullptr};
  TUserInfo user;
  std::unique_ptr<TServerListManager> servers;
  std::unique_ptr<TDataDownloader> sync;
  int uploadDone = -1, downloadDone = -1;
  std::string body;

  void SetUp() override {
    // Slot 12 holds the playlist servers (service codes 8 and 9).
    ASSERT_TRUE(WriteFileAtomic(dir.File("LR4ServerList.bin"),
                                TServerListManager::SerializeCache(7, {{12, LoopbackIP(), server.Port()}})));
    servers = std::make_unique<TServerListManager>(dir.File("LR4ServerList.bin"));
    udp.SetDefaultPort(FreeUdpPort());
    user.UserID = 10001;
    sync = std::make_unique<TDataDownloader>(loop, udp, *servers, user, [] { return 4242; });
    sync->OnUploadDone = [this](bool ok) { uploadDone = ok; };
    sync->OnDownloadDone = [this](bool ok, const std::string& b) {
      downloadDone = ok;
      body = b;
    };
    udp.OnUDPClientRead = [this](TUDPWorkThread&, const uint8_t* buf, int32_t len, uint32_t, uint16_t, TLRGUID&,
                                 uint8_t*, int32_t&) {
      if (len >= 2 && buf[0] == Cmd::PlaylistUploadPart) sync->TakeUploadAck(buf, len);
      if (len >= 2 && buf[0] == Cmd::PlaylistPart) sync->TakePart(buf, len);
    };
    ASSERT_TRUE(udp.SetActive(true));
  }
  void TearDown() override { udp.SetActive(false); }
  // Runs the loop until flag is set or a few seconds of real time pass.
  void RunUntil(const int& flag) {
    for (int i = 0; i < 400 && flag < 0; ++i) {
      loop.Advance(Millis(10));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
};

TEST_F(PlaylistSync, AThirtyTwoPartUploadCompletesWithSerialZeroParts) {
  ASSERT_TRUE(sync->StartUpload(std::string(28780, 'x')));
  EXPECT_EQ(sync->UploadPartCount(), 32);
  RunUntil(uploadDone);
  EXPECT_EQ(uploadDone, 1) << sync->UploadErrorText();
  const auto serials = server.PartSerials();
  EXPECT_EQ(serials.size(), 32u);
  for (int32_t s : serials) EXPECT_EQ(s, 0);
  EXPECT_FALSE(sync->StartUpload(std::string(28781, 'x')));
  EXPECT_EQ(sync->UploadResult(), PlaylistResult::BadLength);
}

TEST_F(PlaylistSync, AnnouncedLengthsMustFitTheirParts) {
  std::string data(20, '\0');
  const std::string songs(1500, 's');
  std::memcpy(data.data(), LRMD5::MD5String(songs).v.data(), 16);
  server.Stored = data + songs;
  struct Case {
    uint8_t parts;
    int32_t length;
    bool accepted;
  };
  for (Case c : {Case{2, 1024, false}, Case{1, 1025, false}, Case{1, 19, false}, Case{33, 1520, false},
                 Case{0, 1520, false}, Case{2, 1520, true}}) {
    server.AnnouncedParts = c.parts;
    server.AnnouncedLength = c.length;
    downloadDone = -1;
    const int before = server.PartRequests();
    EXPECT_EQ(sync->StartDownload(), c.accepted) << int(c.parts) << " parts, " << c.length;
    if (!c.accepted) {
      EXPECT_EQ(sync->DownloadResult(), PlaylistResult::BadAnnouncement) << int(c.parts) << " parts, " << c.length;
      EXPECT_EQ(server.PartRequests(), before) << "no part asked for";
      continue;
    }
    RunUntil(downloadDone);
    EXPECT_EQ(downloadDone, 1);
    EXPECT_EQ(body, songs);
  }
}

}  // namespace
