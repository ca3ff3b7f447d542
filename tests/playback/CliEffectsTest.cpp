// The effect options of minilirra-cli play and the spectrum command, on sines made by sox and
// judged by sox's own statistics of what came out.
#include "tests/playback/PlaybackFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace mltest;

namespace {

std::string Cli(const std::string& args, int* rc) {
  return RunCapture("'" + BinDir() + "/minilirra-cli' " + args + " 2>&1", rc);
}

// The RMS amplitude of one channel (1 or 2) of a WAV file, as sox measures it.
double Rms(const std::string& wav, int channel) {
  const std::string stat = RunCapture("sox '" + wav + "' -n remix " + std::to_string(channel) + " stat 2>&1");
  const size_t at = stat.find("RMS     amplitude:");
  return at == std::string::npos ? -1 : std::atof(stat.c_str() + at + 18);
}

struct CliEffects : ::testing::Test {
  TempDir dir;
  std::string in = dir.File("in.wav");
  void SetUp() override {
    // 1 kHz on the left, 3 kHz quieter on the right: the channels can be told apart.
    RunCapture("sox -q -n -r 44100 -b 16 '" + in + "' synth 2 sine 1000 sine 3000 remix 1v0.25 2v0.125");
  }
  std::string Play(const std::string& options, int* rc) {
    return Cli("play '" + in + "' --quiet --output wav:'" + dir.File("out.wav") + "' " + options, rc);
  }
};

TEST_F(CliEffects, EachOptionShapesTheSound) {
  const double left = Rms(in, 1), right = Rms(in, 2);
  ASSERT_GT(left, 0.1);
  struct Case {
    std::string options;
    double leftRatio, rightRatio;  // of the input's RMS, per channel
  } cases[] = {
      {"--preamp 12", 1.6, 1.6},
      {"--preamp -12", 0.4, 0.4},
      {"--eq 0", 1.0, 1.0},
      {"--eq 0,0,0,-20,-20,-20,0,0,0,0", 0.1, 1.0},  // 345 Hz to 2.15 kHz down; 3 kHz untouched
      {"--balance 0", 1.0, 1.0},  // a device's balance: a WAV file gets the song without it
      {"--dsp '" + BinDir() + "/Plugins/dsp_stereo_tools.so' --dsp-module 2", 0.5, 0.5},
  };
  for (const Case& c : cases) {
    int rc = -1;
    const std::string out = Play(c.options, &rc);
    ASSERT_EQ(rc, 0) << c.options << "\n" << out;
    EXPECT_NEAR(Rms(dir.File("out.wav"), 1) / left, c.leftRatio, 0.02) << c.options;
    EXPECT_NEAR(Rms(dir.File("out.wav"), 2) / right, c.rightRatio, 0.02) << c.options;
  }
  // The swap module: the left channel now carries the right's tone.
  int rc = -1;
  Play("--dsp '" + BinDir() + "/Plugins/dsp_stereo_tools.so'", &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_NEAR(Rms(dir.File("out.wav"), 1), right, 0.005);
  EXPECT_NEAR(Rms(dir.File("out.wav"), 2), left, 0.005);
  // 3D widens: the sides differ, so each grows.
  Play("--3d 100", &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_GT(Rms(dir.File("out.wav"), 1), left * 1.5);
}

TEST_F(CliEffects, WrongValuesAreRefusedWithAReason) {
  const std::string plugins = BinDir() + "/test-plugins/dsp/";
  struct Case {
    std::string options;
    int rc;
    const char* says;
  } cases[] = {
      {"--eq 19", 2, "there are presets 0 to 18"},
      {"--eq 1,2,3", 2, "ten band gains are needed"},
      {"--eq 0,0,0,0,0,0,0,0,0,21", 2, "from -20 to 20 dB"},
      {"--eq loud", 2, "a preset (0 to 18 or its name)"},
      {"--preamp 13", 2, "--preamp"},
      {"--3d 101", 2, "--3d"},
      {"--dsp '" + plugins + "dsp_oldversion.so'", 1, "interface version 0x10"},
      {"--dsp '" + plugins + "dsp_noexport.so'", 1, "does not export winampDSPGetHeader2"},
      {"--dsp '" + plugins + "dsp_missing.so'", 1, "no DSP plug-in at"},
      {"--dsp '" + plugins + "dsp_testhost.so' --dsp-module 3", 1, "did not start"},
      {"--dsp /etc/passwd", 1, "named dsp_*.so"},
  };
  for (const Case& c : cases) {
    int rc = -1;
    const std::string out = Play(c.options, &rc);
    EXPECT_EQ(rc, c.rc) << c.options << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.options << "\n" << out;
  }
  int rc = -1;
  EXPECT_EQ(Play("--eq 摇滚", &rc).find("error"), std::string::npos);
  EXPECT_EQ(rc, 0) << "a preset by its name";
}

// The equalizer, 3D and plug-ins the player saved are heard; an option given overrides them; a
// saved plug-in that is gone is said and skipped.
TEST_F(CliEffects, SavedEffectsApplyAndOptionsOverrideThem) {
  const std::string data = dir.File("data");
  RunCapture("mkdir -p '" + data + "'");
  WriteAll(data + "/minilirra.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<MiniLirra version="1.0">
  <Equalizer EQEnable="1" Preamp="12" EQBandsData="0,0,0,0,0,0,0,0,0,0"/>
  <Plugin PluginPath=")" + BinDir() + R"(/Plugins" ModulesCount="2" Module0="dsp_stereo_tools.so|2" Module1="dsp_gone.so|1"/>
</MiniLirra>)");
  const double left = Rms(in, 1);
  struct Case {
    std::string options;
    double leftRatio;
  } cases[] = {
      {"", 1.6 * 0.5},            // preamp 160 %, then the plug-in's -6 dB
      {"--preamp 0", 0.5},        // the option wins over the saved preamplifier
      {"--dsp '" + BinDir() + "/Plugins/dsp_stereo_tools.so' --dsp-module 3 --preamp -12", 0.4 * 2},
  };
  for (const Case& c : cases) {
    int rc = -1;
    const std::string out = Cli("--data-dir '" + data + "' play '" + in + "' --quiet --output wav:'" +
                                    dir.File("out.wav") + "' " + c.options, &rc);
    ASSERT_EQ(rc, 0) << c.options << "\n" << out;
    EXPECT_NE(out.find("saved DSP plug-in dsp_gone.so|1: no such DSP plug-in"), std::string::npos) << out;
    EXPECT_NEAR(Rms(dir.File("out.wav"), 1) / left, c.leftRatio, 0.02) << c.options;
  }
}

// A 2 kHz tone falls in column 8 of 32 (each 14700 / 1024 * 16 = 229.7 Hz wide).
TEST_F(CliEffects, SpectrumShowsTheTonesColumn) {
  const std::string tone = dir.File("tone.wav");
  RunCapture("sox -q -n -r 44100 -c 2 -b 16 '" + tone + "' synth 3 sine 2000 vol 0.5");
  int rc = -1;
  const std::string out = Cli("spectrum '" + tone + "' --at 1500 --json", &rc);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("\"loudest_column\": 8"), std::string::npos) << out;
  EXPECT_NE(out.find("\"at_ms\": 1500"), std::string::npos) << out;
  Cli("spectrum '" + tone + "' --at 3000", &rc);
  EXPECT_EQ(rc, 1) << "past the end";
}

}  // namespace
