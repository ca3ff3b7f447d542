// minilirra-cli skin check [PATH] [--json]: what a skin package holds (the built-in one without
// PATH), form by form, against what the player reads from a skin: elements present and missing,
// images named but not packed, and values a window could not use. A package the reader refuses
// exits 1 with the reason.
#include "app/AppInfo.h"
#include "base/FileUtil.h"
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "skin/SkinElements.h"
#include "skin/uLuiSkinMgr.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct Options {
  std::string path;
  bool json = false;
};

std::string Joined(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : ", ") + w;
  return out;
}

int Check(const Options& o) {
  constexpr uint64_t kMaxPackageBytes = ml::TLuiSkinManager::kMaxPackageBytes;
  std::optional<std::string> bytes = ml::ReadFileBytes(o.path, kMaxPackageBytes);
  if (!bytes) {
    std::fprintf(stderr, "cannot read %s (missing, unreadable, or larger than %llu MiB)\n", o.path.c_str(),
                 static_cast<unsigned long long>(kMaxPackageBytes >> 20));
    return 1;
  }
  ml::TLuiSkinManager skin;
  if (!skin.Load(std::move(*bytes))) {
    std::fprintf(stderr, "%s is not a usable skin package: %s\n", o.path.c_str(), skin.Error().c_str());
    return 1;
  }
  const auto reports = ml::CheckSkin(skin);
  bool preview = false;
  try {
    preview = skin.GetPreview().has_value();
  } catch (const ml::EZipError&) {
  }
  if (o.json) {
    mlcli::Json forms = mlcli::Json::array();
    for (const auto& r : reports)
      forms.push_back({{"form", r.Form},
                       {"found", r.Found},
                       {"used_by_player", !r.Unused},
                       {"elements", r.Present},
                       {"missing", r.Missing},
                       {"missing_images", r.MissingImages},
                       {"problems", r.Problems}});
    mlcli::PrintJson({{"package", o.path}, {"preview", preview}, {"forms", forms}});
    return 0;
  }
  std::printf("%s: a skin package%s\n", o.path.c_str(), preview ? " with a preview" : ", no Preview.jpg");
  for (const auto& r : reports) {
    if (!r.Found) {
      std::printf("  %s: not in the package%s\n", r.Form.c_str(), r.Unused ? " (not used by this player)" : "");
      continue;
    }
    std::printf("  %s: %zu of %zu elements\n", r.Form.c_str(), r.Present.size(), r.Present.size() + r.Missing.size());
    if (!r.Missing.empty()) std::printf("    missing: %s\n", Joined(r.Missing).c_str());
    if (!r.MissingImages.empty()) std::printf("    images not in the package: %s\n", Joined(r.MissingImages).c_str());
    for (const auto& p : r.Problems) std::printf("    problem: %s\n", p.c_str());
  }
  return 0;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext&) {
  auto o = std::make_shared<Options>();
  app.require_subcommand(1);
  CLI::App* check = app.add_subcommand("check", "what a skin package holds against what the player reads");
  o->path = ml::DefaultSkinResDir() + ml::TLuiSkinManager::kBuiltInPackage;
  check->add_option("PATH", o->path, "a skin package (a .zip holding SkinResDef.xml)")
      ->capture_default_str();
  check->add_flag("--json", o->json, "print JSON");
  return [o, check] { return check->parsed() ? Check(*o) : mlcli::kUsageError; };
}

const mlcli::CliCommand kSkin("skin", "skin packages", Setup);

}  // namespace
