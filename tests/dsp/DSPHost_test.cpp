// The DSP plug-in host with real shared libraries: the test plug-in's modules (-6 dB, doubled
// frames, a hang, an Init that fails, a module that answers 0), the libraries the probe refuses,
// and our own stereo tools as the program finds them.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <numeric>
#include <vector>

#include "dsp/uDSPWrapper.h"

using namespace ml;

namespace {

enum TestModule { kHalf = 0, kDoubled = 1, kHang = 2, kInitFails = 3, kNegateZero = 4 };

std::vector<int16_t> Ramp(size_t samples) {
  std::vector<int16_t> v(samples);
  for (size_t i = 0; i < samples; ++i) v[i] = int16_t(int(i * 37 % 20001) - 10000);
  return v;
}

struct HostFixture : ::testing::Test {
  TDSPThreadedPluginList list;
  std::vector<std::string> dropped;
  void SetUp() override {
    list.Timeout = std::chrono::milliseconds(300);
    list.OnPluginDropped = [this](const std::string& m) { dropped.push_back(m); };
    list.SetDirectory(ML_TEST_DSP_PLUGINS);
  }
  // Runs a stereo 16-bit block of frames through the list with the given room (in frames).
  uint32_t Process(std::vector<int16_t>& pcm, uint32_t frames, uint32_t roomFrames) {
    pcm.resize(size_t(roomFrames) * 2);
    return list.ProcessBuffer(reinterpret_cast<uint8_t*>(pcm.data()), frames * 4, roomFrames * 4, false, 44100, 2, 16);
  }
};

TEST_F(HostFixture, FindsThePluginAndRefusesTheOthersWithAReason) {
  ASSERT_EQ(list.Count(), 1u);
  auto item = list.Item(0);
  EXPECT_EQ(item->PluginName(), "Host test plug-in");
  EXPECT_EQ(item->ModuleCount(), 5);
  EXPECT_EQ(item->ModuleName(kDoubled), "Doubled");
  EXPECT_EQ(item->ModuleName(9), "");
  EXPECT_EQ(list.IndexOf("dsp_testhost.so"), 0);
  EXPECT_EQ(list.IndexOf("testhost.so"), -1);

  std::map<std::string, std::string> refused;
  for (const TDSPRefusal& r : list.Refused()) refused[r.FileName.substr(r.FileName.rfind('/') + 1)] = r.Reason;
  ASSERT_EQ(refused.size(), 3u);
  EXPECT_NE(refused["dsp_oldversion.so"].find("version 0x10"), std::string::npos) << refused["dsp_oldversion.so"];
  EXPECT_NE(refused["dsp_noexport.so"].find("does not export winampDSPGetHeader2"), std::string::npos);
  EXPECT_NE(refused["dsp_nomodule.so"].find("has no module"), std::string::npos);

  // The same folder with a trailing slash is not scanned again: the item is the one loaded.
  list.SetDirectory(std::string(ML_TEST_DSP_PLUGINS) + "/");
  EXPECT_EQ(list.Item(0), item);
}

TEST_F(HostFixture, HalfIsExactlyHalfAndOnlyWhileEnabled) {
  std::vector<int16_t> pcm = Ramp(2000);
  const std::vector<int16_t> in = pcm;
  EXPECT_EQ(Process(pcm, 1000, 2000), 4000u) << "nothing enabled yet";
  EXPECT_TRUE(std::equal(in.begin(), in.end(), pcm.begin()));

  ASSERT_TRUE(list.StartPlugin(0, kHalf));
  EXPECT_EQ(list.Item(0)->ActiveModule(), kHalf);
  EXPECT_EQ(Process(pcm, 1000, 2000), 4000u);
  for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(pcm[i], in[i] / 2) << i;

  pcm.assign(in.begin(), in.end());
  EXPECT_EQ(list.ProcessBuffer(reinterpret_cast<uint8_t*>(pcm.data()), 4000, 8000, true, 44100, 2, 32), 4000u)
      << "a float block is left alone";
  EXPECT_TRUE(std::equal(in.begin(), in.end(), pcm.begin()));

  list.StopPlugin(0);
  EXPECT_EQ(list.Item(0)->ActiveModule(), -1);
  EXPECT_EQ(Process(pcm, 1000, 2000), 4000u);
  EXPECT_TRUE(std::equal(in.begin(), in.end(), pcm.begin()));
}

TEST_F(HostFixture, DoubledFramesAreClampedToTheRoom) {
  ASSERT_TRUE(list.StartPlugin(0, kDoubled));
  struct Case {
    uint32_t frames, room, want;
  } cases[] = {{1000, 2000, 2000}, {1000, 1500, 1500}, {1000, 1000, 1000}, {1, 2, 2}};
  for (const Case& c : cases) {
    std::vector<int16_t> pcm = Ramp(size_t(c.frames) * 2);
    const std::vector<int16_t> in = pcm;
    EXPECT_EQ(Process(pcm, c.frames, c.room), c.want * 4) << c.frames << " in a room of " << c.room;
    for (uint32_t f = 0; f < c.want; ++f) {
      ASSERT_EQ(pcm[f * 2], in[(f / 2) * 2]);
      ASSERT_EQ(pcm[f * 2 + 1], in[(f / 2) * 2 + 1]);
    }
  }
}

TEST_F(HostFixture, ZeroKeepsTheLengthAndAFailedInitStartsNothing) {
  ASSERT_TRUE(list.StartPlugin(0, kNegateZero));
  std::vector<int16_t> pcm = Ramp(200);
  const std::vector<int16_t> in = pcm;
  EXPECT_EQ(Process(pcm, 100, 200), 400u);
  for (size_t i = 0; i < 200; ++i) ASSERT_EQ(pcm[i], int16_t(-in[i]));

  EXPECT_FALSE(list.StartPlugin(0, kInitFails));
  EXPECT_FALSE(list.Item(0)->Enabled);
  EXPECT_EQ(list.Item(0)->ActiveModule(), -1);
  EXPECT_FALSE(list.StartPlugin(0, 7));
  EXPECT_FALSE(list.StartPlugin(5, 0));
}

// A module that never returns: the block comes back as it was after the time-out, the plug-in is
// switched off and reported once, and the host goes on without it.
TEST_F(HostFixture, AHangingPluginIsDroppedWithAMessage) {
  ASSERT_TRUE(list.StartPlugin(0, kHang));
  std::vector<int16_t> pcm = Ramp(200);
  const std::vector<int16_t> in = pcm;
  EXPECT_EQ(Process(pcm, 100, 200), 400u);
  EXPECT_TRUE(std::equal(in.begin(), in.end(), pcm.begin()));
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_NE(dropped[0].find("dsp_testhost.so"), std::string::npos) << dropped[0];
  EXPECT_NE(dropped[0].find("switched off"), std::string::npos) << dropped[0];
  EXPECT_TRUE(list.Item(0)->Hung());
  EXPECT_FALSE(list.Item(0)->Enabled);
  EXPECT_EQ(Process(pcm, 100, 200), 400u);
  EXPECT_FALSE(list.StartPlugin(0, kHalf));
  EXPECT_EQ(dropped.size(), 1u);
  list.Clear();  // does not wait for the plug-in that hangs
  EXPECT_EQ(list.Count(), 0u);
}

TEST(StereoTools, OurPluginSwapsAndHalves) {
  TDSPThreadedPluginList list;
  list.SetDirectory(ML_DSP_PLUGINS);
  const int index = list.IndexOf("dsp_stereo_tools.so");
  ASSERT_GE(index, 0);
  auto item = list.Item(size_t(index));
  EXPECT_EQ(item->PluginName(), "MiniLirra stereo tools");
  ASSERT_EQ(item->ModuleCount(), 4);
  ASSERT_TRUE(list.StartPlugin(size_t(index), 0));
  std::vector<int16_t> pcm{1, -2, 300, -400};
  EXPECT_EQ(list.ProcessBuffer(reinterpret_cast<uint8_t*>(pcm.data()), 8, 16, false, 44100, 2, 16), 8u);
  EXPECT_EQ(pcm, (std::vector<int16_t>{-2, 1, -400, 300}));
  ASSERT_TRUE(list.StartPlugin(size_t(index), 3));
  std::vector<int16_t> loud{20000, -20000, 100, -7};
  list.ProcessBuffer(reinterpret_cast<uint8_t*>(loud.data()), 8, 16, false, 44100, 2, 16);
  EXPECT_EQ(loud, (std::vector<int16_t>{32767, -32768, 200, -14}));
}

}  // namespace
