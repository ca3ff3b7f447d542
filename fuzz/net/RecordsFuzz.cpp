// Every record reader over arbitrary bytes (the first byte, modulo 56, picks the reader), and the server-list
// cache file. What a reader takes must survive being written again and read back unchanged, and
// what the cache parser takes must fit the bytes it came from.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "net/LoginRecords.h"
#include "net/LyricRecords.h"
#include "net/NetTypeRecords.h"
#include "net/PlaylistRecords.h"
#include "net/RegisterRecords.h"
#include "net/SearchRecords.h"
#include "net/ServerListRecords.h"
#include "net/TransferRecords.h"
#include "net/uServerListManager.h"

namespace {

using namespace ml;

// Reads the bytes; when they are taken, writes the record and reads that again.
template <class T, class R, class W>
void RoundTrip(const std::vector<uint8_t>& bytes, R read, W write) {
  T first;
  if (!read(bytes.data(), bytes.size(), first)) return;
  uint8_t out[1 << 16];
  TCmdStream s;
  s.InitWrite(out, sizeof out);
  if (!write(s, first)) std::abort();
  T second;
  if (!read(out, size_t(s.Size()), second) || !(second == first)) std::abort();
}

auto Partner(bool partnerFields) {
  return std::pair{[=](const void* p, size_t n, TLoginReply& r) { return ReadLoginReply(p, n, r, partnerFields); },
                   [=](TCmdStream& s, const TLoginReply& r) { return WriteLoginReply(s, r, partnerFields); }};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Records arrive in one datagram; whatever one holds can be written again.
  if (size < 1 || size - 1 > Envelope::MaxPayload) return 0;
  // A copy of exactly the record, so that a read beyond it is seen.
  const std::vector<uint8_t> b(data + 1, data + size);
  switch (data[0] % 56) {
    case 0: RoundTrip<TLoginRequest>(b, ReadLoginRequest, WriteLoginRequest); break;
    case 1: RoundTrip<TLoginReply>(b, Partner(false).first, Partner(false).second); break;
    case 2: RoundTrip<TLoginReply>(b, Partner(true).first, Partner(true).second); break;
    case 3: RoundTrip<TLogoutRequest>(b, ReadLogoutRequest, WriteLogoutRequest); break;
    case 4: RoundTrip<TLogoutReply>(b, ReadLogoutReply, WriteLogoutReply); break;
    case 5: RoundTrip<TKeepAliveRequest>(b, ReadKeepAliveRequest, WriteKeepAliveRequest); break;
    case 6: RoundTrip<TKeepAliveReply>(b, ReadKeepAliveReply, WriteKeepAliveReply); break;
    case 7: RoundTrip<TServerListRequest>(b, ReadServerListRequest, WriteServerListRequest); break;
    case 8: RoundTrip<TServerListReply>(b, ReadServerListReply, WriteServerListReply); break;
    case 9: RoundTrip<TNetTypeCheck>(b, ReadNetTypeCheck, WriteNetTypeCheck); break;
    case 10: RoundTrip<TPresenceCheck>(b, ReadPresenceCheck, WritePresenceCheck); break;
    case 11: RoundTrip<TPresenceAnswer>(b, ReadPresenceAnswer, WritePresenceAnswer); break;
    case 12: RoundTrip<TNetTypeResult>(b, ReadNetTypeResult, WriteNetTypeResult); break;
    case 13: RoundTrip<TSearchRequest>(b, ReadSearchRequest, WriteSearchRequest); break;
    case 14: RoundTrip<TSearchResultPart>(b, ReadSearchResultPart, WriteSearchResultPart); break;
    case 15: RoundTrip<TUsageReport>(b, ReadUsageReport, WriteUsageReport); break;
    case 16: RoundTrip<TSongLookupRequest>(b, ReadSongLookupRequest, WriteSongLookupRequest); break;
    case 17: RoundTrip<TSongLookupReply>(b, ReadSongLookupReply, WriteSongLookupReply); break;
    case 18: RoundTrip<TSuggestRequest>(b, ReadSuggestRequest, WriteSuggestRequest); break;
    case 19: RoundTrip<TSuggestReply>(b, ReadSuggestReply, WriteSuggestReply); break;
    case 22: RoundTrip<TLyricSearchRequest>(b, ReadLyricSearchRequest, WriteLyricSearchRequest); break;
    case 23: RoundTrip<TLyricArtistSearchRequest>(b, ReadLyricArtistSearchRequest, WriteLyricArtistSearchRequest); break;
    case 24: RoundTrip<TLyricSearchReply>(b, ReadLyricSearchReply, WriteLyricSearchReply); break;
    case 25: RoundTrip<TLyricDownloadRequest>(b, ReadLyricDownloadRequest, WriteLyricDownloadRequest); break;
    case 26: RoundTrip<TLyricPart>(b, ReadLyricPart, WriteLyricPart); break;
    case 27: RoundTrip<TPlaylistUploadStart>(b, ReadPlaylistUploadStart, WritePlaylistUploadStart); break;
    case 28: RoundTrip<TPlaylistUploadPart>(b, ReadPlaylistUploadPart, WritePlaylistUploadPart); break;
    case 29: RoundTrip<TPlaylistUploadAck>(b, ReadPlaylistUploadAck, WritePlaylistUploadAck); break;
    case 30: RoundTrip<TPlaylistDownloadStart>(b, ReadPlaylistDownloadStart, WritePlaylistDownloadStart); break;
    case 31: RoundTrip<TPlaylistStartReply>(b, ReadPlaylistStartReply, WritePlaylistStartReply); break;
    case 32: RoundTrip<TPlaylistPartRequest>(b, ReadPlaylistPartRequest, WritePlaylistPartRequest); break;
    case 33: RoundTrip<TPlaylistPart>(b, ReadPlaylistPart, WritePlaylistPart); break;
    case 34: RoundTrip<TCheckCodeRequest>(b, ReadCheckCodeRequest, WriteCheckCodeRequest); break;
    case 35: RoundTrip<TCheckCodeReply>(b, ReadCheckCodeReply, WriteCheckCodeReply); break;
    case 36: RoundTrip<TUserNameCheckRequest>(b, ReadUserNameCheckRequest, WriteUserNameCheckRequest); break;
    case 37: RoundTrip<TUserNameCheckReply>(b, ReadUserNameCheckReply, WriteUserNameCheckReply); break;
    case 38: RoundTrip<TRegisterRequest>(b, ReadRegisterRequest, WriteRegisterRequest); break;
    case 39: RoundTrip<TRegisterReply>(b, ReadRegisterReply, WriteRegisterReply); break;
    case 40: RoundTrip<TRelayFileRequest>(b, ReadRelayFileRequest, WriteRelayFileRequest); break;
    case 41: RoundTrip<TPeerFileRequest>(b, ReadPeerFileRequest, WritePeerFileRequest); break;
    case 42: RoundTrip<TPeerFileAnswer>(b, ReadPeerFileAnswer, WritePeerFileAnswer); break;
    case 43: RoundTrip<TPeerBlockRequest>(b, ReadPeerBlockRequest, WritePeerBlockRequest); break;
    case 44: RoundTrip<THashSourcesRequest>(b, ReadHashSourcesRequest, WriteHashSourcesRequest); break;
    case 45: RoundTrip<THashSourcesAnswer>(b, ReadHashSourcesAnswer, WriteHashSourcesAnswer); break;
    case 46: {
      // A data packet is taken only when its length word says exactly what follows, so writing
      // what was taken gives the same bytes.
      TTransferBlock block;
      if (!ReadTransferBlock(b.data(), b.size(), block)) break;
      if (block.Length > TransferBlockBytes || block.Data + block.Length != b.data() + b.size()) std::abort();
      uint8_t out[TTransferBlock::FixedSize + TransferBlockBytes];
      TCmdStream s;
      s.InitWrite(out, sizeof out);
      if (!WriteTransferBlock(s, block) || size_t(s.Size()) != b.size() || std::memcmp(out, b.data(), b.size()) != 0)
        std::abort();
      break;
    }
    case 48: RoundTrip<TRandomSongs>(b, ReadRandomSongs, WriteRandomSongs); break;
    case 49: RoundTrip<TOldFileNotice>(b, ReadOldFileNotice, WriteOldFileNotice); break;
    case 50: RoundTrip<TOldPeerRequest>(b, ReadOldPeerRequest, WriteOldPeerRequest); break;
    case 51: {
      TOldBlockRequest r;
      if (ReadOldBlockRequest(b.data(), b.size(), r) && (r.Blocks.size() > TOldBlockRequest::MaxBlocks || r.PeerID <= 0))
        std::abort();
      RoundTrip<TOldBlockRequest>(b, ReadOldBlockRequest, WriteOldBlockRequest);
      break;
    }
    case 52: {
      // An old data packet's block is whatever follows its fields, never more than a block.
      TOldDataPacket p;
      if (!ReadOldDataPacket(b.data(), b.size(), p)) break;
      if (p.Length > TransferBlockBytes || p.Data + p.Length != b.data() + b.size()) std::abort();
      break;
    }
    default: {
      uint16_t version = 0;
      std::vector<TServerEntry> entries;
      const std::string_view bytes(reinterpret_cast<const char*>(b.data()), b.size());
      if (TServerListManager::ParseCache(bytes, version, entries) && 6 + 8 * entries.size() > b.size() &&
          !entries.empty())
        std::abort();  // more entries than the bytes can hold
    }
  }
  return 0;
}
