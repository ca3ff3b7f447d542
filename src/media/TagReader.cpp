#include "media/TagReader.h"

namespace ml {

bool TTagReader::Read(const std::string& path) {
  ResetData();
  try {
    TFileSource src(path);
    if (src.IsOpen()) return Read(src);
  } catch (const std::exception&) {
  }
  ResetData();
  return false;
}

bool TTagReader::Read(TMediaSource& src) {
  ResetData();
  try {
    if (Parse(src)) return true;
  } catch (const std::exception&) {
  }
  ResetData();
  return false;
}

}  // namespace ml
