// The library subcommand end to end: files written by sox and lame, added, merged, listed.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

TEST(LibraryCli, AddListShowAndStats) {
  mltest::TempDir dir;
  const std::string d = dir.path().string();
  int rc = -1;
  mltest::RunCapture("mkdir -p " + d + "/songs/sub && sox -n -r 22050 -c 1 " + d +
                         "/songs/tone.wav synth 0.5 sine 440 && cp " + d + "/songs/tone.wav " + d +
                         "/songs/sub/same.wav && lame --quiet --tt 月亮 --ta 歌手 " + d + "/songs/tone.wav " + d +
                         "/songs/moon.mp3 && echo x > " + d + "/songs/notes.txt",
                     &rc);
  ASSERT_EQ(rc, 0);
  const std::string cli = mltest::BinDir() + "/minilirra-cli --data-dir " + d + "/data library ";
  std::string out = mltest::RunCapture(cli + "add " + d + "/songs 2>/dev/null", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("added 3 of 3 files; the library has 2 songs"), std::string::npos) << out;
  EXPECT_EQ(mltest::RunCapture(cli + "stats --json"), "{\"songs\": 2, \"playlists\": 1}\n");
  out = mltest::RunCapture(cli + "show [默认] --json", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(out.find("\"title\": \"月亮\", \"artist\": \"歌手\""), std::string::npos) << out;
  EXPECT_NE(out.find(mltest::RunCapture("md5sum " + d + "/songs/moon.mp3").substr(0, 32)), std::string::npos);
  out = mltest::RunCapture(cli + "show nothing-like-this 2>&1", &rc);
  EXPECT_EQ(rc, 1);
  out = mltest::RunCapture(cli + "add " + d + "/songs/notes.txt 2>/dev/null", &rc);
  EXPECT_NE(out.find("the library has 3 songs"), std::string::npos) << out;
  mltest::WriteAll(d + "/data/MusicFiles.xml", "<broken");
  out = mltest::RunCapture(cli + "stats --json 2>&1", &rc);
  EXPECT_EQ(out, "{\"songs\": 2, \"playlists\": 1}\n") << "the previous save is used";
  EXPECT_EQ(mltest::ReadAll(d + "/data/MusicFiles.xml.bad"), "<broken") << "the damaged file is kept";
}
