// The settings file: any bytes must load to sane values and save without fault.
#include "app/uSettingMgr.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/fuzz-settings-XXXXXX";
    return std::string(mkdtemp(tmpl)) + "/";
  }();
  const std::string file = dir + "minilirra.xml";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ml::TSettingMgr settings(file, ml::TSettingContext{dir, "minilirra", "t", "/x", nullptr});
  settings.Save();
  return 0;
}
