// The download job against a scripted link: sources matched by number and address, blocks
// checked against the map, the adaptive window, the temporary file (its name, its room), the
// verification that gives up after three wrong digests, and the rename over an old file.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/Clock.h"
#include "tests/support/TestSupport.h"
#include "tests/transfer/FakeTransferLink.h"
#include "transfer/uDownFile.h"

using namespace ml;
using mltest::TFakeLink;

namespace {

const uint32_t kPeerIP = htonl(0x7F000001);
constexpr uint16_t kPeerPort = 7100;
constexpr int32_t kPeerID = 1234;

struct TJobFixture {
  explicit TJobFixture(std::string content, TMD5Digest hash = {}) : content(std::move(content)) {
    link.temp = dir.File("Temp") + "/";
    param.FileHash = LRMD5::MD5DigestIsZero(hash) ? LRMD5::MD5String(this->content) : hash;
    param.FileSize = int64_t(this->content.size());
    param.FileName = "song.mp3";
    param.DestFileName = dir.File("song.mp3");
    job = std::make_unique<TDownFile>(link, param);
    EXPECT_TRUE(job->ResetDown()) << job->FailReason();
    job->Start(clock.Now().count());
  }
  // Gives the job one source that answers "will serve".
  void Connect(int32_t id = kPeerID, uint16_t port = kPeerPort) {
    job->TakeSourceList(THashSourcesAnswer{param.FileHash, {{id, kPeerIP, port, 0}}}, Now());
    job->ServiceDown(Now());
    job->RecordAnswer(TPeerFileAnswer{Cmd::PeerFileAnswer, param.FileHash, int32_t(content.size()), id, 0,
                                      FileAnswer::WillServe, "song.mp3"},
                      kPeerIP, port, Now());
  }
  bool Deliver(int32_t block, uint32_t ip = kPeerIP, uint16_t port = kPeerPort, int32_t id = kPeerID, size_t cut = 0) {
    const size_t at = size_t(block) * 1024;
    const size_t n = std::min<size_t>(1024, content.size() - at) - cut;
    TTransferBlock b{param.FileHash, id, 0, block, reinterpret_cast<const uint8_t*>(content.data() + at), n};
    return job->ReceiveBlock(b, ip, port, Now());
  }
  // Serves every request made so far, until the job has all blocks.
  void ServeAll() {
    for (int round = 0; round < 10000 && job->State() != dsVerifying; ++round) {
      const auto asked = link.Requested(kPeerPort);
      link.sent.clear();
      for (int32_t b : asked) Deliver(b);
      job->ServiceDown(Now());
    }
  }
  int64_t Now() const { return clock.Now().count(); }

  mltest::TempDir dir;
  TFakeLink link;
  ManualClock clock;
  std::string content;
  TDownFileParam param;
  std::unique_ptr<TDownFile> job;
};

std::string Pattern(size_t n) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; ++i) s[i] = char((i * 131 + i / 1024) & 0xFF);
  return s;
}

TEST(DownFile, AsksTheSourceDirectlyThenForBlocksAndSavesTheVerifiedFile) {
  TJobFixture f(Pattern(5000));
  f.job->TakeSourceList(THashSourcesAnswer{f.param.FileHash, {{kPeerID, kPeerIP, kPeerPort, 0}}}, f.Now());
  f.job->ServiceDown(f.Now());
  ASSERT_FALSE(f.link.sent.empty());
  EXPECT_EQ(f.link.sent.back().Code(), Cmd::PeerFileRequest);
  EXPECT_EQ(f.link.sent.back().port, kPeerPort);
  f.job->RecordAnswer(TPeerFileAnswer{Cmd::PeerFileAnswer, f.param.FileHash, 5000, kPeerID, 0, FileAnswer::WillServe, "x"},
                      kPeerIP, kPeerPort, f.Now());
  EXPECT_EQ(f.link.Requested(kPeerPort), (std::vector<int32_t>{0, 1, 2, 3}));
  f.ServeAll();
  ASSERT_EQ(f.job->State(), dsVerifying);
  const std::string temp = f.job->TempFileName();
  EXPECT_EQ(f.job->VerifyAndSave(), TDownFile::TFinish::Saved);
  EXPECT_EQ(mltest::ReadAll(f.param.DestFileName), f.content);
  EXPECT_FALSE(std::filesystem::exists(temp));
  EXPECT_EQ(f.job->PrefixBytes(), 5000);
}

TEST(DownFile, APeerThatCannotBeReachedIsAskedThroughTheRelayAtOnce) {
  TJobFixture f(Pattern(5000));
  f.job->TakeSourceList(THashSourcesAnswer{f.param.FileHash, {{kPeerID, kPeerIP, kPeerPort, NetKind::InternalC}}}, f.Now());
  f.job->ServiceDown(f.Now());
  ASSERT_EQ(f.link.sent.size(), 1u) << "the first attempt is sent, not lost to a missing handler";
  TRelayFileRequest r;
  ASSERT_TRUE(ReadRelayFileRequest(f.link.sent[0].data.data(), f.link.sent[0].data.size(), r));
  EXPECT_EQ(f.link.sent[0].port, 8800) << "to the relay server";
  EXPECT_EQ(r.TargetID, kPeerID);
  EXPECT_EQ(r.RequesterID, 500);
  // Its answer comes from wherever its translation puts it; that becomes its address.
  f.job->RecordAnswer(TPeerFileAnswer{Cmd::PeerFileAnswer, f.param.FileHash, 5000, kPeerID, 0, FileAnswer::WillServe, "x"},
                      kPeerIP, 40000, f.Now());
  EXPECT_EQ(f.link.Requested(40000).size(), 4u);
}

TEST(DownFile, DataFromAnotherAddressOrOfTheWrongLengthIsNotTaken) {
  TJobFixture f(Pattern(5000));
  f.Connect();
  struct {
    const char* what;
    uint32_t ip;
    uint16_t port;
    int32_t id;
    size_t cut;
  } forged[] = {
      {"the source's number from another port", kPeerIP, kPeerPort + 1, kPeerID, 0},
      {"the source's number from another address", htonl(0x7F000002), kPeerPort, kPeerID, 0},
      {"an unknown number from the source's address", kPeerIP, kPeerPort, kPeerID + 1, 0},
      {"a block one byte short", kPeerIP, kPeerPort, kPeerID, 1},
  };
  for (const auto& x : forged) EXPECT_FALSE(f.Deliver(0, x.ip, x.port, x.id, x.cut)) << x.what;
  EXPECT_EQ(f.job->ReceivedBytes(), 0);
  EXPECT_TRUE(f.Deliver(0));
  EXPECT_EQ(f.job->ReceivedBytes(), 1024);
}

TEST(DownFile, ABatchIsWrittenInRunsWithoutItsBadPacketsAndCountedOnceOnDisk) {
  TJobFixture f(Pattern(10 * 1024 + 100));
  constexpr int32_t kOtherID = 77;
  constexpr uint16_t kOtherPort = 7200;
  f.Connect();
  f.Connect(kOtherID, kOtherPort);
  const auto packet = [&](int32_t block, int32_t id, uint16_t port, size_t cut = 0) {
    const size_t at = size_t(block) * 1024;
    const size_t n = std::min<size_t>(1024, f.content.size() - at) - cut;
    return TArrivedBlock{{f.param.FileHash, id, 0, block, reinterpret_cast<const uint8_t*>(f.content.data() + at), n},
                         kPeerIP, port};
  };
  const std::vector<TArrivedBlock> batch = {
      packet(5, kOtherID, kOtherPort),
      packet(1, kPeerID, kPeerPort),
      packet(2, kPeerID, kPeerPort, 1),          // one byte short
      packet(3, kPeerID, kPeerPort + 1),         // from another port
      packet(0, kPeerID, kPeerPort),
      packet(10, kPeerID, kPeerPort),            // the short last block
      packet(1, kOtherID, kOtherPort),           // twice in one batch
      packet(4, kOtherID, kOtherPort),
      packet(2, kPeerID, kPeerPort),
  };
  EXPECT_EQ(f.job->ReceiveBlocks(batch, f.Now()), 6 * 1024 + 100) << "the good ones and the duplicate";
  EXPECT_EQ(f.job->DuplicateBlocks(), 1);
  EXPECT_EQ(f.job->ReceivedBytes(), 5 * 1024 + 100);
  EXPECT_EQ(f.job->ArrivedFrom(0), 3 * 1024) << "block 3 never came";
  EXPECT_EQ(f.job->ArrivedFrom(4 * 1024), 2 * 1024);
  const std::string onDisk = mltest::ReadAll(f.job->TempFileName());
  ASSERT_EQ(onDisk.size(), f.content.size());
  for (int32_t b : {0, 1, 2, 4, 5, 10})
    EXPECT_EQ(onDisk.substr(size_t(b) * 1024, 1024), f.content.substr(size_t(b) * 1024, 1024)) << "block " << b;
  // The rest arrives as single packets, and the whole file is what was sent.
  for (int32_t b : {3, 6, 7, 8, 9}) EXPECT_TRUE(f.Deliver(b));
  ASSERT_EQ(f.job->State(), dsVerifying);
  EXPECT_EQ(f.job->VerifyAndSave(), TDownFile::TFinish::Saved);
  EXPECT_EQ(mltest::ReadAll(f.param.DestFileName), f.content);
}

TEST(DownFile, TheWindowGrowsToSixteenWhileBlocksComeInTimeAndHalvesOnLoss) {
  TJobFixture f(Pattern(2000 * 1024));
  f.Connect();
  size_t most = 0;
  for (int round = 0; round < 30; ++round) {
    const auto asked = f.link.Requested(kPeerPort);
    f.link.sent.clear();
    for (int32_t b : asked) f.Deliver(b);
    f.job->ServiceDown(f.Now());
    most = std::max(most, f.link.Requested(kPeerPort).size());
  }
  size_t outstanding = f.link.Requested(kPeerPort).size();
  EXPECT_EQ(outstanding, size_t(TDownFile::MaxWindow));
  EXPECT_LE(most, size_t(TDownFile::MaxWindow)) << "never more than 16 blocks asked of one source at once";
  // Nothing comes back: after the loss time every block is asked again, with half the window.
  f.link.sent.clear();
  f.clock.Advance(Millis(TDownFile::LossTimeoutMs + 1));
  f.job->ServiceDown(f.Now());
  EXPECT_EQ(f.link.Requested(kPeerPort).size(), size_t(TDownFile::MaxWindow / 2));
}

TEST(DownFile, ASourceThatGoesSilentIsDroppedAndItsBlocksGoToTheOther) {
  TJobFixture f(Pattern(64 * 1024));
  f.Connect(kPeerID, kPeerPort);
  f.Connect(kPeerID + 1, kPeerPort + 1);
  EXPECT_EQ(f.job->ActiveSources(), 2);
  // Only the second source answers from now on.
  for (int round = 0; round < 400 && f.job->State() != dsVerifying; ++round) {
    const auto asked = f.link.Requested(kPeerPort + 1);
    f.link.sent.clear();
    for (int32_t b : asked) f.Deliver(b, kPeerIP, kPeerPort + 1, kPeerID + 1);
    f.clock.Advance(Millis(50));
    f.job->ServiceDown(f.Now());
  }
  EXPECT_EQ(f.job->State(), dsVerifying);
  EXPECT_EQ(f.job->VerifyAndSave(), TDownFile::TFinish::Saved);
}

TEST(DownFile, ThreeWrongDigestsEndTheJobWithItsReason) {
  TMD5Digest wrong;
  wrong.v.fill(0x42);
  TJobFixture f(Pattern(3000), wrong);
  f.Connect();
  for (int attempt = 1; attempt <= TDownFile::MaxVerifyFailures; ++attempt) {
    f.ServeAll();
    ASSERT_EQ(f.job->State(), dsVerifying) << attempt;
    const auto outcome = f.job->VerifyAndSave();
    if (attempt < TDownFile::MaxVerifyFailures) {
      EXPECT_EQ(outcome, TDownFile::TFinish::Retry);
      EXPECT_EQ(f.job->ReceivedBytes(), 0) << "starts again from nothing";
      f.Connect();
    } else {
      EXPECT_EQ(outcome, TDownFile::TFinish::Failed);
    }
  }
  EXPECT_NE(f.job->FailReason().find("did not match"), std::string::npos) << f.job->FailReason();
  EXPECT_FALSE(std::filesystem::exists(f.param.DestFileName));
}

TEST(DownFile, TheTemporaryFileIsReservedWholeAndNeverShared) {
  TJobFixture f(Pattern(200000));
  TFakeLink& link = f.link;
  TDownFileParam other = f.param;
  other.FileHash.v[0] ^= 1;  // another song, the same destination name
  TDownFile second(link, other);
  ASSERT_TRUE(second.ResetDown());
  EXPECT_NE(second.TempFileName(), f.job->TempFileName());
  EXPECT_EQ(f.job->TempFileName(), link.temp + "song.mp3.lr!");
  struct stat st {};
  ASSERT_EQ(::stat(f.job->TempFileName().c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 200000);
  EXPECT_GE(int64_t(st.st_blocks) * 512, 200000) << "the room is taken, not a hole";
}

TEST(DownFile, TheVerifiedFileReplacesAnOldOneByRename) {
  TJobFixture f(Pattern(2048));
  mltest::WriteAll(f.param.DestFileName, "old");
  f.Connect();
  f.ServeAll();
  struct stat temp {};
  ASSERT_EQ(::stat(f.job->TempFileName().c_str(), &temp), 0);
  ASSERT_EQ(f.job->VerifyAndSave(), TDownFile::TFinish::Saved);
  struct stat dest {};
  ASSERT_EQ(::stat(f.param.DestFileName.c_str(), &dest), 0);
  EXPECT_EQ(dest.st_ino, temp.st_ino) << "the temporary file itself became the destination";
  EXPECT_EQ(mltest::ReadAll(f.param.DestFileName), f.content);
}

TEST(DownFile, CandidatesAreBoundedAndTheSizeIsLearntFromAnAnswer) {
  TJobFixture f(Pattern(3000));
  THashSourcesAnswer flood{f.param.FileHash, {}};
  for (int i = 0; i < 128; ++i) flood.Sources.push_back({1000 + i, kPeerIP, uint16_t(8000 + i), 3});
  for (int lists = 0; lists < 5; ++lists) f.job->TakeSourceList(flood, f.Now());
  // Bounded: the job took at most MaxCandidates (checked through what it asks): five sources at a time.
  f.job->ServiceDown(f.Now());
  EXPECT_EQ(f.job->ActiveSources(), 5);

  TDownFileParam unknown = f.param;
  unknown.FileSize = 0;
  unknown.FileName.clear();
  unknown.DestFileName = f.dir.File("") ;
  unknown.FileHash.v[1] ^= 1;
  TDownFile job(f.link, unknown);
  ASSERT_TRUE(job.ResetDown());
  job.Start(f.Now());
  job.TakeSourceList(THashSourcesAnswer{unknown.FileHash, {{kPeerID, kPeerIP, kPeerPort, 0}}}, f.Now());
  job.ServiceDown(f.Now());
  job.RecordAnswer(TPeerFileAnswer{Cmd::PeerFileAnswer, unknown.FileHash, 3000, kPeerID, 0, FileAnswer::NotFound, "found.mp3"},
                   kPeerIP, kPeerPort, f.Now());
  EXPECT_EQ(job.FileSize(), 3000);
  EXPECT_EQ(job.FileName(), "found.mp3");
  EXPECT_EQ(job.TempFileName(), f.link.temp + "found.mp3.lr!");
  // A second source asked before the size was known answers the same way: it is asked again,
  // now with the size, instead of being dropped.
  job.TakeSourceList(THashSourcesAnswer{unknown.FileHash, {{kPeerID + 1, kPeerIP, kPeerPort + 1, 0}}}, f.Now());
  job.ServiceDown(f.Now());
  job.RecordAnswer(TPeerFileAnswer{Cmd::PeerFileAnswer, unknown.FileHash, 3000, kPeerID + 1, 0, FileAnswer::NotFound,
                                   "found.mp3"},
                   kPeerIP, kPeerPort + 1, f.Now());
  f.link.sent.clear();
  job.ServiceDown(f.Now());
  TPeerFileRequest asked;
  ASSERT_FALSE(f.link.sent.empty());
  ASSERT_TRUE(ReadPeerFileRequest(f.link.sent.back().data.data(), f.link.sent.back().data.size(), asked));
  EXPECT_EQ(asked.FileSize, 3000);
  EXPECT_EQ(job.ActiveSources(), 2);
}

// Sends of code since the last clear.
size_t SentOf(const TFakeLink& link, uint16_t code) {
  return size_t(std::count_if(link.sent.begin(), link.sent.end(), [&](const TFakeLink::TSent& s) { return s.Code() == code; }));
}

// Answers every file request of the sources in the list busy, servicing the job between rounds,
// half a second apart, until it searches again (false) or gives up (true).
bool AnswerAllBusy(TJobFixture& f) {
  for (int round = 0; round < 200; ++round) {
    for (const TFakeLink::TSent& s : f.link.sent)
      if (s.Code() == Cmd::PeerFileRequest)
        f.job->RecordAnswer(TPeerFileAnswer{Cmd::PeerFileAnswer, f.param.FileHash, 3000, s.port - 8000 + 1000, 0,
                                            FileAnswer::Busy, "x"},
                            s.ip, s.port, f.Now());
    f.link.sent.clear();
    f.clock.Advance(Millis(500));
    if (f.job->ServiceDown(f.Now())) return true;
    if (f.job->ActiveSources() == 0 && SentOf(f.link, Cmd::HashSources) > 0) return false;
  }
  return false;
}

THashSourcesAnswer Holders(const TMD5Digest& hash, int n) {
  THashSourcesAnswer list{hash, {}};
  for (int i = 0; i < n; ++i) list.Sources.push_back({1000 + i, kPeerIP, uint16_t(8000 + i), 0});
  return list;
}

TEST(DownFile, SearchesThatFindNoSourceGiveUpForAWhileThenSearchAgain) {
  // The searches a job may make, the lists they bring, and whether it then gives up: a short
  // list names every holder the server knows, so only a long one is followed by another search.
  const struct {
    int maxSearches;
    std::vector<int> lists;  // the holders of each list the server sends
    size_t searches;
  } cases[] = {
      {1, {0}, 1},
      {1, {3}, 1},
      {1, {50}, 1},
      {2, {3}, 1},
      {2, {50, 50}, 2},
      {3, {50, 2}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.maxSearches << " searches, lists of " << c.lists[0]);
    TJobFixture f(Pattern(3000));
    f.job->SetMaxSearches(c.maxSearches);
    bool gaveUp = f.job->ServiceDown(f.Now());
    for (size_t i = 0; i < c.lists.size() && !gaveUp; ++i) {
      ASSERT_EQ(SentOf(f.link, Cmd::HashSources), 1u) << "a search for list " << i;
      f.link.sent.clear();
      f.job->TakeSourceList(Holders(f.param.FileHash, c.lists[i]), f.Now());
      gaveUp = AnswerAllBusy(f);
    }
    ASSERT_TRUE(gaveUp);
    EXPECT_EQ(f.job->State(), dsWaiting);
    EXPECT_NE(f.job->FailReason().find("no peer has the file"), std::string::npos) << f.job->FailReason();
    EXPECT_NE(f.job->FailReason().find(std::to_string(c.searches) + " search"), std::string::npos) << f.job->FailReason();
    // It waits: nothing is sent, and the scheduler cannot start it before its time.
    f.link.sent.clear();
    f.clock.Advance(Millis(TDownFile::GiveUpMs - 1));
    f.job->ServiceDown(f.Now());
    f.job->Start(f.Now());
    EXPECT_EQ(f.job->State(), dsWaiting);
    EXPECT_TRUE(f.link.sent.empty());
    f.clock.Advance(Millis(1));
    f.job->Start(f.Now());
    EXPECT_EQ(f.job->State(), dsConnecting);
    EXPECT_TRUE(f.job->FailReason().empty());
    EXPECT_FALSE(f.job->ServiceDown(f.Now()));
    EXPECT_EQ(SentOf(f.link, Cmd::HashSources), 1u) << "its searches counted anew";
  }
}

TEST(DownFile, AnUnansweredSearchIsSentAgainBeforeTheJobGivesUp) {
  TJobFixture f(Pattern(3000));
  for (int i = 0; i < 200 && !f.job->ServiceDown(f.Now()); ++i) f.clock.Advance(Millis(500));
  EXPECT_EQ(f.job->State(), dsWaiting);
  // Four searches 5 s apart, none answered: the hash server is away.
  EXPECT_EQ(SentOf(f.link, Cmd::HashSources), 4u);
}

TEST(DownFile, TheListenPositionComesFirst) {
  TJobFixture f(Pattern(600 * 1024));
  f.job->SetListenPosition(300 * 1024);
  f.Connect();
  EXPECT_EQ(f.link.Requested(kPeerPort), (std::vector<int32_t>{300, 301, 302, 303}));
}

}  // namespace

namespace {

// A player of the growing file may read the run of blocks from its place, no further; once the
// file is verified and moved, a descriptor opened on the temporary file reads the same bytes.
TEST(DownFile, APlayerMayReadTheRunFromItsPlaceAndKeepsItsFileThroughTheMove) {
  const int64_t size = 600 * 1024 + 100;
  TJobFixture f(Pattern(size_t(size)));
  f.Connect();
  EXPECT_EQ(f.job->ArrivedFrom(0), 0);
  for (int32_t b : {0, 2, 300, 301, 302, 600}) ASSERT_TRUE(f.Deliver(b));
  struct Case {
    int64_t offset, arrived;
  } cases[] = {{0, 1024},       {1000, 24},          {1024, 0},     {2048, 1024},
               {300 * 1024 + 10, 3 * 1024 - 10},     {303 * 1024, 0}, {size - 100, 100},
               {size - 1, 1},   {size, 0},           {-1, 0}};
  for (const Case& c : cases) EXPECT_EQ(f.job->ArrivedFrom(c.offset), c.arrived) << c.offset;

  const int fd = ::open(f.job->TempFileName().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  f.ServeAll();
  ASSERT_EQ(f.job->VerifyAndSave(), TDownFile::TFinish::Saved);
  EXPECT_EQ(f.job->ArrivedFrom(0), size);
  std::string read(size_t(size), '\0');
  EXPECT_EQ(::pread(fd, read.data(), read.size(), 0), ssize_t(size));
  ::close(fd);
  EXPECT_TRUE(read == f.content);
}

}  // namespace
