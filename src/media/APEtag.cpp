#include "media/APEtag.h"

#include "media/MediaText.h"
#include "base/StrUtil.h"

namespace ml {
namespace {
constexpr size_t kFooterSize = 32;
constexpr size_t kMaxValue = 250;  // values are read to this many bytes
constexpr size_t kMaxKey = 256;    // keys are at most 255 bytes by the format
}  // namespace

void TAPEtag::ResetData() { *this = TAPEtag(); }

bool TAPEtag::Parse(TMediaSource& src) {
  const uint64_t fileSize = src.Size();
  FileSize = fileSize;
  uint64_t shift = 0;
  if (fileSize >= 128 && HasAt(src.Read(fileSize - 128, 3), 0, "TAG")) shift = 128;
  if (fileSize < shift + kFooterSize) return false;
  const uint64_t footerPos = fileSize - shift - kFooterSize;
  std::string footer = src.Read(footerPos, kFooterSize);
  if (footer.size() < kFooterSize) return false;
  if (!HasAt(footer, 0, "APETAGEX")) return true;
  Exists = true;
  Version = GetLE32(footer, 8);
  Size = GetLE32(footer, 12);
  const uint32_t itemCount = GetLE32(footer, 16);
  if (Size < kFooterSize || Size > footerPos + kFooterSize) return true;  // size cannot be right

  std::string track;
  uint64_t pos = footerPos + kFooterSize - Size;
  for (uint32_t n = 0; n < itemCount && pos < footerPos && footerPos - pos >= 9; ++n) {
    std::string head = src.Read(pos, 8 + std::min<uint64_t>(kMaxKey, footerPos - pos - 8));
    const uint32_t valueSize = GetLE32(head, 0);
    size_t keyEnd = head.find('\0', 8);
    if (keyEnd == std::string::npos) break;  // no key terminator where one must be
    std::string_view key = std::string_view(head).substr(8, keyEnd - 8);
    const uint64_t valuePos = pos + keyEnd + 1;
    if (valuePos > footerPos || valueSize > footerPos - valuePos) break;  // value runs past the tag
    std::string raw = src.Read(valuePos, std::min<size_t>(valueSize, kMaxValue));
    pos = valuePos + valueSize;

    std::string* field = EqualsNoCase(key, "Title")       ? &Title
                         : EqualsNoCase(key, "Artist")    ? &Artist
                         : EqualsNoCase(key, "Album")     ? &Album
                         : EqualsNoCase(key, "Track")     ? &track
                         : EqualsNoCase(key, "Year")      ? &Year
                         : EqualsNoCase(key, "Genre")     ? &Genre
                         : EqualsNoCase(key, "Comment")   ? &Comment
                         : EqualsNoCase(key, "Copyright") ? &Copyright
                                                          : nullptr;
    if (!field) continue;
    *field = Version <= 1000 ? DecodeAnsiText(raw) : DecodeUtf8Prefix(raw);
  }
  Track = TrackByte(ExtractTrack(track));
  return true;
}

void TAPEtag::FillMediaInfo(TMediaInfo& r) const {
  r.FileSize = FileSize32(FileSize);
  SetTagFields(r, *this);
}

}  // namespace ml
