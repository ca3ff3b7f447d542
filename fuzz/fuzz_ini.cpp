// INI text (GBK or UTF-8 with BOM) from Update.ini, LoginSave.bin and the registry stand-in.
#include "base/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ml::IniFile ini;
  ini.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& section : ini.Sections())
    for (const auto& key : ini.Keys(section)) (void)ini.ReadInteger(section, key, 0);
  ml::IniFile again;
  again.Parse(ini.Serialize());
  return 0;
}
