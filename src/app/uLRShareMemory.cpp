#include "app/uLRShareMemory.h"

#include "base/ByteOrder.h"

#include "base/GbkText.h"
#include "base/StrUtil.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ml {

uint32_t TShareMailbox::WindowHandle() const { return LoadLE32(bytes.data()); }

uint16_t TShareMailbox::Length() const { return LoadLE16(bytes.data() + 6); }

std::string TLRShareMemory::DefaultName(uid_t uid) { return "/Lirra3MappingFile-" + std::to_string(uid); }

std::unique_ptr<TLRShareMemory> TLRShareMemory::Open(const std::string& name, uid_t expectedOwner,
                                                     std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<TLRShareMemory> {
    if (error) *error = "mailbox " + name + ": " + why;
    return nullptr;
  };
  if (name.size() < 2 || name[0] != '/' || name.find('/', 1) != std::string::npos)
    return fail("not a valid shared-memory name");
  int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return fail(std::strerror(errno));
  struct stat st{};
  std::string why;
  if (::fstat(fd, &st) != 0)
    why = std::strerror(errno);
  else if (st.st_uid != expectedOwner)
    why = "owned by user " + std::to_string(st.st_uid) + ", not by " + std::to_string(expectedOwner);
  else if ((st.st_mode & 077) != 0)
    why = "open to other users (mode " + std::to_string(st.st_mode & 0777) + ")";
  else if (st.st_size == 0 && ::ftruncate(fd, MailboxSize) != 0)  // new: the kernel zero-fills it
    why = std::strerror(errno);
  else if (st.st_size != 0 && static_cast<uint64_t>(st.st_size) != MailboxSize)
    why = "size " + std::to_string(st.st_size) + " instead of " + std::to_string(MailboxSize);
  if (!why.empty()) {
    ::close(fd);
    return fail(why);
  }
  void* p = ::mmap(nullptr, MailboxSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  int mapErrno = errno;
  ::close(fd);
  if (p == MAP_FAILED) return fail(std::strerror(mapErrno));
  return std::unique_ptr<TLRShareMemory>(new TLRShareMemory(name, static_cast<volatile uint8_t*>(p)));
}

TLRShareMemory::~TLRShareMemory() { ::munmap(const_cast<uint8_t*>(base_), MailboxSize); }

bool TLRShareMemory::Unlink(const std::string& name) { return ::shm_unlink(name.c_str()) == 0; }

TShareMailbox TLRShareMemory::Snapshot() const {
  TShareMailbox copy;
  for (std::size_t i = 0; i < MailboxSize; ++i) copy.bytes[i] = base_[i];
  return copy;
}

void TLRShareMemory::WriteWindowHandle(uint32_t handle) {
  // Byte by byte through the volatile view: another process reads this memory.
  uint8_t bytes[4];
  StoreLE32(bytes, handle);
  for (int i = 0; i < 4; ++i) base_[i] = bytes[i];
}

void TLRShareMemory::ClearCommand() { base_[4] = 0; }

bool TLRShareMemory::WriteCommand(uint8_t command, uint8_t argument, std::string_view gbkText) {
  if (gbkText.size() > MailboxTextCapacity) return false;
  for (std::size_t i = 0; i < gbkText.size(); ++i)
    base_[MailboxTextOffset + i] = static_cast<uint8_t>(gbkText[i]);
  base_[6] = static_cast<uint8_t>(gbkText.size());
  base_[7] = static_cast<uint8_t>(gbkText.size() >> 8);
  base_[5] = argument;
  __atomic_thread_fence(__ATOMIC_RELEASE);  // text and length visible before the command byte
  base_[4] = command;
  return true;
}

std::optional<TMailboxCommand> ParseMailboxCommand(const TShareMailbox& copy) {
  const uint8_t code = copy.Command();
  const std::size_t len = copy.Length();
  if (code < 1 || code > 15 || len < 1 || len > MailboxMaxTakenLength) return std::nullopt;
  std::string text = GbkToUtf8(std::string_view(reinterpret_cast<const char*>(copy.bytes.data()) +
                                                    MailboxTextOffset, len));
  // Links arrive URL-style; "%20" is the one escape the writers use.
  for (std::size_t pos = 0; (pos = text.find("%20", pos)) != std::string::npos; ++pos) text.replace(pos, 3, " ");
  text = std::string(Trim(text));
  if (text.empty()) return std::nullopt;
  return TMailboxCommand{code, copy.Argument(), std::move(text)};
}

bool DispatchMailboxCommand(const TMailboxCommand& cmd, IMailboxCommands& handler) {
  switch (cmd.code) {
    case 1: handler.MailboxPlayLink(cmd.text); return true;
    case 2: handler.MailboxSearch(cmd.text); return true;
    case 3: handler.MailboxProgrammeList(cmd.text, cmd.argument); return true;
    case 6: handler.MailboxPlayLinks(cmd.text, cmd.argument); return true;
    case 7: handler.MailboxDownloadLinks(cmd.text, cmd.argument); return true;
    case 8: handler.MailboxLinkKind8(cmd.text); return true;
    default: return false;
  }
}

TMailboxReader::TMailboxReader(TLRShareMemory& memory, Dispatcher& dispatcher, IMailboxCommands& handler,
                               uint32_t ownHandle)
    : memory_(memory),
      dispatcher_(dispatcher),
      handler_(std::make_shared<IMailboxCommands*>(&handler)),
      ownHandle_(ownHandle) {}

int TMailboxReader::Look() {
  // Copy first and judge only the copy: the writer may change the record at any moment.
  TShareMailbox copy = memory_.Snapshot();
  if (auto cmd = ParseMailboxCommand(copy)) {
    dispatcher_.Post([handler = std::weak_ptr<IMailboxCommands*>(handler_), cmd = std::move(*cmd)] {
      if (auto h = handler.lock()) DispatchMailboxCommand(cmd, **h);
    });
  }
  // A command that cannot be taken is cleared too, or it would be looked at again forever.
  memory_.WriteWindowHandle(ownHandle_);
  memory_.ClearCommand();
  return 1;
}

void TMailboxReader::Announce() { memory_.WriteWindowHandle(ownHandle_); }

void TMailboxReader::Withdraw() {
  if (memory_.Snapshot().WindowHandle() == ownHandle_) memory_.WriteWindowHandle(0);
}

void TMailboxReader::MainWindowShown() {
  Announce();
  TShareMailbox copy = memory_.Snapshot();
  if (copy.Command() != 0 && copy.Length() >= 1 && copy.Length() <= MailboxTextCapacity) Look();
}

}  // namespace ml
