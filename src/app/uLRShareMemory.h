#pragma once
// The shared-memory mailbox through which an outside program (the browser helper) hands service
// links to the running player. It is a POSIX shared-memory object of this user, mode 0600, laid
// out byte for byte as the mailbox always was (little-endian, packed):
//   0  4     the running player's handle (its process id here; 0 = none running)
//   4  1     command code, 0 = none; set by the writer last, cleared when taken
//   5  1     command argument
//   6  2     text length in bytes
//   8  5112  text (GBK)
// There is no lock: the writer fills text and length, then the command byte; the player copies
// the whole record before it looks at any field.
#include "base/Dispatcher.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace ml {

inline constexpr std::size_t MailboxSize = 5120;
inline constexpr std::size_t MailboxTextOffset = 8;
inline constexpr std::size_t MailboxTextCapacity = MailboxSize - MailboxTextOffset;  // 5112
// A command is taken only with a length from 1 to this.
inline constexpr std::size_t MailboxMaxTakenLength = MailboxTextCapacity - 1;

// One copy of the whole record, and the fields read from it.
struct TShareMailbox {
  std::array<uint8_t, MailboxSize> bytes{};

  uint32_t WindowHandle() const;
  uint8_t Command() const { return bytes[4]; }
  uint8_t Argument() const { return bytes[5]; }
  uint16_t Length() const;
};

// The mapping. Open() maps an existing mailbox or creates a zero-filled one; it refuses an object
// that another user owns, that others may read or write, or whose size is not MailboxSize.
class TLRShareMemory {
public:
  // "/Lirra3MappingFile-<uid>": one mailbox per user.
  static std::string DefaultName(uid_t uid);

  static std::unique_ptr<TLRShareMemory> Open(const std::string& name, uid_t expectedOwner,
                                              std::string* error = nullptr);
  ~TLRShareMemory();
  TLRShareMemory(const TLRShareMemory&) = delete;
  TLRShareMemory& operator=(const TLRShareMemory&) = delete;

  // Removes the name (the objects already mapped stay valid). Tests and uninstall use it.
  static bool Unlink(const std::string& name);

  TShareMailbox Snapshot() const;
  void WriteWindowHandle(uint32_t handle);
  void ClearCommand();
  // The writer's side: text (GBK bytes) and length first, the command byte last. Returns false
  // when the text does not fit.
  bool WriteCommand(uint8_t command, uint8_t argument, std::string_view gbkText);

  const std::string& Name() const { return name_; }

private:
  TLRShareMemory(std::string name, volatile uint8_t* base) : name_(std::move(name)), base_(base) {}
  std::string name_;
  volatile uint8_t* base_;
};

// A command taken from the mailbox, its text decoded to UTF-8, "%20" turned into blanks, trimmed.
struct TMailboxCommand {
  uint8_t code = 0;
  uint8_t argument = 0;
  std::string text;
};

// Reads the command out of a copy: nullopt for codes outside 1..15, a length of 0 or over
// MailboxMaxTakenLength, or a text that is empty after the clean-up.
std::optional<TMailboxCommand> ParseMailboxCommand(const TShareMailbox& copy);

// What the mailbox commands do; the services module and the main window implement them.
class IMailboxCommands {
public:
  virtual ~IMailboxCommands() = default;
  virtual void MailboxPlayLink(const std::string& link) = 0;                       // 1
  virtual void MailboxSearch(const std::string& text) = 0;                         // 2
  virtual void MailboxProgrammeList(const std::string& text, uint8_t arg) = 0;     // 3
  virtual void MailboxPlayLinks(const std::string& links, uint8_t arg) = 0;        // 6
  virtual void MailboxDownloadLinks(const std::string& links, uint8_t arg) = 0;    // 7
  virtual void MailboxLinkKind8(const std::string& text) = 0;                      // 8
};

// Calls the handler for the command's code; other codes are ignored. Returns whether one was called.
bool DispatchMailboxCommand(const TMailboxCommand& cmd, IMailboxCommands& handler);

// The running player's side of the mailbox.
class TMailboxReader {
public:
  TMailboxReader(TLRShareMemory& memory, Dispatcher& dispatcher, IMailboxCommands& handler,
                 uint32_t ownHandle);

  // Look at the mailbox: copies it, queues the command for the main thread when it is one to
  // take, then writes the own handle and clears the command byte. Returns 1 (the answer to the
  // outside program's request).
  int Look();
  // The main window is up (created or shown): writes the own handle.
  void Announce();
  // The main window has been shown: announces and takes a command written before it ran.
  void MainWindowShown();
  // The main window is gone: the handle is cleared (when it is still ours).
  void Withdraw();

private:
  TLRShareMemory& memory_;
  Dispatcher& dispatcher_;
  // Commands posted to the main thread hold the handler weakly: one that arrives after the
  // reader (and the window it serves) has gone is dropped.
  std::shared_ptr<IMailboxCommands*> handler_;
  uint32_t ownHandle_;
};

}  // namespace ml
