#include "playback/DecoderRegistry.h"

#include "media/InputPluginLibrary.h"
#include "playback/uExtendDecoder.h"
#include "playback/uMPEGDecoder.h"
#include "playback/uWAVDecoder.h"
#include "playback/uWMADecoder.h"

#include <algorithm>

namespace ml {

namespace {
template <class T>
std::unique_ptr<TDecoderModule> Make() {
  return std::make_unique<T>();
}
}  // namespace

const std::vector<TDecoderEntry>& DecoderRegistry() {
  static const std::vector<TDecoderEntry> table = {
      {TMPEGDecoder::kName, {"mp3", "mp2", "mp1", "mpga"}, Make<TMPEGDecoder>},
      {TWAVDecoder::kName, {"wav"}, Make<TWAVDecoder>},
      {TWMADecoder::kName, {"wma", "asf"}, Make<TWMADecoder>},
      {TExtendDecoder::kName, InstalledPluginExtensions(), Make<TExtendDecoder>},
  };
  return table;
}

bool IsPlayableExtension(const std::string& fileName) { return DecoderForExtension(fileName) >= 0; }

std::vector<std::string> PlayableExtensions() {
  std::vector<std::string> all;
  for (const TDecoderEntry& e : DecoderRegistry()) all.insert(all.end(), e.Extensions.begin(), e.Extensions.end());
  return all;
}

std::string NotPlayableReason(const std::string& fileName) {
  if (IsPlayableExtension(fileName)) return {};
  const std::string ext = FileExtensionOf(fileName);
  if (ext.empty()) return "a file without an extension: this player goes by the extension to know what a file is";
  return "no decoder or input plug-in of this player takes ." + ext + " files (minilirra-cli formats lists what it takes)";
}

int DecoderForExtension(const std::string& fileName) {
  const std::string ext = FileExtensionOf(fileName);
  if (ext.empty()) return -1;
  const auto& table = DecoderRegistry();
  for (size_t i = 0; i < table.size(); ++i)
    if (std::find(table[i].Extensions.begin(), table[i].Extensions.end(), ext) != table[i].Extensions.end())
      return static_cast<int>(i);
  return -1;
}

}  // namespace ml
