#pragma once
// The music library: one song entry (TShareFileInfo) for every song in any playlist, and the
// named playlists (TPlayList) that refer to them. Entries are identified by the MD5 digest of
// their file, computed in the background by TCalcThread; two entries with the same digest are
// merged. Entries are never freed while the program runs (a removed entry is only marked), so
// every reference handed out stays valid until ClearLibrary or destruction.
#include "base/LRMD5.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ml {

class Dispatcher;
struct TMediaInfo;

enum TShareStatus : uint8_t {
  ssReady = 0,         // digest known
  ssWaitHash = 1,      // digest to be computed
  ssHashing = 2,       // digest being computed
  ssNeedDownload = 5,  // the file is missing and must be downloaded
  ssRemoved = 6,       // deleted, merged into a duplicate or unusable; invisible and not saved
};

struct TShareFileInfo {
  bool Encrypt = false;  // a song of the service rather than a file the user added
  std::string FileName;
  uint64_t FileSize = 0;
  TMD5Digest FileHash;
  int32_t OwnerCount = 1;
  int32_t TimeStamp = 0;
  int64_t LastWriteTime = 0;  // FILETIME (100 ns units since 1601) when last hashed
  uint8_t ShareType = 0;
  bool LackSource = false;
  uint8_t ShareStatus = ssReady;
  std::string LRCFileName;
  std::string Caption;
  int32_t Duration = 0;  // ms; 0 or less when unknown
  std::string Title, Artist, Album;
  uint8_t Track = 0;
  std::string Codec;
  int32_t Bitrate = 0;
  int32_t SampleRate = 0;
  uint16_t Channels = 0;
  std::string Genre, Year, Comment;
  uint8_t FileNameCount = 0;
  double LastPlayTime = 0;  // days since 1899-12-30
  double DownTime = 0;
  int32_t PlayCount = 0;
};

struct TPlayList {
  std::string Name;
  uint8_t Style = 0;  // 0 ordinary, 1 programme list from the service
  std::vector<TShareFileInfo*> Items;
  int32_t ID = 0;     // programme ID, style 1 only
};

// One item of the playlist transfer payload.
struct TDownPlayListInfo {
  std::string Caption;
  TMD5Digest Digest;
  int32_t Duration = 0;
};

// A programme list as the service client builds it: fresh records, adopted by AddProgrammeList.
struct TProgrammeList {
  std::string Name;
  int32_t ID = 0;
  std::vector<TShareFileInfo> Records;
};

class EFileFormat : public std::runtime_error {
public:
  EFileFormat() : std::runtime_error("不能识别的文件格式") {}
};

// Extension given to downloaded songs.
inline constexpr const char* DownloadedSongExt = ".mp3";

class TMusicFileMgr;

// The background digest worker: computes the MD5 of every entry waiting for it and merges
// duplicates. Started by the manager; stopping it aborts a digest in progress at once.
class TCalcThread {
public:
  explicit TCalcThread(TMusicFileMgr& mgr);
  ~TCalcThread();  // terminates and joins
  TCalcThread(const TCalcThread&) = delete;
  TCalcThread& operator=(const TCalcThread&) = delete;

private:
  TMusicFileMgr& mgr_;
  std::thread thread_;
};

// What adding one local file came to.
struct TAddResult {
  enum TKind { New, AlreadyPresent, Refused };
  TKind Kind = Refused;
  TShareFileInfo* Entry = nullptr;  // the new or existing entry; null when refused
  std::string Refusal;              // why, when refused
};

class TMusicFileMgr {
public:
  using EntryRemovedEvent = std::function<void(TShareFileInfo* entry)>;
  using DuplicateFoundEvent = std::function<void(TShareFileInfo* removed, TShareFileInfo* kept)>;

  // dispatcher: the main thread, where OnDuplicateFound and autosaves run; none in tools and
  // tests that run everything on one thread.
  explicit TMusicFileMgr(Dispatcher* dispatcher = nullptr);
  ~TMusicFileMgr();
  TMusicFileMgr(const TMusicFileMgr&) = delete;
  TMusicFileMgr& operator=(const TMusicFileMgr&) = delete;

  // The entry of a local file: an existing one with the same path and size, else a new entry
  // with its tags, queued for hashing. Refused, with the reason, when the file is missing, empty,
  // unreadable or recognised by no tag reader (then no decoder would play it either).
  TAddResult AddFile(const std::string& path);
  TShareFileInfo* AddFromSearchResult(const std::string& caption, const TMD5Digest& digest);
  TShareFileInfo* AddFromPlayListInfo(const TDownPlayListInfo& info);
  TShareFileInfo* AddCopy(const TShareFileInfo& record);

  TShareFileInfo* FindByDigest(const TMD5Digest& digest) const;
  TShareFileInfo* FindByPathAndSize(const std::string& path, uint64_t size) const;
  // A consistent copy of an entry (the hashing thread may be writing its digest and status).
  TShareFileInfo Snapshot(const TShareFileInfo* entry) const;
  bool IsLive(const TShareFileInfo* entry) const;

  void RemoveEntry(TShareFileInfo* entry);
  void PurgeRemoved();
  void ReplaceInPlayLists(TShareFileInfo* oldEntry, TShareFileInfo* newEntry);

  TPlayList* NewPlayList(const std::string& name);
  void DeletePlayList(TPlayList* list);
  // Moves the list at index from to index to (both clamped); used by the playlist controller.
  void MovePlayList(size_t from, size_t to);
  TPlayList* AddProgrammeList(TProgrammeList list);
  const std::vector<std::unique_ptr<TPlayList>>& PlayLists() const { return playLists_; }
  int IndexOfPlayList(const TPlayList* list) const;

  // Service songs: choose the download path (status 5 when the file is still to come) and take
  // the finished file (copied out of the transfer folder into the download folder). Choosing
  // the path may read a whole file (is the file already at the path this song?), so it runs on
  // the library's worker thread; the path is recorded and done(missing) called on the main
  // thread (at once, inline, for a manager without a dispatcher).
  void PrepareDownload(TShareFileInfo* entry, std::function<void(bool missing)> done);
  bool DownloadCompleted(TShareFileInfo* entry);
  void SetDownloadFolder(const std::string& folder);  // with trailing "/"; "Temp/" under it is the transfer folder

  void UpdateFromMediaInfo(TShareFileInfo* entry, const TMediaInfo& info);
  void SetDuration(TShareFileInfo* entry, int32_t ms);
  void SetCaption(TShareFileInfo* entry, const std::string& text);
  void SetLackSource(TShareFileInfo* entry, bool flag);
  void SetLRCFileName(TShareFileInfo* entry, const std::string& path);

  void ClearLibrary();
  // Throws EFileFormat for a file that is not a library; the library is then empty.
  void Load(const std::string& path);
  // Writes the library atomically, keeping the previous file as path + ".bak".
  bool Save(const std::string& path, std::string* error = nullptr) const;
  // Start-up load: a file that fails is moved aside (path + ".bad") and the ".bak" is tried, so
  // a damaged library is never overwritten by an empty one. Returns false when neither loaded.
  bool LoadWithRecovery(const std::string& path, std::string* error = nullptr);
  // After this, bulk changes save the library to path delaySeconds after the last change.
  void EnableAutoSave(const std::string& path, int delayMs = 2000);
  void Changed();

  // Playlist transfer payload (what playlist synchronisation sends for one list). Reads the
  // entries under the library's lock: the hashing thread may be writing a digest.
  std::string BuildPayload(const TPlayList& list) const;
  static std::vector<TDownPlayListInfo> ParsePayload(std::string_view bytes);

  void SetOnEntryRemoved(EntryRemovedEvent handler) { onEntryRemoved_ = std::move(handler); }
  void SetOnDuplicateFound(DuplicateFoundEvent handler);

  size_t LiveEntryCount() const;
  // Every entry not removed, in the order they were added (or loaded).
  std::vector<TShareFileInfo*> LiveEntries() const;
  size_t EntryCount() const;
  // Blocks until no entry waits for its digest (tests, the CLI).
  void WaitHashingIdle() const;

private:
  friend class TCalcThread;
  struct DigestHash {
    size_t operator()(const TMD5Digest& d) const noexcept;
  };

  TShareFileInfo* RegisterLocked(std::unique_ptr<TShareFileInfo> entry);
  void IndexLocked(TShareFileInfo* e);
  void UnindexDigestLocked(TShareFileInfo* e);
  void SetDigestLocked(TShareFileInfo* e, const TMD5Digest& d);
  void SetPathLocked(TShareFileInfo* e, const std::string& path);
  TShareFileInfo* FindByDigestLocked(const TMD5Digest& d) const;
  void QueueHashLocked(TShareFileInfo* e);
  std::string DownloadPathFor(const TShareFileInfo& e) const;
  // The path a service song downloads to; empty when it is no service song. Reads files.
  std::string ChooseDownloadPath(const TShareFileInfo& snapshot) const;
  bool RecordDownloadPath(TShareFileInfo* entry, const std::string& path);
  void HashLoop();
  bool HashOne();
  bool StoreDigestLocked(TShareFileInfo* e, uint64_t generation, bool ok, const TMD5Digest& digest,
                         const std::string& path, TShareFileInfo** kept);
  void StopHashing();

  Dispatcher* dispatcher_;
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<TShareFileInfo>> entries_;
  // Keys are views of the entries' own FileName (a copy per song cost about 100 bytes): entries
  // live as long as the index, and only SetPathLocked changes a registered entry's path, taking
  // the old key out before and putting the new one in after.
  std::unordered_multimap<std::string_view, TShareFileInfo*> byPath_;
  std::unordered_multimap<TMD5Digest, TShareFileInfo*, DigestHash> byDigest_;
  std::unordered_map<const TShareFileInfo*, size_t> live_;  // entry -> index in entries_
  std::vector<std::unique_ptr<TPlayList>> playLists_;
  std::string downloadFolder_;
  EntryRemovedEvent onEntryRemoved_;
  DuplicateFoundEvent onDuplicateFound_;

  // Hashing thread state (under lock_).
  std::deque<TShareFileInfo*> hashQueue_;
  std::deque<std::function<void()>> workerJobs_;  // other slow work for that thread, first
  uint64_t generation_ = 0;  // bumped by ClearLibrary: a digest for a freed entry is dropped
  bool hashBusy_ = false;
  mutable std::condition_variable hashWake_;
  mutable std::condition_variable hashIdle_;
  std::atomic<bool> terminated_{false};
  std::unique_ptr<TCalcThread> calcThread_;  // last: it runs on everything above

  // Work posted to the main thread holds this weakly: it does nothing once the manager is gone.
  std::shared_ptr<TMusicFileMgr*> self_ = std::make_shared<TMusicFileMgr*>(this);

  std::string autoSavePath_;
  int autoSaveDelayMs_ = 2000;
  uint64_t autoSaveTimer_ = 0;
};

// Folder scan for "add folder": files whose extension (dot included, any case) is one of exts
// ("|"-separated, e.g. ".MP3|.WMA"), depth first when recursive; symbolic links to folders are
// followed once, never round a loop.
std::vector<std::string> ScanFolder(const std::string& folder, const std::string& exts, bool recursive);

// Text safe to keep in the library file: no NULs or other control characters.
std::string CleanText(std::string_view text);
// The same into an existing string (the library loader reuses each entry's own buffers).
void AssignCleanText(std::string& out, std::string_view text);

}  // namespace ml
