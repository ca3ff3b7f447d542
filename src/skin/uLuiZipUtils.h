#pragma once
// The skin package's archive: TZipFile reads a zip archive held in memory (through libzip: stored
// and deflated entries, data descriptors, zip64, comments and junk around the archive), and
// TLuiSkinFileReader finds a skin's entries in it by name, without regard to case, "\" read as
// "/". A package comes from anyone who shares a skin, so every entry is bounded: a name that
// leaves the package (".." or an absolute path) or an encrypted entry refuses the whole package;
// an entry declared larger than 64 MiB, or one that inflates past its declared size, is refused
// when it is extracted, and a damaged one fails its CRC check (stored entries too).
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct zip;

namespace ml {

class EZipError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TZipFile {
public:
  static constexpr uint64_t kMaxEntryBytes = uint64_t(64) << 20;

  TZipFile() = default;
  ~TZipFile();
  TZipFile(const TZipFile&) = delete;
  TZipFile& operator=(const TZipFile&) = delete;

  // Reads the archive's directory. False with Error() when the bytes are not a zip archive, its
  // directory is damaged, or an entry is encrypted or named outside the package.
  bool ReadArchive(std::string bytes);
  const std::string& Error() const { return error_; }
  size_t Count() const { return names_.size(); }
  // The entry's name, "\" read as "/".
  const std::string& Name(size_t index) const { return names_.at(index); }
  // The entry's bytes. Throws EZipError: "Index out of range.", an entry too large, one that
  // does not inflate to its declared size, "CRC Error in \"NAME\"."
  std::string Extract(size_t index) const;

private:
  void Close();

  std::string bytes_;  // libzip reads from here for as long as the archive is open
  zip* zip_ = nullptr;
  std::vector<std::string> names_;
  std::vector<uint64_t> sizes_;
  std::string error_;
};

class TLuiSkinFileReader {
public:
  static constexpr const char* kDefinitionName = "SkinResDef.xml";
  // True when the archive reads and holds the definition; else Error() says why.
  bool Open(std::string bytes);
  const std::string& Error() const { return error_; }
  // The entry's bytes, or none when no entry has that name. Throws EZipError as Extract does.
  std::optional<std::string> GetStream(const std::string& name) const;
  const TZipFile& Zip() const { return zip_; }

private:
  TZipFile zip_;
  std::string error_;
};

}  // namespace ml
