#include "net/TransferRecords.h"

#include <algorithm>
#include <charconv>

#include "base/StrUtil.h"
#include "net/RecordCodec.h"

namespace ml {

using namespace RecordCodec;

namespace {

void WriteHash(TCmdStream& s, const TMD5Digest& h) { s.WriteBuffer(h.v.data(), int32_t(h.v.size())); }
void ReadHash(TCmdStream& s, TMD5Digest& h) { s.ReadBuffer(h.v.data(), int32_t(h.v.size())); }

}  // namespace

bool WriteRelayFileRequest(TCmdStream& s, const TRelayFileRequest& r) {
  if (!Fits(s, TRelayFileRequest::FixedSize)) return false;
  s.WriteWord(TRelayFileRequest::Code);
  WriteHash(s, r.Hash);
  s.WriteInteger(r.FileSize);
  s.WriteInteger(r.RequesterID);
  s.WriteInteger(int32_t(r.RequesterIP));
  s.WriteWord(r.RequesterPort);
  s.WriteInteger(r.TargetID);
  s.WriteByte(r.DownType);
  return true;
}

bool ReadRelayFileRequest(const void* data, size_t length, TRelayFileRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TRelayFileRequest::Code, TRelayFileRequest::FixedSize)) return false;
  ReadHash(s, r.Hash);
  r.FileSize = s.ReadInteger(0);
  r.RequesterID = s.ReadInteger(0);
  r.RequesterIP = uint32_t(s.ReadInteger(0));
  r.RequesterPort = s.ReadWord(0);
  r.TargetID = s.ReadInteger(0);
  r.DownType = s.ReadByte(0);
  return true;
}

bool WritePeerFileRequest(TCmdStream& s, const TPeerFileRequest& r) {
  if (!Fits(s, TPeerFileRequest::FixedSize + 1)) return false;
  s.WriteWord(TPeerFileRequest::Code);
  WriteHash(s, r.Hash);
  s.WriteInteger(r.FileSize);
  s.WriteInteger(r.RequesterID);
  s.WriteByte(r.DownType);
  s.WriteByte(r.NatType);
  return true;
}

bool ReadPeerFileRequest(const void* data, size_t length, TPeerFileRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPeerFileRequest::Code, TPeerFileRequest::FixedSize)) return false;
  ReadHash(s, r.Hash);
  r.FileSize = s.ReadInteger(0);
  r.RequesterID = s.ReadInteger(0);
  r.DownType = s.ReadByte(0);
  r.NatType = s.ReadByte(255);
  return true;
}

bool WritePeerFileAnswer(TCmdStream& s, const TPeerFileAnswer& r) {
  if (r.Code != Cmd::PeerFileAnswer && r.Code != Cmd::PeerTransfer53) return false;
  if (!Fits(s, Total({TPeerFileAnswer::FixedSize + 1, ShortStringSize(r.Name)}))) return false;
  s.WriteWord(r.Code);
  WriteHash(s, r.Hash);
  s.WriteInteger(r.FileSize);
  s.WriteInteger(r.UserID);
  s.WriteByte(r.DownType);
  s.WriteByte(r.Status);
  s.WriteShortString(r.Name);
  return true;
}

bool ReadPeerFileAnswer(const void* data, size_t length, TPeerFileAnswer& r) {
  TCmdStream s;
  if (!Open(s, data, length, Cmd::PeerFileAnswer, TPeerFileAnswer::FixedSize)) {
    if (!Open(s, data, length, Cmd::PeerTransfer53, TPeerFileAnswer::FixedSize)) return false;
    r.Code = Cmd::PeerTransfer53;
  } else {
    r.Code = Cmd::PeerFileAnswer;
  }
  ReadHash(s, r.Hash);
  r.FileSize = s.ReadInteger(0);
  r.UserID = s.ReadInteger(0);
  r.DownType = s.ReadByte(0);
  r.Status = s.ReadByte(FileAnswer::NotFound);
  r.Name.clear();
  return s.Remaining() == 0 || ReadShortString(s, r.Name);
}

bool WritePeerBlockRequest(TCmdStream& s, const TPeerBlockRequest& r) {
  if (r.Blocks.size() > TPeerBlockRequest::MaxBlocks) return false;
  if (!Fits(s, TPeerBlockRequest::FixedSize + 4 * r.Blocks.size())) return false;
  s.WriteWord(TPeerBlockRequest::Code);
  WriteHash(s, r.Hash);
  s.WriteInteger(r.RequesterID);
  s.WriteByte(r.DownType);
  s.WriteByte(uint8_t(r.Blocks.size()));
  for (int32_t b : r.Blocks) s.WriteInteger(b);
  return true;
}

bool ReadPeerBlockRequest(const void* data, size_t length, TPeerBlockRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPeerBlockRequest::Code, TPeerBlockRequest::FixedSize)) return false;
  ReadHash(s, r.Hash);
  r.RequesterID = s.ReadInteger(0);
  r.DownType = s.ReadByte(0);
  const size_t n = s.ReadByte(0);
  // Every number the count announces must have arrived: a cut request is not half served.
  if (size_t(s.Remaining()) < 4 * n) return false;
  r.Blocks.resize(n);
  for (int32_t& b : r.Blocks) b = s.ReadInteger(-1);
  return true;
}

bool WriteHashSourcesRequest(TCmdStream& s, const THashSourcesRequest& r) {
  if (!Fits(s, THashSourcesRequest::FixedSize)) return false;
  s.WriteWord(THashSourcesRequest::Code);
  WriteHash(s, r.Hash);
  s.WriteInteger(r.RequesterID);
  s.WriteByte(r.NatType);
  return true;
}

bool ReadHashSourcesRequest(const void* data, size_t length, THashSourcesRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, THashSourcesRequest::Code, THashSourcesRequest::FixedSize)) return false;
  ReadHash(s, r.Hash);
  r.RequesterID = s.ReadInteger(0);
  r.NatType = s.ReadByte(0);
  return true;
}

bool WriteHashSourcesAnswer(TCmdStream& s, const THashSourcesAnswer& r) {
  if (r.Sources.size() > THashSourcesAnswer::MaxSources) return false;
  if (!Fits(s, THashSourcesAnswer::FixedSize + THashSourcesAnswer::RecordSize * r.Sources.size())) return false;
  for (const TPeerSource& p : r.Sources)
    if (p.UserID < 0) return false;  // a negative number ends the list
  s.WriteWord(THashSourcesAnswer::Code);
  WriteHash(s, r.Hash);
  s.WriteWord(Status::OK);
  for (const TPeerSource& p : r.Sources) {
    s.WriteInteger(p.UserID);
    s.WriteInteger(int32_t(p.IP));
    s.WriteWord(p.Port);
    s.WriteByte(p.NatType);
  }
  return true;
}

bool ReadHashSourcesAnswer(const void* data, size_t length, THashSourcesAnswer& r) {
  TCmdStream s;
  if (!Open(s, data, length, THashSourcesAnswer::Code, THashSourcesAnswer::FixedSize)) return false;
  ReadHash(s, r.Hash);
  if (s.ReadWord(0) != Status::OK) return false;
  r.Sources.clear();
  while (s.Remaining() > 0) {
    if (s.Remaining() < 4) return false;
    TPeerSource p;
    p.UserID = s.ReadInteger(-1);
    if (p.UserID < 0) break;
    if (size_t(s.Remaining()) < THashSourcesAnswer::RecordSize - 4) return false;
    if (r.Sources.size() == THashSourcesAnswer::MaxSources) return false;
    p.IP = uint32_t(s.ReadInteger(0));
    p.Port = s.ReadWord(0);
    p.NatType = s.ReadByte(0);
    r.Sources.push_back(p);
  }
  return true;
}

bool WriteTransferBlock(TCmdStream& s, const TTransferBlock& r) {
  if (r.Length > TransferBlockBytes || (r.Length > 0 && !r.Data) || (r.Block < 0 && r.Length > 0)) return false;
  if (!Fits(s, TTransferBlock::FixedSize + r.Length)) return false;
  WriteHash(s, r.Hash);
  s.WriteInteger(r.SenderID);
  s.WriteByte(r.DownType);
  s.WriteInteger(r.Block);
  s.WriteWord(uint16_t(r.Length));
  if (r.Length) s.WriteBuffer(r.Data, int32_t(r.Length));
  return true;
}

bool ReadTransferBlock(const void* data, size_t length, TTransferBlock& r) {
  if (!data || length < TTransferBlock::FixedSize || length > TTransferBlock::FixedSize + TransferBlockBytes)
    return false;
  TCmdStream s;
  s.InitRead(data, int32_t(length));
  ReadHash(s, r.Hash);
  r.SenderID = s.ReadInteger(0);
  r.DownType = s.ReadByte(0);
  r.Block = s.ReadInteger(-1);
  r.Length = s.ReadWord(0);
  // The length word must say exactly what arrived: a packet that claims more (or less) is not
  // written anywhere.
  if (r.Length != size_t(s.Remaining()) || (r.Block < 0 && r.Length > 0)) return false;
  r.Data = static_cast<const uint8_t*>(data) + TTransferBlock::FixedSize;
  return true;
}

namespace {

// Attaches data to s and reads an old request's 32-bit code: false unless at least fixed bytes
// arrived and the code is one of codes.
bool OpenOld(TCmdStream& s, const void* data, size_t length, size_t fixed, std::initializer_list<int32_t> codes,
             int32_t& code) {
  if (!data || length < fixed || length > size_t(INT32_MAX)) return false;
  s.InitRead(data, int32_t(length));
  code = s.ReadInteger(0);
  for (int32_t c : codes)
    if (c == code) return true;
  return false;
}

// A tagged field's text; false when its length is outside the block's bounds or its body did
// not all arrive. The tag is not checked: old clients send their fields in a fixed order.
bool ReadTagged(TCmdStream& s, std::string& text) {
  int32_t tag = 0;
  return s.Remaining() >= 8 && s.ReadBlock(tag, text);
}

size_t TaggedSize(std::string_view text) {
  return text.size() <= size_t(TCmdStream::MaxBlockLength - 4) ? 8 + text.size() : SIZE_MAX;
}

// A whole decimal number of 32 bits (a sign allowed); false for anything else.
bool ParseDecimal(std::string_view text, int32_t& value) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && p == end && !text.empty();
}

bool ReadPeerNumber(TCmdStream& s, int32_t& id) {
  std::string text;
  return ReadTagged(s, text) && ParseDecimal(text, id) && id > 0;
}

}  // namespace

std::string OldFileKey(std::string_view fileName, int64_t size) {
  const size_t slash = fileName.find_last_of("/\\");
  std::string key(slash == std::string_view::npos ? fileName : fileName.substr(slash + 1));
  key += '\3';
  key += std::to_string(size);
  return LowerOldFileKey(key);
}

std::string LowerOldFileKey(std::string_view key) { return ToLowerAscii(key); }

bool SplitOldFileKey(std::string_view key, std::string& name, int64_t& size) {
  const size_t mark = key.rfind('\3');
  if (mark == std::string_view::npos || mark == 0) return false;
  const std::string_view digits = key.substr(mark + 1);
  const auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
  if (ec != std::errc() || p != digits.data() + digits.size() || digits.empty() || size <= 0) return false;
  name.assign(key.substr(0, mark));
  return true;
}

bool WriteRandomSongs(TCmdStream& s, const TRandomSongs& r) {
  if (r.Songs.empty() || r.Songs.size() > TRandomSongs::MaxBytes) return false;
  if (!Fits(s, TRandomSongs::FixedSize + r.Songs.size())) return false;
  s.WriteWord(TRandomSongs::Code);
  WriteHash(s, r.Hash);
  s.WriteInteger(r.UserID);
  s.WriteBuffer(r.Songs.data(), int32_t(r.Songs.size()));
  return true;
}

bool ReadRandomSongs(const void* data, size_t length, TRandomSongs& r) {
  TCmdStream s;
  if (!Open(s, data, length, TRandomSongs::Code, TRandomSongs::FixedSize)) return false;
  const size_t n = length - TRandomSongs::FixedSize;
  if (n == 0 || n > TRandomSongs::MaxBytes) return false;
  ReadHash(s, r.Hash);
  r.UserID = s.ReadInteger(0);
  const uint8_t* body = static_cast<const uint8_t*>(data) + TRandomSongs::FixedSize;
  r.Songs.assign(body, body + n);
  return true;
}

bool WriteOldFileNotice(TCmdStream& s, const TOldFileNotice& r) {
  if (!Fits(s, Total({TOldFileNotice::FixedSize - 2, ShortStringSize(r.Text), ShortStringSize(r.FileKey)})))
    return false;
  s.WriteWord(TOldFileNotice::Code);
  s.WriteInteger(r.First);
  s.WriteInteger(r.Second);
  s.WriteWord(r.Word);
  s.WriteInteger(r.RequestNumber);
  s.WriteByte(r.Byte);
  s.WriteShortString(r.Text);
  s.WriteShortString(r.FileKey);
  return true;
}

bool ReadOldFileNotice(const void* data, size_t length, TOldFileNotice& r) {
  TCmdStream s;
  if (!Open(s, data, length, TOldFileNotice::Code, TOldFileNotice::FixedSize)) return false;
  r.First = s.ReadInteger(0);
  r.Second = s.ReadInteger(0);
  r.Word = s.ReadWord(0);
  r.RequestNumber = s.ReadInteger(0);
  r.Byte = s.ReadByte(0);
  return r.First >= 0 && r.RequestNumber >= 0 && ReadShortString(s, r.Text) && ReadShortString(s, r.FileKey);
}

bool WriteOldPeerRequest(TCmdStream& s, const TOldPeerRequest& r) {
  if (r.Code != Cmd::PeerRequestOld36 && r.Code != TOldPeerRequest::StopCode) return false;
  const std::string id = std::to_string(r.PeerID);
  if (!Fits(s, Total({4, TaggedSize(r.FileKey), TaggedSize(id)}))) return false;
  s.WriteInteger(r.Code);
  s.WriteBlock(OldTag::FileKey, r.FileKey);
  s.WriteBlock(OldTag::UserID, id);
  return true;
}

bool ReadOldPeerRequest(const void* data, size_t length, TOldPeerRequest& r) {
  TCmdStream s;
  return OpenOld(s, data, length, TOldPeerRequest::FixedSize, {Cmd::PeerRequestOld36, TOldPeerRequest::StopCode},
                 r.Code) &&
         ReadTagged(s, r.FileKey) && ReadPeerNumber(s, r.PeerID);
}

bool WriteOldBlockRequest(TCmdStream& s, const TOldBlockRequest& r) {
  if (r.Blocks.size() > TOldBlockRequest::MaxBlocks) return false;
  std::string list;
  for (int32_t b : r.Blocks) list += (list.empty() ? "" : ",") + std::to_string(b);
  const std::string id = std::to_string(r.PeerID);
  if (!Fits(s, Total({4, TaggedSize(r.FileKey), TaggedSize(list), TaggedSize(id)}))) return false;
  s.WriteInteger(TOldBlockRequest::Code);
  s.WriteBlock(OldTag::FileKey, r.FileKey);
  s.WriteBlock(OldTag::Block, list);
  s.WriteBlock(OldTag::UserID, id);
  return true;
}

bool ReadOldBlockRequest(const void* data, size_t length, TOldBlockRequest& r) {
  TCmdStream s;
  int32_t code = 0;
  std::string list;
  if (!OpenOld(s, data, length, TOldBlockRequest::FixedSize, {TOldBlockRequest::Code}, code) ||
      !ReadTagged(s, r.FileKey) || !ReadTagged(s, list) || !ReadPeerNumber(s, r.PeerID))
    return false;
  r.Blocks.clear();
  for (size_t from = 0; !list.empty() && r.Blocks.size() < TOldBlockRequest::MaxBlocks;) {
    const size_t comma = std::min(list.find(',', from), list.size());
    int32_t b = -1;
    if (!ParseDecimal(std::string_view(list).substr(from, comma - from), b)) b = -1;
    r.Blocks.push_back(b);
    if (comma == list.size()) break;
    from = comma + 1;
  }
  return true;
}

bool WriteOldNoticeAnswer(TCmdStream& s, int32_t requestNumber, uint8_t natType) {
  const std::string number = std::to_string(requestNumber), nat = std::to_string(natType);
  if (!Fits(s, Total({4, TaggedSize(number), TaggedSize(nat), TaggedSize("8")}))) return false;
  s.WriteInteger(OldAnswer::Notice);
  s.WriteBlock(OldTag::RequestNumber, number);
  s.WriteBlock(OldTag::NatType, nat);
  s.WriteBlock(OldTag::Status, "8");
  return true;
}

bool WriteOldFileAnswer(TCmdStream& s, std::string_view fileKey, int32_t userID, std::string_view digestOrStatus) {
  const std::string id = std::to_string(userID);
  if (!Fits(s, Total({4, TaggedSize(fileKey), TaggedSize(id), TaggedSize(digestOrStatus)}))) return false;
  s.WriteInteger(OldAnswer::File);
  s.WriteBlock(OldTag::FileKey, fileKey);
  s.WriteBlock(OldTag::UserID, id);
  s.WriteBlock(OldTag::Digest, digestOrStatus);
  return true;
}

bool WriteOldDataPacket(TCmdStream& s, const TOldDataPacket& r) {
  if (r.Length > TransferBlockBytes || (r.Length > 0 && !r.Data)) return false;
  const std::string block = std::to_string(r.Block), id = std::to_string(r.SenderID);
  const size_t fields = Total({TaggedSize(r.FileKey), TaggedSize(block), TaggedSize(id), TaggedSize("300")});
  if (!Fits(s, Total({5, fields, r.Length}))) return false;
  s.WriteByte(TOldDataPacket::Kind);
  s.WriteInteger(int32_t(fields));
  s.WriteBlock(OldTag::FileKey, r.FileKey);
  s.WriteBlock(OldTag::Block, block);
  s.WriteBlock(OldTag::UserID, id);
  s.WriteBlock(OldTag::Version, "300");
  if (r.Length) s.WriteBuffer(r.Data, int32_t(r.Length));
  return true;
}

bool ReadOldDataPacket(const void* data, size_t length, TOldDataPacket& r) {
  if (!data || length < 5 || length > size_t(INT32_MAX)) return false;
  TCmdStream s;
  s.InitRead(data, int32_t(length));
  if (s.ReadByte(0) != TOldDataPacket::Kind) return false;
  const int32_t fields = s.ReadInteger(-1);
  if (fields < 0 || fields > s.Remaining()) return false;
  const int32_t dataAt = s.Position() + fields;
  std::string block, id, version;
  if (!ReadTagged(s, r.FileKey) || !ReadTagged(s, block) || !ReadTagged(s, id) || !ReadTagged(s, version) ||
      s.Position() != dataAt || !ParseDecimal(block, r.Block) || !ParseDecimal(id, r.SenderID))
    return false;
  r.Length = length - size_t(dataAt);
  if (r.Length > TransferBlockBytes) return false;
  r.Data = static_cast<const uint8_t*>(data) + dataAt;
  return true;
}

}  // namespace ml
