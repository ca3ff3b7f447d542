// The search command against the real service on loopback, over a catalogue the service imported
// from the generated demo songs: pages, parts, no match, the digests checked by md5sum, a time-out,
// and the same searches through a link that loses a fifth of the datagrams each way.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/net/NetTestTools.h"
#include "tests/service/ServiceProcess.h"
#include "tests/support/TestSupport.h"

#include <memory>
#include <string>

using mlsvctest::TServiceProcess;
using nlohmann::json;

namespace {

// The demo catalogue's promises: 28 songs with 星光 in their titles (pages of 20 and 8, a full
// page needing two datagrams) and four songs by Luna Park.
constexpr const char* kStar = "星光";
constexpr int kStarSongs = 28;

class SearchCli : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    catalogue_ = new mltest::TempDir;
    int status = -1;
    const std::string out = mltest::RunCapture(mltest::SourceDir() + "/scripts/demo-catalogue " +
                                                   catalogue_->File("songs") + " 45 2>&1",
                                               &status);
    ASSERT_EQ(status, 0) << out;
  }
  static void TearDownTestSuite() {
    delete catalogue_;
    catalogue_ = nullptr;
  }

  // Starts the service with the catalogue imported; advertise names where the served server
  // table sends the clients (a relay in front of the service), else the service itself.
  void StartService(uint16_t port = 0, const std::string& advertise = "") {
    const std::string db = dir.File("service.db");
    int status = -1;
    TServiceProcess::Admin(db, {"init"}, &status);
    ASSERT_EQ(status, 0);
    const std::string out = TServiceProcess::Admin(db, {"import", catalogue_->File("songs")}, &status);
    ASSERT_EQ(status, 0) << out;
    std::vector<std::string> extra;
    if (!advertise.empty()) extra = {"--advertise", advertise};
    ASSERT_TRUE(service.Start(dir.Path().string(), extra, port, port ? mlnettest::FreeUdpPort() : 0)) << service.Log();
    ASSERT_EQ(service.DbPath(), db);
  }

  std::string Cli(const std::string& args) const {
    return mltest::BinDir() + "/minilirra-cli --data-dir " + dir.File("data") + " search --list-server 127.0.0.1:" +
           std::to_string(service.ListPort()) + " --udp-port " + std::to_string(mlnettest::FreeUdpPort()) + " " + args;
  }

  json SearchJson(const std::string& args, int& status, std::string* errors = nullptr) const {
    const std::string out = mltest::RunCapture(Cli("--json " + args) + " 2>" + dir.File("stderr"), &status);
    if (errors) *errors = mltest::ReadAll(dir.File("stderr"));
    return json::parse(out, nullptr, false);
  }

  // Every row is well formed and names the keyword.
  static void CheckRows(const json& page, const std::string& word) {
    for (const json& row : page["results"]) {
      EXPECT_NE(row["name"].get<std::string>().find(word), std::string::npos) << row;
      EXPECT_EQ(row["digest"].get<std::string>().size(), 32u) << row;
      EXPECT_GT(row["size"].get<int>(), 0) << row;
      EXPECT_GE(row["sources"].get<int>(), 1) << row;
    }
  }

  static mltest::TempDir* catalogue_;
  mltest::TempDir dir;
  TServiceProcess service;
};

mltest::TempDir* SearchCli::catalogue_ = nullptr;

TEST_F(SearchCli, FindsPagesOfTheImportedCatalogue) {
  StartService();
  int status = -1;
  json page = SearchJson(kStar, status);
  ASSERT_EQ(status, 0);
  ASSERT_TRUE(page.is_object());
  EXPECT_EQ(page["total"], kStarSongs);
  EXPECT_EQ(page["pages"], 2);
  EXPECT_EQ(page["first"], 1);
  EXPECT_EQ(page["results"].size(), 20u);
  EXPECT_EQ(page["parts"], 2) << "a full page of these names takes two datagrams";
  CheckRows(page, kStar);

  json second = SearchJson(std::string("--page 2 ") + kStar, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(second["first"], 21);
  EXPECT_EQ(second["results"].size(), size_t(kStarSongs - 20));
  CheckRows(second, kStar);

  json past = SearchJson(std::string("--page 3 ") + kStar, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(past["total"], kStarSongs);
  EXPECT_TRUE(past["results"].empty());

  // Case does not matter; the service's digest is the file's own, as md5sum sees it.
  json luna = SearchJson("'luna PARK'", status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(luna["results"].size(), 4u);
  CheckRows(luna, "Luna Park");
  for (const json& row : luna["results"]) {
    const std::string file = catalogue_->File("songs/" + row["name"].get<std::string>());
    EXPECT_EQ(mltest::RunCapture("md5sum '" + file + "' | cut -c1-32"), row["digest"].get<std::string>() + "\n");
    EXPECT_EQ(row["artist"], "Luna Park");
  }

  json none = SearchJson("qqzzxxnomatch", status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(none["total"], 0);
  EXPECT_EQ(none["pages"], 1);
  EXPECT_TRUE(none["results"].empty());

  // The text form: one line per song, with its digest and size.
  const std::string text = mltest::RunCapture(Cli("'Luna Park'"), &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(text.find("\"Luna Park\": page 1 of 1, songs 1-4 of 4 (搜索结束)"), std::string::npos) << text;
  EXPECT_NE(text.find(" MB  Luna Park - Paper Moon.mp3  sources 1"), std::string::npos) << text;
  EXPECT_NE(mltest::RunCapture(Cli("qqzzxxnomatch"), &status).find("no songs match"), std::string::npos);
}

TEST_F(SearchCli, WithoutAServiceItSaysSoAndFails) {
  // Nothing listens on the list port: the cached or built-in table is used, and the search
  // server it names does not answer either.
  const std::string command = mltest::BinDir() + "/minilirra-cli --data-dir " + dir.File("data") +
                              " search --list-server 127.0.0.1:" + std::to_string(mlnettest::FreeUdpPort()) +
                              " --udp-port " + std::to_string(mlnettest::FreeUdpPort()) + " 星光 2>&1";
  int status = -1;
  const std::string out = mltest::RunCapture(command, &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("the server list did not come"), std::string::npos) << out;
  EXPECT_NE(out.find("no complete answer from the search server at 127.0.0.1:"), std::string::npos) << out;
  EXPECT_NE(out.find("after 3 resends (搜索超时)"), std::string::npos) << out;
}

TEST_F(SearchCli, CompletesThroughALossyLink) {
  // The served table sends the clients to a relay that drops a fifth of the datagrams each way;
  // the list server is reached directly.
  const uint16_t port = mlnettest::FreeUdpPort();
  mlnettest::TLinkFaults loss;
  loss.loss = 0.2;
  mlnettest::TLossyRelay relay(mlnettest::LoopbackIP(), port, loss, loss, 20261210);
  StartService(port, "127.0.0.1:" + std::to_string(relay.Port()));

  struct Case {
    std::string args, word;
    int total;
    size_t rows;
  } cases[] = {
      {kStar, kStar, kStarSongs, 20},
      {std::string("--page 2 ") + kStar, kStar, kStarSongs, 8},
      {"'Luna Park'", "Luna Park", 4, 4},
      {"qqzzxxnomatch", "", 0, 0},
  };
  int resends = 0;
  for (int round = 0; round < 3; ++round) {
    for (const Case& c : cases) {
      int status = -1;
      std::string errors;
      const json page = SearchJson(c.args, status, &errors);
      ASSERT_EQ(status, 0) << c.args << "\n" << errors;
      EXPECT_EQ(page["total"], c.total) << c.args;
      EXPECT_EQ(page["results"].size(), c.rows) << c.args;
      CheckRows(page, c.word);
      resends += page["resends"].get<int>();
    }
  }
  EXPECT_GT(relay.ToServerStats().dropped.load() + relay.ToClientStats().dropped.load(), 0u);
  EXPECT_GT(resends, 0) << "at this loss some page needs a resend";
}

}  // namespace
