// A library save killed at any moment never loses the last good library.
#include "library/MusicFileMgr.h"
#include "tests/support/TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace ml;

TEST(KillDuringSave, LastGoodLibraryAlwaysLoads) {
  mltest::TempDir dir;
  const std::string path = dir.File("MusicFiles.xml");
  auto fill = [](TMusicFileMgr& mgr, int n, const std::string& tag) {
    TPlayList* list = mgr.NewPlayList(tag);
    for (int i = 0; i < n; ++i)
      list->Items.push_back(mgr.AddFromSearchResult(tag + std::to_string(i), LRMD5::MD5String(tag + std::to_string(i))));
  };
  {
    TMusicFileMgr first;
    fill(first, 1000, "a");
    ASSERT_TRUE(first.Save(path));
  }
  std::mt19937 rng(42);
  for (int round = 0; round < 100; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TMusicFileMgr mgr;
      fill(mgr, round % 2 ? 1000 : 500, round % 2 ? "a" : "b");
      for (;;) mgr.Save(path);
    }
    usleep(std::uniform_int_distribution<useconds_t>(0, 30000)(rng));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    TMusicFileMgr mgr;
    ASSERT_NO_THROW(mgr.Load(path)) << "round " << round;
    ASSERT_EQ(mgr.PlayLists().size(), 1u);
    const size_t n = mgr.PlayLists()[0]->Items.size();
    EXPECT_TRUE(n == 1000 || n == 500) << n;
  }
}
