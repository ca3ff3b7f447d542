// Every decoder of the registry over any bytes, held in memory: open, read a bounded amount,
// seek, read again.
#include "media/MediaSource.h"
#include "playback/DecoderRegistry.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace {

void Exercise(ml::TDecoderModule& decoder, std::string_view bytes) {
  if (!decoder.OpenSource(std::make_unique<ml::TMemorySource>(bytes), "fuzz")) return;
  std::vector<uint8_t> block(16384);
  // A bounded number of blocks: a hostile header may claim hours of audio.
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < 64; ++i) {
      uint32_t count = static_cast<uint32_t>(block.size());
      bool more = decoder.Read(block.data(), count);
      if (count > block.size()) __builtin_trap();
      if (!more) break;
    }
    decoder.Seek(0.5f);
    (void)decoder.GetPositionMs();
  }
  decoder.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const ml::TDecoderEntry& entry : ml::DecoderRegistry()) {
    auto decoder = entry.Create();
    Exercise(*decoder, bytes);
  }
  return 0;
}
