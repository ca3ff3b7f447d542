// The service's roles behind their table, reached with payloads as OpenEnvelope delivers them.
// The first byte says how the rest arrives:
//   bit 0     the socket: 0 main, 1 server list
//   bits 1-3  the envelope kind (kKinds)
//   bit 4     put the number and login key of the last session the service began (and, into an
//             answer to a presence check, its token) into the record, as a client that holds
//             them would: the keys are random, so without this no keep-alive, logout or
//             presence answer would ever be taken
//   bits 5-7  let time pass first (kSteps), then run the housekeeping
// Logins run at once on a pool of no threads with a cheap Argon2id cost; one account exists
// (10001 "fuzz", password "pw"); an unknown user's refusal goes out at a later housekeeping. The
// catalogue holds a few songs with Chinese and Latin names, so searches, lookups and
// suggestions find something, and most songs have a lyric (one of several parts); usage counts
// are written at the housekeeping. Bit 4 also puts the last check code issued into a
// registration, so that registrations get as far as making an account, and the session's number
// into transfer requests (as requester, relay target or announcing holder). Song i of the
// catalogue has the digest of sixteen bytes i + 1 and a path that does not exist, so the seed
// answers its blocks as unreadable.
// Nothing is sent: every answer is checked instead, and must be one datagram that the client's
// reader of its record takes.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/LRMD5.h"
#include "net/LoginRecords.h"
#include "net/LyricRecords.h"
#include "net/NetTypeRecords.h"
#include "net/PlaylistRecords.h"
#include "net/RegisterRecords.h"
#include "net/SearchRecords.h"
#include "net/ServerListRecords.h"
#include "net/TransferRecords.h"
#include "base/GbkText.h"
#include "service/Catalogue.h"
#include "service/ServiceCore.h"
#include "service/ServiceStore.h"
#include "service/WorkPool.h"
#include "service/roles/Transfers.h"

namespace {

using namespace mlsvc;

constexpr uint8_t kKinds[8] = {ml::Envelope::Keyed, ml::Envelope::Table,   ml::Envelope::Plain, ml::Envelope::Trailer,
                               ml::Envelope::TrailerInner, 200, ml::Envelope::Keyed, ml::Envelope::Table};
constexpr int64_t kSteps[8] = {0, 100, 1000, 1500, 30000, 135001, 720001, 86400000};
constexpr TArgonCost kCheap{8, 1};
const uint32_t kClientIP = htonl(INADDR_LOOPBACK);
constexpr uint16_t kClientPort = 7000;

struct TLast {
  int32_t UserID = 0, LoginKey = 0;
  uint32_t Token = 0;
  int32_t CheckCode = 0;
};
TLast last;
// The command of the request being served: answers that begin with a status word instead of a
// command are read by the reader of that request's answer.
uint16_t asked = 0;

void Check(bool ok) {
  if (!ok) std::abort();
}

// Checks an answer as the client would take it, and remembers what a client would keep of it.
class TCheckingSender final : public TDatagramSender {
public:
  bool Send(uint8_t kind, ml::TLRGUID guid, const void* payload, size_t length, uint32_t ip, uint16_t port,
            uint32_t) override {
    Check(ip == kClientIP && port == kClientPort);
    if (kind == ml::Envelope::TransferData) {
      // The seed's blocks: at most a block each, from the seed's own number.
      ml::TTransferBlock b;
      Check(ml::ReadTransferBlock(payload, length, b) && b.SenderID == TTransferRole::SeedUserID);
      return true;
    }
    uint8_t datagram[ml::Envelope::MaxDatagram + 16];
    Check(ml::BuildReply(kind, datagram, sizeof datagram, guid, payload, length) > 0);
    Check(length >= 2);
    const auto* p = static_cast<const uint8_t*>(payload);
    const uint16_t code = uint16_t(p[0] | (p[1] << 8));
    switch (asked) {
      case ml::Cmd::PlaylistUploadStart:
      case ml::Cmd::PlaylistDownloadStart: {
        ml::TPlaylistStartReply r;
        Check(ml::ReadPlaylistStartReply(p, length, r) && r.PartCount <= ml::PlaylistData::MaxParts);
        return true;
      }
      case ml::Cmd::CheckCode: {
        ml::TCheckCodeReply r;
        Check(ml::ReadCheckCodeReply(p, length, r));
        if (r.Result == ml::Status::OK) last.CheckCode = r.CheckCode;
        return true;
      }
      case ml::Cmd::CheckUserName: {
        ml::TUserNameCheckReply r;
        Check(ml::ReadUserNameCheckReply(p, length, r) && length == r.FixedSize);
        return true;
      }
      case ml::Cmd::Register: {
        ml::TRegisterReply r;
        Check(ml::ReadRegisterReply(p, length, r));
        return true;
      }
    }
    switch (code) {
      case ml::Cmd::Login: {
        ml::TLoginReply r;
        Check(ml::ReadLoginReply(p, length, r, false));
        if (r.Status == ml::Status::OK) {
          last.UserID = r.UserID;
          last.LoginKey = r.LoginKey;
        }
        break;
      }
      case ml::Cmd::Logout: {
        ml::TLogoutReply r;
        Check(ml::ReadLogoutReply(p, length, r) && r.Status == ml::Status::OK);
        break;
      }
      case ml::Cmd::KeepAlive: {
        ml::TKeepAliveReply r;
        Check(ml::ReadKeepAliveReply(p, length, r));
        break;
      }
      case ml::Cmd::ServerPresenceCheck: {
        ml::TPresenceCheck r;
        Check(ml::ReadPresenceCheck(p, length, r));
        last.Token = r.Token;
        break;
      }
      case ml::Cmd::NetTypeResult: {
        ml::TNetTypeResult r;
        Check(ml::ReadNetTypeResult(p, length, r) && r.NetKind <= ml::NetKind::Highest);
        break;
      }
      case ml::Cmd::Search: {
        ml::TSearchResultPart r;
        Check(ml::ReadSearchResultPart(p, length, r) && r.Rows.size() <= 20 && r.Part < r.MaxParts);
        break;
      }
      case ml::Cmd::SongLookup: {
        ml::TSongLookupReply r;
        Check(ml::ReadSongLookupReply(p, length, r));
        break;
      }
      case ml::Cmd::KeywordSuggest: {
        ml::TSuggestReply r;
        Check(ml::ReadSuggestReply(p, length, r) && r.Entries.size() <= 10);
        break;
      }
      case ml::Cmd::LyricSearch: {
        ml::TLyricSearchReply r;
        Check(ml::ReadLyricSearchReply(p, length, r));
        break;
      }
      case ml::Cmd::LyricDownload: {
        ml::TLyricPart r;
        Check(ml::ReadLyricPart(p, length, r));
        break;
      }
      case ml::Cmd::PlaylistUploadPart: {
        ml::TPlaylistUploadAck r;
        Check(ml::ReadPlaylistUploadAck(p, length, r));
        break;
      }
      case ml::Cmd::PlaylistPart: {
        ml::TPlaylistPart r;
        Check(ml::ReadPlaylistPart(p, length, r));
        break;
      }
      case ml::Cmd::HashSources: {
        ml::THashSourcesAnswer r;
        Check(ml::ReadHashSourcesAnswer(p, length, r));
        break;
      }
      case ml::Cmd::PeerFileAnswer: {
        ml::TPeerFileAnswer r;
        Check(ml::ReadPeerFileAnswer(p, length, r) && r.UserID == TTransferRole::SeedUserID);
        break;
      }
      case ml::Cmd::RelayFileRequest: {
        // Relayed to the target with the requester where the relay saw it.
        ml::TRelayFileRequest r;
        Check(ml::ReadRelayFileRequest(p, length, r) && r.RequesterIP == kClientIP && r.RequesterPort == kClientPort);
        break;
      }
      default: {
        ml::TServerListReply r;
        Check(ml::ReadServerListReply(p, length, r));
      }
    }
    return true;
  }
};

struct TFixture {
  std::string folder;
  TServiceConfig cfg;
  ml::ManualClock clock;
  TCheckingSender list, main;
  TServiceLog log{TLogLevel::Error};
  TWorkPool workers{0, 1};
  std::unique_ptr<TServiceStore> store;
  std::unique_ptr<TServiceCore> core;

  TFixture() {
    char tmpl[] = "/tmp/ml-service-fuzz-XXXXXX";
    folder = ::mkdtemp(tmpl);
    cfg.DbPath = folder + "/fuzz.db";
    cfg.AdvertiseIP = kClientIP;
    cfg.AdvertisePort = 8800;
    cfg.MinVersion = 5000;
    cfg.UnknownUserCost = kCheap;
    cfg.LoginRate = cfg.LoginBurst = cfg.LoginIPRate = cfg.LoginIPBurst = 1e9;
    cfg.ListRate = cfg.ListBurst = cfg.ProbeRate = cfg.ProbeBurst = 1e9;
    cfg.AnonRate = cfg.AnonBurst = cfg.AnonNetRate = cfg.AnonNetBurst = cfg.ReplyBytesPerSecond = 1e9;
    cfg.SearchRate = cfg.SearchBurst = cfg.UsageRate = cfg.UsageBurst = 1e9;
    cfg.LyricRate = cfg.LyricBurst = cfg.PlaylistRate = cfg.PlaylistBurst = cfg.CheckCodeRate = cfg.CheckCodeBurst = 1e9;
    cfg.RegisterRate = cfg.RegisterBurst = cfg.RegisterNetRate = cfg.RegisterNetBurst = 1e9;
    cfg.NewVerifierCost = kCheap;
    // Small bounds, so that evictions happen and memory stays flat over a long run.
    cfg.MaxSessions = 256;
    cfg.MaxAnonymousPerNet = 64;
    clock.Set(ml::Millis(1'790'000'000'000));
    store = std::make_unique<TServiceStore>(cfg.DbPath, true);
    store->AddAccount({10001, "fuzz", MakeVerifier(ml::LRMD5::MD5String("pw").v, kCheap)});
    core = std::make_unique<TServiceCore>(cfg, *store, clock, list, main, workers, log);
    std::vector<TCatalogueSong> songs;
    const char* const names[][3] = {{"周明远", "星光照亮回家的路", "夜色"}, {"Luna Park", "Paper Moon", "Night Lines"},
                                    {"林小雨", "星", "城市"}, {"Anna Berg", "Open Road", "Open Air"}};
    for (int i = 0; i < 30; ++i) {
      TCatalogueSong s;
      const auto& n = names[i % 4];
      s.Digest.fill(uint8_t(i + 1));
      s.Artist = n[0];
      s.Title = std::string(n[1]) + (i < 4 ? "" : std::to_string(i));
      s.Album = n[2];
      s.FileName = s.Artist + " - " + s.Title + ".mp3";
      s.Path = "/songs/" + s.FileName;
      s.Size = 100000 + i;
      s.DurationMs = 3000 * i;
      s.BitrateKbps = 128;
      if (i % 5 != 0) s.Lyrics = "[00:01.00]" + s.Title + std::string(i == 1 ? 5000 : 20, '~');
      songs.push_back(s);
    }
    core->Catalogue().Add(songs);
  }
  ~TFixture() {
    core.reset();
    store.reset();
    std::filesystem::remove_all(folder);
  }
};

TFixture& F() {
  static TFixture f;
  return f;
}

// Writes a record of fixed size again over its bytes, changed by fill.
template <class T, class Fill>
void Refill(std::vector<uint8_t>& b, bool (*read)(const void*, size_t, T&), bool (*write)(ml::TCmdStream&, const T&),
            Fill fill) {
  T r;
  if (!read(b.data(), b.size(), r)) return;
  fill(r);
  ml::TCmdStream s;
  s.InitWrite(b.data(), int32_t(b.size()));
  write(s, r);
}

// Puts the last session's number, key and token into a record that carries them.
void FillLast(std::vector<uint8_t>& b) {
  if (b.size() < 2) return;
  const auto own = [](auto& r) {
    r.UserID = last.UserID;
    if constexpr (requires { r.LoginKey; }) r.LoginKey = last.LoginKey;
    if constexpr (requires { r.Token; }) r.Token = last.Token;
  };
  switch (uint16_t(b[0] | (b[1] << 8))) {
    case ml::Cmd::KeepAlive: Refill(b, ml::ReadKeepAliveRequest, ml::WriteKeepAliveRequest, own); break;
    case ml::Cmd::Logout: Refill(b, ml::ReadLogoutRequest, ml::WriteLogoutRequest, own); break;
    case ml::Cmd::NetTypeCheck: Refill(b, ml::ReadNetTypeCheck, ml::WriteNetTypeCheck, own); break;
    case ml::Cmd::Presence: Refill(b, ml::ReadPresenceAnswer, ml::WritePresenceAnswer, own); break;
    case ml::Cmd::PlaylistUploadStart: Refill(b, ml::ReadPlaylistUploadStart, ml::WritePlaylistUploadStart, own); break;
    case ml::Cmd::PlaylistUploadPart: Refill(b, ml::ReadPlaylistUploadPart, ml::WritePlaylistUploadPart, own); break;
    case ml::Cmd::PlaylistDownloadStart:
      Refill(b, ml::ReadPlaylistDownloadStart, ml::WritePlaylistDownloadStart, own);
      break;
    case ml::Cmd::PlaylistPart: Refill(b, ml::ReadPlaylistPartRequest, ml::WritePlaylistPartRequest, own); break;
    case ml::Cmd::Register:
      Refill(b, ml::ReadRegisterRequest, ml::WriteRegisterRequest,
             [](ml::TRegisterRequest& r) { r.CheckCode = last.CheckCode; });
      break;
    // Transfers: the last session asks, is relayed to, or announces.
    case ml::Cmd::PeerFileRequest:
      Refill(b, ml::ReadPeerFileRequest, ml::WritePeerFileRequest, [](auto& r) { r.RequesterID = last.UserID; });
      break;
    case ml::Cmd::PeerBlockRequest:
      Refill(b, ml::ReadPeerBlockRequest, ml::WritePeerBlockRequest, [](auto& r) { r.RequesterID = last.UserID; });
      break;
    case ml::Cmd::HashSources:
      Refill(b, ml::ReadHashSourcesRequest, ml::WriteHashSourcesRequest, [](auto& r) { r.RequesterID = last.UserID; });
      break;
    case ml::Cmd::RelayFileRequest:
      Refill(b, ml::ReadRelayFileRequest, ml::WriteRelayFileRequest, [](auto& r) { r.TargetID = last.UserID; });
      break;
    case ml::Cmd::PeerFileAnswer:
      Refill(b, ml::ReadPeerFileAnswer, ml::WritePeerFileAnswer, [](auto& r) { r.UserID = last.UserID; });
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > ml::Envelope::MaxPayload) return 0;
  TFixture& f = F();
  const uint8_t how = data[0];
  asked = 0;  // what the housekeeping sends answers no request of this input
  if (const int64_t step = kSteps[how >> 5]) {
    f.clock.Advance(ml::Millis(step));
    f.core->Housekeep();
  }
  // A copy of exactly the payload, so that a read beyond it is seen.
  std::vector<uint8_t> payload(data + 1, data + size);
  if (how & 0x10) FillLast(payload);
  ml::TOpenedEnvelope env;
  env.Kind = kKinds[(how >> 1) & 7];
  env.Guid = {1, 1};
  env.Payload = payload.data();
  env.PayloadLength = payload.size();
  asked = payload.size() >= 2 ? uint16_t(payload[0] | (payload[1] << 8)) : 0;
  f.core->Dispatch(how & 1 ? TServer::List : TServer::Main, env, kClientIP, kClientPort);
  return 0;
}
