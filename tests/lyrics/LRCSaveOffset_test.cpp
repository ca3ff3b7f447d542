#include "lyrics/LRCParse.h"
#include "tests/lyrics/LyricTestUtil.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using ml::TLRCParse;
using ml::TLyricEncoding;

namespace {

struct SaveCase {
  const char* name;
  std::string before;  // UTF-8, written out in the encoding below
  int32_t offset;
  std::string after;
  int32_t offsetLine;
};

// Only the offset's digits change, or one line appears at the top in the file's own line ending.
const std::vector<SaveCase>& SaveCases() {
  static const std::vector<SaveCase> cases = {
      {"value replaced in place", "[ti:歌]\r\n[OFFSET: -300]\r\n[00:01]词\r\n", 1500,
       "[ti:歌]\r\n[OFFSET:1500]\r\n[00:01]词\r\n", 1},
      {"the effective (last) tag is edited", "[offset:1]\n[00:01]词\n[offset:2]\n", -700,
       "[offset:1]\n[00:01]词\n[offset:-700]\n", 2},
      {"other tags on the line survive", "[ti:歌][offset:5]\r[00:01]词\r", 250, "[ti:歌][offset:250]\r[00:01]词\r", 0},
      {"no tag: a line at the top, LF file", "[00:01]词\n[00:02]句\n", -1000,
       "[offset:-1000]\n[00:01]词\n[00:02]句\n", 0},
      {"no tag: a line at the top, CR LF file", "[00:01]词\r\n", 500, "[offset:500]\r\n[00:01]词\r\n", 0},
      {"no tag and no line break", "[00:01]词", 500, "[offset:500]\r\n[00:01]词", 0},
      {"a value that is no number is replaced", "[offset:0e]\n[00:01]词\n", 300, "[offset:300]\n[00:01]词\n", 0},
  };
  return cases;
}

TEST(LRCSaveOffsetTest, KeepsEveryOtherByteInEveryEncoding) {
  mltest::TempDir dir;
  for (const auto& c : SaveCases()) {
    for (TLyricEncoding enc : lyricstest::kAllEncodings) {
      SCOPED_TRACE(std::string(c.name) + " / " + ml::LyricEncodingName(enc));
      const std::string path = dir.File("song.lrc");
      mltest::WriteAll(path, lyricstest::Encode(c.before, enc));
      TLRCParse p;
      std::string error;
      ASSERT_TRUE(p.LoadFromFile(path, &error)) << error;
      p.SetOffset(c.offset);
      ASSERT_TRUE(p.Modified);
      ASSERT_TRUE(p.SaveOffset(&error)) << error;
      EXPECT_FALSE(p.Modified);
      EXPECT_EQ(p.OffsetLine, c.offsetLine);
      EXPECT_EQ(mltest::ReadAll(path), lyricstest::Encode(c.after, enc));

      TLRCParse reread;
      ASSERT_TRUE(reread.LoadFromFile(path));
      EXPECT_EQ(reread.Offset, c.offset);
      EXPECT_EQ(reread.Encoding, enc);
    }
  }
}

TEST(LRCSaveOffsetTest, FindsTheTagAgainInTheFileAsItIsNow) {
  mltest::TempDir dir;
  const std::string path = dir.File("a.lrc");
  mltest::WriteAll(path, "[offset:0]\n[00:01]a\n");
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromFile(path));
  EXPECT_EQ(p.OffsetLine, 0);
  // Edited elsewhere meanwhile: the tag moved down two lines.
  mltest::WriteAll(path, "[ti:new]\n[ar:x]\n[offset:0]\n[00:01]a\n");
  p.SetOffset(2000);
  ASSERT_TRUE(p.SaveOffset());
  EXPECT_EQ(mltest::ReadAll(path), "[ti:new]\n[ar:x]\n[offset:2000]\n[00:01]a\n");
  EXPECT_EQ(p.OffsetLine, 2);
}

TEST(LRCSaveOffsetTest, KeepsPermissionsAndWritesThroughLinks) {
  mltest::TempDir dir;
  const std::string real = dir.File("real.lrc"), link = dir.File("link.lrc");
  mltest::WriteAll(real, "[00:01]a\n");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  std::filesystem::create_symlink(real, link);
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromFile(link));
  p.SetOffset(-500);
  ASSERT_TRUE(p.SaveOffset());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(mltest::ReadAll(real), "[offset:-500]\n[00:01]a\n");
  struct stat st{};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LRCSaveOffsetTest, FailureIsReportedAndTheChangeKept) {
  mltest::TempDir dir;
  const std::string path = dir.File("gone.lrc");
  mltest::WriteAll(path, "[00:01]a\n");
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromFile(path));
  p.SetOffset(1000);
  std::filesystem::remove(path);
  std::string error;
  EXPECT_FALSE(p.SaveOffset(&error));
  EXPECT_NE(error.find("gone.lrc"), std::string::npos) << error;
  EXPECT_TRUE(p.Modified);
  EXPECT_FALSE(std::filesystem::exists(path));

  // Replaced by something that is no lyric file: left alone.
  mltest::WriteAll(path, std::string("ID3\0\0\0", 6));
  EXPECT_FALSE(p.SaveOffset(&error));
  EXPECT_EQ(mltest::ReadAll(path), std::string("ID3\0\0\0", 6));

  // The effective tag holds bytes that are no text of this file's encoding: they may be all
  // that makes the file GBK, and the same bytes without them would read as UTF-8 with other
  // tags (here the GBK pair A2 5B hides a "[").
  const std::string gbk = std::string("[00:01]\xef\xbf\xa2[offset:7]\n[offset:~\xff\xff]\n", 34);
  mltest::WriteAll(path, gbk);
  TLRCParse odd;
  ASSERT_TRUE(odd.LoadFromFile(path));
  EXPECT_EQ(odd.Offset, 0);
  odd.SetOffset(900);
  EXPECT_FALSE(odd.SaveOffset(&error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  EXPECT_EQ(mltest::ReadAll(path), gbk);
  EXPECT_TRUE(odd.Modified);

  // Nothing loaded from a file: nothing to write.
  TLRCParse bytes;
  ASSERT_TRUE(bytes.LoadFromBytes("[00:01]a\n"));
  bytes.SetOffset(100);
  EXPECT_TRUE(bytes.SaveOffset());
  EXPECT_FALSE(bytes.Modified);
}

}  // namespace
