#include "service/Catalogue.h"

#include <sqlite3.h>

#include <algorithm>
#include <unordered_set>

#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "media/uSongName.h"
#include "service/SqliteStatement.h"

namespace mlsvc {

namespace {

char32_t FoldCodePoint(char32_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width forms of ASCII
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

// The key of a one- or two-character gram: 21 bits a code point.
int64_t GramKey(char32_t a, char32_t b = 0) { return (int64_t(a) << 21) | int64_t(b); }

void AddGrams(std::string_view folded, std::unordered_set<int64_t>& grams) {
  const std::u32string cps = ml::Utf8ToCodePoints(folded);
  for (size_t i = 0; i < cps.size(); ++i) {
    grams.insert(GramKey(cps[i]));
    if (i + 1 < cps.size()) grams.insert(GramKey(cps[i], cps[i + 1]));
  }
}

std::string StemOf(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  return std::string(dot == std::string_view::npos || dot == 0 ? fileName : fileName.substr(0, dot));
}

// The folded texts a song is found by.
struct TKeys {
  std::string Name, Stem, Title, Artist, Album;
  explicit TKeys(const TCatalogueSong& s)
      : Name(FoldCase(s.FileName)), Stem(StemOf(Name)), Title(FoldCase(s.Title)), Artist(FoldCase(s.Artist)),
        Album(FoldCase(s.Album)) {}
  std::unordered_set<int64_t> Grams() const {
    std::unordered_set<int64_t> g;
    for (const std::string* t : {&Name, &Title, &Artist, &Album}) AddGrams(*t, g);
    return g;
  }
};

// The upper end of the texts that begin with a prefix: no UTF-8 text goes past 0xF4 0x90.
std::string PrefixEnd(std::string_view prefix) { return std::string(prefix) + "\xF4\x90"; }

std::array<uint8_t, 16> DigestFrom(const std::string& blob) {
  std::array<uint8_t, 16> d{};
  if (blob.size() == d.size()) std::copy(blob.begin(), blob.end(), d.begin());
  return d;
}

constexpr const char* kSummaryColumns = "id, digest, file_name, artist, size, duration_ms, bitrate, holders";

TSongSummary SummaryFrom(Stmt& s) {
  return {s.I64(0), DigestFrom(s.Blob(1)), s.Text(2), s.Text(3), s.I64(4), int32_t(s.I64(5)), int32_t(s.I64(6)),
          int32_t(s.I64(7))};
}

std::string Sql(const char* head, const char* tail) { return std::string(head) + kSummaryColumns + tail; }

}  // namespace

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char32_t c : ml::Utf8ToCodePoints(utf8)) ml::AppendUtf8(out, FoldCodePoint(c));
  return out;
}

std::string FoldedWireText(std::string_view gbk) {
  const std::string utf8 = ml::GbkToUtf8(gbk);
  return FoldCase(ml::Trim(utf8));
}

void CreateCatalogueSchema(sqlite3* db) {
  // The *_key columns hold the folded texts that exact matches and lookups compare;
  // holders counts the places that hold the file (this catalogue's copy is one).
  Exec(db,
       "CREATE TABLE IF NOT EXISTS songs ("
       " id INTEGER PRIMARY KEY, digest BLOB NOT NULL UNIQUE CHECK (length(digest) = 16),"
       " path TEXT NOT NULL, size INTEGER NOT NULL, file_name TEXT NOT NULL,"
       " title TEXT NOT NULL, artist TEXT NOT NULL, album TEXT NOT NULL,"
       " duration_ms INTEGER NOT NULL, bitrate INTEGER NOT NULL, lyrics BLOB,"
       " stem_key TEXT NOT NULL, title_key TEXT NOT NULL, artist_key TEXT NOT NULL,"
       " holders INTEGER NOT NULL DEFAULT 1, added INTEGER NOT NULL DEFAULT (strftime('%s','now')))");
  Exec(db, "CREATE INDEX IF NOT EXISTS songs_stem ON songs (stem_key)");
  Exec(db, "CREATE INDEX IF NOT EXISTS songs_title ON songs (title_key)");
  Exec(db, "CREATE INDEX IF NOT EXISTS songs_artist ON songs (artist_key)");
  Exec(db,
       "CREATE VIRTUAL TABLE IF NOT EXISTS song_text USING fts5 ("
       " name, title, artist, album, tokenize = 'trigram case_sensitive 1')");
  Exec(db,
       "CREATE TABLE IF NOT EXISTS song_grams (gram INTEGER NOT NULL, song INTEGER NOT NULL,"
       " PRIMARY KEY (gram, song)) WITHOUT ROWID");
  Exec(db,
       "CREATE TABLE IF NOT EXISTS usage_counts (kind INTEGER NOT NULL, text TEXT NOT NULL,"
       " count INTEGER NOT NULL, last_ms INTEGER NOT NULL, PRIMARY KEY (kind, text)) WITHOUT ROWID");
  Exec(db,
       "CREATE TABLE IF NOT EXISTS catalogue_state (id INTEGER PRIMARY KEY CHECK (id = 1),"
       " version INTEGER NOT NULL)");
  Exec(db, "INSERT OR IGNORE INTO catalogue_state (id, version) VALUES (1, 0)");
}

struct TCatalogue::TStatements {
  explicit TStatements(sqlite3* db)
      : Short(db,
              "SELECT s.id, s.holders, s.title_key = ?2 OR s.artist_key = ?2 FROM song_grams g"
              " JOIN songs s ON s.id = g.song WHERE g.gram = ?1"),
        Long(db,
             "SELECT s.id, s.holders, s.title_key = ?2 OR s.artist_key = ?2 FROM song_text t"
             " JOIN songs s ON s.id = t.rowid WHERE song_text MATCH ?1"),
        Summary(db, Sql("SELECT ", " FROM songs WHERE id = ?").c_str()),
        ByStem(db, Sql("SELECT ", " FROM songs WHERE stem_key = ? ORDER BY holders DESC, id LIMIT 1").c_str()),
        ByTitle(db, Sql("SELECT ", " FROM songs WHERE title_key = ? ORDER BY holders DESC, id LIMIT 1").c_str()),
        ByArtistTitle(db, Sql("SELECT ", " FROM songs WHERE artist_key = ? AND title_key = ?"
                                         " ORDER BY holders DESC, id LIMIT 1").c_str()),
        Version(db, "SELECT version FROM catalogue_state WHERE id = 1") {}
  Stmt Short, Long, Summary, ByStem, ByTitle, ByArtistTitle, Version;
};

TCatalogue::TCatalogue(const std::string& dbPath) {
  if (sqlite3_open_v2(dbPath.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    std::string err = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("cannot open the catalogue in " + dbPath + ": " + err);
  }
  sqlite3_busy_timeout(db_, 5000);
  try {
    Exec(db_, "PRAGMA synchronous=NORMAL");
    st_ = std::make_unique<TStatements>(db_);
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

TCatalogue::~TCatalogue() {
  st_.reset();
  sqlite3_close(db_);
}

std::vector<TCatalogue::TAdded> TCatalogue::Add(std::span<const TCatalogueSong> songs) {
  std::lock_guard lock(mutex_);
  std::vector<TAdded> added;
  Exec(db_, "BEGIN IMMEDIATE");
  try {
    Stmt find(db_, "SELECT id, path, file_name, title, artist, album FROM songs WHERE digest = ?");
    Stmt insert(db_,
                "INSERT INTO songs (digest, path, size, file_name, title, artist, album, duration_ms, bitrate,"
                " lyrics, stem_key, title_key, artist_key) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    Stmt move(db_, "UPDATE songs SET path = ?, file_name = ?, stem_key = ? WHERE id = ?");
    Stmt text(db_, "INSERT INTO song_text (rowid, name, title, artist, album) VALUES (?, ?, ?, ?, ?)");
    Stmt dropText(db_, "DELETE FROM song_text WHERE rowid = ?");
    Stmt gram(db_, "INSERT OR IGNORE INTO song_grams (gram, song) VALUES (?, ?)");
    Stmt dropGram(db_, "DELETE FROM song_grams WHERE gram = ? AND song = ?");
    const auto index = [&](int64_t id, const TKeys& k) {
      text.Bind(1, id).Bind(2, k.Name).Bind(3, k.Title).Bind(4, k.Artist).Bind(5, k.Album);
      text.Step();
      text.Reset();
      for (int64_t g : k.Grams()) {
        gram.Bind(1, g).Bind(2, id);
        gram.Step();
        gram.Reset();
      }
    };
    for (const TCatalogueSong& s : songs) {
      const TKeys keys(s);
      find.BindBlob(1, s.Digest.data(), int(s.Digest.size()));
      if (find.Step()) {
        const int64_t id = find.I64(0);
        const bool moved = find.Text(1) != s.Path;
        TCatalogueSong old;
        old.FileName = find.Text(2);
        old.Title = find.Text(3);
        old.Artist = find.Text(4);
        old.Album = find.Text(5);
        find.Reset();
        if (moved) {
          // A renamed file is found by its new name only.
          const TKeys oldKeys(old);
          TKeys newKeys = oldKeys;
          newKeys.Name = keys.Name;
          newKeys.Stem = keys.Stem;
          move.Bind(1, s.Path).Bind(2, s.FileName).Bind(3, keys.Stem).Bind(4, id);
          move.Step();
          move.Reset();
          dropText.Bind(1, id);
          dropText.Step();
          dropText.Reset();
          for (int64_t g : oldKeys.Grams()) {
            dropGram.Bind(1, g).Bind(2, id);
            dropGram.Step();
            dropGram.Reset();
          }
          index(id, newKeys);
        }
        added.push_back(moved ? TAdded::Moved : TAdded::Present);
        continue;
      }
      find.Reset();
      insert.BindBlob(1, s.Digest.data(), int(s.Digest.size()))
          .Bind(2, s.Path)
          .Bind(3, s.Size)
          .Bind(4, s.FileName)
          .Bind(5, s.Title)
          .Bind(6, s.Artist)
          .Bind(7, s.Album)
          .Bind(8, s.DurationMs)
          .Bind(9, s.BitrateKbps);
      if (s.Lyrics)
        insert.BindBlob(10, s.Lyrics->data(), int(s.Lyrics->size()));
      else
        insert.BindNull(10);
      insert.Bind(11, keys.Stem).Bind(12, keys.Title).Bind(13, keys.Artist);
      insert.Step();
      insert.Reset();
      index(sqlite3_last_insert_rowid(db_), keys);
      added.push_back(TAdded::New);
    }
    if (std::any_of(added.begin(), added.end(), [](TAdded a) { return a != TAdded::Present; }))
      Exec(db_, "UPDATE catalogue_state SET version = version + 1 WHERE id = 1");
    Exec(db_, "COMMIT");
  } catch (...) {
    Exec(db_, "ROLLBACK");
    throw;
  }
  return added;
}

std::vector<int64_t> TCatalogue::Search(std::string_view folded) {
  const std::u32string cps = ml::Utf8ToCodePoints(folded);
  if (cps.empty()) return {};
  struct TMatch {
    int64_t ID, Holders;
    bool Exact;
  };
  std::vector<TMatch> matches;
  {
    std::lock_guard lock(mutex_);
    Stmt& q = cps.size() <= 2 ? st_->Short : st_->Long;
    if (cps.size() <= 2) {
      q.Bind(1, GramKey(cps[0], cps.size() == 2 ? cps[1] : 0));
    } else {
      // One phrase: the trigram tokenizer makes it a substring match.
      std::string phrase = "\"";
      for (char c : folded) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
      q.Bind(1, phrase + "\"");
    }
    q.Bind(2, folded);
    while (q.Step()) matches.push_back({q.I64(0), q.I64(1), q.I64(2) != 0});
    q.Reset();
  }
  std::sort(matches.begin(), matches.end(), [](const TMatch& a, const TMatch& b) {
    return std::tuple(!a.Exact, -a.Holders, a.ID) < std::tuple(!b.Exact, -b.Holders, b.ID);
  });
  std::vector<int64_t> ids(matches.size());
  std::transform(matches.begin(), matches.end(), ids.begin(), [](const TMatch& m) { return m.ID; });
  return ids;
}

std::vector<TSongSummary> TCatalogue::Songs(std::span<const int64_t> ids) {
  std::lock_guard lock(mutex_);
  std::vector<TSongSummary> out;
  for (int64_t id : ids) {
    st_->Summary.Bind(1, id);
    if (st_->Summary.Step()) out.push_back(SummaryFrom(st_->Summary));
    st_->Summary.Reset();
  }
  return out;
}

std::optional<TSongSummary> TCatalogue::Lookup(std::string_view name) {
  const std::string key = FoldCase(name);
  if (key.empty()) return std::nullopt;
  std::string artist, title;
  ml::SplitAtHyphen(key, artist, title);
  std::lock_guard lock(mutex_);
  const auto first = [](Stmt& q) {
    std::optional<TSongSummary> found;
    if (q.Step()) found = SummaryFrom(q);
    q.Reset();
    return found;
  };
  // A file name as it is, then without its extension, then "Artist - Title", then a title.
  if (auto s = first(st_->ByStem.Bind(1, key))) return s;
  if (auto s = first(st_->ByStem.Bind(1, StemOf(key)))) return s;
  if (!artist.empty() && !title.empty())
    if (auto s = first(st_->ByArtistTitle.Bind(1, artist).Bind(2, title))) return s;
  return first(st_->ByTitle.Bind(1, key));
}

std::vector<TSuggestionCandidate> TCatalogue::SuggestionCandidates(std::string_view folded, size_t limit) {
  std::vector<TSuggestionCandidate> out;
  if (folded.empty()) return out;
  const std::string end = PrefixEnd(folded);
  std::lock_guard lock(mutex_);
  Stmt words(db_,
             "SELECT word, 0 FROM (SELECT min(title) AS word FROM songs WHERE title_key >= ?1 AND title_key < ?2"
             " GROUP BY title_key LIMIT ?3)"
             " UNION ALL SELECT word, 0 FROM (SELECT min(artist) AS word FROM songs WHERE artist_key >= ?1"
             " AND artist_key < ?2 GROUP BY artist_key LIMIT ?3)"
             " UNION ALL SELECT word, count FROM (SELECT text AS word, count FROM usage_counts WHERE kind = 4"
             " AND text >= ?1 AND text < ?2 ORDER BY count DESC LIMIT ?3)");
  words.Bind(1, folded).Bind(2, end).Bind(3, int64_t(limit));
  while (words.Step()) out.push_back({words.Text(0), words.I64(1)});
  return out;
}

void TCatalogue::CountUsage(const TUsageCounts& counts, int64_t nowMs) {
  if (counts.empty()) return;
  std::lock_guard lock(mutex_);
  Exec(db_, "BEGIN IMMEDIATE");
  try {
    Stmt add(db_,
             "INSERT INTO usage_counts (kind, text, count, last_ms) VALUES (?1, ?2, ?3, ?4)"
             " ON CONFLICT (kind, text) DO UPDATE SET count = count + ?3, last_ms = ?4");
    for (const auto& [key, n] : counts) {
      add.Bind(1, int64_t(key.first)).Bind(2, key.second).Bind(3, n).Bind(4, nowMs);
      add.Step();
      add.Reset();
    }
    Exec(db_, "COMMIT");
  } catch (...) {
    Exec(db_, "ROLLBACK");
    throw;
  }
}

int64_t TCatalogue::UsageCount(TUsageKind kind, std::string_view text) {
  std::lock_guard lock(mutex_);
  Stmt q(db_, "SELECT count FROM usage_counts WHERE kind = ? AND text = ?");
  q.Bind(1, int64_t(kind)).Bind(2, text);
  return q.Step() ? q.I64(0) : 0;
}

std::vector<TLyricCandidate> TCatalogue::LyricCandidates(std::span<const int64_t> ids, size_t maxBytes) {
  std::lock_guard lock(mutex_);
  Stmt q(db_,
         "SELECT title, artist, title_key, artist_key, duration_ms FROM songs WHERE id = ?1 AND lyrics IS NOT NULL"
         " AND length(lyrics) BETWEEN ?2 AND ?3");
  std::vector<TLyricCandidate> out;
  for (int64_t id : ids) {
    q.Bind(1, id).Bind(2, int64_t(MinLyricBytes)).Bind(3, int64_t(maxBytes));
    if (q.Step()) out.push_back({id, q.Text(0), q.Text(1), q.Text(2), q.Text(3), int32_t(q.I64(4))});
    q.Reset();
  }
  return out;
}

std::optional<std::string> TCatalogue::Lyric(int64_t id) {
  std::lock_guard lock(mutex_);
  Stmt q(db_, "SELECT lyrics FROM songs WHERE id = ? AND lyrics IS NOT NULL");
  q.Bind(1, id);
  if (!q.Step()) return std::nullopt;
  return q.Blob(0);
}

int64_t TCatalogue::Version() {
  std::lock_guard lock(mutex_);
  const int64_t v = st_->Version.Step() ? st_->Version.I64(0) : 0;
  st_->Version.Reset();
  return v;
}

int64_t TCatalogue::SongCount() {
  std::lock_guard lock(mutex_);
  Stmt q(db_, "SELECT count(*) FROM songs");
  return q.Step() ? q.I64(0) : 0;
}

std::optional<TCatalogueSong> TCatalogue::SongByDigest(const std::array<uint8_t, 16>& digest) {
  std::lock_guard lock(mutex_);
  Stmt q(db_,
         "SELECT path, size, file_name, title, artist, album, duration_ms, bitrate, lyrics FROM songs"
         " WHERE digest = ?");
  q.BindBlob(1, digest.data(), int(digest.size()));
  if (!q.Step()) return std::nullopt;
  TCatalogueSong s;
  s.Digest = digest;
  s.Path = q.Text(0);
  s.Size = q.I64(1);
  s.FileName = q.Text(2);
  s.Title = q.Text(3);
  s.Artist = q.Text(4);
  s.Album = q.Text(5);
  s.DurationMs = int32_t(q.I64(6));
  s.BitrateKbps = int32_t(q.I64(7));
  if (!q.IsNull(8)) s.Lyrics = q.Blob(8);
  return s;
}

}  // namespace mlsvc
