#pragma once
// The wire's vocabulary: command codes (the first word of a command record), the status words
// that answers carry and the network kinds. Every sender and reader names them from here; a
// number stays a number only inside this file.
#include <cstdint>

namespace ml {

// Command codes. Codes are per server: the server-list server's 9 is not the playlist server's 9,
// and the partner service reuses some numbers with other meanings.
namespace Cmd {
constexpr uint16_t Login = 1;
constexpr uint16_t Logout = 2;
constexpr uint16_t PartnerKeepAlive = 3;
constexpr uint16_t Register = 4;
constexpr uint16_t PartnerReportKeyword = 4;
constexpr uint16_t PartnerReportSong = 5;
constexpr uint16_t PlaylistUploadPart = 8;
constexpr uint16_t ServerList = 9;
constexpr uint16_t PlaylistPart = 9;
constexpr uint16_t KeepAlive = 11;
constexpr uint16_t UsageReport = 12;
constexpr uint16_t Search = 14;
constexpr uint16_t Presence = 15;  // also the answer to a server presence check
constexpr uint16_t SongLookup = 17;
constexpr uint16_t TransferNotice = 18;
constexpr uint16_t CheckCode = 21;
constexpr uint16_t PeerFileRequestOld = 28;
constexpr uint16_t LyricSearch = 29;
constexpr uint16_t LyricSearchAlt = 129;
constexpr uint16_t LyricDownload = 30;
constexpr uint16_t PlaylistDownloadStart = 35;
constexpr uint16_t PeerRequestOld36 = 36;
constexpr uint16_t PlaylistUploadStart = 37;
constexpr uint16_t NetTypeResult = 39;
constexpr uint16_t NetTypeCheck = 41;
constexpr uint16_t RelayFileRequest = 42;
constexpr uint16_t ServerPresenceCheck = 49;
constexpr uint16_t PeerFileRequest = 50;
constexpr uint16_t PeerFileAnswer = 51;
constexpr uint16_t PeerBlockRequest = 52;
constexpr uint16_t PeerTransfer53 = 53;
constexpr uint16_t CheckUserName = 68;
constexpr uint16_t KeywordSuggest = 80;
constexpr uint16_t HashSources = 257;
constexpr uint16_t PeerTransfer265 = 265;
constexpr uint16_t HotSongsPage = 1001;
constexpr uint16_t ChartPage = 2001;
constexpr uint16_t TopSingerPage = 3001;
}  // namespace Cmd

// Status words of answers: the login answer's second word, the server-list answer's first
// Integer, the hash server's sub-code. A refused login names its reason with one of the codes
// from Busy on; they are also the login's result codes on the client.
namespace Status {
constexpr uint16_t OK = 144;
constexpr uint16_t Refused = 145;  // a word with the reason follows
constexpr uint16_t Busy = 146;
constexpr uint16_t WrongPassword = 147;
constexpr uint16_t NoSuchUser = 148;
constexpr uint16_t TooOld = 149;
// Never sent: what a client reports when no answer came.
constexpr uint16_t NoAnswer = 150;
}  // namespace Status

// The refusals a playlist server names after Status::Refused, and the registration server's
// result words (the first word of its answers to 21 and 4; Status::OK is success).
namespace PlaylistRefusal {
constexpr uint16_t Unavailable = 1;
constexpr uint16_t InvalidUser = 2;  // no session of that account at that address, or not an account
constexpr uint16_t TooLarge = 3;
constexpr uint16_t TooFrequent = 4;
}  // namespace PlaylistRefusal
namespace RegisterResult {
constexpr uint16_t BadCheckCode = 0;
constexpr uint16_t TooMany = 1;
constexpr uint16_t Busy = 2;
constexpr uint16_t Closed = 3;
constexpr uint16_t NameTaken = 4;  // the holder's account number follows
}  // namespace RegisterResult

// Network kinds (TNATType): how a client can be reached, as the service finds out. The external
// kinds have a public address of their own; peers contact ExternalA and InternalA directly.
namespace NetKind {
constexpr uint8_t ExternalA = 0;
constexpr uint8_t InternalA = 1;
constexpr uint8_t InternalB = 2;
constexpr uint8_t InternalC = 3;
constexpr uint8_t ExternalB = 4;
constexpr uint8_t Highest = ExternalB;
constexpr bool IsExternal(uint8_t kind) { return kind == ExternalA || kind == ExternalB; }
}  // namespace NetKind

}  // namespace ml
