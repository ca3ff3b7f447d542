// The desktop program's command line as the start-up core receives it.
#include "app/DesktopArguments.h"

#include <gtest/gtest.h>

using namespace ml;

namespace {

using Args = std::vector<std::string>;

TEST(DesktopArguments, FilesBecomeOpenThenListAndCommandWordsPassThrough) {
  struct Case {
    Args in, want;
  };
  const Case cases[] = {
      {{"a.mp3"}, {"/open", "a.mp3"}},
      {{"/home/me/a.mp3", "b.wav", "c.ogg"}, {"/open", "/home/me/a.mp3", "/list", "b.wav", "/list", "c.ogg"}},
      {{"/MiniMode", "a.mp3"}, {"/MiniMode", "/open", "a.mp3"}},
      {{"/list", "x.mp3", "y.mp3"}, {"/list", "x.mp3", "/list", "y.mp3"}},
      {{"/OPEN", "x.mp3"}, {"/OPEN", "x.mp3"}},
      {{"--data-dir", "/tmp/d", "a.mp3"}, {"--data-dir", "/tmp/d", "/open", "a.mp3"}},
      {{"--data-dir=/tmp/d"}, {"--data-dir", "/tmp/d"}},
      {{"/link", "lirra3://x|", "a.mp3"}, {"/link", "lirra3://x|", "/list", "a.mp3"}},
  };
  for (const Case& c : cases) {
    const TDesktopArguments got = ParseDesktopArguments(c.in);
    EXPECT_EQ(got.StartupArgs, c.want) << c.in[0];
    EXPECT_TRUE(got.Error.empty()) << got.Error;
  }
}

TEST(DesktopArguments, OptionsAndTheirErrors) {
  TDesktopArguments a = ParseDesktopArguments({"--output", "null", "a.mp3"});
  EXPECT_TRUE(a.HaveOutput);
  EXPECT_EQ(a.Output.Kind, TOutputKind::Null);
  a = ParseDesktopArguments({"--output=wav:/tmp/o.wav"});
  EXPECT_EQ(a.Output.Kind, TOutputKind::WavFile);
  EXPECT_EQ(a.Output.Device, "/tmp/o.wav");
  EXPECT_TRUE(ParseDesktopArguments({"-h"}).Help);
  EXPECT_NE(ParseDesktopArguments({"--output", "speaker"}).Error.find("\"speaker\""), std::string::npos);
  EXPECT_EQ(ParseDesktopArguments({"--output"}).Error, "--output needs a value");
  EXPECT_EQ(ParseDesktopArguments({"--loud"}).Error, "unknown option --loud");
}

}  // namespace
