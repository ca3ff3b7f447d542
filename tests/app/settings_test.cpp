#include "base/Registry.h"
#include "tests/support/TestSupport.h"
#include "app/uFileAssociation.h"
#include "app/uSettingMgr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

using namespace ml;

namespace {

struct SettingsFixture : ::testing::Test {
  mltest::TempDir dir;
  std::string appDir = dir.Path().string() + "/";
  std::string file = appDir + "minilirra.xml";
  TRegistryStore registry{appDir};

  TSettingContext Context() { return {appDir, "minilirra", "迷你琴鸟", "/opt/minilirra/minilirra", &registry}; }
  void Write(const std::string& xml) { mltest::WriteAll(file, xml); }
  std::string Saved(TSettingMgr& s) {
    EXPECT_TRUE(s.Save());
    return mltest::ReadAll(file);
  }
};

}  // namespace

TEST_F(SettingsFixture, MissingFileGivesSectionDefaultsAndRoundTrips) {
  std::string first;
  {
    TSettingMgr s(file, Context());
    EXPECT_EQ(s.DefaultDownPath, appDir + "Music/");
    EXPECT_EQ(s.LRCSavePath, appDir + "Lyric/");
    EXPECT_EQ(s.Volume, 100);
    EXPECT_TRUE(s.PlayListFormVisible);  // section default, not the key default
    EXPECT_FALSE(s.AutoSaveLRCModify);
    EXPECT_TRUE(s.AssociatesEnabled);
    EXPECT_EQ(s.AssociatedExts.size(), 8u);
    EXPECT_GE(s.DownPort, 20000);
    EXPECT_LE(s.DownPort, 29999);
    EXPECT_EQ(s.KeyMaps[20], (THotKeyMap{"重新排列播放器窗口", 16471, 49239}));
    EXPECT_EQ(s.LRCFontInfo, TFontInfo{});
    EXPECT_EQ(s.LRCTextColor, 39270u);
    EXPECT_EQ(s.PlayListMgrWidth, 90);
    EXPECT_EQ(s.SOEMUrl, TSettingMgr::DefaultWebPage(0));
    first = Saved(s);
  }
  TSettingMgr again(file, Context());
  EXPECT_EQ(Saved(again), first) << "save, load and save again gives the same file";
  EXPECT_NE(first.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), std::string::npos);
  EXPECT_NE(first.find("<minilirra version=\"1.0\">"), std::string::npos);
  struct stat st{};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file can hold the proxy password";
}

TEST_F(SettingsFixture, ChangedValuesSurviveSaveAndLoad) {
  {
    TSettingMgr s(file, Context());
    s.Volume = 37;
    s.MainFormRect = {1, 2, 300, 400};
    s.EQBandsData = {1, -2, 3, 4, 5, 6, 7, 8, 9, -10};
    s.LRCFontInfo = {"文泉驿", 12, true, false, true, false};
    s.PluginModules = {"dsp_echo.so|0", "dsp_x.so|2"};
    s.ProxyAddr = "127.0.0.1";
    s.ProxyPwd = "密码";
    s.KeyMaps[3].GlobalKey = 0;
    s.AdjustColor = 0x0080FF;  // red 255, green 128, blue 0
    s.AssociatedExts = {"MP3", "OGG"};
  }
  TSettingMgr s(file, Context());
  EXPECT_EQ(s.Volume, 37);
  EXPECT_EQ(s.MainFormRect, (TRect{1, 2, 300, 400}));
  EXPECT_EQ(s.EQBandsData[9], -10);
  EXPECT_EQ(s.LRCFontInfo, (TFontInfo{"文泉驿", 12, true, false, true, false}));
  EXPECT_EQ(s.PluginModules, (std::vector<std::string>{"dsp_echo.so|0", "dsp_x.so|2"}));
  EXPECT_EQ(s.ProxyPwd, "密码");
  EXPECT_EQ(s.KeyMaps[3].GlobalKey, 0);
  EXPECT_EQ(s.AdjustColor, 0x0080FFu);
  EXPECT_EQ(s.AssociatedExts, (std::vector<std::string>{"MP3", "OGG"}));
  EXPECT_NE(mltest::ReadAll(file).find("AdjustColor=\"#FF8000\""), std::string::npos);
}

TEST_F(SettingsFixture, HandWrittenFileGetsKeyAndSectionDefaults) {
  Write(R"(<?xml version="1.0" encoding="UTF-8"?>
<MiniLirra version="1.0">
  <player Volume="55" MainFormRect="0" MiniFormRect="10,20" PlayListFormRect="5,x,7"/>
  <LYRIC LRCBlendValue="8" LRCFontInfo="Arial, big, [Bold]"/>
  <Equalizer EQBandsData="1,2,3"/>
  <associates Enabled="1"/>
  <HotKey KeyMap5="" KeyMap6="加大|77" KeyMap7="x|1|2|3"/>
  <Network DownPort="0" ProxyUser="a한b" ProxyPort="1080"/>
  <Misc DefaultDownPath="/music/한국/"/>
</MiniLirra>)");
  TSettingMgr s(file, Context());
  EXPECT_EQ(s.Volume, 55);
  EXPECT_FALSE(s.PlayListFormVisible) << "key default inside a present section";
  EXPECT_TRUE(s.MainFormRect.IsEmpty());
  EXPECT_EQ(s.MiniFormRect, (TRect{10, 20, 0, 0}));
  EXPECT_EQ(s.PlayListFormRect, (TRect{5, 0, 7, 0}));
  EXPECT_TRUE(s.AutoSaveLRCModify) << "key default 1";
  EXPECT_EQ(s.LRCBlendValue, 8);
  EXPECT_EQ(s.LRCFontInfo, TFontInfo{}) << "a size that is not a number falls back to the default font";
  EXPECT_EQ(s.EQBandsData, (std::array<int32_t, 10>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(s.AssociatedExts.size(), 8u) << "enabled with no children takes the default list";
  EXPECT_EQ(s.KeyMaps[5], TSettingMgr::DefaultKeyMaps()[5]);
  EXPECT_EQ(s.KeyMaps[6], (THotKeyMap{"加大", 77, 0}));
  EXPECT_EQ(s.KeyMaps[7], (THotKeyMap{"x", 1, 0})) << "the text after the second | is not a number";
  EXPECT_GE(s.DownPort, 20000);
  EXPECT_EQ(s.ProxyUser, "a?b") << "sent as GBK, so held as GBK can hold it";
  EXPECT_EQ(s.DefaultDownPath, "/music/한국/") << "paths never pass through GBK";
  EXPECT_EQ(s.ProxyPort, 1080);
  EXPECT_TRUE(s.TaskBarScrollText) << "General missing: section default";
  const int32_t port = s.DownPort;
  ASSERT_TRUE(s.Save());
  TSettingMgr reread(file, Context());
  EXPECT_EQ(reread.DownPort, port) << "the random port is kept";
}

TEST_F(SettingsFixture, TruncatedFileKeepsWhatWasReadableAndIsBackedUp) {
  const std::string full = R"(<?xml version="1.0" encoding="UTF-8"?>
<minilirra version="1.0">
  <Misc DefaultDownPath="/data/songs/"/>
  <Player Mute="1" Volume="42" PlayListFormVisible="0" EQFormVisible="1"/>
  <Equalizer EQEnable="1" Preamp="7"/>
  <Lyric LRCSavePath="/data/lyrics/" AutoShowLRC="0" LRCBlendValue="5"/>
  <Network DownPort="23456"/>
</minilirra>)";
  const std::string damaged = full.substr(0, full.find("LRCBlendValue") + 5);
  Write(damaged);
  {
    TSettingMgr s(file, Context());
    EXPECT_EQ(s.DefaultDownPath, "/data/songs/");
    EXPECT_TRUE(s.Mute);
    EXPECT_EQ(s.Volume, 42);
    EXPECT_TRUE(s.EQEnable);
    EXPECT_EQ(s.Preamp, 7);
    // The cut-off Lyric element and everything after it get section defaults, not zeros.
    EXPECT_EQ(s.LRCSavePath, appDir + "Lyric/");
    EXPECT_TRUE(s.AutoShowLRC);
    EXPECT_EQ(s.LRCBlendValue, 3);
    EXPECT_EQ(s.LRCTextColor, 39270u);
    EXPECT_GE(s.DownPort, 20000);
    EXPECT_EQ(s.KeyMaps[1], TSettingMgr::DefaultKeyMaps()[1]);
    EXPECT_EQ(mltest::ReadAll(file + ".bak"), damaged) << "the damaged file is kept";
  }
  TSettingMgr after(file, Context());  // the destructor above saved
  EXPECT_EQ(after.Volume, 42);
  EXPECT_TRUE(after.Mute);
  EXPECT_EQ(after.MagneticSize, 10);
}

TEST_F(SettingsFixture, BadTintLeavesZeroAndKeepsEverythingElse) {
  struct Case { const char* text; uint32_t color; } cases[] = {
      {"#FF8000", 0x0080FF}, {"ff8000", 0x0080FF}, {"#00000G", 0}, {"#FF800", 0}, {"##FF800", 0}, {"", 0}};
  for (const auto& c : cases) {
    Write(std::string("<minilirra><Player Volume=\"9\"/><Skin AdjustColor=\"") + c.text + "\"/></minilirra>");
    TSettingMgr s(file, Context());
    EXPECT_EQ(s.AdjustColor, c.color) << c.text;
    EXPECT_EQ(s.Volume, 9);
  }
}

TEST_F(SettingsFixture, MissingAssociatesSectionRegistersWithoutOverridingOthers) {
  using Root = TRegistryStore::Root;
  registry.WriteString(Root::ClassesRoot, ".WAV", "", "OtherPlayer.wav");
  { TSettingMgr s(file, Context()); }
  EXPECT_EQ(registry.ReadString(Root::ClassesRoot, ".MP3", ""), "miniLirra.MP3");
  EXPECT_EQ(registry.ReadString(Root::ClassesRoot, ".WAV", ""), "miniLirra.WAV");
  EXPECT_EQ(registry.ReadString(Root::ClassesRoot, ".WAV", "BakType"), "OtherPlayer.wav");
  EXPECT_EQ(registry.ReadString(Root::ClassesRoot, "miniLirra.MP3\\Shell\\Open\\Command", ""),
            "\"/opt/minilirra/minilirra\" /Open \"%1\"");
  EXPECT_EQ(registry.ReadString(Root::ClassesRoot, "miniLirra.MP3", ""), "迷你琴鸟MP3文件");
  UnregisterFileAssociation(registry, "wav");
  EXPECT_EQ(registry.ReadString(Root::ClassesRoot, ".WAV", ""), "OtherPlayer.wav");
  EXPECT_FALSE(registry.ValueExists(Root::ClassesRoot, ".WAV", "BakType"));
}

#include "app/AppGlobals.h"

TEST_F(SettingsFixture, GlobalsCreateLoadAndFreeSaves) {
  Write("<minilirra><Player Volume=\"64\"/></minilirra>");
  CreateGlobals({appDir, "minilirra", "迷你琴鸟", "/opt/minilirra/minilirra"});
  EXPECT_THROW(CreateGlobals({appDir, "minilirra", "", ""}), std::logic_error);
  EXPECT_EQ(SettingMgr().Volume, 64);
  SettingMgr().Volume = 12;
  FreeGlobals();
  EXPECT_FALSE(GlobalsCreated());
  EXPECT_THROW(SettingMgr(), std::logic_error);
  TSettingMgr reread(file, Context());
  EXPECT_EQ(reread.Volume, 12) << "freeing the settings manager saved it";
  FreeGlobals();
}

// A settings file that exists but cannot be read (too large, or not a readable file) is the
// user's: the defaults are never saved over it, and a change goes to a copy beside it.
TEST_F(SettingsFixture, AFileThatCannotBeReadIsNeverOverwritten) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
  } cases[] = {
      {"larger than the cap",
       [](const std::string& f) {
         mltest::WriteAll(f, "<");
         std::filesystem::resize_file(f, 65u << 20);  // sparse: no disk used
       }},
      {"a folder where the file should be", [](const std::string& f) { std::filesystem::create_directory(f); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(file);
    std::filesystem::remove(file + ".new");
    c.make(file);
    const auto before = std::filesystem::status(file).type();
    {
      TSettingMgr s(file, Context());
      EXPECT_FALSE(s.LoadProblem().empty());
      EXPECT_EQ(s.Volume, 100);
      EXPECT_EQ(s.SavePath(), file + ".new");
    }  // the destructor's save changes nothing: no copy yet
    EXPECT_FALSE(std::filesystem::exists(file + ".new"));
    {
      TSettingMgr s(file, Context());
      s.Volume = 40;
      EXPECT_TRUE(s.Save());
    }
    EXPECT_EQ(std::filesystem::status(file).type(), before) << "the user's file is still there";
    TSettingMgr again(file, Context());
    EXPECT_EQ(again.Volume, 40) << "the change is read back from the copy";
  }
}

TEST_F(SettingsFixture, DownPortStaysAPort) {
  struct Case {
    const char* stored;
    int32_t low, high;
  } cases[] = {{"7000", 7000, 7000}, {"65535", 65535, 65535}, {"70000", 65535, 65535},
               {"-5", 20000, 29999},  {"0", 20000, 29999},      {"x", 20000, 29999}};
  for (const auto& c : cases) {
    Write(std::string("<minilirra><Network DownPort=\"") + c.stored + "\"/></minilirra>");
    TSettingMgr s(file, Context());
    EXPECT_GE(s.DownPort, c.low) << c.stored;
    EXPECT_LE(s.DownPort, c.high) << c.stored;
  }
}
