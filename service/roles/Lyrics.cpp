#include "service/roles/Lyrics.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <tuple>

#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "media/uSongName.h"
#include "net/LyricRecords.h"
#include "service/Catalogue.h"

namespace mlsvc {

namespace {

using ml::TLyricPart;

// A hit's text for the answer: GBK, without the field separator, short enough that fifteen hits
// fit one datagram.
std::string HitText(const std::string& utf8) {
  std::string text = utf8;
  std::replace(text.begin(), text.end(), '|', ' ');
  return ml::Utf8ToGbkTruncated(text, 40);
}

}  // namespace

TLyricsRole::TLyricsRole(TServiceContext& ctx) : ctx_(ctx), requests_(ctx.Config.LyricRate, ctx.Config.LyricBurst) {}

bool TLyricsRole::Admit(const TRequest& r) {
  if (requests_.Allow(r.IP, ctx_.NowMs())) return true;
  ++ctx_.Counters.RateLimited;
  ctx_.Note(r, "dropped, over the lyric rate of its address");
  return false;
}

void TLyricsRole::SearchByCaption(const TRequest& r) {
  ml::TLyricSearchRequest req;
  if (!ml::ReadLyricSearchRequest(r.Payload, r.Length, req) || !Admit(r)) return;
  // The caption's singer and song as the player's lyric search finds them; a caption the parser
  // keeps nothing of is searched whole.
  ml::TSongNameParts parts;
  ml::ParseSongNameGbk(req.SongName.data(), req.SongName.size(), parts);
  std::string singer, song;
  ml::LyricSearchNames(parts, singer, song);
  if (song.empty()) song = ml::GbkToUtf8(req.SongName);
  Answer(r, req.RequestID, singer, song, req.DurationMs);
}

void TLyricsRole::SearchBySinger(const TRequest& r) {
  ml::TLyricArtistSearchRequest req;
  if (!ml::ReadLyricArtistSearchRequest(r.Payload, r.Length, req) || !Admit(r)) return;
  Answer(r, req.RequestID, ml::GbkToUtf8(req.Singer), ml::GbkToUtf8(req.Song), 0);
}

void TLyricsRole::Answer(const TRequest& r, int32_t requestID, const std::string& singer, const std::string& song,
                         int32_t durationMs) {
  const std::string songKey = FoldCase(ml::Trim(song)), singerKey = FoldCase(ml::Trim(singer));
  ml::TLyricSearchReply reply;
  reply.RequestID = requestID;
  try {
    std::vector<int64_t> ids = ctx_.Catalogue.Search(songKey);
    if (ids.size() > MaxCandidates) ids.resize(MaxCandidates);
    std::vector<TLyricCandidate> found = ctx_.Catalogue.LyricCandidates(ids, TLyricPart::MaxLyricBytes);
    if (!singerKey.empty())
      std::erase_if(found, [&](const TLyricCandidate& c) { return c.ArtistKey.find(singerKey) == std::string::npos; });
    const auto rank = [&](const TLyricCandidate& c) {
      return std::tuple(c.TitleKey != songKey, c.ArtistKey != singerKey,
                        durationMs > 0 ? std::abs(int64_t(c.DurationMs) - durationMs) : 0);
    };
    std::stable_sort(found.begin(), found.end(),
                     [&](const TLyricCandidate& a, const TLyricCandidate& b) { return rank(a) < rank(b); });
    for (const TLyricCandidate& c : found) {
      if (reply.Hits.size() == ml::TLyricSearchReply::MaxHits) break;
      reply.Hits.push_back({int32_t(c.ID), HitText(c.Artist), HitText(c.Title)});
    }
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "lyric search failed: %s", e.what());
    return;
  }
  if (!ctx_.AnswerRecord(r, ml::WriteLyricSearchReply, reply, ctx_.ReachOf(r, r.Guid.UserID))) return;
  ctx_.Note(r, "searched lyrics, %zu hits", reply.Hits.size());
}

void TLyricsRole::Download(const TRequest& r) {
  ml::TLyricDownloadRequest req;
  if (!ml::ReadLyricDownloadRequest(r.Payload, r.Length, req) || !Admit(r)) return;
  std::optional<std::string> lyric;
  try {
    lyric = ctx_.Catalogue.Lyric(req.LyricID);
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "lyric download failed: %s", e.what());
    return;
  }
  if (!lyric || lyric->size() < TCatalogue::MinLyricBytes || lyric->size() > TLyricPart::MaxLyricBytes) {
    ctx_.Note(r, "dropped, no lyric %d", req.LyricID);
    return;
  }
  const TReach reach = ctx_.ReachOf(r, r.Guid.UserID);
  TLyricPart part;
  part.RequestID = req.RequestID;
  part.LyricID = req.LyricID;
  part.PartCount = uint8_t((lyric->size() + TLyricPart::PartBytes - 1) / TLyricPart::PartBytes);
  for (part.PartIndex = 0; part.PartIndex < part.PartCount; ++part.PartIndex) {
    part.Data = lyric->substr(part.PartIndex * TLyricPart::PartBytes, TLyricPart::PartBytes);
    if (!ctx_.AnswerRecord(r, ml::WriteLyricPart, part, reach)) {
      ctx_.Note(r, "lyric %d stopped after %d parts, over the reply budget", req.LyricID, int(part.PartIndex));
      return;
    }
  }
  ctx_.Note(r, "sent lyric %d in %d parts", req.LyricID, int(part.PartCount));
}

}  // namespace mlsvc
