#include "xml/XmlPullReader.h"

#include "base/GbkText.h"

#include <cstring>

namespace ml {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
         c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

TXmlPullReader::TXmlPullReader(std::string_view text) : text_in_(text) {
  if (text_in_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
}

void TXmlPullReader::Fail(const char* what) const {
  throw EXmlPull(std::string(what) + " at byte " + std::to_string(pos_));
}

const TXmlPullReader::Attribute* TXmlPullReader::FindAttribute(std::string_view name) const {
  for (const auto& a : attributes_)
    if (a.Name.size() == name.size() && strncasecmp(a.Name.data(), name.data(), name.size()) == 0) return &a;
  return nullptr;
}

void TXmlPullReader::SkipBlanks() {
  while (pos_ < text_in_.size() && IsBlank(text_in_[pos_])) ++pos_;
}

std::string_view TXmlPullReader::ReadName() {
  const size_t start = pos_;
  while (pos_ < text_in_.size() && IsNameChar(text_in_[pos_])) ++pos_;
  if (pos_ == start) Fail("a name was expected");
  return text_in_.substr(start, pos_ - start);
}

// Text with the five predefined entities and character references decoded; any other "&name;"
// stays as it was written (no entity is ever expanded from a DTD).
void TXmlPullReader::AppendDecoded(std::string& out, std::string_view raw) {
  size_t i = 0;
  while (i < raw.size()) {
    const void* amp = std::memchr(raw.data() + i, '&', raw.size() - i);
    const size_t at = amp ? static_cast<size_t>(static_cast<const char*>(amp) - raw.data()) : raw.size();
    out.append(raw.data() + i, at - i);
    if (at == raw.size()) break;
    const size_t semi = raw.find(';', at);
    std::string_view ref = semi == std::string_view::npos || semi - at > 12 ? std::string_view()
                                                                              : raw.substr(at + 1, semi - at - 1);
    if (ref == "lt") out += '<';
    else if (ref == "gt") out += '>';
    else if (ref == "amp") out += '&';
    else if (ref == "quot") out += '"';
    else if (ref == "apos") out += '\'';
    else if (ref.size() >= 2 && ref[0] == '#') {
      const bool hex = ref[1] == 'x' || ref[1] == 'X';
      unsigned long cp = 0;
      bool ok = ref.size() > (hex ? 2u : 1u);
      for (size_t k = hex ? 2 : 1; ok && k < ref.size(); ++k) {
        const char c = ref[k];
        int v = (c >= '0' && c <= '9') ? c - '0'
              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10 : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) ok = false;
        else cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(v);
        if (cp > 0x10FFFF) ok = false;
      }
      if (ok && cp != 0 && !(cp >= 0xD800 && cp <= 0xDFFF)) AppendUtf8(out, static_cast<char32_t>(cp));
      else out.append(raw.substr(at, semi - at + 1));
    } else {
      out += '&';
      i = at + 1;
      continue;
    }
    i = semi + 1;
  }
}

bool TXmlPullReader::NextLeaf(std::string_view& name, std::string_view& text) {
  if (pendingEnd_ || stack_.empty()) return false;
  size_t p = pos_;
  const size_t size = text_in_.size();
  while (p < size && IsBlank(text_in_[p])) ++p;
  if (p + 1 >= size || text_in_[p] != '<') return false;
  const size_t nameStart = ++p;
  while (p < size && IsNameChar(text_in_[p])) ++p;
  if (p == nameStart || p >= size) return false;
  const std::string_view leafName = text_in_.substr(nameStart, p - nameStart);
  if (text_in_[p] == '/') {
    if (p + 1 >= size || text_in_[p + 1] != '>') return false;
    pos_ = p + 2;
    name = leafName;
    text = {};
    return true;
  }
  if (text_in_[p] != '>') return false;
  const size_t textStart = ++p;
  const void* lt = std::memchr(text_in_.data() + p, '<', size - p);
  if (!lt) return false;
  const size_t textEnd = static_cast<size_t>(static_cast<const char*>(lt) - text_in_.data());
  // The end tag must follow at once and close this very element.
  p = textEnd;
  if (p + 2 + leafName.size() >= size || text_in_[p + 1] != '/' ||
      text_in_.compare(p + 2, leafName.size(), leafName) != 0 || text_in_[p + 2 + leafName.size()] != '>')
    return false;
  pos_ = p + 3 + leafName.size();
  name = leafName;
  const std::string_view raw = text_in_.substr(textStart, textEnd - textStart);
  if (std::memchr(raw.data(), '&', raw.size())) {
    text_.clear();
    AppendDecoded(text_, raw);
    text = text_;
  } else {
    text = raw;
  }
  return true;
}

TXmlPullReader::Token TXmlPullReader::Next() {
  if (pendingEnd_) {
    pendingEnd_ = false;
    stack_.pop_back();
    return Token::End;
  }
  text_.clear();
  for (;;) {
    if (pos_ >= text_in_.size()) {
      if (!stack_.empty() || !rootSeen_) Fail("the document ends early");
      return Token::Eof;
    }
    if (text_in_[pos_] != '<') {
      const void* lt = std::memchr(text_in_.data() + pos_, '<', text_in_.size() - pos_);
      const size_t end = lt ? static_cast<size_t>(static_cast<const char*>(lt) - text_in_.data()) : text_in_.size();
      std::string_view raw = text_in_.substr(pos_, end - pos_);
      pos_ = end;
      if (stack_.empty()) {
        for (char c : raw)
          if (!IsBlank(c)) Fail("text outside the root element");
        continue;
      }
      AppendDecoded(text_, raw);
      if (pos_ < text_in_.size() && text_in_.compare(pos_, 9, "<![CDATA[") == 0) continue;
      return Token::Text;
    }
    auto skipPast = [&](std::string_view close) {
      const size_t end = text_in_.find(close, pos_);
      if (end == std::string_view::npos) Fail("an unterminated markup declaration");
      pos_ = end + close.size();
    };
    // Most tags are plain start and end tags: look at the character after "<" before comparing.
    const char kind = pos_ + 1 < text_in_.size() ? text_in_[pos_ + 1] : '\0';
    if (kind == '!' && text_in_.compare(pos_, 4, "<!--") == 0) {
      skipPast("-->");
      continue;
    }
    if (kind == '?') {
      skipPast("?>");
      continue;
    }
    if (kind == '!' && text_in_.compare(pos_, 9, "<![CDATA[") == 0) {
      if (stack_.empty()) Fail("CDATA outside the root element");
      const size_t start = pos_ + 9;
      skipPast("]]>");
      text_.append(text_in_.substr(start, pos_ - 3 - start));
      if (pos_ < text_in_.size() && text_in_[pos_] != '<') continue;  // more text follows
      return Token::Text;
    }
    if (kind == '!') {
      // A DOCTYPE is skipped; an internal subset (entity declarations) is refused outright.
      const size_t end = text_in_.find('>', pos_);
      if (end == std::string_view::npos) Fail("an unterminated declaration");
      if (text_in_.substr(pos_, end - pos_).find('[') != std::string_view::npos) Fail("a DTD subset");
      pos_ = end + 1;
      continue;
    }
    if (kind == '/') {
      pos_ += 2;
      name_ = ReadName();
      SkipBlanks();
      if (pos_ >= text_in_.size() || text_in_[pos_] != '>') Fail("a broken end tag");
      ++pos_;
      if (stack_.empty() || stack_.back() != name_) Fail("an end tag that closes nothing open");
      stack_.pop_back();
      return Token::End;
    }
    ++pos_;
    name_ = ReadName();
    if (stack_.empty() && rootSeen_) Fail("a second root element");
    attributes_.clear();
    for (;;) {
      const size_t before = pos_;
      SkipBlanks();
      if (pos_ >= text_in_.size()) Fail("an unterminated start tag");
      if (text_in_[pos_] == '>') {
        ++pos_;
        break;
      }
      if (text_in_.compare(pos_, 2, "/>") == 0) {
        pos_ += 2;
        pendingEnd_ = true;
        break;
      }
      if (pos_ == before) Fail("attributes must be separated by blanks");
      Attribute a;
      a.Name = ReadName();
      SkipBlanks();
      if (pos_ >= text_in_.size() || text_in_[pos_] != '=') Fail("an attribute without a value");
      ++pos_;
      SkipBlanks();
      if (pos_ >= text_in_.size() || (text_in_[pos_] != '"' && text_in_[pos_] != '\'')) Fail("an unquoted value");
      const char quote = text_in_[pos_++];
      const size_t end = text_in_.find(quote, pos_);
      if (end == std::string_view::npos) Fail("an unterminated value");
      std::string_view raw = text_in_.substr(pos_, end - pos_);
      if (raw.find('<') != std::string_view::npos) Fail("a '<' inside a value");
      AppendDecoded(a.Value, raw);
      pos_ = end + 1;
      attributes_.push_back(std::move(a));
    }
    rootSeen_ = true;
    stack_.push_back(name_);
    return Token::Start;
  }
}

}  // namespace ml
