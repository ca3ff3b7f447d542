// A skin package from anyone: the archive read, the definition looked up, every entry extracted.
// Refusals are exceptions of one kind (EZipError); anything else, a crash or an allocation past
// the entry bound is a finding.
#include "skin/uLuiZipUtils.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ml::TLuiSkinFileReader reader;
  reader.Open(std::string(reinterpret_cast<const char*>(data), size));
  for (size_t i = 0; i < reader.Zip().Count(); ++i) {
    try {
      reader.Zip().Extract(i);
    } catch (const ml::EZipError&) {
    }
  }
  return 0;
}
