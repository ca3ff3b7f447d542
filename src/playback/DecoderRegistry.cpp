#include "playback/DecoderRegistry.h"

#include "base/StrUtil.h"
#include "playback/uMPEGDecoder.h"
#include "playback/uWAVDecoder.h"

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
  };
  return table;
}

int DecoderForExtension(const std::string& fileName) {
  const auto dot = fileName.find_last_of('.');
  const auto slash = fileName.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return -1;
  const std::string ext = ToLowerAscii(fileName.substr(dot + 1));
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
                         bool shareWrite, std::string& why) {
  const int first = DecoderForExtension(fileName);
  why.clear();
  auto tryDecoder = [&](size_t i) {
    if (decoders[i]->Open(fileName, shareWrite)) return true;
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
