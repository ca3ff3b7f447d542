// minilirra-cli lrc: shows how the player reads an LRC file: its header tags, its sung lines with
// the times the display uses (offset applied) and, with --at, the line sung at a position.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "lyrics/LRCParse.h"

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

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext&) {
  auto o = std::make_shared<Options>();
  app.add_flag("--json", o->json, "print the lines as JSON");
  app.add_option("FILE", o->file, "the LRC file")->required();
  app.add_option("--at", o->at, "also show the line sung at this position (counted from 1 among the sung lines)")
      ->type_name("MS");
  return [o] { return Run(*o); };
}

const mlcli::CliCommand kLrc("lrc", "show how an LRC file is read: its lines, times and offset", Setup);

}  // namespace
