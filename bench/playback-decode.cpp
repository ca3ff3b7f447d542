// Time to decode a whole MP3 to 16-bit PCM: our decoder (dither, channel handling, position)
// against the plainest libmad loop (rounding only). The file is ML_BENCH_MP3, or a 60-second
// stereo 128 kbit/s MP3 made with sox and lame.
// And the cost of a VBR file without a Xing header, whose length comes from walking every frame
// header: opening a 10 MB one in the decoder and in the tag reader.
#include "media/MPEGaudio.h"
#include "playback/uMPEGDecoder.h"

#include "bench/BenchFiles.h"

#include <benchmark/benchmark.h>
#include <mad.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using mlbench::BenchFile;
using mlbench::MadeOnce;

void BM_OurMPEGDecoder(benchmark::State& state) {
  std::vector<uint8_t> buf(16384);
  size_t bytes = 0;
  for (auto _ : state) {
    ml::TMPEGDecoder d;
    if (!d.Open(BenchFile(), false)) {
      state.SkipWithError("cannot open the file");
      return;
    }
    for (;;) {
      uint32_t n = static_cast<uint32_t>(buf.size());
      const bool more = d.Read(buf.data(), n);
      bytes += n;
      if (!more) break;
    }
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_OurMPEGDecoder)->Unit(benchmark::kMillisecond)->MinTime(2.0);

inline int16_t Round16(mad_fixed_t s) {
  s += 1L << (MAD_F_FRACBITS - 16);
  if (s >= MAD_F_ONE) s = MAD_F_ONE - 1;
  if (s < -MAD_F_ONE) s = -MAD_F_ONE;
  return static_cast<int16_t>(s >> (MAD_F_FRACBITS + 1 - 16));
}

void BM_RawLibmad(benchmark::State& state) {
  std::ifstream f(BenchFile(), std::ios::binary);
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(f)), {});
  data.resize(data.size() + MAD_BUFFER_GUARD);
  std::vector<int16_t> out(1152 * 2);
  size_t bytes = 0;
  for (auto _ : state) {
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, data.data(), data.size());
    for (;;) {
      if (mad_frame_decode(&frame, &stream) != 0) {
        if (MAD_RECOVERABLE(stream.error)) continue;
        break;
      }
      mad_synth_frame(&synth, &frame);
      const unsigned n = synth.pcm.length;
      for (unsigned i = 0; i < n; ++i) {
        out[2 * i] = Round16(synth.pcm.samples[0][i]);
        out[2 * i + 1] = Round16(synth.pcm.samples[synth.pcm.channels == 2 ? 1 : 0][i]);
      }
      bytes += n * 4;
      benchmark::DoNotOptimize(out.data());
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_RawLibmad)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A VBR stream without a Xing header (lame -t), repeated to 10 MB: a chain of about 40 000 frames.
const std::string& XinglessFile() {
  static const std::string path = MadeOnce(
      "/tmp/minilirra-bench-xingless-10mb.mp3",
      "sox -q -n -r 44100 -c 2 -b 16 /tmp/minilirra-bench-x.wav synth 60 sine 220-880 sine 330-990 gain -6 && "
      "lame --quiet -t -V 2 /tmp/minilirra-bench-x.wav /tmp/minilirra-bench-x.mp3 && rm /tmp/minilirra-bench-x.wav && "
      "for i in $(seq 1 40); do cat /tmp/minilirra-bench-x.mp3; done | head -c 10000000 "
      ">/tmp/minilirra-bench-xingless-10mb.mp3 && rm /tmp/minilirra-bench-x.mp3");
  return path;
}

void BM_OpenXinglessVbr10MB(benchmark::State& state) {
  int32_t duration = 0;
  for (auto _ : state) {
    ml::TMPEGDecoder d;
    if (!d.Open(XinglessFile(), false)) {
      state.SkipWithError("cannot open the file");
      return;
    }
    duration = d.CurrentFormat().DurationMs;
  }
  state.counters["duration_s"] = duration / 1000.0;
}
BENCHMARK(BM_OpenXinglessVbr10MB)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_TagsXinglessVbr10MB(benchmark::State& state) {
  double duration = 0;
  for (auto _ : state) {
    ml::TMPEGaudio tags;
    if (!tags.Read(XinglessFile())) {
      state.SkipWithError("cannot read the file");
      return;
    }
    duration = tags.Duration();
  }
  state.counters["duration_s"] = duration;
}
BENCHMARK(BM_TagsXinglessVbr10MB)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
