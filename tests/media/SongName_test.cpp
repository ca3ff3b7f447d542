// Captions and file names into search words.
#include "media/uSongName.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Parsed {
  std::vector<std::string> parts, remarks;
};

Parsed Parse(const std::string& caption) {
  ml::TSongNameParts r;
  ml::ParseSongName(caption, r);
  Parsed p;
  for (int i = 0; i < r.PartCount; ++i) p.parts.push_back(r.Part(i));
  for (int i = 0; i < r.BracketCount; ++i) p.remarks.push_back(r.Bracket(i));
  return p;
}

using V = std::vector<std::string>;

}  // namespace

TEST(SongName, Captions) {
  struct Case {
    std::string caption;
    V parts;
    V remarks;
  } cases[] = {
      {"张三 - 春天.mp3", {"张三", "春天"}, {}},
      {"李四-小河(live版).mp3", {"李四", "小河"}, {"live版"}},
      {"01.张三-秋叶", {"张三", "秋叶"}, {}},
      {"Track 01 - 秋叶", {"秋叶"}, {}},
      {"复件 张三 - 春天", {"张三", "春天"}, {}},
      {"Don’t Cry - Blue Sky", {"Don't Cry", "Blue Sky"}, {}},
      {"Jane Doe - Summer Rain (remix).mp3", {"Jane Doe", "Summer Rain"}, {"remix"}},
      {"Bluebird - 大海", {"Bluebird", "大海"}, {}},
      {"Bluebird乐队 - 大海", {"Bluebird", "乐队", "大海"}, {}},
      {"王五 - K歌之夜（粤语版）.wma", {"王五", "K歌之夜"}, {"粤语版"}},
      {"王五《红豆》", {"王五", "红豆"}, {}},
      {"张三、李四 - 一起", {"张三", "李四", "一起"}, {}},
      {"张三·春天", {"张三·春天"}, {}},
      {"Foo - Bar - Baz - Qux - Quux - Last (HQ)", {"Foo", "Bar", "Baz", "Qux"}, {}},
      {"Foo - Bar - Baz - Qux - Quux (HQ)", {"Foo", "Bar", "Baz", "Qux"}, {"HQ"}},
      {"张三 - 春天 - 张三", {"张三", "春天"}, {}},
      {"张三 a - 春天", {"张三", "a", "春天"}, {}},
      {"Foo - 12a", {"Foo"}, {}},
      {"Foo - 12ab", {"Foo", "12ab"}, {}},
      {"Hello  World - Foo", {"Hello World", "Foo"}, {}},
      {"Foo:Bar", {"FooBar"}, {}},
      {"abc!!!def", {"abc!def"}, {}},
      {"a", {}, {}},
      {"mp3", {}, {}},
      {"", {}, {}},
      // Digits parts: 4 to 7 digits survive, with separators only between digits.
      {"2008 - 1,000 - 1.5 - 128", {"2008", "1,000"}, {}},
      // Case matters in the noise words; "版" inside a short part rejects it.
      {"DJ - Remix - 新版 - dj", {"DJ", "Remix"}, {}},
      {"歌手 [现场] {伴奏}", {"歌手"}, {"现场", "伴奏"}},
      {"Under_score_name", {"Under score name"}, {}},
      // A bracket with no partner is dropped and ends the part.
      {"Open (bracket", {"Open", "bracket"}, {}},
      // A NUL ends the caption; the unfinished part is lost.
      {std::string("Foo - Bar\0Baz", 13), {"Foo"}, {}},
      // GBK characters whose second byte is "]" (乚, 0x81 0x5D) or "\\" (乗, 0x81 0x5C) are whole
      // characters: the first does not close the bracket, the second is not dropped.
      {"歌手 [乚] 新歌", {"歌手", "新歌"}, {"乚"}},
      {"乗车 - 歌", {"乗车", "歌"}, {}},
      // Characters outside GBK survive as whole characters.
      {"아이유 - 좋은 날", {"아이유", "좋은", "날"}, {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.caption);
    Parsed p = Parse(c.caption);
    EXPECT_EQ(p.parts, c.parts);
    EXPECT_EQ(p.remarks, c.remarks);
  }
}

TEST(SongName, LongAndBinaryCaptions) {
  // Only the first 255 bytes count; a part of 40 GBK bytes or more is noise.
  std::string longChinese;
  for (int i = 0; i < 20; ++i) longChinese += "长";
  EXPECT_EQ(Parse("歌手 - " + longChinese).parts, V{"歌手"});
  std::string huge(1000, 'x');
  ml::TSongNameParts r;
  ml::ParseSongName(huge, r);
  EXPECT_EQ(r.PartCount, 0);  // 255 letters are over the Latin limit of 60
  ml::ParseSongNameGbk(nullptr, 10, r);
  EXPECT_EQ(r.PartCount, 0);
}

TEST(SongName, Uses) {
  ml::TSongNameParts r;
  std::string singer, song;
  ml::ParseSongName("张三 - 春天 (live) (HQ).mp3", r);
  ml::LyricSearchNames(r, singer, song);
  EXPECT_EQ(singer, "张三");
  EXPECT_EQ(song, "春天");
  EXPECT_EQ(ml::RelatedSearchWords(r), (V{"张三", "春天", "live", "HQ"}));
  ml::ParseSongName("春天.mp3", r);
  ml::LyricSearchNames(r, singer, song);
  EXPECT_EQ(singer, "");
  EXPECT_EQ(song, "春天");
  ml::ParseSongName("张三 - 春天 (张三)", r);
  EXPECT_EQ(ml::RelatedSearchWords(r), (V{"张三", "春天"}));
}

TEST(SongName, TextHelpers) {
  struct Case {
    const char* text;
    const char* left;
    const char* right;
  } cases[] = {{"Artist - Song", "Artist", "Song"}, {"a-b-c", "a", "b-c"}, {"no hyphen", "", ""},
               {" \t-x\n", "", "x"}};
  for (auto& c : cases) {
    std::string l, r;
    ml::SplitAtHyphen(c.text, l, r);
    EXPECT_EQ(l, c.left) << c.text;
    EXPECT_EQ(r, c.right) << c.text;
  }
  EXPECT_EQ(ml::MakeSafeFileName(" A/B?C "), "A B C");
  EXPECT_EQ(ml::MakeSafeFileName("a\\b:c*d\"e<f>g!h|i"), "a b c d e f g h|i");
  EXPECT_EQ(ml::MakeSafeFileName("张三 - 春天"), "张三 - 春天");
}
