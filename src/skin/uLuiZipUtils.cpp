#include "skin/uLuiZipUtils.h"

#include "base/StrUtil.h"

#include <zip.h>

#include <algorithm>
#include <memory>

namespace ml {

namespace {

std::string SlashName(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// A name that would land outside the folder the package is unpacked into, were it unpacked.
bool LeavesPackage(const std::string& name) {
  if (name.empty() || name[0] == '/' || (name.size() > 1 && name[1] == ':')) return true;
  size_t start = 0;
  for (;;) {
    const size_t slash = name.find('/', start);
    if (name.compare(start, slash == std::string::npos ? std::string::npos : slash - start, "..") == 0) return true;
    if (slash == std::string::npos) return false;
    start = slash + 1;
  }
}

}  // namespace

TZipFile::~TZipFile() { Close(); }

void TZipFile::Close() {
  if (zip_) zip_discard(zip_);
  zip_ = nullptr;
  names_.clear();
  sizes_.clear();
}

bool TZipFile::ReadArchive(std::string bytes) {
  Close();
  error_.clear();
  bytes_ = std::move(bytes);
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* source = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &err);
  // Without ZIP_CHECKCONS: it also refuses bytes after the archive, which packers and mail
  // programs leave; what an entry claims is checked when it is extracted instead.
  if (source) zip_ = zip_open_from_source(source, ZIP_RDONLY, &err);
  if (!zip_) {
    error_ = std::string("not a readable zip archive: ") + zip_error_strerror(&err);
    if (source) zip_source_free(source);
    zip_error_fini(&err);
    return false;
  }
  zip_error_fini(&err);
  const zip_int64_t count = zip_get_num_entries(zip_, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_, zip_uint64_t(i), ZIP_FL_ENC_RAW, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) {
      error_ = "entry " + std::to_string(i) + " cannot be read: " + zip_strerror(zip_);
      break;
    }
    const std::string name = SlashName(st.name);
    if (LeavesPackage(name)) {
      error_ = "entry \"" + name + "\" is named outside the package";
      break;
    }
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
      error_ = "entry \"" + name + "\" is encrypted";
      break;
    }
    names_.push_back(name);
    sizes_.push_back((st.valid & ZIP_STAT_SIZE) ? st.size : 0);
  }
  if (error_.empty()) return true;
  Close();
  return false;
}

std::string TZipFile::Extract(size_t index) const {
  if (index >= names_.size()) throw EZipError("Index out of range.");
  const std::string& name = names_[index];
  const uint64_t declared = sizes_[index];
  if (declared > kMaxEntryBytes)
    throw EZipError("\"" + name + "\" is " + std::to_string(declared) + " bytes, more than a skin's entry may be");
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen_index(zip_, index, 0), zip_fclose);
  if (!file) throw EZipError("\"" + name + "\" cannot be read: " + zip_strerror(zip_));
  // One byte more than declared shows an entry that would inflate past its size.
  std::string out(size_t(declared) + 1, '\0');
  uint64_t got = 0;
  while (got < out.size()) {
    const zip_int64_t n = zip_fread(file.get(), out.data() + got, out.size() - got);
    if (n < 0) {
      if (zip_error_code_zip(zip_file_get_error(file.get())) == ZIP_ER_CRC)
        throw EZipError("CRC Error in \"" + name + "\".");
      throw EZipError("\"" + name + "\" cannot be read: " + zip_file_strerror(file.get()));
    }
    if (n == 0) break;
    got += uint64_t(n);
  }
  if (got != declared)
    throw EZipError("\"" + name + "\" " + (got > declared ? "inflates past" : "is shorter than") +
                    " its declared size of " + std::to_string(declared) + " bytes");
  out.resize(size_t(got));
  return out;
}

bool TLuiSkinFileReader::Open(std::string bytes) {
  error_.clear();
  if (!zip_.ReadArchive(std::move(bytes))) {
    error_ = zip_.Error();
    return false;
  }
  for (size_t i = 0; i < zip_.Count(); ++i)
    if (EqualsNoCase(zip_.Name(i), kDefinitionName)) return true;
  error_ = std::string("the package holds no ") + kDefinitionName;
  return false;
}

std::optional<std::string> TLuiSkinFileReader::GetStream(const std::string& name) const {
  const std::string wanted = SlashName(name);
  for (size_t i = 0; i < zip_.Count(); ++i)
    if (EqualsNoCase(zip_.Name(i), wanted)) return zip_.Extract(i);
  return std::nullopt;
}

}  // namespace ml
