// The command line's conventions, the same for every command: help in both forms, options with
// "=" or a space, "--" before arguments that look like options, usage errors with status 2, and
// the registries as `formats` lists them (judged by Python's JSON parser).
#include "tests/support/TestSupport.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace {

using mltest::RunCapture;

std::string Cli() { return "'" + mltest::BinDir() + "/minilirra-cli'"; }

const char* const kCommands[] = {"play",   "demo",      "tags",     "lrc",      "library", "login",
                                 "formats", "playlists", "register", "search", "spectrum", "skin"};

TEST(CliConventions, HelpInBothFormsForEveryCommand) {
  for (const char* command : kCommands) {
    int rc1 = -1, rc2 = -1;
    const std::string viaFlag = RunCapture(Cli() + " " + command + " --help", &rc1);
    const std::string viaHelp = RunCapture(Cli() + " help " + command, &rc2);
    EXPECT_EQ(rc1, 0) << command;
    EXPECT_EQ(rc2, 0) << command;
    EXPECT_EQ(viaFlag, viaHelp) << command;
    EXPECT_NE(viaFlag.find(std::string("usage: minilirra-cli ") + command), std::string::npos) << viaFlag;
  }
  int rc = -1;
  const std::string all = RunCapture(Cli() + " --help", &rc);
  EXPECT_EQ(rc, 0);
  for (const char* command : kCommands) EXPECT_NE(all.find(command), std::string::npos) << command;
}

TEST(CliConventions, OptionFormsAndTheEndOfOptions) {
  mltest::TempDir dir;
  // A lyric file whose name starts with a dash: only "--" lets it be an argument.
  mltest::WriteAll(dir.File("-x.lrc"), "[00:01.00]one\n[00:12.00]two\n");
  const std::string in = "cd '" + dir.Path().string() + "' && " + Cli() + " lrc ";
  int rc = -1;
  const std::string spaced = RunCapture(in + "--at 12000 -- -x.lrc", &rc);
  EXPECT_EQ(rc, 0) << spaced;
  EXPECT_NE(spaced.find("sung line 2 of 2"), std::string::npos) << spaced;
  EXPECT_EQ(RunCapture(in + "--at=12000 -- -x.lrc", &rc), spaced);
  EXPECT_EQ(rc, 0);
  // The program's own options may come before or after the command's name.
  const std::string data = "--data-dir='" + dir.File("data") + "'";
  EXPECT_EQ(RunCapture(Cli() + " " + data + " library stats", &rc), "songs: 0\nplaylists: 0\n");
  EXPECT_EQ(RunCapture(Cli() + " library stats " + data, &rc), "songs: 0\nplaylists: 0\n");
}

TEST(CliConventions, UsageErrorsSayWhatAndExitWithTwo) {
  struct Case {
    const char* args;
    const char* says;
  } cases[] = {
      {"frob", "no command frob"},
      {"tags", "FILE is required"},
      {"lrc x.lrc --at soon", "--at"},
      {"play x.mp3 --volume 101", "--volume"},
      {"formats --colour", "--colour"},
      {"help frob", "no command frob"},
      {"library", "library"},
      {"playlists sideways", "DIRECTION"},
      {"register", "NAME is required"},
      {"lrc fetch", "name a song FILE"},
      {"lrc fetch x.mp3 --caption y", "excludes"},
  };
  for (const auto& c : cases) {
    int rc = -1;
    const std::string out = RunCapture(Cli() + " " + c.args + " 2>&1", &rc);
    EXPECT_EQ(rc, 2) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
  }
}

TEST(CliFormats, ListsWhatTheRegistriesHold) {
  int rc = -1;
  const std::string out = RunCapture(
      Cli() + " formats --json | python3 -c 'import json,sys; d=json.load(sys.stdin); "
              "print(*[x[\"name\"] + \":\" + \",\".join(x[\"extensions\"]) for x in d[\"decoders\"]]); "
              "print(*[x[\"name\"] for x in d[\"outputs\"]]); "
              "print(all(type(x[\"devices\"]) is list for x in d[\"outputs\"])); "
              "print(*[x[\"name\"] for x in d[\"tag_readers\"]], sep=\"|\")'",
      &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out,
            "MPEG:mp3,mp2,mp1,mpga WAV:wav WMA:wma,asf Input plug-in:flac,fla,ogg,oga\n"
            "pulse alsa wav null\n"
            "True\n"
            "MPEG audio|WMA|Ogg Vorbis|WAV|Input plug-in|APE tag\n");
  const std::string text = RunCapture(Cli() + " formats", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(text.find("MPEG"), std::string::npos) << text;
}

}  // namespace

// skin check on packages Python writes: what the test skin holds and lacks, and a hostile
// package refused with the reason.
TEST(CliSkin, CheckReportsAndRefuses) {
  mltest::TempDir dir;
  int rc = -1;
  RunCapture("python3 '" + mltest::SourceDir() + "/tests/skin/make_packages.py' '" + dir.Path().string() + "'", &rc);
  ASSERT_EQ(rc, 0);
  const std::string out = RunCapture(Cli() + " skin check '" + dir.File("skin.zip") + "' --json", &rc);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("\"stop.image: Images/none.bmp\""), std::string::npos) << out;
  EXPECT_NE(out.find("playlist.NumberColor: Invalid Color string \\\"123\\\""), std::string::npos) << out;
  const std::string text = RunCapture(Cli() + " skin check '" + dir.File("skin.zip") + "'", &rc);
  EXPECT_NE(text.find("equalizerForm: not in the package (not used by this player)"), std::string::npos) << text;
  const std::string refused = RunCapture(Cli() + " skin check '" + dir.File("traversal.zip") + "' 2>&1", &rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(refused.find("\"../evil.txt\" is named outside the package"), std::string::npos) << refused;
}

// Without a path: the built-in skin, drawn at build time, has every element and picture of the
// main window, nothing it names is missing from the package, and every value is usable.
TEST(CliSkin, TheBuiltInSkinIsComplete) {
  int rc = -1;
  const std::string out = RunCapture(Cli() + " skin check --json", &rc);
  ASSERT_EQ(rc, 0) << out;
  const auto report = nlohmann::json::parse(out);
  EXPECT_TRUE(report["preview"].get<bool>());
  for (const auto& form : report["forms"]) {
    if (!form["used_by_player"].get<bool>()) continue;
    EXPECT_TRUE(form["found"].get<bool>()) << form["form"];
    EXPECT_TRUE(form["missing_images"].empty()) << form.dump();
    EXPECT_TRUE(form["problems"].empty()) << form.dump();
    if (form["form"] != "miniForm") EXPECT_TRUE(form["missing"].empty()) << form.dump();
  }
}
