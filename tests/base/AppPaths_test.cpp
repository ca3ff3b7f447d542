// Where the data files go: --data-dir, else a portable install's own folder (a "portable" file
// beside the program), else the user's data folder; a writable program folder alone is never
// used (a build or bin folder is no home for a library).
#include "base/AppPaths.h"
#include "base/FileUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// Sets an environment variable for one scope.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(AppPaths, DataFolderChoice) {
  mltest::TempDir dir;
  const std::string exe = dir.File("bin") + "/", portable = dir.File("portable-install") + "/";
  std::filesystem::create_directories(exe);
  std::filesystem::create_directories(portable);
  mltest::WriteAll(portable + "portable", "");
  const std::string xdg = dir.File("xdg"), home = dir.File("home");
  struct Case {
    const char* name;
    std::string override, exeDir;
    const char* xdgDataHome;
    std::string want;
  } cases[] = {
      {"--data-dir wins", dir.File("mine"), portable, xdg.c_str(), dir.File("mine") + "/"},
      {"portable marker", "", portable, xdg.c_str(), portable},
      {"writable program folder is not enough", "", exe, xdg.c_str(), xdg + "/MiniLirra/"},
      {"no XDG_DATA_HOME", "", exe, nullptr, home + "/.local/share/MiniLirra/"},
      {"empty XDG_DATA_HOME", "", exe, "", home + "/.local/share/MiniLirra/"},
  };
  ScopedEnv homeEnv("HOME", home.c_str());
  for (const auto& c : cases) {
    ScopedEnv xdgEnv("XDG_DATA_HOME", c.xdgDataHome);
    EXPECT_EQ(ml::ResolveAppDir(c.override, c.exeDir), c.want) << c.name;
    EXPECT_TRUE(std::filesystem::is_directory(c.want)) << c.name << ": the folder is created";
  }
}

}  // namespace
