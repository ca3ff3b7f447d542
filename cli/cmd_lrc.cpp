// minilirra-cli lrc: shows how the player reads an LRC file: its header tags, its sung lines with
// the times the display uses (offset applied) and, with --at, the line sung at a position.
// minilirra-cli lrc fetch: finds a song's lyric where the player would look for it (the lyric
// folder), or asks the service for it by caption and duration, saves it there and prints the path.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliLibrary.h"
#include "cli/CliOnline.h"
#include "app/UDPMessageRouter.h"
#include "app/uSettingMgr.h"
#include "base/EventLoop.h"
#include "base/FileUtil.h"
#include "library/MusicFileMgr.h"
#include "lyrics/LRCParse.h"
#include "net/WireCodes.h"
#include "online/uDownLRC.h"
#include "online/uLogin.h"

#include <filesystem>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace {

std::string TimeText(int64_t ms) {
  const char* sign = ms < 0 ? "-" : "";
  if (ms < 0) ms = -ms;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%02lld:%02lld.%03lld", sign, static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return buf;
}

int64_t ShownTime(const ml::TLRCParse& p, int64_t t) { return t - p.Offset; }

// The header tags' names as they are shown.
const char* HeaderName(const std::string& tag) {
  return tag == "ti" ? "title" : tag == "ar" ? "artist" : tag == "al" ? "album" : "by";
}

// The sung lines: the title, artist, album and maker tags stand on top of the parser's lines
// for the display, but nobody sings them.
int32_t FirstSungLine(const ml::TLRCParse& p) { return std::min(p.TagCount, p.Count()); }

// The sung line (0-based, among the sung lines) at t; -1 before the first.
int32_t SungLineAt(const ml::TLRCParse& p, int32_t t) {
  const int32_t index = p.FindLineIndex(t);
  return index < FirstSungLine(p) ? -1 : index - FirstSungLine(p);
}

mlcli::Json ToJson(const ml::TLRCParse& p, const int32_t* at) {
  mlcli::Json header = mlcli::Json::object();
  for (const auto& [tag, value] : p.Header) header[HeaderName(tag)] = value;
  mlcli::Json lines = mlcli::Json::array();
  for (int32_t i = FirstSungLine(p); i < p.Count(); ++i) {
    const ml::TLines& line = p.Lines[i];
    mlcli::Json l = {{"time", ShownTime(p, line.Time)}, {"text", line.Text}};
    if (!line.Words.empty()) {
      mlcli::Json words = mlcli::Json::array();
      for (size_t w = 0; w < line.Words.size(); ++w) {
        const size_t end = w + 1 < line.Words.size() ? line.Words[w + 1].Start : line.Text.size();
        words.push_back({{"time", ShownTime(p, line.Words[w].Time)},
                         {"text", line.Text.substr(line.Words[w].Start, end - line.Words[w].Start)}});
      }
      l["words"] = std::move(words);
    }
    lines.push_back(std::move(l));
  }
  mlcli::Json out = {{"offset", p.Offset},
                     {"encoding", ml::LyricEncodingName(p.Encoding)},
                     {"header", header},
                     {"lines", lines}};
  // The index into "lines" of the line sung at --at; -1 before the first.
  if (at) out["current"] = SungLineAt(p, *at);
  return out;
}

void PrintText(const ml::TLRCParse& p, const std::string& file, const int32_t* at) {
  const int32_t sung = p.Count() - FirstSungLine(p);
  std::printf("%s: %d sung line%s, offset %d ms, %s\n", file.c_str(), sung, sung == 1 ? "" : "s", p.Offset,
              ml::LyricEncodingName(p.Encoding));
  for (const auto& [tag, value] : p.Header) std::printf("%-7s %s\n", (std::string(HeaderName(tag)) + ":").c_str(), value.c_str());
  for (int32_t i = FirstSungLine(p); i < p.Count(); ++i) {
    const ml::TLines& line = p.Lines[i];
    std::printf("[%s] %s\n", TimeText(ShownTime(p, line.Time)).c_str(), line.Text.empty() ? "(pause)" : line.Text.c_str());
  }
  if (!at) return;
  const int32_t index = SungLineAt(p, *at);
  if (index < 0) {
    std::printf("at %s: before the first sung line\n", TimeText(*at).c_str());
    return;
  }
  ml::TLineInfo line;
  p.GetLineAt(*at, line);
  std::printf("at %s: sung line %d of %d, from %s for %d ms: %s\n", TimeText(*at).c_str(), index + 1, sung,
              TimeText(line.Start).c_str(), line.Length, line.Text.empty() ? "(pause)" : line.Text.c_str());
}

struct Options {
  bool json = false;
  std::string file;
  std::optional<int32_t> at;
};

int Run(const Options& o) {
  ml::TLRCParse parser;
  std::string error;
  if (!parser.LoadFromFile(o.file, &error)) {
    std::fprintf(stderr, "minilirra-cli lrc: %s\n", error.c_str());
    return 1;
  }
  const int32_t* at = o.at ? &*o.at : nullptr;
  if (o.json)
    mlcli::PrintJson(ToJson(parser, at));
  else
    PrintText(parser, o.file, at);
  return 0;
}

struct FetchOptions {
  mlcli::CliConnection connection;
  std::string file, caption;
  int32_t duration = 0;
  bool json = false;
};

void PrintFetched(const FetchOptions& o, const std::string& path, const char* source, const ml::TLRCResult* hit) {
  if (o.json) {
    mlcli::Json out = {{"path", path}, {"source", source}};
    if (hit) out.update({{"lyric_id", hit->LyricID}, {"title", hit->Title}, {"singer", hit->Singer}});
    mlcli::PrintJson(out);
  } else {
    std::printf("%s\n", path.c_str());
  }
}

// Asks the service for the caption's lyric and saves the best hit in folder: its path, or empty
// after a message on standard error.
std::string FetchFromService(mlcli::CliContext& ctx, const FetchOptions& o, const std::string& caption,
                             int32_t duration, const std::string& folder, ml::TLRCResult& hit) {
  mlcli::CliSignals signals;
  ml::EventLoop loop;
  mlcli::CliSession session(ctx, o.connection, "lrc fetch");
  std::unique_ptr<ml::TDownLRC> downPtr;
  // However the command ends, a worker still handing over an answer gives up instead of waiting
  // for a loop that no longer runs, before the session joins the workers.
  struct TShutdownAtEnd {
    ml::EventLoop& loop;
    ~TShutdownAtEnd() { loop.BeginShutdown(); }
  } shutdownAtEnd{loop};
  // The answers are taken on the loop's thread while the worker waits, as the player does.
  const auto routes = [&loop, &downPtr](ml::TUDPMessageRouter& router) {
    router.Route(ml::Cmd::LyricSearch, [&loop, &downPtr](ml::TUDPWorkThread&, const uint8_t* buffer, int32_t length,
                                                         uint32_t, uint16_t, ml::TLRGUID&, uint8_t*, int32_t&) {
      loop.Send([&] {
        if (downPtr) downPtr->TakeSearchReply(buffer, length);
      });
    });
    router.Route(ml::Cmd::LyricDownload, [&loop, &downPtr](ml::TUDPWorkThread&, const uint8_t* buffer, int32_t length,
                                                           uint32_t, uint16_t, ml::TLRGUID&, uint8_t*, int32_t&) {
      loop.Send([&] {
        if (downPtr) downPtr->TakeLyricPart(buffer, length);
      });
    });
  };
  if (const int opened = session.Open(mlcli::CliDefaultLogin::None, signals, 0, routes); opened != 0) {
    if (session.Attempted()) std::fprintf(stderr, "lrc fetch: %s\n", session.ResultLine().c_str());
    return {};
  }
  downPtr = std::make_unique<ml::TDownLRC>(loop, ml::LyricSender(session.Udp(), session.Servers(), session.User()));
  ml::TDownLRC& down = *downPtr;
  std::string saved, failure;
  down.OnSearchDone = [&](const ml::TSearchResult& result) {
    if (result.Results.empty()) {
      failure = "the service has no lyric for \"" + caption + "\" (未能在服务器上找到歌词)";
      loop.Quit();
      return;
    }
    hit = result.Results.front();
    down.Download(result.RequestID, hit.LyricID, folder + ml::TDownLRC::LyricFileName(hit));
  };
  down.OnSearchTimedOut = [&](int32_t, const std::string&) {
    failure = "no answer from the lyric server (连接服务器失败)";
    loop.Quit();
  };
  down.OnDownloadDone = [&](int32_t, const std::string& path, int32_t) {
    saved = path;
    loop.Quit();
  };
  down.OnDownloadTimedOut = [&](int32_t, int32_t) {
    failure = "the lyric did not arrive whole (连接服务器失败)";
    loop.Quit();
  };
  down.OnDownloadFailed = [&](int32_t, const std::string& error) {
    failure = "the lyric could not be saved: " + error;
    loop.Quit();
  };
  const ml::TimerId interrupt = loop.StartTimer(ml::Millis(50), [&] {
    if (signals.Wait(0)) {
      failure = "interrupted";
      loop.Quit();
    }
  });
  down.SearchBySong(1, caption, duration);
  if (down.SearchState() == ml::TLyricState::Running) loop.Run();
  else failure = "the caption is empty or longer than 128 bytes";
  loop.StopTimer(interrupt);
  if (saved.empty()) std::fprintf(stderr, "lrc fetch: %s\n", failure.c_str());
  return saved;
}

int Fetch(mlcli::CliContext& ctx, const FetchOptions& o) {
  if (o.file.empty() == o.caption.empty()) {
    std::fprintf(stderr, "lrc fetch: name a song FILE, or give --caption (and --duration)\n");
    return mlcli::kUsageError;
  }
  std::unique_ptr<mlcli::Library> lib;
  ml::TShareFileInfo* entry = nullptr;
  std::string caption = o.caption;
  int32_t duration = o.duration;
  if (!o.file.empty()) {
    // The song as the player knows it: its entry in the library, whose caption and duration the
    // search uses and which the lyric is associated with.
    lib = mlcli::LoadLibrary(ctx);
    if (!lib) return 1;
    const ml::TAddResult added = lib->mgr.AddFile(std::filesystem::absolute(o.file).lexically_normal().string());
    if (!added.Entry) {
      std::fprintf(stderr, "lrc fetch: %s: %s\n", o.file.c_str(), added.Refusal.c_str());
      return 1;
    }
    entry = added.Entry;
    const ml::TShareFileInfo song = lib->mgr.Snapshot(entry);
    caption = song.Caption;
    duration = song.Duration;
  }
  std::string folder = mlcli::LoadPlayerSettings(ctx)->LRCSavePath;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (!ml::EnsureDirectory(folder)) {
    std::fprintf(stderr, "lrc fetch: cannot create the lyric folder %s\n", folder.c_str());
    return 1;
  }
  ml::TLRCResult hit;
  const char* source = "local";
  std::string path = ml::TDownLRC::FindLocalLyric(folder, caption);
  if (path.empty()) {
    source = "service";
    path = FetchFromService(ctx, o, caption, duration, folder, hit);
    if (path.empty()) return 1;
  }
  if (entry) {
    lib->mgr.SetLRCFileName(entry, path);
    lib->mgr.WaitHashingIdle();
    if (!mlcli::SaveLibrary(*lib)) return 1;
  }
  PrintFetched(o, path, source, *source == 's' ? &hit : nullptr);
  return 0;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  app.add_flag("--json", o->json, "print the lines as JSON");
  app.add_option("FILE", o->file, "the LRC file");
  app.add_option("--at", o->at, "also show the line sung at this position (counted from 1 among the sung lines)")
      ->type_name("MS");
  auto f = std::make_shared<FetchOptions>();
  CLI::App* fetch = app.add_subcommand("fetch", "find or download a song's lyric and print where it was saved");
  fetch->add_option("FILE", f->file, "the song file (its caption and duration are searched)");
  fetch->add_option("--caption", f->caption, "search by this caption instead of a file's")->excludes("FILE");
  fetch->add_option("--duration", f->duration, "the song's duration, with --caption")
      ->type_name("MS")
      ->needs("--caption")
      ->check(CLI::Range(0, INT32_MAX));
  fetch->add_flag("--json", f->json, "print the path and the hit as JSON");
  mlcli::AddConnectionOptions(*fetch, f->connection);
  app.require_subcommand(0, 1);
  return [&ctx, o, f, fetch] {
    if (fetch->parsed()) return Fetch(ctx, *f);
    if (o->file.empty()) {
      std::fprintf(stderr, "lrc: name an LRC FILE, or use lrc fetch\n");
      return mlcli::kUsageError;
    }
    return Run(*o);
  };
}

const mlcli::CliCommand kLrc("lrc", "show how an LRC file is read, or fetch a song's lyric (lrc fetch)", Setup);

}  // namespace
