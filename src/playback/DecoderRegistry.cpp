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

std::string PlayableExtensionsPattern() {
  std::string pattern;
  for (const std::string& e : PlayableExtensions()) pattern += (pattern.empty() ? "." : "|.") + e;
  return pattern;
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

std::vector<std::unique_ptr<TDecoderModule>> CreateDecoders() {
  std::vector<std::unique_ptr<TDecoderModule>> decoders;
  for (const TDecoderEntry& e : DecoderRegistry()) decoders.push_back(e.Create());
  return decoders;
}

int OpenWithFirstDecoder(const std::vector<std::unique_ptr<TDecoderModule>>& decoders, const std::string& fileName,
                         bool shareWrite, std::string& why,
                         std::shared_ptr<const IArrivedBytes> arrived) {
  const int first = DecoderForExtension(fileName);
  why.clear();
  auto tryDecoder = [&](size_t i) {
    if (decoders[i]->Open(fileName, shareWrite, arrived)) return true;
    // The first decoder that knew the file's kind says why it would not play it.
    if (why.empty()) why = decoders[i]->OpenError();
    decoders[i]->Close();
    return false;
  };
  if (first >= 0 && size_t(first) < decoders.size() && tryDecoder(size_t(first))) return first;
  for (size_t i = 0; i < decoders.size(); ++i)
    if (int(i) != first && tryDecoder(i)) return int(i);
  return -1;
}

}  // namespace ml
