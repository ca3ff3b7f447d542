#pragma once
// TCmdStream: the one encoder and decoder of command records. A cursor over a buffer that the
// caller owns: it never allocates (except the text a string read hands back), never throws, skips
// a write that does not fit and answers a read past the end with the caller's default.
//
// Wire rules: little-endian integers with no padding; Byte 0..255, Word 0..65535 (zero-extended),
// Integer signed 32-bit; texts are raw bytes (GBK on the wire, never zero-terminated) in three
// forms: short string (length byte + bytes), word string (length word + bytes, 1..8191 accepted),
// block (Integer length+4, Integer value, bytes; length+4 accepted in 4..1500).
#include <cstdint>
#include <string>
#include <string_view>

namespace ml {

class TCmdStream {
public:
  static constexpr int32_t MaxWordString = 8191;
  static constexpr int32_t MinBlockLength = 4;
  static constexpr int32_t MaxBlockLength = 1500;

  TCmdStream() = default;
  TCmdStream(const TCmdStream&) = delete;
  TCmdStream& operator=(const TCmdStream&) = delete;
  ~TCmdStream();

  // Attach a received record of size bytes; Capacity stays as it was.
  void InitRead(const void* buffer, int32_t size);
  // Re-read the same buffer after a reply of size bytes replaced the request in it.
  void ResetRead(int32_t size);
  // Start composing into buffer, which holds capacity bytes.
  void InitWrite(void* buffer, int32_t capacity);

  uint8_t ReadByte(uint8_t def);
  uint16_t ReadWord(uint16_t def);
  int32_t ReadInteger(int32_t def);
  bool ReadBuffer(void* dest, int32_t count);
  // Empty text when the length byte is 0 or the body is missing (the length byte stays consumed).
  void ReadShortString(std::string& text);
  // Lengths 0 and 8192+ give an empty text and consume only the length word.
  void ReadWordString(std::string& text);
  // False when the length is outside 4..1500 or the body is missing; value is delivered anyway.
  bool ReadBlock(int32_t& value, std::string& text);
  // Origin 0: from the start, 1: from Position, 2: from Size. The result is clamped to 0..Size;
  // an unknown origin leaves Position (clamped) where it was.
  int32_t Seek(int32_t offset, int origin);

  void WriteByte(uint8_t value, bool keepSize = false);
  void WriteWord(uint16_t value, bool keepSize = false);
  void WriteInteger(int32_t value, bool keepSize = false);
  // Always adds count to Size, also when it overwrites bytes before the end (Size stops at
  // Capacity).
  void WriteBuffer(const void* data, int32_t count);
  // A text longer than 255 bytes is refused whole (nothing written): cutting it would shift
  // every later field of a record the peer reads by the length byte.
  void WriteShortString(const void* text, int32_t length);
  void WriteShortString(std::string_view s);
  void WriteBlock(int32_t value, std::string_view s);

  uint8_t* Buffer() const { return buffer_; }
  int32_t Capacity() const { return capacity_; }
  int32_t Size() const { return size_; }
  int32_t Position() const { return position_; }
  // Bytes left to read.
  int32_t Remaining() const { return size_ - position_; }

private:
  bool FitsRead(int32_t count) const;
  bool FitsWrite(int32_t count) const;
  void AdvanceWrite(int32_t count, bool keepSize);

  uint8_t* buffer_ = nullptr;
  int32_t capacity_ = 0;
  int32_t size_ = 0;
  int32_t position_ = 0;
};

}  // namespace ml
