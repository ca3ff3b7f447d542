// minilirra-cli tags [--json] FILE...: the merged media information of each file, as the player
// and the music library see it.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "media/uTagInfo.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using mlcli::JsonString;

std::string Json(const std::string& path, const ml::TMediaInfo& m) {
  std::string o = "{\"path\": " + JsonString(path);
  o += ", \"FileSize\": " + std::to_string(m.FileSize);
  o += ", \"SampleRate\": " + std::to_string(m.SampleRate);
  o += ", \"Bitrate\": " + std::to_string(m.Bitrate);
  o += ", \"Duration\": " + std::to_string(m.Duration);
  o += ", \"Channels\": " + std::to_string(m.Channels);
  o += ", \"Title\": " + JsonString(m.Title);
  o += ", \"Artist\": " + JsonString(m.Artist);
  o += ", \"Album\": " + JsonString(m.Album);
  o += ", \"Year\": " + JsonString(m.Year);
  o += ", \"Genre\": " + JsonString(m.Genre);
  o += ", \"Track\": " + std::to_string(m.Track);
  o += ", \"Comment\": " + JsonString(m.Comment);
  return o + "}";
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

int RunTags(mlcli::CliContext& ctx) {
  bool json = false;
  std::vector<std::string> files;
  for (const auto& a : ctx.args) {
    if (a == "--json")
      json = true;
    else
      files.push_back(a);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: minilirra-cli tags [--json] FILE...\n");
    return 2;
  }
  int status = 0;
  bool first = true;
  if (json) std::printf("[");
  for (const auto& path : files) {
    ml::TTagInfo tags;
    if (!tags.Load(path)) {
      std::fprintf(stderr, "minilirra-cli: cannot open %s\n", path.c_str());
      status = 1;
      continue;
    }
    // A file no reader recognises is still listed, with empty fields, and makes the exit status 1.
    ml::TMediaInfo info;
    if (!tags.GetMediaInfo(info)) {
      std::fprintf(stderr, "minilirra-cli: %s: not a recognised audio file\n", path.c_str());
      status = 1;
    }
    if (json) {
      std::printf("%s\n  %s", first ? "" : ",", Json(path, info).c_str());
    } else {
      if (!first) std::printf("\n");
      PrintText(path, info);
    }
    first = false;
  }
  if (json) std::printf("%s]\n", first ? "" : "\n");
  return status;
}

const mlcli::CliCommand kTags("tags", "[--json] FILE...  print duration, format and tags of audio files",
                              RunTags);

}  // namespace
