// minilirra-cli library (list | add PATH... | playlists | show LIST | stats) [--json]: the music
// library of the data folder, through the same classes the player uses.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"

#include "base/Dispatcher.h"
#include "library/MusicFileMgr.h"
#include "library/PlayListController.h"

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

namespace {

using namespace ml;

const char* const kSongExts = ".MP1|.MP2|.MP3|.WMA|.WAV|.OGG|.APE|.M3U";

std::string EntryJson(const TShareFileInfo& e) {
  return "{\"caption\": " + mlcli::JsonString(e.Caption) + ", \"title\": " + mlcli::JsonString(e.Title) +
         ", \"artist\": " + mlcli::JsonString(e.Artist) + ", \"album\": " + mlcli::JsonString(e.Album) +
         ", \"duration\": " + std::to_string(e.Duration) + ", \"path\": " + mlcli::JsonString(e.FileName) +
         ", \"size\": " + std::to_string(e.FileSize) + ", \"digest\": \"" + LRMD5::MD5DigestToStr(e.FileHash) +
         "\", \"service\": " + (e.Encrypt ? "true" : "false") + "}";
}

void PrintEntries(const TMusicFileMgr& mgr, const std::vector<const TShareFileInfo*>& entries, bool json) {
  if (json) {
    std::printf("[");
    for (size_t i = 0; i < entries.size(); ++i)
      std::printf("%s\n  %s", i ? "," : "", EntryJson(mgr.Snapshot(entries[i])).c_str());
    std::printf("%s]\n", entries.empty() ? "" : "\n");
    return;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    TShareFileInfo e = mgr.Snapshot(entries[i]);
    int secs = std::max(0, e.Duration) / 1000;
    std::printf("%4zu  %02d:%02d  %s%s%s\n", i + 1, secs / 60, secs % 60, e.Caption.c_str(),
                e.FileName.empty() ? "" : "  ", e.FileName.c_str());
  }
}

// Host for adding from the command line: nothing is played.
struct SilentHost : IPlayListHost {
  void PlayEntryRequested(TShareFileInfo*) override {}
  void StopRequested() override {}
  bool ConfirmDeleteFiles(int) override { return false; }
};

int RunLibrary(mlcli::CliContext& ctx) {
  bool json = false;
  std::vector<std::string> args;
  for (const auto& a : ctx.args) (a == "--json" ? json = true : (args.push_back(a), false));
  if (args.empty()) {
    std::fprintf(stderr, "usage: minilirra-cli library (list | add PATH... | playlists | show LIST | stats) [--json]\n");
    return 2;
  }
  const std::string file = ctx.appDir() + "MusicFiles.xml";
  EventLoop loop;  // duplicate merges are handed to this thread while it waits for the digests
  TMusicFileMgr mgr(&loop);
  std::string error;
  if (!mgr.LoadWithRecovery(file, &error)) {
    std::fprintf(stderr, "minilirra-cli: the library could not be read (%s); it was moved aside\n", error.c_str());
    return 1;
  }
  const std::string& cmd = args[0];
  if (cmd == "stats") {
    if (json)
      std::printf("{\"songs\": %zu, \"playlists\": %zu}\n", mgr.LiveEntryCount(), mgr.PlayLists().size());
    else
      std::printf("songs: %zu\nplaylists: %zu\n", mgr.LiveEntryCount(), mgr.PlayLists().size());
    return 0;
  }
  if (cmd == "playlists") {
    for (size_t i = 0; i < mgr.PlayLists().size(); ++i)
      std::printf("%zu  %s  (%zu)\n", i, mgr.PlayLists()[i]->Name.c_str(), mgr.PlayLists()[i]->Items.size());
    return 0;
  }
  if (cmd == "list") {
    // Every song once, in the order the playlists hold them, then songs no list holds.
    std::vector<const TShareFileInfo*> entries;
    std::set<const TShareFileInfo*> seen;
    for (const auto& list : mgr.PlayLists())
      for (const TShareFileInfo* e : list->Items)
        if (mgr.IsLive(e) && seen.insert(e).second) entries.push_back(e);
    PrintEntries(mgr, entries, json);
    return 0;
  }
  if (cmd == "show") {
    if (args.size() != 2) {
      std::fprintf(stderr, "usage: minilirra-cli library show LIST (a name or an index)\n");
      return 2;
    }
    for (size_t i = 0; i < mgr.PlayLists().size(); ++i) {
      const TPlayList& list = *mgr.PlayLists()[i];
      if (list.Name != args[1] && std::to_string(i) != args[1]) continue;
      PrintEntries(mgr, std::vector<const TShareFileInfo*>(list.Items.begin(), list.Items.end()), json);
      return 0;
    }
    std::fprintf(stderr, "minilirra-cli: no playlist %s\n", args[1].c_str());
    return 1;
  }
  if (cmd == "add") {
    std::vector<std::string> paths;
    for (size_t i = 1; i < args.size(); ++i) {
      std::error_code ec;
      if (std::filesystem::is_directory(args[i], ec)) {
        auto found = ScanFolder(args[i], kSongExts, true);
        paths.insert(paths.end(), found.begin(), found.end());
      } else {
        paths.push_back(std::filesystem::absolute(args[i]).string());
      }
    }
    SilentHost host;
    int added = 0;
    {
      TPlayListController playlist(mgr, host, TPlayListSettings{});
      added = playlist.AddFiles(paths, [&](size_t i, const std::string& path) {
        std::fprintf(stderr, "adding %zu/%zu: %s\n", i + 1, paths.size(), path.c_str());
        return true;
      });
      std::fprintf(stderr, "computing digests...\n");
      mgr.WaitHashingIdle();  // the playlist stays to fold duplicates into one entry
    }
    if (!mgr.Save(file, &error)) {
      std::fprintf(stderr, "minilirra-cli: %s\n", error.c_str());
      return 1;
    }
    std::printf("added %d of %zu files; the library has %zu songs\n", added, paths.size(), mgr.LiveEntryCount());
    return added == static_cast<int>(paths.size()) ? 0 : 1;
  }
  std::fprintf(stderr, "minilirra-cli: unknown library command %s\n", cmd.c_str());
  return 2;
}

const mlcli::CliCommand kLibrary("library", "(list | add PATH... | playlists | show LIST | stats) [--json]  the music library",
                                 RunLibrary);

}  // namespace
