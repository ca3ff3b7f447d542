// The record writers and readers: the bytes each writer makes (worked out by hand from the
// record layouts), every record read back to what was written, and every cut or lying record
// refused whole.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/GbkText.h"
#include "net/LoginRecords.h"
#include "net/LyricRecords.h"
#include "net/NetTypeRecords.h"
#include "net/PlaylistRecords.h"
#include "net/RegisterRecords.h"
#include "net/SearchRecords.h"
#include "net/ServerListRecords.h"

using namespace ml;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes FromHex(std::string hex) {
  std::erase(hex, ' ');
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// What write makes of a record in a buffer of capacity bytes; empty when it refused.
template <class T, class W>
Bytes Written(W write, const T& record, size_t capacity = 1500) {
  Bytes b(capacity);
  TCmdStream s;
  s.InitWrite(b.data(), int32_t(b.size()));
  const bool ok = write(s, record);
  EXPECT_EQ(ok, s.Size() > 0) << "a writer says whether it wrote, and writes all or nothing";
  b.resize(size_t(s.Size()));
  return b;
}

// One record kind: a sample, its bytes, how to write and read it, and which cuts of the bytes
// still read (the record's optional tail).
struct TRecordCase {
  std::string name;
  Bytes written;
  std::function<Bytes(size_t capacity)> writeInto;
  Bytes expected;
  std::function<bool(const Bytes&)> readsBackSample;
  std::function<bool(const uint8_t*, size_t)> reads;
  std::set<size_t> acceptedCuts;
};

template <class T, class W, class R>
TRecordCase Case(std::string name, const T& sample, W write, R read, const std::string& hex,
                 std::set<size_t> acceptedCuts = {}) {
  TRecordCase c;
  c.name = std::move(name);
  c.written = Written(write, sample);
  c.writeInto = [=](size_t capacity) { return Written(write, sample, capacity); };
  c.expected = FromHex(hex);
  c.readsBackSample = [=](const Bytes& b) {
    T out;
    return read(b.data(), b.size(), out) && out == sample;
  };
  c.reads = [=](const uint8_t* p, size_t n) {
    T out;
    return read(p, n, out);
  };
  c.acceptedCuts = std::move(acceptedCuts);
  c.acceptedCuts.insert(c.expected.size());
  return c;
}

const uint32_t kLocalIP = htonl(0xC0A80005);  // 192.168.0.5

std::vector<TRecordCase> AllRecords() {
  std::array<uint8_t, 16> digest{};
  for (size_t i = 0; i < digest.size(); ++i) digest[i] = uint8_t(i);
  const TSearchResultPart resultPart{9, 45, 21, 20, 1, {{"a.mp3", digest, 7, 4096, 210, "B"}}};
  const TSongLookupReply lookup{"a", ".mp3", digest, 4096, 4096, 128, 210};
  TLoginRequest login;
  login.Requested = TLoginRequest::ByName;
  login.LocalIP = kLocalIP;
  login.LocalPort = 7000;
  login.NetKind = NetKind::InternalC;
  login.HardwareAddress = {1, 2, 3, 4, 5, 6};
  login.ProgramVersion = 5004;
  login.PasswordDigest.fill(0xAB);
  login.UserName = "abc";

  TLoginReply ok;
  ok.UserID = 12345;
  ok.LoginKey = 4242;
  ok.PublicIP = htonl(0xC0000201);
  ok.PublicPort = 4321;
  ok.DoNotRemember = true;
  ok.NewestVersion = 5005;
  ok.UpdateFileSize = 123456;
  ok.UpdateDigest.fill(0xCD);
  ok.UserName = "dave";
  ok.WebKey = "key";
  ok.Notice = "hello";
  TLoginReply partner = ok;
  partner.PartnerIP = htonl(0x0A000001);
  partner.PartnerPort = 9000;
  partner.PartnerValue = 5;
  partner.HomePage = "h";
  TLoginReply refused;
  refused.Status = Status::Refused;
  refused.Reason = Status::WrongPassword;
  auto writeReply = [](bool partnerFields) {
    return [=](TCmdStream& s, const TLoginReply& r) { return WriteLoginReply(s, r, partnerFields); };
  };
  auto readReply = [](bool partnerFields) {
    return [=](const void* p, size_t n, TLoginReply& r) { return ReadLoginReply(p, n, r, partnerFields); };
  };

  TKeepAliveRequest keepAlive{12345, true, NetKind::InternalC, 5004, 4242, 1, 7};
  TKeepAliveReply keepAliveReply{12345, 1700000000, 7, "hi"};
  TServerListReply table;
  table.Version = 7;
  table.Entries = {{2, htonl(0x7F000001), 8800}, {11, htonl(0x0A010203), 8005}};
  TPresenceCheck withKind{0x01020304, NetKind::InternalA};
  TRegisterRequest registration;
  registration.CheckCode = 123456;
  registration.VerificationMode = 1;
  registration.Privacy = 2;
  registration.Age = 30;
  registration.Sex = 1;
  registration.Question = 3;
  registration.PasswordDigest.fill(0xAA);
  registration.IdentityDigest.fill(0xBB);
  registration.AnswerDigest.fill(0xCC);
  registration.Texts[0] = "abcd";

  const std::string okHex =
      "0100 9000 39300000 92100000 00000000 00000000 c0000201 e110 00 01 00 00000000 01 8d13 40e20100"
      " cdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcd 00000000 0000 04 64617665 03 6b6579 0500 68656c6c6f";
  return {
      Case("login request", login, WriteLoginRequest, ReadLoginRequest,
           "0100 00000000 c0a80005 581b 03 00 00 010203040506 8c13 0000 abababababababababababababababab 03 616263",
           {TLoginRequest::FixedSize}),
      Case("login answer", ok, writeReply(false), readReply(false), okHex, {2, 3}),
      Case("login answer with partner fields", partner, writeReply(true), readReply(true),
           okHex + " 0a000001 2823 05000000 01 68", {2, 3}),
      Case("login refusal", refused, writeReply(false), readReply(false), "0100 9100 9300", {2, 3, 4, 5}),
      Case("logout request", TLogoutRequest{12345, 4242, kLocalIP, 7000, NetKind::InternalC, false},
           WriteLogoutRequest, ReadLogoutRequest, "0200 39300000 92100000 c0a80005 581b 03 00"),
      Case("logout answer", TLogoutReply{}, WriteLogoutReply, ReadLogoutReply, "0200 9000"),
      Case("keep-alive", keepAlive, WriteKeepAliveRequest, ReadKeepAliveRequest,
           "0b00 39300000 01 01 03 8c13 0000 0000 92100000 0100 000000000000 07 00"),
      Case("keep-alive answer", keepAliveReply, WriteKeepAliveReply, ReadKeepAliveReply,
           "0b00 39300000 00f15365 0700 0200 6869"),
      Case("server-list request", TServerListRequest{12345, 5004, 6}, WriteServerListRequest,
           ReadServerListRequest, "0900 39300000 8c130000 0600"),
      // The Integer after the entries may be missing in whole or in part.
      Case("server-list answer", table, WriteServerListReply, ReadServerListReply,
           "90000000 0700 0200 0200 7f000001 6022 0b00 0a010203 451f 00000000", {24, 25, 26, 27}),
      Case("network-type check", TNetTypeCheck{12345, NetKind::InternalC}, WriteNetTypeCheck, ReadNetTypeCheck,
           "2900 39300000 03"),
      // Without its kind flag the check is read from its first six bytes.
      Case("presence check", TPresenceCheck{0x01020304, std::nullopt}, WritePresenceCheck, ReadPresenceCheck,
           "3100 04030201 00 0000 00", {6, 7, 8, 9}),
      Case("presence check with a kind", withKind, WritePresenceCheck, ReadPresenceCheck, "3100 04030201 01 0000 ff",
           {6, 7, 8, 9}),
      Case("presence answer", TPresenceAnswer{12345, 0x01020304, 7000}, WritePresenceAnswer, ReadPresenceAnswer,
           "0f00 39300000 04030201 581b"),
      Case("network-type result", TNetTypeResult{NetKind::ExternalB}, WriteNetTypeResult, ReadNetTypeResult,
           "2700 04 00 0000"),
      Case("search request", TSearchRequest{7, 5004, 10001, "ab", 2, 0xFFFFFFFE}, WriteSearchRequest,
           ReadSearchRequest, "0e00 07000000 8c13 11270000 026162 0200 feffffff"),
      Case("search result without a match", TSearchResultPart{9, 0, 0, 0, 0, {}}, WriteSearchResultPart,
           ReadSearchResultPart, "0e00 09000000 00000000"),
      Case("search result part", resultPart, WriteSearchResultPart, ReadSearchResultPart,
           "0e00 09000000 2d000000 15000000 1400 01 01"
           " 05 612e6d7033 000102030405060708090a0b0c0d0e0f 07000000 00100000 d200 01 42"),
      Case("usage report", TUsageReport{TUsageReport::KeywordSearched, "abc"}, WriteUsageReport, ReadUsageReport,
           "0c00 0400 03616263"),
      Case("song lookup", TSongLookupRequest{"a - b"}, WriteSongLookupRequest, ReadSongLookupRequest,
           "1100 05 61202d2062"),
      Case("song lookup answer", lookup, WriteSongLookupReply, ReadSongLookupReply,
           "1100 0161 04 2e6d7033 000102030405060708090a0b0c0d0e0f 00100000 00100000 8000 d200"),
      Case("suggestions", TSuggestRequest{10001, "ab"}, WriteSuggestRequest, ReadSuggestRequest,
           "5000 11270000 026162"),
      Case("suggestion answer", TSuggestReply{{{"ab", 3}, {"abc", 1}}}, WriteSuggestReply, ReadSuggestReply,
           "5000 02 026162 03000000 03616263 01000000"),
      Case("lyric search", TLyricSearchRequest{7, "ab", 210000}, WriteLyricSearchRequest, ReadLyricSearchRequest,
           "1d00 07000000 02 6162 50340300"),
      Case("lyric search by singer", TLyricArtistSearchRequest{7, "B", "ab"}, WriteLyricArtistSearchRequest,
           ReadLyricArtistSearchRequest, "8100 07000000 01 42 02 6162"),
      Case("lyric hits", TLyricSearchReply{7, {{12, "B", "ab"}}}, WriteLyricSearchReply, ReadLyricSearchReply,
           "1d00 07000000 01 0800 31327c427c61627c"),
      Case("lyric download", TLyricDownloadRequest{7, 12}, WriteLyricDownloadRequest, ReadLyricDownloadRequest,
           "1e00 07000000 0c000000"),
      Case("lyric part", TLyricPart{7, 12, 2, 1, "abc"}, WriteLyricPart, ReadLyricPart,
           "1e00 07000000 0c000000 02 01 0300 616263"),
      Case("playlist upload", TPlaylistUploadStart{12345, 3, 2000, 4242}, WritePlaylistUploadStart,
           ReadPlaylistUploadStart, "2500 39300000 00 03 d0070000 92100000"),
      Case("playlist upload part", TPlaylistUploadPart{12345, 4242, 1, "abc"}, WritePlaylistUploadPart,
           ReadPlaylistUploadPart, "0800 39300000 92100000 01 0300 616263"),
      Case("playlist acknowledgement", TPlaylistUploadAck{12345, 0x80000001u}, WritePlaylistUploadAck,
           ReadPlaylistUploadAck, "0800 39300000 01000080"),
      Case("playlist download", TPlaylistDownloadStart{12345, 4242}, WritePlaylistDownloadStart,
           ReadPlaylistDownloadStart, "2300 39300000 92100000"),
      Case("playlist parts wanted", TPlaylistPartRequest{12345, 4242, 0xFFFFFFFFu}, WritePlaylistPartRequest,
           ReadPlaylistPartRequest, "0900 39300000 92100000 ffffffff"),
      Case("playlist part", TPlaylistPart{12345, 2, "abc"}, WritePlaylistPart, ReadPlaylistPart,
           "0900 39300000 02 0300 616263"),
      Case("check code request", TCheckCodeRequest{{1, 2, 3, 4, 5, 6}}, WriteCheckCodeRequest, ReadCheckCodeRequest,
           "1500 010203040506"),
      Case("user-name test", TUserNameCheckRequest{"abcd"}, WriteUserNameCheckRequest, ReadUserNameCheckRequest,
           "4400 04 61626364"),
      Case("registration", registration, WriteRegisterRequest, ReadRegisterRequest,
           "0400 40e20100 0000 00 01 02 1e 01 03 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"
           " cccccccccccccccccccccccccccccccc 04 61626364 000000000000000000000000"),
  };
}

}  // namespace

TEST(Records, WritersMakeTheLayoutsAndReadersGiveTheRecordBack) {
  for (const TRecordCase& c : AllRecords()) {
    EXPECT_EQ(c.written, c.expected) << c.name;
    EXPECT_TRUE(c.readsBackSample(c.written)) << c.name;
  }
}

TEST(Records, CutRecordsAndOtherCodesAreRefusedWhole) {
  for (const TRecordCase& c : AllRecords()) {
    for (size_t n = 0; n <= c.written.size(); ++n) {
      // A copy of exactly n bytes, so that the sanitizer sees any read beyond them.
      const Bytes cut(c.written.begin(), c.written.begin() + long(n));
      EXPECT_EQ(c.reads(cut.data(), cut.size()), c.acceptedCuts.count(n) > 0) << c.name << " cut to " << n;
    }
    Bytes other = c.written;
    other[0] ^= 0x40;
    EXPECT_FALSE(c.reads(other.data(), other.size())) << c.name << " with another code";
  }
}

TEST(Records, TextsThatClaimMoreThanArrivedAreRefused) {
  struct Lie {
    const char* name;
    Bytes bytes;
    std::function<bool(const Bytes&)> reads;
  };
  const Bytes login = Written(WriteLoginRequest, TLoginRequest{});
  Bytes longName = login;
  longName.back() = 200;
  longName.insert(longName.end(), {'a', 'b', 'c'});
  TLoginReply ok;
  ok.UserID = 10001;
  ok.Notice = "notice";
  Bytes longNotice = Written([](TCmdStream& s, const TLoginReply& r) { return WriteLoginReply(s, r, false); }, ok);
  longNotice[longNotice.size() - 8] = 7;  // the notice's length word says 7 where 6 follow
  Bytes longKeepAliveNotice = Written(WriteKeepAliveReply, TKeepAliveReply{1, 2, 3, "ab"});
  longKeepAliveNotice[12] = 0xFF;
  Bytes moreEntries = Written(WriteServerListReply, TServerListReply{7, {{1, 1, 1}}, 0});
  moreEntries[6] = 3;  // three entries counted, one present
  const Lie lies[] = {
      {"login name", longName, [](const Bytes& b) { TLoginRequest r; return ReadLoginRequest(b.data(), b.size(), r); }},
      {"login notice", longNotice,
       [](const Bytes& b) { TLoginReply r; return ReadLoginReply(b.data(), b.size(), r, false); }},
      {"keep-alive notice", longKeepAliveNotice,
       [](const Bytes& b) { TKeepAliveReply r; return ReadKeepAliveReply(b.data(), b.size(), r); }},
      {"server-list entries", moreEntries,
       [](const Bytes& b) { TServerListReply r; return ReadServerListReply(b.data(), b.size(), r); }},
  };
  for (const Lie& l : lies) EXPECT_FALSE(l.reads(l.bytes)) << l.name;
}

TEST(Records, LoginAnswerStatusRules) {
  struct Rule {
    const char* hex;
    uint16_t status, reason;
  };
  // A missing status is Busy; a refusal without its reason has reason 65535.
  for (Rule r : {Rule{"0100", Status::Busy, 0}, Rule{"0100 9100", Status::Refused, TLoginReply::ReasonMissing},
                 Rule{"0100 9500", Status::TooOld, 0}, Rule{"0100 0000", 0, 0}}) {
    const Bytes b = FromHex(r.hex);
    TLoginReply out;
    ASSERT_TRUE(ReadLoginReply(b.data(), b.size(), out, false)) << r.hex;
    EXPECT_EQ(out.Status, r.status) << r.hex;
    EXPECT_EQ(out.Reason, r.reason) << r.hex;
  }
}

TEST(Records, WritersRefuseWhatDoesNotFit) {
  TLoginRequest longName;
  longName.UserName.assign(256, 'n');
  EXPECT_TRUE(Written(WriteLoginRequest, longName).empty()) << "a name beyond its length byte";
  TKeepAliveReply longNotice;
  longNotice.Notice.assign(TCmdStream::MaxWordString + 1, 'n');
  EXPECT_TRUE(Written(WriteKeepAliveReply, longNotice, 10000).empty());
  TServerListReply tooMany;
  tooMany.Entries.resize(TServerListReply::MaxEntries + 1);
  EXPECT_TRUE(Written(WriteServerListReply, tooMany).empty());
  tooMany.Entries.pop_back();
  EXPECT_LE(Written(WriteServerListReply, tooMany).size(), Envelope::MaxPayload);
  // One byte short of room writes nothing at all.
  for (const TRecordCase& c : AllRecords()) EXPECT_TRUE(c.writeInto(c.expected.size() - 1).empty()) << c.name;
}

// The answers that begin with a status word instead of a command: what each form reads as.
TEST(Records, StatusAnswers) {
  struct Case {
    const char* name;
    std::string hex;
    std::function<bool(const Bytes&)> check;  // reads and has the expected fields, or is refused
  };
  const auto start = [](bool reads, uint16_t status, uint16_t refusal, uint8_t parts, int32_t length) {
    return [=](const Bytes& b) {
      TPlaylistStartReply r;
      const bool ok = ReadPlaylistStartReply(b.data(), b.size(), r);
      return ok == reads && (!ok || (r.Status == status && r.Refusal == refusal && r.PartCount == parts &&
                                     r.Length == length));
    };
  };
  const auto code = [](bool reads, uint16_t result, int32_t value) {
    return [=](const Bytes& b) {
      TCheckCodeReply r;
      const bool ok = ReadCheckCodeReply(b.data(), b.size(), r);
      return ok == reads && (!ok || (r.Result == result && r.CheckCode == value));
    };
  };
  const auto reg = [](bool reads, uint16_t result, int32_t holder, int32_t user, std::string name) {
    return [=](const Bytes& b) {
      TRegisterReply r;
      const bool ok = ReadRegisterReply(b.data(), b.size(), r);
      return ok == reads && (!ok || (r.Result == result && r.Holder == holder && r.UserID == user && r.UserName == name));
    };
  };
  const auto nameTest = [](bool reads, int32_t holder) {
    return [=](const Bytes& b) {
      TUserNameCheckReply r;
      const bool ok = ReadUserNameCheckReply(b.data(), b.size(), r);
      return ok == reads && (!ok || r.Holder == holder);
    };
  };
  const Case cases[] = {
      {"playlist accepted", "9000 00 03 d0070000", start(true, Status::OK, 0xFFFF, 3, 2000)},
      {"playlist accepted, cut", "9000 00 03 d007", start(false, 0, 0, 0, 0)},
      {"playlist refused", "9100 0300", start(true, Status::Refused, 3, 0, 0)},
      {"playlist refused without its reason", "9100", start(true, Status::Refused, 0xFFFF, 0, 0)},
      {"playlist other status", "9200", start(true, Status::Busy, 0xFFFF, 0, 0)},
      {"check code", "9000 39300000", code(true, Status::OK, 12345)},
      {"check code of 10 bytes", "9000 39300000 00000000", code(false, 0, 0)},
      {"check code 0", "9000 00000000", code(false, 0, 0)},
      {"check code above 999999", "9000 40420f00", code(false, 0, 0)},
      {"check code refused", "0100", code(true, RegisterResult::TooMany, 0)},
      {"name free", "00000000", nameTest(true, 0)},
      {"name illegal", "ffffff7f", nameTest(true, TUserNameCheckReply::Illegal)},
      {"name answer cut", "393000", nameTest(false, 0)},
      {"registered", "9000 00000000 39300000 04 61626364", reg(true, Status::OK, 0, 12345, "abcd")},
      {"registered, name cut", "9000 00000000 39300000 04 616263", reg(false, 0, 0, 0, "")},
      {"registered without a name", "9000 00000000 39300000", reg(false, 0, 0, 0, "")},
      {"name taken", "0400 39300000", reg(true, RegisterResult::NameTaken, 12345, 0, "")},
      {"name taken, holder cut", "0400 3930", reg(true, RegisterResult::NameTaken, 0, 0, "")},
      {"bad check code", "0000", reg(true, RegisterResult::BadCheckCode, 0, 0, "")},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.check(FromHex(c.hex))) << c.name;
  for (const Case& c : cases) {
    const Bytes b = FromHex(c.hex);
    for (size_t n = 0; n < 2 && n <= b.size(); ++n) {
      const Bytes cut(b.begin(), b.begin() + long(n));
      TPlaylistStartReply p;
      TCheckCodeReply k;
      TRegisterReply r;
      EXPECT_FALSE(ReadPlaylistStartReply(cut.data(), cut.size(), p) || ReadCheckCodeReply(cut.data(), cut.size(), k) ||
                   ReadRegisterReply(cut.data(), cut.size(), r))
          << c.name << " cut to " << n;
    }
  }
}

// Parts that would land outside the receiver's buffers are refused, whatever else they hold.
TEST(Records, PartsOutsideTheirBoundsAreRefused) {
  struct Case {
    const char* name;
    std::string hex;
    bool lyricPart;  // else a playlist part
    bool reads;
  };
  const Case cases[] = {
      {"lyric part", "1e00 07000000 0c000000 10 0f 0100 61", true, true},
      {"lyric count 0", "1e00 07000000 0c000000 00 00 0100 61", true, false},
      {"lyric count 17", "1e00 07000000 0c000000 11 00 0100 61", true, false},
      {"lyric index = count", "1e00 07000000 0c000000 02 02 0100 61", true, false},
      {"lyric length past the datagram", "1e00 07000000 0c000000 02 01 0500 616263", true, false},
      {"lyric length 1025", "1e00 07000000 0c000000 02 01 0104" + std::string(2050, 'a'), true, false},
      {"lyric length 1024", "1e00 07000000 0c000000 02 01 0004" + std::string(2048, 'a'), true, true},
      {"playlist part 1024", "0900 39300000 1f 0004" + std::string(2048, 'a'), false, true},
      {"playlist part 1025", "0900 39300000 01 0104" + std::string(2050, 'a'), false, false},
      {"playlist part empty", "0900 39300000 01 0000", false, false},
      {"playlist part with a byte more", "0900 39300000 01 0100 61 62", false, false},
      {"playlist part cut", "0900 39300000 01 0200 61", false, false},
  };
  for (const Case& c : cases) {
    const Bytes b = FromHex(c.hex);
    TLyricPart lyric;
    TPlaylistPart playlist;
    EXPECT_EQ(c.lyricPart ? ReadLyricPart(b.data(), b.size(), lyric) : ReadPlaylistPart(b.data(), b.size(), playlist),
              c.reads)
        << c.name;
  }
  // A writer refuses what a reader would refuse.
  Bytes b(2000);
  TCmdStream s;
  s.InitWrite(b.data(), int32_t(b.size()));
  EXPECT_FALSE(WriteLyricPart(s, TLyricPart{1, 1, 17, 0, "a"}));
  EXPECT_FALSE(WriteLyricPart(s, TLyricPart{1, 1, 2, 2, "a"}));
  EXPECT_FALSE(WriteLyricPart(s, TLyricPart{1, 1, 2, 1, std::string(1025, 'a')}));
  EXPECT_FALSE(WritePlaylistUploadPart(s, TPlaylistUploadPart{1, 1, 0, std::string(901, 'a')}));
  EXPECT_EQ(s.Size(), 0);
}

TEST(Records, LyricHitsAreTakenAsAnnounced) {
  const auto reply = [](int hits, const std::string& text) {
    Bytes b = FromHex("1d00 07000000");
    b.push_back(uint8_t(hits));
    b.push_back(uint8_t(text.size()));
    b.push_back(uint8_t(text.size() >> 8));
    b.insert(b.end(), text.begin(), text.end());
    return b;
  };
  struct Case {
    const char* name;
    int hits;
    std::string text;
    size_t read;  // hits read; SIZE_MAX: refused
  };
  const Case cases[] = {
      {"two hits", 2, "1|A|a|2|B|b|", 2},
      {"fields beyond the hits", 1, "1|A|a|2|B|b|", 1},
      {"no hits", 0, "", 0},
      {"an unterminated last field", 1, "1|A|a", SIZE_MAX},
      {"an id that is no number", 1, "x|A|a|", SIZE_MAX},
      {"an id over 32 bits", 1, "4294967296|A|a|", SIZE_MAX},
      {"sixteen hits", 16, "", SIZE_MAX},
  };
  for (const Case& c : cases) {
    const Bytes b = reply(c.hits, c.text);
    TLyricSearchReply r;
    const bool ok = ReadLyricSearchReply(b.data(), b.size(), r);
    EXPECT_EQ(ok, c.read != SIZE_MAX) << c.name;
    if (ok) {
      EXPECT_EQ(r.Hits.size(), c.read) << c.name;
    }
  }
}

TEST(Records, UserNameRules) {
  struct Case {
    const char* name;
    TUserNameProblem problem;
  };
  const Case cases[] = {
      {"", TUserNameProblem::Empty},           {"1abcd", TUserNameProblem::StartsWithDigit},
      {"１号用户", TUserNameProblem::StartsWithDigit}, {"我的系统", TUserNameProblem::Reserved},
      {"提示abc", TUserNameProblem::Reserved}, {"abc", TUserNameProblem::TooShort},
      {"星光", TUserNameProblem::None},       {"abcd", TUserNameProblem::None},
      {"abcdefghijklmnopqrst", TUserNameProblem::None},
      {"abcdefghijklmnopqrstu", TUserNameProblem::TooLong},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckUserNameRules(Utf8ToGbk(c.name)), c.problem) << c.name;
}
