#include "base/GbkText.h"

#include <gtest/gtest.h>

using namespace ml;

TEST(GbkText, RoundTripsChineseText) {
  const std::string utf8 = "迷你琴鸟播放器：歌词同步";
  std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk.size(), 24u);  // twelve two-byte characters
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
}

TEST(GbkText, CipherKeyIsSixteenBytes) {
  std::string gbk = Utf8ToGbk("#Tqe~7kRV38=他yo");
  ASSERT_EQ(gbk.size(), 16u);
  EXPECT_EQ(gbk.substr(12, 2), "\xCB\xFB");
}

TEST(GbkText, DecodesGb18030FourByteCharacters) {
  // U+20000 (CJK extension B) exists only in GB18030's four-byte form.
  EXPECT_EQ(GbkToUtf8("\x95\x32\x82\x36"), "\xF0\xA0\x80\x80");
  // The euro sign: GBK's single byte 0x80.
  EXPECT_EQ(GbkToUtf8("a\xA2\xE3z"), "a€z");
}

TEST(GbkText, CharactersWithoutGbkFormBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToGbk("a한b"), "a?b");            // Hangul syllable: not in GBK
  EXPECT_EQ(Utf8ToGbk("x\xF0\x9F\x8E\xB5y"), "x?y");  // emoji
  EXPECT_EQ(Utf8ToGbk("bad\xFFtail"), "bad?tail");     // invalid UTF-8 byte
}

TEST(GbkText, BrokenGbkBecomesReplacementCharacters) {
  EXPECT_EQ(GbkToUtf8("ok\x81"), "ok\xEF\xBF\xBD");  // lead byte cut off at the end
}

TEST(GbkText, Utf8Validation) {
  struct Case { const char* text; bool valid; } cases[] = {
      {"plain", true}, {"中文", true}, {"\xC0\xAF", false} /* overlong */,
      {"\xED\xA0\x80", false} /* surrogate */, {"\xF4\x90\x80\x80", false} /* > U+10FFFF */,
      {"\xE4\xB8", false} /* truncated */, {"\xF0\x9F\x8E\xB5", true}};
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
  // Decoding takes the same view: every byte of a sequence that is not valid is U+FFFD.
  EXPECT_EQ(Utf8ToCodePoints("A中\xF0\x9F\x8E\xB5"), (std::u32string{U'A', U'中', U'\U0001F3B5'}));
  EXPECT_EQ(Utf8ToCodePoints("\xC0\xAF" "b\xE4\xB8"), (std::u32string{0xFFFD, 0xFFFD, U'b', 0xFFFD, 0xFFFD}));
}

TEST(GbkText, Utf16BothWaysWithSurrogates) {
  const std::string utf8 = "A中\xF0\x9F\x8E\xB5";
  std::string le = Utf8ToUtf16LE(utf8);
  EXPECT_EQ(le.size(), 8u);
  EXPECT_EQ(Utf16ToUtf8(le), utf8);
  std::string be;
  for (size_t i = 0; i < le.size(); i += 2) be += std::string{le[i + 1], le[i]};
  EXPECT_EQ(Utf16ToUtf8(be, true), utf8);
  EXPECT_EQ(Utf16ToUtf8(std::string("\x00\xD8", 2)), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(GbkText, CharacterAwareTruncation) {
  std::string gbk = Utf8ToGbk("歌]词");  // 0xB8E8 0x5D 0xB4CA
  EXPECT_EQ(GbkCharLength(gbk, 0), 2u);
  EXPECT_EQ(GbkTruncate(gbk, 4), gbk.substr(0, 3));
  EXPECT_EQ(GbkTruncate(gbk, 1), "");
  EXPECT_EQ(Utf8ToGbkTruncated("歌]词", 4), gbk.substr(0, 3));
  // "]" (0x5D) can be a trail byte: 0x815D is one character.
  EXPECT_EQ(GbkCharLength("\x81\x5D", 0), 2u);
}
