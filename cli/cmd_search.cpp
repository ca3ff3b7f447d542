// minilirra-cli search: one page of the service's song search, through the player's own path:
// the server list, a login when one is asked for (a search needs no account), the search
// request with its resends, and the result parts as the player's search view takes them.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliOnline.h"
#include "app/UDPMessageRouter.h"
#include "base/EventLoop.h"
#include "base/LRMD5.h"
#include "net/IPv4Text.h"
#include "net/LRUDPClient.h"
#include "net/SearchRecords.h"
#include "net/WireCodes.h"
#include "net/uServerListManager.h"
#include "online/SongSearch.h"
#include "online/uLogin.h"

#include <bit>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Options {
  mlcli::CliConnection connection;
  std::string keyword;
  int page = 1;  // 1-based, as the player's page strip shows it
  bool json = false;
};

void PrintText(const ml::TSongSearch& search) {
  const auto& rows = search.Rows();
  if (search.Total() == 0) {
    std::printf("no songs match \"%s\" (搜索结束)\n", search.Keyword().c_str());
    return;
  }
  if (rows.empty()) {
    std::printf("\"%s\": page %d is past the last of %d (%d songs)\n", search.Keyword().c_str(), search.Page() + 1,
                search.PageCount(), search.Total());
    return;
  }
  std::printf("\"%s\": page %d of %d, songs %d-%d of %d (%s)\n", search.Keyword().c_str(), search.Page() + 1,
              search.PageCount(), search.First(), search.First() + int(rows.size()) - 1, search.Total(),
              search.StatusText().c_str());
  for (const ml::TSearchResultInfo& row : rows) {
    std::printf("%s  %s  %s  sources %d\n", ml::LRMD5::MD5DigestToStr(row.Digest).c_str(),
                ml::TSongSearch::SizeText(row.Size).c_str(), row.Name.c_str(), row.Sources);
  }
}

void PrintJson(const ml::TSongSearch& search) {
  nlohmann::ordered_json out;
  out["keyword"] = search.Keyword();
  out["page"] = search.Page() + 1;
  out["pages"] = search.PageCount();
  out["total"] = search.Total();
  out["first"] = search.Total() == 0 ? 0 : search.First();
  // How the page came: the datagrams it took and the requests made again for lost ones.
  out["parts"] = std::popcount(search.PartsReceived());
  out["resends"] = search.Resends();
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const ml::TSearchResultInfo& row : search.Rows()) {
    nlohmann::ordered_json r;
    r["name"] = row.Name;
    r["size"] = row.Size;
    r["digest"] = ml::LRMD5::MD5DigestToStr(row.Digest);
    r["sources"] = row.Sources;
    r["duration"] = int64_t(row.DurationSeconds) * 1000;
    r["artist"] = row.Artist;
    rows.push_back(std::move(r));
  }
  out["results"] = std::move(rows);
  mlcli::PrintJson(out);
}

int Search(mlcli::CliContext& ctx, const Options& o) {
  mlcli::CliSignals signals;
  ml::EventLoop loop;
  mlcli::CliSession session(ctx, o.connection, "search");
  // Result parts arrive on the UDP workers; the search takes each on the loop's thread and the
  // worker waits for it, as the player's view does.
  std::unique_ptr<ml::TSongSearch> searchPtr;
  // However the command ends, a worker still handing over a part gives up instead of waiting for
  // a loop that no longer runs, before the session joins the workers.
  struct TShutdownAtEnd {
    ml::EventLoop& loop;
    ~TShutdownAtEnd() { loop.BeginShutdown(); }
  } shutdownAtEnd{loop};
  const auto routes = [&loop, &searchPtr](ml::TUDPMessageRouter& router) {
    router.Route(ml::Cmd::Search, [&loop, &searchPtr](ml::TUDPWorkThread&, const uint8_t* buffer, int32_t length,
                                                      uint32_t, uint16_t, ml::TLRGUID&, uint8_t*, int32_t&) {
      loop.Send([&] {
        if (searchPtr) searchPtr->ShowResultPart(buffer, length);
      });
    });
  };
  if (const int opened = session.Open(mlcli::CliDefaultLogin::None, signals, 0, routes); opened != 0) {
    if (session.Attempted()) std::fprintf(stderr, "search: %s\n", session.ResultLine().c_str());
    return opened;
  }
  ml::TUserInfo& user = session.User();
  ml::TLRUDPClient& udp = session.Udp();
  searchPtr = std::make_unique<ml::TSongSearch>(loop, ml::SearchSender(udp, session.Servers(), user),
                                                [&user] { return user.UserID.load(); });
  ml::TSongSearch& search = *searchPtr;
  search.OnChanged = [&] {
    if (search.State() == ml::TSearchState::Finished || search.State() == ml::TSearchState::TimedOut) loop.Quit();
  };
  const ml::TimerId interrupt = loop.StartTimer(ml::Millis(50), [&] {
    if (signals.Wait(0)) {
      std::fprintf(stderr, "search: interrupted\n");
      loop.Quit();
    }
  });

  ml::TUsageReporter(udp, session.Servers(), user).SendUsageReport(o.keyword, ml::TUsageReport::KeywordSearched);
  search.Search(o.keyword, o.page - 1);
  loop.Run();
  loop.StopTimer(interrupt);

  switch (search.State()) {
    case ml::TSearchState::Finished:
      o.json ? PrintJson(search) : PrintText(search);
      return 0;
    case ml::TSearchState::TimedOut: {
      uint16_t port = 0;
      uint32_t ip = 0;
      const bool known = session.Servers().ServerFor(user.UserID.load(), ml::Cmd::Search, port, ip);
      std::fprintf(stderr, "search: no complete answer from the search server%s after %d resends (%s)\n",
                   known ? (" at " + ml::IPv4Text(ip) + ":" + std::to_string(port)).c_str() : " (none is known)",
                   ml::TSongSearch::MaxResends, search.StatusText().c_str());
      return 1;
    }
    default:
      return 130;  // interrupted
  }
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  app.add_option("keyword", o->keyword, "what to look for: part of a song's name, title, artist or album")
      ->required()
      ->check(CLI::Validator(
          [](std::string& v) -> std::string { return v.find_first_not_of(" \t") == std::string::npos ? "is empty" : ""; },
          ""));
  app.add_option("--page", o->page, "the page to show, from 1 (20 songs a page)")->check(CLI::Range(1, 65536));
  app.add_flag("--json", o->json, "print the page as JSON");
  mlcli::AddConnectionOptions(app, o->connection);
  return [&ctx, o] { return Search(ctx, *o); };
}

const mlcli::CliCommand kSearch("search", "search the service's songs and print one page of results", Setup);

}  // namespace
