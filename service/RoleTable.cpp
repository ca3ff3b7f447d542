#include "service/RoleTable.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <tuple>

#include "net/LoginRecords.h"
#include "net/LyricRecords.h"
#include "net/NetTypeRecords.h"
#include "net/PlaylistRecords.h"
#include "net/RegisterRecords.h"
#include "net/SearchRecords.h"
#include "net/ServerListRecords.h"
#include "net/TransferRecords.h"
#include "service/roles/KeepAlive.h"
#include "service/roles/Login.h"
#include "service/roles/Lyrics.h"
#include "service/roles/NetworkType.h"
#include "service/roles/Playlists.h"
#include "service/roles/Registration.h"
#include "service/roles/Search.h"
#include "service/roles/ServerList.h"
#include "service/roles/Transfers.h"
#include "service/roles/Usage.h"

namespace mlsvc {

// One of each role family. Families are told apart by their type; a family with a Tick does
// work as time passes.
struct TRoles {
  explicit TRoles(TServiceContext& ctx) : Families(ctx, ctx, ctx, ctx, ctx, ctx, ctx, ctx, ctx, ctx) {}
  std::tuple<TLoginRole, TKeepAliveRole, TServerListRole, TNetworkTypeRole, TSearchRole, TUsageRole, TLyricsRole,
             TPlaylistRole, TRegistrationRole, TTransferRole>
      Families;
};

namespace {

using namespace ml;

template <class>
struct TFamilyOf;
template <class F>
struct TFamilyOf<void (F::*)(const TRequest&)> {
  using Type = F;
};

// A row's handler: a method of one role family.
template <auto Method>
void Route(TRoles& roles, const TRequest& r) {
  (std::get<typename TFamilyOf<decltype(Method)>::Type>(roles.Families).*Method)(r);
}

constexpr TServer List = TServer::List, Main = TServer::Main;

constexpr TRole kRoles[] = {
    // server  code               shortest record                envelopes     role
    {List, Cmd::ServerList,   TServerListRequest::FixedSize, Kinds::Keyed, Route<&TServerListRole::Answer>},
    {List, Cmd::Presence,     TPresenceAnswer::FixedSize,    Kinds::Keyed, Route<&TNetworkTypeRole::Answered>},
    {Main, Cmd::Login,        TLoginRequest::FixedSize,      Kinds::Table, Route<&TLoginRole::Login>},
    {Main, Cmd::Logout,       TLogoutRequest::FixedSize,     Kinds::Table, Route<&TLoginRole::Logout>},
    {Main, Cmd::Register,     TRegisterRequest::FixedSize,   Kinds::Table, Route<&TRegistrationRole::Register>},
    {Main, Cmd::PlaylistUploadPart, TPlaylistUploadPart::FixedSize, Kinds::Table, Route<&TPlaylistRole::UploadPart>},
    {Main, Cmd::PlaylistPart, TPlaylistPartRequest::FixedSize, Kinds::Table, Route<&TPlaylistRole::PartRequest>},
    {Main, Cmd::KeepAlive,    TKeepAliveRequest::FixedSize,  Kinds::Keyed, Route<&TKeepAliveRole::Answer>},
    {Main, Cmd::UsageReport,  TUsageReport::FixedSize,       Kinds::Keyed, Route<&TUsageRole::Report>},
    {Main, Cmd::Search,       TSearchRequest::FixedSize,     Kinds::Keyed, Route<&TSearchRole::Search>},
    {Main, Cmd::SongLookup,   TSongLookupRequest::FixedSize, Kinds::Table, Route<&TSearchRole::Lookup>},
    {Main, Cmd::CheckCode,    TCheckCodeRequest::FixedSize,  Kinds::Table, Route<&TRegistrationRole::CheckCode>},
    {Main, Cmd::LyricSearch,  TLyricSearchRequest::FixedSize, Kinds::Keyed, Route<&TLyricsRole::SearchByCaption>},
    {Main, Cmd::LyricDownload, TLyricDownloadRequest::FixedSize, Kinds::Keyed, Route<&TLyricsRole::Download>},
    {Main, Cmd::PlaylistDownloadStart, TPlaylistDownloadStart::FixedSize, Kinds::Table, Route<&TPlaylistRole::DownloadStart>},
    {Main, Cmd::PlaylistUploadStart, TPlaylistUploadStart::FixedSize, Kinds::Table, Route<&TPlaylistRole::UploadStart>},
    {Main, Cmd::NetTypeCheck, TNetTypeCheck::FixedSize,      Kinds::Keyed, Route<&TNetworkTypeRole::Check>},
    {Main, Cmd::RelayFileRequest, TRelayFileRequest::FixedSize, Kinds::Keyed, Route<&TTransferRole::Relay>},
    {Main, Cmd::PeerFileRequest, TPeerFileRequest::FixedSize, Kinds::Keyed, Route<&TTransferRole::FileRequest>},
    {Main, Cmd::PeerFileAnswer, TPeerFileAnswer::FixedSize,  Kinds::Keyed, Route<&TTransferRole::Announce>},
    {Main, Cmd::PeerBlockRequest, TPeerBlockRequest::FixedSize, Kinds::Keyed, Route<&TTransferRole::BlockRequest>},
    {Main, Cmd::CheckUserName, TUserNameCheckRequest::FixedSize, Kinds::Table, Route<&TRegistrationRole::CheckUserName>},
    {Main, Cmd::KeywordSuggest, TSuggestRequest::FixedSize,  Kinds::Table, Route<&TSearchRole::Suggest>},
    {Main, Cmd::LyricSearchAlt, TLyricArtistSearchRequest::FixedSize, Kinds::Keyed, Route<&TLyricsRole::SearchBySinger>},
    {Main, Cmd::HashSources,  THashSourcesRequest::FixedSize, Kinds::Keyed, Route<&TTransferRole::Sources>},
};

constexpr auto Key(const TRole& r) { return std::tuple(r.Server, r.Code); }
static_assert(std::is_sorted(std::begin(kRoles), std::end(kRoles),
                             [](const TRole& a, const TRole& b) { return Key(a) < Key(b); }),
              "the role table is sorted by server and code");

}  // namespace

uint8_t KindBit(uint8_t envelopeKind) {
  switch (envelopeKind) {
    case ml::Envelope::Keyed: return Kinds::Keyed;
    case ml::Envelope::Table: return Kinds::Table;
    case ml::Envelope::Plain: return Kinds::Plain;
    case ml::Envelope::Trailer: return Kinds::Trailer;
    default: return ml::IsBareKind(envelopeKind) ? Kinds::Bare : 0;
  }
}

std::span<const TRole> AllRoles() { return kRoles; }

const TRole* FindRole(TServer server, uint16_t code) {
  const auto it = std::lower_bound(std::begin(kRoles), std::end(kRoles), std::tuple(server, code),
                                   [](const TRole& r, const auto& key) { return Key(r) < key; });
  return it != std::end(kRoles) && Key(*it) == std::tuple(server, code) ? &*it : nullptr;
}

TRoleTable::TRoleTable(TServiceContext& ctx) : roles_(std::make_unique<TRoles>(ctx)) {}

TRoleTable::~TRoleTable() = default;

bool TRoleTable::Dispatch(const TRequest& r) {
  if (r.Length < 2) return false;
  const TRole* role = FindRole(r.Server, r.Code());
  if (!role || !(role->Kinds & KindBit(r.Kind)) || r.Length < role->MinLength) return false;
  role->Handler(*roles_, r);
  return true;
}

int64_t TRoleTable::Tick(int64_t nowMs) {
  int64_t next = std::numeric_limits<int64_t>::max();
  std::apply(
      [&](auto&... family) {
        const auto tick = [&](auto& f) {
          if constexpr (requires { f.Tick(nowMs); }) f.Tick(nowMs);
          if constexpr (requires { f.NextDueMs(); }) next = std::min(next, f.NextDueMs());
        };
        (tick(family), ...);
      },
      roles_->Families);
  return next;
}

}  // namespace mlsvc
