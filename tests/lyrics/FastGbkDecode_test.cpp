#include "lyrics/FastGbkDecode.h"
#include "base/GbkText.h"

#include <gtest/gtest.h>
#include <random>

namespace {

std::string Fast(std::string_view gbk) {
  std::string out;
  ml::AppendGbkAsUtf8(out, gbk);
  return out;
}

TEST(FastGbkDecodeTest, AgreesWithTheBaseConverter) {
  // Every single byte and every two-byte pair, alone and followed by ASCII.
  for (int a = 0; a < 256; ++a) {
    std::string one(1, static_cast<char>(a));
    ASSERT_EQ(Fast(one), ml::GbkToUtf8(one)) << a;
    for (int b = 0; b < 256; ++b) {
      std::string two = one + static_cast<char>(b) + "x";
      ASSERT_EQ(Fast(two), ml::GbkToUtf8(two)) << a << " " << b;
    }
  }
  // Four-byte forms: first and last of the BMP range, a supplementary character, U+FFFD's own
  // code, and ones out of range.
  for (std::string four : {"\x81\x30\x81\x30", "\x84\x31\xA4\x39", "\x95\x32\x82\x36", "\x84\x31\xA4\x37",
                           "\x84\x31\xA5\x30", "\xFE\x39\xFE\x39", "\x81\x30\x81"}) {
    EXPECT_EQ(Fast(four + "a"), ml::GbkToUtf8(four + "a"));
  }
  // Random text weighted toward lead bytes, digits and brackets.
  std::mt19937 rng(7);
  const std::string alphabet = "\x81\x8A\xB0\xC4\xFE\xFF\x80\x30\x35\x39\x5D\x5B\x7C\x7F\x40\xA1 a\n";
  for (int round = 0; round < 2000; ++round) {
    std::string s;
    for (int k = 0; k < 24; ++k) s += alphabet[rng() % alphabet.size()];
    ASSERT_EQ(Fast(s), ml::GbkToUtf8(s));
  }
}

}  // namespace
