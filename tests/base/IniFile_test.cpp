#include "base/GbkText.h"
#include "base/IniFile.h"
#include "base/Registry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ml;

TEST(IniFile, ReadsGbkWithMixedLineEndsAndCaseInsensitiveNames) {
  IniFile ini;
  ini.Parse(Utf8ToGbk("[Update]\r\nVersion=5010\nDestFileName=更新.zip\rjunk line\r\n[LastLogin]\nUserName=张三\n"));
  EXPECT_EQ(ini.ReadInteger("update", "VERSION", 0), 5010);
  EXPECT_EQ(ini.ReadString("Update", "destfilename"), "更新.zip");
  EXPECT_EQ(ini.ReadString("LASTLOGIN", "username"), "张三");
  EXPECT_EQ(ini.ReadString("Update", "junk line", "none"), "none");
  EXPECT_EQ(ini.Keys("Update").size(), 2u);
  EXPECT_EQ(ini.ReadInteger("Update", "Missing", -7), -7);
}

TEST(IniFile, Utf8BomFileStaysUtf8AndKeepsUnknownLines) {
  IniFile ini;
  ini.Parse("\xEF\xBB\xBF[S]\nkey=值\nfree text\n");
  EXPECT_EQ(ini.ReadString("S", "key"), "值");
  ini.WriteString("s", "Other", "é");
  std::string out = ini.Serialize();
  EXPECT_EQ(out.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(out.find("key=值"), std::string::npos);
  EXPECT_NE(out.find("free text"), std::string::npos);
  EXPECT_NE(out.find("Other=é"), std::string::npos);
}

TEST(IniFile, SavesAtomicallyWithModeAndReloads) {
  mltest::TempDir dir;
  IniFile ini;
  ini.WriteString("LastLogin", "UserName", "李四");
  ini.WriteInteger("LastLogin", "ID", 12345);
  ASSERT_TRUE(ini.Save(dir.File("LoginSave.bin"), 0600));
  EXPECT_EQ(mltest::ReadAll(dir.File("LoginSave.bin")).find(Utf8ToGbk("李四")) != std::string::npos, true);
  IniFile back;
  ASSERT_TRUE(back.Load(dir.File("LoginSave.bin")));
  EXPECT_EQ(back.ReadString("lastlogin", "username"), "李四");
  EXPECT_EQ(back.ReadInteger("LastLogin", "ID", 0), 12345);
  EXPECT_FALSE(back.Load(dir.File("absent.ini")));
}

TEST(Registry, ValuesPersistInRegistryIni) {
  mltest::TempDir dir;
  std::string appDir = dir.Path().string() + "/";
  {
    TRegistryStore reg(appDir);
    ASSERT_TRUE(reg.WriteString(TRegistryStore::Root::CurrentUser, "\\Software\\MiniLirra", "AppFileName", "/opt/x"));
    ASSERT_TRUE(reg.WriteInteger(TRegistryStore::Root::CurrentUser, "\\Software\\Lirra4", "LirraFirst", 1));
  }
  TRegistryStore reg(appDir);
  EXPECT_EQ(reg.ReadString(TRegistryStore::Root::CurrentUser, "\\Software\\MiniLirra", "AppFileName"), "/opt/x");
  EXPECT_TRUE(reg.ReadBool(TRegistryStore::Root::CurrentUser, "\\Software\\Lirra4", "LirraFirst", false));
  EXPECT_FALSE(reg.ValueExists(TRegistryStore::Root::ClassesRoot, ".MP3", ""));
  EXPECT_NE(mltest::ReadAll(appDir + "Registry.ini").find("[HKEY_CURRENT_USER\\Software\\MiniLirra]"),
            std::string::npos);
}

// Two processes writing the store at once lose none of each other's values (the lock is taken
// across the read-modify-write), and a write that changes nothing leaves the file alone.
TEST(RegistryStore, ProcessesShareItWithoutLosingWrites) {
  mltest::TempDir dir;
  const std::string appDir = dir.Path().string() + "/";
  using Root = TRegistryStore::Root;
  constexpr int kEach = 150;
  auto writeMany = [&](const char* who) {
    TRegistryStore reg(appDir);
    for (int i = 0; i < kEach; ++i) reg.WriteInteger(Root::CurrentUser, "\\Test", who + std::to_string(i), i);
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    writeMany("child");
    ::_exit(0);
  }
  writeMany("parent");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  TRegistryStore reg(appDir);
  int found = 0;
  for (int i = 0; i < kEach; ++i)
    found += reg.ValueExists(Root::CurrentUser, "\\Test", "child" + std::to_string(i)) +
             reg.ValueExists(Root::CurrentUser, "\\Test", "parent" + std::to_string(i));
  EXPECT_EQ(found, 2 * kEach);

  struct stat before{}, after{};
  ASSERT_EQ(::stat(reg.FilePath().c_str(), &before), 0);
  EXPECT_TRUE(reg.WriteInteger(Root::CurrentUser, "\\Test", "child7", 7));
  EXPECT_TRUE(reg.Edit([&](TRegistryStore::TEdit& e) { e.DeleteValue(Root::CurrentUser, "\\Test", "nothing"); }));
  ASSERT_EQ(::stat(reg.FilePath().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "unchanged values do not replace the file";
}
