#include "transfer/miniLRMFTP.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "base/FileUtil.h"
#include "net/LREncrypt.h"

namespace ml {

namespace {
constexpr int64_t TokenStepMs = 100;
constexpr int64_t SpeedStepMs = 2000;
constexpr int64_t ExpiryStepMs = 2000;
}  // namespace

TminiLRMFTP::TminiLRMFTP(TLRUDPClient& udp, Dispatcher& dispatcher, const TClock& clock)
    : udp_(udp),
      dispatcher_(dispatcher),
      clock_(clock),
      bandwidth_([this](uint32_t ip, uint16_t port, const uint8_t* data, size_t length) {
        udp_.SendRaw(ip, port, int32_t(length), data);
      }),
      uploads_([this](const TMD5Digest& h, std::string& path, int64_t& size) {
                 return OnLocateFile && OnLocateFile(h, path, size);
               },
               [this](uint32_t ip, uint16_t port, const uint8_t* body, size_t length) {
                 uint8_t out[Envelope::MaxDatagram];
                 const size_t n = BuildTransferData(out, sizeof out, body, length);
                 if (n) SendFTPData(ip, port, out, n);
               }) {
  uploads_.SetOldPeers(
      [this](const std::string& name, int64_t size, std::string& path, TMD5Digest& hash) {
        return OnOldLocateFile && OnOldLocateFile(name, size, path, hash);
      },
      [this](uint32_t ip, uint16_t port, const uint8_t* data, size_t length) { SendFTPData(ip, port, data, length); });
}

TminiLRMFTP::~TminiLRMFTP() { SetActive(false); }

void TminiLRMFTP::SetTempFileDirectory(const std::string& path) {
  tempDir_ = path.empty() ? path : WithTrailingSlash(path);
  if (!tempDir_.empty()) EnsureDirectory(tempDir_);
}

void TminiLRMFTP::SetUserID(int32_t id) {
  userID_ = id;
  uploads_.SetOwnUserID(id);
}

void TminiLRMFTP::SetActive(bool value) {
  if (value == active_.load()) return;
  if (value) {
    if (!historyLoaded_) {
      historyLoaded_ = true;
      try {
        LoadHistory();
      } catch (const std::exception& e) {
        Problem(std::string("the download history: ") + e.what());
      }
    }
    lastSpeedMs_ = lastTokenMs_ = lastHistoryMs_ = lastExpiryMs_ = NowMs();
    stop_ = false;
    active_ = true;
    worker_ = std::thread([this] { WorkerLoop(); });
    return;
  }
  active_ = false;
  {
    std::lock_guard lock(wakeMutex_);
    stop_ = true;
  }
  wakeCv_.notify_one();
  if (worker_.joinable()) worker_.join();
  // The worker is gone: this thread is now the history's only writer.
  for (const TDownFilePtr& job : DownFiles()) job->StopDown();
  SaveHistory(NowMs(), true);
}

void TminiLRMFTP::Raise(const TDownFileEvent& event, const TDownFilePtr& job) {
  if (!event) return;
  dispatcher_.Post([event, job] {
    try {
      event(job);
    } catch (...) {
    }
  });
}

void TminiLRMFTP::Problem(const std::string& text) {
  if (!OnProblem) return;
  auto handler = OnProblem;
  dispatcher_.Post([handler, text] {
    try {
      handler(text);
    } catch (...) {
    }
  });
}

void TminiLRMFTP::Wake() {
  {
    std::lock_guard lock(wakeMutex_);
    wake_ = true;
  }
  wakeCv_.notify_one();
}

void TminiLRMFTP::SendRecord(uint32_t ip, uint16_t port, const uint8_t* data, size_t length) {
  udp_.SendKeyed(ip, port, 0, 0, int32_t(length), data);
}

bool TminiLRMFTP::ServerFor(int32_t key, uint16_t command, uint32_t& ip, uint16_t& port) {
  return OnGetCmdAddr && OnGetCmdAddr(key, command, ip, port) && ip != 0 && port != 0;
}

int32_t TminiLRMFTP::TakeDownTokens(int32_t want) { return bandwidth_.TakeDown(want); }

void TminiLRMFTP::SendFTPData(uint32_t ip, uint16_t port, const uint8_t* data, size_t length) {
  // Queued packets are sent by the worker as the allowance comes.
  if (bandwidth_.SendUp(ip, port, data, length) == TBandwidth::TSent::Queued) Wake();
}

void TminiLRMFTP::SendEnciphered(uint32_t ip, uint16_t port, const TCmdStream& answer) {
  if (answer.Size() > 0) udp_.SendTrailer(ip, port, 0, 0, answer.Size(), answer.Buffer());
}

void TminiLRMFTP::SendRandomSongs(const TMD5Digest& hash, uint32_t ip, uint16_t port) {
  if (!OnGetRandomSong) return;
  TRandomSongs r{hash, userID_, {}};
  try {
    r.Songs = OnGetRandomSong(2);
  } catch (...) {
    return;
  }
  uint8_t out[Envelope::MaxPayload];
  TCmdStream w;
  w.InitWrite(out, sizeof out);
  // Nothing, or more than the record holds, sends nothing.
  if (WriteRandomSongs(w, r)) SendRecord(ip, port, out, size_t(w.Size()));
}

TminiLRMFTP::TDownFilePtr TminiLRMFTP::AddDownFile(TDownFileParam& param) {
  if (LRMD5::MD5DigestIsZero(param.FileHash)) {
    param.Result = 2;
    return nullptr;
  }
  TDownFilePtr job;
  {
    std::lock_guard lock(listMutex_);
    for (const TDownFilePtr& j : jobs_)
      if (j->FileHash() == param.FileHash) job = j;
    if (job) {
      param.Result = 1;
      job->ContinueDown();
    } else {
      job = std::make_shared<TDownFile>(static_cast<ITransferLink&>(*this), param);
      job->SetMaxSources(MaxSourceCount);
      job->SetMaxSearches(MaxSeaFileCount);
      // A file that cannot be made leaves the job stopped with its reason, for the caller to show.
      job->ResetDown();
      jobs_.push_back(job);
      param.Result = 0;
    }
  }
  if (param.Result == 0) Raise(OnAddDownFile, job);
  Wake();
  return job;
}

TminiLRMFTP::TDownFilePtr TminiLRMFTP::FindDownFile(const TMD5Digest& hash) const {
  std::lock_guard lock(listMutex_);
  for (const TDownFilePtr& j : jobs_)
    if (j->FileHash() == hash) return j;
  return nullptr;
}

std::vector<TminiLRMFTP::TDownFilePtr> TminiLRMFTP::DownFiles() const {
  std::lock_guard lock(listMutex_);
  return jobs_;
}

void TminiLRMFTP::DeleteDownFile(const TDownFilePtr& job) {
  {
    std::lock_guard lock(listMutex_);
    const auto it = std::find(jobs_.begin(), jobs_.end(), job);
    if (it == jobs_.end()) return;
    jobs_.erase(it);
    deleting_.push_back(job);
  }
  Wake();
}

void TminiLRMFTP::StopAllDownFiles() {
  for (const TDownFilePtr& job : DownFiles())
    if (job->DownType() != 1) job->StopDown();
}

void TminiLRMFTP::DispatchCommand(const uint8_t* buffer, int32_t length, uint32_t ip, uint16_t port) {
  if (!active_ || !buffer || length < 2) return;
  const size_t n = size_t(length);
  const int64_t now = NowMs();
  uint8_t out[Envelope::MaxPayload];
  TCmdStream w;
  w.InitWrite(out, sizeof out);
  const uint16_t code = uint16_t(buffer[0] | buffer[1] << 8);
  switch (code) {
    case Cmd::PeerFileRequest: {
      TPeerFileRequest r;
      if (!ReadPeerFileRequest(buffer, n, r)) return;
      bool opened = false;
      const TPeerFileAnswer a =
          uploads_.AnswerFileRequest(r.Hash, r.FileSize, r.RequesterID, r.DownType, ip, port, now, &opened);
      if (WritePeerFileAnswer(w, a)) SendRecord(ip, port, out, size_t(w.Size()));
      if (opened) SendRandomSongs(r.Hash, ip, port);
      return;
    }
    case Cmd::RelayFileRequest: {
      TRelayFileRequest r;
      if (!ReadRelayFileRequest(buffer, n, r) || r.TargetID != userID_ || r.TargetID <= 0) return;
      // Only our relay server speaks for a requester; anyone else could name a victim's address.
      uint32_t relayIP = 0;
      uint16_t relayPort = 0;
      if (!ServerFor(userID_, Cmd::RelayFileRequest, relayIP, relayPort) || relayIP != ip || relayPort != port) return;
      bool opened = false;
      const TPeerFileAnswer a = uploads_.AnswerFileRequest(r.Hash, r.FileSize, r.RequesterID, r.DownType,
                                                           r.RequesterIP, r.RequesterPort, now, &opened);
      if (WritePeerFileAnswer(w, a)) SendRecord(r.RequesterIP, r.RequesterPort, out, size_t(w.Size()));
      if (opened) SendRandomSongs(r.Hash, r.RequesterIP, r.RequesterPort);
      return;
    }
    case Cmd::PeerFileAnswer:
    case Cmd::PeerTransfer53: {
      TPeerFileAnswer a;
      if (!ReadPeerFileAnswer(buffer, n, a) || a.UserID <= 0) return;
      if (const TDownFilePtr job = FindDownFile(a.Hash)) job->RecordAnswer(a, ip, port, now);
      Wake();
      return;
    }
    case Cmd::PeerBlockRequest: {
      TPeerBlockRequest r;
      if (!ReadPeerBlockRequest(buffer, n, r) || r.RequesterID <= 0) return;
      uploads_.ServeBlocks(r, ip, port, now);
      return;
    }
    case Cmd::HashSources: {
      THashSourcesAnswer a;
      if (!ReadHashSourcesAnswer(buffer, n, a)) return;
      int32_t key = 0;
      for (uint8_t b : a.Hash.v) key += b;
      uint32_t serverIP = 0;
      uint16_t serverPort = 0;
      if (!ServerFor(key, 44, serverIP, serverPort) || serverIP != ip || serverPort != port) return;
      if (const TDownFilePtr job = FindDownFile(a.Hash)) {
        job->TakeSourceList(a, now);
        Raise(OnConnectedHashServer, job);
      }
      Wake();
      return;
    }
    case Cmd::PeerTransfer265: {
      TRandomSongs r;
      if (!ReadRandomSongs(buffer, n, r) || r.UserID <= 0) return;
      if (const TDownFilePtr job = FindDownFile(r.Hash)) job->TakeRandomSongs(r);
      return;
    }
    case Cmd::TransferNotice:
    case Cmd::PeerFileRequestOld:
    case TOldPeerRequest::StopCode:
    case Cmd::PeerRequestOld36: DispatchOldRequest(code, buffer, n, ip, port, now); return;
    default: return;
  }
}

void TminiLRMFTP::DispatchOldRequest(uint16_t code, const uint8_t* buffer, size_t length, uint32_t ip, uint16_t port,
                                     int64_t now) {
  uint8_t out[Envelope::MaxPayload];
  TCmdStream w;
  w.InitWrite(out, sizeof out);
  if (code == Cmd::TransferNotice) {
    TOldFileNotice r;
    if (ReadOldFileNotice(buffer, length, r) && uploads_.MayServeOld(r.FileKey) &&
        WriteOldNoticeAnswer(w, r.RequestNumber, natType_))
      SendEnciphered(ip, port, w);
    return;
  }
  if (code == Cmd::PeerFileRequestOld) {
    TOldBlockRequest r;
    if (ReadOldBlockRequest(buffer, length, r)) uploads_.ServeOldBlocks(r, ip, port, now);
    return;
  }
  TOldPeerRequest r;
  if (!ReadOldPeerRequest(buffer, length, r)) return;
  if (r.Code == TOldPeerRequest::StopCode) {
    uploads_.EndOldUpload(r, ip, port);
    return;
  }
  const std::string digestOrStatus = uploads_.AnswerOldFileRequest(r, ip, port, now);
  if (WriteOldFileAnswer(w, r.FileKey, userID_, digestOrStatus)) SendEnciphered(ip, port, w);
}

void TminiLRMFTP::QueueFTPData(std::span<const TTransferDatagram> batch) {
  if (!active_) return;
  const int64_t now = NowMs();
  // A batch is taken under its job's lock at once; the packets of one read are nearly always of
  // one job, so the job is looked up again only when the digest changes.
  constexpr size_t MaxTaken = TLRUDPClient::ArrivalBurst;
  TArrivedBlock taken[MaxTaken];
  size_t count = 0;
  TDownFilePtr job;
  int64_t bytes = 0;
  bool wake = false;
  const auto flush = [&] {
    if (!job || count == 0) return;
    bytes += job->ReceiveBlocks({taken, count}, now);
    count = 0;
    // The listener asks for the next blocks itself; the worker is woken only when a batch leaves
    // it work: the file complete (to verify and move) or the job stopped by a failed write. Its
    // own tick finds overdue blocks and silent sources.
    wake |= job->State() != dsDownloading;
  };
  for (const TTransferDatagram& d : batch) {
    TTransferBlock block;
    if (d.Length <= 0 || !ReadTransferBlock(d.Data, size_t(d.Length), block) || block.SenderID <= 0) continue;
    if (count == MaxTaken || (count > 0 && block.Hash != taken[0].Block.Hash)) flush();
    if (count == 0 && (!job || job->FileHash() != block.Hash)) job = FindDownFile(block.Hash);
    if (!job) continue;
    taken[count++] = {block, d.PeerIP, d.PeerPort};
  }
  flush();
  receivedBytes_ += bytes;
  if (wake) Wake();
}

void TminiLRMFTP::WorkerLoop() {
  for (;;) {
    {
      std::unique_lock lock(wakeMutex_);
      wakeCv_.wait_for(lock, std::chrono::milliseconds(10), [this] { return wake_ || stop_; });
      if (stop_) return;
      wake_ = false;
    }
    try {
      Schedule(NowMs());
    } catch (const std::exception& e) {
      Problem(std::string("the transfer worker: ") + e.what());
    } catch (...) {
    }
  }
}

void TminiLRMFTP::Schedule(int64_t now) {
  if (now - lastTokenMs_ >= TokenStepMs) {
    // A tenth of a second's packets at a time: the allowance does not pile up.
    bandwidth_.Refill(now);
    lastTokenMs_ = now;
  }
  bandwidth_.DrainUp();
  if (now - lastSpeedMs_ >= SpeedStepMs) {
    const int64_t elapsed = now - lastSpeedMs_;
    const int64_t sent = uploads_.BytesServed();
    speedDown_ = receivedBytes_.exchange(0) * 1000 / elapsed;
    speedUp_ = (sent - lastSentBytes_) * 1000 / elapsed;
    lastSentBytes_ = sent;
    lastSpeedMs_ = now;
  }
  std::vector<TDownFilePtr> jobs, deleting;
  {
    std::lock_guard lock(listMutex_);
    jobs = jobs_;
    deleting.swap(deleting_);
  }
  for (const TDownFilePtr& job : deleting) {
    job->StopDown();
    job->DeleteTempFile();
    if (history_) history_->Remove(job->DownIndex());
    Raise(OnDeleteDownFile, job);
  }
  int32_t running = 0;
  for (const TDownFilePtr& job : jobs) running += job->State() == dsConnecting || job->State() == dsDownloading;
  for (const TDownFilePtr& job : jobs) {
    if (running >= MaxDownFileCount) break;
    const TDownState s = job->State();
    if (s != dsInitialising && s != dsWaiting) continue;
    job->Start(now);
    running += job->State() == dsConnecting;
  }
  for (const TDownFilePtr& job : jobs) {
    if (job->ServiceDown(now)) Raise(OnDownFileFaild, job);
    if (job->State() == dsVerifying) Finish(job);
  }
  if (now - lastExpiryMs_ >= ExpiryStepMs) {
    uploads_.Expire(now);
    lastExpiryMs_ = now;
  }
  if (now - lastHistoryMs_ >= HistorySaveMs) SaveHistory(now, false);
}

void TminiLRMFTP::Finish(const TDownFilePtr& job) {
  switch (job->VerifyAndSave()) {
    case TDownFile::TFinish::Saved:
      // The entry goes only now that the file is where it belongs: a crash before this point
      // finds the temporary file and its table again.
      if (history_) history_->Remove(job->DownIndex());
      job->SetDownIndex(-1);
      {
        std::lock_guard lock(listMutex_);
        std::erase(jobs_, job);
      }
      Raise(OnDownFinish, job);
      return;
    case TDownFile::TFinish::Failed:
      if (history_) history_->Remove(job->DownIndex());
      job->SetDownIndex(-1);
      job->DeleteTempFile();
      Raise(OnDownFileFaild, job);
      return;
    case TDownFile::TFinish::CannotMove: Raise(OnDownFileFaild, job); return;
    case TDownFile::TFinish::Retry:
    case TDownFile::TFinish::NotDone: return;
  }
}

void TminiLRMFTP::SaveHistory(int64_t now, bool all) {
  lastHistoryMs_ = now;
  if (!history_) return;
  for (const TDownFilePtr& job : DownFiles()) {
    const TDownState s = job->State();
    const bool moving = s == dsConnecting || s == dsDownloading;
    if (s == dsComplete || s == dsVerifying || job->FileSize() <= 0) continue;
    if (!job->TakeHistoryDirty() && !moving && !all) continue;
    THistoryEntry e = job->HistoryEntry();
    if (e.TempFileName.empty()) continue;
    if (history_->Write(e)) job->SetDownIndex(e.DownIndex);
    else Problem("cannot write the download history " + history_->Path());
  }
}

bool TminiLRMFTP::InsideTempFolder(const std::string& path) const {
  if (tempDir_.empty() || path.empty()) return false;
  std::error_code ec1, ec2;
  const auto folder = std::filesystem::weakly_canonical(std::filesystem::path(tempDir_).parent_path(), ec1);
  const auto parent = std::filesystem::weakly_canonical(std::filesystem::path(path).parent_path(), ec2);
  return !ec1 && !ec2 && parent == folder;
}

void TminiLRMFTP::LoadHistory() {
  if (xmlFileName_.empty()) return;
  history_ = std::make_unique<TDownloadHistory>(xmlFileName_);
  std::string problem;
  const std::vector<THistoryEntry> entries = history_->Load(&problem);
  if (!problem.empty()) Problem(problem);
  const auto now = std::chrono::system_clock::now();
  int restored = 0;
  // The last entries are the newest: they are the ones kept.
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const THistoryEntry& e = *it;
    const bool old = (e.DownType == 0 || e.DownType == 3) && now - e.DownTime > std::chrono::milliseconds(MaxHistoryAgeMs);
    bool ok = restored < MaxRestoredJobs && !old && e.FileSize > 0 && !LRMD5::MD5DigestIsZero(e.FileHash) &&
              FileExists(e.TempFileName) && !FindDownFile(e.FileHash);
    if (ok) {
      auto job = std::make_shared<TDownFile>(static_cast<ITransferLink&>(*this), ParamOf(e));
      job->SetMaxSources(MaxSourceCount);
      job->SetMaxSearches(MaxSeaFileCount);
      ok = job->RestoreDown(e);
      if (ok) {
        std::lock_guard lock(listMutex_);
        jobs_.insert(jobs_.begin(), job);
        ++restored;
        continue;
      }
    }
    history_->Remove(e.DownIndex);
    // Only a file of ours is deleted: a damaged or hostile history may name any path.
    if (InsideTempFolder(e.TempFileName) && ::unlink(e.TempFileName.c_str()) != 0 && FileExists(e.TempFileName))
      Problem("cannot delete " + e.TempFileName);
  }
}

}  // namespace ml
