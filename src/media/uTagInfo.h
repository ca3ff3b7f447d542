#pragma once
// TTagInfo runs every tag reader over one file and merges what they found into one TMediaInfo.
// The player keeps the result for the current song; the music library copies it into a song
// entry when a file is added.
#include "media/APEtag.h"
#include "media/MPEGaudio.h"
#include "media/OggVorbis.h"
#include "media/WAVfile.h"
#include "media/WMAfile.h"

#include <cstdint>
#include <string>

namespace ml {

// The merged technical and tag information of one file. Text is UTF-8.
struct TMediaInfo {
  uint32_t FileSize = 0;  // bytes, as the reader that won saw them
  int32_t SampleRate = 0; // Hz
  int32_t Bitrate = 0;    // kbps; 0 for WAV and APE-only files
  int32_t Duration = 0;   // ms
  int32_t Channels = 0;   // 1 or 2 (6 for some Ogg Vorbis files)
  std::string Title, Artist, Album;
  std::string Year;       // as the tag writes it, not a number
  std::string Genre;
  uint8_t Track = 0;      // 0 when unknown
  std::string Comment;

  bool operator==(const TMediaInfo&) const = default;
};

class TTagInfo {
public:
  // Reads path with every reader. False when the file does not exist or cannot be opened;
  // true otherwise, even when no reader recognised anything.
  bool Load(const std::string& path);
  // The same over bytes already in memory (always true).
  bool Load(TMediaSource& src);

  // Merges into info: the first of MPEG, WMA, Ogg Vorbis, WAV and APE that recognised the file
  // wins. False, with info untouched, when none did.
  bool GetMediaInfo(TMediaInfo& info) const;

  const std::string& FileName() const { return fileName_; }
  const TMPEGaudio& MPEGaudio() const { return mpeg_; }
  const TOggVorbis& OggVorbis() const { return ogg_; }
  const TWMAfile& WMAfile() const { return wma_; }
  const TWAVfile& WAVfile() const { return wav_; }
  const TAPEtag& APEtag() const { return ape_; }

private:
  std::string fileName_;
  TMPEGaudio mpeg_;
  TOggVorbis ogg_;
  TWMAfile wma_;
  TWAVfile wav_;
  TAPEtag ape_;
};

// Reads one file and merges; false when the file is missing or nothing recognised it.
bool ReadMediaInfo(const std::string& path, TMediaInfo& info);

}  // namespace ml
