#include "app/DesktopArguments.h"

#include "base/StrUtil.h"

namespace ml {

namespace {

bool IsWord(const std::string& a, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (EqualsNoCase(a, w)) return true;
  return false;
}

}  // namespace

TDesktopArguments ParseDesktopArguments(const std::vector<std::string>& args) {
  TDesktopArguments out;
  bool firstFile = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* name, std::string& into) {
      const std::string prefix = std::string(name) + "=";
      if (a.rfind(prefix, 0) == 0) {
        into = a.substr(prefix.size());
        return true;
      }
      if (i + 1 >= args.size()) {
        out.Error = std::string(name) + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      out.Help = true;
    } else if (a == "--output" || a.rfind("--output=", 0) == 0) {
      std::string text;
      if (!value("--output", text)) break;
      if (!ParseOutputTarget(text, out.Output)) {
        out.Error = "--output: \"" + text + "\" is not one of " + OutputTargetForms();
        break;
      }
      out.HaveOutput = true;
    } else if (a == "--data-dir" || a.rfind("--data-dir=", 0) == 0) {
      std::string dir;
      if (!value("--data-dir", dir)) break;
      out.StartupArgs.insert(out.StartupArgs.end(), {"--data-dir", dir});
    } else if (IsWord(a, {"/open", "/list", "/link"})) {
      out.StartupArgs.push_back(a);
      if (i + 1 < args.size()) out.StartupArgs.push_back(args[++i]);
      firstFile = false;
    } else if (IsWord(a, {"/MainMode", "/MiniMode", "/update"})) {
      out.StartupArgs.push_back(a);
    } else if (a.size() > 1 && a[0] == '-') {
      out.Error = "unknown option " + a;
      break;
    } else if (!a.empty()) {
      out.StartupArgs.insert(out.StartupArgs.end(), {firstFile ? "/open" : "/list", a});
      firstFile = false;
    }
  }
  return out;
}

}  // namespace ml
