// bench_formats_decode FILE: decodes a whole file with the decoder the player would choose
// (WMA, or an input plug-in for Ogg Vorbis and FLAC) and throws the PCM away, printing the
// sample frames it got: one whole process, to be timed beside a reference decoder doing the same
// (bench/formats-compare.sh).
#include "playback/DecoderRegistry.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_formats_decode FILE\n");
    return 2;
  }
  const int row = ml::DecoderForExtension(argv[1]);
  if (row < 0) {
    std::fprintf(stderr, "no decoder claims %s\n", argv[1]);
    return 1;
  }
  auto decoder = ml::DecoderRegistry()[size_t(row)].Create();
  if (!decoder->Open(argv[1], false)) {
    std::fprintf(stderr, "cannot open %s: %s\n", argv[1], decoder->OpenError().c_str());
    return 1;
  }
  std::vector<uint8_t> block(16384);
  uint64_t bytes = 0;
  for (bool more = true; more;) {
    uint32_t n = static_cast<uint32_t>(block.size());
    more = decoder->Read(block.data(), n);
    bytes += n;
  }
  std::printf("%llu frames\n", static_cast<unsigned long long>(bytes / uint64_t(decoder->CurrentFormat().BlockAlign())));
  return 0;
}
