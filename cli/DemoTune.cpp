#include "cli/DemoTune.h"

#include "base/ByteOrder.h"
#include "media/RiffWave.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace mlcli {

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

double NoteHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// A plucked note: a few harmonics with a fast attack and an exponential decay, panned.
void Pluck(std::vector<double>& left, std::vector<double>& right, double start, double length, int midi,
           double level, double pan) {
  const double hz = NoteHz(midi);
  const size_t from = static_cast<size_t>(start * kRate);
  const size_t count = static_cast<size_t>(length * kRate);
  const double partials[] = {1.0, 0.5, 0.25, 0.12};
  for (size_t i = 0; i < count && from + i < left.size(); ++i) {
    const double t = double(i) / kRate;
    const double env = std::min(1.0, t / 0.005) * std::exp(-t * 3.0) * std::min(1.0, (length - t) / 0.05);
    double v = 0;
    for (int k = 0; k < 4; ++k) v += partials[k] * std::sin(2 * kPi * hz * (k + 1) * t) * std::exp(-t * k * 1.5);
    v *= env * level;
    left[from + i] += v * (1.0 - pan);
    right[from + i] += v * pan;
  }
}

}  // namespace

std::string MakeDemoTuneWav() {
  const double beat = 0.25;  // eighth notes at 120 beats a minute
  // C, A minor, F, G: six eighths each, the melody walking the pentatonic scale.
  const int bass[] = {36, 33, 29, 31};
  const int melody[] = {72, 76, 79, 76, 74, 72, 69, 72, 76, 74, 72, 69,
                        65, 69, 72, 74, 72, 69, 67, 71, 74, 79, 76, 74};
  const double seconds = 24 * beat + 1.5;
  std::vector<double> left(static_cast<size_t>(seconds * kRate)), right(left.size());
  for (int c = 0; c < 4; ++c) {
    Pluck(left, right, c * 6 * beat, 6 * beat + 0.5, bass[c], 0.35, 0.5);
    Pluck(left, right, c * 6 * beat, 6 * beat, bass[c] + 19, 0.08, 0.5);  // a fifth above, softly
  }
  for (int i = 0; i < 24; ++i) {
    const double pan = 0.3 + 0.4 * ((i % 4) / 3.0);
    Pluck(left, right, i * beat, i == 23 ? 1.5 : beat * 2, melody[i], 0.22, pan);
  }
  // A little echo from the other side.
  const size_t delay = static_cast<size_t>(0.375 * kRate);
  for (size_t i = left.size(); i-- > delay;) {
    left[i] += 0.25 * right[i - delay];
    right[i] += 0.25 * left[i - delay];
  }
  std::string s = ml::WavFileHeader(2, kRate, 16, left.size() * 4);
  s.reserve(s.size() + left.size() * 4);
  for (size_t i = 0; i < left.size(); ++i) {
    for (double v : {left[i], right[i]}) {
      const auto q = static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32000));
      ml::AppendLE16(s, static_cast<uint16_t>(q));
    }
  }
  return s;
}

}  // namespace mlcli
