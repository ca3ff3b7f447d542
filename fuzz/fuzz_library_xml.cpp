// "MusicFiles.xml": any bytes either load as a library or are refused as not being one.
#include "MusicFileMgr.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz-library-" + std::to_string(getpid()) + ".xml";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  static ml::TMusicFileMgr mgr;
  try {
    mgr.Load(path);
    mgr.Save(path + ".out");
  } catch (const ml::EFileFormat&) {
    if (mgr.EntryCount() != 0) __builtin_trap();  // a refused file leaves the library empty
  }
  return 0;
}
