// A skin definition from anyone: the bytes packed as SkinResDef.xml in a stored zip entry (with
// its true CRC, so every input reaches the XML reader), the package read, and every query of
// every form and element asked. A bad colour or a missing image is an answer; a crash is not.
#include "skin/SkinElements.h"
#include "skin/uLuiSkinMgr.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Put16(std::string& s, uint32_t v) { s += char(v & 0xFF), s += char(v >> 8 & 0xFF); }
void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// One stored entry, its central directory record and the end record.
std::string StoredZip(const std::string& name, const std::string& data) {
  const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
  std::string z;
  auto header = [&](bool central) {
    Put32(z, central ? 0x02014B50 : 0x04034B50);
    if (central) Put16(z, 20);
    Put16(z, 20), Put16(z, 0), Put16(z, 0), Put16(z, 0), Put16(z, 0);
    Put32(z, crc), Put32(z, uint32_t(data.size())), Put32(z, uint32_t(data.size()));
    Put16(z, uint16_t(name.size())), Put16(z, 0);
    if (central) Put16(z, 0), Put16(z, 0), Put16(z, 0), Put32(z, 0), Put32(z, 0);
    z += name;
  };
  header(false);
  z += data;
  const uint32_t directory = uint32_t(z.size());
  header(true);
  const uint32_t directorySize = uint32_t(z.size()) - directory;
  Put32(z, 0x06054B50), Put16(z, 0), Put16(z, 0), Put16(z, 1), Put16(z, 1);
  Put32(z, directorySize), Put32(z, directory), Put16(z, 0);
  return z;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  ml::TLuiSkinManager skin;
  if (!skin.Load(StoredZip("SkinResDef.xml", std::string(reinterpret_cast<const char*>(data), size)))) return 0;
  ml::CheckSkin(skin);
  for (const ml::TSkinElement& e : ml::SkinElementTable()) {
    try {
      if (e.Element.empty()) {
        skin.GetForm(e.Form);
        continue;
      }
      skin.GetButton(e.Form, e.Element);
      skin.GetTrackBar(e.Form, e.Element);
      skin.GetLabel(e.Form, e.Element);
      skin.GetColors(e.Form, e.Element, e.Colors);
    } catch (const ml::ESkinError&) {
    } catch (const ml::EZipError&) {
    }
  }
  return 0;
}
