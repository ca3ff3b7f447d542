// The skin package's archive reader against archives written by Python's zipfile (stored,
// deflated, "\" names, data descriptors, zip64, junk after the archive) and patched by hand
// where an archive must lie (sizes, CRCs, names that leave the package).
#include "skin/uLuiZipUtils.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace ml;
using namespace mltest;

namespace {

struct SkinPackage : ::testing::Test {
  static void SetUpTestSuite() {
    dir = new TempDir;
    int rc = -1;
    const std::string out =
        RunCapture("python3 '" + SourceDir() + "/tests/skin/make_packages.py' '" + dir->Path().string() + "' 2>&1", &rc);
    ASSERT_EQ(rc, 0) << out;
  }
  static void TearDownTestSuite() { delete dir; }
  static std::string Package(const std::string& name) { return ReadAll(dir->File(name)); }
  static TempDir* dir;
};
TempDir* SkinPackage::dir = nullptr;

std::string Image() {
  std::string s;
  for (int i = 0; i < 40; ++i)
    for (int b = 0; b < 256; ++b) s += char(b);
  return s;
}

TEST_F(SkinPackage, ReadsWhatZipWritersWrite) {
  for (const char* name : {"plain.zip", "junk.zip", "descriptor.zip", "zip64.zip"}) {
    TLuiSkinFileReader reader;
    ASSERT_TRUE(reader.Open(Package(name))) << name << ": " << reader.Error();
    ASSERT_EQ(reader.Zip().Count(), 3u) << name;
    EXPECT_EQ(reader.Zip().Name(1), "Images/bg.bmp") << "\\ is read as /";
    EXPECT_EQ(reader.GetStream("images\\BG.bmp"), Image()) << name << ": any case, either slash";
    EXPECT_EQ(reader.GetStream("IMAGES/deflated.BMP"), Image()) << name;
    EXPECT_NE(reader.GetStream("skinresdef.xml")->find("playerForm"), std::string::npos) << name;
    EXPECT_EQ(reader.GetStream("missing.bmp"), std::nullopt);
    EXPECT_THROW(reader.Zip().Extract(3), EZipError);
  }
}

TEST_F(SkinPackage, RefusesPackagesWithAReason) {
  struct Case {
    const char* name;
    const char* says;
  } cases[] = {
      {"nodef.zip", "holds no SkinResDef.xml"},
      {"traversal.zip", "\"../evil.txt\" is named outside the package"},
      {"absolute.zip", "\"/etc/evil\" is named outside the package"},
      {"truncated.zip", "not a readable zip archive"},
      {"prefixed.zip", "not a readable zip archive"},
  };
  for (const Case& c : cases) {
    TLuiSkinFileReader reader;
    EXPECT_FALSE(reader.Open(Package(c.name))) << c.name;
    EXPECT_NE(reader.Error().find(c.says), std::string::npos) << c.name << ": " << reader.Error();
  }
  TLuiSkinFileReader empty;
  EXPECT_FALSE(empty.Open(""));
  EXPECT_FALSE(empty.Open(std::string(100, 'x')));
}

// Entries that lie are refused when they are taken out, never returned short or empty; the
// package's other entries still read.
TEST_F(SkinPackage, EntriesThatLieAreRefused) {
  struct Case {
    const char* name;
    const char* entry;
    const char* says;
  } cases[] = {
      {"liar_small.zip", "images/Deflated.bmp", "inflates past its declared size of 100 bytes"},
      {"liar_big.zip", "images/Deflated.bmp", "is shorter than its declared size"},
      {"badcrc_deflated.zip", "images/Deflated.bmp", "CRC Error in \"images/Deflated.bmp\"."},
      {"badcrc_stored.zip", "Images/bg.bmp", "CRC Error in \"Images/bg.bmp\"."},
      {"huge.zip", "images/Deflated.bmp", "more than a skin's entry may be"},
  };
  for (const Case& c : cases) {
    TLuiSkinFileReader reader;
    ASSERT_TRUE(reader.Open(Package(c.name))) << c.name << ": " << reader.Error();
    try {
      reader.GetStream(c.entry);
      ADD_FAILURE() << c.name << ": the entry was returned";
    } catch (const EZipError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << c.name << ": " << e.what();
    }
    EXPECT_NE(reader.GetStream("SkinResDef.xml"), std::nullopt) << c.name;
  }
}

}  // namespace
