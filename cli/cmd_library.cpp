// minilirra-cli library (list | add PATH... | remove PATH... | playlists | show LIST | stats)
// [--json]: the music library of the data folder, through the same classes the player uses.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliLibrary.h"

#include "base/EventLoop.h"
#include "library/MusicFileMgr.h"
#include "library/PlayListController.h"
#include "playback/DecoderRegistry.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

namespace {

using namespace ml;
using mlcli::Library;
using mlcli::LoadLibrary;
using mlcli::SaveLibrary;

// Paths as the library keeps them: absolute, without "." or ".." steps.
std::string AbsolutePath(const std::string& arg) {
  return std::filesystem::absolute(arg).lexically_normal().string();
}

// "Title - Artist" where the tags gave them, else the caption (the file name).
std::string Label(const TShareFileInfo& e) {
  if (e.Title.empty()) return e.Caption;
  return e.Artist.empty() ? e.Title : e.Title + " - " + e.Artist;
}

mlcli::Json EntryJson(const TShareFileInfo& e) {
  return {{"caption", e.Caption},   {"title", e.Title},   {"artist", e.Artist},
          {"album", e.Album},       {"duration", e.Duration}, {"path", e.FileName},
          {"size", e.FileSize},     {"digest", LRMD5::MD5DigestToStr(e.FileHash)},
          {"service", e.Encrypt}};
}

void PrintEntries(const TMusicFileMgr& mgr, const std::vector<const TShareFileInfo*>& entries, bool json) {
  if (json) {
    mlcli::Json list = mlcli::Json::array();
    for (const TShareFileInfo* e : entries) list.push_back(EntryJson(mgr.Snapshot(e)));
    mlcli::PrintJson(list);
    return;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    TShareFileInfo e = mgr.Snapshot(entries[i]);
    int secs = std::max(0, e.Duration) / 1000;
    std::printf("%4zu  %02d:%02d  %s%s%s\n", i + 1, secs / 60, secs % 60, Label(e).c_str(),
                e.FileName.empty() ? "" : "  ", e.FileName.c_str());
  }
}

// Host for adding from the command line: nothing is played.
struct SilentHost : IPlayListHost {
  void PlayEntryRequested(TShareFileInfo*) override {}
  void StopRequested() override {}
  bool ConfirmDeleteFiles(int) override { return false; }
};


int Stats(TMusicFileMgr& mgr, bool json) {
  if (json)
    mlcli::PrintJson({{"songs", mgr.LiveEntryCount()}, {"playlists", mgr.PlayLists().size()}});
  else
    std::printf("songs: %zu\nplaylists: %zu\n", mgr.LiveEntryCount(), mgr.PlayLists().size());
  return 0;
}

int Playlists(TMusicFileMgr& mgr, bool json) {
  mlcli::Json list = mlcli::Json::array();
  for (size_t i = 0; i < mgr.PlayLists().size(); ++i) {
    const TPlayList& p = *mgr.PlayLists()[i];
    if (json)
      list.push_back({{"index", i}, {"name", p.Name}, {"songs", p.Items.size()}});
    else
      std::printf("%zu  %s  (%zu)\n", i, p.Name.c_str(), p.Items.size());
  }
  if (json) mlcli::PrintJson(list);
  return 0;
}

// Every song once: the playlists in their order, each in the order the player walks it in order
// play, then the songs no playlist holds.
int List(TMusicFileMgr& mgr, bool json) {
  std::vector<const TShareFileInfo*> entries;
  std::set<const TShareFileInfo*> seen;
  for (const auto& list : mgr.PlayLists())
    for (const TShareFileInfo* e : list->Items)
      if (mgr.IsLive(e) && seen.insert(e).second) entries.push_back(e);
  for (const TShareFileInfo* e : mgr.LiveEntries())
    if (seen.insert(e).second) entries.push_back(e);
  PrintEntries(mgr, entries, json);
  return 0;
}

int Show(TMusicFileMgr& mgr, const std::string& name, bool json) {
  for (size_t i = 0; i < mgr.PlayLists().size(); ++i) {
    const TPlayList& list = *mgr.PlayLists()[i];
    if (list.Name != name && std::to_string(i) != name) continue;
    PrintEntries(mgr, std::vector<const TShareFileInfo*>(list.Items.begin(), list.Items.end()), json);
    return 0;
  }
  std::fprintf(stderr, "minilirra-cli: no playlist %s\n", name.c_str());
  return 1;
}

struct TRefusal {
  std::string path, reason;
};

// Adds to the first playlist, as dropping files on the player does. Byte-identical copies of a
// song fold into it once their digests are known; the library is written only when it changed.
int Add(Library& lib, const std::vector<std::string>& args, bool json) {
  std::vector<std::string> paths;
  std::vector<TRefusal> refused;
  for (const std::string& arg : args) {
    const std::string path = AbsolutePath(arg);
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
      if (std::string why = NotPlayableReason(path); !why.empty() && std::filesystem::exists(path, ec))
        refused.push_back({path, why});
      else
        paths.push_back(path);
      continue;
    }
    auto found = ScanFolder(path, PlayableExtensionsPattern(), true);
    if (found.empty()) refused.push_back({path, "a folder without songs"});
    paths.insert(paths.end(), found.begin(), found.end());
  }
  SilentHost host;
  std::vector<TAddResult> results;
  bool listChanged = false;
  {
    TPlayListController playlist(lib.mgr, host, TPlayListSettings{});
    const TPlayList* shown = playlist.ShownList();
    const std::vector<TShareFileInfo*> before = shown ? shown->Items : std::vector<TShareFileInfo*>{};
    results = playlist.AddFiles(paths, [&](size_t i, const std::string& path) {
      std::fprintf(stderr, "adding %zu/%zu: %s\n", i + 1, paths.size(), path.c_str());
      return true;
    });
    std::fprintf(stderr, "computing digests...\n");
    lib.mgr.WaitHashingIdle();  // the playlist stays to fold duplicates into one entry
    listChanged = shown && shown->Items != before;
  }
  size_t added = 0, present = 0, merged = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    const TAddResult& r = results[i];
    if (r.Kind == TAddResult::Refused)
      refused.push_back({paths[i], r.Refusal});
    else if (r.Kind == TAddResult::AlreadyPresent)
      ++present;
    else if (lib.mgr.IsLive(r.Entry))
      ++added;
    else
      ++merged;  // its digest found an older entry with the same bytes
  }
  const bool changed = added + merged > 0 || listChanged;
  if (changed && !SaveLibrary(lib)) return 1;
  for (const TRefusal& r : refused) std::fprintf(stderr, "refused %s: %s\n", r.path.c_str(), r.reason.c_str());
  if (json) {
    mlcli::Json refusals = mlcli::Json::array();
    for (const TRefusal& r : refused) refusals.push_back({{"path", r.path}, {"reason", r.reason}});
    mlcli::PrintJson({{"new", added},
                      {"already_present", present},
                      {"merged", merged},
                      {"refused", refusals},
                      {"songs", lib.mgr.LiveEntryCount()},
                      {"saved", changed}});
  } else {
    std::printf("%zu new, %zu already present, %zu merged into an identical song, %zu refused; the library has "
                "%zu songs\n",
                added, present, merged, refused.size(), lib.mgr.LiveEntryCount());
  }
  return refused.empty() ? 0 : 1;
}

// Takes songs out of the library (never off the disk): a file's song, or every song under a folder.
int Remove(Library& lib, const std::vector<std::string>& args, bool json) {
  std::vector<std::string> missing;
  size_t removed = 0;
  const std::vector<TShareFileInfo*> live = lib.mgr.LiveEntries();
  for (const std::string& arg : args) {
    const std::string path = AbsolutePath(arg);
    const std::string folder = path.ends_with('/') ? path : path + "/";
    size_t matched = 0;
    for (TShareFileInfo* e : live) {
      const std::string& file = e->FileName;
      if (file.empty() || !lib.mgr.IsLive(e) || (file != path && !file.starts_with(folder))) continue;
      lib.mgr.RemoveEntry(e);
      ++matched;
    }
    if (matched == 0) missing.push_back(path);
    removed += matched;
  }
  if (removed > 0) {
    lib.mgr.PurgeRemoved();
    if (!SaveLibrary(lib)) return 1;
  }
  for (const std::string& path : missing) std::fprintf(stderr, "not in the library: %s\n", path.c_str());
  if (json)
    mlcli::PrintJson({{"removed", removed}, {"not_found", missing}, {"songs", lib.mgr.LiveEntryCount()}});
  else
    std::printf("%zu removed; the library has %zu songs\n", removed, lib.mgr.LiveEntryCount());
  return missing.empty() ? 0 : 1;
}

struct Options {
  bool json = false;
  std::string list;
  std::vector<std::string> paths;
};

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  app.add_flag("--json", o->json, "print JSON");
  app.require_subcommand(1);
  // --json may also follow the library command's own command.
  app.fallthrough();
  CLI::App* list = app.add_subcommand("list", "every song, playlist by playlist in the order they play");
  CLI::App* add = app.add_subcommand("add", "add files, or folders with the songs inside them");
  add->add_option("PATH", o->paths, "files or folders")->required();
  CLI::App* remove = app.add_subcommand("remove", "take songs out of the library (the files stay on disk)");
  remove->add_option("PATH", o->paths, "files, or folders for every song under them")->required();
  CLI::App* playlists = app.add_subcommand("playlists", "the playlists, with their number of songs");
  CLI::App* show = app.add_subcommand("show", "the songs of one playlist");
  show->add_option("LIST", o->list, "a playlist's name or index")->required();
  CLI::App* stats = app.add_subcommand("stats", "how many songs and playlists");
  return [o, &ctx, list, add, remove, playlists, show, stats] {
    auto lib = LoadLibrary(ctx);
    if (!lib) return 1;
    if (stats->parsed()) return Stats(lib->mgr, o->json);
    if (playlists->parsed()) return Playlists(lib->mgr, o->json);
    if (list->parsed()) return List(lib->mgr, o->json);
    if (show->parsed()) return Show(lib->mgr, o->list, o->json);
    if (add->parsed()) return Add(*lib, o->paths, o->json);
    if (remove->parsed()) return Remove(*lib, o->paths, o->json);
    return mlcli::kUsageError;
  };
}

const mlcli::CliCommand kLibrary("library", "the music library in the data folder", Setup);

}  // namespace
