// The transfer records: each read back to what was written, every cut refused (except the
// optional tails), and the hostile forms that lie about their counts and lengths refused whole.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "net/TransferRecords.h"

using namespace ml;
using Bytes = std::vector<uint8_t>;

namespace {

template <class T, class W>
Bytes Written(W write, const T& record) {
  Bytes b(1500);
  TCmdStream s;
  s.InitWrite(b.data(), int32_t(b.size()));
  if (!write(s, record)) return {};
  b.resize(size_t(s.Size()));
  return b;
}

TMD5Digest SampleHash() {
  TMD5Digest h;
  for (size_t i = 0; i < 16; ++i) h.v[i] = uint8_t(0xA0 + i);
  return h;
}

struct TCase {
  std::string name;
  Bytes bytes;
  size_t expectedSize;
  std::function<bool(const Bytes&)> readsBack;  // reads and equals the sample
  std::function<bool(const uint8_t*, size_t)> reads;
  std::set<size_t> acceptedCuts;  // lengths below the whole that still read (optional tails)
};

template <class T, class W, class R>
TCase Case(std::string name, const T& sample, W write, R read, size_t expectedSize, std::set<size_t> cuts = {}) {
  TCase c{std::move(name), Written(write, sample), expectedSize, nullptr, nullptr, std::move(cuts)};
  c.readsBack = [=](const Bytes& b) {
    T out;
    return read(b.data(), b.size(), out) && out == sample;
  };
  c.reads = [=](const uint8_t* p, size_t n) {
    T out;
    return read(p, n, out);
  };
  return c;
}

std::vector<TCase> AllTransferRecords() {
  const TMD5Digest h = SampleHash();
  TPeerFileAnswer answer{Cmd::PeerFileAnswer, h, 3000, 77, 0, FileAnswer::WillServe, "song.mp3"};
  TPeerFileAnswer answer53 = answer;
  answer53.Code = Cmd::PeerTransfer53;
  answer53.Name.clear();
  THashSourcesAnswer sources{h, {{11, htonl(0x7F000001), 7000, 0}, {12, htonl(0x0A000002), 7001, 3}}};
  return {
      Case("relay request 42", TRelayFileRequest{h, 3000, 55, htonl(0x7F000001), 7000, 66, 0},
           WriteRelayFileRequest, ReadRelayFileRequest, 37),
      // The NAT byte is optional: a 27-byte request reads it as 255.
      Case("file request 50", TPeerFileRequest{h, 3000, 55, 0, 1}, WritePeerFileRequest, ReadPeerFileRequest, 28,
           {27}),
      // Status and name are optional; a name cut short is not.
      Case("file answer 51", answer, WritePeerFileAnswer, ReadPeerFileAnswer, 37, {27, 28}),
      Case("file answer 53", answer53, WritePeerFileAnswer, ReadPeerFileAnswer, 29, {27, 28}),
      Case("block request 52", TPeerBlockRequest{h, 55, 0, {0, 5, 1023}}, WritePeerBlockRequest,
           ReadPeerBlockRequest, 36),
      Case("stop request 52", TPeerBlockRequest{h, 55, 0, {}}, WritePeerBlockRequest, ReadPeerBlockRequest, 24),
      Case("hash query 257", THashSourcesRequest{h, 55, 1}, WriteHashSourcesRequest, ReadHashSourcesRequest, 23),
      // Cutting off whole records leaves a shorter list, which is still a list.
      Case("source list 257", sources, WriteHashSourcesAnswer, ReadHashSourcesAnswer, 42, {}),
      // The songs are what follows the header: a cut leaves fewer, none is no record.
      Case("random songs 265", TRandomSongs{h, 77, {1, 2, 3}}, WriteRandomSongs, ReadRandomSongs, 25, {23, 24}),
      Case("old notice 18", TOldFileNotice{1, 2, 3, 4, 5, "x", OldFileKey("song.mp3", 3000)}, WriteOldFileNotice,
           ReadOldFileNotice, 33),
      Case("old file request 36", TOldPeerRequest{Cmd::PeerRequestOld36, OldFileKey("song.mp3", 3000), 55},
           WriteOldPeerRequest, ReadOldPeerRequest, 35),
      Case("old stop 35", TOldPeerRequest{TOldPeerRequest::StopCode, OldFileKey("song.mp3", 3000), 55},
           WriteOldPeerRequest, ReadOldPeerRequest, 35),
      Case("old block request 28", TOldBlockRequest{OldFileKey("song.mp3", 3000), {0, 2, 7}, 55},
           WriteOldBlockRequest, ReadOldBlockRequest, 48),
  };
}

TEST(TransferRecords, WrittenAtTheirSizeAndReadBack) {
  for (const TCase& c : AllTransferRecords()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.bytes.size(), c.expectedSize);
    EXPECT_TRUE(c.readsBack(c.bytes));
  }
}

TEST(TransferRecords, EveryCutIsRefusedButTheOptionalTails) {
  for (const TCase& c : AllTransferRecords()) {
    SCOPED_TRACE(c.name);
    for (size_t n = 0; n < c.bytes.size(); ++n) {
      const bool wholeRecords = c.name == "source list 257" && n >= 20 && (n - 20) % 11 == 0;
      EXPECT_EQ(c.reads(c.bytes.data(), n), c.acceptedCuts.count(n) > 0 || wholeRecords) << "cut at " << n;
    }
    Bytes other = c.bytes;
    other[0] ^= 0x40;  // another command code
    EXPECT_FALSE(c.reads(other.data(), other.size()));
  }
}

TEST(TransferRecords, BlockRequestCountsMustMatchWhatArrived) {
  Bytes b = Written(WritePeerBlockRequest, TPeerBlockRequest{SampleHash(), 55, 0, {1, 2}});
  TPeerBlockRequest r;
  for (uint8_t claimed : {3, 16, 255}) {
    b[23] = claimed;
    EXPECT_FALSE(ReadPeerBlockRequest(b.data(), b.size(), r)) << int(claimed);
  }
  // 255 numbers that all arrived are read; the uploader decides how many it serves.
  TPeerBlockRequest big{SampleHash(), 55, 0, std::vector<int32_t>(255, 7)};
  Bytes all = Written(WritePeerBlockRequest, big);
  ASSERT_TRUE(ReadPeerBlockRequest(all.data(), all.size(), r));
  EXPECT_EQ(r.Blocks.size(), 255u);
  big.Blocks.push_back(8);
  EXPECT_TRUE(Written(WritePeerBlockRequest, big).empty()) << "256 numbers do not fit the count byte";
}

TEST(TransferRecords, SourceListsEndAtANegativeNumberAndAreBounded) {
  THashSourcesAnswer a{SampleHash(), {{11, 1, 2, 0}}};
  Bytes b = Written(WriteHashSourcesAnswer, a);
  for (uint8_t x : {0xFF, 0xFF, 0xFF, 0xFF, 9, 9, 9}) b.push_back(x);  // -1, then junk that is never read
  THashSourcesAnswer r;
  ASSERT_TRUE(ReadHashSourcesAnswer(b.data(), b.size(), r));
  EXPECT_EQ(r.Sources, a.Sources);
  Bytes wrongStatus = Written(WriteHashSourcesAnswer, a);
  wrongStatus[18] = 0x91;
  EXPECT_FALSE(ReadHashSourcesAnswer(wrongStatus.data(), wrongStatus.size(), r));
  a.Sources.assign(THashSourcesAnswer::MaxSources + 1, TPeerSource{5, 1, 2, 0});
  EXPECT_TRUE(Written(WriteHashSourcesAnswer, a).empty());
  Bytes many = Written(WriteHashSourcesAnswer, THashSourcesAnswer{SampleHash(), {}});
  for (size_t i = 0; i <= THashSourcesAnswer::MaxSources; ++i)
    for (uint8_t x : {5, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0}) many.push_back(x);
  EXPECT_FALSE(ReadHashSourcesAnswer(many.data(), many.size(), r)) << "more sources than a list may hold";
}

TEST(TransferRecords, DataPacketLengthWordMustSayWhatArrived) {
  Bytes data(1024, 0x5A);
  TTransferBlock block{SampleHash(), 77, 0, 3, data.data(), data.size()};
  Bytes b = Written(WriteTransferBlock, block);
  ASSERT_EQ(b.size(), 27u + 1024u);
  TTransferBlock r;
  ASSERT_TRUE(ReadTransferBlock(b.data(), b.size(), r));
  EXPECT_EQ(r.Block, 3);
  EXPECT_EQ(r.Length, 1024u);
  EXPECT_EQ(r.Data, b.data() + 27);
  for (size_t n = 0; n < b.size(); ++n) EXPECT_FALSE(ReadTransferBlock(b.data(), n, r)) << "cut at " << n;
  struct {
    uint16_t lengthWord;
    size_t bytes;
  } lies[] = {{1025, 27 + 1025}, {600, 27 + 1024}, {1024, 27 + 600}, {65535, 27 + 1024}};
  for (auto lie : lies) {
    Bytes x(lie.bytes, 0);
    std::copy(b.begin(), b.begin() + 27, x.begin());
    x[25] = uint8_t(lie.lengthWord);
    x[26] = uint8_t(lie.lengthWord >> 8);
    EXPECT_FALSE(ReadTransferBlock(x.data(), x.size(), r)) << lie.lengthWord << " in " << lie.bytes;
  }
  // "Could not read": block -1 and no data.
  TTransferBlock none{SampleHash(), 77, 0, -1, nullptr, 0};
  Bytes n = Written(WriteTransferBlock, none);
  ASSERT_TRUE(ReadTransferBlock(n.data(), n.size(), r));
  EXPECT_EQ(r.Block, -1);
  block.Block = -1;
  EXPECT_TRUE(Written(WriteTransferBlock, block).empty());
}

}  // namespace

namespace {

// An old request written by hand: [Integer code][tagged key][tagged fields...].
Bytes OldRequest(int32_t code, std::vector<std::string> fields) {
  Bytes b(1500);
  TCmdStream s;
  s.InitWrite(b.data(), int32_t(b.size()));
  s.WriteInteger(code);
  s.WriteBlock(142, OldFileKey("song.mp3", 3000));
  for (const std::string& f : fields) s.WriteBlock(1, f);
  b.resize(size_t(s.Size()));
  return b;
}

}  // namespace

TEST(TransferRecords, OldRequestsTakeTenBlocksAtMostAndOnlyAPeerNumberAboveZero) {
  const struct {
    std::string list;
    std::vector<int32_t> blocks;
  } lists[] = {
      {"", {}},
      {"3", {3}},
      {"1,x,3", {1, -1, 3}},
      {"1,,2", {1, -1, 2}},
      {"99999999999", {-1}},
      {" 4", {-1}},
      {"-4", {-4}},
      {"0,1,2,3,4,5,6,7,8,9,10,11", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
  };
  for (const auto& c : lists) {
    TOldBlockRequest r;
    const Bytes b = OldRequest(TOldBlockRequest::Code, {c.list, "55"});
    ASSERT_TRUE(ReadOldBlockRequest(b.data(), b.size(), r)) << c.list;
    EXPECT_EQ(r.Blocks, c.blocks) << c.list;
  }
  for (const auto& [id, taken] : std::vector<std::pair<std::string, bool>>{
           {"55", true}, {"0", false}, {"-3", false}, {"5x", false}, {"", false}, {"2147483648", false}}) {
    TOldBlockRequest blocks;
    TOldPeerRequest peer;
    const Bytes b28 = OldRequest(TOldBlockRequest::Code, {"1", id}), b36 = OldRequest(Cmd::PeerRequestOld36, {id});
    EXPECT_EQ(ReadOldBlockRequest(b28.data(), b28.size(), blocks), taken) << id;
    EXPECT_EQ(ReadOldPeerRequest(b36.data(), b36.size(), peer), taken) << id;
  }
  // A field that claims more than arrived, or more than a field may hold, refuses the request.
  Bytes longer = OldRequest(Cmd::PeerRequestOld36, {"55"});
  longer[4] = 200;
  TOldPeerRequest peer;
  EXPECT_FALSE(ReadOldPeerRequest(longer.data(), longer.size(), peer));
  longer[4] = 0xFF;
  longer[5] = 0xFF;
  EXPECT_FALSE(ReadOldPeerRequest(longer.data(), longer.size(), peer));
}

TEST(TransferRecords, TheOldFileKeyIsTheNameAndSizeInLowerCase) {
  EXPECT_EQ(OldFileKey("/music/Song.MP3", 3000), std::string("song.mp3\3") + "3000");
  std::string name;
  int64_t size = 0;
  ASSERT_TRUE(SplitOldFileKey(OldFileKey("a\3b.mp3", 12), name, size)) << "the last byte 3 ends the name";
  EXPECT_EQ(name, "a\3b.mp3");
  EXPECT_EQ(size, 12);
  for (const std::string bad : {"abc", "\3" "3000", "a\3", "a\3" "0", "a\3-5", "a\3" "12x", "a\3 12"})
    EXPECT_FALSE(SplitOldFileKey(bad, name, size)) << bad;
}

TEST(TransferRecords, OldDataPacketsCarryTheirFieldsThenTheBlock) {
  const Bytes data(952, 0x5A);
  Bytes b(1500);
  TCmdStream s;
  s.InitWrite(b.data(), int32_t(b.size()));
  ASSERT_TRUE(WriteOldDataPacket(s, TOldDataPacket{OldFileKey("song.mp3", 3000), 2, 77, data.data(), data.size()}));
  b.resize(size_t(s.Size()));
  TOldDataPacket r;
  ASSERT_TRUE(ReadOldDataPacket(b.data(), b.size(), r));
  EXPECT_EQ(r.FileKey, OldFileKey("song.mp3", 3000));
  EXPECT_EQ(r.Block, 2);
  EXPECT_EQ(r.SenderID, 77);
  EXPECT_EQ(Bytes(r.Data, r.Data + r.Length), data);
  // A cut inside the fields is refused; one inside the data leaves less data.
  const size_t fieldsEnd = b.size() - data.size();
  for (size_t n = 0; n < fieldsEnd; ++n) EXPECT_FALSE(ReadOldDataPacket(b.data(), n, r)) << n;
  ASSERT_TRUE(ReadOldDataPacket(b.data(), fieldsEnd + 10, r));
  EXPECT_EQ(r.Length, 10u);
}
