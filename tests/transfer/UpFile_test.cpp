// The upload side: who may open an upload, how much one block request draws and from where,
// the end of an upload, and its idle expiry.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "tests/support/TestSupport.h"
#include "transfer/uUpFile.h"

using namespace ml;

namespace {

struct TSentPacket {
  uint32_t ip;
  uint16_t port;
  int32_t block;
  size_t length;
};

struct TUploadFixture {
  TUploadFixture() : table(Locate(), Sender()) {
    std::string data(3000, 'x');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i);
    mltest::WriteAll(dir.File("song.mp3"), data);
    hash = LRMD5::MD5String(data);
    table.SetOwnUserID(77);
  }
  TUploadTable::TLocateFile Locate() {
    return [this](const TMD5Digest& h, std::string& path, int64_t& size) {
      if (h != hash) return false;
      path = dir.File("song.mp3");
      size = 3000;
      return true;
    };
  }
  TUploadTable::TSendData Sender() {
    return [this](uint32_t ip, uint16_t port, const uint8_t* body, size_t length) {
      TTransferBlock b;
      ASSERT_TRUE(ReadTransferBlock(body, length, b));
      EXPECT_EQ(b.SenderID, 77);
      sent.push_back({ip, port, b.Block, b.Length});
    };
  }
  TPeerBlockRequest Blocks(std::vector<int32_t> blocks, int32_t requester = 55) {
    return TPeerBlockRequest{hash, requester, 0, std::move(blocks)};
  }

  mltest::TempDir dir;
  TMD5Digest hash;
  TUploadTable table;
  std::vector<TSentPacket> sent;
  const uint32_t ip = htonl(0x7F000001);
};

TEST(UpFile, FileRequestsAreAnsweredByWhatIsHeld) {
  TUploadFixture f;
  TMD5Digest other = f.hash;
  other.v[0] ^= 1;
  struct {
    const char* what;
    TMD5Digest hash;
    int32_t size;
    uint8_t status;
    int32_t answeredSize;
  } cases[] = {
      {"held, right size", f.hash, 3000, FileAnswer::WillServe, 3000},
      {"held, size unknown: the size is told", f.hash, 0, FileAnswer::NotFound, 3000},
      {"held, another size", f.hash, 2999, FileAnswer::NotFound, 2999},
      {"not held", other, 3000, FileAnswer::NotFound, 3000},
  };
  for (const auto& c : cases) {
    const TPeerFileAnswer a = f.table.AnswerFileRequest(c.hash, c.size, 55, 0, f.ip, 7000, 0);
    EXPECT_EQ(a.Status, c.status) << c.what;
    EXPECT_EQ(a.FileSize, c.answeredSize) << c.what;
    EXPECT_EQ(a.UserID, 77);
  }
  f.table.SetMaxUploads(1);
  EXPECT_EQ(f.table.AnswerFileRequest(f.hash, 3000, 56, 0, f.ip, 7001, 0).Status, FileAnswer::Busy);
}

TEST(UpFile, BlocksGoOnlyToTheAddressThatOpenedTheUploadAndAtMostSixteen) {
  TUploadFixture f;
  EXPECT_EQ(f.table.ServeBlocks(f.Blocks({0}), f.ip, 7000, 0), 0u) << "no file request answered yet";
  ASSERT_EQ(f.table.AnswerFileRequest(f.hash, 3000, 55, 0, f.ip, 7000, 0).Status, FileAnswer::WillServe);
  EXPECT_EQ(f.table.ServeBlocks(f.Blocks({0}), f.ip, 7001, 0), 0u) << "another port";
  EXPECT_EQ(f.table.ServeBlocks(f.Blocks({0}), htonl(0x7F000002), 7000, 0), 0u) << "another address";
  EXPECT_EQ(f.table.ServeBlocks(f.Blocks({0}, 56), f.ip, 7000, 0), 0u) << "another requester";
  // 255 numbers draw 16 packets: a small request never draws a flood.
  EXPECT_EQ(f.table.ServeBlocks(f.Blocks(std::vector<int32_t>(255, 1)), f.ip, 7000, 0), TUploadTable::MaxBlocksPerRequest);
  f.sent.clear();
  EXPECT_EQ(f.table.ServeBlocks(f.Blocks({2}), f.ip, 7000, 0), 1u);
  ASSERT_EQ(f.sent.size(), 1u);
  EXPECT_EQ(f.sent[0].length, 952u) << "the last block is what is left of the file";
}

TEST(UpFile, ABlockOutsideTheFileOrAStopEndsTheUpload) {
  TUploadFixture f;
  for (const std::vector<int32_t>& ending : {std::vector<int32_t>{0, 5}, std::vector<int32_t>{}, std::vector<int32_t>{-1}}) {
    ASSERT_EQ(f.table.AnswerFileRequest(f.hash, 3000, 55, 0, f.ip, 7000, 0).Status, FileAnswer::WillServe);
    f.table.ServeBlocks(f.Blocks(ending), f.ip, 7000, 0);
    EXPECT_EQ(f.table.Count(), 0u);
    EXPECT_EQ(f.table.ServeBlocks(f.Blocks({0}), f.ip, 7000, 0), 0u);
  }
}

TEST(UpFile, AnIdleUploadExpires) {
  TUploadFixture f;
  f.table.AnswerFileRequest(f.hash, 3000, 55, 0, f.ip, 7000, 0);
  f.table.ServeBlocks(f.Blocks({0}), f.ip, 7000, 1000);
  f.table.Expire(1000 + TUploadTable::IdleMs);
  EXPECT_EQ(f.table.Count(), 1u);
  f.table.Expire(1001 + TUploadTable::IdleMs);
  EXPECT_EQ(f.table.Count(), 0u);
}

TEST(UpFile, AFileThatIsGoneAnswersCouldNotRead) {
  TUploadFixture f;
  f.table.AnswerFileRequest(f.hash, 3000, 55, 0, f.ip, 7000, 0);
  std::filesystem::resize_file(f.dir.File("song.mp3"), 1500);
  f.table.ServeBlocks(f.Blocks({0, 1}), f.ip, 7000, 0);
  ASSERT_EQ(f.sent.size(), 2u);
  EXPECT_EQ(f.sent[0].block, 0);
  EXPECT_EQ(f.sent[1].block, -1) << "a short block is not sent as if it were whole";
}

// The old clients' side: a table that finds song.mp3 by name and size and records the raw
// packets it sends.
struct TOldUploadFixture : TUploadFixture {
  TOldUploadFixture() {
    table.SetOldPeers(
        [this](const std::string& name, int64_t size, std::string& path, TMD5Digest& h) {
          if (name != "song.mp3" || size != 3000) return false;
          path = dir.File("song.mp3");
          h = hash;
          return true;
        },
        [this](uint32_t ip, uint16_t port, const uint8_t* data, size_t length) {
          TOldDataPacket p;
          ASSERT_TRUE(ReadOldDataPacket(data, length, p));
          EXPECT_EQ(p.SenderID, 77);
          EXPECT_EQ(0, std::memcmp(p.Data, content.data() + size_t(p.Block) * 1024, p.Length));
          sent.push_back({ip, port, p.Block, p.Length});
        });
    content = mltest::ReadAll(dir.File("song.mp3"));
  }
  TOldPeerRequest Ask(int32_t peer = 55, std::string key = OldFileKey("Song.MP3", 3000)) {
    return TOldPeerRequest{Cmd::PeerRequestOld36, std::move(key), peer};
  }
  TOldBlockRequest Blocks(std::vector<int32_t> blocks, int32_t peer = 55) {
    return TOldBlockRequest{OldFileKey("song.mp3", 3000), std::move(blocks), peer};
  }
  std::string content;
};

TEST(UpFile, OldRequestsAreAnsweredByNameAndSize) {
  TOldUploadFixture f;
  EXPECT_TRUE(f.table.MayServeOld(OldFileKey("SONG.mp3", 3000)));
  EXPECT_FALSE(f.table.MayServeOld(OldFileKey("song.mp3", 2999)));
  EXPECT_EQ(f.table.AnswerOldFileRequest(f.Ask(55, OldFileKey("other.mp3", 3000)), f.ip, 7000, 0), OldAnswer::NotHeld);
  EXPECT_EQ(f.table.AnswerOldFileRequest(f.Ask(), f.ip, 7000, 0), LRMD5::MD5DigestToStr(f.hash));
  // The located file must have the key's size: one that changed is another file.
  std::filesystem::resize_file(f.dir.File("song.mp3"), 2000);
  EXPECT_EQ(f.table.AnswerOldFileRequest(f.Ask(56), f.ip, 7001, 0), OldAnswer::NotHeld);
  std::filesystem::resize_file(f.dir.File("song.mp3"), 3000);
  f.table.SetMaxUploads(1);
  EXPECT_EQ(f.table.AnswerOldFileRequest(f.Ask(56), f.ip, 7001, 0), OldAnswer::Busy);
  EXPECT_FALSE(f.table.MayServeOld(OldFileKey("song.mp3", 3000))) << "the uploads are full";
  EXPECT_EQ(f.table.AnswerFileRequest(f.hash, 3000, 57, 0, f.ip, 7002, 0).Status, FileAnswer::Busy)
      << "old and new uploads share the limit";
}

TEST(UpFile, OldBlocksGoOnlyToTheOpenerAtMostTenAndABadBlockEndsTheUpload) {
  TOldUploadFixture f;
  EXPECT_EQ(f.table.ServeOldBlocks(f.Blocks({0}), f.ip, 7000, 0), 0u) << "no file request answered yet";
  ASSERT_EQ(f.table.AnswerOldFileRequest(f.Ask(), f.ip, 7000, 0), LRMD5::MD5DigestToStr(f.hash));
  EXPECT_EQ(f.table.ServeOldBlocks(f.Blocks({0}), f.ip, 7001, 0), 0u) << "another port";
  EXPECT_EQ(f.table.ServeOldBlocks(f.Blocks({0}, 56), f.ip, 7000, 0), 0u) << "another peer";
  EXPECT_EQ(f.table.ServeOldBlocks(f.Blocks(std::vector<int32_t>(40, 1)), f.ip, 7000, 0),
            TUploadTable::MaxOldBlocksPerRequest);
  f.sent.clear();
  EXPECT_EQ(f.table.ServeOldBlocks(f.Blocks({2}), f.ip, 7000, 0), 1u);
  ASSERT_EQ(f.sent.size(), 1u);
  EXPECT_EQ(f.sent[0].length, 952u);
  for (const std::vector<int32_t>& ending : {std::vector<int32_t>{0, 3}, std::vector<int32_t>{-1}}) {
    f.table.ServeOldBlocks(f.Blocks(ending), f.ip, 7000, 0);
    EXPECT_EQ(f.table.Count(), 0u);
    ASSERT_EQ(f.table.AnswerOldFileRequest(f.Ask(), f.ip, 7000, 0), LRMD5::MD5DigestToStr(f.hash));
  }
  // A stop from elsewhere is not the peer's; from its address it ends the upload.
  TOldPeerRequest stop = f.Ask();
  stop.Code = TOldPeerRequest::StopCode;
  f.table.EndOldUpload(stop, f.ip, 7001);
  EXPECT_EQ(f.table.Count(), 1u);
  f.table.EndOldUpload(stop, f.ip, 7000);
  EXPECT_EQ(f.table.Count(), 0u);
}

}  // namespace
