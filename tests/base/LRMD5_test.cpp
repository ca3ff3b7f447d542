#include "base/LRMD5.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <random>
#include <sstream>

using namespace ml;

TEST(LRMD5, KnownDigests) {
  EXPECT_EQ(LRMD5::MD5DigestToStr(LRMD5::MD5String("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(LRMD5::MD5DigestToStr(LRMD5::MD5String("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(LRMD5::MD5DigestToStr(LRMD5::MD5String(
                "12345678901234567890123456789012345678901234567890123456789012345678901234567890")),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(LRMD5, FilesAndStreamsAgreeWithMd5sum) {
  mltest::TempDir dir;
  std::mt19937 rng(7);
  for (size_t size : {0u, 1u, 63u, 64u, 4095u, 4096u, 4097u, 8192u, 20479u, 20480u, 20481u, 100000u}) {
    std::string data(size, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    std::string path = dir.File("f" + std::to_string(size));
    mltest::WriteAll(path, data);
    std::string expected = mltest::RunCapture("md5sum '" + path + "'").substr(0, 32);
    bool ok = false;
    EXPECT_EQ(LRMD5::MD5DigestToStr(LRMD5::MD5File(path, &ok)), expected) << size;
    EXPECT_TRUE(ok);
    std::istringstream stream(data);
    stream.seekg(static_cast<std::streamoff>(size / 2));
    EXPECT_EQ(LRMD5::MD5DigestToStr(LRMD5::MD5Stream(stream)), expected) << size;
    EXPECT_EQ(stream.tellg(), std::streampos(static_cast<std::streamoff>(size / 2))) << "position restored";
  }
}

TEST(LRMD5, StreamRange) {
  std::string data(10000, 'x');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  std::istringstream stream(data);
  EXPECT_EQ(LRMD5::MD5StreamRange(stream, 1000, 5000), LRMD5::MD5String(data.substr(1000, 5000)));
  // A range running past the end digests what is there.
  EXPECT_EQ(LRMD5::MD5StreamRange(stream, 9000, 5000), LRMD5::MD5String(data.substr(9000)));
}

TEST(LRMD5, AbortFlagGivesZeroDigest) {
  std::string big(8 * 1024 * 1024, 'a');
  std::istringstream stream(big);
  std::atomic<bool> abort{true};
  EXPECT_TRUE(LRMD5::MD5DigestIsZero(LRMD5::MD5Stream(stream, &abort)));
  abort = false;
  EXPECT_FALSE(LRMD5::MD5DigestIsZero(LRMD5::MD5Stream(stream, &abort)));
}

TEST(LRMD5, TextToDigest) {
  auto d = LRMD5::MD5StrToDigest("900150983CD24FB0D6963F7D28E17F72");
  EXPECT_TRUE(LRMD5::MD5DigestEqual(d, LRMD5::MD5String("abc")));
  for (const char* bad : {"", "900150983cd24fb0d6963f7d28e17f7", "900150983cd24fb0d6963f7d28e17f722",
                          "g00150983cd24fb0d6963f7d28e17f72"})
    EXPECT_TRUE(LRMD5::MD5DigestIsZero(LRMD5::MD5StrToDigest(bad))) << bad;
}

TEST(LRMD5, MissingFileIsNotOk) {
  bool ok = true;
  EXPECT_TRUE(LRMD5::MD5DigestIsZero(LRMD5::MD5File("/nonexistent/file", &ok)));
  EXPECT_FALSE(ok);
}
