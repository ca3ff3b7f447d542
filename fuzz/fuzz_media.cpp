// Feeds arbitrary bytes to one media reader, as a damaged or hostile file would.
#include "media/uSongName.h"
#include "media/APEtag.h"
#include "media/MPEGaudio.h"
#include "media/OggVorbis.h"
#include "media/WAVfile.h"
#include "media/WMAfile.h"
#include "media/uTagInfo.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ml::TMemorySource src(bytes);
#if defined(FUZZ_READER_ID3V1)
  ml::TID3v1 r;
  r.Read(src);
  (void)r.Genre();
#elif defined(FUZZ_READER_ID3V2)
  ml::TID3v2 r;
  r.Read(src);
#elif defined(FUZZ_READER_APETAG)
  ml::TAPEtag r;
  r.Read(src);
#elif defined(FUZZ_READER_MPEG)
  ml::TMPEGaudio r;
  r.Read(src);
  (void)r.Valid();
  (void)r.ChannelMode();
#elif defined(FUZZ_READER_WMA)
  ml::TWMAfile r;
  r.Read(src);
#elif defined(FUZZ_READER_WAV)
  ml::TWAVfile r;
  r.Read(src);
  (void)r.Duration();
#elif defined(FUZZ_READER_OGG)
  ml::TOggVorbis r;
  r.Read(src);
  (void)r.Valid();
#elif defined(FUZZ_READER_TAGINFO)
  ml::TTagInfo tags;
  tags.Load(src);
  ml::TMediaInfo info;
  tags.GetMediaInfo(info);
#elif defined(FUZZ_READER_SONGNAME)
  ml::TSongNameParts parts;
  ml::ParseSongNameGbk(bytes.data(), bytes.size(), parts);
  (void)ml::RelatedSearchWords(parts);
  ml::ParseSongName(bytes, parts);
  std::string left, right;
  ml::SplitAtHyphen(bytes, left, right);
  (void)ml::MakeSafeFileName(bytes);
#else
#error "FUZZ_READER_* not defined"
#endif
  return 0;
}
