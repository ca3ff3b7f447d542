#include "app/CommandLine.h"

#include "base/StrUtil.h"

#include <filesystem>

namespace ml {

TStartMode ParseStartMode(const std::vector<std::string>& args) {
  if (args.empty()) return TStartMode::Saved;
  if (args[0] == "/MainMode") return TStartMode::Main;
  if (args[0] == "/MiniMode") return TStartMode::Mini;
  return TStartMode::Saved;
}

TCommandLineHandler::TCommandLineHandler(ICommandLineTarget& target, const TClock& clock)
    : target_(target), clock_(clock) {}

void TCommandLineHandler::HandleArguments(const std::vector<std::string>& args) {
  const Millis now = clock_.Now();
  const bool playAllowed = !lastHandled_ || now - *lastHandled_ >= OpenRepeatGap;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (EqualsNoCase(a, "/open") || EqualsNoCase(a, "/list")) {
      if (i + 1 >= args.size()) break;  // a command without its path does nothing
      const std::string& path = args[++i];
      if (path.empty()) continue;
      target_.AddFileFromCommandLine(path, playAllowed && EqualsNoCase(a, "/open"));
    } else if (EqualsNoCase(a, "/link")) {
      ++i;  // the link and its value are not commands of this list
    }
  }
  lastHandled_ = clock_.Now();
}

void TCommandLineHandler::HandleForwarded(const std::vector<std::string>& args) {
  target_.ClearPlaylistSelection();
  HandleArguments(args);
}

void TCommandLineHandler::MarkHandled() { lastHandled_ = clock_.Now(); }

std::string EncodeForwardedArgs(const std::vector<std::string>& args, std::size_t* written) {
  std::string out;
  std::size_t count = 0;
  for (const auto& a : args) {
    if (a.empty() || a.size() > MaxForwardedArgBytes || out.size() + 1 + a.size() > ForwardBufferSize)
      break;
    out.push_back(static_cast<char>(a.size()));
    out += a;
    ++count;
  }
  if (written) *written = count;
  return out;
}

std::optional<std::vector<std::string>> DecodeForwardedArgs(std::string_view data) {
  if (data.size() > ForwardBufferSize) return std::nullopt;
  std::vector<std::string> args;
  std::size_t pos = 0;
  while (pos < data.size()) {
    std::size_t len = static_cast<unsigned char>(data[pos++]);
    if (len == 0) break;
    if (len > data.size() - pos) return std::nullopt;
    args.emplace_back(data.substr(pos, len));
    pos += len;
  }
  return args;
}

std::vector<std::string> AbsolutizeCommandPaths(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> out = args;
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {
    if (EqualsNoCase(out[i], "/open") || EqualsNoCase(out[i], "/list")) {
      std::string& p = out[++i];
      if (!p.empty() && p[0] != '/') p = (std::filesystem::path(cwd) / p).lexically_normal().string();
    } else if (EqualsNoCase(out[i], "/link")) {
      ++i;
    }
  }
  return out;
}

}  // namespace ml
