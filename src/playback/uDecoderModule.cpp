#include "playback/uDecoderModule.h"

namespace ml {

bool TDecoderModule::Open(const std::string& fileName, bool shareWrite, std::shared_ptr<const IArrivedBytes> arrived) {
  Close();
  OpenError_.clear();
  auto file = std::make_unique<TFileSource>(
      fileName, shareWrite ? TFileSource::TGrowth::Growing : TFileSource::TGrowth::Fixed, std::move(arrived));
  if (!file->IsOpen()) return false;
  return OpenSource(std::move(file), fileName);
}

bool TDecoderModule::OpenSource(std::unique_ptr<TMediaSource> source, const std::string& name) {
  Close();
  OpenError_.clear();
  Source_ = TSourceCursor(std::move(source));
  FileName_ = name;
  bool ok = false;
  try {
    ok = OpenInput();
  } catch (const EMediaRead&) {
    ok = false;  // an I/O error while checking the stream: not a song this decoder can play
  }
  if (!ok) Close();
  return ok;
}

}  // namespace ml
