#include "base/IniFile.h"

#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"

#include <algorithm>

namespace ml {

// INI files of this program are small; anything larger is not one of ours.
static constexpr uint64_t MaxIniBytes = 16 * 1024 * 1024;

bool IniFile::Load(const std::string& path) {
  sections_.clear();
  auto bytes = ReadFileBytes(path, MaxIniBytes);
  if (!bytes) return false;
  Parse(*bytes);
  return true;
}

void IniFile::Parse(std::string_view bytes) {
  sections_.clear();
  std::string_view body = StripUtf8Bom(bytes);
  bom_ = body.size() != bytes.size();
  if (bom_) encoding_ = Encoding::Utf8;
  Section* current = nullptr;
  for (std::string_view raw : SplitLines(body)) {
    std::string line = Decode(raw);
    std::string_view t = Trim(line);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      sections_.push_back({std::string(Trim(t.substr(1, t.size() - 2))), {}});
      current = &sections_.back();
      continue;
    }
    if (!current) continue;  // text before the first section belongs to no key
    size_t eq = line.find('=');
    if (eq == std::string::npos || Trim(std::string_view(line).substr(0, eq)).empty()) {
      current->lines.push_back({line, {}, false});
    } else {
      current->lines.push_back({std::string(Trim(std::string_view(line).substr(0, eq))),
                                std::string(std::string_view(line).substr(eq + 1)), true});
    }
  }
}

std::string IniFile::Serialize() const {
  std::string text;
  if (bom_) text = "\xEF\xBB\xBF";
  for (const auto& s : sections_) {
    text += Encode("[" + s.name + "]") + "\r\n";
    for (const auto& l : s.lines)
      text += Encode(l.hasEquals ? l.key + "=" + l.value : l.key) + "\r\n";
    text += "\r\n";
  }
  return text;
}

bool IniFile::Save(const std::string& path, mode_t mode, std::string* error) const {
  return WriteFileAtomic(path, Serialize(), mode, error);
}

std::string IniFile::Decode(std::string_view bytes) const {
  return encoding_ == Encoding::Utf8 ? std::string(bytes) : GbkToUtf8(bytes);
}

std::string IniFile::Encode(std::string_view text) const {
  return encoding_ == Encoding::Utf8 ? std::string(text) : Utf8ToGbk(text);
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  for (const auto& s : sections_)
    if (EqualsNoCase(s.name, section)) return &s;
  return nullptr;
}

IniFile::Section& IniFile::FindOrAdd(std::string_view section) {
  for (auto& s : sections_)
    if (EqualsNoCase(s.name, section)) return s;
  sections_.push_back({std::string(section), {}});
  return sections_.back();
}

const IniFile::Line* IniFile::FindKey(std::string_view section, std::string_view key) const {
  const Section* s = Find(section);
  if (!s) return nullptr;
  for (const auto& l : s->lines)
    if (l.hasEquals && EqualsNoCase(l.key, key)) return &l;
  return nullptr;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const {
  const Line* l = FindKey(section, key);
  return l ? l->value : std::string(fallback);
}

int64_t IniFile::ReadInteger(std::string_view section, std::string_view key, int64_t fallback) const {
  const Line* l = FindKey(section, key);
  return l ? ParseIntDef(l->value, fallback) : fallback;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Section& s = FindOrAdd(section);
  for (auto& l : s.lines)
    if (l.hasEquals && EqualsNoCase(l.key, key)) {
      l.value = std::string(value);
      return;
    }
  s.lines.push_back({std::string(key), std::string(value), true});
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool IniFile::SectionExists(std::string_view section) const { return Find(section) != nullptr; }

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindKey(section, key) != nullptr;
}

void IniFile::EraseSection(std::string_view section) {
  std::erase_if(sections_, [&](const Section& s) { return EqualsNoCase(s.name, section); });
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  for (auto& s : sections_)
    if (EqualsNoCase(s.name, section))
      std::erase_if(s.lines, [&](const Line& l) { return l.hasEquals && EqualsNoCase(l.key, key); });
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> names;
  for (const auto& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* s = Find(section))
    for (const auto& l : s->lines)
      if (l.hasEquals) names.push_back(l.key);
  return names;
}

}  // namespace ml
