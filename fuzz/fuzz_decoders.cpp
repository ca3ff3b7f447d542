// Every decoder of the registry over any bytes, held in memory: open, read a few frames, seek
// to a few places, read again. The faults live in the headers and the first frames after an
// open or a jump, so each input decodes only that much (a hostile header may claim hours of
// audio, and a real-world seed of 200 KB would otherwise be decoded whole), which keeps the
// fuzzer at thousands of inputs a second.
#include "media/MediaSource.h"
#include "playback/DecoderRegistry.h"

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace {

// A little more than one MPEG frame of 16-bit stereo (1152 samples), so a block spans frames.
constexpr uint32_t kBlock = 6000;
constexpr int kBlocksAfterOpen = 4, kBlocksAfterSeek = 2;
// Only the start of an input is used: headers, a small tag and the first frames (a 320 kbit/s
// MP3 has seven in 8 KiB). Opening a stream without a VBR header walks every frame header to its
// end, resyncing byte by byte past each broken frame, and each seek walks again: with 32 KiB
// real-world seeds ran at about 440 inputs a second, with 8 KiB at about 1,100, at the same
// coverage. Tags too large for this are the tag readers' fuzzers' work.
constexpr size_t kMaxInput = 8 * 1024;

void ReadSome(ml::TDecoderModule& decoder, std::vector<uint8_t>& block, int blocks) {
  for (int i = 0; i < blocks; ++i) {
    uint32_t count = static_cast<uint32_t>(block.size());
    const bool more = decoder.Read(block.data(), count);
    if (count > block.size()) __builtin_trap();
    if (!more) return;
  }
}

void Exercise(ml::TDecoderModule& decoder, std::string_view bytes) {
  if (!decoder.OpenSource(std::make_unique<ml::TMemorySource>(bytes), "fuzz")) return;
  std::vector<uint8_t> block(kBlock);
  ReadSome(decoder, block, kBlocksAfterOpen);
  // The middle, the very end, and back to the start: the frame index is walked and searched.
  for (float fraction : {0.5f, 0.999f, 0.0f}) {
    decoder.Seek(fraction);
    (void)decoder.GetPositionMs();
    ReadSome(decoder, block, kBlocksAfterSeek);
  }
  decoder.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), std::min(size, kMaxInput));
  for (const ml::TDecoderEntry& entry : ml::DecoderRegistry()) {
    auto decoder = entry.Create();
    Exercise(*decoder, bytes);
  }
  return 0;
}
