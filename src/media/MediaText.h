#pragma once
// Text helpers shared by the tag readers. Whatever a tag stores, the readers hand out UTF-8,
// trimmed of leading and trailing blanks and control bytes (every tag value is kept trimmed).
#include <cstdint>
#include <string>
#include <string_view>

namespace ml {

// 8-bit tag text (ID3v1, ID3v2 encoding 0, APE version 1): the home code page GBK, unless the
// bytes are valid UTF-8 (mislabelled UTF-8 is common and can never be mistaken for GBK by
// accident in practice), and Latin-1 when they are not valid GBK either. Cut at the first NUL;
// a character cut off by a fixed-width field is dropped.
std::string DecodeAnsiText(std::string_view bytes);

// The longest valid UTF-8 prefix of bytes, cut at the first NUL: a tag value with a broken
// sequence keeps the text before it.
std::string DecodeUtf8Prefix(std::string_view bytes);

// UTF-16 code units up to the first zero unit. A byte-order mark, when present, decides the
// byte order and is dropped; without one, bigEndian decides. An odd last byte and a high
// surrogate cut off at the end are dropped.
std::string DecodeUtf16Text(std::string_view bytes, bool bigEndian = false);

// Removes leading and trailing bytes up to 0x20 (blanks, NULs, control bytes). Safe on UTF-8
// and GBK: their multi-byte characters never contain such bytes.
std::string_view TrimLowBytes(std::string_view s);

// The track number of texts such as "3" or "3/12": the integer before the first "/", 0 when it
// is not a whole number.
int ExtractTrack(std::string_view text);

// Clamps a track number to the 8-bit field of the merged record; out of range means unknown.
uint8_t TrackByte(int track);

// Name of an ID3v1 genre index (the standard list with its later extensions, 0..147); empty
// for 148 and above.
std::string_view GenreName(unsigned index);

}  // namespace ml
