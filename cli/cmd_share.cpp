// minilirra-cli share: serves the song files of a folder to peers until interrupted: it answers
// their file and block requests as the player's upload side does, and tells the hash server
// which files it holds (again every minute, so that the server does not forget them).
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "base/EventLoop.h"
#include "base/LRMD5.h"
#include "cli/CliCommand.h"
#include "cli/CliOnline.h"
#include "cli/CliTransfer.h"
#include "online/uLogin.h"
#include "transfer/miniLRMFTP.h"

namespace {

struct Options {
  mlcli::CliConnection connection;
  std::string folder;
  int uploads = 16;
  int maxUpRateKB = 0;
};

struct SharedFile {
  std::string path;
  int64_t size = 0;
};

constexpr int AnnounceMs = 60000;

int Share(mlcli::CliContext& ctx, Options o) {
  std::map<std::array<uint8_t, 16>, SharedFile> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(o.folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code sizeError;
    const auto size = int64_t(it->file_size(sizeError));
    if (!it->is_regular_file() || sizeError || size <= 0 || size > INT32_MAX) continue;
    bool ok = false;
    const ml::TMD5Digest digest = ml::LRMD5::MD5File(it->path().string(), &ok);
    if (ok) files[digest.v] = {it->path().string(), size};
  }
  if (ec) {
    std::fprintf(stderr, "share: cannot read %s: %s\n", o.folder.c_str(), ec.message().c_str());
    return 1;
  }
  if (o.connection.user.empty()) o.connection.anonymous = true;

  mlcli::CliSignals signals;
  ml::EventLoop loop;
  mlcli::CliSession session(ctx, o.connection, "share");
  mlcli::CliTransfer transfer(session);
  struct TShutdownAtEnd {
    ml::EventLoop& loop;
    ~TShutdownAtEnd() { loop.BeginShutdown(); }
  } shutdownAtEnd{loop};
  if (const int opened = transfer.OpenSession(signals, "share"); opened != 0) return opened;
  ml::TminiLRMFTP& manager = transfer.Start(loop, "", "");
  manager.SetMaxUpFileCount(o.uploads);
  // A data packet carries a block of 1 KB: packets a second and KB a second are one number.
  if (o.maxUpRateKB > 0) manager.SetMaxUpBandwide(o.maxUpRateKB);
  // The library's find by digest, over the folder's files.
  manager.OnLocateFile = [&files](const ml::TMD5Digest& h, std::string& path, int64_t& size) {
    const auto it = files.find(h.v);
    if (it == files.end()) return false;
    path = it->second.path;
    size = it->second.size;
    return true;
  };
  // Older clients ask by file name and size.
  manager.OnOldLocateFile = [&files](const std::string& name, int64_t size, std::string& path, ml::TMD5Digest& hash) {
    for (const auto& [digest, file] : files) {
      const std::string fileName = std::filesystem::path(file.path).filename().string();
      if (file.size != size || ml::LowerOldFileKey(fileName) != ml::LowerOldFileKey(name)) continue;
      path = file.path;
      hash = ml::TMD5Digest{digest};
      return true;
    }
    return false;
  };
  const auto announce = [&] {
    for (const auto& [digest, file] : files)
      transfer.Announce(ml::TMD5Digest{digest}, file.size, std::filesystem::path(file.path).filename().string());
  };
  announce();
  std::printf("sharing %zu files from %s as user %d\n", files.size(), o.folder.c_str(), session.User().UserID.load());
  std::fflush(stdout);
  const ml::TimerId again = loop.StartTimer(ml::Millis(AnnounceMs), announce);
  const ml::TimerId interrupt = loop.StartTimer(ml::Millis(100), [&] {
    if (signals.Wait(0)) loop.Quit();
  });
  loop.Run();
  loop.StopTimer(again);
  loop.StopTimer(interrupt);
  std::fprintf(stderr, "share: stopped\n");
  return 0;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  app.add_option("folder", o->folder, "the folder whose files peers may fetch")->required()->check(CLI::ExistingDirectory);
  app.add_option("--uploads", o->uploads, "peers served at once")->check(CLI::Range(1, 256));
  app.add_option("--max-up-rate", o->maxUpRateKB, "send at most this many KB a second (all peers together)")
      ->check(CLI::Range(1, 1000000));
  mlcli::AddConnectionOptions(app, o->connection);
  return [&ctx, o] { return Share(ctx, *o); };
}

const mlcli::CliCommand kShare("share", "serve a folder's files to peers until interrupted", Setup);

}  // namespace
