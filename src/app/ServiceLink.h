#pragma once
// The service's song links that web pages hand to the player through the mailbox. A link is
// five "|"-terminated fields, "lirra3://|Music|song name|4000000|<32 hex digits>|"; a link list
// (mailbox commands 6 and 7) is "\"-terminated parts of "name|size|digest" fields. The texts
// arrive as UTF-8 (the mailbox decodes its GBK), in which "|" and "\" never occur inside a
// character, so the splits below cut whole characters only.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/OnlineSongTarget.h"
#include "base/LRMD5.h"

namespace ml {

// What a link asks for; the transfer manager distinguishes the kinds.
enum TLinkKind : uint8_t {
  lkMusic = 0,       // "Music"
  lkP2PUpdate = 1,   // "P2PUpdate"
  lkMusicParts = 3,  // "Music*": a song in several parts
  lkOther = 10,      // anything else ("*" in it: several parts)
};

struct TSongLink {
  uint8_t Kind = lkMusic;
  bool MultiPart = false;
  std::string FileName;  // with its extension; ".mp3" added when the link gave none
  int64_t Size = 0;      // 1024 when the link said 0, except for lkOther
  TMD5Digest Digest;

  // The file name without its extension.
  std::string Title() const;
  TOnlineSong Song() const { return {Title(), uint64_t(Size), Digest}; }
};

// The largest size of a song link (kinds other than lkOther) and of an lkOther link.
inline constexpr int64_t MaxSongLinkSize = 104857599;
inline constexpr int64_t MaxOtherLinkSize = (int64_t(1) << 30) - 1;

// A link as mailbox command 1 carries it; nullopt when it breaks any rule: not exactly five
// terminated fields, no known scheme, a size that is no integer or out of range, a digest that is
// not 32 hexadecimal digits, or (except lkOther) an extension that is not playable.
std::optional<TSongLink> ParseSongLink(std::string_view text);

// Whether a link of a kind other than lkOther may name a file with this extension (with its dot).
bool IsPlayableLinkExtension(std::string_view extension);

// Commands 6 and 7: the "\"-terminated parts (a last part without its "\" counts too), empty
// ones as two blanks; nullopt unless there are exactly count of them.
std::optional<std::vector<std::string>> SplitLinkList(std::string_view text, size_t count);

// One part of a link list: "name|size|digest" (more than two "|"-terminated fields once a "|" is
// added). The title is the name without its extension, the digest all zero unless it is 32
// hexadecimal digits; nullopt for a part with fewer fields.
std::optional<TOnlineSong> ParseLinkListPart(std::string_view part);

// The file name without its extension ("a.b.mp3" -> "a.b"; "song" stays).
std::string StripExtension(std::string_view fileName);

}  // namespace ml
