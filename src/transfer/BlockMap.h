#pragma once
// TBlockMap: which 1024-byte blocks of a download have arrived, which are asked of a source and
// which are still missing; the unbroken run from the start (what a player may read) and the
// history's "RecvTable" form (block count, then a bitmap, least significant bit first).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ml {

class TBlockMap {
public:
  static constexpr int64_t BlockBytes = 1024;
  enum TBlockState : uint8_t { Missing = 0, Requested = 1, Received = 2 };

  TBlockMap() = default;
  explicit TBlockMap(int64_t fileSize) { Reset(fileSize); }
  void Reset(int64_t fileSize);

  int64_t FileSize() const { return fileSize_; }
  int32_t BlockCount() const { return int32_t(states_.size()); }
  // Bytes of block b (the last one may be short).
  size_t BlockLength(int32_t b) const;
  TBlockState State(int32_t b) const { return TBlockState(states_[size_t(b)]); }
  bool Valid(int32_t b) const { return b >= 0 && b < BlockCount(); }

  // Marks b received; false when it already was.
  bool MarkReceived(int32_t b);
  void MarkRequested(int32_t b) { if (State(b) == Missing) states_[size_t(b)] = Requested; }
  // A request that was lost or whose source went: the block may be asked of anyone again.
  void MarkMissing(int32_t b) { if (State(b) == Requested) states_[size_t(b)] = Missing; }
  void ForgetRequests();

  int32_t ReceivedCount() const { return received_; }
  int64_t ReceivedBytes() const;
  bool Complete() const { return received_ == BlockCount() && BlockCount() > 0; }
  // Blocks received without a gap from the start.
  int32_t PrefixBlocks() const { return prefix_; }
  int64_t PrefixBytes() const;
  // Bytes received without a gap from offset on (a player reading there may read that many).
  int64_t ArrivedFrom(int64_t offset) const;

  // The first missing block at or after from, wrapping to the start; -1 when none is missing.
  int32_t NextMissing(int32_t from) const;
  // The first block at or after from that is asked of someone but has not arrived; -1: none.
  int32_t NextRequested(int32_t from) const;

  // "RecvTable": upper-case hexadecimal of the block count (little-endian 32-bit) and the bitmap.
  std::string RecvTableHex() const;
  // Restores the received blocks of a RecvTable for a file of fileSize bytes; false (and the map
  // unchanged) when the text is not the table of such a file.
  bool LoadRecvTable(const std::string& hex, int64_t fileSize);

private:
  void AdvancePrefix();

  int64_t fileSize_ = 0;
  std::vector<uint8_t> states_;
  int32_t received_ = 0;
  int32_t prefix_ = 0;
};

}  // namespace ml
