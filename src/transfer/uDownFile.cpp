#include "transfer/uDownFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/FileUtil.h"

namespace ml {

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string LastPart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name a peer reported, fit to be a file name here: no folders, nothing hidden or empty.
bool UsableName(const std::string& name) {
  return !name.empty() && name.size() <= 200 && name.find('/') == std::string::npos && name[0] != '.' &&
         name.find('\0') == std::string::npos;
}

int32_t HashKey(const TMD5Digest& h) {
  int32_t sum = 0;
  for (uint8_t b : h.v) sum += b;
  return sum;
}

constexpr uint16_t HashServerCode = 44;

}  // namespace

TDownFileParam ParamOf(const THistoryEntry& e) {
  TDownFileParam p;
  p.FileName = e.FileName;
  p.DestFileName = e.DestFileName;
  p.FileSize = e.FileSize;
  p.FileHash = e.FileHash;
  p.DownType = uint16_t(e.DownType);
  p.MusicID = e.MusicID;
  p.BitRate = e.BitRate;
  p.SampleRate = e.SampleRate;
  p.Channels = e.Channels;
  p.OwnerCount = e.OwnerCount;
  p.CountTimeStamp = e.CountTimeStamp;
  return p;
}

int64_t TDownFile::TDownSource::LossTimeout() const {
  if (SrttMs < 0) return LossTimeoutMs;
  return std::clamp<int64_t>(int64_t(3 * SrttMs) + 10, MinLossTimeoutMs, LossTimeoutMs);
}

TDownFile::TDownFile(ITransferLink& link, const TDownFileParam& param)
    : link_(link), param_(param), hash_(param.FileHash) {
  fileName_ = param.FileName;
  destFileName_ = param.DestFileName;
  fileSize_ = std::clamp<int64_t>(param.FileSize, 0, INT32_MAX);
  downTime_ = std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

TDownFile::~TDownFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string TDownFile::TempFileName() const {
  std::lock_guard lock(mutex_);
  return tempFileName_;
}
std::string TDownFile::DestFileName() const {
  std::lock_guard lock(mutex_);
  return destFileName_;
}
std::string TDownFile::FileName() const {
  std::lock_guard lock(mutex_);
  return fileName_;
}
std::string TDownFile::FailReason() const {
  std::lock_guard lock(mutex_);
  return failReason_;
}
std::vector<int32_t> TDownFile::SourcesUsed() const {
  std::lock_guard lock(mutex_);
  return {usedSources_.begin(), usedSources_.end()};
}

void TDownFile::Fail(const TLock&, std::string reason) {
  failReason_ = std::move(reason);
  state_ = dsStopped;
  historyDirty_ = true;
}

void TDownFile::GiveUp(const TLock&, int64_t nowMs) {
  failReason_ = "no peer has the file now (" + std::to_string(searchesMade_) +
                (searchesMade_ == 1 ? " search)" : " searches)");
  state_ = dsWaiting;
  retryMs_ = nowMs + GiveUpMs;
  historyDirty_ = true;
}

std::vector<uint8_t> TDownFile::RandomSongs() const {
  std::lock_guard lock(mutex_);
  return randomSongs_;
}

void TDownFile::TakeRandomSongs(const TRandomSongs& songs) {
  TLock lock(mutex_);
  const size_t take = std::min(MaxRandomSongBytes - randomSongs_.size(), songs.Songs.size());
  randomSongs_.insert(randomSongs_.end(), songs.Songs.begin(), songs.Songs.begin() + std::ptrdiff_t(take));
}

bool TDownFile::MakeTempFile(const TLock& lock) {
  const int64_t size = fileSize_;
  if (fd_ < 0) {
    std::string dir = link_.TempFileDirectory();
    if (dir.empty()) dir = FolderOf(destFileName_);
    EnsureDirectory(dir);
    dir = WithTrailingSlash(dir);
    std::string base = LastPart(destFileName_);
    if (base.empty()) base = LRMD5::MD5DigestToStr(hash_);
    // Two jobs whose destinations share a name must not share a temporary file: the name is
    // taken only when it is new.
    for (int i = 0; i < 100 && fd_ < 0; ++i) {
      const std::string name = dir + base + (i ? "(" + std::to_string(i) + ")" : "") + ".lr!";
      fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd_ >= 0) tempFileName_ = name;
      else if (errno != EEXIST) break;
    }
    if (fd_ < 0) {
      Fail(lock, "cannot create the temporary file in " + dir + ": " + std::strerror(errno));
      return false;
    }
  } else if (::ftruncate(fd_, 0) != 0) {
    Fail(lock, std::string("cannot empty the temporary file: ") + std::strerror(errno));
    return false;
  }
  // Room for the whole file now, so that a full disk ends the job here and not as a hole later.
  if (size > 0) {
    const int err = ::posix_fallocate(fd_, 0, off_t(size));
    if (err != 0) {
      Fail(lock, "cannot reserve " + std::to_string(size) + " bytes for " + tempFileName_ + ": " + std::strerror(err));
      return false;
    }
  }
  return true;
}

bool TDownFile::ResetDown() {
  TLock lock(mutex_);
  map_.Reset(fileSize_);
  receivedBytes_ = prefixBytes_ = 0;
  if (fileSize_ > 0 && !MakeTempFile(lock)) return false;
  state_ = dsInitialising;
  searchesMade_ = 0;
  retryMs_ = 0;
  historyDirty_ = true;
  return true;
}

bool TDownFile::RestoreDown(const THistoryEntry& e) {
  TLock lock(mutex_);
  if (e.FileSize <= 0 || e.FileSize > INT32_MAX || !map_.LoadRecvTable(e.RecvTable, e.FileSize)) return false;
  const int fd = ::open(e.TempFileName.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > e.FileSize) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  fileSize_ = e.FileSize;
  tempFileName_ = e.TempFileName;
  destFileName_ = e.DestFileName;
  fileName_ = e.FileName;
  downTime_ = e.DownTime;
  downIndex_ = e.DownIndex;
  if (::posix_fallocate(fd_, 0, off_t(e.FileSize)) != 0) {
    Fail(lock, "cannot reserve room for " + tempFileName_);
    return false;
  }
  UpdateFigures(lock);
  state_ = param_.DownType == 1 ? dsInitialising : dsStopped;
  historyDirty_ = false;
  return true;
}

void TDownFile::ContinueDown() {
  TLock lock(mutex_);
  const uint8_t s = state_;
  if (s == dsVerifying || s == dsComplete) return;
  // A job that failed for good gets its three verifications again when asked anew.
  if (s == dsStopped && !failReason_.empty()) verifyFailures_ = 0;
  failReason_.clear();
  state_ = dsWaiting;
  searchesMade_ = 0;
  retryMs_ = 0;
  map_.ForgetRequests();
}

void TDownFile::StopDown() {
  TLock lock(mutex_);
  if (state_ > dsDownloading) return;
  while (!sources_.empty()) DropSource(lock, sources_.size() - 1);
  state_ = dsStopped;
  historyDirty_ = true;
}

void TDownFile::Start(int64_t nowMs) {
  TLock lock(mutex_);
  if (state_ != dsInitialising && state_ != dsWaiting) return;
  if (state_ == dsWaiting && nowMs < retryMs_) return;
  state_ = dsConnecting;
  failReason_.clear();
  searchesMade_ = 0;
  unansweredSearches_ = 0;
  retryMs_ = 0;
}

void TDownFile::Send(const uint8_t* data, size_t length, uint32_t ip, uint16_t port) {
  link_.SendRecord(ip, port, data, length);
}

void TDownFile::Search(const TLock&, int64_t nowMs) {
  if (searchOutstanding_) return;
  uint32_t ip = 0;
  uint16_t port = 0;
  if (!link_.ServerFor(HashKey(hash_), HashServerCode, ip, port)) return;
  uint8_t out[64];
  TCmdStream s;
  s.InitWrite(out, sizeof out);
  if (!WriteHashSourcesRequest(s, THashSourcesRequest{hash_, link_.OwnUserID(), link_.OwnNatType()})) return;
  Send(out, size_t(s.Size()), ip, port);
  searchOutstanding_ = true;
  searchSentMs_ = nowMs;
  ++searchesMade_;
  ++unansweredSearches_;
}

void TDownFile::ManageSources(const TLock& lock, int64_t nowMs) {
  if (searchOutstanding_ && nowMs - searchSentMs_ > SearchWaitMs) {
    searchOutstanding_ = false;
    // Three lists in a row that never came: the hash server is away; ask again in 30 s.
    if (unansweredSearches_ > 3) {
      unansweredSearches_ = 0;
      retryMs_ = nowMs + HashServerAwayMs;
    } else {
      Search(lock, nowMs);
    }
  }
  if (nowMs >= retryMs_) {
    retryMs_ = nowMs + SearchStepMs * searchesMade_ + SearchStepMs;
    if (int32_t(sources_.size()) < maxSources_ && candidates_.empty()) Search(lock, nowMs);
  }
  while (int32_t(sources_.size()) < maxSources_ && !candidates_.empty()) {
    const TPeerSource p = candidates_.front();
    candidates_.pop_front();
    const bool known = std::any_of(sources_.begin(), sources_.end(),
                                   [&](const TDownSource& s) { return s.Peer.UserID == p.UserID; });
    if (known || p.UserID == link_.OwnUserID()) continue;
    TDownSource s;
    s.Peer = p;
    s.State = p.NatType <= 1 ? TDownSource::Direct : TDownSource::ViaRelay;
    s.NextActionMs = nowMs;
    sources_.push_back(std::move(s));
  }
  if (!sources_.empty() || !candidates_.empty()) return;
  // No one to ask: search again while searches are left and the last list was long (a short
  // one named everyone the server knows) or a search is still out; else wait a while.
  const bool mayFindMore = searchesMade_ < maxSearches_ && (searchesMade_ == 0 || manySources_);
  if (!mayFindMore && !searchOutstanding_) GiveUp(lock, nowMs);
}

void TDownFile::SendFileRequest(const TLock&, TDownSource& s) {
  uint8_t out[64];
  TCmdStream w;
  w.InitWrite(out, sizeof out);
  if (s.State == TDownSource::ViaRelay) {
    // Through the relay server from the first attempt on: the relay tells the peer where we are
    // as it sees us, and the peer answers us directly.
    uint32_t ip = 0;
    uint16_t port = 0;
    if (!link_.ServerFor(s.Peer.UserID, Cmd::RelayFileRequest, ip, port)) return;
    TRelayFileRequest r{hash_, int32_t(fileSize_), link_.OwnUserID(), 0, 0, s.Peer.UserID, uint8_t(param_.DownType)};
    if (WriteRelayFileRequest(w, r)) Send(out, size_t(w.Size()), ip, port);
  } else {
    TPeerFileRequest r{hash_, int32_t(fileSize_), link_.OwnUserID(), uint8_t(param_.DownType), link_.OwnNatType()};
    if (WritePeerFileRequest(w, r)) Send(out, size_t(w.Size()), s.Peer.IP, s.Peer.Port);
  }
}

void TDownFile::ReleaseBlock(const TLock&, int32_t block, const TDownSource* except) {
  for (const TDownSource& o : sources_) {
    if (&o == except) continue;
    for (const TOutstanding& x : o.Outstanding)
      if (x.Block == block) return;  // someone else still has it asked
  }
  map_.MarkMissing(block);
}

void TDownFile::DropSource(const TLock& lock, size_t index) {
  TDownSource s = std::move(sources_[index]);
  sources_.erase(sources_.begin() + std::ptrdiff_t(index));
  for (const TOutstanding& x : s.Outstanding) ReleaseBlock(lock, x.Block, nullptr);
  if (s.State == TDownSource::Transferring) {
    // Tell it to stop sending.
    uint8_t out[32];
    TCmdStream w;
    w.InitWrite(out, sizeof out);
    if (WritePeerBlockRequest(w, TPeerBlockRequest{hash_, link_.OwnUserID(), uint8_t(param_.DownType), {}}))
      Send(out, size_t(w.Size()), s.Peer.IP, s.Peer.Port);
  }
  activeSources_ = int32_t(sources_.size());
}

bool TDownFile::StepSource(const TLock& lock, TDownSource& s, int64_t nowMs) {
  if (s.State == TDownSource::Transferring) {
    if (nowMs - s.LastDataMs > SilentDropMs) return false;
    // Blocks overdue are asked again (of anyone); the window halves at each loss.
    bool lost = false;
    std::erase_if(s.Outstanding, [&](const TOutstanding& x) {
      if (nowMs - x.SentMs < s.LossTimeout()) return false;
      lost = true;
      return true;
    });
    if (lost) {
      s.Window = std::max(LossWindow, s.Window / 2);
      s.Credit = 0;
      map_.ForgetRequests();
      for (const TDownSource& o : sources_)
        for (const TOutstanding& x : o.Outstanding) map_.MarkRequested(x.Block);
      pickCursor_ = 0;
    }
    RequestBlocks(lock, s, nowMs);
    return true;
  }
  if (nowMs < s.NextActionMs) return true;
  if (++s.Attempts > 3) return false;
  SendFileRequest(lock, s);
  s.NextActionMs = nowMs + AnswerWaitMs;
  return true;
}

int32_t TDownFile::PickBlock(const TLock&, const TDownSource& s) {
  // The player's next seconds first, then the file in order.
  const int64_t listen = listenPosition_;
  if (listen >= 0) {
    const int32_t from = int32_t(listen / TBlockMap::BlockBytes);
    const int32_t b = map_.NextMissing(from);
    if (b >= 0 && b >= from && b < from + ListenAheadBlocks) return b;
  }
  int32_t b = map_.NextMissing(pickCursor_);
  if (b >= 0) {
    pickCursor_ = b + 1;
    return b;
  }
  // The end: blocks another source was asked for go to this one too, so a slow or vanished
  // source does not hold up the last blocks.
  for (int32_t from = 0;;) {
    b = map_.NextRequested(from);
    if (b < from || b < 0) return -1;
    const bool mine = std::any_of(s.Outstanding.begin(), s.Outstanding.end(),
                                  [&](const TOutstanding& x) { return x.Block == b; });
    if (!mine) return b;
    from = b + 1;
  }
}

void TDownFile::RequestBlocks(const TLock& lock, TDownSource& s, int64_t nowMs) {
  const int32_t room = s.Window - int32_t(s.Outstanding.size());
  if (room <= 0 || map_.Complete()) return;
  const int32_t allowed = link_.TakeDownTokens(room);
  TPeerBlockRequest& r = request_;
  r.Hash = hash_;
  r.RequesterID = link_.OwnUserID();
  r.DownType = uint8_t(param_.DownType);
  r.Blocks.clear();
  for (int32_t i = 0; i < allowed; ++i) {
    const int32_t b = PickBlock(lock, s);
    if (b < 0) break;
    map_.MarkRequested(b);
    s.Outstanding.push_back({b, nowMs});
    r.Blocks.push_back(b);
  }
  if (r.Blocks.empty()) return;
  uint8_t out[TPeerBlockRequest::FixedSize + 4 * MaxWindow];
  TCmdStream w;
  w.InitWrite(out, sizeof out);
  if (WritePeerBlockRequest(w, r)) Send(out, size_t(w.Size()), s.Peer.IP, s.Peer.Port);
}

bool TDownFile::ServiceDown(int64_t nowMs) {
  TLock lock(mutex_);
  const uint8_t st = state_;
  if (st != dsConnecting && st != dsDownloading) return false;
  if (map_.Complete()) {
    state_ = dsVerifying;
    return false;
  }
  ManageSources(lock, nowMs);
  if (state_ == dsWaiting) return true;
  for (size_t i = sources_.size(); i-- > 0;)
    if (!StepSource(lock, sources_[i], nowMs)) DropSource(lock, i);
  activeSources_ = int32_t(sources_.size());
  return false;
}

TDownFile::TDownSource* TDownFile::FindSource(const TLock&, int32_t userID, uint32_t ip, uint16_t port) {
  // A source is who it is and where it is: a packet that names its number from elsewhere is
  // somebody else's.
  for (TDownSource& s : sources_)
    if (s.Peer.UserID == userID && s.Peer.IP == ip && s.Peer.Port == port) return &s;
  return nullptr;
}

int64_t TDownFile::ReceiveBlocks(std::span<const TArrivedBlock> batch, int64_t nowMs) {
  TLock lock(mutex_);
  pending_.clear();
  int64_t taken = 0;
  for (const TArrivedBlock& a : batch) {
    const uint8_t st = state_;
    if (fd_ < 0 || (st != dsConnecting && st != dsDownloading)) break;
    if (TakePacket(lock, a, nowMs)) taken += int64_t(a.Block.Length);
  }
  if (pending_.empty() || !WritePending(lock)) return taken;
  UpdateFigures(lock);
  if (map_.Complete()) {
    state_ = dsVerifying;
    return taken;
  }
  // Asking again as soon as a quarter of the window is free keeps the pipe full with a quarter
  // of the requests that one per block would take. Blocks are asked only now that the batch is
  // marked received, so none of it is asked again.
  for (TDownSource& s : sources_) {
    if (!s.Arrived) continue;
    s.Arrived = false;
    if (s.Window - int32_t(s.Outstanding.size()) >= std::max(1, s.Window / 4)) RequestBlocks(lock, s, nowMs);
  }
  return taken;
}

bool TDownFile::TakePacket(const TLock& lock, const TArrivedBlock& a, int64_t nowMs) {
  const TTransferBlock& block = a.Block;
  TDownSource* s = FindSource(lock, block.SenderID, a.IP, a.Port);
  if (!s || s->State != TDownSource::Transferring) return false;
  if (block.Block < 0) {
    // The peer cannot read its file: it is no source.
    DropSource(lock, size_t(s - sources_.data()));
    return false;
  }
  if (!map_.Valid(block.Block) || block.Length != map_.BlockLength(block.Block)) return false;
  const auto it = std::find_if(s->Outstanding.begin(), s->Outstanding.end(),
                               [&](const TOutstanding& x) { return x.Block == block.Block; });
  if (it != s->Outstanding.end()) {
    const int64_t rtt = nowMs - it->SentMs;
    const bool inTime = rtt < s->LossTimeout();
    s->SrttMs = s->SrttMs < 0 ? double(rtt) : 0.875 * s->SrttMs + 0.125 * double(rtt);
    s->Outstanding.erase(it);
    // One more block in flight for every window's worth that came in time.
    if (inTime && s->Window < MaxWindow && ++s->Credit >= s->Window / 2) {
      ++s->Window;
      s->Credit = 0;
    }
  }
  s->LastDataMs = nowMs;
  s->Attempts = 0;
  state_ = dsDownloading;
  // A block already here, or already in this batch (asked of two sources at the end), is a
  // duplicate.
  if (map_.State(block.Block) == TBlockMap::Received ||
      std::any_of(pending_.begin(), pending_.end(), [&](const TPendingBlock& p) { return p.Block == block.Block; })) {
    ++duplicates_;
    return true;
  }
  pending_.push_back({block.Block, block.Data, block.Length});
  s->Arrived = true;
  s->Bytes += int64_t(block.Length);
  usedSources_.insert(s->Peer.UserID);
  return true;
}

bool TDownFile::WritePending(const TLock& lock) {
  std::sort(pending_.begin(), pending_.end(),
            [](const TPendingBlock& x, const TPendingBlock& y) { return x.Block < y.Block; });
  constexpr size_t MaxRun = 64;  // blocks a pwritev, well under IOV_MAX
  for (size_t i = 0; i < pending_.size();) {
    iovec iov[MaxRun];
    size_t run = 0, bytes = 0;
    do {
      iov[run] = {const_cast<uint8_t*>(pending_[i + run].Data), pending_[i + run].Length};
      bytes += pending_[i + run].Length;
      ++run;
    } while (i + run < pending_.size() && run < MaxRun && pending_[i + run].Block == pending_[i + run - 1].Block + 1);
    const ssize_t n = ::pwritev(fd_, iov, int(run), off_t(pending_[i].Block) * TBlockMap::BlockBytes);
    if (n != ssize_t(bytes)) {
      Fail(lock, "cannot write " + tempFileName_ + ": " + (n < 0 ? std::strerror(errno) : "short write"));
      while (!sources_.empty()) DropSource(lock, sources_.size() - 1);
      return false;
    }
    i += run;
  }
  // Counted only once on disk: a player reads no further than what is marked.
  for (const TPendingBlock& p : pending_) {
    map_.MarkReceived(p.Block);
    bytesThisRun_ += int64_t(p.Length);
  }
  return true;
}

void TDownFile::UpdateFigures(const TLock&) {
  receivedBytes_ = map_.ReceivedBytes();
  prefixBytes_ = map_.PrefixBytes();
}

void TDownFile::RecordAnswer(const TPeerFileAnswer& a, uint32_t ip, uint16_t port, int64_t nowMs) {
  TLock lock(mutex_);
  const uint8_t st = state_;
  if (st != dsConnecting && st != dsDownloading) return;
  const auto it = std::find_if(sources_.begin(), sources_.end(), [&](const TDownSource& s) {
    if (s.Peer.UserID != a.UserID || s.State == TDownSource::Transferring) return false;
    // A direct source answers from where we asked it; one behind the relay from wherever its
    // translation puts it, which then becomes its address.
    return s.State == TDownSource::ViaRelay || (s.Peer.IP == ip && s.Peer.Port == port);
  });
  if (it == sources_.end()) return;
  TDownSource& s = *it;
  if (fileSize_ == 0 && a.Status == FileAnswer::NotFound && a.FileSize > 0) {
    // We did not know the size; the peer told it: make the file and ask again at once.
    fileSize_ = a.FileSize;
    if (fileName_.empty() && UsableName(a.Name)) {
      fileName_ = a.Name;
      destFileName_ = WithTrailingSlash(FolderOf(destFileName_)) + a.Name;
    }
    map_.Reset(fileSize_);
    if (!MakeTempFile(lock)) return;
    historyDirty_ = true;
    s.Attempts = 0;
    s.NextActionMs = nowMs;
    return;
  }
  if (a.Status == FileAnswer::NotFound && a.FileSize == fileSize_ && !a.Name.empty() && fd_ >= 0) {
    // It holds the file but was asked before another source told us the size: ask again.
    s.NextActionMs = nowMs;
    return;
  }
  if (a.Status != FileAnswer::WillServe || a.FileSize != fileSize_ || fd_ < 0) {
    DropSource(lock, size_t(it - sources_.begin()));
    return;
  }
  if (fileName_.empty() && UsableName(a.Name)) fileName_ = a.Name;
  s.Peer.IP = ip;
  s.Peer.Port = port;
  s.State = TDownSource::Transferring;
  s.Attempts = 0;
  s.LastDataMs = nowMs;
  RequestBlocks(lock, s, nowMs);
}

void TDownFile::TakeSourceList(const THashSourcesAnswer& list, int64_t nowMs) {
  TLock lock(mutex_);
  searchOutstanding_ = false;
  unansweredSearches_ = 0;
  const uint8_t st = state_;
  if (st != dsConnecting && st != dsDownloading) return;
  for (const TPeerSource& p : list.Sources) {
    if (p.UserID <= 0 || p.UserID == link_.OwnUserID()) continue;
    // Reachable peers first; the list is bounded, so a flood of lists cannot grow it.
    if (p.NatType <= 1) candidates_.push_front(p);
    else candidates_.push_back(p);
    if (candidates_.size() > MaxCandidates) candidates_.pop_back();
  }
  // A short list named every holder the server knows: no search for a while.
  manySources_ = list.Sources.size() >= ManySources;
  if (searchesMade_ >= maxSearches_ || !manySources_) retryMs_ = nowMs + GiveUpMs;
}

TDownFile::TFinish TDownFile::VerifyAndSave() {
  std::string temp, dest;
  int fd;
  {
    TLock lock(mutex_);
    if (state_ != dsVerifying) return TFinish::NotDone;
    while (!sources_.empty()) DropSource(lock, sources_.size() - 1);
    temp = tempFileName_;
    fd = fd_;
    if (fileName_.empty()) fileName_ = LRMD5::MD5DigestToStr(hash_);
    if (LastPart(destFileName_).empty() || LastPart(destFileName_) == LRMD5::MD5DigestToStr(hash_))
      destFileName_ = WithTrailingSlash(FolderOf(destFileName_)) + fileName_;
    dest = destFileName_;
  }
  // The blocks were written while the job ran; nothing writes them now.
  ::fdatasync(fd);
  bool ok = false;
  const TMD5Digest got = LRMD5::MD5File(temp, &ok);
  TLock lock(mutex_);
  if (!ok || got != hash_) {
    ++verifyFailures_;
    if (verifyFailures_ >= MaxVerifyFailures) {
      Fail(lock, "the file's digest " + LRMD5::MD5DigestToStr(got) + " did not match " + LRMD5::MD5DigestToStr(hash_) +
                     " after " + std::to_string(verifyFailures_) + " downloads");
      map_.Reset(fileSize_);
      UpdateFigures(lock);
      return TFinish::Failed;
    }
    map_.Reset(fileSize_);
    UpdateFigures(lock);
    pickCursor_ = 0;
    // From nothing, with its searches anew: the sources were dropped with the bad copy.
    state_ = dsConnecting;
    searchesMade_ = 0;
    retryMs_ = 0;
    historyDirty_ = true;
    return TFinish::Retry;
  }
  EnsureDirectory(FolderOf(dest));
  // One rename: the old destination stays until the new file replaces it.
  if (::rename(temp.c_str(), dest.c_str()) != 0) {
    Fail(lock, "cannot move " + temp + " to " + dest + ": " + std::strerror(errno));
    return TFinish::CannotMove;
  }
  ::close(fd_);
  fd_ = -1;
  tempFileName_.clear();
  prefixBytes_ = fileSize_.load();
  state_ = dsComplete;
  return TFinish::Saved;
}

int64_t TDownFile::ArrivedFrom(int64_t offset) const {
  TLock lock(mutex_);
  return map_.ArrivedFrom(offset);
}

void TDownFile::DeleteTempFile() {
  TLock lock(mutex_);
  while (!sources_.empty()) DropSource(lock, sources_.size() - 1);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempFileName_.empty()) ::unlink(tempFileName_.c_str());
  tempFileName_.clear();
}

THistoryEntry TDownFile::HistoryEntry() {
  THistoryEntry e;
  int fd;
  {
    TLock lock(mutex_);
    e.DownIndex = downIndex_;
    e.FileName = fileName_;
    e.DestFileName = destFileName_;
    e.TempFileName = tempFileName_;
    e.FileSize = fileSize_;
    e.DownTime = downTime_;
    e.FileHash = hash_;
    e.BitRate = param_.BitRate;
    e.SampleRate = param_.SampleRate;
    e.Channels = param_.Channels;
    e.OwnerCount = param_.OwnerCount;
    e.CountTimeStamp = param_.CountTimeStamp;
    e.DownType = param_.DownType;
    e.MusicID = param_.MusicID;
    e.RecvTable = map_.RecvTableHex();
    fd = fd_;
  }
  // The table says these blocks are on disk: make it so before anyone writes the table down.
  if (fd >= 0) ::fdatasync(fd);
  return e;
}

}  // namespace ml
