// The song search model on a manual loop: what it asks for, how it takes result parts (pages,
// parts, late and repeated parts, hostile numbers), its resends and time-out; what a view draws
// from it; and the usage report on the wire.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/EventLoop.h"
#include "base/LRMD5.h"
#include "net/LREncrypt.h"
#include "net/LRUDPClient.h"
#include "net/SearchRecords.h"
#include "net/uServerListManager.h"
#include "online/KeywordSuggest.h"
#include "online/SongSearch.h"
#include "online/uLogin.h"
#include "tests/net/NetTestTools.h"
#include "tests/online/SearchRequests.h"
#include "tests/support/TestSupport.h"

using namespace ml;
using mlnettest::Bytes;

namespace {

TSearchRow Row(int i, const std::string& name = "") {
  TSearchRow r;
  r.Name = name.empty() ? "song " + std::to_string(i) + ".mp3" : name;
  r.Digest[0] = uint8_t(i);
  r.Sources = i;
  r.Size = 1000 * i;
  return r;
}

// A result part of the search with the given number: rows first..first+count-1 of a page.
Bytes Part(int32_t searchNumber, int32_t total, int32_t first, uint16_t pageRows, uint8_t part, int rowFrom,
           int rowCount) {
  TSearchResultPart p{searchNumber, total, first, pageRows, part, {}};
  for (int i = 0; i < rowCount; ++i) p.Rows.push_back(Row(rowFrom + i));
  return mlnettest::Written(WriteSearchResultPart, p);
}

class SongSearchTest : public ::testing::Test, protected mltest::TOfflineSearch {
protected:
  int finished = 0;
  std::string finishedKeyword;
  void SetUp() override {
    search.OnFinished = [this](const std::string& k) {
      ++finished;
      finishedKeyword = k;
    };
  }
  void Take(const Bytes& b) { search.ShowResultPart(b.data(), int32_t(b.size())); }
};

TEST_F(SongSearchTest, TheRequestCarriesNumberKeywordPageAndAllParts) {
  search.Search("春天 ABC", 0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].SearchNumber, 1);
  EXPECT_EQ(sent[0].ProgramVersion, 5004);
  EXPECT_EQ(sent[0].UserID, 10001);
  EXPECT_EQ(sent[0].Keyword, "\xB4\xBA\xCC\xEC ABC");  // GBK, case kept
  EXPECT_EQ(sent[0].Page, 0);
  EXPECT_EQ(sent[0].PartsWanted, TSearchRequest::AllParts);
  EXPECT_EQ(search.StatusText(), "正在搜索...");
  search.NextPage();
  EXPECT_EQ(sent.back().SearchNumber, 2);
  EXPECT_EQ(sent.back().Page, 1);

  // A keyword longer than the short string is cut at a character, never inside one.
  search.Search(std::string(254, 'a') + "春天", 0);
  EXPECT_EQ(sent.back().Keyword, std::string(254, 'a'));
  search.Search(std::string(253, 'a') + "春天", 0);
  EXPECT_EQ(sent.back().Keyword, std::string(253, 'a') + "\xB4\xBA");
}

TEST_F(SongSearchTest, NoMatchEndsWithOnePageAndNoRows) {
  search.Search("zzz", 0);
  Take(Part(1, 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(search.State(), TSearchState::Finished);
  EXPECT_EQ(search.StatusText(), "搜索结束");
  EXPECT_EQ(search.PageCount(), 1);
  EXPECT_EQ(search.Page(), 0);
  EXPECT_TRUE(search.Rows().empty());
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(finishedKeyword, "zzz");
  loop.Advance(Millis(10000));
  EXPECT_EQ(sent.size(), 1u) << "a finished search sends nothing more";
}

TEST_F(SongSearchTest, APageInTwoPartsFinishesWithTheSecondAndIgnoresRepeats) {
  search.Search("春天", 0);
  Take(Part(1, 45, 1, 20, 0, 1, 10));
  EXPECT_EQ(search.State(), TSearchState::Searching);
  Take(Part(1, 45, 1, 20, 0, 1, 10));  // a duplicated datagram
  EXPECT_EQ(search.Rows().size(), 10u);
  Take(Part(1, 45, 1, 20, 1, 11, 10));
  EXPECT_EQ(search.Rows().size(), 20u);
  EXPECT_EQ(search.State(), TSearchState::Finished);
  EXPECT_EQ(search.PageCount(), 3);
  EXPECT_FALSE(search.PreviousEnabled());
  EXPECT_TRUE(search.NextEnabled());
  EXPECT_EQ(search.Rows()[10].Name, "song 11.mp3");
  EXPECT_EQ(search.Rows()[10].Digest.v[0], 11);
}

TEST_F(SongSearchTest, ALaterPageGivesThePageSizeFromItsFirstNumber) {
  search.Search("春天", 1);
  Take(Part(1, 45, 21, 20, 0, 21, 20));
  EXPECT_EQ(search.PageCount(), 3);
  EXPECT_TRUE(search.PreviousEnabled());
  EXPECT_TRUE(search.NextEnabled());
  search.Search("春天", 2);
  Take(Part(2, 45, 41, 5, 0, 41, 5));
  EXPECT_EQ(search.PageCount(), 3);
  EXPECT_FALSE(search.NextEnabled());
  // Past the last page: the total, no rows, done.
  search.Search("春天", 7);
  Take(Part(3, 45, 141, 0, 0, 0, 0));
  EXPECT_EQ(search.State(), TSearchState::Finished);
  EXPECT_TRUE(search.Rows().empty());
}

TEST_F(SongSearchTest, MissingPartsAreAskedForThreeTimesThenTheSearchTimesOut) {
  search.Search("春天", 0);
  Take(Part(1, 45, 1, 20, 0, 1, 10));
  loop.Advance(Millis(1999));
  EXPECT_EQ(sent.size(), 1u);
  loop.Advance(Millis(1));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].PartsWanted, 0xFFFFFFFEu) << "the complement of part 0";
  EXPECT_EQ(sent[1].SearchNumber, 1) << "a resend keeps the search number";
  loop.Advance(Millis(4000));
  EXPECT_EQ(sent.size(), 4u);
  EXPECT_EQ(search.State(), TSearchState::Searching);
  loop.Advance(Millis(2000));
  EXPECT_EQ(sent.size(), 4u);
  EXPECT_EQ(search.State(), TSearchState::TimedOut);
  EXPECT_EQ(search.StatusText(), "搜索超时");
  // The part that was late still completes the page.
  Take(Part(1, 45, 1, 20, 1, 11, 10));
  EXPECT_EQ(search.State(), TSearchState::Finished);
}

TEST_F(SongSearchTest, PartsOfOtherSearchesAndHostileNumbersChangeNothing) {
  search.Search("春天", 0);
  search.Search("秋叶", 0);  // abandons search 1
  const std::vector<std::pair<const char*, Bytes>> ignored = {
      {"an older search", Part(1, 45, 1, 20, 0, 1, 20)},
      {"search number 0", Part(0, 45, 1, 20, 0, 1, 20)},
      {"a part number past the 32-bit set", Part(2, 45, 1, 20, 32, 1, 20)},
      {"part 255", Part(2, 45, 1, 20, 255, 1, 20)},
      {"a negative total", Part(2, -5, 1, 20, 0, 1, 20)},
      {"a cut row", [] {
         Bytes b = Part(2, 45, 1, 20, 0, 1, 2);
         b.resize(b.size() - 3);
         return b;
       }()},
  };
  for (const auto& [name, bytes] : ignored) {
    Take(bytes);
    EXPECT_TRUE(search.Rows().empty()) << name;
    EXPECT_EQ(search.State(), TSearchState::Searching) << name;
  }
  EXPECT_EQ(search.PartsReceived(), 0u);
  // Page 0 whose first number is not 1: no division by the page index.
  Take(Part(2, 45, 21, 20, 0, 1, 20));
  EXPECT_EQ(search.PageCount(), 3);
  EXPECT_EQ(search.State(), TSearchState::Finished);
  // A page of no rows on a later page: one page, no division by a page size of 0.
  search.Search("秋叶", 3);
  Take(Part(3, 45, 61, 0, 0, 0, 0));
  EXPECT_EQ(search.State(), TSearchState::Finished);
}

TEST_F(SongSearchTest, WithoutAServerTheSearchTimesOut) {
  TSongSearch offline(loop, [](const uint8_t*, int32_t) { return false; }, nullptr);
  offline.Search("春天", 0);
  loop.Advance(Millis(8000));
  EXPECT_EQ(offline.State(), TSearchState::TimedOut);
}

TEST(SongSearchView, PageStrip) {
  struct Case {
    int32_t pages, current, first, last;
  } cases[] = {{10, 8, 6, 10}, {10, 0, 1, 5}, {10, 4, 3, 7}, {3, 1, 1, 3}, {1, 0, 1, 1}, {0, 0, 1, 0}};
  for (const Case& c : cases) {
    const TPageStrip s = TSongSearch::MakePageStrip(c.pages, c.current, 5);
    EXPECT_EQ(s.First, c.first) << c.pages << "/" << c.current;
    EXPECT_EQ(s.Last, c.last) << c.pages << "/" << c.current;
    if (c.pages > 0) {
      EXPECT_EQ(s.Current, c.current + 1);
    }
  }
}

TEST(SongSearchView, SizeTextAndAvailability) {
  EXPECT_EQ(TSongSearch::SizeText(1073741825), " 1.00 GB");
  EXPECT_EQ(TSongSearch::SizeText(1073741824), "1024.00 MB");
  EXPECT_EQ(TSongSearch::SizeText(3 * 1048576 + 524288), " 3.50 MB");
  for (auto [sources, lines] : {std::pair{0, 1}, {5, 1}, {6, 2}, {50, 2}, {200, 3}, {700, 4}, {1000, 4},
                                {1001, 6}, {5000, 6}, {20000, 6}})
    EXPECT_EQ(TSongSearch::AvailabilityLines(sources), lines) << sources;
  EXPECT_EQ(TSongSearch::AvailabilityColor(0), 0x002CFFu);
  EXPECT_EQ(TSongSearch::AvailabilityColor(5), 0x009900u);
}

TEST(SongSearchView, RelatedKeywordsOfARow) {
  using V = std::vector<std::string>;
  EXPECT_EQ(TSongSearch::RelatedKeywords("李四-小河(live版).mp3"), (V{"李四", "小河", "live版"}));
  EXPECT_EQ(TSongSearch::RelatedKeywords("Jane Doe - Summer Rain (remix).wma"), (V{"Jane Doe", "Summer Rain", "remix"}));
  EXPECT_EQ(TSongSearch::RelatedKeywords("01.mp3"), V{});
}

// The usage report and its partner copy, as a scripted search and partner server receive them.
TEST(UsageReport, KeywordAndSongReportsOnTheWire) {
  mltest::TempDir dir;
  mlnettest::TUdpPeer statistics, partner;
  const std::string listFile = dir.Path().string() + "/LR4ServerList.bin";
  {
    std::ofstream f(listFile, std::ios::binary);
    f << TServerListManager::SerializeCache(
        1, {{uint16_t(TServerListManager::SlotOfService(Cmd::UsageReport)), mlnettest::LoopbackIP(), statistics.Port()}});
  }
  TServerListManager servers(listFile);
  TLRUDPClient udp(nullptr);
  udp.SetDefaultPort(mlnettest::FreeUdpPort());
  ASSERT_TRUE(udp.SetActive(true));
  TUserInfo user;
  TUsageReporter reporter(udp, servers, user, 1);
  reporter.SetPartner(mlnettest::LoopbackIP(), partner.Port());

  auto payloadOf = [](mlnettest::TUdpPeer& peer, uint8_t kind) {
    auto d = peer.Receive(std::chrono::milliseconds(2000));
    if (!d) return Bytes();
    TOpenedEnvelope env;
    if (!OpenEnvelope(d->data.data(), d->data.size(), env) || env.Kind != kind) return Bytes();
    return Bytes(env.Payload, env.Payload + env.PayloadLength);
  };
  ASSERT_TRUE(reporter.SendUsageReport("ABC", TUsageReport::KeywordSearched));
  EXPECT_EQ(payloadOf(statistics, Envelope::Keyed), (Bytes{0x0c, 0, 4, 0, 3, 'a', 'b', 'c'}));
  EXPECT_EQ(payloadOf(partner, Envelope::Plain), (Bytes{4, 0, 3, 'a', 'b', 'c'}));
  ASSERT_TRUE(reporter.SendUsageReport("Song", TUsageReport::SongPlayed));
  EXPECT_EQ(payloadOf(statistics, Envelope::Keyed), (Bytes{0x0c, 0, 3, 0, 4, 's', 'o', 'n', 'g'}));
  EXPECT_EQ(payloadOf(partner, Envelope::Plain), (Bytes{5, 0, 4, 's', 'o', 'n', 'g'}));
  udp.SetActive(false);
}

// A suggestion's line: the count with thousands separators.
TEST(KeywordSuggest, LinesCarryTheCountWithThousandsSeparators) {
  const struct {
    int32_t results;
    const char* line;
  } cases[] = {{0, "星光|0结果"}, {999, "星光|999结果"}, {1000, "星光|1,000结果"}, {1234567, "星光|1,234,567结果"}, {-3, "星光|0结果"}};
  for (const auto& c : cases) EXPECT_EQ(TKeywordSuggest::SuggestionLine({"星光", c.results}), c.line) << c.results;
}

}  // namespace
