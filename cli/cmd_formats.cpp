// minilirra-cli formats [--json]: what the registries of this build hold: the decoders with the
// extensions they are tried first for, the input plug-ins found (and those refused, with the
// reason), the outputs with their devices, and the tag readers.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "media/InputPluginLibrary.h"
#include "media/TagReaderRegistry.h"
#include "playback/DecoderRegistry.h"
#include "playback/OutputRegistry.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string Joined(const std::vector<std::string>& words, const char* none) {
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
  return out.empty() ? none : out;
}

mlcli::Json Collect() {
  mlcli::Json decoders = mlcli::Json::array(), outputs = mlcli::Json::array(), readers = mlcli::Json::array();
  for (const ml::TDecoderEntry& e : ml::DecoderRegistry())
    decoders.push_back({{"name", e.Name}, {"extensions", e.Extensions}});
  for (const ml::TOutputEntry& e : ml::OutputRegistry()) {
    mlcli::Json devices = mlcli::Json::array();
    if (e.Devices)
      for (const ml::TOutputDevice& d : e.Devices()) devices.push_back({{"id", d.Id}, {"description", d.Description}});
    outputs.push_back({{"name", e.Name}, {"description", e.Label}, {"devices", devices}});
  }
  for (const ml::TTagReaderEntry& e : ml::TagReaderRegistry())
    readers.push_back({{"name", e.Name}, {"extensions", e.Extensions}});
  mlcli::Json plugins = mlcli::Json::array(), refused = mlcli::Json::array();
  const auto fileName = [](const std::string& path) { return std::filesystem::path(path).filename().string(); };
  for (const ml::TInputPluginInfo& p : ml::InstalledInputPlugins().Plugins)
    plugins.push_back({{"file", fileName(p.Path)}, {"description", p.Description}, {"extensions", p.Extensions}});
  for (const ml::TInputPluginRefusal& r : ml::InstalledInputPlugins().Refused)
    refused.push_back({{"file", fileName(r.Path)}, {"reason", r.Reason}});
  return {{"decoders", decoders},
          {"plugin_folder", ml::InputPluginFolder()},
          {"input_plugins", plugins},
          {"refused_plugins", refused},
          {"outputs", outputs},
          {"tag_readers", readers}};
}

void PrintText(const mlcli::Json& all) {
  std::printf("decoders (tried in this order):\n");
  for (const auto& d : all["decoders"])
    std::printf("  %-14s %s\n", d["name"].get<std::string>().c_str(),
                Joined(d["extensions"].get<std::vector<std::string>>(), "(any file)").c_str());
  std::printf("input plug-ins (in %s):\n", all["plugin_folder"].get<std::string>().c_str());
  for (const auto& p : all["input_plugins"])
    std::printf("  %-16s %s (%s)\n", p["file"].get<std::string>().c_str(),
                Joined(p["extensions"].get<std::vector<std::string>>(), "").c_str(),
                p["description"].get<std::string>().c_str());
  for (const auto& r : all["refused_plugins"])
    std::printf("  %-16s refused: %s\n", r["file"].get<std::string>().c_str(), r["reason"].get<std::string>().c_str());
  std::printf("outputs (--output NAME[:DEVICE]):\n");
  for (const auto& o : all["outputs"]) {
    std::printf("  %-12s %s\n", o["name"].get<std::string>().c_str(), o["description"].get<std::string>().c_str());
    for (const auto& d : o["devices"]) {
      const std::string id = d["id"].get<std::string>();
      std::printf("      %-28s %s\n", id.empty() ? "(default)" : id.c_str(), d["description"].get<std::string>().c_str());
    }
  }
  std::printf("tag readers (the first that recognises a file wins):\n");
  for (const auto& r : all["tag_readers"])
    std::printf("  %-12s %s\n", r["name"].get<std::string>().c_str(),
                Joined(r["extensions"].get<std::vector<std::string>>(), "(any file)").c_str());
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext&) {
  auto json = std::make_shared<bool>(false);
  app.add_flag("--json", *json, "print JSON");
  return [json] {
    const mlcli::Json all = Collect();
    if (*json)
      mlcli::PrintJson(all);
    else
      PrintText(all);
    return 0;
  };
}

const mlcli::CliCommand kFormats("formats", "list the decoders, input plug-ins, outputs and tag readers of this build",
                                  Setup);

}  // namespace
