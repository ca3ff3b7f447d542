#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "net/LRCmdStream.h"

using ml::TCmdStream;

namespace {
std::vector<uint8_t> Composed(const TCmdStream& s) { return {s.Buffer(), s.Buffer() + s.Size()}; }
}  // namespace

TEST(CmdStream, NewStreamIsEmptyAndReadsGiveDefaults) {
  TCmdStream s;
  EXPECT_EQ(s.Buffer(), nullptr);
  EXPECT_EQ(s.Capacity(), 0);
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.ReadByte(146), 146);
  EXPECT_EQ(s.ReadInteger(-1), -1);
  s.WriteInteger(5);  // no buffer: skipped
  EXPECT_EQ(s.Size(), 0);
}

TEST(CmdStream, ScalarsAreLittleEndianAndWordsZeroExtended) {
  uint8_t buf[16];
  TCmdStream s;
  s.InitWrite(buf, sizeof buf);
  s.WriteWord(14);
  s.WriteInteger(-2);
  s.WriteByte(0xAB);
  s.WriteWord(0xFFFF);
  EXPECT_EQ(Composed(s), (std::vector<uint8_t>{14, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xAB, 0xFF, 0xFF}));
  s.InitRead(buf, s.Size());
  EXPECT_EQ(s.ReadWord(0), 14);
  EXPECT_EQ(s.ReadInteger(0), -2);
  EXPECT_EQ(s.ReadByte(0), 0xAB);
  EXPECT_EQ(s.ReadWord(0), 65535);  // not -1
  EXPECT_EQ(s.ReadByte(7), 7);
}

TEST(CmdStream, ReadsPastTheEndKeepPosition) {
  const uint8_t data[] = {1, 2, 3, 4, 5};
  TCmdStream s;
  s.InitRead(data, 5);
  s.Seek(2, 0);
  EXPECT_EQ(s.ReadInteger(-1), -1);  // 3 bytes left
  EXPECT_EQ(s.Position(), 2);
  uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_FALSE(s.ReadBuffer(out, 4));
  EXPECT_EQ(out[0], 9);
  EXPECT_TRUE(s.ReadBuffer(out, 3));
  EXPECT_EQ(out[2], 5);
  EXPECT_FALSE(s.ReadBuffer(out, -1));
}

TEST(CmdStream, ShortStringRules) {
  uint8_t buf[8];
  TCmdStream s;
  s.InitWrite(buf, sizeof buf);
  s.WriteShortString("abc");
  EXPECT_EQ(Composed(s), (std::vector<uint8_t>{3, 'a', 'b', 'c'}));
  EXPECT_EQ(s.Size(), 4);

  const uint8_t truncated[] = {5, 'a', 'b', 'c'};
  std::string text = "old";
  s.InitRead(truncated, 4);
  s.ReadShortString(text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(s.Position(), 1);

  // Too long for a length byte: refused whole rather than cut.
  std::vector<uint8_t> big(400);
  s.InitWrite(big.data(), int32_t(big.size()));
  s.WriteShortString(std::string(256, 'x'));
  EXPECT_EQ(s.Size(), 0);
  s.WriteShortString(std::string(255, 'x'));
  EXPECT_EQ(s.Size(), 256);
  // Length byte and body go in together or not at all.
  uint8_t small[3];
  s.InitWrite(small, 3);
  s.WriteShortString("abc");
  EXPECT_EQ(s.Size(), 0);
}

TEST(CmdStream, WordStringRules) {
  std::vector<uint8_t> buf(9000, 'z');
  buf[0] = 0x00;
  buf[1] = 0x20;  // 8192: refused, only the length word consumed
  TCmdStream s;
  s.InitRead(buf.data(), int32_t(buf.size()));
  std::string text = "old";
  s.ReadWordString(text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(s.Position(), 2);

  buf[0] = 0xFF;
  buf[1] = 0x1F;  // 8191: the longest accepted
  s.InitRead(buf.data(), int32_t(buf.size()));
  s.ReadWordString(text);
  EXPECT_EQ(text.size(), 8191u);
  EXPECT_EQ(s.Position(), 8193);

  const uint8_t zero[] = {0, 0, 'a'};
  s.InitRead(zero, 3);
  s.ReadWordString(text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(s.ReadByte(0), 'a');  // the body was not skipped
}

TEST(CmdStream, BlockRules) {
  uint8_t buf[16];
  TCmdStream s;
  s.InitWrite(buf, sizeof buf);
  s.WriteBlock(9, "ab");
  EXPECT_EQ(Composed(s), (std::vector<uint8_t>{6, 0, 0, 0, 9, 0, 0, 0, 'a', 'b'}));

  struct Case {
    int32_t length, value;
    bool ok;
  };
  for (Case c : {Case{1501, 7, false}, Case{4, 7, true}, Case{3, 7, false}, Case{-1, 7, false}}) {
    s.InitWrite(buf, sizeof buf);
    s.WriteInteger(c.length);
    s.WriteInteger(c.value);
    s.InitRead(buf, s.Size());
    int32_t value = 0;
    std::string text = "old";
    EXPECT_EQ(s.ReadBlock(value, text), c.ok) << c.length;
    EXPECT_EQ(value, 7);
    EXPECT_EQ(text, "");
    EXPECT_EQ(s.Position(), 8);
  }
  // A block whose body is missing fails after delivering the value.
  s.InitWrite(buf, sizeof buf);
  s.WriteInteger(20);
  s.WriteInteger(3);
  s.InitRead(buf, s.Size());
  int32_t value = 0;
  std::string text;
  EXPECT_FALSE(s.ReadBlock(value, text));
  EXPECT_EQ(value, 3);
}

TEST(CmdStream, SeekClampsAndUnknownOriginStays) {
  const uint8_t data[8] = {};
  TCmdStream s;
  s.InitRead(data, 8);
  EXPECT_EQ(s.Seek(-5, 0), 0);
  EXPECT_EQ(s.Seek(10, 2), 8);
  EXPECT_EQ(s.Seek(-3, 1), 5);
  EXPECT_EQ(s.Seek(2, 7), 5);
  EXPECT_EQ(s.Seek(INT32_MAX, 1), 8);  // no overflow
  EXPECT_EQ(s.Seek(INT32_MIN, 1), 0);
}

TEST(CmdStream, WritesThatDoNotFitAreSkipped) {
  uint8_t buf[7];
  TCmdStream s;
  s.InitWrite(buf, sizeof buf);
  s.WriteInteger(1);
  s.WriteInteger(2);  // 3 bytes of room
  EXPECT_EQ(s.Size(), 4);
  EXPECT_EQ(s.Position(), 4);
  s.WriteWord(3);
  s.WriteByte(4);
  EXPECT_EQ(s.Size(), 7);
  s.WriteByte(5);
  EXPECT_EQ(s.Size(), 7);
  s.WriteBuffer("x", 0);
  EXPECT_EQ(s.Size(), 7);
}

TEST(CmdStream, PatchingACountKeepsSize) {
  uint8_t buf[32];
  TCmdStream s;
  s.InitWrite(buf, sizeof buf);
  const int32_t at = s.Position();
  s.WriteByte(0);
  for (int i = 0; i < 3; ++i) s.WriteInteger(i);
  s.Seek(at, 0);
  s.WriteByte(3, true);
  EXPECT_EQ(s.Size(), 13);
  EXPECT_EQ(buf[0], 3);
  // WriteBuffer always adds to Size, even over bytes already counted, but Size never passes
  // Capacity, so a sender never hands out bytes beyond the buffer.
  s.Seek(0, 0);
  s.WriteBuffer("ab", 2);
  EXPECT_EQ(s.Size(), 15);
  uint8_t small[4];
  s.InitWrite(small, 4);
  s.WriteInteger(1);
  s.Seek(0, 0);
  s.WriteWord(2);
  EXPECT_EQ(s.Size(), 4);
}

TEST(CmdStream, ResetReadRereadsTheReplyInPlace) {
  uint8_t buf[16];
  TCmdStream s;
  s.InitWrite(buf, sizeof buf);
  s.WriteWord(17);
  s.WriteInteger(5);
  const uint8_t reply[] = {17, 0, 1};
  std::memcpy(buf, reply, 3);
  s.ResetRead(3);
  EXPECT_EQ(s.Seek(2, 0), 2);  // skip the command code
  EXPECT_EQ(s.ReadByte(0), 1);
  EXPECT_EQ(s.Capacity(), 16);
}
