#include "net/LRCmdStream.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace ml {

TCmdStream::~TCmdStream() {
  buffer_ = nullptr;
  size_ = 0;
  position_ = 0;
}

void TCmdStream::InitRead(const void* buffer, int32_t size) {
  // Reading never writes; the const is dropped only so the same cursor can also compose.
  buffer_ = static_cast<uint8_t*>(const_cast<void*>(buffer));
  size_ = buffer_ && size > 0 ? size : 0;
  position_ = 0;
}

void TCmdStream::ResetRead(int32_t size) {
  size_ = buffer_ && size > 0 ? size : 0;
  position_ = 0;
}

void TCmdStream::InitWrite(void* buffer, int32_t capacity) {
  buffer_ = static_cast<uint8_t*>(buffer);
  capacity_ = buffer_ && capacity > 0 ? capacity : 0;
  size_ = 0;
  position_ = 0;
}

// 64-bit sums so that a huge count can never wrap around the test.
bool TCmdStream::FitsRead(int32_t count) const {
  return buffer_ && count >= 0 && int64_t(position_) + count <= int64_t(size_);
}

bool TCmdStream::FitsWrite(int32_t count) const {
  return buffer_ && count >= 0 && int64_t(position_) + count <= int64_t(capacity_);
}

void TCmdStream::AdvanceWrite(int32_t count, bool keepSize) {
  position_ += count;
  // Writes count towards Size even when they overwrite bytes already counted (after a Seek
  // back), but Size never passes Capacity: a sender hands out the first Size bytes of the buffer.
  if (!keepSize) size_ = int32_t(std::min<int64_t>(int64_t(size_) + count, capacity_));
}

uint8_t TCmdStream::ReadByte(uint8_t def) {
  if (!FitsRead(1)) return def;
  return buffer_[position_++];
}

uint16_t TCmdStream::ReadWord(uint16_t def) {
  if (!FitsRead(2)) return def;
  const uint8_t* p = buffer_ + position_;
  position_ += 2;
  return LoadLE16(p);
}

int32_t TCmdStream::ReadInteger(int32_t def) {
  if (!FitsRead(4)) return def;
  const uint8_t* p = buffer_ + position_;
  position_ += 4;
  return int32_t(LoadLE32(p));
}

bool TCmdStream::ReadBuffer(void* dest, int32_t count) {
  if (!FitsRead(count) || (count > 0 && !dest)) return false;
  if (count > 0) std::memcpy(dest, buffer_ + position_, size_t(count));
  position_ += count;
  return true;
}

void TCmdStream::ReadShortString(std::string& text) {
  text.clear();
  const int32_t len = ReadByte(0);
  if (len == 0 || !FitsRead(len)) return;
  text.assign(reinterpret_cast<const char*>(buffer_ + position_), size_t(len));
  position_ += len;
}

void TCmdStream::ReadWordString(std::string& text) {
  text.clear();
  const int32_t len = ReadWord(0);
  if (len < 1 || len > MaxWordString || !FitsRead(len)) return;
  text.assign(reinterpret_cast<const char*>(buffer_ + position_), size_t(len));
  position_ += len;
}

bool TCmdStream::ReadBlock(int32_t& value, std::string& text) {
  text.clear();
  const int32_t len = ReadInteger(0);
  value = ReadInteger(0);
  if (len < MinBlockLength || len > MaxBlockLength) return false;
  const int32_t body = len - 4;
  if (!FitsRead(body)) return false;
  text.assign(reinterpret_cast<const char*>(buffer_ + position_), size_t(body));
  position_ += body;
  return true;
}

int32_t TCmdStream::Seek(int32_t offset, int origin) {
  int64_t target = position_;
  switch (origin) {
    case 0: target = offset; break;
    case 1: target = int64_t(position_) + offset; break;
    case 2: target = int64_t(size_) + offset; break;
    default: break;
  }
  if (target < 0) target = 0;
  if (target > size_) target = size_;
  position_ = int32_t(target);
  return position_;
}

void TCmdStream::WriteByte(uint8_t value, bool keepSize) {
  if (!FitsWrite(1)) return;
  buffer_[position_] = value;
  AdvanceWrite(1, keepSize);
}

void TCmdStream::WriteWord(uint16_t value, bool keepSize) {
  if (!FitsWrite(2)) return;
  StoreLE16(buffer_ + position_, value);
  AdvanceWrite(2, keepSize);
}

void TCmdStream::WriteInteger(int32_t value, bool keepSize) {
  if (!FitsWrite(4)) return;
  StoreLE32(buffer_ + position_, uint32_t(value));
  AdvanceWrite(4, keepSize);
}

void TCmdStream::WriteBuffer(const void* data, int32_t count) {
  if (count <= 0 || !data || !FitsWrite(count)) return;
  std::memmove(buffer_ + position_, data, size_t(count));
  AdvanceWrite(count, false);
}

void TCmdStream::WriteShortString(const void* text, int32_t length) {
  if (length < 0 || length > 255) return;
  // Length byte and body go in together or not at all, so a full buffer never leaves a length
  // byte that promises a body which is not there.
  if (!FitsWrite(1 + length)) return;
  WriteByte(uint8_t(length), false);
  WriteBuffer(text, length);
}

void TCmdStream::WriteShortString(std::string_view s) {
  if (s.size() > 255) return;
  WriteShortString(s.data(), int32_t(s.size()));
}

void TCmdStream::WriteBlock(int32_t value, std::string_view s) {
  if (s.size() > size_t(MaxBlockLength - 4)) return;
  const int32_t len = int32_t(s.size());
  if (!FitsWrite(8 + len)) return;
  WriteInteger(len + 4, false);
  WriteInteger(value, false);
  WriteBuffer(s.data(), len);
}

}  // namespace ml
