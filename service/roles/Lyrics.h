#pragma once
// The lyric server over the catalogue's imported lyrics: the search by caption and duration (29),
// the search by singer and song (129) and the download of a lyric in parts (30).
//
// A caption is cut into a singer and a song name as the player cuts it (the caption parser); the
// song name is searched as the song search does, and only songs with a lyric small enough for the
// sixteen parts of a download are hits. The best match comes first: the exact title, then the
// singer, then the duration nearest the one asked for. A lyric goes out as it was imported, in
// whatever encoding its file had.
//
// Answers can be far larger than requests (a 10-byte download draws up to 16 KiB), so requests
// are limited per address and answers to anyone but a session's holder spend the reply budget.
#include <cstdint>
#include <string>
#include <vector>

#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

class TLyricsRole {
public:
  // Songs looked at for one search, best ranked first.
  static constexpr size_t MaxCandidates = 200;

  explicit TLyricsRole(TServiceContext& ctx);
  void SearchByCaption(const TRequest& r);
  void SearchBySinger(const TRequest& r);
  void Download(const TRequest& r);

private:
  // Answers a search for song (and singer, when not empty), both UTF-8, preferring durationMs
  // (0: any).
  void Answer(const TRequest& r, int32_t requestID, const std::string& singer, const std::string& song,
              int32_t durationMs);
  bool Admit(const TRequest& r);

  TServiceContext& ctx_;
  TRateLimiter requests_;
};

}  // namespace mlsvc
