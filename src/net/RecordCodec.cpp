#include "net/RecordCodec.h"

#include <cstdint>

namespace ml::RecordCodec {

bool Open(TCmdStream& s, const void* data, size_t length, uint16_t code, size_t fixed) {
  if (!data || length < 2 || length < fixed || length > size_t(INT32_MAX)) return false;
  s.InitRead(data, int32_t(length));
  return s.ReadWord(0) == code;
}

bool Fits(const TCmdStream& s, size_t n) {
  const int64_t room = int64_t(s.Capacity()) - s.Position();
  return s.Buffer() && room >= 0 && n <= uint64_t(room);
}

namespace {
bool ReadBody(TCmdStream& s, int32_t length, std::string& text) {
  text.clear();
  if (length > s.Remaining()) return false;
  text.assign(reinterpret_cast<const char*>(s.Buffer() + s.Position()), size_t(length));
  s.Seek(length, 1);
  return true;
}
}  // namespace

bool ReadShortString(TCmdStream& s, std::string& text) {
  if (s.Remaining() < 1) return false;
  return ReadBody(s, s.ReadByte(0), text);
}

bool ReadWordString(TCmdStream& s, std::string& text) {
  if (s.Remaining() < 2) return false;
  const int32_t length = s.ReadWord(0);
  return length <= TCmdStream::MaxWordString && ReadBody(s, length, text);
}

size_t ShortStringSize(std::string_view text) { return text.size() <= 255 ? 1 + text.size() : SIZE_MAX; }

size_t WordStringSize(std::string_view text) {
  return text.size() <= size_t(TCmdStream::MaxWordString) ? 2 + text.size() : SIZE_MAX;
}

size_t Total(std::initializer_list<size_t> parts) {
  size_t sum = 0;
  for (size_t n : parts) {
    if (n == SIZE_MAX) return SIZE_MAX;
    sum += n;
  }
  return sum;
}

void WriteWordString(TCmdStream& s, std::string_view text) {
  s.WriteWord(uint16_t(text.size()));
  if (!text.empty()) s.WriteBuffer(text.data(), int32_t(text.size()));
}

}  // namespace ml::RecordCodec
