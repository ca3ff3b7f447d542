#pragma once
// The message the service may send with its login answer: "|"-separated name=value pairs
// ("msg=...|link=...|time=5000|upurl=...|refurl=..."). "|" is also the quote character: an item
// that starts with "|" runs to the next single "|", and "||" inside it stands for one "|", so a
// value can carry the separator.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ml {

struct TServerMessage {
  std::string Msg;     // the notice's text; empty: no notice
  std::string Link;    // the address the notice makes clickable
  int32_t TimeMs = -1; // the notice's display time; -1 (absent or not a number): stays
  std::string UpUrl;   // where the update package is; empty: no download
  std::string RefUrl;  // the referrer the download sends
  bool operator==(const TServerMessage&) const = default;
};

// The items of the text, quotes resolved.
std::vector<std::string> SplitServerMessageItems(std::string_view text);
// The named values; names match ignoring case, the first item of a name wins.
TServerMessage ParseServerMessage(std::string_view text);

}  // namespace ml
