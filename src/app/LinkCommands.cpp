#include "app/LinkCommands.h"

#include "app/ServiceLink.h"
#include "app/ServicesSeams.h"
#include "app/ServicesShell.h"
#include "app/uSettingMgr.h"
#include "base/DebugTrace.h"
#include "base/GbkText.h"
#include "net/LRUDPClient.h"
#include "net/SearchRecords.h"
#include "net/uServerListManager.h"
#include "online/uLogin.h"

namespace ml {

void TLinkCommands::MailboxPlayLink(const std::string& text) {
  const std::optional<TSongLink> link = ParseSongLink(text);
  if (!link) {
    DebugTrace("%s", LinkFormatFailedTrace);
    return;
  }
  if (!songs_) return;
  ctx_.Shell.BringMainWindowUp();
  songs_->ClearSelection();
  songs_->AddOnlineSong(link->Song(), true);
  if (ctx_.Settings.WebBillClickMsg)
    ctx_.Shell.ShowNotice({ctx_.AppTitle, LinkSongAddedText + link->Title(), "", true, SongAddedNoticeMs});
}

void TLinkCommands::MailboxSearch(const std::string& text) { ctx_.Shell.StartSearch(text); }

void TLinkCommands::MailboxProgrammeList(const std::string& text, uint8_t arg) {
  const std::optional<std::string> name = ctx_.ProgrammeLists.TakeProgrammeList(text, arg);
  ctx_.Shell.BringMainWindowUp();
  if (name && ctx_.Settings.WebBillClickMsg)
    ctx_.Shell.ShowNotice({ctx_.AppTitle, LinkListAddedText + *name, "", false, ListAddedNoticeMs});
}

// Web pages still send the play-list command; it was never more than checked.
void TLinkCommands::MailboxPlayLinks(const std::string& links, uint8_t arg) { SplitLinkList(links, arg); }

void TLinkCommands::MailboxDownloadLinks(const std::string& links, uint8_t arg) {
  const auto parts = SplitLinkList(links, arg);
  if (!parts || !songs_) return;
  const size_t before = songs_->SongCount();
  for (const std::string& part : *parts)
    if (auto song = ParseLinkListPart(part)) songs_->AddOnlineSong(*song, false);
  if (songs_->SongCount() > before) songs_->PlaySong(before);
}

void TLinkCommands::MailboxLinkKind8(const std::string& text) {
  const std::optional<TOnlineSong> song = LookUpSong(text);
  if (song && songs_) songs_->AddOnlineSong(*song, true);
}

std::optional<TOnlineSong> TLinkCommands::LookUpSong(const std::string& name) {
  uint16_t port = 0;
  uint32_t ip = 0;
  if (!ctx_.Servers.ServerFor(ctx_.User.UserID, TSongLookupRequest::Code, port, ip)) return std::nullopt;
  uint8_t buf[1500];
  TCmdStream s;
  s.InitWrite(buf, sizeof buf);
  // A name longer than the record holds is cut on a whole character.
  if (!WriteSongLookupRequest(s, {Utf8ToGbkTruncated(name, 255)})) return std::nullopt;
  const int32_t requestLength = s.Size();
  uint8_t reply[1500];
  for (int attempt = 0; attempt < LookupTries && !ctx_.Closing; ++attempt) {
    int32_t replyLength = 0;
    if (!ctx_.Udp.SendWaitTable(ip, port, LookupWaitMs, 0, replyLength, reply, sizeof reply, requestLength, buf))
      continue;
    TSongLookupReply r;
    if (!ReadSongLookupReply(reply, size_t(replyLength), r)) return std::nullopt;
    TOnlineSong song;
    song.Digest.v = r.Digest;
    if (LRMD5::MD5DigestIsZero(song.Digest)) return std::nullopt;
    song.Title = GbkToUtf8(r.FileName);
    song.FileSize = r.FileSize > 0 ? uint64_t(r.FileSize) : 0;
    return song;
  }
  return std::nullopt;
}

}  // namespace ml
