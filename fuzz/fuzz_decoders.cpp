// The WAV and MPEG decoders over any bytes: open, read a bounded amount, seek, read again.
#include "playback/uMPEGDecoder.h"
#include "playback/uWAVDecoder.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Exercise(ml::TDecoderModule& decoder, const std::string& path) {
  if (!decoder.Open(path, false)) return;
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
  static const std::string path = "/tmp/fuzz-decoders-" + std::to_string(getpid());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ml::TWAVDecoder wav;
  Exercise(wav, path);
  ml::TMPEGDecoder mpeg;
  Exercise(mpeg, path);
  return 0;
}
