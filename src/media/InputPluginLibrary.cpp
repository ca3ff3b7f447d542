#include "media/InputPluginLibrary.h"

#include "base/AppPaths.h"
#include "base/StrUtil.h"
#include "plugins/sdk/InputModule.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace ml {

namespace {

// A list longer than this is not a list of extensions.
constexpr size_t kMaxListBytes = 4096;

}  // namespace

std::string FileExtensionOf(const std::string& path) {
  const auto dot = path.find_last_of('.');
  const auto slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return ToLowerAscii(path.substr(dot + 1));
}

TInputPluginLibrary::~TInputPluginLibrary() { Unload(); }

void TInputPluginLibrary::Unload() {
  if (Handle_) dlclose(Handle_);
  Handle_ = nullptr;
  Module_ = nullptr;
  FileInfo_ = nullptr;
}

bool TInputPluginLibrary::Load(const std::string& path, std::string& why) {
  Unload();
  Handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle_) {
    const char* err = dlerror();
    why = err ? err : "cannot be loaded";
    return false;
  }
  auto get = reinterpret_cast<winampGetInModule2Fn>(dlsym(Handle_, "winampGetInModule2"));
  In_Module* m = get ? get() : nullptr;
  if (!get)
    why = "it has no winampGetInModule2 entry point: not an input plug-in";
  else if (!m)
    why = "its winampGetInModule2 gave no module";
  else if (m->version != IN_VER) {
    char v[16];
    std::snprintf(v, sizeof v, "0x%X", static_cast<unsigned>(m->version));
    why = std::string("its interface version ") + v + " is not 0x100";
  } else if (m->UsesOutputPlug <= 0)
    why = "it plays by itself (UsesOutputPlug 0), past this player's effects and outputs";
  else if (!m->FileExtensions || ParseExtensionList(m->FileExtensions).empty())
    why = "it names no file extensions";
  else if (!m->Play || !m->Stop || !m->Init || !m->Quit || !m->GetLength || !m->SetOutputTime)
    why = "its module lacks an operation the player calls";
  else {
    Module_ = m;
    FileInfo_ = reinterpret_cast<winampGetExtendedFileInfoFn>(dlsym(Handle_, "winampGetExtendedFileInfo"));
    return true;
  }
  Unload();
  return false;
}

std::string TInputPluginLibrary::FileInfo(const std::string& file, const char* field) const {
  if (!FileInfo_) return {};
  char value[1024] = {};
  if (!FileInfo_(file.c_str(), field, value, sizeof value)) return {};
  value[sizeof value - 1] = '\0';
  return value;
}

std::vector<std::string> ParseExtensionList(const char* list) {
  std::vector<std::string> out;
  size_t at = 0;
  // Pairs of strings: the extensions (";"-separated), then their description; an empty string ends.
  while (at < kMaxListBytes && list[at] != '\0') {
    const std::string exts(list + at, strnlen(list + at, kMaxListBytes - at));
    at += exts.size() + 1;
    for (size_t from = 0; from <= exts.size();) {
      const size_t semi = std::min(exts.find(';', from), exts.size());
      const std::string lower = ToLowerAscii(Trim(std::string_view(exts).substr(from, semi - from)));
      if (!lower.empty() && std::find(out.begin(), out.end(), lower) == out.end()) out.push_back(lower);
      from = semi + 1;
    }
    if (at >= kMaxListBytes || list[at] == '\0') break;
    at += strnlen(list + at, kMaxListBytes - at) + 1;  // the description
  }
  return out;
}

TInputPluginScan ScanInputPlugins(const std::string& folder) {
  TInputPluginScan scan;
  std::vector<std::string> paths;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("in_", 0) == 0 && name.size() > 6 && name.substr(name.size() - 3) == ".so")
      paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  for (const std::string& path : paths) {
    TInputPluginLibrary lib;
    std::string why;
    if (!lib.Load(path, why)) {
      scan.Refused.push_back({path, why});
      continue;
    }
    const In_Module& m = lib.Module();
    scan.Plugins.push_back({path, m.description ? std::string(m.description) : std::string(),
                            ParseExtensionList(m.FileExtensions)});
  }
  return scan;
}

std::string InputPluginFolder() { return ExecutableDir() + "InExtend/"; }

const TInputPluginScan& InstalledInputPlugins() {
  static const TInputPluginScan scan = ScanInputPlugins(InputPluginFolder());
  return scan;
}

std::vector<std::string> InstalledPluginExtensions() {
  std::vector<std::string> all;
  for (const TInputPluginInfo& p : InstalledInputPlugins().Plugins)
    for (const std::string& e : p.Extensions)
      if (std::find(all.begin(), all.end(), e) == all.end()) all.push_back(e);
  return all;
}

const TInputPluginInfo* InputPluginForFile(const std::string& path) {
  const std::string ext = FileExtensionOf(path);
  if (ext.empty()) return nullptr;
  for (const TInputPluginInfo& p : InstalledInputPlugins().Plugins)
    if (std::find(p.Extensions.begin(), p.Extensions.end(), ext) != p.Extensions.end()) return &p;
  return nullptr;
}

}  // namespace ml
