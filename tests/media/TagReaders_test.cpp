// The tag readers over hand-made bytes: the structures and rules that the tool-written fixtures
// do not reach.
#include "tests/media/MediaBuilders.h"
#include "tests/support/TestSupport.h"
#include "base/GbkText.h"
#include "media/MediaText.h"
#include "media/APEtag.h"
#include "media/MPEGaudio.h"
#include "media/OggVorbis.h"
#include "media/WAVfile.h"
#include "media/WMAfile.h"
#include "media/uTagInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

using namespace mltest;
using ml::TMediaInfo;
using ml::TMemorySource;
using ml::TTagInfo;

namespace {

TMediaInfo Merge(const std::string& bytes, bool* recognised = nullptr) {
  TMemorySource src(bytes);
  TTagInfo tags;
  tags.Load(src);
  TMediaInfo info;
  bool ok = tags.GetMediaInfo(info);
  if (recognised) *recognised = ok;
  return info;
}

std::string Utf16LE(const std::string& utf8, bool bom = true) {
  return (bom ? std::string("\xFF\xFE") : std::string()) + ml::Utf8ToUtf16LE(utf8);
}
std::string Utf16BE(const std::string& utf8) {
  std::string le = ml::Utf8ToUtf16LE(utf8), be = "\xFE\xFF";
  for (size_t i = 0; i + 1 < le.size(); i += 2) be += std::string{le[i + 1], le[i]};
  return be;
}

std::string V1Block(const std::string& title, uint8_t b125, uint8_t b126, uint8_t genre) {
  std::string t = "TAG" + title;
  t.resize(128, '\0');
  t[125] = char(b125);
  t[126] = char(b126);
  t[127] = char(genre);
  return t;
}

// A table of contents and two chapters as podcast tools write them: each chapter holds its own
// title frame (which is not the song's) and a picture, so its size needs more than 7 bits.
// plainSizes writes version 4 sizes big-endian, as one encoder does.
std::string Chapters(int version, bool plainSizes = false) {
  auto frame = [&](const std::string& id, const std::string& body) {
    std::string f = Frame(version, id, body);
    if (plainSizes) f.replace(4, 4, BE32(uint32_t(body.size())));
    return f;
  };
  std::string out = frame("CTOC", std::string("toc\0\x03\x02" "c1\0c2\0", 12) +
                                      Frame(version, "TIT2", std::string("\0Contents", 9)));
  for (int i = 1; i <= 2; ++i) {
    std::string picture = Frame(version, "APIC", std::string("\0image/png\0\x03\0", 13) + std::string(300, '\x89'));
    out += frame("CHAP", "c" + std::to_string(i) + std::string(1, '\0') + BE32(i * 1000) + BE32(i * 1000 + 999) +
                             BE32(0xFFFFFFFF) + BE32(0xFFFFFFFF) +
                             Frame(version, "TIT2", std::string("\0Chapter ", 9) + std::to_string(i)) + picture);
  }
  return out;
}

}  // namespace

TEST(ID3v2, FramesOfEachVersionAndEncoding) {
  struct Case {
    const char* what;
    std::string tag;
    std::string title;
    const char* artist;
  } cases[] = {
      {"2.2 three-letter frames", Tag(2, Frame(2, "TT2", std::string("\0Old", 4)) + Frame(2, "TP1", std::string("\0Band", 5))),
       "Old", "Band"},
      {"2.3 UTF-16 with BOM", Tag(3, Frame(3, "TIT2", "\x01" + Utf16LE("仿佛")) + Frame(3, "TPE1", "\x01" + Utf16LE("歌手"))),
       "仿佛", "歌手"},
      {"2.3 UTF-16 big-endian BOM", Tag(3, Frame(3, "TIT2", "\x01" + Utf16BE("夜曲"))), "夜曲", ""},
      {"2.4 UTF-16BE without BOM", Tag(4, Frame(4, "TIT2", "\x02" + Utf16BE("春").substr(2))), "春", ""},
      {"2.4 UTF-8", Tag(4, Frame(4, "TIT2", std::string("\x03" "春天\0" "ignored", 15))), "春天", ""},
      {"2.3 GBK in encoding 0", Tag(3, Frame(3, "TIT2", std::string("\0", 1) + "\xB4\xBA\xCC\xEC")), "春天", ""},
      {"2.3 Latin-1 that is not GBK", Tag(3, Frame(3, "TIT2", std::string("\0Caf\xE9", 5))), "Café", ""},
      {"unknown encoding gives nothing", Tag(3, Frame(3, "TIT2", "\x07Title")), "", ""},
      {"TIT1 stands in for TIT2", Tag(3, Frame(3, "TIT1", std::string("\0Group", 6)) + Frame(3, "TOPE", std::string("\0Orig", 5))),
       "Group", "Orig"},
      {"compressed frame skipped", Tag(3, Frame(3, "TIT2", std::string("\0Zip", 4), 0x80)), "", ""},
      {"grouped frame", Tag(3, Frame(3, "TIT2", std::string("\x05\0Grp", 5), 0x20)), "Grp", ""},
      {"2.4 frame with data length and unsynchronisation",
       Tag(4, Frame(4, "TIT2", Synchsafe(5) + std::string("\0\xFF\0\xE0z", 5), 0x03)), "\xC3\xBF\xC3\xA0z", ""},
      {"2.4 sizes written big-endian",
       Tag(4, "TIT2" + BE32(200) + std::string(2, '\0') + std::string("\0", 1) + std::string(199, 'x') +
                  Frame(4, "TPE1", std::string("\0After", 6))),
       std::string(199, 'x'), "After"},
      {"2.3 UTF-16 values separated by a zero unit",
       Tag(3, Frame(3, "TIT2", "\x01" + Utf16LE("First") + std::string(2, '\0') + Utf16LE("Second")) +
                  Frame(3, "TPE1", std::string("\0One\0Two", 8))),
       "First", "One"},
      {"2.4 UTF-16 values",
       Tag(4, Frame(4, "TIT2", "\x01" + Utf16LE("First") + std::string(2, '\0') + Utf16LE("Second") +
                                   std::string(2, '\0'))),
       "First", ""},
      {"a frame given twice: the first",
       Tag(3, Frame(3, "TIT2", std::string("\0First", 6)) + Frame(3, "TIT2", std::string("\0Second", 7)) +
                  Frame(3, "TPE1", std::string("\0", 1)) + Frame(3, "TPE1", std::string("\0Filled", 7))),
       "First", "Filled"},
      {"2.2 frame given twice", Tag(2, Frame(2, "TT2", std::string("\0Old", 4)) + Frame(2, "TT2", std::string("\0New", 4))),
       "Old", ""},
      {"2.3 chapters before the text frames", Tag(3, Chapters(3) + Frame(3, "TIT2", std::string("\0Episode", 8))),
       "Episode", ""},
      {"2.4 chapters before the text frames", Tag(4, Chapters(4) + Frame(4, "TIT2", std::string("\0Episode", 8))),
       "Episode", ""},
      {"2.4 chapter sizes written big-endian",
       Tag(4, Chapters(4, true) + Frame(4, "TIT2", std::string("\0Episode", 8))), "Episode", ""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string file = c.tag + MpegFrames(20);
    TMemorySource src(file);
    ml::TID3v2 v2;
    ASSERT_TRUE(v2.Read(src));
    EXPECT_TRUE(v2.Exists);
    EXPECT_EQ(v2.Title, c.title);
    EXPECT_EQ(v2.Artist, c.artist);
  }
}

TEST(ID3v2, UnsynchronisedExtendedHeaderAndFooter) {
  // 2.3 with the whole tag unsynchronised and an extended header: an FF in the header size and
  // in the text must be restored before the frames line up.
  std::string frames = Frame(3, "TIT2", std::string("\0\xFF\xFEz", 4)) + Frame(3, "TPE1", std::string("\0Band", 5));
  std::string body = BE32(6) + std::string(6, '\0') + frames;
  std::string unsync;
  for (char c : body) {
    unsync += c;
    if (static_cast<unsigned char>(c) == 0xFF) unsync += '\0';
  }
  std::string tag = std::string("ID3\x03\0\xC0", 6) + Synchsafe(uint32_t(unsync.size())) + unsync;
  const std::string srcBytes = tag + MpegFrames(10);
  TMemorySource src(srcBytes);
  ml::TID3v2 v2;
  ASSERT_TRUE(v2.Read(src));
  EXPECT_EQ(v2.Artist, "Band");
  EXPECT_EQ(v2.Size, tag.size());

  // 2.4 extended header (synchsafe, counting itself) and a footer: 20 bytes on top of the body.
  std::string ext = Synchsafe(6) + std::string("\x01\0", 2);
  std::string f4 = ext + Frame(4, "TALB", std::string("\0Disc", 5));
  std::string t4 = std::string("ID3\x04\0\x50", 6) + Synchsafe(uint32_t(f4.size())) + f4 +
                   std::string("3DI\x04\0\x50", 6) + Synchsafe(uint32_t(f4.size()));
  const std::string src4Bytes = t4 + MpegFrames(10);
  TMemorySource src4(src4Bytes);
  ml::TID3v2 v24;
  ASSERT_TRUE(v24.Read(src4));
  EXPECT_EQ(v24.Album, "Disc");
  EXPECT_EQ(v24.Size, t4.size());
}

TEST(ID3v2, DerivedFields) {
  struct Case {
    int version;
    std::string frame;
    const char* genre;
    int track;
    const char* year;
    const char* comment;
  } cases[] = {
      {3, Frame(3, "TCON", std::string("\0(17)Rock", 9)), "Rock", 0, "", ""},
      {3, Frame(3, "TCON", std::string("\0(17)", 5)), "Rock", 0, "", ""},
      {4, Frame(4, "TCON", std::string("\0" "13", 3)), "Pop", 0, "", ""},
      {3, Frame(3, "TCON", std::string("\0((Weird)", 9)), "(Weird)", 0, "", ""},
      {3, Frame(3, "TCON", std::string("\0Pop (Chinese)", 14)), "Pop (Chinese)", 0, "", ""},
      {3, Frame(3, "TRCK", std::string("\0" "3/12", 5)), "", 3, "", ""},
      {3, Frame(3, "TRCK", std::string("\0A3", 3)), "", 0, "", ""},
      {4, Frame(4, "TDRC", std::string("\0" "2008-05-01", 11)), "", 0, "2008", ""},
      {3, Frame(3, "COMM", std::string("\0eng\0Plain", 10)), "", 0, "", "Plain"},
      {3, Frame(3, "COMM", std::string("\0engiTunNORM\0 0000", 18)) + Frame(3, "COMM", std::string("\0eng\0Mine", 9)),
       "", 0, "", "Mine"},
      {3, Frame(3, "COMM", std::string("\0engMy note\0Described", 21)), "", 0, "", "Described"},
      {3, Frame(3, "COMM", std::string("\0engiTunSMPB\0 00000000", 22)), "", 0, "", ""},
      {3, Frame(3, "COMM", "\x01" "eng" + Utf16LE("d") + std::string(2, '\0') + Utf16LE("注释")), "", 0, "", "注释"},
      // 2.2 as iTunes wrote it: UTF-16 comments after a described one of its own.
      {2,
       Frame(2, "TCO", std::string("\0(13)", 5)) + Frame(2, "TRK", std::string("\0" "3/10", 5)) +
           Frame(2, "TYE", std::string("\0" "2004", 5)) +
           Frame(2, "COM", "\x01" "eng" + Utf16LE("iTunNORM") + std::string(2, '\0') + Utf16LE(" 0000044E")) +
           Frame(2, "COM", "\x01" "eng" + Utf16LE("") + std::string(2, '\0') + Utf16LE("Plain")),
       "Pop", 3, "2004", "Plain"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.frame);
    std::string file = Tag(c.version, c.frame) + MpegFrames(20);
    TMemorySource src(file);
    ml::TID3v2 v2;
    ASSERT_TRUE(v2.Read(src));
    EXPECT_EQ(v2.Genre, c.genre);
    EXPECT_EQ(v2.Track, c.track);
    EXPECT_EQ(v2.Year, c.year);
    EXPECT_EQ(v2.Comment, c.comment);
  }
}

TEST(ID3v1, VersionAndFields) {
  std::string v11 = V1Block("Title", 0, 7, 17);
  std::string comment = "Comment that uses every byte!!";
  std::string v10 = V1Block("T2", 'x', 'y', 200);
  v10.replace(97, 30, comment);
  std::string cut = V1Block("\xB4\xBA\xCC", 0, 0, 255);  // GBK text cut in half by the field
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += "春";
  std::string cutUtf8 = V1Block("a" + nine + "春", 0, 0, 255);  // UTF-8 cut by the field too
  struct Case {
    std::string block;
    uint8_t version;
    uint8_t track;
    const char* genre;
    std::string title;
  } cases[] = {{v11, 2, 7, "Rock", "Title"},
               {v10, 1, 0, "", "T2"},
               {cut, 1, 0, "", "春"},
               {cutUtf8, 1, 0, "", "a" + nine}};
  for (auto& c : cases) {
    const std::string srcBytes = MpegFrames(3) + c.block;
    TMemorySource src(srcBytes);
    ml::TID3v1 v1;
    ASSERT_TRUE(v1.Read(src));
    ASSERT_TRUE(v1.Exists);
    EXPECT_EQ(v1.VersionID, c.version);
    EXPECT_EQ(v1.Track, c.track);
    EXPECT_EQ(v1.Genre(), c.genre);
    EXPECT_EQ(v1.Title, c.title);
  }
  const std::string tooShortBytes = std::string(100, 'x');
  TMemorySource tooShort(tooShortBytes);
  EXPECT_FALSE(ml::TID3v1().Read(tooShort));
}

TEST(TagInfo, MergePriorities) {
  const std::string v2 = Tag(3, Frame(3, "TIT2", std::string("\0From v2", 8)));
  std::string v1 = V1Block("From v1", 0, 4, 13);
  v1.replace(33, 9, "V1 Artist");
  // ID3v2 wins over ID3v1; the fields it leaves empty come from ID3v1.
  TMediaInfo both = Merge(v2 + MpegFrames(300) + v1);
  EXPECT_EQ(both.Title, "From v2");
  EXPECT_EQ(both.Artist, "V1 Artist");
  EXPECT_EQ(both.Track, 4);
  EXPECT_EQ(both.Genre, "Pop");
  TMediaInfo only1 = Merge(MpegFrames(300) + v1);
  EXPECT_EQ(only1.Title, "From v1");
  EXPECT_EQ(only1.Track, 4);
  EXPECT_EQ(only1.Genre, "Pop");
  EXPECT_EQ(only1.Channels, 2);
  EXPECT_EQ(only1.Bitrate, 128);
  EXPECT_EQ(only1.SampleRate, 44100);
  // A version-5 header is a tag we cannot read; it hides nothing of the ID3v1 tag.
  std::string v5 = v2;
  v5[3] = 5;
  EXPECT_EQ(Merge(v5 + MpegFrames(300) + v1).Title, "From v1");
  // Nothing recognised: false and the caller's record untouched.
  const std::string junkBytes = std::string(5000, '\x01');
  TMemorySource junk(junkBytes);
  TTagInfo tags;
  tags.Load(junk);
  TMediaInfo keep;
  keep.Title = "mine";
  EXPECT_FALSE(tags.GetMediaInfo(keep));
  EXPECT_EQ(keep.Title, "mine");
  EXPECT_FALSE(TTagInfo().Load("/nonexistent/file.mp3"));
}

TEST(MPEGaudio, DurationFromFramesOrFrameCount) {
  // Without a VBR header the frames are counted, the ID3v1 tag after them not: 300 frames of
  // 1152 samples at 44.1 kHz.
  std::string cbr = MpegFrames(300);
  TMediaInfo a = Merge(cbr + V1Block("Tagged", 0, 1, 1));
  EXPECT_EQ(a.Duration, int(std::lround(300 * 1152 * 1000.0 / 44100)));
  EXPECT_EQ(a.Bitrate, 128);
  // A variable rate without a header to say so: every frame counts at its own length.
  std::string vbr;
  for (int i = 0; i < 100; ++i) {
    std::string f(i % 4 ? "\xFF\xFB\x90\x00" : "\xFF\xFB\xE0\x00", 4);  // 128 kbps, or 320 (1044 bytes)
    f.resize(i % 4 ? 417 : 1044, '\x55');
    vbr += f;
  }
  TMediaInfo v0 = Merge(vbr);
  EXPECT_EQ(v0.Duration, int(std::lround(100 * 1152 * 1000.0 / 44100)));
  EXPECT_EQ(v0.Bitrate, int(std::lround((75 * 417 + 25 * 1044) * 8 * 44100.0 / (100 * 1152 * 1000))));
  // A stream of a few frames is still one, down to a single frame; one frame among junk is not.
  bool ok = false;
  EXPECT_EQ(Merge(MpegFrames(3), &ok).Duration, 78);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Merge(MpegFrames(1) + V1Block("One", 0, 1, 1), &ok).Duration, 26);
  EXPECT_TRUE(ok);
  Merge(std::string(100, '\x01') + MpegFrames(1), &ok);
  EXPECT_FALSE(ok);
  // Xing: the frame count decides, whatever the file size says.
  TMediaInfo x = Merge(MpegFrames(300, XingExtra(1000, 1000 * 300)));
  EXPECT_EQ(x.Duration, int(std::lround(1000 * 1152 * 1000.0 / 44100)));
  EXPECT_EQ(x.Bitrate, int(std::lround(300.0 * 44100 / 144 / 1000)));
  // VBRI sits 32 bytes after the header as well.
  std::string vbri = std::string(32, '\0') + "VBRI" + std::string("\0\x01\0\0\0\x50", 6) + BE32(90000) + BE32(500);
  TMediaInfo v = Merge(MpegFrames(300, vbri));
  EXPECT_EQ(v.Duration, int(std::lround(500 * 1152 * 1000.0 / 44100)));
}

TEST(MPEGaudio, WhereFramesAreFound) {
  // Junk longer than the first window: the middle of the file still has two frames in a row.
  const std::string lateBytes = std::string(5000, '\0') + MpegFrames(60);
  TMemorySource late(lateBytes);
  ml::TMPEGaudio m;
  ASSERT_TRUE(m.Read(late));
  EXPECT_TRUE(m.Valid());
  // Free-format streams (bit-rate index 0) are never taken.
  std::string free = MpegFrames(30);
  for (size_t i = 0; i < free.size(); i += 417) free[i + 2] = '\x00';
  TMemorySource fs(free);
  ASSERT_TRUE(m.Read(fs));
  EXPECT_FALSE(m.Frame.Found);
  // A quiet PCM WAV is full of FF E? byte pairs that look like headers; it stays a WAV.
  std::string wav = "RIFF" + LE32(36 + 40000) + "WAVEfmt " + LE32(16) + LE16(1) + LE16(2) + LE32(44100) +
                    LE32(176400) + LE16(4) + LE16(16) + "data" + LE32(40000);
  for (int i = 0; i < 10000; ++i) wav += std::string("\xE2\xFF\xE7\xFF", 4);
  TMediaInfo w = Merge(wav);
  EXPECT_EQ(w.Bitrate, 1411);  // as the player shows it
  EXPECT_EQ(w.SampleRate, 44100);
  EXPECT_EQ(w.Duration, int(std::lround(40000 * 1000.0 / 176400)));
}

TEST(WAVfile, HeaderValues) {
  auto wav = [](uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataBytes) {
    uint32_t byteRate = rate * channels * bits / 8;
    return "RIFF" + LE32(36 + dataBytes) + "WAVEfmt " + LE32(16) + LE16(1) + LE16(channels) + LE32(rate) +
           LE32(byteRate) + LE16(uint16_t(channels * bits / 8)) + LE16(bits) + "data" + LE32(dataBytes) +
           std::string(dataBytes, '\0');
  };
  TMediaInfo hi = Merge(wav(1, 96000, 16, 96000));
  EXPECT_EQ(hi.SampleRate, 96000);  // the full rate, not its low 16 bits
  EXPECT_EQ(hi.Duration, 500);
  // Zero rates pass the header test but give no length, never a division by zero.
  bool ok = false;
  TMediaInfo zero = Merge(wav(2, 0, 0, 100), &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(zero.Duration, 0);
  // Six channels are not a format this player takes.
  const std::string sixBytes = wav(6, 44100, 16, 100);
  TMemorySource six(sixBytes);
  ml::TWAVfile w;
  ASSERT_TRUE(w.Read(six));
  EXPECT_FALSE(w.Valid);
}

TEST(APEtag, TextRules) {
  auto ape = [](uint32_t version, const std::string& key, const std::string& value) {
    std::string item = LE32(uint32_t(value.size())) + LE32(0) + key + '\0' + value;
    uint32_t size = uint32_t(item.size() + 32);
    return std::string(3000, '\0') + item + "APETAGEX" + LE32(version) + LE32(size) + LE32(1) + LE32(0) +
           std::string(8, '\0');
  };
  struct Case {
    uint32_t version;
    std::string key, value;
    const char* title;
    int track;
  } cases[] = {
      {2000, "Title", "春天", "春天", 0},
      {2000, "TITLE", "ab\xE6\x98x\xE5\xA4\xA9", "ab", 0},  // broken UTF-8 in the middle
      {1000, "Title", "\xB4\xBA\xCC\xEC", "春天", 0},       // version 1 text is 8-bit
      {2000, "Track", "3/12", "", 3},
      {2000, "Track", "A3", "", 0},
  };
  for (auto& c : cases) {
    const std::string srcBytes = ape(c.version, c.key, c.value);
    TMemorySource src(srcBytes);
    ml::TAPEtag t;
    ASSERT_TRUE(t.Read(src));
    ASSERT_TRUE(t.Exists);
    EXPECT_EQ(t.Title, c.title);
    EXPECT_EQ(t.Track, c.track);
  }
}

namespace {

// The tag fields of a merged record, for comparing whole rows.
struct TagRow {
  std::string title, artist, album, year, genre;
  int track;
  std::string comment;
  bool operator==(const TagRow&) const = default;
};
std::ostream& operator<<(std::ostream& os, const TagRow& t) {
  return os << "{" << t.title << "|" << t.artist << "|" << t.album << "|" << t.year << "|" << t.genre << "|"
            << t.track << "|" << t.comment << "}";
}
TagRow TagsOf(const TMediaInfo& m) { return {m.Title, m.Artist, m.Album, m.Year, m.Genre, m.Track, m.Comment}; }

}  // namespace

TEST(WAVfile, TagChunks) {
  auto info = [](const std::string& items) { return RiffChunk("LIST", "INFO" + items); };
  auto text = [](const char* id, const std::string& value) { return RiffChunk(id, value + '\0'); };
  const std::string audio = RiffChunk("data", std::string(1600, '\0'));
  const std::string id3 = Tag(3, Frame(3, "TIT2", std::string("\0Tag Title", 10)) +
                                     Frame(3, "TPE1", std::string("\0Tag Artist", 11)) +
                                     Frame(3, "TRCK", std::string("\0" "7/9", 4)));
  const std::string fullInfo = info(text("INAM", "Info Title") + text("IART", "\xD5\xC5\xC8\xFD") +
                                    text("IPRD", "Album") + text("ICRD", "2012") + text("IGNR", "Jazz") +
                                    text("ICMT", "note") + text("IPRT", "4"));
  struct Case {
    const char* what;
    std::string chunks;
    TagRow want;
  } cases[] = {
      {"INFO list before the audio", fullInfo + audio, {"Info Title", "张三", "Album", "2012", "Jazz", 4, "note"}},
      {"id3 chunk after the audio", audio + RiffChunk("id3 ", id3), {"Tag Title", "Tag Artist", "", "", "", 7, ""}},
      {"ID3 chunk, upper case", audio + RiffChunk("ID3 ", id3), {"Tag Title", "Tag Artist", "", "", "", 7, ""}},
      {"ID3 speaks first, INFO fills in",
       info(text("INAM", "Info Title") + text("IPRD", "Info Album") + text("ITRK", "2")) + audio +
           RiffChunk("id3 ", Tag(3, Frame(3, "TIT2", std::string("\0Tag Title", 10)))),
       {"Tag Title", "", "Info Album", "", "", 2, ""}},
      {"the first tag of each kind",
       RiffChunk("LIST", "adtl" + text("labl", "cue")) + info(text("INAM", "One")) + info(text("INAM", "Two")) +
           audio + RiffChunk("id3 ", Tag(3, Frame(3, "TPE1", std::string("\0First", 6)))) +
           RiffChunk("id3 ", Tag(3, Frame(3, "TPE1", std::string("\0Second", 7)))),
       {"One", "First", "", "", "", 0, ""}},
      {"ITRK before IPRT", info(text("IPRT", "4") + text("ITRK", "5")) + audio, {"", "", "", "", "", 5, ""}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool recognised = false;
    TMediaInfo m = Merge(Wav(c.chunks), &recognised);
    EXPECT_TRUE(recognised);
    EXPECT_EQ(m.Duration, 100);
    EXPECT_EQ(TagsOf(m), c.want);
  }
}

TEST(WMAfile, ObjectsInAnyOrder) {
  using namespace asf;
  auto cd = [](const std::string& title, const std::string& author, const std::string& description) {
    auto text = [](const std::string& s) { return s.empty() ? std::string() : Utf16LE(s, false) + std::string(2, '\0'); };
    return Object(kContentDescription, LE16(uint32_t(text(title).size())) + LE16(uint32_t(text(author).size())) +
                                           LE16(0) + LE16(uint32_t(text(description).size())) + LE16(0) +
                                           text(title) + text(author) + text(description));
  };
  // Descriptors as (name, type, value bytes); a string value is given as UTF-8.
  struct Descriptor {
    std::string name;
    uint16_t type;
    std::string value;
  };
  auto ext = [](const std::vector<Descriptor>& ds) {
    std::string body = LE16(uint32_t(ds.size()));
    for (const auto& d : ds) {
      std::string name = Utf16LE(d.name, false) + std::string(2, '\0');
      std::string value = d.type == 0 ? Utf16LE(d.value, false) + std::string(2, '\0') : d.value;
      body += LE16(uint32_t(name.size())) + name + LE16(d.type) + LE16(uint32_t(value.size())) + value;
    }
    return Object(kExtendedContent, body);
  };
  const std::string fp = FileProperties(), sp = StreamProperties();
  const std::string extended = ext({{"WM/AlbumTitle", 0, "Ext Album"}, {"WM/Year", 0, "2001"},
                                    {"WM/TrackNumber", 3, LE32(5)}, {"WM/Genre", 0, "Jazz"}});
  const TagRow extendedRow{"", "", "Ext Album", "2001", "Jazz", 5, ""};
  struct Case {
    const char* what;
    std::vector<std::string> objects;
    TagRow want;
  } cases[] = {
      {"extended content only", {fp, sp, extended}, extendedRow},
      {"extended content first, properties last", {extended, sp, fp}, extendedRow},
      {"content description with empty fields after the descriptors",
       {fp, ext({{"Title", 0, "Ext Title"}, {"Author", 0, "Ext Artist"}}), cd("", "", "CD note"), sp},
       {"Ext Title", "Ext Artist", "", "", "", 0, "CD note"}},
      {"descriptors win over the content description in either order",
       {cd("CD Title", "CD Artist", ""), fp, ext({{"WM/Title", 0, "Ext Title"}}), sp},
       {"Ext Title", "CD Artist", "", "", "", 0, ""}},
      {"descriptors win over the content description in either order",
       {fp, sp, ext({{"WM/Title", 0, "Ext Title"}}), cd("CD Title", "CD Artist", "")},
       {"Ext Title", "CD Artist", "", "", "", 0, ""}},
      {"WM/TrackNumber before WM/Track, whatever their order",
       {fp, sp, ext({{"WM/TrackNumber", 5, LE16(9)}, {"WM/Track", 0, "3"}})}, {"", "", "", "", "", 9, ""}},
      {"WM/AlbumArtist when there is no author",
       {fp, sp, ext({{"WM/AlbumArtist", 0, "Band"}, {"WM/Year", 4, LE64(1999)}})}, {"", "Band", "", "1999", "", 0, ""}},
      {"the author before WM/AlbumArtist",
       {fp, sp, ext({{"WM/AlbumArtist", 0, "Band"}}), cd("", "Singer", "")}, {"", "Singer", "", "", "", 0, ""}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool recognised = false;
    TMediaInfo m = Merge(Header(c.objects) + std::string(4000, '\0'), &recognised);
    ASSERT_TRUE(recognised);
    EXPECT_EQ(m.Duration, 3000);
    EXPECT_EQ(m.Channels, 2);
    EXPECT_EQ(TagsOf(m), c.want);
  }
}

TEST(OggVorbis, TrackText) {
  for (auto [text, track] : {std::pair{"3/12", 3}, {"A3", 0}, {" 7 ", 7}, {"300", 300}})
    EXPECT_EQ(ml::ExtractTrack(text), track) << text;
  EXPECT_EQ(ml::TrackByte(300), 0);
}

TEST(MediaSource, FileReadsMatchTheBytes) {
  // The file source serves small reads from blocks at both ends; any read must give exactly
  // the bytes of the file, across block edges and past the end.
  mltest::TempDir dir;
  std::string bytes;
  for (uint32_t i = 0, x = 12345; i < 100000; ++i) bytes += char((x = x * 1103515245 + 12345) >> 16);
  mltest::WriteAll(dir.File("f.bin"), bytes);
  ml::TFileSource file(dir.File("f.bin"));
  ASSERT_TRUE(file.IsOpen());
  ASSERT_EQ(file.Size(), bytes.size());
  TMemorySource mem(bytes);
  const std::pair<uint64_t, size_t> reads[] = {{0, 10},          {32760, 16},   {32768, 4},  {50000, 3000},
                                               {91800, 400},     {91808, 8192}, {99990, 20}, {100000, 1},
                                               {200000, 5},      {0, 100000},   {5, 0},      {32767, 1}};
  for (auto [offset, n] : reads) EXPECT_EQ(file.Read(offset, n), mem.Read(offset, n)) << offset << "+" << n;
  EXPECT_FALSE(ml::TFileSource(dir.File("missing")).IsOpen());
  EXPECT_FALSE(ml::TFileSource(dir.Path().string()).IsOpen());  // a folder is not a file
}
