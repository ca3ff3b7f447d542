#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "net/LREncrypt.h"
#include "base/GbkText.h"

using namespace ml;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

const Bytes kPayload = {14, 0, 'h', 'e', 'l', 'l', 'o'};
const TLRGUID kGuid{10, 3};

using Builder = size_t (*)(uint8_t*, size_t, TLRGUID, const void*, size_t);

Bytes Build(Builder b, const Bytes& payload, TLRGUID guid = kGuid) {
  Bytes out(Envelope::MaxDatagram + 8);
  out.resize(b(out.data(), out.size(), guid, payload.data(), payload.size()));
  return out;
}

Bytes Bare(const char* part, int32_t declared, const Bytes& payload, uint8_t kind = 'x') {
  Bytes d = {kind, 1, 0, 0, 0, 2, 0, 0, 0, uint8_t(48 + std::strlen(part))};
  d.insert(d.end(), part, part + std::strlen(part));
  for (int i = 0; i < 4; ++i) d.push_back(uint8_t(uint32_t(declared) >> (8 * i)));
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}

bool Opens(Bytes d, TOpenedEnvelope* out = nullptr) {
  TOpenedEnvelope env;
  const bool ok = OpenEnvelope(d.data(), d.size(), env);
  if (out) *out = env;
  return ok;
}

}  // namespace

TEST(Encrypt, ChecksumCheckValuesAndKey) {
  EXPECT_EQ(Crc16("123456789", 9), 0x6F91);
  EXPECT_EQ(Crc32("123456789", 9), 0x340BC6D9u);
  EXPECT_EQ(Crc32("", 0), 0xFFFFFFFFu);
  // The key is the GBK form of its text; the program's own converter must agree.
  const std::string gbk = Utf8ToGbk("#Tqe~7kRV38=他yo");
  ASSERT_EQ(gbk.size(), 16u);
  EXPECT_EQ(Bytes(gbk.begin(), gbk.end()), Bytes(PacketKey, PacketKey + 16));
  // Key table: standard CRC-32 table, each entry least significant byte first.
  EXPECT_EQ(Bytes(Crc32KeyTable(), Crc32KeyTable() + 8), FromHex("0000000096300777"));
  EXPECT_EQ(Crc32KeyTable()[0x5678 % 1024], 0x43);
}

TEST(Encrypt, GoldenEnvelopes) {
  // Independently computed reference datagrams for UserID 10, SerialID 3, payload 0E 00 "hello".
  EXPECT_EQ(Build(BuildKeyed, kPayload), FromHex("641e85295471657d376b525732363da39e15034c"));
  EXPECT_EQ(Build(BuildTable, kPayload), FromHex("65c9cdcc761a0bbe86230cc925bb683fd6e9034f"));
  EXPECT_EQ(Build(BuildPlain, kPayload), FromHex("c9c9cdcc760a000000030000000e0068656c6c6f"));
  EXPECT_EQ(Build(BuildTrailer, kPayload),
            FromHex("39647b657e3768525633083acbfb7961233c140912580639"));
}

TEST(Encrypt, TableCipherStartsAtCrcModulo1024) {
  Bytes zeros(8, 0);
  DecodeTable(zeros.data(), zeros.size(), 0x12345678);
  for (size_t j = 0; j < zeros.size(); ++j) EXPECT_EQ(zeros[j], Crc32KeyTable()[0x278 + j]);
  // The index wraps at the end of the table.
  Bytes two(2, 0);
  DecodeTable(two.data(), 2, 1023);
  EXPECT_EQ(two[0], Crc32KeyTable()[1023]);
  EXPECT_EQ(two[1], Crc32KeyTable()[0]);
}

TEST(Encrypt, TrailerLayout) {
  const Bytes payload = {1, 2, 3, 4, 5};
  Bytes d = Build(BuildTrailer, payload, {0x01020304, 7});
  ASSERT_EQ(d.size(), 22u);
  EXPECT_EQ(d[0], 57);
  EXPECT_EQ(d[21], 57);
  ASSERT_TRUE(DecodeTrailer(d.data() + 1, 21));
  const Bytes plain(d.begin() + 1, d.begin() + 20);
  EXPECT_EQ(plain, (Bytes{48, 4, 3, 2, 1, 7, 0, 0, 0, 48, 5, 0, 0, 0, 1, 2, 3, 4, 5}));
}

TEST(Encrypt, BuildersRefuseEmptyAndOversizedPayloads) {
  struct Case {
    Builder build;
    size_t maxPayload, overhead;
  };
  for (Case c : {Case{BuildKeyed, 1447, 13}, Case{BuildTable, 1447, 13}, Case{BuildPlain, 1447, 13},
                 Case{BuildTrailer, 1436, 17}}) {
    EXPECT_EQ(Build(c.build, Bytes(c.maxPayload, 1)).size(), c.maxPayload + c.overhead);
    EXPECT_TRUE(Build(c.build, Bytes(c.maxPayload + 1, 1)).empty());
    EXPECT_TRUE(Build(c.build, Bytes()).empty());
    Bytes tiny(c.overhead);  // no room for the payload
    EXPECT_EQ(c.build(tiny.data(), tiny.size(), kGuid, "x", 1), 0u);
  }
  EXPECT_EQ(Build(BuildKeyed, Bytes(1447, 1)).size(), Envelope::MaxDatagram);
}

TEST(Encrypt, RoundTripEveryKindAndLength) {
  std::mt19937 rng(7);
  struct Case {
    Builder build;
    uint8_t kind;
    size_t maxPayload;
  };
  for (Case c : {Case{BuildKeyed, 100, 1447}, Case{BuildTable, 101, 1447}, Case{BuildPlain, 201, 1447},
                 Case{BuildTrailer, 57, 1436}}) {
    for (size_t n = 1; n <= c.maxPayload; ++n) {
      Bytes payload(n);
      for (auto& b : payload) b = uint8_t(rng());
      const TLRGUID guid{int32_t(rng()), int32_t(rng())};
      TOpenedEnvelope env;
      Bytes d = Build(c.build, payload, guid);
      ASSERT_TRUE(OpenEnvelope(d.data(), d.size(), env)) << int(c.kind) << " n=" << n;
      ASSERT_EQ(env.Kind, c.kind);
      ASSERT_EQ(env.Guid, guid);
      ASSERT_EQ(Bytes(env.Payload, env.Payload + env.PayloadLength), payload);
    }
  }
  for (size_t n = 1; n <= Envelope::MaxDatagram - 17; ++n) {
    Bytes payload(n, uint8_t(n)), d(Envelope::MaxDatagram);
    d.resize(BuildBare(d.data(), d.size(), 'x', kGuid, "1/1", payload.data(), n));
    TOpenedEnvelope env;
    ASSERT_TRUE(OpenEnvelope(d.data(), d.size(), env)) << n;
    ASSERT_EQ(env.PayloadLength, n);
  }
  Bytes data(1455, 0x5A), d(Envelope::MaxDatagram);
  d.resize(BuildTransferData(d.data(), d.size(), data.data(), data.size()));
  ASSERT_EQ(d.size(), 1460u);
  TOpenedEnvelope env;
  ASSERT_TRUE(OpenEnvelope(d.data(), d.size(), env));
  EXPECT_EQ(env.Kind, 50);
  EXPECT_EQ(env.PayloadLength, 1455u);
}

TEST(Encrypt, BarePartTextsAndLengths) {
  struct Case {
    const char* part;
    int32_t declared;
    bool delivered;
  };
  const Bytes payload = {9, 0, 1};
  for (Case c : {Case{"1/1", 3, true}, Case{"", 3, true}, Case{"2/3", 3, false}, Case{"0/1", 3, false},
                 Case{"3/2", 3, false}, Case{"1/33", 3, false}, Case{"1/32", 3, false}, Case{"01/001", 3, true}, Case{"11", 3, false},
                 Case{"a/1", 3, false}, Case{"1/", 3, false}, Case{"/1", 3, false},
                 Case{"", 1537, false}, Case{"", 4, false}, Case{"", -1, false}, Case{"1/1", 0, false},
                 Case{"1/1", 2, true}}) {
    TOpenedEnvelope env;
    EXPECT_EQ(Opens(Bare(c.part, c.declared, payload), &env), c.delivered)
        << "'" << c.part << "' L=" << c.declared;
    if (c.delivered) {
      EXPECT_EQ(env.Guid, (TLRGUID{1, 2}));
      EXPECT_EQ(env.PayloadLength, size_t(c.declared));
    }
  }
  Bytes d = Bare("", 3, payload);
  d[9] = 47;  // m would be negative
  EXPECT_FALSE(Opens(d));
  d[9] = 58;  // m = 10
  EXPECT_FALSE(Opens(d));
  // Part text longer than the datagram.
  Bytes shortPart = {'x', 1, 0, 0, 0, 2, 0, 0, 0, 48 + 9, '1', '/', '1', 0};
  EXPECT_FALSE(Opens(shortPart));
}

TEST(Encrypt, MalformedDatagramsAreDropped) {
  // Any 9-byte datagram, and the ignored and probe kinds.
  for (uint8_t kind : {100, 101, 201, 57, 50, 49, 110, 7}) {
    Bytes nine(9, 0);
    nine[0] = kind;
    EXPECT_FALSE(Opens(nine)) << int(kind);
  }
  Bytes ignored = Bare("", 3, {1, 2, 3}, 49), probe = Bare("", 3, {1, 2, 3}, 110);
  EXPECT_FALSE(Opens(ignored));
  EXPECT_FALSE(Opens(probe));
  // One flipped bit anywhere fails the check of every protected kind.
  for (Builder b : {BuildKeyed, BuildTable, BuildPlain, BuildTrailer}) {
    const Bytes good = Build(b, kPayload);
    for (size_t i = 1; i < good.size(); ++i) {
      Bytes bad = good;
      bad[i] ^= 0x10;
      EXPECT_FALSE(Opens(bad)) << int(good[0]) << " byte " << i;
    }
  }
  // Keyed envelopes deliver only part 1 of 1.
  Bytes keyed = Build(BuildKeyed, kPayload);
  for (auto [count, number] : {std::pair{2, 1}, std::pair{1, 2}, std::pair{0, 0}}) {
    Bytes d = keyed;
    DecodeKeyed(d.data() + 3, d.size() - 3);
    d[11] = uint8_t(count);
    d[12] = uint8_t(number);
    const uint16_t crc = EncodeKeyed(d.data() + 3, d.size() - 3);
    d[1] = uint8_t(crc);
    d[2] = uint8_t(crc >> 8);
    EXPECT_FALSE(Opens(d));
  }
  // A trailer envelope whose last byte is not 57 is left untouched.
  Bytes trailer = Build(BuildTrailer, kPayload);
  trailer.back() = 58;
  Bytes copy = trailer;
  TOpenedEnvelope env;
  EXPECT_FALSE(OpenEnvelope(copy.data(), copy.size(), env));
  EXPECT_EQ(copy, trailer);
  // Transfer data with a bad CRC; oversized datagrams of any kind.
  Bytes transfer(40, 1);
  transfer[0] = 50;
  EXPECT_FALSE(Opens(transfer));
  Bytes huge = Bare("", 1440, Bytes(1447, 1));
  EXPECT_FALSE(Opens(huge));  // 1461 bytes
}

TEST(Encrypt, RepliesUseTheRequestKind) {
  const struct {
    uint8_t request, reply;
  } cases[] = {{100, 100}, {101, 101}, {201, 201}, {57, 57}, {'x', 57}, {48, 57}};
  for (auto c : cases) {
    Bytes d(Envelope::MaxDatagram);
    d.resize(BuildReply(c.request, d.data(), d.size(), kGuid, kPayload.data(), kPayload.size()));
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0], c.reply);
  }
  for (uint8_t none : {50, 110, 49}) {
    Bytes d(Envelope::MaxDatagram);
    EXPECT_EQ(BuildReply(none, d.data(), d.size(), kGuid, kPayload.data(), kPayload.size()), 0u);
  }
}
