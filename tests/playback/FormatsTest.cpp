// The WMA decoder against ffmpeg, the input plug-in host against misbehaving test plug-ins, and our
// Ogg Vorbis and FLAC plug-ins against oggdec and flac; hostile files of every kind; and the
// command line's view of the formats.
#include "tests/playback/PlaybackFixtures.h"
#include "media/AsfGuids.h"
#include "media/InputPluginLibrary.h"
#include "playback/AsfPackets.h"
#include "playback/DecoderRegistry.h"
#include "playback/uExtendDecoder.h"
#include "playback/uWAVDecoder.h"
#include "playback/uWMADecoder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <random>

using namespace ml;
using namespace mltest;
namespace fs = std::filesystem;

namespace {

const std::string& FormatsDir() {
  static std::unique_ptr<TempDir> dir;
  if (!dir) {
    dir = std::make_unique<TempDir>();
    int rc = -1;
    const std::string said =
        RunCapture(SourceDir() + "/scripts/fixtures/formats-make.sh '" + dir->Path().string() + "' 2>&1", &rc);
    if (rc != 0) ADD_FAILURE() << "fixture script failed (exit " << rc << "):\n" << said;
  }
  static const std::string path = dir->Path().string();
  return path;
}

std::string Fixture(const std::string& name) { return FormatsDir() + "/" + name; }

// Everything a decoder gives from where it stands to its end.
std::vector<int16_t> ReadToEnd(TDecoderModule& d, size_t limitSamples = SIZE_MAX) {
  std::vector<int16_t> all;
  std::vector<uint8_t> block(8192);
  for (;;) {
    uint32_t n = uint32_t(block.size());
    const bool more = d.Read(block.data(), n);
    const auto* s = reinterpret_cast<const int16_t*>(block.data());
    all.insert(all.end(), s, s + n / 2);
    if (!more || all.size() >= limitSamples) return all;
  }
}

struct TCompare {
  size_t ours = 0, ref = 0;
  int worst = 0;
};
TCompare Compare(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref) {
  TCompare c{ours.size(), ref.size(), 0};
  for (size_t i = 0; i < std::min(ours.size(), ref.size()); ++i)
    c.worst = std::max(c.worst, std::abs(int(ours[i]) - int(ref[i])));
  return c;
}

std::vector<int16_t> Reference(const std::string& command) { return AsSamples(RunCapture(command + " 2>/dev/null")); }

std::vector<int16_t> FfmpegDecode(const std::string& path) {
  return Reference("ffmpeg -loglevel error -threads 1 -i '" + path + "' -f s16le -");
}

// A folder holding the named test plug-ins (links to bin/InExtendTest/in_test_NAME.so).
struct TPluginFolder {
  TempDir dir;
  explicit TPluginFolder(std::initializer_list<const char*> names) {
    for (const char* n : names)
      fs::create_symlink(BinDir() + "/InExtendTest/in_test_" + n + ".so", dir.File(std::string("in_test_") + n + ".so"));
  }
  std::string Path() const { return dir.Path().string(); }
};

std::string ToneFile(const TempDir& dir, const std::string& name, int ms) {
  WriteAll(dir.File(name), "TONE " + std::to_string(ms) + "\n");
  return dir.File(name);
}

// The tone plug-in's frame f: left f mod 2^15, right its negation.
bool IsToneFrom(const std::vector<int16_t>& s, int64_t first) {
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    const int16_t want = static_cast<int16_t>((first + int64_t(i / 2)) & 0x7FFF);
    if (s[i] != want || s[i + 1] != -want) return false;
  }
  return true;
}

}  // namespace

// ---- WMA --------------------------------------------------------------------------------------

TEST(WMADecoder, MatchesFfmpeg) {
  for (const char* name : {"v1.wma", "v2.wma", "mono.wma"}) {
    SCOPED_TRACE(name);
    TWMADecoder d;
    ASSERT_TRUE(d.Open(Fixture(name), false)) << d.OpenError();
    const auto ref = FfmpegDecode(Fixture(name));
    const TCompare c = Compare(ReadToEnd(d), ref);
    EXPECT_EQ(c.ours, c.ref);  // every payload of every packet, and the drain at the end
    EXPECT_LE(c.worst, 1);
    const int channels = d.CurrentFormat().Channels();
    EXPECT_NEAR(d.GetPositionMs(), double(ref.size() / channels) * 1000 / d.CurrentFormat().SampleRate, 1);
  }
}

// After a seek the PCM is the reference's from the place the position names (to the
// millisecond the container keeps), once the codec's overlap with the frame before has passed.
TEST(WMADecoder, SeekLandsWherePositionSays) {
  const auto ref = FfmpegDecode(Fixture("v2.wma"));
  TWMADecoder d;
  ASSERT_TRUE(d.Open(Fixture("v2.wma"), false));
  EXPECT_NEAR(d.CurrentFormat().DurationMs, 12000, 60);
  for (float f : {0.5f, 0.25f, 0.8f}) {
    SCOPED_TRACE(f);
    d.Seek(f);
    const int32_t pos = d.GetPositionMs();
    EXPECT_NEAR(pos, f * 12000, 200);
    const auto ours = ReadToEnd(d, 2 * 8192);
    ASSERT_GE(ours.size(), 2u * 8192);
    // Skip one frame of 2048 samples (the overlap the codec lacks after a flush).
    const size_t skip = 2 * 2048, len = 2 * 2048;
    long best = -1;
    int bestDiff = 1 << 30;
    const long expect = long(pos) * 44100 / 1000;
    for (long at = expect - 4410; at <= expect + 4410; ++at) {
      int diff = 0;
      for (size_t i = 0; i < len && diff < bestDiff; ++i)
        diff = std::max(diff, std::abs(int(ours[skip + i]) - int(ref[size_t(at) * 2 + skip + i])));
      if (diff < bestDiff) bestDiff = diff, best = at;
    }
    EXPECT_LE(bestDiff, 1);
    EXPECT_LE(std::abs(best - expect), 45) << "landed at sample " << best << ", position says " << expect;
    EXPECT_GE(d.GetPositionMs(), pos + 185);  // and the position moves with the samples read
  }
}

TEST(WMADecoder, RefusesWhatItCannotPlay) {
  const std::string good = ReadAll(Fixture("v2.wma"));
  const size_t props = good.find(asf::kFileProperties), stream = good.find(asf::kStreamProperties);
  ASSERT_NE(props, std::string::npos);
  ASSERT_NE(stream, std::string::npos);
  auto patched = [&](size_t at, std::string bytes) {
    std::string s = good;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  struct Case {
    const char* what;
    std::string bytes;
    const char* says;  // nullptr: not a WMA file at all, so no reason
  } cases[] = {
      // A packet size of 0 would divide the data into nothing.
      {"packet size 0", patched(props + 92, std::string(8, '\0')), "packet size (0 bytes)"},
      {"PCM in ASF", patched(stream + 78, std::string("\x01\x00", 2)), "is not WMA"},
      {"no data object", good.substr(0, good.find(asf::kDataObject)), "no data object"},
      {"not ASF", std::string(5000, 'x'), nullptr},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteAll(dir.File("x.wma"), c.bytes);
    TWMADecoder d;
    EXPECT_FALSE(d.Open(dir.File("x.wma"), false));
    if (c.says)
      EXPECT_NE(d.OpenError().find(c.says), std::string::npos) << d.OpenError();
    else
      EXPECT_EQ(d.OpenError(), "");
  }
}

// Packets as other writers make them: without the error-correction block, with payloads of other
// streams, with compressed payloads; and damaged ones, which give what they held before the fault.
TEST(AsfPackets, Payloads) {
  using namespace std::string_literals;
  const std::string times = "\0\0\0\0\0\0"s;  // send time, duration
  auto payload = [](char stream, char object, uint32_t size, const std::string& data) {
    std::string p = {stream, object, 0, 0, 0, 0, 8};  // offset 0, 8 bytes of replicated data
    for (uint32_t v : {size, 3100u})
      for (int i = 0; i < 4; ++i) p += char(v >> (8 * i));
    return p + char(data.size()) + '\0' + data;
  };
  // Multiple payloads (lengths as words), property flags 0x5D: byte stream, byte object number,
  // double-word offset, byte replicated length.
  const std::string multiple = "\x01\x5D"s + times + "\x82"s + payload(1, 7, 3, "abc") + payload(2, 1, 2, "xy");
  // One compressed payload filling the packet: presentation time 3100, delta 1, sub-payloads.
  const std::string compressed = "\x00\x5D"s + times + "\x01\x05\x1C\x0C\x00\x00\x01\x01"s + "\x02" "ab" "\x01" "c";
  struct Case {
    const char* what;
    std::string packet;
    bool ok;
    std::string payloads;  // "stream:object:data " each
  } cases[] = {
      {"without error correction", multiple, true, "1:7:abc 2:1:xy "},
      {"with error correction", "\x82\x00\x00"s + multiple, true, "1:7:abc 2:1:xy "},
      {"padded", "\x82\x00\x00\x09\x5D\x04"s + times + "\x81"s + payload(1, 7, 3, "abc") + "pad!", true, "1:7:abc "},
      {"compressed", compressed, true, "1:5:ab 1:6:c "},
      {"cut in the second payload", multiple.substr(0, multiple.size() - 1), false, "1:7:abc "},
      {"padding beyond the packet", "\x09\x5D\xFF"s + times, false, ""},
      {"error correction of unknown width", "\xA2\x00\x00"s + multiple, false, ""},
      {"empty", "", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string got;
    const bool ok = ParseAsfPacket(c.packet, [&](const TAsfPayload& p) {
      got += std::to_string(p.StreamNumber) + ":" + std::to_string(p.ObjectNumber) + ":" + std::string(p.Data) + " ";
    });
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(got, c.payloads);
  }
}

// ---- The input plug-in host -------------------------------------------------------------------

TEST(InputPlugins, ProbeRefusesWhatIsNoInputPlugin) {
  TPluginFolder folder({"tone", "selfplay", "noentry"});
  WriteAll(folder.dir.File("in_garbage.so"), "not a library");
  WriteAll(folder.dir.File("readme.txt"), "ignored");
  const TInputPluginScan scan = ScanInputPlugins(folder.Path());
  ASSERT_EQ(scan.Plugins.size(), 1u);
  EXPECT_EQ(fs::path(scan.Plugins[0].Path).filename(), "in_test_tone.so");
  EXPECT_EQ(scan.Plugins[0].Extensions, std::vector<std::string>{"tone"});
  std::string refused;
  for (const auto& r : scan.Refused) refused += fs::path(r.Path).filename().string() + ": " + r.Reason + "\n";
  EXPECT_EQ(scan.Refused.size(), 3u) << refused;
  EXPECT_NE(refused.find("in_garbage.so: "), std::string::npos) << refused;
  EXPECT_NE(refused.find("in_test_noentry.so: it has no winampGetInModule2"), std::string::npos) << refused;
  EXPECT_NE(refused.find("in_test_selfplay.so: it plays by itself"), std::string::npos) << refused;
  EXPECT_EQ(ParseExtensionList("OGG; oga\0Ogg\0flac\0FLAC\0\0"), (std::vector<std::string>{"ogg", "oga", "flac"}));
}

// The whole song, every frame in order, through blocks of 1111 frames; at the end the position is
// the song's length (per-block rounding to whole milliseconds lost 0.19 ms a block: 76 ms in 10 s).
TEST(InputPlugins, PlaysEveryFrameAndCountsTime) {
  TPluginFolder folder({"tone"});
  TempDir dir;
  TExtendDecoder d(folder.Path());
  ASSERT_TRUE(d.Open(ToneFile(dir, "a.tone", 10000), false)) << d.OpenError();
  EXPECT_EQ(d.CurrentFormat().SampleRate, 44100);
  EXPECT_EQ(d.CurrentFormat().DurationMs, 10000);
  EXPECT_EQ(d.BitRateKbps(), 1411);  // from SetInfo
  const auto all = ReadToEnd(d);
  EXPECT_EQ(all.size(), 2u * 441000);
  EXPECT_TRUE(IsToneFrom(all, 0));
  EXPECT_EQ(d.GetPositionMs(), 10000);
  // A seek lands on the frame its position names, and the count goes on from there.
  d.Seek(0.5f);
  EXPECT_EQ(d.GetPositionMs(), 5000);
  const auto after = ReadToEnd(d, 2 * 44100);
  EXPECT_TRUE(IsToneFrom(after, 220500));
  EXPECT_EQ(d.GetPositionMs(), 5000 + int32_t(after.size() / 2 * 1000 / 44100));
  d.Close();
  EXPECT_EQ(d.GetPositionMs(), 0);
}

// A plug-in that pauses longer than a read waits delays the song; it does not end it.
TEST(InputPlugins, StallDoesNotEndTheSong) {
  TPluginFolder folder({"stall"});
  TempDir dir;
  TExtendDecoder d(folder.Path());
  ASSERT_TRUE(d.Open(ToneFile(dir, "a.stall", 2000), false)) << d.OpenError();
  const auto all = ReadToEnd(d);
  EXPECT_EQ(all.size(), 2u * 88200);
  EXPECT_TRUE(IsToneFrom(all, 0));
}

// A plug-in that cannot play the file is unloaded and the next is tried; the reason of one that
// claims the file's kind is kept when none plays it.
TEST(InputPlugins, FallsBackToTheNextPlugin) {
  TempDir dir;
  struct Case {
    std::initializer_list<const char*> plugins;
    const char* file;
    bool opens;
    const char* says;
  } cases[] = {
      {{"deep", "tone"}, "a.deep", true, ""},  // 24-bit output refused: its Play fails
      {{"fail", "tone"}, "a.fail", true, ""},
      {{"deep"}, "a.deep", false, "in_test_deep.so: it does not play this file"},
      {{"rate0"}, "a.rate0", false, "in_test_rate0.so: it does not play this file"},  // a rate of 0 refused
      {{"rate0", "tone"}, "a.rate0", true, ""},
      {{"mute"}, "a.mute", false, "in_test_mute.so: it never opened the output within 2000 ms"},
      {{"mute", "tone"}, "a.mute", true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TPluginFolder folder(c.plugins);
    TExtendDecoder d(folder.Path());
    const auto start = std::chrono::steady_clock::now();
    const bool opened = d.Open(ToneFile(dir, c.file, 500), false);
    EXPECT_EQ(opened, c.opens) << d.OpenError();
    EXPECT_EQ(d.OpenError(), c.says);
    if (opened) {
      EXPECT_EQ(fs::path(d.PluginPath()).filename(), "in_test_tone.so");
      EXPECT_EQ(ReadToEnd(d).size(), 2u * 22050);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  // A file that no plug-in claims and none plays: nothing to say but no.
  TPluginFolder folder({"tone"});
  TExtendDecoder d(folder.Path());
  WriteAll(dir.File("b.wav"), "RIFF");
  EXPECT_FALSE(d.Open(dir.File("b.wav"), false));
  EXPECT_EQ(d.OpenError(), "");
}

// The output table has no context, so one decoder at a time may play; closing mid-song stops the
// plug-in's thread before its ring goes (ASan sees a write into a freed ring otherwise).
TEST(InputPlugins, OneHostPerProcess) {
  TPluginFolder folder({"tone"});
  TempDir dir;
  const std::string song = ToneFile(dir, "a.tone", 5000);
  TExtendDecoder first(folder.Path()), second(folder.Path());
  ASSERT_TRUE(first.Open(song, false));
  EXPECT_FALSE(second.Open(song, false));
  EXPECT_EQ(second.OpenError(), "another input plug-in is playing in this process");
  ReadToEnd(first, 2 * 4410);
  first.Close();
  EXPECT_TRUE(second.Open(song, false)) << second.OpenError();
}

// ---- Our plug-ins -----------------------------------------------------------------------------

struct TPluginCase {
  const char* file;
  std::string reference;  // a command line writing 16-bit little-endian samples
  int tolerance;
};

TEST(OurPlugins, MatchTheReferenceDecoders) {
  const TPluginCase cases[] = {
      {"song.flac", "flac -s -d -c --force-raw-format --endian=little --sign=signed", 0},
      {"song.ogg", "oggdec -Q -R -o -", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TExtendDecoder d;  // the program's own InExtend/ folder
    ASSERT_TRUE(d.Open(Fixture(c.file), false)) << d.OpenError();
    EXPECT_NEAR(d.CurrentFormat().DurationMs, 3000, 1);
    const TCompare cmp = Compare(ReadToEnd(d), Reference(c.reference + " '" + Fixture(c.file) + "'"));
    EXPECT_EQ(cmp.ours, cmp.ref);
    EXPECT_LE(cmp.worst, c.tolerance);
    d.Seek(0.5f);
    EXPECT_EQ(d.GetPositionMs(), 1500);
    const auto ref = Reference(c.reference + " '" + Fixture(c.file) + "'");
    const auto after = ReadToEnd(d, 2 * 4096);
    ASSERT_GE(after.size(), 2u * 4096);
    const TCompare seek = Compare(after, std::vector<int16_t>(ref.begin() + 2 * 66150, ref.begin() + 2 * 66150 + 2 * 4096));
    EXPECT_LE(seek.worst, std::max(c.tolerance, 1) * 2) << "the seek landed elsewhere";
  }
}

// After four minutes the position is the samples delivered, to the millisecond.
TEST(OurPlugins, PositionAtTheEndOfALongSong) {
  for (const char* name : {"long.flac", "long.ogg"}) {
    SCOPED_TRACE(name);
    TExtendDecoder d;
    ASSERT_TRUE(d.Open(Fixture(name), false)) << d.OpenError();
    const size_t samples = ReadToEnd(d).size();
    EXPECT_EQ(samples, 2u * 44100 * 240);
    EXPECT_NEAR(d.GetPositionMs(), double(samples / 2) * 1000 / 44100, 20);
  }
}

// ---- Hostile files ----------------------------------------------------------------------------

// Truncations and byte flips of each fixture: the decoders open or refuse, and read to an end,
// without a crash (ASan) or a hang (the test's time-out).
TEST(HostileFiles, NeitherCrashNorHang) {
  TempDir dir;
  std::mt19937 random(17);
  for (const char* name : {"v2.wma", "mono.wma", "song.ogg", "song.flac"}) {
    const std::string good = ReadAll(Fixture(name));
    const std::string ext = fs::path(name).extension().string();
    std::vector<std::string> variants;
    for (size_t cut : {size_t(0), size_t(16), size_t(100), good.size() / 3, good.size() - 1})
      variants.push_back(good.substr(0, cut));
    for (int i = 0; i < 12; ++i) {
      std::string s = good;
      // Most flips in the headers and first packets, where a reader decides what to trust.
      const size_t span = i < 8 ? std::min<size_t>(s.size(), 8192) : s.size();
      for (int k = 0; k < 1 + i % 4; ++k) s[random() % span] = char(random());
      variants.push_back(s);
    }
    for (size_t v = 0; v < variants.size(); ++v) {
      SCOPED_TRACE(std::string(name) + " variant " + std::to_string(v));
      const std::string path = dir.File("bad" + ext);
      WriteAll(path, variants[v]);
      const int row = DecoderForExtension(path);
      ASSERT_GE(row, 0);
      auto d = DecoderRegistry()[size_t(row)].Create();
      if (!d->Open(path, false)) continue;
      ReadToEnd(*d, 2 * 44100 * 10);
      d->Seek(0.5f);
      ReadToEnd(*d, 2 * 44100);
      d->Close();
    }
  }
}

// ---- The command line -------------------------------------------------------------------------

namespace {
std::string Cli(const std::string& args, int* rc) {
  return RunCapture("'" + BinDir() + "/minilirra-cli' " + args + " 2>&1", rc);
}
std::vector<int16_t> WavSamples(const std::string& path) {
  TWAVDecoder d;
  if (!d.Open(path, false)) return {};
  return AsSamples(ReadAll(path).substr(d.DataStart(), d.DataLength()));
}
}  // namespace

TEST(FormatsCli, PlaysEveryFormatToAWavFile) {
  TempDir dir;
  const TPluginCase cases[] = {
      {"v1.wma", "", 1},  // ffmpeg
      {"song.flac", "flac -s -d -c --force-raw-format --endian=little --sign=signed", 0},
      {"song.ogg", "oggdec -Q -R -o -", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    int rc = -1;
    const std::string out = Cli("play '" + Fixture(c.file) + "' --output wav:'" + dir.File("o.wav") + "'", &rc);
    ASSERT_EQ(rc, 0) << out;
    const auto want =
        c.reference.empty() ? FfmpegDecode(Fixture(c.file)) : Reference(c.reference + " '" + Fixture(c.file) + "'");
    const TCompare cmp = Compare(WavSamples(dir.File("o.wav")), want);
    EXPECT_EQ(cmp.ours, cmp.ref);
    EXPECT_LE(cmp.worst, c.tolerance);
  }
}

TEST(FormatsCli, ListsAcceptsAndRefuses) {
  TempDir dir;
  int rc = -1;
  const auto formats = nlohmann::json::parse(Cli("formats --json", &rc));
  ASSERT_EQ(rc, 0);
  std::map<std::string, std::vector<std::string>> plugins;
  for (const auto& p : formats["input_plugins"]) plugins[p["file"]] = p["extensions"].get<std::vector<std::string>>();
  EXPECT_EQ(plugins["in_flac.so"], (std::vector<std::string>{"flac", "fla"}));
  EXPECT_EQ(plugins["in_vorbis.so"], (std::vector<std::string>{"ogg", "oga"}));
  bool wma = false;
  for (const auto& d : formats["decoders"]) wma = wma || d["name"] == "WMA";
  EXPECT_TRUE(wma);

  // Tags of a FLAC file come from its plug-in.
  const auto tags = nlohmann::json::parse(Cli("tags --json '" + Fixture("song.flac") + "'", &rc));
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(tags[0]["title"], "Plug-in Song");
  EXPECT_EQ(tags[0]["artist"], "Some Artist");
  EXPECT_NEAR(tags[0]["duration"].get<int>(), 3000, 1);

  // A kind of file nothing here claims is refused with that reason.
  WriteAll(dir.File("notes.xyz"), std::string(3000, 'a'));
  for (const std::string& cmd : {"play '" + dir.File("notes.xyz") + "' --output null", "tags '" + dir.File("notes.xyz") + "'"}) {
    const std::string out = Cli(cmd, &rc);
    EXPECT_EQ(rc, 1) << cmd;
    EXPECT_NE(out.find("no decoder or input plug-in of this player takes .xyz files"), std::string::npos) << out;
  }

  // library add takes the plug-ins' formats from a folder, and refuses the rest by name.
  fs::create_directory(dir.File("music"));
  fs::copy_file(Fixture("song.flac"), dir.File("music/a.flac"));
  fs::copy_file(Fixture("song.ogg"), dir.File("music/b.ogg"));
  fs::copy_file(Fixture("mono.wma"), dir.File("music/c.wma"));
  const std::string added = Cli("--data-dir '" + dir.File("data") + "' library add --json '" + dir.File("music") +
                                    "' '" + dir.File("notes.xyz") + "'",
                                &rc);
  const auto result = nlohmann::json::parse(added.substr(added.find('{')));
  EXPECT_EQ(result["new"], 3) << added;
  ASSERT_EQ(result["refused"].size(), 1u) << added;
  EXPECT_NE(result["refused"][0]["reason"].get<std::string>().find("no decoder or input plug-in"), std::string::npos);
}
