// minilirra-cli lrc: shows how the player reads an LRC file: its lines with the times the display
// uses (offset applied) and, with --at, the line sung at a position.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "lyrics/LRCParse.h"
#include "base/StrUtil.h"

#include <cstdio>
#include <string>

namespace {

void AppendJsonString(std::string& out, std::string_view s) { out += mlcli::JsonString(s); }

std::string TimeText(int64_t ms) {
  const char* sign = ms < 0 ? "-" : "";
  if (ms < 0) ms = -ms;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%02lld:%02lld.%03lld", sign, static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return buf;
}

int64_t ShownTime(const ml::TLRCParse& p, int64_t t) { return t - p.Offset; }

std::string Json(const ml::TLRCParse& p, const int32_t* at) {
  std::string out = "{\"offset\": " + std::to_string(p.Offset) + ", \"encoding\": ";
  AppendJsonString(out, ml::LyricEncodingName(p.Encoding));
  out += ", \"lines\": [";
  for (int32_t i = 0; i < p.Count(); ++i) {
    const ml::TLines& line = p.Lines[i];
    out += i ? ", " : "";
    out += "{\"time\": " + std::to_string(ShownTime(p, line.Time)) + ", \"text\": ";
    AppendJsonString(out, line.Text);
    if (!line.Words.empty()) {
      out += ", \"words\": [";
      for (size_t w = 0; w < line.Words.size(); ++w) {
        size_t end = w + 1 < line.Words.size() ? line.Words[w + 1].Start : line.Text.size();
        out += w ? ", " : "";
        out += "{\"time\": " + std::to_string(ShownTime(p, line.Words[w].Time)) + ", \"text\": ";
        AppendJsonString(out, std::string_view(line.Text).substr(line.Words[w].Start, end - line.Words[w].Start));
        out += "}";
      }
      out += "]";
    }
    out += "}";
  }
  out += "]";
  if (at) out += ", \"current\": " + std::to_string(p.FindLineIndex(*at));
  out += "}\n";
  return out;
}

void PrintText(const ml::TLRCParse& p, const std::string& file, const int32_t* at) {
  std::printf("%s: %d lines, offset %d ms, %s\n", file.c_str(), p.Count(), p.Offset,
              ml::LyricEncodingName(p.Encoding));
  for (int32_t i = 0; i < p.Count(); ++i)
    std::printf("[%s] %s\n", TimeText(ShownTime(p, p.Lines[i].Time)).c_str(), p.Lines[i].Text.c_str());
  if (!at) return;
  ml::TLineInfo line;
  if (!p.GetLineAt(*at, line) || line.Length == 0)
    std::printf("at %s: no line yet\n", TimeText(*at).c_str());
  else
    std::printf("at %s: line %d [%s] +%d ms: %s\n", TimeText(*at).c_str(), line.Index, TimeText(line.Start).c_str(),
                line.Length, line.Text.c_str());
}

int Usage() {
  std::fprintf(stderr, "usage: minilirra-cli lrc [--json] FILE [--at MS]\n");
  return 2;
}

int RunLrc(mlcli::CliContext& ctx) {
  bool json = false;
  std::string file;
  std::optional<int32_t> at;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& a = ctx.args[i];
    if (a == "--json") {
      json = true;
    } else if (a == "--at") {
      if (i + 1 >= ctx.args.size()) return Usage();
      auto v = ml::ParseInt(ctx.args[++i]);
      if (!v || *v < INT32_MIN || *v > INT32_MAX) {
        std::fprintf(stderr, "minilirra-cli lrc: --at needs a time in milliseconds, not %s\n", ctx.args[i].c_str());
        return 2;
      }
      at = static_cast<int32_t>(*v);
    } else if (file.empty() && (a.empty() || a[0] != '-')) {
      file = a;
    } else {
      return Usage();
    }
  }
  if (file.empty()) return Usage();
  ml::TLRCParse parser;
  std::string error;
  if (!parser.LoadFromFile(file, &error)) {
    std::fprintf(stderr, "minilirra-cli lrc: %s\n", error.c_str());
    return 1;
  }
  const int32_t* atp = at ? &*at : nullptr;
  if (json)
    std::fputs(Json(parser, atp).c_str(), stdout);
  else
    PrintText(parser, file, atp);
  return 0;
}

const mlcli::CliCommand kLrc("lrc", "[--json] FILE [--at MS]  show an LRC file's lines and times", RunLrc);

}  // namespace
