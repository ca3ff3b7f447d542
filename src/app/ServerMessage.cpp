#include "app/ServerMessage.h"

#include <algorithm>

#include "base/StrUtil.h"

namespace ml {

std::vector<std::string> SplitServerMessageItems(std::string_view text) {
  std::vector<std::string> items;
  size_t p = 0;
  while (p < text.size()) {
    std::string item;
    if (text[p] == '|') {
      // Quoted: up to the next "|" that is not doubled, which also ends the item; an unclosed
      // quote runs to the end.
      for (++p; p < text.size();) {
        if (text[p] != '|') {
          item += text[p++];
        } else if (p + 1 < text.size() && text[p + 1] == '|') {
          item += '|';
          p += 2;
        } else {
          ++p;
          break;
        }
      }
    } else {
      const size_t end = std::min(text.find('|', p), text.size());
      item.assign(text.substr(p, end - p));
      p = end;
    }
    items.push_back(std::move(item));
    if (p < text.size() && text[p] == '|') {
      ++p;
      if (p == text.size()) items.emplace_back();  // a trailing separator ends with an empty item
    }
  }
  return items;
}

TServerMessage ParseServerMessage(std::string_view text) {
  TServerMessage m;
  bool seen[5] = {};
  std::string* fields[5] = {&m.Msg, &m.Link, nullptr, &m.UpUrl, &m.RefUrl};
  static constexpr const char* kNames[5] = {"msg", "link", "time", "upurl", "refurl"};
  for (const std::string& item : SplitServerMessageItems(text)) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    const std::string_view name = Trim(std::string_view(item).substr(0, eq));
    const std::string_view value = std::string_view(item).substr(eq + 1);
    for (int i = 0; i < 5; ++i) {
      if (seen[i] || !EqualsNoCase(name, kNames[i])) continue;
      seen[i] = true;
      if (fields[i]) fields[i]->assign(value);
      else m.TimeMs = ParseInt32Def(value, -1);
    }
  }
  return m;
}

}  // namespace ml
