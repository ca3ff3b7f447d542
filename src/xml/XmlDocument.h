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
  std::string Name() const;
  // Where the element started in the text it was loaded from; -1 when it was not loaded.
  std::ptrdiff_t SourceOffset() const;

  // First child element named name, ignoring case.
  TXmlNode Child(std::string_view name) const;
  // First child element named name (ignoring case) whose attribute attr equals value.
  TXmlNode ChildByAttribute(std::string_view name, std::string_view attr, std::string_view value) const;
  std::vector<TXmlNode> Children() const;
  std::vector<TXmlNode> Children(std::string_view name) const;

  bool HasAttribute(std::string_view attr) const;
  std::string Attribute(std::string_view attr, std::string_view fallback = {}) const;
  // An attribute that is missing or not a whole number in range gives fallback.
  int64_t AttributeInt(std::string_view attr, int64_t fallback) const;
  void SetAttribute(std::string_view attr, std::string_view value);
  void SetAttribute(std::string_view attr, int64_t value);
  void SetAttribute(std::string_view attr, const char* value) { SetAttribute(attr, std::string_view(value)); }

  std::string Value() const;
  int64_t ValueInt(int64_t fallback) const;
  std::optional<XmlTime> ValueTime() const;
  void SetValue(std::string_view text);
  void SetValue(int64_t v);
  void SetValueTime(XmlTime t);

  TXmlNode AddChild(std::string_view name);
  // Removes this element from its parent; the handle is empty afterwards.
  void Remove();

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
  // before the fault, and ErrorOffset() tells where the fault was.
  bool LoadFile(const std::string& path, std::string* error = nullptr, bool keepPartial = false);
  bool LoadStream(std::istream& in, std::string* error = nullptr);
  bool LoadString(std::string_view text, std::string* error = nullptr, bool keepPartial = false);
  // Byte offset of the last load's fault, -1 when it succeeded.
  std::ptrdiff_t ErrorOffset() const { return errorOffset_; }

  // UTF-8 with the declaration version="1.0" encoding="UTF-8", indented. saveFile replaces the
  // file atomically; mode applies to the new file.
  bool SaveFile(const std::string& path, std::string* error = nullptr, unsigned mode = 0644,
                bool keepBackup = false) const;
  void SaveStream(std::ostream& out) const;
  std::string ToString() const;

  TXmlNode Root() const;
  // Clears the document and starts it with a root element.
  TXmlNode Reset(std::string_view rootName);
  void Clear();

private:
  bool FinishLoad(const pugi::xml_parse_result& result, std::string* error, bool keepPartial);
  std::unique_ptr<pugi::xml_document> doc_;
  std::string buffer_;  // the text of an in-place parse
  std::ptrdiff_t errorOffset_ = -1;
};

}  // namespace ml
