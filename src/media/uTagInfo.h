#pragma once
// TTagInfo runs every tag reader over one file and merges what they found into one TMediaInfo.
// The player keeps the result for the current song; the music library copies it into a song
// entry when a file is added.
#include "media/MediaInfo.h"
#include "media/TagReader.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ml {

class TTagInfo {
public:
  TTagInfo();
  // Reads path with every reader. False when the file does not exist or cannot be opened;
  // true otherwise, even when no reader recognised anything.
  bool Load(const std::string& path);
  // The same over bytes already in memory (always true).
  bool Load(TMediaSource& src);

  // Merges into info what the first registry row that recognised the file found. False, with
  // info untouched, when none did.
  bool GetMediaInfo(TMediaInfo& info) const;

  const std::string& FileName() const { return fileName_; }
  // The reader of that type, as the last Load left it.
  template <class T>
  const T& Reader() const {
    for (const auto& r : readers_)
      if (const auto* t = dynamic_cast<const T*>(r.get())) return *t;
    throw std::logic_error("no such tag reader in the registry");
  }

private:
  std::string fileName_;
  std::vector<std::unique_ptr<TMediaReader>> readers_;  // one per registry row, in its order
};

// Reads one file and merges; false when the file is missing or nothing recognised it.
bool ReadMediaInfo(const std::string& path, TMediaInfo& info);

}  // namespace ml
