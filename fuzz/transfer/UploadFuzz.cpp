// The upload side under arbitrary requests, new (50, 52) and old (18, 28, 35, 36), each read by
// its record reader first, from three senders: two peers and a forger. Input: records
// [control][length, 2 bytes LE][body]; control bits 0-1 pick the sender (3: the forger's address
// with the first peer's port), bit 2 lets time pass beyond the idle expiry. Nothing may be sent
// to an address that did not open an upload there, no request may draw more packets than its
// kind allows (16 for 52, 10 for 28), the uploads stay within their limit, and every block sent
// is the file's own bytes.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>

#include "net/TransferRecords.h"
#include "transfer/uUpFile.h"

namespace {

using namespace ml;

constexpr size_t kFileSize = 3000;
constexpr size_t kMaxUploads = 2;
const uint32_t kIPs[3] = {htonl(0x7F000001), htonl(0x7F000002), htonl(0x7F000003)};
constexpr uint16_t kPorts[3] = {7100, 7200, 7100};

void Check(bool ok) {
  if (!ok) std::abort();
}

struct TFixture {
  TFixture() {
    dir = std::filesystem::temp_directory_path() / ("fuzz_uploads_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    path = (dir / "Song.mp3").string();
    content.resize(kFileSize);
    for (size_t i = 0; i < kFileSize; ++i) content[i] = char(i * 7 + i / 1024);
    std::ofstream(path, std::ios::binary).write(content.data(), std::streamsize(content.size()));
    hash = LRMD5::MD5String(content);
  }
  ~TFixture() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  std::string path, content;
  TMD5Digest hash;
};

const TFixture& Fixture() {
  static const TFixture f;
  return f;
}

struct TRun {
  std::set<std::pair<uint32_t, uint16_t>> openers;  // addresses an upload was opened for
  size_t sentThisRequest = 0;
};

void CheckBlock(int32_t block, const uint8_t* data, size_t length) {
  const std::string& c = Fixture().content;
  Check(block >= 0 && size_t(block) * 1024 < c.size());
  Check(length == std::min<size_t>(1024, c.size() - size_t(block) * 1024));
  Check(std::memcmp(data, c.data() + size_t(block) * 1024, length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TFixture& f = Fixture();
  TRun run;
  const auto sentTo = [&run](uint32_t ip, uint16_t port) {
    Check(run.openers.count({ip, port}) > 0);
    ++run.sentThisRequest;
  };
  TUploadTable table(
      [&f](const TMD5Digest& h, std::string& path, int64_t& size) {
        if (h != f.hash) return false;
        path = f.path;
        size = int64_t(kFileSize);
        return true;
      },
      [&](uint32_t ip, uint16_t port, const uint8_t* body, size_t length) {
        sentTo(ip, port);
        TTransferBlock b;
        Check(ReadTransferBlock(body, length, b));
        CheckBlock(b.Block, b.Data, b.Length);
      });
  table.SetOwnUserID(77);
  table.SetMaxUploads(kMaxUploads);
  table.SetOldPeers(
      [&f](const std::string& name, int64_t size, std::string& path, TMD5Digest& h) {
        if (LowerOldFileKey(name) != "song.mp3" || size != int64_t(kFileSize)) return false;
        path = f.path;
        h = f.hash;
        return true;
      },
      [&](uint32_t ip, uint16_t port, const uint8_t* packet, size_t length) {
        sentTo(ip, port);
        TOldDataPacket p;
        Check(ReadOldDataPacket(packet, length, p));
        CheckBlock(p.Block, p.Data, p.Length);
      });

  int64_t now = 0;
  size_t at = 0;
  while (at + 3 <= size) {
    const uint8_t control = data[at];
    const size_t length = std::min<size_t>(size_t(data[at + 1] | data[at + 2] << 8), size - at - 3);
    // A copy of exactly the body, so that a read beyond it is seen.
    const std::string body(reinterpret_cast<const char*>(data + at + 3), length);
    const uint8_t* b = reinterpret_cast<const uint8_t*>(body.data());
    at += 3 + length;
    const int who = std::min(control & 3, 2);
    const uint32_t ip = kIPs[who];
    const uint16_t port = kPorts[who];
    if (control & 4) now += TUploadTable::IdleMs + 1;
    table.Expire(now);
    run.sentThisRequest = 0;
    if (length < 2) continue;
    const uint16_t code = uint16_t(b[0] | b[1] << 8);
    size_t allowed = 0;
    if (TPeerFileRequest r; code == Cmd::PeerFileRequest && ReadPeerFileRequest(b, length, r)) {
      if (table.AnswerFileRequest(r.Hash, r.FileSize, r.RequesterID, r.DownType, ip, port, now).Status ==
          FileAnswer::WillServe)
        run.openers.insert({ip, port});
    } else if (TPeerBlockRequest r; code == Cmd::PeerBlockRequest && ReadPeerBlockRequest(b, length, r)) {
      table.ServeBlocks(r, ip, port, now);
      allowed = TUploadTable::MaxBlocksPerRequest;
    } else if (TOldFileNotice r; code == Cmd::TransferNotice && ReadOldFileNotice(b, length, r)) {
      table.MayServeOld(r.FileKey);
    } else if (TOldBlockRequest r; ReadOldBlockRequest(b, length, r)) {
      Check(r.Blocks.size() <= TOldBlockRequest::MaxBlocks && r.PeerID > 0);
      table.ServeOldBlocks(r, ip, port, now);
      allowed = TUploadTable::MaxOldBlocksPerRequest;
    } else if (TOldPeerRequest r; ReadOldPeerRequest(b, length, r)) {
      Check(r.PeerID > 0);
      if (r.Code == TOldPeerRequest::StopCode) {
        table.EndOldUpload(r, ip, port);
      } else {
        const std::string answer = table.AnswerOldFileRequest(r, ip, port, now);
        if (answer == LRMD5::MD5DigestToStr(f.hash)) run.openers.insert({ip, port});
        else Check(answer == OldAnswer::NotHeld || answer == OldAnswer::Busy);
      }
    }
    Check(run.sentThisRequest <= allowed);
    Check(table.Count() <= kMaxUploads);
  }
  return 0;
}
