#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

struct Recorder : ml::ICommandLineTarget {
  std::vector<std::string> events;
  void ClearPlaylistSelection() override { events.push_back("clear"); }
  void AddFileFromCommandLine(const std::string& path, bool play) override {
    events.push_back((play ? "play " : "add ") + path);
  }
};

TEST(StartupCommandLine, StartModeNeedsExactCaseInFirstPlace) {
  EXPECT_EQ(ml::ParseStartMode({"/MainMode"}), ml::TStartMode::Main);
  EXPECT_EQ(ml::ParseStartMode({"/MiniMode", "/open", "x"}), ml::TStartMode::Mini);
  EXPECT_EQ(ml::ParseStartMode({"/minimode"}), ml::TStartMode::Saved);
  EXPECT_EQ(ml::ParseStartMode({"/open", "/MainMode"}), ml::TStartMode::Saved);
  EXPECT_EQ(ml::ParseStartMode({}), ml::TStartMode::Saved);
}

TEST(StartupCommandLine, ArgumentListsBecomePlaylistActions) {
  struct Case {
    Args args;
    std::vector<std::string> expected;
  } cases[] = {
      {{"/open", "/m/a.mp3"}, {"play /m/a.mp3"}},
      {{"/OPEN", "/m/a.mp3", "/List", "/m/b.mp3"}, {"play /m/a.mp3", "add /m/b.mp3"}},
      {{"/MiniMode", "/list", "/m/b.mp3"}, {"add /m/b.mp3"}},
      {{"/link", "/open", "/open", "/m/c.mp3"}, {"play /m/c.mp3"}},  // "/link" eats what follows
      {{"/link"}, {}},
      {{"/m/a.mp3", "/update", "/open"}, {}},  // stray words alone, a trailing "/open" without path
      {{"/open", "", "/list"}, {}},
  };
  for (const auto& c : cases) {
    Recorder r;
    ml::ManualClock clock;
    ml::TCommandLineHandler h(r, clock);
    h.HandleArguments(c.args);
    EXPECT_EQ(r.events, c.expected) << "first argument: " << (c.args.empty() ? "" : c.args[0]);
  }
}

TEST(StartupCommandLine, OpenWithin1500MsOfTheLastListOnlyAdds) {
  Recorder r;
  ml::ManualClock clock;
  clock.Set(ml::Millis(100000));
  ml::TCommandLineHandler h(r, clock);
  h.MarkHandled();  // the main window was shown
  clock.Advance(ml::Millis(1499));
  h.HandleForwarded({"/open", "/m/1.mp3"});
  clock.Advance(ml::Millis(1499));
  h.HandleForwarded({"/open", "/m/2.mp3"});  // still close to the previous hand-off
  clock.Advance(ml::Millis(1500));
  h.HandleForwarded({"/open", "/m/3.mp3"});
  EXPECT_EQ(r.events, (std::vector<std::string>{"clear", "add /m/1.mp3", "clear", "add /m/2.mp3", "clear",
                                                "play /m/3.mp3"}));
}

TEST(StartupCommandLine, ForwardedArgumentsRoundTrip) {
  Args args{"/open", "/home/用户/歌曲 01.mp3", "/link", std::string(255, 'x')};
  std::size_t written = 0;
  std::string data = ml::EncodeForwardedArgs(args, &written);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(data[0], 5);
  auto back = ml::DecodeForwardedArgs(data);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, args);
}

TEST(StartupCommandLine, EncodingStopsAtTheFirstArgumentThatDoesNotFit) {
  std::size_t written = 0;
  // Too long for its one-byte length: nothing after it may slide into its place.
  std::string data = ml::EncodeForwardedArgs({"/open", std::string(256, 'p'), "/open", "b"}, &written);
  EXPECT_EQ(written, 1u);
  EXPECT_EQ(*ml::DecodeForwardedArgs(data), Args{"/open"});
  // The buffer holds 4066 bytes: 15 arguments of 255 bytes (3840) fit, the 16th does not.
  Args many(20, std::string(255, 'q'));
  data = ml::EncodeForwardedArgs(many, &written);
  EXPECT_EQ(written, 15u);
  EXPECT_LE(data.size(), ml::ForwardBufferSize);
  many.resize(15);
  many.push_back(std::string(225, 'r'));  // 3840 + 226 = 4066 exactly
  data = ml::EncodeForwardedArgs(many, &written);
  EXPECT_EQ(written, 16u);
  EXPECT_EQ(data.size(), ml::ForwardBufferSize);
}

TEST(StartupCommandLine, DecoderChecksEveryLength) {
  struct Case {
    std::string data;
    std::optional<Args> expected;
  } cases[] = {
      {"", Args{}},
      {std::string("\x02" "ab" "\x00" "\x01" "z", 6), Args{"ab"}},  // an empty string ends the list
      {"\x03" "ab", std::nullopt},                        // runs past the end
      {"\x01" "a\xff", std::nullopt},
      {std::string(ml::ForwardBufferSize + 1, '\x01'), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ml::DecodeForwardedArgs(c.data), c.expected) << c.data.size();
}

TEST(StartupCommandLine, PathsAreMadeAbsoluteBeforeTheHandOff) {
  EXPECT_EQ(ml::AbsolutizeCommandPaths({"/open", "a.mp3", "/List", "../b.mp3", "/link", "x", "c", "/open", "/d.mp3"},
                                       "/home/u/music"),
            (Args{"/open", "/home/u/music/a.mp3", "/List", "/home/u/b.mp3", "/link", "x", "c", "/open", "/d.mp3"}));
}

}  // namespace
