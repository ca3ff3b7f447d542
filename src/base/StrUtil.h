#pragma once
// Small text helpers shared by the file readers. ASCII-only case folding: names and keys in this
// program's files are ASCII, and folding GBK or UTF-8 bytes would corrupt them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ml {

std::string_view Trim(std::string_view s);
std::string ToLowerAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// A whole integer in the forms people and old files write: optional blanks and sign, decimal,
// or hexadecimal with "$" or "0x". nullopt for anything else or a value out of range.
std::optional<int64_t> ParseInt(std::string_view s);
int64_t ParseIntDef(std::string_view s, int64_t fallback);
int32_t ParseInt32Def(std::string_view s, int32_t fallback);

// Splits at CR LF, LF or lone CR. A final line break does not add an empty line.
std::vector<std::string_view> SplitLines(std::string_view text);

std::string_view StripUtf8Bom(std::string_view text);

}  // namespace ml
