#include "media/uTagInfo.h"

#include "media/TagReaderRegistry.h"

namespace ml {

TTagInfo::TTagInfo() {
  for (const TTagReaderEntry& e : TagReaderRegistry()) readers_.push_back(e.Create());
}

bool TTagInfo::Load(const std::string& path) {
  TFileSource src(path);
  if (!src.IsOpen()) return false;
  Load(src);
  fileName_ = path;
  return true;
}

bool TTagInfo::Load(TMediaSource& src) {
  fileName_.clear();
  // Every reader resets itself first and catches its own errors, so one that does not
  // recognise the file is simply left empty.
  for (auto& r : readers_) r->Read(src);
  return true;
}

bool TTagInfo::GetMediaInfo(TMediaInfo& info) const {
  for (const auto& r : readers_) {
    if (!r->Recognised()) continue;
    TMediaInfo found;
    r->FillMediaInfo(found);
    info = std::move(found);
    return true;
  }
  return false;
}

bool ReadMediaInfo(const std::string& path, TMediaInfo& info) {
  TTagInfo tags;
  return tags.Load(path) && tags.GetMediaInfo(info);
}

}  // namespace ml
