// The search server as its own process on loopback with a temporary database: the demo
// catalogue imported with "admin import", then searched over UDP the way a client does (the
// parts that did not arrive asked for again, three times at most), directly and through the
// seeded lossy relay at 20 % loss each way; hostile searches and a flood from one source.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "base/GbkText.h"
#include "net/SearchRecords.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/DemoCatalogue.h"
#include "tests/service/ServiceProcess.h"
#include "tests/support/TestSupport.h"

using namespace mlnettest;
using namespace mltest;
using namespace mlsvctest;

namespace {

struct TPage {
  int32_t Total = -1;
  std::map<int, ml::TSearchResultPart> Parts;
  int Sends = 0;
  bool Complete() const {
    if (Total == 0) return true;
    if (Parts.empty()) return false;
    size_t rows = 0;
    for (const auto& [n, p] : Parts) rows += p.Rows.size();
    return rows == Parts.begin()->second.PageRows;
  }
  size_t Rows() const {
    size_t rows = 0;
    for (const auto& [n, p] : Parts) rows += p.Rows.size();
    return rows;
  }
};

// One page as a client gets it: the first request wants every part, each of up to three
// resends the parts still missing; each try waits waitMs for answers.
TPage SearchPage(TUdpPeer& peer, uint16_t port, const std::string& keywordUtf8, uint16_t page, int waitMs = 400) {
  static int32_t number = 100;
  TPage result;
  ml::TSearchRequest r;
  r.SearchNumber = ++number;
  r.ProgramVersion = 5004;
  r.Keyword = ml::Utf8ToGbk(keywordUtf8);
  r.Page = page;
  for (int tries = 0; tries < 4 && !result.Complete(); ++tries) {
    uint32_t have = 0;
    for (const auto& [n, p] : result.Parts) have |= 1u << n;
    r.PartsWanted = ~have;
    peer.Send(port, EnvelopeBytes(ml::Envelope::Keyed, {3, r.SearchNumber * 4 + tries}, Written(ml::WriteSearchRequest, r)));
    ++result.Sends;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!result.Complete()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      auto d = peer.Receive(left);
      if (!d) break;
      ml::TOpenedEnvelope env;
      ml::TSearchResultPart part;
      if (!ml::OpenEnvelope(d->data.data(), d->data.size(), env) ||
          !ml::ReadSearchResultPart(env.Payload, env.PayloadLength, part) || part.SearchNumber != r.SearchNumber)
        continue;
      result.Total = part.Total;
      if (part.Total > 0) result.Parts[part.Part] = part;
    }
  }
  return result;
}

class SearchE2E : public ::testing::Test {
protected:
  TempDir dir;
  TServiceProcess service;
  std::string Db() const { return dir.File("service.db"); }
  void SetUp() override {
    int status = -1;
    TServiceProcess::Admin(Db(), {"init"}, &status);
    ASSERT_EQ(status, 0);
    const std::string out = TServiceProcess::Admin(Db(), {"import", DemoCatalogueFolder()}, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out, "imported 45 songs: 45 new, 0 already present (0 moved), 0 skipped (not audio), 36 new with lyrics\n");
  }
};

TEST_F(SearchE2E, ImportIsIdempotentAndSaysWhatWasWrong) {
  int status = -1;
  EXPECT_EQ(TServiceProcess::Admin(Db(), {"import", DemoCatalogueFolder()}, &status),
            "imported 45 songs: 0 new, 45 already present (0 moved), 0 skipped (not audio), 0 new with lyrics\n");
  EXPECT_EQ(status, 0);
  TServiceProcess::Admin(Db(), {"import", dir.File("missing")}, &status);
  EXPECT_EQ(status, 1);
  TServiceProcess::Admin(Db(), {"import"}, &status);
  EXPECT_EQ(status, 2);
}

TEST_F(SearchE2E, SearchesOverLoopbackAndThroughALossyRelay) {
  ASSERT_TRUE(service.Start(dir.Path().string())) << service.Log();
  TUdpPeer peer;
  TPage p = SearchPage(peer, service.Port(), kDemoWord, 0);
  EXPECT_EQ(p.Total, kDemoWordSongs);
  EXPECT_EQ(p.Parts.size(), 2u) << "a page of 20 long names needs two parts";
  EXPECT_EQ(p.Rows(), 20u);
  EXPECT_EQ(p.Sends, 1);
  p = SearchPage(peer, service.Port(), kDemoWord, 1);
  EXPECT_EQ(p.Rows(), size_t(kDemoWordSongs - 20));
  EXPECT_EQ(p.Parts.begin()->second.First, 21);
  p = SearchPage(peer, service.Port(), "luna park", 0);
  EXPECT_EQ(p.Total, kDemoArtistSongs);
  EXPECT_EQ(p.Parts.begin()->second.Rows[0].Artist, kDemoArtist);
  p = SearchPage(peer, service.Port(), "nothing like this", 0);
  EXPECT_EQ(p.Total, 0);
  EXPECT_TRUE(p.Complete());

  TLinkFaults lossy;
  lossy.loss = 0.2;
  TLossyRelay relay(LoopbackIP(), service.Port(), lossy, lossy, 20261210);
  int resends = 0;
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    const TPage q = SearchPage(peer, relay.Port(), kDemoWord, uint16_t(i % 2), 300);
    ASSERT_TRUE(q.Complete()) << "within three resends";
    EXPECT_EQ(q.Rows(), i % 2 ? 8u : 20u);
    resends += q.Sends - 1;
  }
  EXPECT_GT(relay.ToServerStats().dropped + relay.ToClientStats().dropped, 0u);
  RecordProperty("resends", resends);
}

TEST_F(SearchE2E, HostileSearchesAndAFloodDoNotStopTheService) {
  ASSERT_TRUE(service.Start(dir.Path().string())) << service.Log();
  TUdpPeer flood, client;
  const auto search = [](const std::string& keyword, uint16_t page, uint32_t parts) {
    return EnvelopeBytes(ml::Envelope::Keyed, {3, 3},
                         Written(ml::WriteSearchRequest, ml::TSearchRequest{1, 5004, 0, keyword, page, parts}));
  };
  std::vector<Bytes> hostile = {search("", 0, ~0u),          search(std::string(255, 'x'), 0, ~0u),
                                search("\xD0", 0, ~0u),       search("\x80\xFF", 0, ~0u),
                                search(ml::Utf8ToGbk("星光"), 65535, ~0u), search(ml::Utf8ToGbk("星光"), 0, 0)};
  for (int i = 0; i < 60; ++i) hostile.push_back(search(ml::Utf8ToGbk("星光"), 1, ~0u));
  flood.SendBatch(service.Port(), hostile);
  int answers = 0;
  while (flood.Receive(std::chrono::milliseconds(300))) ++answers;
  // The default burst is 40 an address; every hostile one has an answer but the one that wants
  // no parts.
  EXPECT_GE(answers, 35);
  EXPECT_LE(answers, 45);
  // Both peers are at 127.0.0.1, one address: a second later it is served again.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const TPage p = SearchPage(client, service.Port(), kDemoWord, 0);
  EXPECT_EQ(p.Rows(), 20u);
}

}  // namespace
