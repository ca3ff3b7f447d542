#pragma once
// Building blocks of the record writers and readers (net/*Records.h). A record is read only when
// all of it arrived and written only when all of it fits: a reader refuses a record shorter than
// its fixed part or a text that claims more bytes than are left, a writer that lacks room writes
// nothing. The stream's own lenient reads (a default past the end) stay for the fields that come
// after such a check.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "net/LRCmdStream.h"

namespace ml::RecordCodec {

// Attaches data to s and reads its command word: false unless the record holds at least fixed
// bytes and begins with code.
bool Open(TCmdStream& s, const void* data, size_t length, uint16_t code, size_t fixed);
// True when n more bytes fit behind s's position.
bool Fits(const TCmdStream& s, size_t n);

// A short string (length byte, then the bytes) or a word string (length word, then the bytes)
// whose length and body both arrived; false otherwise, with the position unspecified.
bool ReadShortString(TCmdStream& s, std::string& text);
bool ReadWordString(TCmdStream& s, std::string& text);

// Bytes a text takes on the wire as a short string and as a word string; texts over the form's
// limit (255 and TCmdStream::MaxWordString bytes) cannot be written: SIZE_MAX.
size_t ShortStringSize(std::string_view text);
size_t WordStringSize(std::string_view text);
// The sum of a record's parts; SIZE_MAX when one of them cannot be written.
size_t Total(std::initializer_list<size_t> parts);
// Writes the word string; the caller has checked WordStringSize and Fits.
void WriteWordString(TCmdStream& s, std::string_view text);

}  // namespace ml::RecordCodec
