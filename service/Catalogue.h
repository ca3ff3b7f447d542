#pragma once
// The song catalogue in the service's database: one row per song file (same digest, same song),
// the texts a search matches and the indexes that find them, how many places hold each file,
// and the usage counts of searched keywords and played songs.
//
// Texts are stored UTF-8 and compared case-folded (FoldCase). Keywords of three or more
// characters are found through an FTS5 table with the trigram tokenizer; shorter ones through a
// table of every one- and two-character gram of each song's texts, keyed by the gram, so that no
// search ever scans the songs.
//
// TCatalogue has a connection of its own to the database (whose schema TServiceStore creates),
// with its statements prepared once and kept; one lock serialises its users.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;

namespace mlsvc {

class Stmt;

// Creates the catalogue's tables when they are missing: a new database gets them with the
// others, an older one gains them when it is next opened.
void CreateCatalogueSchema(sqlite3* db);

// The form texts are compared in: ASCII and full-width Latin letters and digits folded to ASCII
// lower case, Latin-1 capitals to small letters; anything else as it is. Invalid UTF-8 bytes
// become U+FFFD, which no stored text holds.
std::string FoldCase(std::string_view utf8);
// A text as it travels (GBK) in the form the catalogue compares: decoded, blanks trimmed, folded.
std::string FoldedWireText(std::string_view gbk);

// A song file as the import found it.
struct TCatalogueSong {
  std::array<uint8_t, 16> Digest{};
  std::string Path;      // where the file is, as the file system names it
  int64_t Size = 0;      // bytes
  std::string FileName;  // the path's last part, UTF-8
  std::string Title, Artist, Album;  // UTF-8
  int32_t DurationMs = 0;
  int32_t BitrateKbps = 0;
  std::optional<std::string> Lyrics;  // the raw bytes of the .lrc of the same stem
};

// What the roles send of a song.
struct TSongSummary {
  int64_t ID = 0;
  std::array<uint8_t, 16> Digest{};
  std::string FileName, Artist;  // UTF-8
  int64_t Size = 0;
  int32_t DurationMs = 0;
  int32_t BitrateKbps = 0;
  int32_t Holders = 0;  // places that hold the file, the catalogue's own copy included
};

// A song whose lyric the lyric server may offer.
struct TLyricCandidate {
  int64_t ID = 0;
  std::string Title, Artist;  // UTF-8
  std::string TitleKey, ArtistKey;  // folded
  int32_t DurationMs = 0;
};

// A word a suggestion may offer: a title, an artist or a searched keyword, with how often it was
// searched for.
struct TSuggestionCandidate {
  std::string Word;  // UTF-8, as it is shown
  int64_t Searches = 0;
};

// How a usage report counts.
enum class TUsageKind : int { SongPlayed = 3, KeywordSearched = 4 };
using TUsageCounts = std::map<std::pair<TUsageKind, std::string>, int64_t>;

class TCatalogue {
public:
  // Opens the database that TServiceStore created; throws std::runtime_error with the reason.
  explicit TCatalogue(const std::string& dbPath);
  ~TCatalogue();
  TCatalogue(const TCatalogue&) = delete;
  TCatalogue& operator=(const TCatalogue&) = delete;

  enum class TAdded { New, Present, Moved };
  // Adds songs in one transaction. A digest already there is the same song: its path (and file
  // name) follow a file that moved, nothing else changes.
  std::vector<TAdded> Add(std::span<const TCatalogueSong> songs);

  // The songs whose name, title, artist or album holds the folded keyword, ranked: an exact
  // title or artist first, then the most holders, then the oldest. Empty for an empty keyword.
  std::vector<int64_t> Search(std::string_view folded);
  // The songs of ids that exist, in the order of ids.
  std::vector<TSongSummary> Songs(std::span<const int64_t> ids);
  // A song by name: a file name with or without its extension, "Artist - Title", or a title;
  // the best held first.
  std::optional<TSongSummary> Lookup(std::string_view name);
  // Titles, artists and searched keywords that begin with the folded prefix, at most limit of
  // each kind.
  std::vector<TSuggestionCandidate> SuggestionCandidates(std::string_view folded, size_t limit);

  // Adds counts of usage reports, in one transaction.
  void CountUsage(const TUsageCounts& counts, int64_t nowMs);
  int64_t UsageCount(TUsageKind kind, std::string_view text);

  // The songs of ids that have a lyric of MinLyricBytes..maxBytes bytes, in the order of ids.
  static constexpr size_t MinLyricBytes = 21;
  std::vector<TLyricCandidate> LyricCandidates(std::span<const int64_t> ids, size_t maxBytes);
  // A song's lyric as it was imported; nullopt when it has none.
  std::optional<std::string> Lyric(int64_t id);

  // A number that changes whenever songs are added or change, in any process.
  int64_t Version();
  int64_t SongCount();
  std::optional<TCatalogueSong> SongByDigest(const std::array<uint8_t, 16>& digest);

private:
  struct TStatements;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<TStatements> st_;
};

}  // namespace mlsvc
