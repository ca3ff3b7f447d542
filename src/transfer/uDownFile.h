#pragma once
// TDownFile: one file fetched by its MD5 digest from several peers at once. Sources come from the
// hash server's lists; each is asked for the file (directly, or through the relay for peers that
// cannot be reached), then for its blocks in an adaptive window. Data go straight into a
// temporary file of the full size; when every block is in, the digest is checked and the file
// renamed to its destination. Progress is kept in the download history, so a job survives a
// restart and fetches only what it lacks.
//
// Threads: the transfer manager's worker services the job and finishes it; the UDP listener
// delivers blocks and the UDP workers answers and source lists. One lock guards the job's state;
// the figures the player and the front ends read are atomics.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/LRMD5.h"
#include "net/TransferRecords.h"
#include "transfer/BlockMap.h"
#include "transfer/DownloadHistory.h"

namespace ml {

// What a job needs of the manager: how records leave, where the servers are, who we are, and
// the bandwidth allowance.
class ITransferLink {
public:
  virtual ~ITransferLink() = default;
  virtual void SendRecord(uint32_t ip, uint16_t port, const uint8_t* data, size_t length) = 0;
  // The server for a command code and key (the hash server: 44 and the sum of the digest's bytes;
  // the relay: 42 and the target's user number).
  virtual bool ServerFor(int32_t key, uint16_t command, uint32_t& ip, uint16_t& port) = 0;
  virtual int32_t OwnUserID() const = 0;
  virtual uint8_t OwnNatType() const = 0;
  // Block requests allowed now, at most want.
  virtual int32_t TakeDownTokens(int32_t want) = 0;
  virtual const std::string& TempFileDirectory() const = 0;
};

struct TDownFileParam {
  std::string FileName;      // empty: the name the peers report
  std::string DestFileName;  // where the file goes; its folder when FileName is empty
  int64_t FileSize = 0;      // 0: unknown, learnt from the first answer
  TMD5Digest FileHash;
  uint16_t DownType = 0;
  int32_t MusicID = -1;
  int32_t BitRate = 0, SampleRate = 0, Channels = 0, OwnerCount = 0, CountTimeStamp = 0;
  int32_t Result = 0;  // AddDownFile: 0 new job, 1 existing, 2 refused
};

// A data packet as it arrived: the block and who sent it (ip in network order).
struct TArrivedBlock {
  TTransferBlock Block;
  uint32_t IP = 0;
  uint16_t Port = 0;
};

// The parameters a history entry was saved with.
TDownFileParam ParamOf(const THistoryEntry& e);

enum TDownState : uint8_t {
  dsInitialising = 0,
  dsWaiting = 1,
  dsConnecting = 2,
  dsDownloading = 3,
  dsVerifying = 4,
  dsStopped = 5,
  dsComplete = 6,
};

class TDownFile {
public:
  static constexpr int32_t MaxWindow = 16;         // outstanding block requests per source
  static constexpr int32_t FirstWindow = 4;
  // A loss halves the window down to this: on a lossy but idle link (the common case on our
  // loopback tests and on radio links) a window of 1 would wait out a loss time per block.
  static constexpr int32_t LossWindow = 8;
  // A block not here within the source's loss time is asked again: three round trips and a
  // margin, between these bounds; the upper one until the first block has come.
  static constexpr int64_t MinLossTimeoutMs = 15;
  static constexpr int64_t LossTimeoutMs = 250;
  static constexpr int64_t AnswerWaitMs = 2500;    // between file requests to a source
  static constexpr int64_t SilentDropMs = 7500;    // a transferring source that sends nothing
  static constexpr int64_t SearchWaitMs = 5000;    // for a source list
  static constexpr int64_t SearchStepMs = 5000;    // a search again waits this much more per search made
  static constexpr int64_t HashServerAwayMs = 30000;
  static constexpr int64_t GiveUpMs = 300000;      // a job without sources waits this long
  static constexpr size_t ManySources = 50;        // a list this long may be followed by another
  static constexpr size_t MaxRandomSongBytes = 2048;
  static constexpr size_t MaxCandidates = 200;
  static constexpr int MaxVerifyFailures = 3;
  static constexpr int32_t ListenAheadBlocks = 256;

  TDownFile(ITransferLink& link, const TDownFileParam& param);
  ~TDownFile();
  TDownFile(const TDownFile&) = delete;
  TDownFile& operator=(const TDownFile&) = delete;

  // A new job: the temporary file (created at its full size once the size is known) and an
  // empty block map. False, with FailReason, when the file cannot be made.
  bool ResetDown();
  // A job from the history: opens its temporary file and takes the received blocks.
  bool RestoreDown(const THistoryEntry& entry);
  void ContinueDown();
  void StopDown();
  // The scheduler starts a waiting job.
  void Start(int64_t nowMs);

  // Worker: searching, asking sources, requesting blocks, dropping silent sources. True when the
  // job gave up for now: its searches found no source, so it waits (dsWaiting, FailReason says
  // why) until the scheduler starts it again after GiveUpMs.
  bool ServiceDown(int64_t nowMs);
  // Listener: the data packets of one read of the socket, under one lock: each is checked and
  // counted as it comes, the new blocks are written in runs of consecutive blocks (one pwritev a
  // run) and only then marked received. Returns the bytes taken (duplicates included).
  int64_t ReceiveBlocks(std::span<const TArrivedBlock> batch, int64_t nowMs);
  // One data packet from ip:port. False when it was not taken.
  bool ReceiveBlock(const TTransferBlock& block, uint32_t ip, uint16_t port, int64_t nowMs) {
    const TArrivedBlock one{block, ip, port};
    return ReceiveBlocks({&one, 1}, nowMs) > 0;
  }
  // Workers: a file answer (51/53) and a source list (257).
  void RecordAnswer(const TPeerFileAnswer& answer, uint32_t ip, uint16_t port, int64_t nowMs);
  void TakeSourceList(const THashSourcesAnswer& list, int64_t nowMs);
  // What an uploader offered besides the file (265); kept up to MaxRandomSongBytes.
  void TakeRandomSongs(const TRandomSongs& songs);
  std::vector<uint8_t> RandomSongs() const;

  enum class TFinish { NotDone, Saved, Retry, Failed, CannotMove };
  // Worker, in state dsVerifying: checks the digest and renames the file to its destination.
  // Retry starts again from nothing; Failed gives up with FailReason after the third wrong
  // digest; CannotMove keeps the verified file where it is (continuing tries the move again).
  TFinish VerifyAndSave();
  // Closes and deletes the temporary file.
  void DeleteTempFile();

  // The history's entry of this job, after the data it records have reached the disk.
  THistoryEntry HistoryEntry();
  void SetDownIndex(int32_t index) { downIndex_ = index; }
  int32_t DownIndex() const { return downIndex_; }
  bool TakeHistoryDirty() { return historyDirty_.exchange(false); }

  // The player's position in the file: blocks just ahead of it are asked first (-1: none).
  void SetListenPosition(int64_t bytes) { listenPosition_ = bytes; }
  // Bytes of the temporary file that have arrived without a gap from offset (written before
  // they are counted): what a player of the growing file may read. Any thread.
  int64_t ArrivedFrom(int64_t offset) const;
  // Sources asked at once (the manager's MaxSourceCount).
  void SetMaxSources(int32_t n) { maxSources_ = std::max(1, n); }
  // Searches before the job gives up for a while (the manager's MaxSeaFileCount).
  void SetMaxSearches(int32_t n) { maxSearches_ = std::max(1, n); }

  const TMD5Digest& FileHash() const { return hash_; }
  uint16_t DownType() const { return param_.DownType; }
  TDownState State() const { return TDownState(state_.load()); }
  int64_t FileSize() const { return fileSize_.load(); }
  int64_t ReceivedBytes() const { return receivedBytes_.load(); }
  int64_t PrefixBytes() const { return prefixBytes_.load(); }
  int64_t BytesThisRun() const { return bytesThisRun_.load(); }
  int32_t ActiveSources() const { return activeSources_.load(); }
  int64_t DuplicateBlocks() const { return duplicates_.load(); }
  std::string TempFileName() const;
  std::string DestFileName() const;
  std::string FileName() const;
  // Why the job failed for good (dsStopped), or gave up for now (dsWaiting); empty otherwise.
  std::string FailReason() const;
  // The sources that delivered data in this run.
  std::vector<int32_t> SourcesUsed() const;

private:
  struct TOutstanding {
    int32_t Block;
    int64_t SentMs;
  };
  struct TDownSource {
    TPeerSource Peer;
    enum : uint8_t { ViaRelay = 0, Direct = 1, Transferring = 3 } State = Direct;
    int Attempts = 0;
    int64_t NextActionMs = 0;
    int64_t LastDataMs = 0;
    int32_t Window = FirstWindow;
    int32_t Credit = 0;  // blocks in time since the window last grew
    double SrttMs = -1;  // smoothed round trip of a block request; -1: none measured yet
    int64_t LossTimeout() const;
    std::vector<TOutstanding> Outstanding;
    int64_t Bytes = 0;
    bool Arrived = false;  // sent a block of the batch being taken
  };
  // A new block of a batch, waiting for its write.
  struct TPendingBlock {
    int32_t Block;
    const uint8_t* Data;
    size_t Length;
  };
  using TLock = std::unique_lock<std::mutex>;

  bool MakeTempFile(const TLock& lock);
  void Fail(const TLock& lock, std::string reason);
  void GiveUp(const TLock& lock, int64_t nowMs);
  void Search(const TLock& lock, int64_t nowMs);
  void ManageSources(const TLock& lock, int64_t nowMs);
  // False when the source is to be dropped.
  bool StepSource(const TLock& lock, TDownSource& s, int64_t nowMs);
  void RequestBlocks(const TLock& lock, TDownSource& s, int64_t nowMs);
  // Checks one packet of a batch and counts it for its source; a new block goes to pending_.
  // False when it was not taken.
  bool TakePacket(const TLock& lock, const TArrivedBlock& a, int64_t nowMs);
  // Writes pending_ in runs of consecutive blocks and marks them received; false (the job
  // failed) when a write fails.
  bool WritePending(const TLock& lock);
  int32_t PickBlock(const TLock& lock, const TDownSource& s);
  void ReleaseBlock(const TLock& lock, int32_t block, const TDownSource* except);
  void DropSource(const TLock& lock, size_t index);
  void SendFileRequest(const TLock& lock, TDownSource& s);
  void Send(const uint8_t* data, size_t length, uint32_t ip, uint16_t port);
  void UpdateFigures(const TLock& lock);
  TDownSource* FindSource(const TLock& lock, int32_t userID, uint32_t ip, uint16_t port);

  ITransferLink& link_;
  TDownFileParam param_;
  const TMD5Digest hash_;
  mutable std::mutex mutex_;
  TBlockMap map_;
  int fd_ = -1;
  std::string tempFileName_, destFileName_, fileName_, failReason_;
  XmlTime downTime_;
  std::vector<TDownSource> sources_;
  std::vector<TPendingBlock> pending_;  // kept between batches, so taking one allocates nothing
  TPeerBlockRequest request_;           // likewise for the block requests
  std::deque<TPeerSource> candidates_;
  std::set<int32_t> usedSources_;
  std::vector<uint8_t> randomSongs_;
  bool searchOutstanding_ = false;
  bool manySources_ = false;  // the last list was long: another search may find more
  int64_t searchSentMs_ = 0;
  int searchesMade_ = 0, unansweredSearches_ = 0;
  int64_t retryMs_ = 0;
  int verifyFailures_ = 0;
  int32_t pickCursor_ = 0;
  int32_t maxSources_ = 5;
  int32_t maxSearches_ = 1;

  std::atomic<uint8_t> state_{dsInitialising};
  std::atomic<int64_t> fileSize_{0}, receivedBytes_{0}, prefixBytes_{0}, bytesThisRun_{0}, duplicates_{0};
  std::atomic<int32_t> activeSources_{0};
  std::atomic<int64_t> listenPosition_{-1};
  std::atomic<bool> historyDirty_{true};
  std::atomic<int32_t> downIndex_{-1};
};

}  // namespace ml
