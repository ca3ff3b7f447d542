// minilirra-cli tags [--json] FILE...: the merged media information of each file, as the player
// and the music library see it.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "media/uTagInfo.h"
#include "playback/DecoderRegistry.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Options {
  bool json = false;
  std::vector<std::string> files;
};

mlcli::Json ToJson(const std::string& path, const ml::TMediaInfo& m) {
  return {{"path", path},       {"size", m.FileSize},   {"sample_rate", m.SampleRate},
          {"bitrate", m.Bitrate}, {"duration", m.Duration}, {"channels", m.Channels},
          {"title", m.Title},     {"artist", m.Artist},  {"album", m.Album},
          {"year", m.Year},       {"genre", m.Genre},    {"track", m.Track},
          {"comment", m.Comment}};
}

void PrintText(const std::string& path, const ml::TMediaInfo& m) {
  std::printf("%s\n", path.c_str());
  std::printf("  Duration:   %d:%02d.%03d (%d ms)\n", m.Duration / 60000, m.Duration / 1000 % 60,
              m.Duration % 1000, m.Duration);
  std::printf("  Format:     %d Hz, %d kbps, %d channel%s, %u bytes\n", m.SampleRate, m.Bitrate,
              m.Channels, m.Channels == 1 ? "" : "s", m.FileSize);
  auto line = [](const char* name, const std::string& v) {
    if (!v.empty()) std::printf("  %-11s %s\n", name, v.c_str());
  };
  line("Title:", m.Title);
  line("Artist:", m.Artist);
  line("Album:", m.Album);
  line("Year:", m.Year);
  line("Genre:", m.Genre);
  if (m.Track) std::printf("  Track:      %u\n", m.Track);
  line("Comment:", m.Comment);
}

int Run(const Options& o) {
  int status = 0;
  mlcli::Json list = mlcli::Json::array();
  bool first = true;
  for (const auto& path : o.files) {
    // A file that cannot be read or that no reader recognises is reported, and makes the exit
    // status 1; in JSON it is an entry with an "error" field.
    std::string error;
    ml::TTagInfo tags;
    ml::TMediaInfo info;
    if (!tags.Load(path))
      error = "cannot open the file";
    else if (std::string why = ml::NotPlayableReason(path); !why.empty())
      error = why;
    else if (!tags.GetMediaInfo(info))
      error = "not a recognised audio file";
    if (!error.empty()) {
      std::fprintf(stderr, "minilirra-cli: %s: %s\n", path.c_str(), error.c_str());
      status = 1;
      if (o.json) list.push_back({{"path", path}, {"error", error}});
      continue;
    }
    if (o.json) {
      list.push_back(ToJson(path, info));
    } else {
      if (!first) std::printf("\n");
      PrintText(path, info);
      first = false;
    }
  }
  if (o.json) mlcli::PrintJson(list);
  return status;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext&) {
  auto o = std::make_shared<Options>();
  app.add_flag("--json", o->json, "print a JSON array, one object per file");
  app.add_option("FILE", o->files, "audio files")->required();
  return [o] { return Run(*o); };
}

const mlcli::CliCommand kTags("tags", "print duration, format and tags of audio files", Setup);

}  // namespace
