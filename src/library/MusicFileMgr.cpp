#include "library/MusicFileMgr.h"

#include "base/DebugTrace.h"
#include "base/Dispatcher.h"
#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "xml/XmlDocument.h"
#include "media/uTagInfo.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ml {
namespace fs = std::filesystem;

namespace {

std::string CaptionFromPath(const std::string& path) { return fs::path(path).stem().string(); }

// Runs the digest work at idle I/O priority so playing music never waits for the disk.
void LowerThreadPriority() {
  constexpr int IoprioClassIdle = 3, IoprioClassShift = 13, IoprioWhoProcess = 1;
  syscall(SYS_ioprio_set, IoprioWhoProcess, 0, IoprioClassIdle << IoprioClassShift);
  errno = 0;
  (void)nice(5);
}

}  // namespace

void AssignCleanText(std::string& out, std::string_view text) {
  out.clear();
  out.reserve(text.size());
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u == 0) continue;
    out += (u < 0x20 || u == 0x7F) ? ' ' : c;
  }
}

std::string CleanText(std::string_view text) {
  std::string out;
  AssignCleanText(out, text);
  return out;
}

size_t TMusicFileMgr::DigestHash::operator()(const TMD5Digest& d) const noexcept {
  size_t h;
  std::memcpy(&h, d.v.data(), sizeof h);  // a digest is already uniformly spread
  return h;
}

TCalcThread::TCalcThread(TMusicFileMgr& mgr) : mgr_(mgr), thread_([this] { mgr_.HashLoop(); }) {}

TCalcThread::~TCalcThread() {
  mgr_.StopHashing();
  thread_.join();
}

TMusicFileMgr::TMusicFileMgr(Dispatcher* dispatcher)
    : dispatcher_(dispatcher), calcThread_(std::make_unique<TCalcThread>(*this)) {}

TMusicFileMgr::~TMusicFileMgr() {
  self_.reset();  // work already posted to the main thread finds the manager gone
  if (dispatcher_ && autoSaveTimer_) dispatcher_->StopTimer(autoSaveTimer_);
  calcThread_.reset();
}

void TMusicFileMgr::StopHashing() {
  {
    std::lock_guard lock(lock_);
    terminated_ = true;
  }
  hashWake_.notify_all();
  // The thread may be waiting for the main thread to run a duplicate handler.
  if (dispatcher_) dispatcher_->ReleaseSenders();
}

// ---- entries -------------------------------------------------------------------------------

namespace {
template <typename Map, typename Key>
void EraseFromIndex(Map& index, const Key& key, const TShareFileInfo* e) {
  auto [first, last] = index.equal_range(key);
  for (auto it = first; it != last; ++it)
    if (it->second == e) {
      index.erase(it);
      return;
    }
}
}  // namespace

void TMusicFileMgr::IndexLocked(TShareFileInfo* e) {
  if (!e->FileName.empty()) byPath_.emplace(e->FileName, e);
  if (!LRMD5::MD5DigestIsZero(e->FileHash)) byDigest_.emplace(e->FileHash, e);
}

void TMusicFileMgr::UnindexDigestLocked(TShareFileInfo* e) { EraseFromIndex(byDigest_, e->FileHash, e); }

void TMusicFileMgr::SetDigestLocked(TShareFileInfo* e, const TMD5Digest& d) {
  UnindexDigestLocked(e);
  e->FileHash = d;
  if (!LRMD5::MD5DigestIsZero(d)) byDigest_.emplace(d, e);
}

void TMusicFileMgr::SetPathLocked(TShareFileInfo* e, const std::string& path) {
  if (e->FileName == path) return;
  if (!e->FileName.empty()) EraseFromIndex(byPath_, e->FileName, e);
  e->FileName = path;
  if (!e->FileName.empty()) byPath_.emplace(e->FileName, e);
}

TShareFileInfo* TMusicFileMgr::RegisterLocked(std::unique_ptr<TShareFileInfo> entry) {
  TShareFileInfo* e = entry.get();
  live_[e] = entries_.size();
  entries_.push_back(std::move(entry));
  IndexLocked(e);
  if (e->ShareStatus == ssWaitHash) QueueHashLocked(e);
  return e;
}

void TMusicFileMgr::QueueHashLocked(TShareFileInfo* e) {
  hashQueue_.push_back(e);
  hashWake_.notify_one();
}

TShareFileInfo* TMusicFileMgr::FindByDigestLocked(const TMD5Digest& d) const {
  if (LRMD5::MD5DigestIsZero(d)) return nullptr;
  // Of two live entries with one digest (until they are merged) the newer one is found.
  TShareFileInfo* newest = nullptr;
  auto [first, last] = byDigest_.equal_range(d);
  for (auto it = first; it != last; ++it)
    if (it->second->ShareStatus != ssRemoved && (!newest || live_.at(it->second) > live_.at(newest)))
      newest = it->second;
  return newest;
}

TAddResult TMusicFileMgr::AddFile(const std::string& path) {
  auto refused = [](std::string why) { return TAddResult{TAddResult::Refused, nullptr, std::move(why)}; };
  const TFileFacts f = StatFile(path);
  if (!f.exists) {
    // Not a regular file: only now is it worth asking what it is instead.
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return refused(ec && ec != std::errc::no_such_file_or_directory ? ec.message() : "no such file");
    return refused(fs::is_directory(status) ? "a folder" : "not a regular file");
  }
  if (f.size == 0) return refused("an empty file");
  if (TShareFileInfo* existing = FindByPathAndSize(path, f.size)) return {TAddResult::AlreadyPresent, existing, {}};
  // Tags are read outside the lock: a slow disk must not hold up the hashing thread.
  TTagInfo tags;
  TMediaInfo info;
  if (!tags.Load(path)) return refused(std::string("cannot be read: ") + std::strerror(errno));
  if (!tags.GetMediaInfo(info)) return refused("not an audio file this player knows");
  auto e = std::make_unique<TShareFileInfo>();
  e->Encrypt = false;
  e->ShareStatus = ssWaitHash;
  e->LastWriteTime = f.lastWriteTime;
  e->FileName = path;
  e->FileSize = f.size;
  e->FileNameCount = 1;
  e->Caption = CleanText(CaptionFromPath(path));
  e->Artist = CleanText(info.Artist);
  e->Title = CleanText(info.Title);
  e->Album = CleanText(info.Album);
  e->Duration = info.Duration;
  e->Track = info.Track;
  e->Year = CleanText(info.Year);
  e->Genre = CleanText(info.Genre);
  e->Comment = CleanText(info.Comment);
  e->SampleRate = info.SampleRate;
  e->Channels = static_cast<uint16_t>(info.Channels);
  e->Bitrate = info.Bitrate;
  e->Codec.clear();
  std::lock_guard lock(lock_);
  return {TAddResult::New, RegisterLocked(std::move(e)), {}};
}

TShareFileInfo* TMusicFileMgr::AddFromSearchResult(const std::string& caption, const TMD5Digest& digest) {
  return AddFromPlayListInfo(TDownPlayListInfo{caption, digest, 0});
}

TShareFileInfo* TMusicFileMgr::AddFromPlayListInfo(const TDownPlayListInfo& info) {
  std::lock_guard lock(lock_);
  if (TShareFileInfo* existing = FindByDigestLocked(info.Digest)) return existing;
  auto e = std::make_unique<TShareFileInfo>();
  e->Encrypt = true;
  e->ShareStatus = ssReady;
  e->Caption = CleanText(info.Caption);
  e->FileHash = info.Digest;
  e->Duration = info.Duration;
  return RegisterLocked(std::move(e));
}

TShareFileInfo* TMusicFileMgr::AddCopy(const TShareFileInfo& record) {
  std::lock_guard lock(lock_);
  if (TShareFileInfo* existing = FindByDigestLocked(record.FileHash)) return existing;
  return RegisterLocked(std::make_unique<TShareFileInfo>(record));
}

TShareFileInfo* TMusicFileMgr::FindByDigest(const TMD5Digest& digest) const {
  std::lock_guard lock(lock_);
  return FindByDigestLocked(digest);
}

TShareFileInfo* TMusicFileMgr::FindByPathAndSize(const std::string& path, uint64_t size) const {
  std::lock_guard lock(lock_);
  auto [first, last] = byPath_.equal_range(path);
  for (auto it = first; it != last; ++it)
    if (it->second->ShareStatus != ssRemoved && it->second->FileSize == size) return it->second;
  return nullptr;
}

TShareFileInfo TMusicFileMgr::Snapshot(const TShareFileInfo* entry) const {
  std::lock_guard lock(lock_);
  return *entry;
}

bool TMusicFileMgr::IsLive(const TShareFileInfo* entry) const {
  std::lock_guard lock(lock_);
  return live_.count(entry) && entry->ShareStatus != ssRemoved;
}

void TMusicFileMgr::RemoveEntry(TShareFileInfo* entry) {
  {
    std::lock_guard lock(lock_);
    entry->ShareStatus = ssRemoved;
  }
  if (onEntryRemoved_) onEntryRemoved_(entry);
  Changed();
}

void TMusicFileMgr::PurgeRemoved() {
  for (auto& list : playLists_)
    std::erase_if(list->Items, [&](TShareFileInfo* e) { return !IsLive(e); });
  Changed();
}

void TMusicFileMgr::ReplaceInPlayLists(TShareFileInfo* oldEntry, TShareFileInfo* newEntry) {
  for (auto& list : playLists_) {
    bool holdsNew = std::find(list->Items.begin(), list->Items.end(), newEntry) != list->Items.end();
    for (size_t i = 0; i < list->Items.size();) {
      if (list->Items[i] != oldEntry) {
        ++i;
      } else if (holdsNew) {
        list->Items.erase(list->Items.begin() + static_cast<ptrdiff_t>(i));
      } else {
        list->Items[i++] = newEntry;
        holdsNew = true;
      }
    }
  }
  Changed();
}

// ---- playlists ------------------------------------------------------------------------------

TPlayList* TMusicFileMgr::NewPlayList(const std::string& name) {
  auto list = std::make_unique<TPlayList>();
  list->Name = name;
  playLists_.push_back(std::move(list));
  Changed();
  return playLists_.back().get();
}

void TMusicFileMgr::DeletePlayList(TPlayList* list) {
  std::erase_if(playLists_, [&](const std::unique_ptr<TPlayList>& p) { return p.get() == list; });
  Changed();
}

void TMusicFileMgr::MovePlayList(size_t from, size_t to) {
  if (from >= playLists_.size()) return;
  to = std::min(to, playLists_.size() - 1);
  auto list = std::move(playLists_[from]);
  playLists_.erase(playLists_.begin() + static_cast<ptrdiff_t>(from));
  playLists_.insert(playLists_.begin() + static_cast<ptrdiff_t>(to), std::move(list));
  Changed();
}

int TMusicFileMgr::IndexOfPlayList(const TPlayList* list) const {
  for (size_t i = 0; i < playLists_.size(); ++i)
    if (playLists_[i].get() == list) return static_cast<int>(i);
  return -1;
}

TPlayList* TMusicFileMgr::AddProgrammeList(TProgrammeList programme) {
  for (auto& list : playLists_)
    if (list->Style == 1 && list->ID == programme.ID) return list.get();
  auto list = std::make_unique<TPlayList>();
  list->Name = CleanText(programme.Name);
  list->Style = 1;
  list->ID = programme.ID;
  {
    std::lock_guard lock(lock_);
    for (TShareFileInfo& record : programme.Records) {
      TShareFileInfo* e = FindByDigestLocked(record.FileHash);
      if (!e) e = RegisterLocked(std::make_unique<TShareFileInfo>(std::move(record)));
      list->Items.push_back(e);
    }
  }
  playLists_.push_back(std::move(list));
  Changed();
  return playLists_.back().get();
}

// ---- downloads -------------------------------------------------------------------------------

void TMusicFileMgr::SetDownloadFolder(const std::string& folder) { downloadFolder_ = WithTrailingSlash(folder); }

std::string TMusicFileMgr::DownloadPathFor(const TShareFileInfo& e) const {
  return downloadFolder_ + LRMD5::MD5DigestToStr(e.FileHash) + DownloadedSongExt;
}

std::string TMusicFileMgr::ChooseDownloadPath(const TShareFileInfo& e) const {
  if (!e.Encrypt || e.Caption.empty()) return {};
  std::string path = e.FileName.empty() ? DownloadPathFor(e) : e.FileName;
  // A file already at the path that is not this song (its digest differs) keeps its name; we
  // take "name (n).ext" with the smallest free n. When the song's size is known, a file of
  // another size cannot be it: only one of the same size is read.
  auto occupiedByOther = [&](const std::string& p) {
    const TFileFacts facts = StatFile(p);
    if (!facts.exists) return false;
    return (e.FileSize != 0 && facts.size != e.FileSize) || LRMD5::MD5File(p) != e.FileHash;
  };
  if (occupiedByOther(path)) {
    fs::path p(path);
    std::string stem = (p.parent_path() / p.stem()).string(), ext = p.extension().string();
    for (int n = 1;; ++n) {
      std::string candidate = stem + " (" + std::to_string(n) + ")" + ext;
      if (!occupiedByOther(candidate)) {
        path = candidate;
        break;
      }
    }
  }
  return path;
}

bool TMusicFileMgr::RecordDownloadPath(TShareFileInfo* entry, const std::string& path) {
  const bool missing = !StatFile(path).exists;
  {
    std::lock_guard lock(lock_);
    if (!live_.count(entry)) return false;
    SetPathLocked(entry, path);
    if (missing) entry->ShareStatus = ssNeedDownload;
  }
  Changed();
  return missing;
}

void TMusicFileMgr::PrepareDownload(TShareFileInfo* entry, std::function<void(bool missing)> done) {
  const TShareFileInfo snapshot = Snapshot(entry);
  if (!dispatcher_) {
    const std::string path = ChooseDownloadPath(snapshot);
    const bool missing = !path.empty() && RecordDownloadPath(entry, path);
    if (done) done(missing);
    return;
  }
  {
    std::lock_guard lock(lock_);
    workerJobs_.push_back([this, entry, snapshot, done = std::move(done), generation = generation_] {
      const std::string path = ChooseDownloadPath(snapshot);
      dispatcher_->Post([weak = std::weak_ptr<TMusicFileMgr*>(self_), entry, path, done, generation] {
        auto self = weak.lock();
        if (!self) return;
        TMusicFileMgr& mgr = **self;
        bool missing = false;
        {
          std::lock_guard lock(mgr.lock_);
          if (mgr.generation_ != generation) return;  // the library was cleared meanwhile
        }
        if (!path.empty()) missing = mgr.RecordDownloadPath(entry, path);
        if (done) done(missing);
      });
    });
  }
  hashWake_.notify_all();
}

bool TMusicFileMgr::DownloadCompleted(TShareFileInfo* entry) {
  TShareFileInfo e = Snapshot(entry);
  if (!StatFile(e.FileName).exists) return false;
  std::string finalPath = e.FileName;
  const std::string tempFolder = downloadFolder_ + "Temp/";
  if (!downloadFolder_.empty() && e.FileName.rfind(tempFolder, 0) == 0) {
    finalPath = DownloadPathFor(e);
    std::error_code ec;
    fs::copy_file(e.FileName, finalPath, fs::copy_options::overwrite_existing, ec);
    if (ec) {
      DebugTrace("library: cannot copy %s: %s", e.FileName.c_str(), ec.message().c_str());
      return false;
    }
  }
  {
    std::lock_guard lock(lock_);
    entry->ShareStatus = ssReady;
    entry->LackSource = false;
    SetPathLocked(entry, finalPath);
  }
  Changed();
  return true;
}

// ---- entry updates ----------------------------------------------------------------------------

void TMusicFileMgr::UpdateFromMediaInfo(TShareFileInfo* e, const TMediaInfo& info) {
  {
    std::lock_guard lock(lock_);
    e->FileSize = info.FileSize;
    e->SampleRate = info.SampleRate;
    e->Bitrate = info.Bitrate;
    e->Channels = static_cast<uint16_t>(info.Channels);
    e->Title = CleanText(info.Title);
    e->Artist = CleanText(info.Artist);
    e->Album = CleanText(info.Album);
    e->Year = CleanText(info.Year);
    e->Genre = CleanText(info.Genre);
    e->Track = info.Track;
    e->Comment = CleanText(info.Comment);
  }
  Changed();
}

void TMusicFileMgr::SetDuration(TShareFileInfo* e, int32_t ms) {
  {
    std::lock_guard lock(lock_);
    e->Duration = ms;
  }
  Changed();
}

void TMusicFileMgr::SetCaption(TShareFileInfo* e, const std::string& text) {
  if (text.empty()) return;
  {
    std::lock_guard lock(lock_);
    e->Caption = CleanText(text);
  }
  Changed();
}

void TMusicFileMgr::SetLackSource(TShareFileInfo* e, bool flag) {
  {
    std::lock_guard lock(lock_);
    e->LackSource = flag;
    e->ShareStatus = ssReady;
  }
  Changed();
}

void TMusicFileMgr::SetLRCFileName(TShareFileInfo* e, const std::string& path) {
  if (!path.empty() && !StatFile(path).exists) return;
  {
    std::lock_guard lock(lock_);
    e->LRCFileName = path;
  }
  Changed();
}

void TMusicFileMgr::ClearLibrary() {
  std::lock_guard lock(lock_);
  playLists_.clear();
  // The hashing thread may hold a pointer to an entry it is hashing; the generation tells it
  // that the entry is gone.
  ++generation_;
  hashQueue_.clear();
  byPath_.clear();
  byDigest_.clear();
  live_.clear();
  entries_.clear();
}

size_t TMusicFileMgr::LiveEntryCount() const {
  std::lock_guard lock(lock_);
  return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                            [](const auto& e) { return e->ShareStatus != ssRemoved; }));
}

std::vector<TShareFileInfo*> TMusicFileMgr::LiveEntries() const {
  std::lock_guard lock(lock_);
  std::vector<TShareFileInfo*> live;
  for (const auto& e : entries_)
    if (e->ShareStatus != ssRemoved) live.push_back(e.get());
  return live;
}

size_t TMusicFileMgr::EntryCount() const {
  std::lock_guard lock(lock_);
  return entries_.size();
}

void TMusicFileMgr::SetOnDuplicateFound(DuplicateFoundEvent handler) {
  std::lock_guard lock(lock_);
  onDuplicateFound_ = std::move(handler);
}

// ---- hashing thread -----------------------------------------------------------------------------

void TMusicFileMgr::WaitHashingIdle() const {
  auto idle = [&] { return (hashQueue_.empty() && !hashBusy_) || terminated_; };
  if (dispatcher_ && dispatcher_->IsMainThread()) {
    // The hashing thread may be waiting for us to run a duplicate handler: keep pumping.
    while (!dispatcher_->WaitPumping([&] {
      std::lock_guard lock(lock_);
      return idle();
    }, Millis(60000))) {
    }
    return;
  }
  std::unique_lock lock(lock_);
  hashIdle_.wait(lock, idle);
}

void TMusicFileMgr::HashLoop() {
  LowerThreadPriority();
  for (;;) {
    {
      std::unique_lock lock(lock_);
      hashIdle_.notify_all();
      // A main thread waiting in WaitHashingIdle sleeps in its loop: wake it to look again.
      if (dispatcher_ && hashQueue_.empty()) dispatcher_->Post([] {});
      hashWake_.wait(lock, [&] { return terminated_ || !hashQueue_.empty() || !workerJobs_.empty(); });
      if (terminated_) return;
    }
    try {
      for (;;) {
        std::function<void()> job;
        {
          std::lock_guard lock(lock_);
          if (terminated_ || workerJobs_.empty()) break;
          job = std::move(workerJobs_.front());
          workerJobs_.pop_front();
        }
        job();
      }
      while (!terminated_ && HashOne()) {
      }
    } catch (const std::exception& ex) {
      DebugTrace("library: hashing failed: %s", ex.what());
    }
  }
}

// Hashes the next waiting entry; false when none is left.
bool TMusicFileMgr::HashOne() {
  TShareFileInfo* e = nullptr;
  std::string path;
  uint64_t generation;
  {
    std::lock_guard lock(lock_);
    while (!hashQueue_.empty() && !e) {
      TShareFileInfo* next = hashQueue_.front();
      hashQueue_.pop_front();
      if (next->ShareStatus != ssWaitHash) continue;
      next->ShareStatus = ssHashing;
      // A file that vanished stays at "hashing" (saved as "to hash") until the next start.
      if (!StatFile(next->FileName).exists) continue;
      e = next;
    }
    if (!e) return false;
    path = e->FileName;
    generation = generation_;
    hashBusy_ = true;
  }
  bool ok = false;
  const TMD5Digest digest = LRMD5::MD5File(path, &ok, &terminated_);
  TShareFileInfo* kept = nullptr;  // the older entry this one turned out to duplicate
  {
    std::lock_guard lock(lock_);
    if (!StoreDigestLocked(e, generation, ok, digest, path, &kept)) {
      hashBusy_ = false;
      return true;
    }
    // The thread stays busy until the handler has run, so WaitHashingIdle never returns
    // between a merge and its handler.
    hashBusy_ = kept != nullptr;
  }
  if (!kept) return true;
  // The handler is looked up where it runs: its owner may have gone (and cleared it) since the
  // merge, and the library may have been cleared, freeing both entries.
  auto announce = [this, e, kept, generation] {
    DuplicateFoundEvent onDuplicate;
    {
      std::lock_guard lock(lock_);
      if (generation_ != generation) return;
      onDuplicate = onDuplicateFound_;
    }
    if (onDuplicate) onDuplicate(e, kept);
  };
  if (dispatcher_) {
    // Given up when the manager is being destroyed: the main thread is then joining this one.
    dispatcher_->Send([&] {
      announce();
      Changed();
    }, &terminated_);
  } else {
    announce();
  }
  std::lock_guard lock(lock_);
  hashBusy_ = false;
  return true;
}

// Stores a finished digest and merges the entry into an older one with the same digest (set in
// *kept). False when the result no longer applies or the file could not be read.
bool TMusicFileMgr::StoreDigestLocked(TShareFileInfo* e, uint64_t generation, bool ok, const TMD5Digest& digest,
                                      const std::string& path, TShareFileInfo** kept) {
  if (generation != generation_ || terminated_ || !live_.count(e) || e->ShareStatus != ssHashing) return false;
  if (!ok) {
    // A read error is not a verdict on the song: it waits for the next start to try again.
    e->ShareStatus = ssWaitHash;
    DebugTrace("library: cannot read %s; will retry at next start", path.c_str());
    return false;
  }
  SetDigestLocked(e, digest);
  e->ShareStatus = ssReady;
  e->LastWriteTime = StatFile(path).lastWriteTime;
  TShareFileInfo* other = nullptr;
  auto [first, last] = byDigest_.equal_range(digest);
  for (auto it = first; it != last; ++it)
    if (it->second != e && it->second->ShareStatus != ssRemoved && (!other || live_.at(it->second) < live_.at(other)))
      other = it->second;
  if (other) {
    // The entry that was there first survives; it takes this file when its own is gone.
    if (!StatFile(other->FileName).exists) {
      SetPathLocked(other, e->FileName);
      other->Encrypt = e->Encrypt;
    }
    e->ShareStatus = ssRemoved;
  }
  *kept = other;
  return true;
}

// ---- autosave ----------------------------------------------------------------------------------

void TMusicFileMgr::EnableAutoSave(const std::string& path, int delayMs) {
  autoSavePath_ = path;
  autoSaveDelayMs_ = delayMs;
}

void TMusicFileMgr::Changed() {
  if (!dispatcher_ || autoSavePath_.empty() || !dispatcher_->IsMainThread()) return;
  // Debounced: a burst of changes (adding a folder) saves once, a moment after the last one.
  if (autoSaveTimer_) dispatcher_->StopTimer(autoSaveTimer_);
  autoSaveTimer_ = dispatcher_->StartTimer(Millis(autoSaveDelayMs_), [this] {
    autoSaveTimer_ = 0;
    std::string error;
    if (!Save(autoSavePath_, &error)) DebugTrace("library: autosave failed: %s", error.c_str());
  }, false);
}

// ---- folder scan --------------------------------------------------------------------------------

std::vector<std::string> ScanFolder(const std::string& folder, const std::string& exts, bool recursive) {
  std::set<std::string> wanted;
  for (size_t start = 0; start <= exts.size();) {
    size_t bar = exts.find('|', start);
    std::string ext(Trim(exts.substr(start, bar == std::string::npos ? std::string::npos : bar - start)));
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!ext.empty()) wanted.insert(ext);
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::vector<std::string> found;
  std::set<std::pair<dev_t, ino_t>> visited;
  std::function<void(const fs::path&)> scan = [&](const fs::path& dir) {
    struct stat st{};
    if (::stat(dir.c_str(), &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second) return;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path& p = it->path();
      std::error_code e2;
      if (it->is_directory(e2)) {
        if (recursive) scan(p);
      } else if (it->is_regular_file(e2)) {
        std::string ext = p.extension().string();
        for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (wanted.count(ext)) found.push_back(p.string());
      }
    }
  };
  scan(folder);
  return found;
}

}  // namespace ml
