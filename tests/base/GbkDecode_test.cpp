// The table-driven GBK decoder against glibc's GB18030 converter, over every single byte, every
// pair, the four-byte forms and random text.
#include "base/GbkText.h"
#include "tests/support/IconvReference.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using mltest::IconvGb18030ToUtf8;

TEST(GbkDecode, AgreesWithTheSystemConverter) {
  // Every single byte and every two-byte pair, alone and followed by ASCII.
  for (int a = 0; a < 256; ++a) {
    std::string one(1, static_cast<char>(a));
    ASSERT_EQ(ml::GbkToUtf8(one), IconvGb18030ToUtf8(one)) << a;
    for (int b = 0; b < 256; ++b) {
      std::string two = one + static_cast<char>(b) + "x";
      ASSERT_EQ(ml::GbkToUtf8(two), IconvGb18030ToUtf8(two)) << a << " " << b;
    }
  }
  // Four-byte forms: first and last of the BMP range, a supplementary character, U+FFFD's own
  // code, and ones out of range.
  for (std::string four : {"\x81\x30\x81\x30", "\x84\x31\xA4\x39", "\x95\x32\x82\x36", "\x84\x31\xA4\x37",
                           "\x84\x31\xA5\x30", "\xFE\x39\xFE\x39", "\x81\x30\x81"}) {
    EXPECT_EQ(ml::GbkToUtf8(four + "a"), IconvGb18030ToUtf8(four + "a"));
  }
  // Random text weighted toward lead bytes, digits and brackets; appending keeps what was there.
  std::mt19937 rng(7);
  const std::string alphabet = "\x81\x8A\xB0\xC4\xFE\xFF\x80\x30\x35\x39\x5D\x5B\x7C\x7F\x40\xA1 a\n";
  for (int round = 0; round < 2000; ++round) {
    std::string s;
    for (int k = 0; k < 24; ++k) s += alphabet[rng() % alphabet.size()];
    ASSERT_EQ(ml::GbkToUtf8(s), IconvGb18030ToUtf8(s));
    std::string appended = "head";
    ml::AppendGbkAsUtf8(appended, s);
    ASSERT_EQ(appended, "head" + IconvGb18030ToUtf8(s));
  }
}

}  // namespace
