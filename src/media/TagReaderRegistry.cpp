#include "media/TagReaderRegistry.h"

#include "media/APEtag.h"
#include "media/MPEGaudio.h"
#include "media/InputPluginLibrary.h"
#include "media/OggVorbis.h"
#include "media/PluginTags.h"
#include "media/WAVfile.h"
#include "media/WMAfile.h"

namespace ml {

namespace {
template <class T>
std::unique_ptr<TMediaReader> Make() {
  return std::make_unique<T>();
}
}  // namespace

const std::vector<TTagReaderEntry>& TagReaderRegistry() {
  static const std::vector<TTagReaderEntry> table = {
      {"MPEG audio", {"mp3", "mp2", "mp1", "mpga"}, Make<TMPEGaudio>},
      {"WMA", {"wma", "asf"}, Make<TWMAfile>},
      {"Ogg Vorbis", {"ogg"}, Make<TOggVorbis>},
      {"WAV", {"wav"}, Make<TWAVfile>},
      {"Input plug-in", InstalledPluginExtensions(), Make<TPluginTags>},
      {"APE tag", {}, Make<TAPEtag>},
  };
  return table;
}

}  // namespace ml
