#pragma once
// The small XML document model behind the settings file, the music library, the download
// history and the skin definition. Element names are found ignoring case; text is UTF-8 in and
// out. Loading expands no DTD and no entity beyond the five predefined ones and character
// references, so a hostile file cannot make it fetch or balloon anything.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
struct xml_node_struct;
class xml_document;
struct xml_parse_result;
}  // namespace pugi

namespace ml {

// A date-time as the documents write it: "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ" (UTC).
using XmlTime = std::chrono::sys_time<std::chrono::milliseconds>;
std::string FormatXmlTime(XmlTime t);
std::optional<XmlTime> ParseXmlTime(std::string_view text);

// A handle on one element; an empty handle answers every read with its default.
class TXmlNode {
public:
  TXmlNode() = default;

  explicit operator bool() const { return node_ != nullptr; }
  bool operator==(const TXmlNode& other) const { return node_ == other.node_; }
  std::string name() const;
  // Where the element started in the text it was loaded from; -1 when it was not loaded.
  std::ptrdiff_t sourceOffset() const;

  // First child element named name, ignoring case.
  TXmlNode child(std::string_view name) const;
  // First child element named name (ignoring case) whose attribute attr equals value.
  TXmlNode childByAttribute(std::string_view name, std::string_view attr, std::string_view value) const;
  std::vector<TXmlNode> children() const;
  std::vector<TXmlNode> children(std::string_view name) const;

  bool hasAttribute(std::string_view attr) const;
  std::string attribute(std::string_view attr, std::string_view fallback = {}) const;
  // An attribute that is missing or not a whole number in range gives fallback.
  int64_t attributeInt(std::string_view attr, int64_t fallback) const;
  void setAttribute(std::string_view attr, std::string_view value);
  void setAttribute(std::string_view attr, int64_t value);
  void setAttribute(std::string_view attr, const char* value) { setAttribute(attr, std::string_view(value)); }

  std::string value() const;
  int64_t valueInt(int64_t fallback) const;
  std::optional<XmlTime> valueTime() const;
  void setValue(std::string_view text);
  void setValue(int64_t v);
  void setValueTime(XmlTime t);

  TXmlNode addChild(std::string_view name);
  // Removes this element from its parent; the handle is empty afterwards.
  void remove();

private:
  friend class TXmlDocument;
  explicit TXmlNode(pugi::xml_node_struct* node) : node_(node) {}
  pugi::xml_node_struct* node_ = nullptr;
};

class TXmlDocument {
public:
  TXmlDocument();
  ~TXmlDocument();
  TXmlDocument(TXmlDocument&&) noexcept;
  TXmlDocument& operator=(TXmlDocument&&) noexcept;

  // Each load replaces the document; on failure the document is empty and error says why.
  // With keepPartial a document that breaks off (a truncated file) keeps the elements parsed
  // before the fault, and errorOffset() tells where the fault was.
  bool loadFile(const std::string& path, std::string* error = nullptr, bool keepPartial = false);
  bool loadStream(std::istream& in, std::string* error = nullptr);
  bool loadString(std::string_view text, std::string* error = nullptr, bool keepPartial = false);
  // Byte offset of the last load's fault, -1 when it succeeded.
  std::ptrdiff_t errorOffset() const { return errorOffset_; }

  // UTF-8 with the declaration version="1.0" encoding="UTF-8", indented. saveFile replaces the
  // file atomically; mode applies to the new file.
  bool saveFile(const std::string& path, std::string* error = nullptr, unsigned mode = 0644,
                bool keepBackup = false) const;
  void saveStream(std::ostream& out) const;
  std::string toString() const;

  TXmlNode root() const;
  // Clears the document and starts it with a root element.
  TXmlNode reset(std::string_view rootName);
  void clear();

private:
  bool finishLoad(const pugi::xml_parse_result& result, std::string* error, bool keepPartial);
  std::unique_ptr<pugi::xml_document> doc_;
  std::string buffer_;  // the text of an in-place parse
  std::ptrdiff_t errorOffset_ = -1;
};

}  // namespace ml
