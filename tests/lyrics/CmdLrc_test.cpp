// The lrc command end to end: the real binary on a real file, its JSON judged by Python's parser.
#include "tests/lyrics/LyricTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::string Cli() { return mltest::BinDir() + "/minilirra-cli"; }

TEST(CmdLrcTest, JsonListsDisplayTimesAndTheCurrentLine) {
  mltest::TempDir dir;
  const std::string file = dir.File("song.lrc");
  mltest::WriteAll(file, lyricstest::Encode("[offset:500]\r\n[00:01.00]第一句\r\n[00:12.00][01:30.00]\"副歌\"\\\r\n",
                                            ml::TLyricEncoding::Gbk));
  int code = -1;
  // Python reads the JSON and prints what it found, one fact a line.
  std::string out = mltest::RunCapture(
      Cli() + " lrc --json '" + file + "' --at 11600 | python3 -c 'import json,sys; d=json.load(sys.stdin); "
      "print(d[\"offset\"]); print(d[\"current\"]); "
      "[print(l[\"time\"], l[\"text\"]) for l in d[\"lines\"]]'",
      &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, "500\n1\n500 第一句\n11500 \"副歌\"\\\n89500 \"副歌\"\\\n");

  out = mltest::RunCapture(Cli() + " lrc --json '" + file + "' --at 100 | python3 -c 'import json,sys; "
                                   "print(json.load(sys.stdin)[\"current\"])'", &code);
  EXPECT_EQ(out, "-1\n");

  out = mltest::RunCapture(Cli() + " lrc '" + file + "' --at 12000", &code);
  EXPECT_EQ(code, 0);
  EXPECT_NE(out.find("[00:11.500] \"副歌\"\\"), std::string::npos) << out;
  EXPECT_NE(out.find("at 00:12.000: sung line 2 of 3"), std::string::npos) << out;
}

// Header tags are the song's facts, not lines anybody sings (with an offset they would show at
// a negative time); a time tag without words is a pause that ends the line before it.
TEST(CmdLrcTest, HeaderTagsAreNoLinesAndPausesAre) {
  mltest::TempDir dir;
  const std::string file = dir.File("song.lrc");
  mltest::WriteAll(file, "[ti:歌名]\n[ar:歌手]\n[offset:500]\n[00:01.00]一\n[00:05.00]\n[00:12.00]二\n");
  int code = -1;
  std::string out = mltest::RunCapture(
      Cli() + " lrc --json '" + file + "' --at 6000 | python3 -c 'import json,sys; d=json.load(sys.stdin); "
      "print(d[\"header\"][\"title\"], d[\"header\"][\"artist\"], d[\"current\"]); "
      "[print(l[\"time\"], repr(l[\"text\"])) for l in d[\"lines\"]]'",
      &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, "歌名 歌手 1\n500 '一'\n4500 ''\n11500 '二'\n");
  out = mltest::RunCapture(Cli() + " lrc '" + file + "' --at 100", &code);
  EXPECT_NE(out.find("title:  歌名"), std::string::npos) << out;
  EXPECT_NE(out.find("at 00:00.100: before the first sung line"), std::string::npos) << out;
}

TEST(CmdLrcTest, ErrorsSayWhatIsWrong) {
  mltest::TempDir dir;
  int code = -1;
  std::string out = mltest::RunCapture(Cli() + " lrc '" + dir.File("none.lrc") + "' 2>&1", &code);
  EXPECT_EQ(code, 1);
  EXPECT_NE(out.find("none.lrc"), std::string::npos) << out;

  mltest::RunCapture(Cli() + " lrc 2>&1", &code);
  EXPECT_EQ(code, 2);
  out = mltest::RunCapture(Cli() + " lrc x.lrc --at soon 2>&1", &code);
  EXPECT_EQ(code, 2);
  EXPECT_NE(out.find("--at"), std::string::npos) << out;
}

}  // namespace
