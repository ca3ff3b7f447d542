// The desktop's online session against the real service on loopback, with the demo catalogue
// imported: a login to an account and a refused one, a search of the catalogue's word with its
// rows, the suggestions while typing, a song of the service downloaded for play, and the lyric
// the main window's controller finds for a song without one. md5sum judges the digests against
// the catalogue's files.
#include "app/OnlineSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "app/AppInfo.h"
#include "app/MainController.h"
#include "app/OnlinePlayback.h"
#include "app/OnlinePlaylistSync.h"
#include "app/ServicesShell.h"
#include "app/uSettingMgr.h"
#include "base/EventLoop.h"
#include "base/LRMD5.h"
#include "library/MusicFileMgr.h"
#include "lyrics/LRCParse.h"
#include "playback/uPlayer.h"
#include "net/WireCodes.h"
#include "online/SongSearch.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/DemoCatalogue.h"
#include "tests/service/ServiceProcess.h"
#include "tests/app/ControllerHarness.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The digests md5sum gives the catalogue's song files.
std::set<std::string> CatalogueDigests() {
  std::istringstream lines(mltest::RunCapture("md5sum '" + mlsvctest::DemoCatalogueFolder() + "'/*.mp3 | cut -c1-32"));
  std::set<std::string> out;
  for (std::string line; std::getline(lines, line);)
    if (line.size() == 32) out.insert(line);
  return out;
}

class OnlineSession : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(dir.File("svc"));
    ASSERT_TRUE(service.StartWithCatalogue(dir.File("svc"), mlsvctest::DemoCatalogueFolder())) << service.Log();
    mltest::WriteAll(dir.File("pw"), "secret\n");
    int status = -1;
    account = mlsvctest::TServiceProcess::Admin(service.DbPath(), {"add-user", "alice", "--password-file", dir.File("pw")},
                                                &status);
    ASSERT_EQ(status, 0) << account;
    account = account.substr(0, account.find_first_of("\r\n"));

    info.AppDir = dir.File("data") + "/";
    fs::create_directories(info.AppDir);
    settings.SaveAtExit(false);
    settings.DownPort = mlnettest::FreeUdpPort();
    settings.DefaultDownPath = dir.File("down");
  }
  void TearDown() override {
    session.reset();
    loop.BeginShutdown();
  }

  ml::TOnlineSession& Open(ml::TMusicFileMgr* songs = nullptr) {
    ml::TOnlineSessionOptions o;
    o.Info = &info;
    o.Settings = &settings;
    o.dispatcher = &loop;
    o.Library = songs;
    o.ServerDefaults.ListServerIP = mlnettest::LoopbackIP();
    o.ServerDefaults.ListServerPort = service.ListPort();
    session = std::make_unique<ml::TOnlineSession>(o);
    session->OnLoginResult = [this](const ml::TLoginOutcome& r) { results.push_back(r); };
    return *session;
  }
  // Waits for the next login result.
  ml::TLoginOutcome NextResult() {
    const size_t before = results.size();
    EXPECT_TRUE(loop.WaitPumping([&] { return results.size() > before; }, 40s)) << "no login result";
    return results.size() > before ? results.back() : ml::TLoginOutcome{};
  }

  mltest::TempDir dir;
  mlsvctest::TServiceProcess service;
  std::string account;
  ml::EventLoop loop;
  ml::TAppInfo info;
  ml::TSettingMgr settings{dir.File("minilirra.xml"),
                           ml::TSettingContext{dir.Path().string() + "/", "minilirra", "迷你琴鸟", "/opt/minilirra/minilirra", nullptr}};
  std::vector<ml::TLoginOutcome> results;
  ml::TMusicFileMgr library;  // outlives the session, which answers peers from it
  std::unique_ptr<ml::TOnlineSession> session;
};

// An account logs in (and is remembered for the next start), a wrong password is refused with
// the service's reason, and logging out leaves an anonymous connection behind.
TEST_F(OnlineSession, LogsInIsRefusedAndLogsOut) {
  ml::TOnlineSession& s = Open();
  const std::string stored = ml::EncodeStoredPassword("secret");
  ASSERT_TRUE(s.LogIn("alice", ml::EncodeStoredPassword("wrong"), false));
  ml::TLoginOutcome r = NextResult();
  EXPECT_TRUE(r.WithUserText);
  EXPECT_EQ(r.Code, ml::Status::WrongPassword);
  EXPECT_EQ(r.Text, ml::LoginResultText(ml::Status::WrongPassword));
  EXPECT_FALSE(s.LoggedIn());

  ASSERT_TRUE(s.LogIn("alice", stored, true));
  EXPECT_FALSE(s.LogIn("alice", stored, true)) << "a second login while one runs";
  r = NextResult();
  EXPECT_EQ(r.Code, ml::LoginResult::Success) << r.Text;
  EXPECT_EQ(std::to_string(r.UserID), account);
  EXPECT_TRUE(s.LoggedIn());
  EXPECT_TRUE(s.LastLogin().AutoLogin);

  ASSERT_TRUE(s.LogOut());
  r = NextResult();
  EXPECT_FALSE(r.WithUserText);
  EXPECT_EQ(r.Code, ml::LoginResult::Success) << r.Text;
  EXPECT_NE(std::to_string(r.UserID), account);

  // The next start logs in to the saved account by itself.
  session.reset();
  ml::TOnlineSession& again = Open();
  ASSERT_TRUE(again.StartUp());
  r = NextResult();
  EXPECT_TRUE(r.WithUserText);
  EXPECT_EQ(std::to_string(r.UserID), account);
}

// After the anonymous connection of a start, the catalogue's word finds its two pages, every row
// a song of the catalogue; typing a part of it brings suggestions; and a row downloaded for play
// completes with the digest md5sum gives its file. Played again, the library's copy serves.
TEST_F(OnlineSession, SearchesSuggestsAndDownloadsASongForPlay) {
  ml::TOnlineSession& s = Open(&library);
  ASSERT_TRUE(s.StartUp());
  ASSERT_EQ(NextResult().Code, ml::LoginResult::Success);

  // The artist's name begins with what is typed.
  std::vector<ml::TSuggestion> suggestions;
  bool suggested = false;
  s.OnSuggestions = [&](const std::string& text, const std::vector<ml::TSuggestion>& words) {
    EXPECT_EQ(text, "Luna");
    suggestions = words;
    suggested = true;
  };
  s.Suggest("Luna");

  ml::TSongSearch& search = s.Search();
  s.SearchFor(mlsvctest::kDemoWord);
  ASSERT_TRUE(loop.WaitPumping([&] { return search.State() != ml::TSearchState::Searching; }, 20s));
  ASSERT_EQ(search.State(), ml::TSearchState::Finished);
  EXPECT_EQ(search.Total(), mlsvctest::kDemoWordSongs);
  EXPECT_EQ(search.PageCount(), 2);
  ASSERT_EQ(search.Rows().size(), 20u);
  const std::set<std::string> catalogue = CatalogueDigests();
  ASSERT_EQ(catalogue.size(), size_t(mlsvctest::kDemoSongs));
  for (const ml::TSearchResultInfo& row : search.Rows()) {
    EXPECT_NE(row.Name.find(mlsvctest::kDemoWord), std::string::npos) << row.Name;
    EXPECT_TRUE(catalogue.count(ml::LRMD5::MD5DigestToStr(row.Digest))) << row.Name;
  }

  ASSERT_TRUE(loop.WaitPumping([&] { return suggested; }, 10s)) << "no suggestions came";
  EXPECT_NE(std::find(suggestions.begin(), suggestions.end(),
                      ml::TSuggestion{mlsvctest::kDemoArtist, mlsvctest::kDemoArtistSongs}),
            suggestions.end());

  const ml::TSearchResultInfo row = search.Rows().front();
  const auto download = s.DownloadForPlay(row.Digest, row.Name, row.Size);
  ASSERT_TRUE(download);
  ASSERT_TRUE(loop.WaitPumping([&] { return download->Complete(); }, 60s)) << "the song did not arrive";
  EXPECT_EQ(download->FileSize(), row.Size);
  EXPECT_EQ(download->ArrivedFrom(0), uint64_t(row.Size));
  const std::string path = download->FilePath();
  EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir.File("down/Temp")));
  EXPECT_EQ(mltest::RunCapture("md5sum '" + path + "' | cut -c1-32").substr(0, 32), ml::LRMD5::MD5DigestToStr(row.Digest));

  // Once the library holds the file, playing the song again reads it without a download.
  ASSERT_TRUE(library.AddFile(path).Entry);
  library.WaitHashingIdle();
  const auto local = s.DownloadForPlay(row.Digest, row.Name, row.Size);
  ASSERT_TRUE(local);
  EXPECT_TRUE(local->Complete());
  EXPECT_EQ(local->FilePath(), path);
}

// The playlist frame's synchronisation through the session: an anonymous connection is not a
// login; for an account, a first list of several parts goes up and comes back byte for byte.
TEST_F(OnlineSession, PlaylistGoesUpAndComesBack) {
  ml::TOnlineSession& s = Open();
  ml::TConsoleServicesShell shell;
  ml::TOnlinePlaylistSync sync(s, shell);
  ASSERT_TRUE(s.StartUp());
  ASSERT_EQ(NextResult().Code, ml::LoginResult::Success);
  EXPECT_FALSE(sync.LoggedIn());
  ASSERT_TRUE(s.LogIn("alice", ml::EncodeStoredPassword("secret"), false));
  ASSERT_EQ(NextResult().Code, ml::LoginResult::Success);
  EXPECT_TRUE(sync.LoggedIn());

  ml::TPlayList list;
  for (int i = 0; i < 80; ++i)
    list.Items.push_back(library.AddFromSearchResult("歌曲 " + std::to_string(i), ml::LRMD5::MD5String(std::to_string(i))));
  const std::string body = library.BuildPayload(list);
  ASSERT_GT(body.size(), 2000u) << "several parts";
  int uploaded = -1, downloaded = -1;
  std::string received, failure;
  sync.OnUploadDone = [&](bool ok, const std::string& error) {
    uploaded = ok;
    failure = error;
  };
  sync.OnDownloadDone = [&](bool ok, const std::string& got, const std::string& error) {
    downloaded = ok;
    received = got;
    failure = error;
  };
  std::string error;
  ASSERT_TRUE(sync.StartUpload(body, &error)) << error;
  EXPECT_TRUE(sync.Busy());
  ASSERT_TRUE(loop.WaitPumping([&] { return uploaded >= 0; }, 60s)) << "the upload did not end";
  EXPECT_EQ(uploaded, 1) << failure;
  ASSERT_TRUE(sync.StartDownload(&error)) << error;
  ASSERT_TRUE(loop.WaitPumping([&] { return downloaded >= 0; }, 60s)) << "the download did not end";
  EXPECT_EQ(downloaded, 1) << failure;
  EXPECT_EQ(received, body);
  EXPECT_FALSE(sync.Busy());
}

// A song of the catalogue's name played from a file without a lyric: the controller asks the
// lyric server by its caption, downloads the first hit into the lyric folder and shows it; the
// file is the catalogue's own lyric, byte for byte.
TEST_F(OnlineSession, ASongWithoutALyricGetsTheCataloguesLyric) {
  ml::TOnlineSession& s = Open(&library);
  ASSERT_TRUE(s.StartUp());
  ASSERT_EQ(NextResult().Code, ml::LoginResult::Success);

  const std::string caption = "Luna Park - Midnight Train";  // a catalogue song with a lyric
  const std::string song = dir.File("songs/" + caption + ".wav");
  fs::create_directories(dir.File("songs"));
  mltest::WriteAll(song, mltest::MakeWav(2, 8000, 1, 500, 0));
  settings.AutoShowLRC = true;
  settings.LRCSavePath = dir.File("lyrics") + "/";
  library.NewPlayList("default");
  ml::TPlayer player(&loop);
  player.SetOutputTarget({ml::TOutputKind::Null, ""});
  ml::TLRCParse lyrics;
  mltest::TRecordingView view;
  ml::TMainControllerParts parts;
  parts.Player = &player;
  parts.Library = &library;
  parts.Settings = &settings;
  parts.Info = &info;
  parts.dispatcher = &loop;
  parts.Lyrics = &lyrics;
  parts.View = &view;
  ml::TMainController controller(parts);
  controller.SetLyricService(&s.Lyrics());
  controller.OpenFiles({song}, true);
  ASSERT_TRUE(loop.WaitPumping([&] { return lyrics.Count() > 0; }, 20s)) << "no lyric came";
  EXPECT_GT(view.LyricLength, 0) << "the display starts with the lyric";
  const std::string saved = dir.File("lyrics/" + caption + ".lrc");
  EXPECT_EQ(controller.PlayingEntry()->LRCFileName, saved);
  EXPECT_EQ(mltest::RunCapture("cmp '" + saved + "' '" + mlsvctest::DemoCatalogueFolder() + "/" + caption + ".lrc' && echo same"),
            "same\n");
  controller.Stop();
  controller.SetLyricService(nullptr);
}

}  // namespace
