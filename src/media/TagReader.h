#pragma once
// The family of tag readers: each understands one container or tag format and fills its own
// fields from a file. A read never throws and never leaves half-filled fields behind a failure.
#include "media/MediaInfo.h"
#include "media/MediaSource.h"

#include <string>

namespace ml {

class TTagReader {
public:
  virtual ~TTagReader() = default;
  // Clears every field to its "nothing found" value.
  virtual void ResetData() = 0;

  // Resets, then reads. False only when the file could not be read at all (missing, too short
  // for the reader's fixed read, an I/O error); true means the reader could look, and its own
  // found or recognised flag says whether the format was there.
  bool Read(const std::string& path);
  bool Read(TMediaSource& src);

protected:
  // The reader's own work; may throw, and returns false for a read failure as above.
  virtual bool Parse(TMediaSource& src) = 0;
};

// A reader whose findings can stand for the whole file in the merged record: a row of the tag
// reader registry (the ID3 readers are parts of the MPEG one, not rows of their own).
class TMediaReader : public TTagReader {
public:
  // Whether the last read found this reader's format in the file.
  virtual bool Recognised() const = 0;
  // What it found, in the merged record's terms (called only when Recognised()).
  virtual void FillMediaInfo(TMediaInfo& info) const = 0;
};

}  // namespace ml
