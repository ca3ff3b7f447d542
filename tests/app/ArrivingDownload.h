#pragma once
// A song's download as the player's glue sees it, fed by the test: so many 1 KiB blocks per
// call, the first missing one at or after the listening position first (as a job serves the
// player), else the first missing one from the start; renamed to its final name when complete.
#include "app/OnlinePlayback.h"
#include "tests/support/ArrivingFile.h"
#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

namespace mltest {

class TArrivingDownload final : public ml::IPlayableDownload {
public:
  TArrivingDownload(const TempDir& dir, const std::string& name, std::string content)
      : file_(dir.File(name + ".lr!"), dir.File(name), std::move(content)) {}
  uint64_t ArrivedFrom(uint64_t offset) const override { return file_.ArrivedFrom(offset); }
  int64_t FileSize() const override { return int64_t(file_.Size()); }
  bool Complete() const override { return file_.Complete(); }
  std::string FilePath() const override { return file_.Path(); }
  void SetListenPosition(int64_t bytes) override {
    if (bytes >= 0) Listened.push_back(bytes);
    listen_ = bytes;
  }
  void Deliver(int blocks) {
    for (int i = 0; i < blocks; ++i) {
      uint64_t b = 0;
      if (!file_.NextMissing(listen_ >= 0 ? uint64_t(listen_) : 0, b)) return;
      file_.Arrive(b * TArrivingFile::kBlock, 1);
    }
  }
  std::vector<int64_t> Listened;

private:
  TArrivingFile file_;
  int64_t listen_ = -1;
};

}  // namespace mltest
