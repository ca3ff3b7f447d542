#include "transfer/BlockMap.h"

#include <algorithm>

namespace ml {

void TBlockMap::Reset(int64_t fileSize) {
  fileSize_ = std::max<int64_t>(fileSize, 0);
  states_.assign(size_t((fileSize_ + BlockBytes - 1) / BlockBytes), Missing);
  received_ = prefix_ = 0;
}

size_t TBlockMap::BlockLength(int32_t b) const {
  if (!Valid(b)) return 0;
  return size_t(std::min<int64_t>(BlockBytes, fileSize_ - int64_t(b) * BlockBytes));
}

bool TBlockMap::MarkReceived(int32_t b) {
  if (State(b) == Received) return false;
  states_[size_t(b)] = Received;
  ++received_;
  AdvancePrefix();
  return true;
}

void TBlockMap::ForgetRequests() {
  for (uint8_t& s : states_)
    if (s == Requested) s = Missing;
}

void TBlockMap::AdvancePrefix() {
  while (prefix_ < BlockCount() && states_[size_t(prefix_)] == Received) ++prefix_;
}

int64_t TBlockMap::ReceivedBytes() const {
  if (Complete()) return fileSize_;
  int64_t bytes = int64_t(received_) * BlockBytes;
  // The short last block counts what it holds.
  if (BlockCount() > 0 && State(BlockCount() - 1) == Received) bytes -= BlockBytes - int64_t(BlockLength(BlockCount() - 1));
  return bytes;
}

int64_t TBlockMap::PrefixBytes() const { return std::min<int64_t>(int64_t(prefix_) * BlockBytes, fileSize_); }

int64_t TBlockMap::ArrivedFrom(int64_t offset) const {
  if (offset < 0 || offset >= fileSize_) return 0;
  // The run from the start is known; past it the blocks are looked at one by one.
  int32_t b = std::max(int32_t(offset / BlockBytes), prefix_);
  while (b < BlockCount() && states_[size_t(b)] == Received) ++b;
  return std::min<int64_t>(int64_t(b) * BlockBytes, fileSize_) - offset;
}

int32_t TBlockMap::NextMissing(int32_t from) const {
  const int32_t n = BlockCount();
  if (received_ == n) return -1;
  from = std::clamp(from, 0, n);
  for (int32_t b = from; b < n; ++b)
    if (states_[size_t(b)] == Missing) return b;
  for (int32_t b = 0; b < from; ++b)
    if (states_[size_t(b)] == Missing) return b;
  return -1;
}

int32_t TBlockMap::NextRequested(int32_t from) const {
  const int32_t n = BlockCount();
  for (int32_t b = std::clamp(from, 0, n); b < n; ++b)
    if (states_[size_t(b)] == Requested) return b;
  for (int32_t b = 0; b < std::min(from, n); ++b)
    if (states_[size_t(b)] == Requested) return b;
  return -1;
}

std::string TBlockMap::RecvTableHex() const {
  static const char kHex[] = "0123456789ABCDEF";
  std::vector<uint8_t> bytes(4 + (states_.size() + 7) / 8, 0);
  const uint32_t count = uint32_t(states_.size());
  for (int i = 0; i < 4; ++i) bytes[size_t(i)] = uint8_t(count >> (8 * i));
  for (size_t i = 0; i < states_.size(); ++i)
    if (states_[i] == Received) bytes[4 + i / 8] |= uint8_t(1u << (i % 8));
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

bool TBlockMap::LoadRecvTable(const std::string& hex, int64_t fileSize) {
  if (fileSize <= 0 || hex.empty() || hex.size() % 2) return false;
  std::vector<uint8_t> bytes(hex.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    int v = 0;
    for (char c : {hex[2 * i], hex[2 * i + 1]}) {
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else return false;
      v = v * 16 + d;
    }
    bytes[i] = uint8_t(v);
  }
  const int64_t blocks = (fileSize + BlockBytes - 1) / BlockBytes;
  if (bytes.size() < 4) return false;
  const uint32_t count = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
  if (int64_t(count) != blocks || int64_t(bytes.size()) != 4 + (blocks + 7) / 8) return false;
  // Bits past the last block must be clear: a table with them set is not ours.
  if (blocks % 8 && (bytes.back() >> (blocks % 8))) return false;
  Reset(fileSize);
  for (int32_t b = 0; b < BlockCount(); ++b)
    if (bytes[4 + size_t(b) / 8] & (1u << (b % 8))) MarkReceived(b);
  return true;
}

}  // namespace ml
