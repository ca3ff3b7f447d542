#include "app/AppInfo.h"
#include "base/GbkText.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

ml::TAppInfo InfoFrom(const mltest::TempDir& dir, const std::string* stringsFile) {
  if (stringsFile) mltest::WriteAll(dir.File("Strings.ini"), *stringsFile);
  ml::TSkinResStrings s;
  s.Load(dir.Path().string());
  return ml::MakeAppInfo(s, "/data/dir");
}

TEST(StartupAppInfo, ShippedStringsGiveTheProductNames) {
  ml::TSkinResStrings s;
  ASSERT_TRUE(s.Load(mltest::SourceDir() + "/SkinRes"));
  ml::TAppInfo info = ml::MakeAppInfo(s, "/opt/minilirra");
  EXPECT_EQ(info.AppDisplayName, "迷你琴鸟播放器");
  EXPECT_EQ(info.AppTitle, "迷你琴鸟");
  EXPECT_FALSE(info.AppSlogan.empty());
  EXPECT_EQ(info.ExeBaseName, "minilirra");
  EXPECT_EQ(info.ExeFileName, "minilirra");
  EXPECT_EQ(info.EditionCode, 0);
  EXPECT_EQ(info.RegistryPath, "\\Software\\MiniLirra");
  EXPECT_EQ(info.AppDir, "/opt/minilirra/");
  EXPECT_EQ(info.SettingsFileName(), "/opt/minilirra/minilirra.xml");
  EXPECT_TRUE(info.SkinResLoaded);
}

TEST(StartupAppInfo, MissingStringsTakeTheirDefaults) {
  mltest::TempDir dir;
  // GBK file (no byte-order mark), ids 1, 3 and 6 absent, 2 empty, 5 not a number.
  std::string text = ml::Utf8ToGbk("[Strings]\r\n2=\r\n4=player\r\n5=abc\r\n");
  ml::TAppInfo info = InfoFrom(dir, &text);
  EXPECT_TRUE(info.SkinResLoaded);
  EXPECT_EQ(info.AppDisplayName, "");
  EXPECT_EQ(info.AppTitle, "");
  EXPECT_EQ(info.ExeBaseName, "player");
  EXPECT_EQ(info.EditionCode, 0);
  EXPECT_EQ(info.RegistryKeyName, "player");
  EXPECT_EQ(info.RegistryPath, "\\Software\\player");
  EXPECT_EQ(info.SettingsFileName(), "/data/dir/player.xml");
}

TEST(StartupAppInfo, EditionAndKeyNameAreRead) {
  mltest::TempDir dir;
  std::string text = "\xEF\xBB\xBF[strings]\n5= 1\n6=Partner\n1=" + std::string("伙伴版") + "\n";
  ml::TAppInfo info = InfoFrom(dir, &text);
  EXPECT_EQ(info.EditionCode, 1);
  EXPECT_EQ(info.RegistryPath, "\\Software\\Partner");
  EXPECT_EQ(info.AppDisplayName, "伙伴版");
  // No base name given: the platform's own stands in, never an empty name.
  EXPECT_EQ(info.ExeFileName, "minilirra");
}

TEST(StartupAppInfo, WithoutTheStringsFileEverythingIsEmptyButTheNames) {
  mltest::TempDir dir;
  ml::TAppInfo info = InfoFrom(dir, nullptr);
  EXPECT_FALSE(info.SkinResLoaded);
  EXPECT_EQ(info.AppTitle, "");
  EXPECT_EQ(info.AppSlogan, "");
  EXPECT_EQ(info.EditionCode, 0);
  EXPECT_EQ(info.ExeFileName, "minilirra");
  EXPECT_EQ(info.RegistryPath, "\\Software\\minilirra");
}

TEST(StartupAppInfo, StringsAreCutAt255GbkBytesOnACharacterBoundary) {
  mltest::TempDir dir;
  std::string longTitle;
  for (int i = 0; i < 200; ++i) longTitle += "鸟";  // 2 bytes each in GBK
  std::string text = "\xEF\xBB\xBF[Strings]\n2=" + longTitle + "\n3=" + std::string(300, 'a') + "\n";
  ml::TAppInfo info = InfoFrom(dir, &text);
  EXPECT_EQ(ml::Utf8ToGbk(info.AppTitle).size(), 254u);  // 127 whole characters
  EXPECT_TRUE(ml::IsValidUtf8(info.AppTitle));
  EXPECT_EQ(info.AppSlogan, std::string(255, 'a'));
}

}  // namespace
