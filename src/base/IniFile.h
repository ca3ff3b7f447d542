#pragma once
// INI files ("Update.ini", "LoginSave.bin", the registry stand-in). Section and key names match
// ignoring case; lines end in CR LF, LF or CR; a line without "=" is kept but is no key. The
// file's text is GBK unless it starts with a UTF-8 byte-order mark (or the file is created as
// UTF-8); the values handed out are always UTF-8, and saving keeps the file's encoding.
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace ml {

class IniFile {
public:
  enum class Encoding { Gbk, Utf8 };

  explicit IniFile(Encoding newFileEncoding = Encoding::Gbk) : encoding_(newFileEncoding) {}

  // Reads path. A missing or unreadable file leaves the object empty and returns false.
  bool Load(const std::string& path);
  void Parse(std::string_view bytes);
  std::string Serialize() const;
  // Atomic replace (temporary file and rename).
  bool Save(const std::string& path, mode_t mode = 0644, std::string* error = nullptr) const;

  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback = {}) const;
  int64_t ReadInteger(std::string_view section, std::string_view key, int64_t fallback) const;
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(std::string_view section) const;

  Encoding FileEncoding() const { return encoding_; }

private:
  struct Line {
    std::string key;  // empty with hasEquals false: a line kept as it stands
    std::string value;
    bool hasEquals;
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };
  const Section* Find(std::string_view section) const;
  Section& FindOrAdd(std::string_view section);
  const Line* FindKey(std::string_view section, std::string_view key) const;
  std::string Decode(std::string_view bytes) const;
  std::string Encode(std::string_view text) const;

  Encoding encoding_;
  bool bom_ = false;
  std::vector<Section> sections_;
};

}  // namespace ml
