// Damaged and hostile files: every reader must keep to the bytes that are there, give empty
// fields for what it cannot read, and never report a field it did not really find.
#include "tests/media/MediaBuilders.h"
#include "tests/support/TestSupport.h"
#include "media/APEtag.h"
#include "media/MPEGaudio.h"
#include "media/OggVorbis.h"
#include "media/WAVfile.h"
#include "media/WMAfile.h"
#include "media/uTagInfo.h"

#include <gtest/gtest.h>

#include <cmath>

#include <functional>

using namespace mltest;
using ml::TMediaInfo;
using ml::TMemorySource;

namespace {

std::string Data(const std::string& name) { return ReadAll(SourceDir() + "/tests/data/media/" + name); }

struct Everything {
  ml::TTagInfo tags;
  TMediaInfo info;
  bool recognised = false;
};

std::unique_ptr<Everything> ReadAllReaders(const std::string& bytes) {
  auto e = std::make_unique<Everything>();
  TMemorySource src(bytes);
  e->tags.Load(src);
  e->recognised = e->tags.GetMediaInfo(e->info);
  return e;
}

// Text fields of a damaged copy are either what the whole file says or empty, in the merged
// record and in each reader's own title.
void ExpectFieldsFromWhole(const Everything& cutAll, const Everything& wholeAll) {
  auto titles = [](const ml::TTagInfo& t) {
    return std::vector<std::string>{t.Reader<ml::TMPEGaudio>().ID3v1.Title, t.Reader<ml::TMPEGaudio>().ID3v2.Title, t.Reader<ml::TAPEtag>().Title,
                                    t.Reader<ml::TWMAfile>().Title, t.Reader<ml::TOggVorbis>().Title};
  };
  auto cutTitles = titles(cutAll.tags), wholeTitles = titles(wholeAll.tags);
  for (size_t i = 0; i < cutTitles.size(); ++i)
    if (!cutTitles[i].empty()) {
      EXPECT_EQ(cutTitles[i], wholeTitles[i]);
    }
  const TMediaInfo& cut = cutAll.info;
  const TMediaInfo& whole = wholeAll.info;
  for (auto field : {&TMediaInfo::Title, &TMediaInfo::Artist, &TMediaInfo::Album, &TMediaInfo::Year,
                     &TMediaInfo::Genre, &TMediaInfo::Comment}) {
    const std::string& v = cut.*field;
    if (!v.empty()) {
      EXPECT_EQ(v, whole.*field);
    }
  }
  if (cut.Track) {
    EXPECT_EQ(cut.Track, whole.Track);
  }
}

}  // namespace

TEST(Malformed, EveryTruncationOfEveryFormat) {
  for (const char* name : {"tiny_v1.mp3", "tiny_v22.mp3", "tiny_v23.mp3", "tiny_v24.mp3", "tiny_ape.mp3", "tiny.wma",
                           "tiny_reordered.wma", "tiny.ogg", "tiny.wav", "tiny_tags.wav"}) {
    SCOPED_TRACE(name);
    const std::string whole = Data(name);
    ASSERT_FALSE(whole.empty());
    auto full = ReadAllReaders(whole);
    ASSERT_TRUE(full->recognised);
    if (std::string(name) != "tiny.wav") {
      EXPECT_FALSE(full->info.Title.empty() && full->tags.Reader<ml::TAPEtag>().Title.empty());
    }
    // Every length up to the whole file: each cut ends some structure half-way.
    for (size_t len = 0; len < whole.size(); ++len) {
      auto cut = ReadAllReaders(whole.substr(0, len));
      ExpectFieldsFromWhole(*cut, *full);
      if (HasFailure()) {
        ADD_FAILURE() << "cut at " << len;
        return;
      }
    }
  }
}

TEST(Malformed, CorruptedBytesNeverCrash) {
  // Every single byte of the headers set to the values that make lengths absurd.
  for (const char* name : {"tiny_v22.mp3", "tiny_v23.mp3", "tiny_v24.mp3", "tiny_ape.mp3", "tiny.wma",
                           "tiny_reordered.wma", "tiny.ogg", "tiny_tags.wav"}) {
    SCOPED_TRACE(name);
    const std::string whole = Data(name);
    const size_t span = std::min<size_t>(whole.size(), 600);
    for (size_t i = 0; i < span; ++i) {
      for (char v : {'\0', '\x7F', '\xFF'}) {
        std::string bad = whole;
        bad[i] = v;
        ReadAllReaders(bad);
        std::string tail = whole;  // the same near the end, where APE, ID3v1 and the last Ogg page are
        tail[whole.size() - 1 - i] = v;
        ReadAllReaders(tail);
      }
    }
  }
}

TEST(Malformed, AbsurdSizes) {
  const std::string audio = MpegFrames(200);
  auto apeTag = [](uint32_t tagSize, uint32_t count, uint32_t valueSize, const std::string& value) {
    std::string item = LE32(valueSize) + LE32(0) + "Title" + '\0' + value;
    return std::string(4000, '\0') + item + "APETAGEX" + LE32(2000) + LE32(tagSize) + LE32(count) + LE32(0) +
           std::string(8, '\0');
  };
  const std::string asfHeader("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
  const std::string cdo("\x33\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
  auto asf = [&](uint32_t count, const std::string& objects) {
    return asfHeader + LE64(30 + objects.size()) + LE32(count) + "\x01\x02" + objects + std::string(100, '\0');
  };
  auto oggPage = [](const std::string& packet, uint32_t seq) {
    std::string lacing;
    size_t n = packet.size();
    while (n >= 255) lacing += '\xFF', n -= 255;
    lacing += char(n);
    return "OggS" + std::string(1, '\0') + std::string(1, seq ? '\0' : '\x02') + LE64(0) + LE32(1) + LE32(seq) +
           LE32(0) + char(lacing.size()) + lacing + packet;
  };
  const std::string ident = std::string("\x01vorbis", 7) + LE32(0) + '\x02' + LE32(44100) + LE32(0) +
                            LE32(128000) + LE32(0) + '\xB8' + '\x01';
  auto ogg = [&](const std::string& comments) {
    return oggPage(ident, 0) + oggPage(std::string("\x03vorbis", 7) + comments, 1) + std::string(20000, '\0');
  };

  struct Case {
    const char* what;
    std::string bytes;
    std::function<void(const ml::TTagInfo&)> check;
  } cases[] = {
      {"ID3v2 frame size far past the tag",
       Tag(3, "TIT2" + BE32(0x7FFFFFF0) + std::string(2, '\0') + std::string("\0Title", 6), 0, 20) + audio,
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TMPEGaudio>().ID3v2.Title, ""); }},
      {"ID3v2 zero-length frame before a good one",
       Tag(3, "TIT2" + BE32(0) + std::string(2, '\0') + Frame(3, "TPE1", std::string("\0Next", 5))) + audio,
       [](const ml::TTagInfo& t) {
         EXPECT_EQ(t.Reader<ml::TMPEGaudio>().ID3v2.Title, "");
         EXPECT_EQ(t.Reader<ml::TMPEGaudio>().ID3v2.Artist, "Next");
       }},
      {"ID3v2 tag larger than the file",
       std::string("ID3\x03\0\0\x7F\x7F\x7F\x7F", 10) + Frame(3, "TIT2", std::string("\0T", 2)) + audio,
       [](const ml::TTagInfo& t) {
         EXPECT_EQ(t.Reader<ml::TMPEGaudio>().ID3v2.Size, 0u);
         EXPECT_EQ(t.Reader<ml::TMPEGaudio>().ID3v2.Title, "");
       }},
      {"ID3v2 extended header size past the tag",
       Tag(3, BE32(0xFFFFFFF0) + Frame(3, "TIT2", std::string("\0T", 2)), 0x40) + audio,
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TMPEGaudio>().ID3v2.Title, ""); }},
      {"ID3v2 text frame holding only the encoding byte",
       Tag(4, Frame(4, "TIT2", "\x01") + Frame(4, "TALB", "\x03")) + audio,
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TMPEGaudio>().ID3v2.Title, ""); }},
      {"ID3v2 UTF-16 with an odd byte count", Tag(3, Frame(3, "TIT2", std::string("\x01\xFF\xFE" "A\0B", 6))) + audio,
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TMPEGaudio>().ID3v2.Title, "A"); }},
      {"APE tag size beyond the file", apeTag(0xFFFFFFF0, 1, 5, "Hello"),
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TAPEtag>().Title, ""); }},
      {"APE value size beyond the tag", apeTag(32 + 19, 1, 0x7FFFFFFF, "Hello"),
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TAPEtag>().Title, ""); }},
      {"APE item count far above the items", apeTag(32 + 19, 0xFFFFFFFF, 5, "Hello"),
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TAPEtag>().Title, "Hello"); }},
      {"ASF object of size zero", asf(5, cdo + LE64(0) + std::string(10, '\0')),
       [](const ml::TTagInfo& t) { EXPECT_FALSE(t.Reader<ml::TWMAfile>().Valid); }},
      {"ASF object count far above the objects", asf(0xFFFFFFFF, cdo + LE64(34) + std::string(10, '\0')),
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TWMAfile>().Title, ""); }},
      {"ASF string lengths past the object",
       asf(1, cdo + LE64(34 + 4) + LE16(0xFFFF) + LE16(0) + LE16(0) + LE16(0) + LE16(0) + "ab"),
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TWMAfile>().Title, ""); }},
      {"Vorbis vendor length beyond the packet", ogg(LE32(0xFFFFFFFF) + "vendor"),
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TOggVorbis>().Vendor, ""); }},
      {"Vorbis comment count far above the comments", ogg(LE32(1) + "v" + LE32(0xFFFFFFFF) + LE32(7) + "TITLE=x"),
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TOggVorbis>().Title, "x"); }},
      {"Vorbis comment length beyond the packet", ogg(LE32(1) + "v" + LE32(2) + LE32(7) + "TITLE=x" + LE32(1000) + "ARTIST=y"),
       [](const ml::TTagInfo& t) {
         EXPECT_EQ(t.Reader<ml::TOggVorbis>().Title, "x");
         EXPECT_EQ(t.Reader<ml::TOggVorbis>().Artist, "");
       }},
      {"Ogg page with a segment table past the end", std::string("OggS\0\x02", 6) + std::string(20, '\0') + "\xFF",
       [](const ml::TTagInfo& t) { EXPECT_FALSE(t.Reader<ml::TOggVorbis>().Valid()); }},
      {"WAV data chunk larger than the file",
       "RIFF" + LE32(0xFFFFFFFF) + "WAVEfmt " + LE32(16) + LE16(1) + LE16(1) + LE32(8000) + LE32(8000) + LE16(1) +
           LE16(8) + "data" + LE32(0xFFFFFFF0) + std::string(800, '\x80'),
       [](const ml::TTagInfo& t) {
         EXPECT_TRUE(t.Reader<ml::TWAVfile>().Valid);
         EXPECT_EQ(std::lround(t.Reader<ml::TWAVfile>().Duration() * 1000), 100);
       }},
      {"WAV INFO item running past its list",
       Wav(RiffChunk("LIST", "INFO" + RiffChunk("INAM", std::string("Kept\0", 5)) + "IART" + LE32(1000) + "Lost")),
       [](const ml::TTagInfo& t) {
         EXPECT_EQ(t.Reader<ml::TWAVfile>().InfoTags.Title, "Kept");
         EXPECT_EQ(t.Reader<ml::TWAVfile>().InfoTags.Artist, "");
       }},
      {"WAV LIST chunk larger than the file",
       Wav(RiffChunk("data", std::string(100, '\0')) + "LIST" + LE32(0xFFFFFFF0) + "INFO" +
           RiffChunk("INAM", std::string("Kept\0", 5))),
       [](const ml::TTagInfo& t) { EXPECT_EQ(t.Reader<ml::TWAVfile>().InfoTags.Title, "Kept"); }},
      {"WAV id3 chunk smaller than its tag",
       Wav(RiffChunk("id3 ", Tag(3, Frame(3, "TIT2", std::string("\0Title", 6))).substr(0, 20)) +
           RiffChunk("data", std::string(100, '\0'))),
       [](const ml::TTagInfo& t) {
         EXPECT_TRUE(t.Reader<ml::TWAVfile>().Valid);
         EXPECT_EQ(t.Reader<ml::TWAVfile>().ID3v2.Title, "");
       }},
      {"WAV chunk sizes that loop", "RIFF" + LE32(100) + "WAVE" + "JUNK" + LE32(0xFFFFFFF8) + std::string(40, '\0'),
       [](const ml::TTagInfo& t) { EXPECT_FALSE(t.Reader<ml::TWAVfile>().Valid); }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMemorySource src(c.bytes);
    ml::TTagInfo tags;
    tags.Load(src);
    c.check(tags);
  }
}
