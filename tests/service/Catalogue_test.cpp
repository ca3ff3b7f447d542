// The catalogue and the search server's roles in this process: the import of the demo catalogue
// (counts, a second import, a moved file, a link loop, lyrics), a database of the first phase
// migrated, and the roles through the role table with recorded answers and a manual clock:
// matching and ranking, pages and parts, hostile searches, the rate and the reply budget, usage
// counts, song lookups and suggestions.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/GbkText.h"
#include "base/LRMD5.h"
#include "net/SearchRecords.h"
#include "service/Catalogue.h"
#include "service/CatalogueImport.h"
#include "service/ServiceCore.h"
#include "service/ServiceStore.h"
#include "service/SessionStore.h"
#include "service/WorkPool.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/DemoCatalogue.h"
#include "tests/service/RecordingSender.h"
#include "tests/support/TestSupport.h"

using namespace ml;
using namespace mlsvc;
using namespace mlsvctest;
using mlnettest::Written;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kStartMs = 1'790'000'000'000;
const uint32_t kClientIP = htonl(0xC0A80105);  // 192.168.1.5

void RunSql(const std::string& db, const std::string& sql) {
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  char* err = nullptr;
  const int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &err);
  EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(h);
}

class Catalogue : public ::testing::Test {
protected:
  mltest::TempDir dir;
  TServiceConfig cfg;
  ManualClock clock;
  TRecorder listSocket{TServer::List}, mainSocket{TServer::Main};
  TServiceLog log{TLogLevel::Error};
  std::unique_ptr<TServiceStore> store;
  TWorkPool workers{0, 1};
  std::unique_ptr<TServiceCore> core;
  int32_t serial = 0;

  void SetUp() override {
    cfg.DbPath = dir.File("service.db");
    cfg.AdvertiseIP = htonl(INADDR_LOOPBACK);
    cfg.AdvertisePort = 8800;
    clock.Set(Millis(kStartMs));
    store = std::make_unique<TServiceStore>(cfg.DbPath, true);
  }
  // After the test has set cfg.
  void Start(bool import = true) {
    core = std::make_unique<TServiceCore>(cfg, *store, clock, listSocket, mainSocket, workers, log);
    if (import) {
      const TImportCounts c = ImportFolders(core->Catalogue(), {DemoCatalogueFolder()});
      ASSERT_EQ(c.New, kDemoSongs);
    }
  }
  std::vector<TSent> Ask(uint8_t kind, const Bytes& record, uint32_t ip = kClientIP, uint16_t port = 7000) {
    TOpenedEnvelope env;
    env.Kind = kind;
    env.Guid = {1, ++serial};
    env.Payload = record.data();
    env.PayloadLength = record.size();
    core->Dispatch(TServer::Main, env, ip, port);
    EXPECT_TRUE(listSocket.Take().empty());
    return mainSocket.Take();
  }
  // The parts a search is answered with, each read back as the client reads it.
  std::vector<TSearchResultPart> Search(const std::string& keywordUtf8, uint16_t page = 0,
                                        uint32_t parts = TSearchRequest::AllParts, uint32_t ip = kClientIP,
                                        int32_t user = 0) {
    return SearchGbk(Utf8ToGbk(keywordUtf8), page, parts, ip, user);
  }
  std::vector<TSearchResultPart> SearchGbk(const std::string& keyword, uint16_t page = 0,
                                           uint32_t parts = TSearchRequest::AllParts, uint32_t ip = kClientIP,
                                           int32_t user = 0) {
    TSearchRequest r;
    r.SearchNumber = 77 + serial;
    r.ProgramVersion = 5004;
    r.UserID = user;
    r.Keyword = keyword;
    r.Page = page;
    r.PartsWanted = parts;
    std::vector<TSearchResultPart> out;
    for (const TSent& s : Ask(Envelope::Keyed, Written(WriteSearchRequest, r), ip)) {
      EXPECT_EQ(s.Kind, Envelope::Keyed);
      EXPECT_LE(s.Payload.size(), Envelope::MaxPayload);
      TSearchResultPart part;
      EXPECT_TRUE(ReadSearchResultPart(s.Payload.data(), s.Payload.size(), part));
      EXPECT_EQ(part.SearchNumber, r.SearchNumber);
      out.push_back(part);
    }
    return out;
  }
  static std::vector<TSearchRow> Rows(const std::vector<TSearchResultPart>& parts) {
    std::vector<TSearchRow> rows;
    for (const auto& p : parts) rows.insert(rows.end(), p.Rows.begin(), p.Rows.end());
    return rows;
  }
  TSongLookupReply Lookup(const std::string& nameUtf8) {
    const auto sent = Ask(Envelope::Table, Written(WriteSongLookupRequest, TSongLookupRequest{Utf8ToGbk(nameUtf8)}));
    TSongLookupReply reply;
    EXPECT_EQ(sent.size(), 1u);
    if (sent.size() == 1) {
      EXPECT_TRUE(ReadSongLookupReply(sent[0].Payload.data(), sent[0].Payload.size(), reply));
    }
    return reply;
  }
  TSuggestReply Suggest(const std::string& textUtf8) {
    const auto sent = Ask(Envelope::Table, Written(WriteSuggestRequest, TSuggestRequest{0, Utf8ToGbk(textUtf8)}));
    TSuggestReply reply;
    EXPECT_EQ(sent.size(), 1u);
    if (sent.size() == 1) {
      EXPECT_TRUE(ReadSuggestReply(sent[0].Payload.data(), sent[0].Payload.size(), reply));
    }
    return reply;
  }
  void Report(uint16_t kind, const std::string& textUtf8) {
    EXPECT_TRUE(Ask(Envelope::Keyed, Written(WriteUsageReport, TUsageReport{kind, Utf8ToGbk(textUtf8)})).empty());
  }
};

TEST_F(Catalogue, ImportsOnceFollowsMovedFilesAndKeepsLyrics) {
  Start(false);
  TCatalogue& cat = core->Catalogue();
  const fs::path songs = dir.Path() / "songs";
  fs::create_directories(songs / "a");
  fs::copy(DemoCatalogueFolder(), songs / "a", fs::copy_options::recursive);
  mltest::WriteAll((songs / "notes.txt").string(), "not a song");
  mltest::WriteAll((songs / "cover.mp3").string(), std::string(5000, 'x'));  // named as a song, is none
  fs::create_directory_symlink("..", songs / "a" / "loop");                   // back to songs/

  TImportCounts c = ImportFolders(cat, {songs.string()});
  EXPECT_EQ(c.New, kDemoSongs);
  EXPECT_EQ(c.Present, 0);
  EXPECT_EQ(c.Skipped, 2);
  EXPECT_EQ(c.WithLyrics, kDemoLyrics);
  EXPECT_EQ(cat.SongCount(), kDemoSongs);

  // What the script wrote, as our readers and the file itself say.
  const fs::path train = songs / "a" / "Luna Park - Midnight Train.mp3";
  const auto song = cat.SongByDigest(LRMD5::MD5File(train.string()).v);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->Title, "Midnight Train");
  EXPECT_EQ(song->Artist, "Luna Park");
  EXPECT_EQ(song->Album, "Night Lines");
  EXPECT_EQ(song->Size, int64_t(fs::file_size(train)));
  EXPECT_NEAR(song->DurationMs, 3000, 150);
  EXPECT_EQ(song->BitrateKbps, 32);
  ASSERT_TRUE(song->Lyrics);
  EXPECT_EQ(*song->Lyrics, mltest::ReadAll((songs / "a" / "Luna Park - Midnight Train.lrc").string()));

  // Again, and with one file renamed: nothing new, the path follows.
  const fs::path renamed = songs / "a" / "Luna Park - Midnight Train (live).mp3";
  fs::rename(train, renamed);
  c = ImportFolders(cat, {songs.string()});
  EXPECT_EQ(c.New, 0);
  EXPECT_EQ(c.Present, kDemoSongs);
  EXPECT_EQ(c.Moved, 1);
  EXPECT_EQ(cat.SongCount(), kDemoSongs);
  EXPECT_EQ(cat.SongByDigest(song->Digest)->Path, renamed.string());
  EXPECT_EQ(Rows(Search("(live)")).size(), 1u);
  EXPECT_EQ(Rows(Search("Midnight Train.mp3")).size(), 0u);

  EXPECT_THROW(ImportFolders(cat, {(songs / "missing").string()}), std::runtime_error);
}

TEST_F(Catalogue, ADatabaseOfTheFirstPhaseGainsTheCatalogue) {
  store.reset();
  const std::string old = dir.File("old.db");
  RunSql(old,
         "CREATE TABLE accounts (user_id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
         " verifier TEXT NOT NULL, created INTEGER NOT NULL DEFAULT (strftime('%s','now')));"
         "CREATE TABLE settings (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
         "INSERT INTO accounts (user_id, name, verifier) VALUES (4242, 'kept', 'v');"
         "INSERT INTO settings VALUES ('notice', 'hello');");
  store = std::make_unique<TServiceStore>(old, false);
  EXPECT_TRUE(store->AccountExists(4242));
  EXPECT_EQ(store->Setting("notice"), "hello");
  cfg.DbPath = old;
  Start();
  EXPECT_EQ(Rows(Search(kDemoArtist)).size(), size_t(kDemoArtistSongs));
}

TEST_F(Catalogue, SearchesMatchRankAndPage) {
  Start();
  struct Case {
    const char* keyword;
    uint16_t page;
    int total, first, rows, parts;
  };
  const Case cases[] = {
      {"星光", 0, kDemoWordSongs, 1, 20, 2},      // two characters, a page in two parts
      {"星光", 1, kDemoWordSongs, 21, 8, 1},      // the rest
      {"星光", 2, kDemoWordSongs, 41, 0, 1},      // past the last page: the total, no rows
      {"星", 0, kDemoWordSongs, 1, 20, 2},        // one character
      {"luna PARK", 0, kDemoArtistSongs, 1, 4, 1},
      {"ＬＵＮＡ", 0, kDemoArtistSongs, 1, 4, 1},  // full-width letters
      {"  midnight  ", 0, 1, 1, 1, 1},           // blanks around
      {"寂静夜空里的星光", 0, 4, 1, 4, 1},        // three and more characters
      {"夜色与歌", 0, kDemoWordSongs, 1, 20, 2},  // the album
      {".mp3", 0, kDemoSongs, 1, 20, 0},         // the file name (parts: as the names go)
      {"no such song", 0, 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.keyword) + " page " + std::to_string(c.page));
    const auto parts = Search(c.keyword, c.page);
    if (c.parts) {
      ASSERT_EQ(int(parts.size()), c.parts);
    }
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].Total, c.total);
      EXPECT_EQ(parts[i].First, c.first);
      EXPECT_EQ(parts[i].Part, i);
      EXPECT_EQ(parts[i].PageRows, c.rows);
    }
    EXPECT_EQ(int(Rows(parts).size()), c.rows);
  }

  // A resend asks for the parts that did not arrive, and gets those only.
  const auto first = Search("星光");
  const auto second = Search("星光", 0, ~1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0], (TSearchResultPart{second[0].SearchNumber, first[1].Total, first[1].First, first[1].PageRows,
                                          1, first[1].Rows}));

  // Rows carry what the client shows and fetches by.
  const auto moon = Rows(Search("paper moon"));
  ASSERT_EQ(moon.size(), 1u);
  EXPECT_EQ(moon[0].Name, "Luna Park - Paper Moon.mp3");
  EXPECT_EQ(moon[0].Artist, "Luna Park");
  EXPECT_EQ(moon[0].Sources, 1);
  EXPECT_EQ(moon[0].DurationSeconds, 3);
  const auto song = core->Catalogue().SongByDigest(moon[0].Digest);
  ASSERT_TRUE(song);
  EXPECT_EQ(moon[0].Size, song->Size);
  const auto cn = Rows(Search("周明远"));
  ASSERT_FALSE(cn.empty());
  EXPECT_EQ(GbkToUtf8(cn[0].Artist), "周明远");
}

TEST_F(Catalogue, ExactTitlesAndArtistsComeFirstThenTheMostHeld) {
  Start();
  TCatalogueSong remix;
  remix.Digest.fill(0x5A);
  remix.Path = "/elsewhere/remix.mp3";
  remix.FileName = "Nova Lane - Paper Moon Remix.mp3";
  remix.Title = "Paper Moon Remix";
  remix.Artist = "Nova Lane";
  TCatalogueSong other = remix;
  other.Digest.fill(0x6B);
  other.FileName = "Nova Lane - Paper Moon Again.mp3";
  other.Title = "Paper Moon Again";
  core->Catalogue().Add(std::vector{remix, other});
  auto names = [&] {
    std::vector<std::string> n;
    for (const auto& r : Rows(Search("paper moon"))) n.push_back(r.Name);
    return n;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"Luna Park - Paper Moon.mp3", "Nova Lane - Paper Moon Remix.mp3",
                                                "Nova Lane - Paper Moon Again.mp3"}));
  // More holders rank a partial match higher, never above an exact one. A change of holders
  // raises the catalogue's version, which clears the cached results.
  RunSql(cfg.DbPath,
         "UPDATE songs SET holders = 5 WHERE title = 'Paper Moon Again';"
         "UPDATE catalogue_state SET version = version + 1");
  EXPECT_EQ(names(), (std::vector<std::string>{"Luna Park - Paper Moon.mp3", "Nova Lane - Paper Moon Again.mp3",
                                                "Nova Lane - Paper Moon Remix.mp3"}));
  EXPECT_EQ(Rows(Search("paper moon again"))[0].Sources, 5);
}

TEST_F(Catalogue, HostileSearchesAreAnsweredSensiblyOrDropped) {
  Start();
  struct Case {
    const char* what;
    std::string keyword;  // GBK
    uint16_t page;
    uint32_t parts;
    int answers, total;
  };
  const Case cases[] = {
      {"absurd page", Utf8ToGbk("星光"), 65535, ~0u, 1, kDemoWordSongs},
      {"no parts wanted", Utf8ToGbk("星光"), 0, 0, 0, 0},
      {"parts beyond the page", Utf8ToGbk("星光"), 0, 0xFFFFFFFCu, 0, 0},
      {"empty keyword", "", 0, ~0u, 1, 0},
      {"blanks only", "   ", 0, ~0u, 1, 0},
      {"255-byte keyword", std::string(255, 'a'), 0, ~0u, 1, 0},
      {"a lead byte without its second", "\xD0", 0, ~0u, 1, 0},
      {"a lead byte cutting a word", Utf8ToGbk("星光").substr(0, 3), 0, ~0u, 1, 0},
      {"invalid GBK", "\x80\xFF\xFE", 0, ~0u, 1, 0},
      {"FTS syntax", "\"luna\" OR park*", 0, ~0u, 1, 0},
      {"quotes", "\"\"\"", 0, ~0u, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto parts = SearchGbk(c.keyword, c.page, c.parts);
    ASSERT_EQ(int(parts.size()), c.answers);
    if (c.answers) {
      EXPECT_EQ(parts[0].Total, c.total);
    }
  }
  EXPECT_EQ(SearchGbk(Utf8ToGbk("星光"), 65535)[0].First, 65535 * 20 + 1);
  // Records shorter than their fixed part, and in the wrong envelope, get nothing.
  Bytes whole = Written(WriteSearchRequest, TSearchRequest{1, 5004, 0, "abc", 0, ~0u});
  EXPECT_TRUE(Ask(Envelope::Keyed, Bytes(whole.begin(), whole.end() - 1)).empty());
  EXPECT_TRUE(Ask(Envelope::Table, whole).empty());
  Bytes longKeyword = Written(WriteSearchRequest, TSearchRequest{1, 5004, 0, "abc", 0, ~0u});
  longKeyword[12] = 200;  // the keyword claims more bytes than arrived
  EXPECT_TRUE(Ask(Envelope::Keyed, longKeyword).empty());
  EXPECT_EQ(Search(kDemoArtist).size(), 1u) << "still answering";
}

TEST_F(Catalogue, ASearchFloodFromOneSourceIsLimited) {
  cfg.SearchRate = 20;
  cfg.SearchBurst = 40;
  Start();
  int answered = 0;
  for (int i = 0; i < 500; ++i) answered += Search("星光", 1).empty() ? 0 : 1;
  EXPECT_EQ(answered, 40);
  EXPECT_EQ(Search("星光", 1, ~0u, htonl(0x0A000001)).size(), 1u) << "another source is answered";
  clock.Advance(Millis(1000));
  answered = 0;
  for (int i = 0; i < 100; ++i) answered += Search("星光", 1).empty() ? 0 : 1;
  EXPECT_EQ(answered, 20);
}

TEST_F(Catalogue, AnswersToUnprovenAddressesSpendTheReplyBudget) {
  cfg.ReplyBytesPerSecond = 5000;
  Start();
  // Two parts of about 1,600 bytes together a search: the budget holds three searches' answers.
  size_t parts = 0;
  for (int i = 0; i < 10; ++i) parts += Search("星光").size();
  EXPECT_GE(parts, 5u);
  EXPECT_LE(parts, 7u);
  // A session's holder at its address is no forged source: its answers go out.
  TSession s;
  s.IP = kClientIP;
  s.Port = 7000;
  s.Account = true;
  s.Proven = true;
  s.LastSeenMs = kStartMs;
  core->Sessions().Begin(31337, s);
  EXPECT_EQ(Search("星光", 0, ~0u, kClientIP, 31337).size(), 2u);
  EXPECT_TRUE(Search("星光", 0, ~0u, kClientIP, 31338).empty()) << "another user number is no holder";
}

TEST_F(Catalogue, UsageIsCountedInBatchesAndFeedsSuggestions) {
  Start();
  for (int i = 0; i < 3; ++i) Report(TUsageReport::KeywordSearched, "星光");
  Report(TUsageReport::KeywordSearched, "Luna");
  Report(TUsageReport::SongPlayed, "Luna Park - Paper Moon");
  EXPECT_TRUE(Ask(Envelope::Keyed, Written(WriteUsageReport, TUsageReport{7, "x"})).empty());
  TCatalogue& cat = core->Catalogue();
  EXPECT_EQ(cat.UsageCount(TUsageKind::KeywordSearched, "星光"), 0) << "not one write per datagram";
  clock.Advance(Millis(1000));
  core->Housekeep();
  EXPECT_EQ(cat.UsageCount(TUsageKind::KeywordSearched, "星光"), 3);
  EXPECT_EQ(cat.UsageCount(TUsageKind::KeywordSearched, "luna"), 1);
  EXPECT_EQ(cat.UsageCount(TUsageKind::SongPlayed, "luna park - paper moon"), 1);
  EXPECT_EQ(cat.UsageCount(TUsageKind(7), "x"), 0);

  // Searched keywords first, then titles and artists by their results.
  TSuggestReply r = Suggest("星");
  ASSERT_FALSE(r.Entries.empty());
  EXPECT_EQ(r.Entries[0], (TSuggestReply::TEntry{Utf8ToGbk("星光"), kDemoWordSongs}));
  r = Suggest("LU");
  ASSERT_EQ(r.Entries.size(), 2u);
  EXPECT_EQ(r.Entries[0], (TSuggestReply::TEntry{"luna", kDemoArtistSongs}));
  EXPECT_EQ(r.Entries[1], (TSuggestReply::TEntry{"Luna Park", kDemoArtistSongs}));
  r = Suggest("寂静");
  ASSERT_EQ(r.Entries.size(), 4u);
  EXPECT_EQ(r.Entries[0].Results, 1);
  EXPECT_TRUE(Suggest("").Entries.empty());
  EXPECT_TRUE(Suggest("zzz").Entries.empty());
}

TEST_F(Catalogue, UsageReportsAreRateLimitedPerSource) {
  cfg.UsageRate = 1;
  cfg.UsageBurst = 5;
  Start();
  for (int i = 0; i < 50; ++i) Report(TUsageReport::KeywordSearched, "flood");
  clock.Advance(Millis(1000));
  core->Housekeep();
  EXPECT_EQ(core->Catalogue().UsageCount(TUsageKind::KeywordSearched, "flood"), 5);
}

TEST_F(Catalogue, SongsAreLookedUpByName) {
  Start();
  const auto digest = LRMD5::MD5File(DemoCatalogueFolder() + "/Luna Park - Paper Moon.mp3").v;
  for (const char* name : {"Luna Park - Paper Moon", "luna park - paper moon.mp3", "Luna Park - Paper Moon.MP3",
                           "Paper Moon", "  Luna Park-Paper Moon "}) {
    SCOPED_TRACE(name);
    const TSongLookupReply r = Lookup(name);
    EXPECT_EQ(r.Digest, digest);
    EXPECT_EQ(r.FileName, "Luna Park - Paper Moon");
    EXPECT_EQ(r.Extension, ".mp3");
    EXPECT_EQ(r.FileSize, r.SizeHeld);
    EXPECT_GT(r.FileSize, 0);
    EXPECT_EQ(r.BitRateKbps, 32);
    EXPECT_EQ(r.DurationSeconds, 3);
  }
  EXPECT_EQ(GbkToUtf8(Lookup("周明远 - 寂静夜空里的星光照亮回家的小路").FileName),
            "周明远 - 寂静夜空里的星光照亮回家的小路");
  for (const char* name : {"", "Paper", "Nobody - Paper Moon"}) {
    SCOPED_TRACE(name);
    const TSongLookupReply r = Lookup(name);
    EXPECT_EQ(r.Digest, (std::array<uint8_t, 16>{}));
    EXPECT_TRUE(r.FileName.empty());
  }
}

}  // namespace
