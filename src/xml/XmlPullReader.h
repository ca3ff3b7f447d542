#pragma once
// A small pull reader for large, flat XML documents (the music library): one pass over the text,
// no tree. It understands elements, attributes, text with the predefined entities and character
// references, CDATA, comments, processing instructions and a DOCTYPE without internal subset;
// anything else, and any unbalanced or mismatched tag, is an error. Nothing is expanded beyond
// the predefined entities.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ml {

class EXmlPull : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TXmlPullReader {
public:
  enum class Token { Start, End, Text, Eof };
  struct Attribute {
    std::string_view Name;
    std::string Value;
  };

  explicit TXmlPullReader(std::string_view text);

  // The next token. Start leaves Name and Attributes set (a self-closing element is a Start
  // followed by its End); End leaves Name; Text leaves Text (decoded, never empty). Throws
  // EXmlPull on malformed text. At Eof every element has been closed.
  Token Next();
  std::string_view Name() const { return name_; }
  const std::vector<Attribute>& Attributes() const { return attributes_; }
  const std::string& Text() const { return text_; }
  size_t Depth() const { return stack_.size(); }
  const Attribute* FindAttribute(std::string_view name) const;

  // The common leaf inside an open element, read in one step: blanks, then "<a>text</a>",
  // "<a></a>" or "<a/>" with no attributes, comments or CDATA. Returns true and sets name and
  // text (valid until the next call) when that is what follows; otherwise consumes nothing and
  // returns false, and Next reads whatever it is.
  bool NextLeaf(std::string_view& name, std::string_view& text);

private:
  std::string_view ReadName();
  void SkipBlanks();
  void AppendDecoded(std::string& out, std::string_view raw);
  [[noreturn]] void Fail(const char* what) const;

  std::string_view text_in_;
  size_t pos_ = 0;
  std::vector<std::string_view> stack_;
  bool pendingEnd_ = false;
  bool rootSeen_ = false;
  std::string_view name_;
  std::vector<Attribute> attributes_;
  std::string text_;
};

}  // namespace ml
