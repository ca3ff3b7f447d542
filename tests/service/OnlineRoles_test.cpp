// The lyric, playlist and registration servers in this process, through the role table, with
// recorded answers, a manual clock and verifiers made at once: what each answers, and what
// hostile records (cut, forged, oversized, another account's) get: no answer or a refusal.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/GbkText.h"
#include "base/LRMD5.h"
#include "net/LoginRecords.h"
#include "net/LyricRecords.h"
#include "net/PlaylistRecords.h"
#include "net/RegisterRecords.h"
#include "service/Catalogue.h"
#include "service/ServiceCore.h"
#include "service/ServiceStore.h"
#include "service/WorkPool.h"
#include "service/roles/Transfers.h"
#include "net/TransferRecords.h"
#include "transfer/uUpFile.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/CoreFixture.h"
#include "tests/service/RecordingSender.h"
#include "tests/support/TestSupport.h"

using namespace ml;
using namespace mlsvc;
using mlnettest::Bytes;
using mlnettest::Written;
using mlsvctest::TRecorder;
using mlsvctest::TSent;
using mlsvctest::kCheap;
using mlsvctest::kClientIP;
using mlsvctest::OnlyAnswer;

namespace {

const uint32_t kOtherIP = htonl(0xC0A80206);  // 192.168.2.6

class OnlineRoles : public mlsvctest::TCoreFixture {
protected:
  std::vector<TSent> Ask(uint8_t kind, const Bytes& record, uint16_t port = 7000, uint32_t ip = kClientIP) {
    return TCoreFixture::Ask(TServer::Main, kind, record, port, ip);
  }
  TLoginReply LogIn(const std::string& name, const std::string& password, uint16_t port = 7000) {
    TLoginRequest r;
    r.Requested = TLoginRequest::ByName;
    r.UserName = name;
    r.PasswordDigest = LRMD5::MD5String(password).v;
    r.LocalIP = kClientIP;
    r.ProgramVersion = 5004;
    TLoginReply none;
    none.Status = 0;
    return OnlyAnswer<TLoginReply>(Ask(Envelope::Table, Written(WriteLoginRequest, r), port),
                                   [](const void* p, size_t n, TLoginReply& reply) { return ReadLoginReply(p, n, reply, false); },
                                   none);
  }
  int32_t AddAccount(const std::string& name, const std::string& password) {
    const auto id = store->CreateAccount(name, MakeVerifier(LRMD5::MD5String(password).v, kCheap));
    EXPECT_TRUE(id.has_value());
    return id.value_or(0);
  }
};

// ---- lyrics ----

std::string Lyric(const std::string& title, size_t size = 0) {
  std::string text = "[ti:" + title + "]\n[00:01.00]" + title + " line one\n[00:02.00]line two\n";
  if (size > text.size()) text += std::string(size - text.size(), 'x');
  return text;
}

TCatalogueSong Song(int n, const std::string& artist, const std::string& title, int32_t durationMs,
                    std::optional<std::string> lyric) {
  TCatalogueSong s;
  s.Digest.fill(uint8_t(n));
  s.Path = "/songs/" + std::to_string(n) + ".mp3";
  s.Size = 4096;
  s.FileName = artist + " - " + title + ".mp3";
  s.Title = title;
  s.Artist = artist;
  s.DurationMs = durationMs;
  s.Lyrics = std::move(lyric);
  return s;
}

class LyricRoles : public OnlineRoles {
protected:
  void SetUp() override {
    OnlineRoles::SetUp();
    Start();
    const TCatalogueSong songs[] = {
        Song(1, "Luna Park", "Paper Moon", 180000, Lyric("Paper Moon")),
        Song(2, "Other Band", "Paper Moon", 200000, Lyric("Paper Moon (cover)")),
        Song(3, "Luna Park", "Paper Moon Live", 181000, Lyric("Paper Moon Live")),
        Song(4, "Luna Park", "Silent Song", 150000, std::nullopt),
        Song(5, "星光乐队", "星光灿烂", 150000, Lyric("星光灿烂", 3000)),
        Song(6, "Big", "Huge Lyric", 150000, Lyric("Huge", 16385)),
    };
    core->Catalogue().Add(songs);
  }
  TLyricSearchReply Search(const Bytes& record) {
    return OnlyAnswer(Ask(Envelope::Keyed, record), ReadLyricSearchReply);
  }
  std::vector<std::string> Titles(const TLyricSearchReply& r) {
    std::vector<std::string> out;
    for (const auto& h : r.Hits) out.push_back(GbkToUtf8(h.Singer) + "/" + GbkToUtf8(h.Title));
    return out;
  }
};

TEST_F(LyricRoles, SearchesRankTheExactTitleThenTheSingerThenTheDuration) {
  struct Case {
    const char* name;
    Bytes record;
    std::vector<std::string> hits;
  };
  const Case cases[] = {
      {"caption with singer", Written(WriteLyricSearchRequest, TLyricSearchRequest{1, "Luna Park - Paper Moon", 0}),
       {"Luna Park/Paper Moon", "Luna Park/Paper Moon Live"}},
      {"title alone, nearest duration first",
       Written(WriteLyricSearchRequest, TLyricSearchRequest{2, "Paper Moon", 199000}),
       {"Other Band/Paper Moon", "Luna Park/Paper Moon", "Luna Park/Paper Moon Live"}},
      {"by singer and song", Written(WriteLyricArtistSearchRequest, TLyricArtistSearchRequest{3, "other", "paper moon"}),
       {"Other Band/Paper Moon"}},
      {"Chinese caption", Written(WriteLyricSearchRequest, TLyricSearchRequest{4, Utf8ToGbk("星光乐队-星光灿烂"), 0}),
       {"星光乐队/星光灿烂"}},
      {"a song without a lyric", Written(WriteLyricSearchRequest, TLyricSearchRequest{5, "Luna Park - Silent Song", 0}),
       {}},
      {"a lyric too large for sixteen parts", Written(WriteLyricSearchRequest, TLyricSearchRequest{6, "Huge Lyric", 0}),
       {}},
  };
  for (const Case& c : cases) {
    const TLyricSearchReply reply = Search(c.record);
    EXPECT_EQ(Titles(reply), c.hits) << c.name;
    EXPECT_EQ(reply.RequestID, c.record[2]) << c.name;
  }
}

TEST_F(LyricRoles, DownloadsComeInPartsThatMakeTheImportedBytes) {
  const TLyricSearchReply found = Search(Written(WriteLyricSearchRequest, TLyricSearchRequest{1, Utf8ToGbk("星光灿烂"), 0}));
  ASSERT_EQ(found.Hits.size(), 1u);
  const auto parts = Ask(Envelope::Keyed, Written(WriteLyricDownloadRequest, TLyricDownloadRequest{9, found.Hits[0].LyricID}));
  ASSERT_EQ(parts.size(), 3u) << "3,000 bytes take three parts";
  std::string lyric;
  for (size_t i = 0; i < parts.size(); ++i) {
    TLyricPart p;
    ASSERT_TRUE(ReadLyricPart(parts[i].Payload.data(), parts[i].Payload.size(), p));
    EXPECT_EQ(p.RequestID, 9);
    EXPECT_EQ(p.PartCount, 3);
    EXPECT_EQ(p.PartIndex, i);
    lyric += p.Data;
  }
  EXPECT_EQ(lyric, Lyric("星光灿烂", 3000));
  // Unknown lyrics, the song without one and the one too large get nothing.
  for (int32_t id : {0, -1, 4, 6, 999})
    EXPECT_TRUE(Ask(Envelope::Keyed, Written(WriteLyricDownloadRequest, TLyricDownloadRequest{9, id})).empty()) << id;
}

TEST_F(LyricRoles, RequestsAreLimitedPerAddress) {
  const Bytes record = Written(WriteLyricDownloadRequest, TLyricDownloadRequest{9, 1});
  int answered = 0;
  for (int i = 0; i < 100; ++i) answered += !Ask(Envelope::Keyed, record).empty();
  EXPECT_EQ(answered, int(cfg.LyricBurst));
  EXPECT_FALSE(Ask(Envelope::Keyed, record, 7000, kOtherIP).empty()) << "another address has its own";
}

// ---- playlists ----

// The data as a client uploads it: the header (digest, version 0) and the body.
std::string PlaylistData(const std::string& body) {
  std::string data(PlaylistData::HeaderBytes, '\0');
  std::memcpy(data.data(), LRMD5::MD5String(body).v.data(), 16);
  return data + body;
}

class PlaylistRoles : public OnlineRoles {
protected:
  TLoginReply alice, bob;
  void SetUp() override {
    OnlineRoles::SetUp();
    cfg.PlaylistBurst = 100;
    Start();
    AddAccount("alice", "pw-a");
    AddAccount("bob", "pw-b");
    alice = LogIn("alice", "pw-a", 7000);
    bob = LogIn("bob", "pw-b", 7001);
    ASSERT_EQ(alice.Status, Status::OK);
    ASSERT_EQ(bob.Status, Status::OK);
  }
  TPlaylistStartReply Start37(const TLoginReply& who, int32_t length, uint8_t parts, uint16_t port,
                              int32_t key = 0) {
    const TPlaylistUploadStart start{who.UserID, parts, length, key ? key : who.LoginKey};
    return OnlyAnswer(Ask(Envelope::Table, Written(WritePlaylistUploadStart, start), port), ReadPlaylistStartReply);
  }
  // Sends every part; returns the acknowledged sets in order.
  std::vector<uint32_t> Upload(const TLoginReply& who, const std::string& data, uint16_t port) {
    const auto parts = uint8_t((data.size() + 899) / 900);
    EXPECT_EQ(Start37(who, int32_t(data.size()), parts, port).Status, Status::OK);
    std::vector<uint32_t> acks;
    for (uint8_t i = 0; i < parts; ++i) {
      for (const TSent& s : Ask(Envelope::Table, Written(WritePlaylistUploadPart,
                                                         TPlaylistUploadPart{who.UserID, who.LoginKey, i, data.substr(i * 900u, 900)}),
                                port)) {
        TPlaylistUploadAck ack;
        EXPECT_TRUE(ReadPlaylistUploadAck(s.Payload.data(), s.Payload.size(), ack));
        acks.push_back(ack.Received);
      }
    }
    return acks;
  }
  // Downloads whole, asking for every part at once; empty when refused.
  std::optional<std::string> Download(const TLoginReply& who, uint16_t port) {
    const auto answers = Ask(Envelope::Table, Written(WritePlaylistDownloadStart, TPlaylistDownloadStart{who.UserID, who.LoginKey}), port);
    TPlaylistStartReply start;
    if (answers.size() != 1 || !ReadPlaylistStartReply(answers[0].Payload.data(), answers[0].Payload.size(), start) ||
        start.Status != Status::OK)
      return std::nullopt;
    std::string data;
    for (const TSent& s : Ask(Envelope::Table, Written(WritePlaylistPartRequest,
                                                       TPlaylistPartRequest{who.UserID, who.LoginKey, 0xFFFFFFFFu}),
                              port)) {
      TPlaylistPart p;
      EXPECT_TRUE(ReadPlaylistPart(s.Payload.data(), s.Payload.size(), p));
      data += p.Data;
    }
    EXPECT_EQ(data.size(), size_t(start.Length));
    return data;
  }
};

TEST_F(PlaylistRoles, AnAccountKeepsItsPlaylistAcrossUploads) {
  EXPECT_EQ(Download(alice, 7000), PlaylistData("")) << "nothing uploaded yet: an empty playlist";
  const std::string first = PlaylistData(std::string(2500, 'a'));
  EXPECT_EQ(Upload(alice, first, 7000), (std::vector<uint32_t>{1, 3, 7}));
  EXPECT_EQ(Download(alice, 7000), first);
  // The largest, in 32 parts: the last acknowledgement has the top bit set.
  const std::string largest = PlaylistData(std::string(28780, 'b'));
  const auto acks = Upload(alice, largest, 7000);
  ASSERT_EQ(acks.size(), 32u);
  EXPECT_EQ(acks.back(), 0xFFFFFFFFu);
  EXPECT_EQ(Download(alice, 7000), largest);
  EXPECT_EQ(Download(bob, 7001), PlaylistData("")) << "bob's is his own";
}

TEST_F(PlaylistRoles, OthersAndForgedRecordsGetRefusalsOrNothing) {
  const std::string data = PlaylistData(std::string(1000, 'a'));
  Upload(alice, data, 7000);
  // Starts that are not alice's live session at her address, with her key, are refused.
  EXPECT_EQ(Start37(alice, 1020, 2, 7001).Refusal, PlaylistRefusal::InvalidUser) << "bob's port";
  EXPECT_EQ(Start37(alice, 1020, 2, 7000, alice.LoginKey + 1).Refusal, PlaylistRefusal::InvalidUser) << "wrong key";
  EXPECT_EQ(Start37(alice, 28801, 33, 7000).Refusal, PlaylistRefusal::TooLarge);
  EXPECT_EQ(Start37(alice, 20, 1, 7000).Refusal, PlaylistRefusal::TooLarge) << "no body";
  EXPECT_TRUE(Ask(Envelope::Table, Written(WritePlaylistUploadStart, TPlaylistUploadStart{alice.UserID, 5, 1020, alice.LoginKey})).empty())
      << "a part count that does not fit the length";
  // Bob cannot read alice's playlist, nor ask for her parts from his address.
  TLoginReply forged = bob;
  forged.UserID = alice.UserID;
  EXPECT_FALSE(Download(forged, 7001).has_value());
  EXPECT_TRUE(Ask(Envelope::Table, Written(WritePlaylistPartRequest, TPlaylistPartRequest{alice.UserID, alice.LoginKey, 1}), 7001).empty());
  // Parts of the wrong size or number, or for nobody's upload, are dropped.
  ASSERT_EQ(Start37(alice, 1020, 2, 7000).Status, Status::OK);
  for (const TPlaylistUploadPart& p : {TPlaylistUploadPart{alice.UserID, alice.LoginKey, 0, std::string(899, 'x')},
                                       TPlaylistUploadPart{alice.UserID, alice.LoginKey, 1, std::string(121, 'x')},
                                       TPlaylistUploadPart{alice.UserID, alice.LoginKey, 2, std::string(120, 'x')},
                                       TPlaylistUploadPart{bob.UserID, bob.LoginKey, 0, std::string(900, 'x')}})
    EXPECT_TRUE(Ask(Envelope::Table, Written(WritePlaylistUploadPart, p), p.UserID == bob.UserID ? 7001 : 7000).empty())
        << int(p.Part) << " " << p.Data.size();
  // A body that does not match its digest is not stored, and its last part not acknowledged.
  std::string damaged = data;
  damaged[500] ^= 1;
  EXPECT_EQ(Upload(alice, damaged, 7000), (std::vector<uint32_t>{1}));
  EXPECT_EQ(Download(alice, 7000), data);
  // An anonymous session has no playlist.
  TLoginRequest anonymous;
  anonymous.LocalIP = kClientIP;
  anonymous.ProgramVersion = 5004;
  TLoginReply anon;
  const auto a = Ask(Envelope::Table, Written(WriteLoginRequest, anonymous), 7002);
  ASSERT_EQ(a.size(), 1u);
  ASSERT_TRUE(ReadLoginReply(a[0].Payload.data(), a[0].Payload.size(), anon, false));
  EXPECT_EQ(Start37(anon, 1020, 2, 7002).Refusal, PlaylistRefusal::InvalidUser);
}

// ---- registration ----

class RegistrationRoles : public OnlineRoles {
protected:
  void SetUp() override {
    OnlineRoles::SetUp();
    Start();
  }
  int32_t Code(uint32_t ip = kClientIP, std::array<uint8_t, 6> hw = {1, 2, 3, 4, 5, 6}) {
    const auto answers = Ask(Envelope::Table, Written(WriteCheckCodeRequest, TCheckCodeRequest{hw}), 7000, ip);
    TCheckCodeReply reply;
    if (answers.size() != 1 || !ReadCheckCodeReply(answers[0].Payload.data(), answers[0].Payload.size(), reply)) return -1;
    return reply.Result == Status::OK ? reply.CheckCode : -int32_t(reply.Result) - 10;
  }
  TRegisterReply Register(int32_t code, const std::string& name, const std::string& password = "secret",
                          uint32_t ip = kClientIP) {
    TRegisterRequest r;
    r.CheckCode = code;
    r.Texts[0] = Utf8ToGbk(name);
    r.PasswordDigest = LRMD5::MD5String(password).v;
    r.IdentityDigest = LRMD5::MD5String("id-1234").v;
    r.AnswerDigest = LRMD5::MD5String("the answer").v;
    r.Question = 2;
    return OnlyAnswer(Ask(Envelope::Table, Written(WriteRegisterRequest, r), 7000, ip), ReadRegisterReply);
  }
  int32_t TestName(const std::string& name) {
    return OnlyAnswer(Ask(Envelope::Table, Written(WriteUserNameCheckRequest, TUserNameCheckRequest{Utf8ToGbk(name)})),
                      ReadUserNameCheckReply)
        .Holder;
  }
};

TEST_F(RegistrationRoles, ARegisteredAccountLogsInAndKeepsNoSecretInClear) {
  EXPECT_EQ(TestName("newuser"), 0);
  const int32_t code = Code();
  ASSERT_GT(code, 0);
  const TRegisterReply reply = Register(code, "newuser");
  ASSERT_EQ(reply.Result, Status::OK);
  EXPECT_EQ(reply.UserName, "newuser");
  EXPECT_EQ(TestName("NEWUSER"), reply.UserID) << "names compare without case";
  EXPECT_EQ(TestName("1abc"), TUserNameCheckReply::Illegal);
  EXPECT_EQ(LogIn("newuser", "secret").Status, Status::OK);
  EXPECT_EQ(LogIn("newuser", "wrong").Status, Status::Refused);
  const auto protection = store->ProtectionOf(reply.UserID);
  ASSERT_TRUE(protection.has_value());
  EXPECT_EQ(protection->Question, 2);
  EXPECT_TRUE(protection->AnswerVerifier.starts_with("$argon2id$"));
  EXPECT_TRUE(CheckVerifier(protection->AnswerVerifier, LRMD5::MD5String("the answer").v));
  EXPECT_TRUE(CheckVerifier(protection->IdentityVerifier, LRMD5::MD5String("id-1234").v));
  EXPECT_FALSE(CheckVerifier(protection->AnswerVerifier, LRMD5::MD5String("another").v));
}

TEST_F(RegistrationRoles, CheckCodesAreSingleUseBoundAndExpire) {
  struct Case {
    const char* name;
    std::function<int32_t()> code;  // the code the registration brings
    uint32_t from;
    uint16_t result;
  };
  int32_t used = 0;
  const Case cases[] = {
      {"a fresh code", [&] { return used = Code(); }, kClientIP, Status::OK},
      {"the same code again", [&] { return used; }, kClientIP, RegisterResult::BadCheckCode},
      {"a code never issued", [] { return 424242; }, kClientIP, RegisterResult::BadCheckCode},
      {"a code issued to another address", [&] { return Code(kOtherIP); }, kClientIP, RegisterResult::BadCheckCode},
      {"a code replaced by a newer one", [&] { const int32_t c = Code(); Code(); return c; }, kClientIP,
       RegisterResult::BadCheckCode},
      {"a code older than ten minutes",
       [&] {
         const int32_t c = Code();
         clock.Advance(Millis(10 * 60 * 1000));
         return c;
       },
       kClientIP, RegisterResult::BadCheckCode},
  };
  cfg.RegisterBurst = cfg.RegisterNetBurst = 100;
  Start();
  int n = 0;
  for (const Case& c : cases) {
    const int32_t code = c.code();
    EXPECT_EQ(Register(code, "user" + std::to_string(++n), "pw", c.from).Result, c.result) << c.name;
  }
  // A second registration of a taken name names its holder.
  const int32_t holder = store->AccountByName("user1").value_or(TAccount{}).UserID;
  const TRegisterReply again = Register(Code(), "USER1");
  EXPECT_EQ(again.Result, RegisterResult::NameTaken);
  EXPECT_EQ(again.Holder, holder);
  EXPECT_EQ(Register(Code(), "我的系统").Holder, TUserNameCheckReply::Illegal) << "the name rules hold here too";
}

TEST_F(RegistrationRoles, AFloodFromOneSourceIsLimited) {
  cfg.CheckCodeBurst = 1000;
  Start();
  int registered = 0, tooMany = 0;
  for (int i = 0; i < 40; ++i) {
    const uint16_t r = Register(Code(), "flood" + std::to_string(i)).Result;
    registered += r == Status::OK;
    tooMany += r == RegisterResult::TooMany;
  }
  EXPECT_EQ(registered, int(cfg.RegisterBurst));
  EXPECT_EQ(tooMany, 40 - registered);
  // The neighbours of the /24 share a limit too; a distant network does not.
  int neighbours = 0;
  for (int host = 10; host < 40; ++host)
    neighbours += Register(Code(htonl(0xC0A80100 + host)), "near" + std::to_string(host), "pw", htonl(0xC0A80100 + host))
                      .Result == Status::OK;
  EXPECT_LE(neighbours, int(cfg.RegisterNetBurst) - registered);
  EXPECT_EQ(Register(Code(kOtherIP), "faraway", "pw", kOtherIP).Result, Status::OK);
  // Check codes are limited per address as well.
  cfg.CheckCodeBurst = 10;
  Start();
  int codes = 0;
  for (int i = 0; i < 30; ++i) codes += Code() > 0;
  EXPECT_EQ(codes, 10);
}


// ---- transfers ----

class TransferRoles : public OnlineRoles {
protected:
  TLoginReply alice, bob;
  TMD5Digest song;
  void SetUp() override {
    OnlineRoles::SetUp();
    Start();
    AddAccount("alice", "pw-a");
    AddAccount("bob", "pw-b");
    alice = LogIn("alice", "pw-a", 7000);
    bob = LogIn("bob", "pw-b", 7001);
    ASSERT_EQ(alice.Status, Status::OK);
    TCatalogueSong s = Song(9, "Luna Park", "Seed", 1000, std::nullopt);
    s.Path = dir.File("seed.mp3");
    s.Size = 20 * 1024;
    mltest::WriteAll(s.Path, std::string(size_t(s.Size), 's'));
    song.v = s.Digest;
    core->Catalogue().Add(std::span(&s, 1));
  }
  Bytes Announce(const TMD5Digest& h, int32_t user) {
    return Written(WritePeerFileAnswer, TPeerFileAnswer{Cmd::PeerFileAnswer, h, 5000, user, 0, FileAnswer::WillServe, "a.mp3"});
  }
  THashSourcesAnswer Sources(const TMD5Digest& h, int32_t requester, uint16_t port) {
    return OnlyAnswer(Ask(Envelope::Keyed, Written(WriteHashSourcesRequest, THashSourcesRequest{h, requester, 0}), port),
                      ReadHashSourcesAnswer);
  }
};

TEST_F(TransferRoles, TheSeedComesFirstThenHoldersThatAnnouncedFromTheirOwnSession) {
  TMD5Digest other;
  other.v.fill(0x77);
  EXPECT_TRUE(Ask(Envelope::Keyed, Announce(other, alice.UserID), 7000).empty());
  Ask(Envelope::Keyed, Announce(other, alice.UserID), 7009);  // another port: not alice's session
  Ask(Envelope::Keyed, Announce(other, 12345678), 7001);      // bob speaking for somebody else
  Ask(Envelope::Keyed, Announce(song, alice.UserID), 7000);
  const THashSourcesAnswer forOther = Sources(other, bob.UserID, 7001);
  ASSERT_EQ(forOther.Sources.size(), 1u);
  EXPECT_EQ(forOther.Sources[0], (TPeerSource{alice.UserID, kClientIP, 7000, forOther.Sources[0].NatType}));
  const THashSourcesAnswer forSong = Sources(song, bob.UserID, 7001);
  ASSERT_EQ(forSong.Sources.size(), 2u);
  EXPECT_EQ(forSong.Sources[0], (TPeerSource{TTransferRole::SeedUserID, htonl(INADDR_LOOPBACK), 8800, NetKind::ExternalA}));
  EXPECT_EQ(forSong.Sources[1].UserID, alice.UserID);
  EXPECT_EQ(Sources(song, alice.UserID, 7000).Sources.size(), 1u) << "nobody is told of itself";
  Advance(TTransferRole::HolderMs + 2000);
  core->Housekeep();
  EXPECT_TRUE(Sources(other, bob.UserID, 7001).Sources.empty()) << "forgotten when not heard of";
}

TEST_F(TransferRoles, TheRelayNamesTheRequesterWhereItSawIt) {
  // bob claims to be at another address; the relay tells alice where bob really is.
  const TRelayFileRequest forged{song, 20 * 1024, bob.UserID, kOtherIP, 9, alice.UserID, 0};
  const auto sent = Ask(Envelope::Keyed, Written(WriteRelayFileRequest, forged), 7001);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].IP, kClientIP);
  EXPECT_EQ(sent[0].Port, 7000) << "to alice's session";
  TRelayFileRequest relayed;
  ASSERT_TRUE(ReadRelayFileRequest(sent[0].Payload.data(), sent[0].Payload.size(), relayed));
  EXPECT_EQ(relayed.RequesterIP, kClientIP);
  EXPECT_EQ(relayed.RequesterPort, 7001);
  EXPECT_TRUE(Ask(Envelope::Keyed, Written(WriteRelayFileRequest, TRelayFileRequest{song, 0, bob.UserID, 0, 0, 99999, 0}),
                  7001).empty()) << "no session of the target";
}

TEST_F(TransferRoles, TheSeedServesOnlyWhoAskedAndAtMostSixteenBlocks) {
  const auto answer = OnlyAnswer(
      Ask(Envelope::Keyed, Written(WritePeerFileRequest, TPeerFileRequest{song, 20 * 1024, alice.UserID, 0, 0}), 7000),
      ReadPeerFileAnswer);
  EXPECT_EQ(answer.Status, FileAnswer::WillServe);
  EXPECT_EQ(answer.UserID, TTransferRole::SeedUserID);
  const Bytes many = Written(WritePeerBlockRequest, TPeerBlockRequest{song, alice.UserID, 0, std::vector<int32_t>(255, 3)});
  EXPECT_TRUE(Ask(Envelope::Keyed, many, 7001).empty()) << "another port";
  EXPECT_TRUE(Ask(Envelope::Keyed, many, 7000, kOtherIP).empty()) << "another address";
  const auto blocks = Ask(Envelope::Keyed, many, 7000);
  ASSERT_EQ(blocks.size(), TUploadTable::MaxBlocksPerRequest);
  for (const TSent& s : blocks) {
    EXPECT_EQ(s.Kind, Envelope::TransferData);
    TTransferBlock b;
    ASSERT_TRUE(ReadTransferBlock(s.Payload.data(), s.Payload.size(), b));
    EXPECT_EQ(b.Block, 3);
    EXPECT_EQ(b.Length, 1024u);
  }
}

}  // namespace
