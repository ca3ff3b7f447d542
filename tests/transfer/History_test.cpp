// The download history: its shape, a damaged file rebuilt, the block table, and what the
// manager restores from it (a temporary file outside its folder is never deleted).
#include <gtest/gtest.h>

#include "base/EventLoop.h"
#include "base/FileUtil.h"
#include "net/LRUDPClient.h"
#include "tests/support/TestSupport.h"
#include "transfer/BlockMap.h"
#include "transfer/DownloadHistory.h"
#include "transfer/miniLRMFTP.h"

using namespace ml;

namespace {

TEST(BlockMap, SizesBlocksAndTheTableRoundTrip) {
  TBlockMap m(1048577);
  EXPECT_EQ(m.BlockCount(), 1025);
  EXPECT_EQ(m.BlockLength(1024), 1u);
  for (int32_t b : {0, 1, 2, 1024}) m.MarkReceived(b);
  EXPECT_EQ(m.PrefixBytes(), 3072);
  EXPECT_EQ(m.ReceivedBytes(), 3073);
  const std::string hex = m.RecvTableHex();
  EXPECT_EQ(hex.substr(0, 10), "0104000007");
  TBlockMap back;
  ASSERT_TRUE(back.LoadRecvTable(hex, 1048577));
  EXPECT_EQ(back.RecvTableHex(), hex);
  for (const std::string& bad : {std::string(""), hex.substr(1), hex.substr(0, hex.size() - 2), "ZZ" + hex.substr(2),
                                 hex.substr(0, hex.size() - 2) + "FF"})
    EXPECT_FALSE(back.LoadRecvTable(bad, 1048577)) << bad.substr(0, 12);
  EXPECT_FALSE(back.LoadRecvTable(hex, 1048576)) << "the table of another size";
}

TEST(DownloadHistory, EntriesAreWrittenUnderTheirIndexAndDamageIsRebuilt) {
  mltest::TempDir dir;
  const std::string path = dir.File("SaveDownFiles.xml");
  TDownloadHistory h(path);
  EXPECT_TRUE(h.Load().empty());
  THistoryEntry a;
  a.FileName = "a.mp3";
  a.FileSize = 2048;
  a.RecvTable = "0200000001";
  ASSERT_TRUE(h.Write(a));
  EXPECT_EQ(a.DownIndex, 1) << "MaxDownID starts at 0";
  THistoryEntry b = a;
  b.DownIndex = -1;
  ASSERT_TRUE(h.Write(b));
  EXPECT_EQ(b.DownIndex, 2);
  a.RecvTable = "0200000003";
  ASSERT_TRUE(h.Write(a));
  TDownloadHistory again(path);
  auto entries = again.Load();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].RecvTable, "0200000003");
  ASSERT_TRUE(again.Remove(1));
  EXPECT_EQ(TDownloadHistory(path).Load().size(), 1u);

  for (const char* damaged : {"<CurrentDown><MaxDownID>-1</MaxDownID><DownFiles/></CurrentDown>",
                              "<CurrentDown><MaxDownID>1</MaxDownID><DownFiles/><X/></CurrentDown>",
                              "<Other/>", "<CurrentDown><MaxDown"}) {
    mltest::WriteAll(path, damaged);
    std::string problem;
    EXPECT_TRUE(TDownloadHistory(path).Load(&problem).empty()) << damaged;
    EXPECT_FALSE(problem.empty()) << damaged;
    EXPECT_NE(mltest::ReadAll(path).find("<MaxDownID>0</MaxDownID>"), std::string::npos) << "rebuilt and saved";
  }
}

TEST(DownloadHistory, TheManagerDeletesOnlyItsOwnTemporaryFiles) {
  mltest::TempDir dir;
  const std::string temp = dir.File("Temp") + "/";
  EnsureDirectory(temp);
  mltest::WriteAll(temp + "ours.mp3.lr!", "x");
  mltest::WriteAll(dir.File("precious.txt"), "keep me");
  TDownloadHistory h(dir.File("SaveDownFiles.xml"));
  h.Load();
  for (const std::string& name : {temp + "ours.mp3.lr!", dir.File("precious.txt")}) {
    THistoryEntry e;
    e.FileSize = 5000;
    e.FileHash.v[0] = uint8_t(name.size());
    e.TempFileName = name;
    e.RecvTable = "05";  // not a table: the entry cannot be restored
    h.Write(e);
  }
  EventLoop loop;
  TLRUDPClient udp(&loop);
  {
    TminiLRMFTP m(udp, loop, loop.Clock());
    m.SetXmlFileName(dir.File("SaveDownFiles.xml"));
    m.SetTempFileDirectory(temp);
    m.SetActive(true);
    EXPECT_TRUE(m.DownFiles().empty());
  }
  EXPECT_FALSE(FileExists(temp + "ours.mp3.lr!"));
  EXPECT_EQ(mltest::ReadAll(dir.File("precious.txt")), "keep me");
  EXPECT_TRUE(TDownloadHistory(dir.File("SaveDownFiles.xml")).Load().empty());
}

}  // namespace
