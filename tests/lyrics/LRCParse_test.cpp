#include "lyrics/LRCParse.h"
#include "tests/lyrics/LyricTestUtil.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

using ml::TLineInfo;
using ml::TLRCParse;
using ml::TLyricEncoding;

namespace {

struct Line {
  int32_t time;
  std::string text;
  bool operator==(const Line&) const = default;
};

std::vector<Line> LinesOf(const TLRCParse& p) {
  std::vector<Line> out;
  for (const auto& l : p.Lines) out.push_back({l.Time, l.Text});
  return out;
}

void PrintTo(const Line& l, std::ostream* os) { *os << "{" << l.time << ", \"" << l.text << "\"}"; }

struct ParseCase {
  const char* name;
  std::string lrc;  // UTF-8; written out in every encoding
  std::vector<Line> lines;
  int32_t offset = 0;
};

const std::vector<ParseCase>& ParseCases() {
  static const std::vector<ParseCase> cases = {
      {"one line, two times", "[00:12.00][01:30.00]副歌\r\n", {{12000, "副歌"}, {90000, "副歌"}}},
      {"title first", "[ti:歌名]\r\n[00:01.00]第一句\r\n", {{0, "歌名"}, {1000, "第一句"}}},
      {"text tags in any case, value kept as written",
       "[Ti: 歌名]\n[AR:歌手]\n[al:专辑]\n[by:制作]\n[00:02]词\n",
       {{0, " 歌名"}, {0, "歌手"}, {0, "专辑"}, {0, "制作"}, {2000, "词"}}},
      {"fraction digits", "[01:02.5]甲\n[1:02.50]乙\n[01:02.500]丙\n[00:05]丁\n[00:06.]戊\n",
       {{5000, "丁"}, {6000, "戊"}, {62500, "甲"}, {62500, "乙"}, {62500, "丙"}}},
      {"rounded to the millisecond", "[00:01.0005]上\n[00:01.0004]下\n", {{1000, "下"}, {1001, "上"}}},
      {"colon fraction and hours", "[01:02:50]甲\n[1:00:00.25]乙\n[ 00 : 03.00 ]丙\n",
       {{3000, "丙"}, {62500, "甲"}, {3600250, "乙"}}},
      {"out-of-range and non-time tags dropped",
       "[99999999:00]甲\n[1:60:00.00]乙\n[-1:00]丙\n[la:cn]丁\n[00:xx]戊\n[00:01]己\n", {{1000, "己"}}},
      {"a pause line is an empty line: the line before it ends",
       "[00:10]一\n[00:20.00]\n[00:30]三\n", {{10000, "一"}, {20000, ""}, {30000, "三"}}},
      {"text kept untrimmed, empty pair is text", "[00:01] 空格 \n[00:02][]文\n",
       {{1000, " 空格 "}, {2000, "[]文"}}},
      {"a later bracket moves the tag start", "[乱[00:03]字\n", {{3000, "字"}}},
      {"text tag last on the line", "[00:01][ti:标题]多余\n[00:05]词\n", {{0, "标题"}, {5000, "词"}}},
      {"CR, LF and CR LF", "[00:01]甲\r[00:02]乙\n[00:03]丙\r\n[00:04]丁", {{1000, "甲"}, {2000, "乙"}, {3000, "丙"}, {4000, "丁"}}},
      {"stable order and late title tags", "[00:05]乙\n[ti:题]\n[00:01]甲\n[00:05]丙\n",
       {{0, "题"}, {1000, "甲"}, {5000, "乙"}, {5000, "丙"}}},
      {"only title tags: nothing to show", "[ti:歌]\n[ar:人]\n", {}},
      {"only time zero: nothing to show", "[00:00.00]开始\n", {}},
      {"offset with blank and sign", "[offset: -300]\n[00:10]词\n", {{10000, "词"}}, -300},
      {"offset with plus", "[offset:+500]\n[00:10]词\n", {{10000, "词"}}, 500},
      {"offset not a number", "[offset:五百]\n[00:10]词\n", {{10000, "词"}}, 0},
      {"offset clamped to what the menu can step", "[offset:100000]\n[00:10]词\n", {{10000, "词"}}, 59999},
      {"word tags are timing, not text", "[00:10.00]<00:10.00>你<00:10.50>好 <00:11.00>\n[00:12]I <3 you>\n",
       {{10000, "你好 "}, {12000, "I <3 you>"}}},
      {"word tags alone make a pause", "[00:10.00]<00:10.00><00:11.00>\n[00:12]词\n", {{10000, ""}, {12000, "词"}}},
  };
  return cases;
}

TEST(LRCParseTest, TableOfSnippetsInEveryEncoding) {
  for (const auto& c : ParseCases()) {
    for (TLyricEncoding enc : lyricstest::kAllEncodings) {
      SCOPED_TRACE(std::string(c.name) + " / " + ml::LyricEncodingName(enc));
      TLRCParse p;
      std::string error;
      ASSERT_TRUE(p.LoadFromBytes(lyricstest::Encode(c.lrc, enc), &error)) << error;
      EXPECT_EQ(p.Encoding, enc);
      EXPECT_EQ(LinesOf(p), c.lines);
      EXPECT_EQ(p.Count(), static_cast<int32_t>(c.lines.size()));
      EXPECT_EQ(p.Offset, c.offset);
      EXPECT_TRUE(p.Loaded);
    }
  }
}

TEST(LRCParseTest, EncodingDetection) {
  struct {
    std::string bytes;
    TLyricEncoding expected;
  } cases[] = {
      {"", TLyricEncoding::Utf8},
      {"[00:01]plain ascii, longer than one eight-byte word\n", TLyricEncoding::Utf8},
      {"[00:01]\xE4\xBD\xA0\xE5\xA5\xBD", TLyricEncoding::Utf8},
      {"[00:01]\xE4\xBD" "a", TLyricEncoding::Gbk},          // cut short by an ASCII byte
      {"[00:01]abcdefgh\xC4\xE3", TLyricEncoding::Gbk},      // 你 in GBK after a full word
      {"[00:01]\xED\xA0\x80", TLyricEncoding::Gbk},          // a surrogate is no UTF-8
      {"\xEF\xBB\xBF\xC4\xE3", TLyricEncoding::Utf8Bom},    // the BOM wins
      {"\xFF\xFE[\x00", TLyricEncoding::Utf16LE},
      {"\xFE\xFF\x00[", TLyricEncoding::Utf16BE},
  };
  for (const auto& c : cases) EXPECT_EQ(ml::DetectLyricEncoding(c.bytes), c.expected) << c.bytes;
}

TEST(LRCParseTest, TimeTagsBeyondWhatALineHoldsAreIgnored) {
  std::string line;
  for (int i = 1; i <= 70; ++i) line += "[00:" + std::to_string(i) + "]";
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromBytes(line + "x\n"));
  ASSERT_EQ(p.Count(), TLRCParse::MaxTimeTagsPerLine);
  EXPECT_EQ(p.Lines.back().Time, 65000);
}

TEST(LRCParseTest, GbkSecondBytesThatLookLikeSyntaxStayText) {
  // 奭 = 8A 5D ("]" second byte), 乕 = 81 5B ("["), 亅 = 81 7C ("|"), 乚 = 81 5D.
  const std::string gbk = "[ti:\x8A\x5D\x81\x5B]\r\n"
                          "[00:01.00]\x8A\x5D\x81\x5B\x81\x7C\r\n"
                          "[00:02.00]\x81\x5D[x]\x81\x5D\r\n";
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromBytes(gbk));
  EXPECT_EQ(p.Encoding, TLyricEncoding::Gbk);
  EXPECT_EQ(LinesOf(p), (std::vector<Line>{{0, "奭乕"}, {1000, "奭乕亅"}, {2000, "乚"}}));
}

TEST(LRCParseTest, WordTimesPointIntoTheText) {
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromBytes(lyricstest::Encode("[00:10.00]<00:10.00>你<00:10.50>好 <00:11.00>\n",
                                                 TLyricEncoding::Gbk)));
  ASSERT_EQ(p.Count(), 1);
  const auto& words = p.Lines[0].Words;
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[0].Time, 10000);
  EXPECT_EQ(words[0].Start, 0u);
  EXPECT_EQ(words[1].Time, 10500);
  EXPECT_EQ(words[1].Start, 3u);  // after the three UTF-8 bytes of 你
  EXPECT_EQ(words[2].Time, 11000);
  EXPECT_EQ(words[2].Start, p.Lines[0].Text.size());
}

TEST(LRCParseTest, LineLookupAppliesTheOffset) {
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromBytes("[offset:500]\n[ti:t]\n[00:01]a\n[00:10]b\n[00:10]c\n[00:20]d\n"));
  struct Case {
    int32_t t;
    int32_t index, start, length;
    const char* text;
    int32_t found;
  } cases[] = {
      {-1000, 0, 0, 0, "", -1},      // before the first line: the cleared answer
      {-500, 0, -500, 1000, "t", 0},
      {0, 0, -500, 1000, "t", 0},
      {9499, 1, 500, 9000, "a", 1},
      {9500, 3, 9500, 10000, "c", 3},  // of two lines at one time the later one is sung
      {19500, 4, 19500, 60000, "d", 4},
      {2000000000, 4, 19500, 60000, "d", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.t);
    TLineInfo info;
    ASSERT_TRUE(p.GetLineAt(c.t, info));
    EXPECT_EQ(info.Index, c.index);
    EXPECT_EQ(info.Start, c.start);
    EXPECT_EQ(info.Length, c.length);
    EXPECT_EQ(info.Text, c.text);
    EXPECT_EQ(p.FindLineIndex(c.t), c.found);
  }

  TLineInfo info;
  ASSERT_TRUE(p.GetNextLine(3, info));
  EXPECT_EQ(info.Index, 4);
  EXPECT_EQ(info.Length, 60000);
  ASSERT_TRUE(p.GetNextLine(-1, info));
  EXPECT_EQ(info.Text, "t");
  EXPECT_FALSE(p.GetNextLine(4, info));
  ASSERT_TRUE(p.GetPrevLine(1, info));
  EXPECT_EQ(info.Index, 0);
  EXPECT_EQ(info.Start, -500);
  EXPECT_EQ(info.Length, 1000);
  ASSERT_TRUE(p.GetPrevLine(4, info));
  EXPECT_EQ(info.Length, 10000);
  EXPECT_FALSE(p.GetPrevLine(0, info));
  EXPECT_FALSE(p.GetPrevLine(5, info));

  EXPECT_EQ(p.GetText(), "\r\nt\r\na\r\nb\r\nc\r\nd");

  TLRCParse empty;
  EXPECT_FALSE(empty.GetLineAt(0, info));
  EXPECT_EQ(empty.FindLineIndex(0), -1);
  EXPECT_EQ(empty.GetText(), "");
}

TEST(LRCParseTest, OffsetStepsStopAtAMinute) {
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromBytes("[00:10]a\n"));
  for (int i = 0; i < 119; ++i) p.SetOffset(p.Offset + 500);
  EXPECT_EQ(p.Offset, 59500);
  EXPECT_TRUE(p.Modified);
  p.SetOffset(60000);
  EXPECT_EQ(p.Offset, 59500);
  p.SetOffset(-59999);
  EXPECT_EQ(p.Offset, -59999);
  p.SetOffset(-60000);
  EXPECT_EQ(p.Offset, -59999);

  TLRCParse q;
  ASSERT_TRUE(q.LoadFromBytes("[00:10]a\n"));
  q.SetOffset(0);  // no change, nothing to save
  EXPECT_FALSE(q.Modified);
}

TEST(LRCParseTest, FilesThatAreNoLyricsAreRefused) {
  mltest::TempDir dir;
  TLRCParse p;
  std::string error;

  EXPECT_FALSE(p.LoadFromFile("", &error));
  EXPECT_FALSE(p.LoadFromFile(dir.File("missing.lrc"), &error));
  EXPECT_NE(error.find("missing.lrc"), std::string::npos);
  EXPECT_TRUE(p.FileName.empty());

  // A song dropped on the lyric window: far too big, refused before reading.
  std::string big = dir.File("song.mp3");
  mltest::WriteAll(big, "[00:01]x\n");
  std::filesystem::resize_file(big, TLRCParse::MaxFileSize + 1);
  EXPECT_FALSE(p.LoadFromFile(big, &error));
  EXPECT_NE(error.find("not a lyric file"), std::string::npos) << error;
  EXPECT_TRUE(p.FileName.empty());

  std::string binary = dir.File("cover.lrc");
  mltest::WriteAll(binary, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR[00:01]x", 23));
  EXPECT_FALSE(p.LoadFromFile(binary, &error));
  EXPECT_NE(error.find("binary"), std::string::npos) << error;
  EXPECT_TRUE(p.FileName.empty());
  EXPECT_FALSE(p.Loaded);

  // Plain text without a single tag: not loaded, but still the file in hand.
  std::string plain = dir.File("plain.lrc");
  mltest::WriteAll(plain, "just words\n");
  EXPECT_FALSE(p.LoadFromFile(plain, &error));
  EXPECT_EQ(p.FileName, plain);
  EXPECT_FALSE(p.Loaded);
  EXPECT_EQ(p.Count(), 0);

  std::string good = dir.File("good.lrc");
  mltest::WriteAll(good, lyricstest::Encode("[00:01]好\n", TLyricEncoding::Utf16LE));
  ASSERT_TRUE(p.LoadFromFile(good, &error)) << error;
  EXPECT_EQ(p.FileName, good);
  EXPECT_EQ(LinesOf(p), (std::vector<Line>{{1000, "好"}}));
  p.ClearLines();
  EXPECT_TRUE(p.FileName.empty());
  EXPECT_EQ(p.Count(), 0);
  EXPECT_FALSE(p.Loaded);
}

}  // namespace

TEST(LRCParseTest, HeaderTagsAreKeptByName) {
  TLRCParse p;
  ASSERT_TRUE(p.LoadFromBytes("[Ti: 歌名]\n[AR:歌手]\n[00:02]词\n[al:专辑]\n"));
  using Tag = std::pair<std::string, std::string>;
  EXPECT_EQ(p.Header, (std::vector<Tag>{{"ti", " 歌名"}, {"ar", "歌手"}, {"al", "专辑"}}));
  EXPECT_EQ(p.TagCount, 3);
}
