// A download job taking arbitrary data packets in arbitrary batches, read by the transfer-block
// reader first. Input: byte 0 the file's block count, byte 1 its last block's length, then
// records [control][length, 2 bytes LE][body]. Control: bit 0 the source (two are connected),
// bit 1 ends the batch, bit 2 puts the job's digest and the source's number into the body (so
// that most bodies reach the job), bit 3 sends from another port. A shadow of the job says which
// packets it must take: the first good one of each block, from a source not dropped by a
// block -1. After every batch the job's counts and the bytes on disk must be the shadow's.
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "tests/transfer/FakeTransferLink.h"
#include "transfer/uDownFile.h"

namespace {

using namespace ml;

const uint32_t kIP = htonl(0x7F000001);
constexpr int32_t kIDs[2] = {1234, 77};
constexpr uint16_t kPorts[2] = {7100, 7200};

struct TShadow {
  std::map<int32_t, std::string> blocks;  // the bytes the job must hold
  bool dropped[2] = {false, false};
  int64_t duplicates = 0;
};

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckJob(TDownFile& job, const TShadow& shadow, int64_t fileSize) {
  int64_t bytes = 0;
  for (const auto& [b, data] : shadow.blocks) bytes += int64_t(data.size());
  Check(job.ReceivedBytes() == bytes);
  Check(job.DuplicateBlocks() == shadow.duplicates);
  int64_t prefix = 0;
  for (auto it = shadow.blocks.begin(); it != shadow.blocks.end() && it->first * 1024 == prefix; ++it)
    prefix += int64_t(it->second.size());
  Check(job.ArrivedFrom(0) == prefix);
  std::ifstream in(job.TempFileName(), std::ios::binary);
  const std::string disk{std::istreambuf_iterator<char>(in), {}};
  Check(int64_t(disk.size()) == fileSize);
  for (const auto& [b, data] : shadow.blocks) Check(disk.compare(size_t(b) * 1024, data.size(), data) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // One folder a process, removed at its end.
  static const struct TFolder {
    std::string path = std::filesystem::temp_directory_path() / ("fuzz_transfer_batch." + std::to_string(::getpid()));
    TFolder() { std::filesystem::create_directories(path); }
    ~TFolder() { std::filesystem::remove_all(path); }
  } folder;
  const std::string dir = folder.path + "/";
  const int32_t blockCount = 1 + data[0] % 48;
  const int64_t fileSize = int64_t(blockCount - 1) * 1024 + 1 + data[1] * 4 % 1024;
  mltest::TFakeLink link;  // what the job sends is kept for the input's length only
  link.temp = dir;
  TDownFileParam param;
  param.FileHash = LRMD5::MD5String(std::string(reinterpret_cast<const char*>(data), 2));
  param.FileSize = fileSize;
  param.FileName = "song.mp3";
  param.DestFileName = dir + "song.mp3";
  TDownFile job(link, param);
  Check(job.ResetDown());
  job.Start(0);
  for (int i = 0; i < 2; ++i) {
    job.TakeSourceList(THashSourcesAnswer{param.FileHash, {{kIDs[i], kIP, kPorts[i], 0}}}, 0);
    job.ServiceDown(0);
    job.RecordAnswer(TPeerFileAnswer{Cmd::PeerFileAnswer, param.FileHash, int32_t(fileSize), kIDs[i], 0,
                                     FileAnswer::WillServe, "song.mp3"},
                     kIP, kPorts[i], 0);
  }
  TShadow shadow;
  std::vector<std::vector<uint8_t>> bodies;  // the batch's bytes live until it is taken
  std::vector<TArrivedBlock> batch;
  std::map<int32_t, std::string> inBatch;
  const auto takeBatch = [&] {
    job.ReceiveBlocks(batch, 1);
    for (auto& [b, bytes] : inBatch) shadow.blocks.emplace(b, std::move(bytes));
    inBatch.clear();
    batch.clear();
    bodies.clear();
    CheckJob(job, shadow, fileSize);
  };
  size_t at = 2;
  while (at + 3 <= size && int32_t(shadow.blocks.size() + inBatch.size()) < blockCount) {
    const uint8_t control = data[at];
    const size_t length = std::min<size_t>(LoadLE16(data + at + 1), size - at - 3);
    bodies.emplace_back(data + at + 3, data + at + 3 + length);
    at += 3 + length;
    std::vector<uint8_t>& body = bodies.back();
    const int source = control & 1;
    if ((control & 4) && body.size() >= 20) {
      std::memcpy(body.data(), param.FileHash.v.data(), 16);
      StoreLE32(body.data() + 16, uint32_t(kIDs[source]));
    }
    TTransferBlock block;
    if (ReadTransferBlock(body.data(), body.size(), block)) {
      const uint16_t port = (control & 8) ? uint16_t(kPorts[source] + 1) : kPorts[source];
      batch.push_back({block, kIP, port});
      // What the job must make of it.
      const bool ours = block.Hash == param.FileHash && block.SenderID == kIDs[source] && !(control & 8) &&
                        !shadow.dropped[source];
      const std::string bytes(reinterpret_cast<const char*>(block.Data), block.Length);
      if (ours && block.Block < 0) shadow.dropped[source] = true;
      const bool fits = block.Block >= 0 && block.Block < blockCount &&
                        int64_t(block.Length) == std::min<int64_t>(1024, fileSize - int64_t(block.Block) * 1024);
      if (ours && fits) {
        if (shadow.blocks.count(block.Block) || inBatch.count(block.Block)) ++shadow.duplicates;
        else inBatch.emplace(block.Block, bytes);
      }
    }
    if (control & 2) takeBatch();
  }
  if (!batch.empty()) takeBatch();
  if (int32_t(shadow.blocks.size()) == blockCount) Check(job.State() == dsVerifying);
  job.DeleteTempFile();
  return 0;
}
