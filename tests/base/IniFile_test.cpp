#include "base/GbkText.h"
#include "base/IniFile.h"
#include "base/Registry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace ml;

TEST(IniFile, ReadsGbkWithMixedLineEndsAndCaseInsensitiveNames) {
  IniFile ini;
  ini.parse(Utf8ToGbk("[Update]\r\nVersion=5010\nDestFileName=更新.zip\rjunk line\r\n[LastLogin]\nUserName=张三\n"));
  EXPECT_EQ(ini.readInteger("update", "VERSION", 0), 5010);
  EXPECT_EQ(ini.readString("Update", "destfilename"), "更新.zip");
  EXPECT_EQ(ini.readString("LASTLOGIN", "username"), "张三");
  EXPECT_EQ(ini.readString("Update", "junk line", "none"), "none");
  EXPECT_EQ(ini.keys("Update").size(), 2u);
  EXPECT_EQ(ini.readInteger("Update", "Missing", -7), -7);
}

TEST(IniFile, Utf8BomFileStaysUtf8AndKeepsUnknownLines) {
  IniFile ini;
  ini.parse("\xEF\xBB\xBF[S]\nkey=值\nfree text\n");
  EXPECT_EQ(ini.readString("S", "key"), "值");
  ini.writeString("s", "Other", "é");
  std::string out = ini.serialize();
  EXPECT_EQ(out.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(out.find("key=值"), std::string::npos);
  EXPECT_NE(out.find("free text"), std::string::npos);
  EXPECT_NE(out.find("Other=é"), std::string::npos);
}

TEST(IniFile, SavesAtomicallyWithModeAndReloads) {
  mltest::TempDir dir;
  IniFile ini;
  ini.writeString("LastLogin", "UserName", "李四");
  ini.writeInteger("LastLogin", "ID", 12345);
  ASSERT_TRUE(ini.save(dir.file("LoginSave.bin"), 0600));
  EXPECT_EQ(mltest::ReadAll(dir.file("LoginSave.bin")).find(Utf8ToGbk("李四")) != std::string::npos, true);
  IniFile back;
  ASSERT_TRUE(back.load(dir.file("LoginSave.bin")));
  EXPECT_EQ(back.readString("lastlogin", "username"), "李四");
  EXPECT_EQ(back.readInteger("LastLogin", "ID", 0), 12345);
  EXPECT_FALSE(back.load(dir.file("absent.ini")));
}

TEST(Registry, ValuesPersistInRegistryIni) {
  mltest::TempDir dir;
  std::string appDir = dir.path().string() + "/";
  {
    TRegistryStore reg(appDir);
    ASSERT_TRUE(reg.writeString(TRegistryStore::Root::CurrentUser, "\\Software\\MiniLirra", "AppFileName", "/opt/x"));
    ASSERT_TRUE(reg.writeInteger(TRegistryStore::Root::CurrentUser, "\\Software\\Lirra4", "LirraFirst", 1));
  }
  TRegistryStore reg(appDir);
  EXPECT_EQ(reg.readString(TRegistryStore::Root::CurrentUser, "\\Software\\MiniLirra", "AppFileName"), "/opt/x");
  EXPECT_TRUE(reg.readBool(TRegistryStore::Root::CurrentUser, "\\Software\\Lirra4", "LirraFirst", false));
  EXPECT_FALSE(reg.valueExists(TRegistryStore::Root::ClassesRoot, ".MP3", ""));
  EXPECT_NE(mltest::ReadAll(appDir + "Registry.ini").find("[HKEY_CURRENT_USER\\Software\\MiniLirra]"),
            std::string::npos);
}
