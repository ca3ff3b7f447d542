// INI text (GBK or UTF-8 with BOM) from Update.ini, LoginSave.bin and the registry stand-in.
#include "base/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ml::IniFile ini;
  ini.parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& section : ini.sections())
    for (const auto& key : ini.keys(section)) (void)ini.readInteger(section, key, 0);
  ml::IniFile again;
  again.parse(ini.serialize());
  return 0;
}
