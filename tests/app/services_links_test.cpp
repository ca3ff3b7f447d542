// The mailbox's link commands: the song-link rules, link lists, and the song lookup by name.
#include <atomic>
#include <thread>

#include "app/ServiceLink.h"
#include "app/uLRShareMemory.h"
#include "base/GbkText.h"
#include "library/PlayListController.h"
#include "net/SearchRecords.h"
#include "tests/app/ServicesFixture.h"

namespace {

using namespace mltest;
using ml::TSongLink;

struct LinkCase {
  const char* name;
  std::string text;
  bool valid;
  uint8_t kind = 0;
  bool multiPart = false;
  std::string fileName = "";
  int64_t size = 0;
};

TEST(SongLink, Rules) {
  const std::string d = Hex32('b');
  const LinkCase cases[] = {
      {"plain song", "lirra3://|Music|song|4000000|" + d + "|", true, ml::lkMusic, false, "song.mp3", 4000000},
      {"31-digit digest", "lirra3://|Music|song|4000000|" + std::string(31, 'b') + "|", false},
      {"33-digit digest", "lirra3://|Music|song|4000000|" + std::string(33, 'b') + "|", false},
      {"digest not hex", "lirra3://|Music|song|4000000|" + std::string(31, 'b') + "g|", false},
      {"scheme in capitals", "LIRRA://|Music|a.wma|10|" + d + "|", true, ml::lkMusic, false, "a.wma", 10},
      {"other scheme", "tavro://|Music|a.MP3|10|" + d + "|", true, ml::lkMusic, false, "a.MP3", 10},
      {"foreign scheme", "http://|Music|a.mp3|10|" + d + "|", false},
      {"several parts", "lirra3://|Music*|a.ogg|10|" + d + "|", true, ml::lkMusicParts, true, "a.ogg", 10},
      {"update", "lirra3://|P2PUpdate|up.ape|10|" + d + "|", true, ml::lkP2PUpdate, false, "up.ape", 10},
      {"any other kind", "lirra3://|Video|v.avi|10|" + d + "|", true, ml::lkOther, false, "v.avi", 10},
      {"other kind in parts", "lirra3://|Video*|v.avi|0|" + d + "|", true, ml::lkOther, true, "v.avi", 0},
      {"size 0 reads 1024", "lirra3://|Music|s.wav|0|" + d + "|", true, ml::lkMusic, false, "s.wav", 1024},
      {"largest song", "lirra3://|Music|s|104857599|" + d + "|", true, ml::lkMusic, false, "s.mp3", 104857599},
      {"song too large", "lirra3://|Music|s|104857600|" + d + "|", false},
      {"negative size", "lirra3://|Music|s|-5|" + d + "|", false},
      {"size no integer", "lirra3://|Music|s|12a|" + d + "|", false},
      {"largest other", "lirra3://|X|f.bin|1073741823|" + d + "|", true, ml::lkOther, false, "f.bin", 1073741823},
      {"other too large", "lirra3://|X|f.bin|1073741824|" + d + "|", false},
      {"other negative", "lirra3://|X|f.bin|-1|" + d + "|", false},
      {"extension not playable", "lirra3://|Music|notes.txt|10|" + d + "|", false},
      {"play list extension", "lirra3://|Music|list.m3u|10|" + d + "|", true, ml::lkMusic, false, "list.m3u", 10},
      {"four fields", "lirra3://|Music|s|10|", false},
      {"six fields", "lirra3://|Music|s|10|" + d + "|x|", false},
      {"text after the last field", "lirra3://|Music|s|10|" + d + "|x", false},
      {"last field unterminated", "lirra3://|Music|s|10|" + d, false},
  };
  for (const LinkCase& c : cases) {
    const auto link = ml::ParseSongLink(c.text);
    ASSERT_EQ(link.has_value(), c.valid) << c.name;
    if (!link) continue;
    EXPECT_EQ(link->Kind, c.kind) << c.name;
    EXPECT_EQ(link->MultiPart, c.multiPart) << c.name;
    EXPECT_EQ(link->FileName, c.fileName) << c.name;
    EXPECT_EQ(link->Size, c.size) << c.name;
    EXPECT_EQ(ml::LRMD5::MD5DigestToStr(link->Digest), d) << c.name;
  }
}

TEST(SongLink, ListSplitsIntoExactlyTheCount) {
  EXPECT_FALSE(ml::SplitLinkList("a\\b\\", 3));
  EXPECT_EQ(*ml::SplitLinkList("a\\b\\", 2), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(*ml::SplitLinkList("a\\\\c\\", 3), (std::vector<std::string>{"a", "  ", "c"}));
  EXPECT_EQ(*ml::SplitLinkList("a\\b", 2), (std::vector<std::string>{"a", "b"}));  // last one unterminated
  EXPECT_FALSE(ml::SplitLinkList("a\\", 0));
}

// The mailbox's text as a web page writes it: GBK, whose second bytes may be "\" (0x5C) or "|"
// (0x7C). 乗 is 81 5C and 亅 is 81 7C.
std::string FromMailbox(uint8_t code, uint8_t arg, const std::string& utf8) {
  ml::TShareMailbox m;
  const std::string gbk = ml::Utf8ToGbk(utf8);
  m.bytes[4] = code;
  m.bytes[5] = arg;
  m.bytes[6] = uint8_t(gbk.size());
  m.bytes[7] = uint8_t(gbk.size() >> 8);
  std::copy(gbk.begin(), gbk.end(), m.bytes.begin() + 8);
  const auto cmd = ml::ParseMailboxCommand(m);
  return cmd ? cmd->text : std::string();
}

TEST_F(ServicesModule, SongLinkIsAddedAndPlayed) {
  ml::TDM& dm = Start();
  settings.WebBillClickMsg = true;
  ASSERT_EQ(ml::Utf8ToGbk("乗亅").substr(1, 1), "\\");
  dm.MailboxCommands().MailboxPlayLink(FromMailbox(1, 0, "lirra3://|Music|乗亅歌|4000000|" + Hex32() + "|"));
  EXPECT_EQ(songs.calls, (std::vector<std::string>{"clear", "add+play 乗亅歌"}));
  ASSERT_EQ(songs.songs.size(), 1u);
  EXPECT_EQ(songs.songs[0].FileSize, 4000000u);
  EXPECT_EQ(ml::LRMD5::MD5DigestToStr(songs.songs[0].Digest), Hex32());
  EXPECT_EQ(shell.calls, (std::vector<std::string>{"tray 听歌", "up", "notice"}));
  EXPECT_EQ(shell.notices[0], (ml::TNotice{"迷你琴鸟", "成功添加节目单歌曲：乗亅歌", "", true, 10000}));

  // A bad link changes nothing.
  dm.MailboxCommands().MailboxPlayLink("lirra3://|Music|song|4000000|" + std::string(31, 'a') + "|");
  EXPECT_EQ(songs.songs.size(), 1u);
  EXPECT_EQ(shell.calls.size(), 3u);
}

TEST_F(ServicesModule, LinkListAddsItsPartsAndPlaysTheFirstNewOne) {
  ml::TDM& dm = Start();
  const std::string d = Hex32('c');
  struct Case {
    const char* name;
    uint8_t arg;
    std::string text;
    std::vector<std::string> calls;
  } cases[] = {
      {"two parts where three were announced", 3, "a.mp3|1|" + d + "|\\b.mp3|2|" + d + "|\\", {}},
      {"two parts", 2, "a.mp3|1|" + d + "\\乗.wma|2|xyz\\", {"add a", "add 乗", "play 0"}},
      {"an empty part", 3, "亅.mp3|1|" + d + "\\\\c|1|" + d + "\\", {"add 亅", "add c", "play 0"}},
      {"parts of two fields only", 2, "a|1\\b|2\\", {}},
  };
  for (const Case& c : cases) {
    songs = RecordingSongs{};
    dm.MailboxCommands().MailboxDownloadLinks(FromMailbox(7, c.arg, c.text), c.arg);
    EXPECT_EQ(songs.calls, c.calls) << c.name;
  }
  // The digest is taken when it is 32 hexadecimal digits, else all zero.
  songs = RecordingSongs{};
  songs.songs.resize(5);
  dm.MailboxCommands().MailboxDownloadLinks("a.mp3|1|" + d + "\\b.mp3|2|xyz\\", 2);
  EXPECT_EQ(songs.calls.back(), "play 5");
  EXPECT_EQ(ml::LRMD5::MD5DigestToStr(songs.songs[5].Digest), d);
  EXPECT_TRUE(ml::LRMD5::MD5DigestIsZero(songs.songs[6].Digest));

  // Command 6 is taken and split, and does nothing.
  songs = RecordingSongs{};
  dm.MailboxCommands().MailboxPlayLinks("a.mp3|1|" + d + "\\", 1);
  EXPECT_TRUE(songs.calls.empty());
}

struct PlayerHost : ml::IPlayListHost {
  std::vector<ml::TShareFileInfo*> played;
  void PlayEntryRequested(ml::TShareFileInfo* e) override { played.push_back(e); }
  void StopRequested() override {}
  bool ConfirmDeleteFiles(int) override { return false; }
};

TEST_F(ServicesModule, LinksReachTheRealPlaylist) {
  ml::TMusicFileMgr library;
  library.NewPlayList("[默认]");
  PlayerHost host;
  ml::TPlayListController playlist(library, host, {}, 1);
  ml::TPlayListSongTarget target(playlist, library);
  ml::TDM& dm = Start();
  dm.SetSongTarget(&target);

  dm.MailboxCommands().MailboxPlayLink("lirra://|Music|歌.wma|0|" + Hex32('d') + "|");
  ASSERT_EQ(playlist.Songs().size(), 1u);
  const ml::TShareFileInfo* song = playlist.Songs()[0];
  EXPECT_TRUE(song->Encrypt);
  EXPECT_EQ(song->Caption, "歌");
  EXPECT_EQ(song->FileSize, 1024u);
  EXPECT_EQ(ml::LRMD5::MD5DigestToStr(song->FileHash), Hex32('d'));
  ASSERT_EQ(host.played.size(), 1u);
  EXPECT_EQ(host.played[0], song);

  // A list whose first song is already there: the list grows by one, and that one plays.
  dm.MailboxCommands().MailboxDownloadLinks("歌.wma|1|" + Hex32('d') + "\\\\new.mp3|1|" + Hex32('e') + "\\", 3);
  ASSERT_EQ(playlist.Songs().size(), 2u);
  ASSERT_EQ(host.played.size(), 2u);
  EXPECT_EQ(host.played[1]->Caption, "new");
}

TEST_F(ServicesModule, SearchAndProgrammeListGoToTheDesktop) {
  ml::TDM& dm = Start();
  settings.WebBillClickMsg = true;
  dm.MailboxCommands().MailboxSearch("周杰伦");
  // No programme-list manager yet: the window comes up and no list is announced.
  dm.MailboxCommands().MailboxProgrammeList("list text", 1);
  EXPECT_EQ(shell.calls, (std::vector<std::string>{"tray 听歌", "search 周杰伦", "up"}));
}

// A song-lookup server on loopback: answers each request for name with reply, counts all.
class LookupServer {
public:
  LookupServer(std::string name, std::optional<ml::TSongLookupReply> reply)
      : name_(ml::Utf8ToGbk(name)), reply_(std::move(reply)), thread_([this] { Run(); }) {}
  ~LookupServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t Port() const { return peer_.Port(); }
  int Requests() const { return requests_; }

private:
  void Run() {
    while (!stop_) {
      auto d = peer_.Receive(std::chrono::milliseconds(20));
      if (!d) continue;
      ml::TOpenedEnvelope env;
      ml::TSongLookupRequest req;
      if (!ml::OpenEnvelope(d->data.data(), d->data.size(), env) || env.Kind != ml::Envelope::Table ||
          !ml::ReadSongLookupRequest(env.Payload, env.PayloadLength, req) || req.Name != name_)
        continue;
      ++requests_;
      if (!reply_) continue;
      const mlnettest::Bytes answer =
          mlnettest::EnvelopeBytes(ml::Envelope::Table, env.Guid, mlnettest::Written(ml::WriteSongLookupReply, *reply_));
      peer_.Send(d->ip, d->port, answer.data(), answer.size());
    }
  }
  mlnettest::TUdpPeer peer_;
  std::string name_;
  std::optional<ml::TSongLookupReply> reply_;
  std::atomic<int> requests_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(ServicesModule, SongByNameIsLookedUpAndPlayed) {
  ml::TSongLookupReply reply;
  reply.FileName = ml::Utf8ToGbk("七里香");
  reply.Extension = ".mp3";
  reply.Digest.fill(0x5A);
  reply.FileSize = reply.SizeHeld = 4321000;
  LookupServer server("周杰伦 - 七里香", reply);
  PointServersAt(server.Port());
  ml::TDM& dm = Start();
  dm.MailboxCommands().MailboxLinkKind8("周杰伦 - 七里香");
  EXPECT_EQ(songs.calls, (std::vector<std::string>{"add+play 七里香"}));
  EXPECT_EQ(songs.songs[0].FileSize, 4321000u);
  EXPECT_EQ(songs.songs[0].Digest.v, reply.Digest);
  EXPECT_EQ(server.Requests(), 1);
}

TEST_F(ServicesModule, UnknownSongByNameAddsNothing) {
  LookupServer server("nobody", ml::TSongLookupReply{});  // all-zero digest: no such song
  PointServersAt(server.Port());
  ml::TDM& dm = Start();
  dm.MailboxCommands().MailboxLinkKind8("nobody");
  EXPECT_TRUE(songs.calls.empty());
  EXPECT_EQ(server.Requests(), 1);
}

TEST_F(ServicesModule, SongByNameGivesUpAfterTwoTries) {
  LookupServer server("silent", std::nullopt);
  PointServersAt(server.Port());
  ml::TDM& dm = Start();
  {
    mlnettest::TClockPump pump(loop.Manual(), std::chrono::milliseconds(20));
    dm.MailboxCommands().MailboxLinkKind8("silent");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the second request's arrival
  EXPECT_TRUE(songs.calls.empty());
  EXPECT_EQ(server.Requests(), 2);

  // Closing: no try at all.
  dm.BeginClose();
  dm.MailboxCommands().MailboxLinkKind8("silent");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(server.Requests(), 2);
}

}  // namespace
