#include "base/GbkText.h"
#include "base/EventLoop.h"
#include "app/uLRShareMemory.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string UniqueName() {
  static std::atomic<int> n{0};
  return "/mltest-mailbox-" + std::to_string(::getpid()) + "-" + std::to_string(n++);
}

class Mailbox : public ::testing::Test {
protected:
  void TearDown() override { ml::TLRShareMemory::Unlink(name); }
  std::string name = UniqueName();
};

struct Recorder : ml::IMailboxCommands {
  std::vector<std::string> calls;
  void MailboxPlayLink(const std::string& t) override { calls.push_back("1:" + t); }
  void MailboxSearch(const std::string& t) override { calls.push_back("2:" + t); }
  void MailboxProgrammeList(const std::string& t, uint8_t a) override { calls.push_back("3/" + std::to_string(a) + ":" + t); }
  void MailboxPlayLinks(const std::string& t, uint8_t a) override { calls.push_back("6/" + std::to_string(a) + ":" + t); }
  void MailboxDownloadLinks(const std::string& t, uint8_t a) override { calls.push_back("7/" + std::to_string(a) + ":" + t); }
  void MailboxLinkKind8(const std::string& t) override { calls.push_back("8:" + t); }
};

// The record as an outside program leaves it, with any length field it likes.
ml::TShareMailbox Record(uint8_t code, uint8_t arg, const std::string& text, int lengthField = -1) {
  ml::TShareMailbox m;
  m.bytes[4] = code;
  m.bytes[5] = arg;
  uint16_t len = lengthField < 0 ? static_cast<uint16_t>(text.size()) : static_cast<uint16_t>(lengthField);
  m.bytes[6] = static_cast<uint8_t>(len);
  m.bytes[7] = static_cast<uint8_t>(len >> 8);
  std::copy_n(text.begin(), std::min(text.size(), ml::MailboxTextCapacity), m.bytes.begin() + 8);
  return m;
}

TEST_F(Mailbox, CreatedZeroFilledPrivateAndSharedBetweenMappings) {
  std::string error;
  auto a = ml::TLRShareMemory::Open(name, ::getuid(), &error);
  ASSERT_TRUE(a) << error;
  auto b = ml::TLRShareMemory::Open(name, ::getuid(), &error);
  ASSERT_TRUE(b) << error;
  ml::TShareMailbox empty = a->Snapshot();
  EXPECT_TRUE(std::all_of(empty.bytes.begin(), empty.bytes.end(), [](uint8_t v) { return v == 0; }));
  ASSERT_TRUE(b->WriteCommand(7, 3, "lirra3://x"));
  b->WriteWindowHandle(0x01020304);
  ml::TShareMailbox seen = a->Snapshot();
  EXPECT_EQ(seen.Command(), 7);
  EXPECT_EQ(seen.Argument(), 3);
  EXPECT_EQ(seen.Length(), 10);
  EXPECT_EQ(seen.WindowHandle(), 0x01020304u);
  EXPECT_EQ(seen.bytes[0], 0x04);  // little-endian on the wire whatever the host
  int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
  struct stat st{};
  ASSERT_EQ(::fstat(fd, &st), 0);
  ::close(fd);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 5120);
  EXPECT_FALSE(b->WriteCommand(1, 0, std::string(5113, 'x')));
}

TEST_F(Mailbox, RefusesForeignOwnerLooseModeAndWrongSize) {
  ASSERT_TRUE(ml::TLRShareMemory::Open(name, ::getuid()));
  std::string error;
  EXPECT_FALSE(ml::TLRShareMemory::Open(name, ::getuid() + 1, &error));
  EXPECT_NE(error.find("owned by user"), std::string::npos) << error;

  int fd = ::shm_open(name.c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fchmod(fd, 0666), 0);
  EXPECT_FALSE(ml::TLRShareMemory::Open(name, ::getuid(), &error));
  EXPECT_NE(error.find("other users"), std::string::npos) << error;
  ASSERT_EQ(::fchmod(fd, 0600), 0);
  ASSERT_EQ(::ftruncate(fd, 4096), 0);
  ::close(fd);
  EXPECT_FALSE(ml::TLRShareMemory::Open(name, ::getuid(), &error));
  EXPECT_NE(error.find("size 4096"), std::string::npos) << error;
  EXPECT_FALSE(ml::TLRShareMemory::Open("no-slash", ::getuid()));
}

TEST(MailboxParse, LengthsCodesAndTextRules) {
  const std::string full(5111, 'a');
  struct Case {
    ml::TShareMailbox record;
    std::optional<std::string> text;
  } cases[] = {
      {Record(1, 0, "lirra3://song"), "lirra3://song"},
      {Record(1, 0, "  a%20b%20%20c  "), "a b  c"},
      {Record(2, 0, "%20 %20"), std::nullopt},             // nothing left after the clean-up
      {Record(1, 0, "x", 0), std::nullopt},                // length 0
      {Record(1, 0, full), full},                          // 5111: the largest taken
      {Record(1, 0, full + "b"), std::nullopt},            // 5112
      {Record(1, 0, full + "b", 5113), std::nullopt},      // past the text area
      {Record(1, 0, full + "b", 65535), std::nullopt},
      {Record(0, 0, "x"), std::nullopt},                   // no command
      {Record(16, 0, "x"), std::nullopt},
      {Record(2, 0, ml::Utf8ToGbk("周杰伦 稻香")), "周杰伦 稻香"},  // GBK in, UTF-8 out
  };
  for (const auto& c : cases) {
    auto cmd = ml::ParseMailboxCommand(c.record);
    ASSERT_EQ(cmd.has_value(), c.text.has_value()) << c.record.Length();
    if (cmd) {
      EXPECT_EQ(cmd->text, *c.text);
    }
  }
}

TEST(MailboxParse, DispatchByCodeWithArgument) {
  Recorder r;
  for (uint8_t code : {1, 2, 3, 4, 5, 6, 7, 8, 9, 15}) {
    auto cmd = ml::ParseMailboxCommand(Record(code, 9, "t"));
    ASSERT_TRUE(cmd);
    ml::DispatchMailboxCommand(*cmd, r);
  }
  EXPECT_EQ(r.calls, (std::vector<std::string>{"1:t", "2:t", "3/9:t", "6/9:t", "7/9:t", "8:t"}));
}

TEST_F(Mailbox, ReaderTakesCommandsOnTheMainThreadAndClearsThem) {
  auto mem = ml::TLRShareMemory::Open(name, ::getuid());
  auto writer = ml::TLRShareMemory::Open(name, ::getuid());
  ASSERT_TRUE(mem && writer);
  ml::ManualLoop loop;
  Recorder r;
  ml::TMailboxReader reader(*mem, loop, r, 4242);

  // Written before the program ran: taken when the main window is shown.
  writer->WriteCommand(6, 2, "a|b");
  reader.MainWindowShown();
  EXPECT_TRUE(r.calls.empty());  // queued, not run inline
  loop.ProcessPending();
  EXPECT_EQ(r.calls, std::vector<std::string>{"6/2:a|b"});
  EXPECT_EQ(writer->Snapshot().Command(), 0);
  EXPECT_EQ(writer->Snapshot().WindowHandle(), 4242u);

  // A length the reader must not take is cleared all the same.
  writer->WriteCommand(1, 0, std::string(5112, 'z'));
  EXPECT_EQ(reader.Look(), 1);
  loop.ProcessPending();
  EXPECT_EQ(r.calls.size(), 1u);
  EXPECT_EQ(writer->Snapshot().Command(), 0);

  writer->WriteCommand(2, 0, "hello%20world");
  reader.Look();
  loop.ProcessPending();
  EXPECT_EQ(r.calls.back(), "2:hello world");

  // A command taken just as the window (and its reader) goes is dropped, not run on it.
  {
    ml::TMailboxReader leaving(*mem, loop, r, 4242);
    writer->WriteCommand(8, 0, "late");
    leaving.Look();
  }
  loop.ProcessPending();
  EXPECT_EQ(r.calls.back(), "2:hello world");
}

}  // namespace
