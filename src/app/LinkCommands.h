#pragma once
// The mailbox commands that web pages send the running player (song links, link lists, a search,
// a programme list, a song by name), carried out on the main thread. The services module owns
// this; the main window's mailbox reader calls it.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/OnlineSongTarget.h"
#include "app/uLRShareMemory.h"

namespace ml {

class IProgrammeLists;
class IServicesShell;
class TLRUDPClient;
class TServerListManager;
class TSettingMgr;
class TUserInfo;

struct TLinkCommandsContext {
  TLRUDPClient& Udp;
  TServerListManager& Servers;
  TUserInfo& User;
  IServicesShell& Shell;
  IProgrammeLists& ProgrammeLists;
  const TSettingMgr& Settings;  // WebBillClickMsg: say what a web page added
  std::string AppTitle;
  const std::atomic<bool>& Closing;  // the program is closing: no further tries
};

inline constexpr const char* LinkFormatFailedTrace = "format falied!";
inline constexpr const char* LinkSongAddedText = "成功添加节目单歌曲：";
inline constexpr const char* LinkListAddedText = "成功添加节目单：";

class TLinkCommands final : public IMailboxCommands {
public:
  static constexpr int32_t LookupWaitMs = 5000;
  static constexpr int LookupTries = 2;
  static constexpr int32_t SongAddedNoticeMs = 10000;
  static constexpr int32_t ListAddedNoticeMs = 3000;

  explicit TLinkCommands(TLinkCommandsContext context) : ctx_(std::move(context)) {}

  // The current playlist, once the main window has one (commands before are dropped).
  void SetSongTarget(IOnlineSongTarget* songs) { songs_ = songs; }

  void MailboxPlayLink(const std::string& link) override;                    // 1
  void MailboxSearch(const std::string& text) override;                      // 2
  void MailboxProgrammeList(const std::string& text, uint8_t arg) override;  // 3
  void MailboxPlayLinks(const std::string& links, uint8_t arg) override;     // 6
  void MailboxDownloadLinks(const std::string& links, uint8_t arg) override; // 7
  void MailboxLinkKind8(const std::string& text) override;                   // 8

  // Asks the song-lookup server for a song by name (up to LookupTries waits of LookupWaitMs);
  // nullopt without an answer or a known song.
  std::optional<TOnlineSong> LookUpSong(const std::string& name);

private:
  TLinkCommandsContext ctx_;
  IOnlineSongTarget* songs_ = nullptr;
};

}  // namespace ml
