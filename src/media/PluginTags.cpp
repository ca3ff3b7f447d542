#include "media/PluginTags.h"

#include "media/InputPluginLibrary.h"
#include "media/MediaText.h"

#include <cstdlib>

namespace ml {

void TPluginTags::ResetData() { *this = TPluginTags(); }

bool TPluginTags::Parse(TMediaSource& src) {
  const std::string path = src.Path();
  const TInputPluginInfo* plugin = path.empty() ? nullptr : InputPluginForFile(path);
  if (!plugin) return true;
  TInputPluginLibrary lib;
  std::string why;
  if (!lib.Load(plugin->Path, why) || !lib.HasFileInfo()) return true;
  auto number = [&](const char* field) { return std::atoi(lib.FileInfo(path, field).c_str()); };
  // A plug-in that does not give the length and rate did not read the file.
  DurationMs = number("length");
  SampleRate = number("samplerate");
  if (DurationMs <= 0 || SampleRate <= 0) return true;
  Channels = number("channels");
  Bitrate = number("bitrate");
  Title = lib.FileInfo(path, "title");
  Artist = lib.FileInfo(path, "artist");
  Album = lib.FileInfo(path, "album");
  Year = lib.FileInfo(path, "year");
  Genre = lib.FileInfo(path, "genre");
  Comment = lib.FileInfo(path, "comment");
  Track = ExtractTrack(lib.FileInfo(path, "track"));
  FileSize = src.Size();
  Valid = true;
  return true;
}

void TPluginTags::FillMediaInfo(TMediaInfo& r) const {
  r.FileSize = FileSize32(FileSize);
  r.SampleRate = SampleRate;
  r.Bitrate = Bitrate;
  r.Duration = DurationMs;
  r.Channels = Channels;
  SetTagFields(r, *this);
}

}  // namespace ml
