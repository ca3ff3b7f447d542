#pragma once
// Audio files the benchmarks time, made once by a shell recipe (sox, lame) and kept in /tmp
// between runs.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace mlbench {

inline std::string MadeOnce(const std::string& path, const std::string& recipe) {
  const std::string cmd = "test -s " + path + " || (" + recipe + ")";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot make %s\n", path.c_str());
  return path;
}

// ML_BENCH_MP3, or a 60-second stereo 128 kbit/s MP3.
inline const std::string& BenchFile() {
  static const std::string path =
      std::getenv("ML_BENCH_MP3")
          ? std::string(std::getenv("ML_BENCH_MP3"))
          : MadeOnce("/tmp/minilirra-bench-60s.mp3",
                     "sox -q -n -r 44100 -c 2 -b 16 /tmp/minilirra-bench-60s.wav synth 60 sine 220-880 sine 330-990 "
                     "gain -6 && lame --quiet --cbr -b 128 /tmp/minilirra-bench-60s.wav /tmp/minilirra-bench-60s.mp3 && "
                     "rm /tmp/minilirra-bench-60s.wav");
  return path;
}

}  // namespace mlbench
