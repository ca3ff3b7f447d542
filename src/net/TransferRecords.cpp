#include "net/TransferRecords.h"

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

}  // namespace ml
