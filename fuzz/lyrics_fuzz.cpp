// Any bytes as a lyric file. Beyond not crashing: GBK text decodes as the system's GB18030
// converter decodes it, the lines come out sorted, every query stays in range, and writing an offset back gives a
// file that reads back with exactly that offset.
#include "base/GbkText.h"
#include "lyrics/LRCParse.h"
#include "tests/support/IconvReference.h"

#include <string>

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  // The table decoder must say exactly what the system's converter says.
  if (ml::GbkToUtf8(raw.substr(0, 4096)) != mltest::IconvGb18030ToUtf8(raw.substr(0, 4096))) std::abort();
  // Without a BOM, detection is the base validator's answer, however it gets there.
  const auto enc = ml::DetectLyricEncoding(raw);
  if ((enc == ml::TLyricEncoding::Utf8 || enc == ml::TLyricEncoding::Gbk) &&
      (enc == ml::TLyricEncoding::Utf8) != ml::IsValidUtf8(raw))
    std::abort();

  ml::TLRCParse p;
  if (!p.LoadFromBytes(raw)) return 0;
  for (int32_t i = 1; i < p.Count(); ++i)
    if (p.Lines[i - 1].Time > p.Lines[i].Time) std::abort();
  for (const auto& line : p.Lines)
    for (const auto& w : line.Words)
      if (w.Start > line.Text.size()) std::abort();
  ml::TLineInfo info;
  for (int32_t t : {-100000, 0, 1500, 60000, 2000000000}) {
    if (p.GetLineAt(t, info) != (p.Count() > 0)) std::abort();
    if (info.Index < 0 || (p.Count() > 0 && info.Index >= p.Count())) std::abort();
    p.GetNextLine(info.Index, info);
    p.GetPrevLine(info.Index, info);
  }
  (void)p.GetText();

  const int32_t offset = static_cast<int32_t>(size % 1000) * 100 - 49999;
  const ml::TLyricOffsetEdit edit = ml::RewriteLyricOffset(raw, offset);
  // It parsed, so it is a text file; the one refusal left is an effective tag holding no number,
  // and then the file's offset is the 0 that such a tag reads as.
  if (!edit.Bytes) {
    if (edit.Refusal != ml::TLyricOffsetEdit::TRefusal::UnreadableTag || p.Offset != 0 ||
        p.OffsetLine != edit.OffsetLine)
      std::abort();
    return 0;
  }
  ml::TLRCParse again;
  if (!again.LoadFromBytes(*edit.Bytes) || again.Offset != offset || again.OffsetLine != edit.OffsetLine)
    std::abort();
  return 0;
}
