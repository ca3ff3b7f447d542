#include "xml/XmlDocument.h"

#include "base/FileUtil.h"
#include "base/StrUtil.h"

#include <pugixml.hpp>

#include <cstdio>
#include <sstream>

namespace ml {
namespace {

// pugixml's defaults minus DOCTYPE handling: escapes (predefined entities and character
// references only), whitespace-only text dropped, line ends normalised.
constexpr unsigned ParseOptions = (pugi::parse_default | pugi::parse_embed_pcdata) & ~pugi::parse_doctype;

// Documents of this program are at most a few tens of megabytes (a large library).
constexpr uint64_t MaxDocumentBytes = 512ull * 1024 * 1024;

pugi::xml_node Of(pugi::xml_node_struct* n) { return pugi::xml_node(n); }

}  // namespace

std::string FormatXmlTime(XmlTime t) {
  using namespace std::chrono;
  auto day = floor<days>(t);
  year_month_day ymd{day};
  hh_mm_ss hms{t - day};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", int(ymd.year()),
                unsigned(ymd.month()), unsigned(ymd.day()), int(hms.hours().count()),
                int(hms.minutes().count()), int(hms.seconds().count()), int(hms.subseconds().count()));
  return buf;
}

std::optional<XmlTime> ParseXmlTime(std::string_view text) {
  using namespace std::chrono;
  int y, mo, d, h, mi, s, ms = 0;
  std::string str(Trim(text));
  char tail = 0;
  int n = std::sscanf(str.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &y, &mo, &d, &h, &mi, &s, &ms, &tail);
  if (n < 6) return std::nullopt;
  year_month_day ymd{year(y), month(unsigned(mo)), day(unsigned(d))};
  if (!ymd.ok() || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60 || ms < 0 || ms > 999)
    return std::nullopt;
  return XmlTime(sys_days(ymd)) + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
}

std::string TXmlNode::Name() const { return Of(node_).name(); }

std::ptrdiff_t TXmlNode::SourceOffset() const { return Of(node_).offset_debug(); }

TXmlNode TXmlNode::Child(std::string_view name) const {
  for (pugi::xml_node c = Of(node_).first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && EqualsNoCase(c.name(), name)) return TXmlNode(c.internal_object());
  return {};
}

TXmlNode TXmlNode::ChildByAttribute(std::string_view name, std::string_view attr, std::string_view value) const {
  for (pugi::xml_node c = Of(node_).first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && EqualsNoCase(c.name(), name) &&
        TXmlNode(c.internal_object()).Attribute(attr) == value)
      return TXmlNode(c.internal_object());
  return {};
}

std::vector<TXmlNode> TXmlNode::Children() const {
  std::vector<TXmlNode> out;
  for (pugi::xml_node c = Of(node_).first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element) out.push_back(TXmlNode(c.internal_object()));
  return out;
}

std::vector<TXmlNode> TXmlNode::Children(std::string_view name) const {
  std::vector<TXmlNode> out;
  for (pugi::xml_node c = Of(node_).first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && EqualsNoCase(c.name(), name)) out.push_back(TXmlNode(c.internal_object()));
  return out;
}

static pugi::xml_attribute FindAttribute(pugi::xml_node node, std::string_view attr) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
    if (EqualsNoCase(a.name(), attr)) return a;
  return {};
}

bool TXmlNode::HasAttribute(std::string_view attr) const { return static_cast<bool>(FindAttribute(Of(node_), attr)); }

std::string TXmlNode::Attribute(std::string_view attr, std::string_view fallback) const {
  pugi::xml_attribute a = FindAttribute(Of(node_), attr);
  return a ? std::string(a.value()) : std::string(fallback);
}

int64_t TXmlNode::AttributeInt(std::string_view attr, int64_t fallback) const {
  pugi::xml_attribute a = FindAttribute(Of(node_), attr);
  return a ? ParseIntDef(a.value(), fallback) : fallback;
}

void TXmlNode::SetAttribute(std::string_view attr, std::string_view value) {
  pugi::xml_attribute a = FindAttribute(Of(node_), attr);
  if (!a) a = Of(node_).append_attribute(std::string(attr).c_str());
  a.set_value(std::string(value).c_str());
}

void TXmlNode::SetAttribute(std::string_view attr, int64_t value) { SetAttribute(attr, std::to_string(value)); }

std::string TXmlNode::Value() const { return Of(node_).text().get(); }

int64_t TXmlNode::ValueInt(int64_t fallback) const { return ParseIntDef(Of(node_).text().get(), fallback); }

std::optional<XmlTime> TXmlNode::ValueTime() const { return ParseXmlTime(Of(node_).text().get()); }

void TXmlNode::SetValue(std::string_view text) { Of(node_).text().set(std::string(text).c_str()); }

void TXmlNode::SetValue(int64_t v) { SetValue(std::to_string(v)); }

void TXmlNode::SetValueTime(XmlTime t) { SetValue(FormatXmlTime(t)); }

TXmlNode TXmlNode::AddChild(std::string_view name) {
  return TXmlNode(Of(node_).append_child(std::string(name).c_str()).internal_object());
}

void TXmlNode::Remove() {
  if (node_ && Of(node_).parent()) Of(node_).parent().remove_child(Of(node_));
  node_ = nullptr;
}

TXmlDocument::TXmlDocument() : doc_(std::make_unique<pugi::xml_document>()) {}
TXmlDocument::~TXmlDocument() = default;
TXmlDocument::TXmlDocument(TXmlDocument&&) noexcept = default;
TXmlDocument& TXmlDocument::operator=(TXmlDocument&&) noexcept = default;

bool TXmlDocument::FinishLoad(const pugi::xml_parse_result& result, std::string* error, bool keepPartial) {
  errorOffset_ = result ? -1 : result.offset;
  if (result && doc_->document_element()) return true;
  if (error)
    *error = result ? std::string("no root element")
                    : std::string(result.description()) + " at byte " + std::to_string(result.offset);
  if (!keepPartial || !doc_->document_element()) doc_->reset();
  return false;
}

bool TXmlDocument::LoadFile(const std::string& path, std::string* error, bool keepPartial) {
  auto bytes = ReadFileBytes(path, MaxDocumentBytes);
  if (!bytes) {
    doc_->reset();
    errorOffset_ = 0;
    if (error) *error = "cannot read " + path;
    return false;
  }
  // Parsed in place: a large library is not copied a second time. The text must outlive the
  // document, so the document keeps it.
  doc_->reset();
  buffer_ = std::move(*bytes);
  return FinishLoad(doc_->load_buffer_inplace(buffer_.data(), buffer_.size(), ParseOptions, pugi::encoding_auto),
                    error, keepPartial);
}

bool TXmlDocument::LoadStream(std::istream& in, std::string* error) {
  std::ostringstream buf;
  buf << in.rdbuf();
  return LoadString(buf.str(), error);
}

bool TXmlDocument::LoadString(std::string_view text, std::string* error, bool keepPartial) {
  doc_->reset();
  buffer_.clear();
  return FinishLoad(doc_->load_buffer(text.data(), text.size(), ParseOptions, pugi::encoding_auto), error,
                    keepPartial);
}

void TXmlDocument::SaveStream(std::ostream& out) const {
  doc_->save(out, "  ", pugi::format_default | pugi::format_no_declaration, pugi::encoding_utf8);
}

std::string TXmlDocument::ToString() const {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  SaveStream(out);
  return out.str();
}

bool TXmlDocument::SaveFile(const std::string& path, std::string* error, unsigned mode, bool keepBackup) const {
  return WriteFileAtomic(path, ToString(), static_cast<mode_t>(mode), error, keepBackup);
}

TXmlNode TXmlDocument::Reset(std::string_view rootName) {
  doc_->reset();
  return TXmlNode(doc_->append_child(std::string(rootName).c_str()).internal_object());
}

TXmlNode TXmlDocument::Root() const { return TXmlNode(doc_->document_element().internal_object()); }

void TXmlDocument::Clear() {
  doc_->reset();
  buffer_.clear();
}

}  // namespace ml
