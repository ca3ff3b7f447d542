#include "base/FileUtil.h"
#include "base/StrUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ml;

TEST(FileUtil, AtomicWriteReplacesKeepsBackupAndSetsMode) {
  mltest::TempDir dir;
  std::string path = dir.File("a.xml");
  ASSERT_TRUE(WriteFileAtomic(path, "first"));
  ASSERT_TRUE(WriteFileAtomic(path, "second", 0600, nullptr, true));
  EXPECT_EQ(mltest::ReadAll(path), "second");
  EXPECT_EQ(mltest::ReadAll(path + ".bak"), "first");
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Nothing but the file and its backup is left behind.
  size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.Path())) (void)e, ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST(FileUtil, FailedWriteSaysWhyAndKeepsOldFile) {
  mltest::TempDir dir;
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(dir.File("missing/sub/x"), "data", 0644, &error));
  EXPECT_NE(error.find("missing/sub/x"), std::string::npos);
}

TEST(FileUtil, ReadRespectsLimit) {
  mltest::TempDir dir;
  mltest::WriteAll(dir.File("f"), std::string(100, 'z'));
  EXPECT_EQ(ReadFileBytes(dir.File("f"))->size(), 100u);
  EXPECT_FALSE(ReadFileBytes(dir.File("f"), 99).has_value());
  EXPECT_FALSE(ReadFileBytes(dir.File("none")).has_value());
}

TEST(StrUtil, IntegersAndLines) {
  struct Case { const char* text; std::optional<int64_t> value; } cases[] = {
      {"42", 42}, {" -7 ", -7}, {"+5", 5}, {"$1F", 31}, {"0x10", 16}, {"", std::nullopt},
      {"12a", std::nullopt}, {"-", std::nullopt}, {"99999999999999999999", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseInt(c.text), c.value) << c.text;
  EXPECT_EQ(ParseInt32Def("5000000000", -1), -1);
  auto lines = SplitLines("a\r\nb\nc\rd\r\n");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "d");
}
