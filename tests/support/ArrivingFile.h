#pragma once
// Songs for the playback tests: a generated WAV, a plain decode to judge a player's output by,
// and a download's file as a player sees it while it grows.
#include "media/MediaSource.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mltest {

// A 16-bit PCM WAV whose every frame holds the given left and right values, or a ramp when
// ramp is set (sample i of the file = i mod 30000), so a position can be read off the data.
std::string MakeWav(int seconds, int rate, int channels, int16_t left, int16_t right, bool ramp = false);

// The PCM of a plain decode of the whole file by the decoder the player would choose; empty when
// no decoder takes it.
std::string DecodeWhole(const std::string& path);

// A download's file, fed by the test as a download job feeds it: made at its full size (zeros
// where nothing has come), each 1024-byte block written before it counts as arrived, and, when
// a final path is given, renamed there once the last block is in.
class TArrivingFile final : public ml::IArrivedBytes {
public:
  static constexpr uint64_t kBlock = 1024;
  TArrivingFile(std::string tempPath, std::string finalPath, std::string content);
  ~TArrivingFile() override;
  TArrivingFile(const TArrivingFile&) = delete;
  TArrivingFile& operator=(const TArrivingFile&) = delete;

  uint64_t ArrivedFrom(uint64_t offset) const override;
  // The blocks that hold [offset, offset + length), those not yet there.
  void Arrive(uint64_t offset, uint64_t length);
  // The first block not yet there at or after offset, wrapping to the start; false: none.
  bool NextMissing(uint64_t offset, uint64_t& block) const;
  bool Complete() const;
  // Where the bytes are: the temporary path until complete, then the final one.
  std::string Path() const;
  uint64_t Size() const { return content_.size(); }

private:
  std::string tempPath_, finalPath_, content_;
  mutable std::mutex mutex_;
  std::vector<bool> have_;
  size_t count_ = 0;
  int fd_ = -1;
};

}  // namespace mltest
