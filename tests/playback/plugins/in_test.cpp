// Input plug-ins that misbehave in the ways the host must survive, one library per IN_TEST_MODE:
//   TONE      plays files that start with "TONE <ms>": 44.1 kHz stereo, the frame number as the
//             left sample and its negation as the right, written in blocks of 1111 frames (25.19 ms,
//             a length that rounding per block would drift on), through the DSP hook
//   STALL     TONE that stops writing for 1.5 s after half a second
//   DEEP      opens the output with 24-bit samples and fails Play when refused
//   RATE0     opens the output at 0 Hz and fails Play when refused
//   FAIL      Play always fails
//   MUTE      Play succeeds but the output is never opened
//   SELFPLAY  says it plays by itself (UsesOutputPlug 0)
//   NOENTRY   has no module entry point at all
#include "plugins/common/PluginPlayback.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#define IN_TEST_IS(m) (IN_TEST_MODE == IN_TEST_##m)
#define IN_TEST_TONE 1
#define IN_TEST_STALL 2
#define IN_TEST_DEEP 3
#define IN_TEST_FAIL 4
#define IN_TEST_MUTE 5
#define IN_TEST_SELFPLAY 6
#define IN_TEST_NOENTRY 7
#define IN_TEST_RATE0 8

namespace {

constexpr int kRate = 44100;
constexpr int kBlockFrames = 1111;

In_Module* g_module = nullptr;

class TToneSource final : public mlplugin::TPluginSource {
public:
  explicit TToneSource(int lengthMs) : frames_(int64_t(lengthMs) * kRate / 1000), lengthMs_(lengthMs) {}
  int SampleRate() const override { return kRate; }
  int Channels() const override { return 2; }
  int LengthMs() const override { return lengthMs_; }
  int BitRateKbps() const override { return 1411; }
  bool Decode(std::vector<int16_t>& out) override {
    if (at_ >= frames_) return false;
#if IN_TEST_IS(STALL)
    if (!stalled_ && at_ >= kRate / 2) {
      stalled_ = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
#endif
    const int n = static_cast<int>(std::min<int64_t>(kBlockFrames, frames_ - at_));
    out.resize(size_t(n) * 2 * 2);  // room for a DSP that lengthens
    for (int i = 0; i < n; ++i) {
      out[size_t(i) * 2] = static_cast<int16_t>((at_ + i) & 0x7FFF);
      out[size_t(i) * 2 + 1] = static_cast<int16_t>(-((at_ + i) & 0x7FFF));
    }
    at_ += n;
    // Called whether or not a DSP is active: the host's stub must hand back the count it got.
    const int kept = g_module->dsp_dosamples(out.data(), n, 16, 2, kRate);
    out.resize(size_t(std::max(kept, 0)) * 2);
    return true;
  }
  bool SeekMs(int ms) override {
    at_ = std::min<int64_t>(int64_t(ms) * kRate / 1000, frames_);
    return true;
  }

private:
  int64_t frames_, at_ = 0;
  int lengthMs_;
  bool stalled_ = false;
};

[[maybe_unused]] std::unique_ptr<mlplugin::TPluginSource> OpenTone(const char* path) {
  std::ifstream in(path);
  std::string word;
  int ms = 0;
  if (!(in >> word >> ms) || word != "TONE" || ms <= 0) return nullptr;
  return std::make_unique<TToneSource>(ms);
}

[[maybe_unused]] int PlayFails(const char*) { return 1; }
[[maybe_unused]] int PlayWithoutOutput(const char*) { return 0; }
[[maybe_unused]] int PlayDeep(const char*) { return g_module->outMod->Open(kRate, 2, 24, -1, -1) < 0 ? 1 : 0; }
[[maybe_unused]] int PlayRateZero(const char*) { return g_module->outMod->Open(0, 2, 16, -1, -1) < 0 ? 1 : 0; }

}  // namespace

#if !IN_TEST_IS(NOENTRY)
extern "C" __attribute__((visibility("default"))) In_Module* winampGetInModule2() {
  if (!g_module) {
    g_module = &mlplugin::DefineInputModule(IN_TEST_NAME, IN_TEST_EXT "\0Test files\0", OpenTone);
#if IN_TEST_IS(FAIL)
    g_module->Play = PlayFails;
#elif IN_TEST_IS(MUTE)
    g_module->Play = PlayWithoutOutput;
#elif IN_TEST_IS(DEEP)
    g_module->Play = PlayDeep;
#elif IN_TEST_IS(RATE0)
    g_module->Play = PlayRateZero;
#elif IN_TEST_IS(SELFPLAY)
    g_module->UsesOutputPlug = 0;
#endif
  }
  return g_module;
}
#endif
