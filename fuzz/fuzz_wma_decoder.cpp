// The WMA decoder over any bytes in memory: the ASF header, every packet's payloads, the objects
// put back together from their fragments, and libavcodec behind them. Unlike fuzz_decoders, each
// input is decoded to its end (inputs are capped at 64 KiB, a few seconds of WMA), then sought
// and read again, so a fault in a late packet or in the drain is reached too.
#include "media/MediaSource.h"
#include "playback/uWMADecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr uint32_t kBlock = 8192;

void ReadAll(ml::TDecoderModule& decoder, std::vector<uint8_t>& block, int maxBlocks) {
  for (int i = 0; i < maxBlocks; ++i) {
    uint32_t count = kBlock;
    const bool more = decoder.Read(block.data(), count);
    if (count > kBlock || count % 2) __builtin_trap();
    if (!more) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ml::TWMADecoder decoder;  // reused, as the engine reuses its decoders
  const std::string_view bytes(reinterpret_cast<const char*>(data), std::min(size, kMaxInput));
  if (!decoder.OpenSource(std::make_unique<ml::TMemorySource>(bytes), "fuzz")) return 0;
  std::vector<uint8_t> block(kBlock);
  ReadAll(decoder, block, 4096);
  for (float fraction : {0.5f, 0.999f, 0.0f}) {
    decoder.Seek(fraction);
    (void)decoder.GetPositionMs();
    ReadAll(decoder, block, 4);
  }
  decoder.Close();
  return 0;
}
