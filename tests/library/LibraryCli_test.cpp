// The library subcommand end to end: files written by sox and lame, added, merged, listed.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(LibraryCli, AddListShowAndStats) {
  mltest::TempDir dir;
  const std::string d = dir.Path().string();
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
  EXPECT_NE(out.find("2 new, 0 already present, 1 merged into an identical song, 0 refused; the library has 2 songs"),
            std::string::npos)
      << out;
  // Python's JSON parser judges the output and prints what it found.
  const std::string stats = " | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d[\"songs\"], d[\"playlists\"])'";
  EXPECT_EQ(mltest::RunCapture(cli + "stats --json" + stats), "2 1\n");
  out = mltest::RunCapture(cli + "show [默认] --json | python3 -c 'import json,sys; "
                           "[print(e[\"title\"], e[\"artist\"], e[\"digest\"]) for e in json.load(sys.stdin) if e[\"title\"]]'",
                           &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "月亮 歌手 " + mltest::RunCapture("md5sum " + d + "/songs/moon.mp3").substr(0, 32) + "\n");
  out = mltest::RunCapture(cli + "--json playlists | python3 -c 'import json,sys; "
                           "[print(p[\"index\"], p[\"name\"], p[\"songs\"]) for p in json.load(sys.stdin)]'");
  EXPECT_EQ(out, "0 [默认] 2\n");
  out = mltest::RunCapture(cli + "show nothing-like-this 2>&1", &rc);
  EXPECT_EQ(rc, 1);
  out = mltest::RunCapture(cli + "list", &rc);
  EXPECT_NE(out.find("月亮 - 歌手  " + d + "/songs/moon.mp3"), std::string::npos) << "title and artist where known\n" << out;

  // Adding again changes nothing, so the library file is not rewritten.
  const auto written = std::filesystem::last_write_time(d + "/data/MusicFiles.xml");
  out = mltest::RunCapture("cd " + d + " && " + cli + "add songs/moon.mp3 songs/./tone.wav 2>/dev/null", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(out.find("0 new, 2 already present"), std::string::npos) << "relative paths name the same songs\n" << out;
  EXPECT_EQ(std::filesystem::last_write_time(d + "/data/MusicFiles.xml"), written);

  // Each refusal names the path and the reason; the exit says something was refused.
  struct Case {
    std::string arg, line;
  } refusals[] = {
      {"songs/notes.txt", "refused " + d + "/songs/notes.txt: no decoder or input plug-in of this player takes .txt files"},
      {"songs/none.mp3", "refused " + d + "/songs/none.mp3: no such file"},
      {"empty", "refused " + d + "/empty: a folder without songs"},
  };
  mltest::RunCapture("mkdir -p " + d + "/empty");
  for (const Case& c : refusals) {
    out = mltest::RunCapture("cd " + d + " && " + cli + "add " + c.arg + " 2>&1", &rc);
    EXPECT_EQ(rc, 1) << c.arg;
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
    EXPECT_NE(out.find("0 new, 0 already present, 0 merged into an identical song, 1 refused; the library has 2 songs"),
              std::string::npos)
        << out;
  }

  // Remove takes songs out by file or folder; the files stay.
  out = mltest::RunCapture(cli + "remove " + d + "/songs/moon.mp3 " + d + "/nowhere 2>&1", &rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(out.find("not in the library: " + d + "/nowhere"), std::string::npos) << out;
  EXPECT_NE(out.find("1 removed; the library has 1 songs"), std::string::npos) << out;
  EXPECT_TRUE(std::filesystem::exists(d + "/songs/moon.mp3"));
  out = mltest::RunCapture(cli + "remove " + d + "/songs", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(mltest::RunCapture(cli + "stats --json" + stats), "0 1\n");

  mltest::WriteAll(d + "/data/MusicFiles.xml", "<broken");
  out = mltest::RunCapture(cli + "stats --json 2>/dev/null" + stats, &rc);
  EXPECT_EQ(out, "1 1\n") << "the previous save is used";
  EXPECT_EQ(mltest::ReadAll(d + "/data/MusicFiles.xml.bad"), "<broken") << "the damaged file is kept";
}
