// minilirra-cli playlists (upload | download): the playlist kept on the server for the logged-in
// account, through the player's own synchronisation: an upload sends the first playlist of the
// data folder's library, a download replaces the songs of the first playlist with the server's
// copy (a library without playlists gets one).
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliLibrary.h"
#include "cli/CliOnline.h"
#include "app/UDPMessageRouter.h"
#include "base/EventLoop.h"
#include "base/LRMD5.h"
#include "net/LRUDPClient.h"
#include "net/WireCodes.h"
#include "online/PlaylistSync.h"
#include "online/uLogin.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Options {
  mlcli::CliConnection connection;
  bool upload = false;
  bool json = false;
};

// The name the player gives the list it makes when there is none.
constexpr const char* kFirstListName = "[默认]";

void Print(const Options& o, const ml::TDataDownloader& sync, const std::vector<ml::TDownPlayListInfo>& songs,
           int code) {
  const int parts = o.upload ? sync.UploadPartCount() : sync.DownloadPartCount();
  const int passes = o.upload ? sync.UploadPasses() : sync.DownloadPasses();
  if (o.json) {
    mlcli::Json list = mlcli::Json::array();
    for (const auto& s : songs)
      list.push_back({{"caption", s.Caption}, {"digest", ml::LRMD5::MD5DigestToStr(s.Digest)}, {"duration", s.Duration}});
    mlcli::PrintJson({{"direction", o.upload ? "upload" : "download"},
                      {"result", code},
                      {"text", ml::TDataDownloader::ResultText(code)},
                      {"parts", parts},
                      {"passes", passes},
                      {"songs", list}});
    return;
  }
  std::printf("%s %zu songs in %d parts (%s)\n", o.upload ? "uploaded" : "downloaded", songs.size(), parts,
              ml::TDataDownloader::ResultText(code).c_str());
  for (const auto& s : songs) {
    const int secs = std::max(0, s.Duration) / 1000;
    std::printf("%s  %02d:%02d  %s\n", ml::LRMD5::MD5DigestToStr(s.Digest).c_str(), secs / 60, secs % 60,
                s.Caption.c_str());
  }
}

int Run(mlcli::CliContext& ctx, const Options& o) {
  auto lib = mlcli::LoadLibrary(ctx);
  if (!lib) return 1;
  std::string body;
  if (o.upload) {
    if (lib->mgr.PlayLists().empty()) {
      std::fprintf(stderr, "playlists: the library has no playlist to upload\n");
      return 1;
    }
    lib->mgr.WaitHashingIdle();  // songs without a digest yet do not travel
    body = lib->mgr.BuildPayload(*lib->mgr.PlayLists().front());
  }

  const char* command = o.upload ? "playlists upload" : "playlists download";
  mlcli::CliSignals signals;
  ml::EventLoop loop;
  // Outlives the session: the workers hand it the server's answers until the session has
  // joined them.
  std::unique_ptr<ml::TDataDownloader> syncPtr;
  mlcli::CliSession session(ctx, o.connection, command);
  // The server's acknowledgements and parts are taken on the UDP workers, as the player does.
  const auto routes = [&syncPtr](ml::TUDPMessageRouter& router) {
    router.Route(ml::Cmd::PlaylistUploadPart, [&syncPtr](ml::TUDPWorkThread&, const uint8_t* buffer, int32_t length,
                                                         uint32_t, uint16_t, ml::TLRGUID&, uint8_t*, int32_t&) {
      if (syncPtr) syncPtr->TakeUploadAck(buffer, length);
    });
    router.Route(ml::Cmd::PlaylistPart, [&syncPtr](ml::TUDPWorkThread&, const uint8_t* buffer, int32_t length,
                                                   uint32_t, uint16_t, ml::TLRGUID&, uint8_t*, int32_t&) {
      if (syncPtr) syncPtr->TakePart(buffer, length);
    });
  };
  if (const int opened = session.Open(mlcli::CliDefaultLogin::Saved, signals, 0, routes); opened != 0) {
    if (session.Attempted()) std::fprintf(stderr, "%s: %s\n", command, session.ResultLine().c_str());
    return opened;
  }
  ml::TLRLogin& login = session.Login();
  syncPtr = std::make_unique<ml::TDataDownloader>(loop, session.Udp(), session.Servers(), session.User(),
                                                  [&login] { return login.LoginKey(); });
  ml::TDataDownloader& sync = *syncPtr;
  bool done = false, success = false;
  std::string received;
  sync.OnUploadDone = [&](bool ok) {
    done = true;
    success = ok;
    loop.Quit();
  };
  sync.OnDownloadDone = [&](bool ok, const std::string& data) {
    done = true;
    success = ok;
    received = data;
    loop.Quit();
  };
  const ml::TimerId interrupt = loop.StartTimer(ml::Millis(50), [&] {
    if (signals.Wait(0)) {
      std::fprintf(stderr, "%s: interrupted\n", command);
      loop.Quit();
    }
  });
  if (o.upload ? sync.StartUpload(body) : sync.StartDownload()) loop.Run();
  loop.StopTimer(interrupt);
  const int code = o.upload ? sync.UploadResult() : sync.DownloadResult();
  if (!done) {
    if (code == ml::PlaylistResult::OK) return 130;  // interrupted
    std::fprintf(stderr, "%s: %s\n", command, ml::TDataDownloader::ResultText(code).c_str());
    return 1;
  }
  if (!success) {
    std::fprintf(stderr, "%s: %s\n", command, ml::TDataDownloader::ResultText(code).c_str());
    return 1;
  }
  std::vector<ml::TDownPlayListInfo> songs = ml::TMusicFileMgr::ParsePayload(o.upload ? body : received);
  if (!o.upload) {
    ml::TPlayList* list =
        lib->mgr.PlayLists().empty() ? lib->mgr.NewPlayList(kFirstListName) : lib->mgr.PlayLists().front().get();
    list->Items.clear();
    for (const auto& s : songs) list->Items.push_back(lib->mgr.AddFromPlayListInfo(s));
    lib->mgr.Changed();
    if (!mlcli::SaveLibrary(*lib)) return 1;
  }
  Print(o, sync, songs, code);
  return 0;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  auto d = std::make_shared<std::string>();
  app.add_option("DIRECTION", *d, "upload: send the first playlist; download: replace its songs with the server's")
      ->required()
      ->check(CLI::IsMember({"upload", "download"}));
  app.add_flag("--json", o->json, "print what was sent or received as JSON");
  mlcli::AddConnectionOptions(app, o->connection);
  return [&ctx, o, d] {
    o->upload = *d == "upload";
    return Run(ctx, *o);
  };
}

const mlcli::CliCommand kPlaylists("playlists", "keep the first playlist on the server: upload it or download it",
                                   Setup);

}  // namespace
