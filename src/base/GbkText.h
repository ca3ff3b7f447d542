#pragma once
// Conversion between the program's UTF-8 text and GBK (code page 936), the 8-bit encoding of the
// wire, the mailbox and the files that keep it. Decoding uses GB18030, GBK's superset, so the
// characters that only GB18030 has survive; encoding uses GBK, and a character it lacks becomes "?"
// as the Windows code-page converter does. Byte limits on the wire count the GBK form.
#include <cstddef>
#include <string>
#include <string_view>

namespace ml {

// GBK/GB18030 bytes to UTF-8. A byte sequence that is not valid becomes U+FFFD, one per bad byte.
std::string GbkToUtf8(std::string_view gbk);
// The same, appended to out (the LRC reader decodes a file straight into its text).
void AppendGbkAsUtf8(std::string& out, std::string_view gbk);

// UTF-8 to GBK. Characters with no GBK form, and invalid UTF-8 bytes, become "?".
std::string Utf8ToGbk(std::string_view utf8);

// UTF-8 to GB18030: the GBK form for every character GBK has, four-byte forms for the rest, so a
// text in any script survives byte rules stated over GBK and converts back unchanged. Invalid
// UTF-8 bytes are dropped.
std::string Utf8ToGb18030(std::string_view utf8);

// Latin-1 bytes (each byte its own code point) to UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);

// The text as it survives a trip through GBK: characters GBK lacks become "?". Used for values
// the program will send or store as GBK, so what it shows is what it sends.
std::string GbkRepresentable(std::string_view utf8);

// Appends one code point as UTF-8 (the caller passes a valid scalar value).
void AppendUtf8(std::string& out, char32_t codePoint);

// True when text is strictly valid UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);
// The code points of UTF-8 text; each byte of a sequence that is not strictly valid is U+FFFD.
std::u32string Utf8ToCodePoints(std::string_view utf8);

// UTF-16 bytes (little- or big-endian) to UTF-8; an unpaired surrogate becomes U+FFFD and an odd
// trailing byte is ignored.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian = false);
std::string Utf8ToUtf16LE(std::string_view utf8);

// Length in bytes of the GBK character that starts at text[pos] (1 for ASCII, 2 for a lead byte
// with a trail byte present, 4 for a GB18030 four-byte sequence). Never runs past text.size().
std::size_t GbkCharLength(std::string_view text, std::size_t pos);

// Cuts GBK bytes to at most maxBytes without splitting a character.
std::string_view GbkTruncate(std::string_view gbk, std::size_t maxBytes);
// UTF-8 to GBK cut to a field of maxBytes (a short string's 255, a length word's 65535).
std::string Utf8ToGbkTruncated(std::string_view utf8, std::size_t maxBytes);

}  // namespace ml
