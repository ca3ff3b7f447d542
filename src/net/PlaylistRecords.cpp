#include "net/PlaylistRecords.h"

#include "net/RecordCodec.h"

namespace ml {

using namespace RecordCodec;

namespace {
// A part's bytes behind their length word: the length must be within limit and all of it there.
bool ReadPartData(TCmdStream& s, size_t limit, std::string& data) {
  if (s.Remaining() < 2) return false;
  const int32_t length = s.ReadWord(0);
  if (size_t(length) > limit || length > s.Remaining()) return false;
  data.assign(reinterpret_cast<const char*>(s.Buffer() + s.Position()), size_t(length));
  s.Seek(length, 1);
  return true;
}
}  // namespace

bool WritePlaylistUploadStart(TCmdStream& s, const TPlaylistUploadStart& r) {
  if (!Fits(s, TPlaylistUploadStart::FixedSize)) return false;
  s.WriteWord(TPlaylistUploadStart::Code);
  s.WriteInteger(r.UserID);
  s.WriteByte(0);
  s.WriteByte(r.PartCount);
  s.WriteInteger(r.Length);
  s.WriteInteger(r.LoginKey);
  return true;
}

bool ReadPlaylistUploadStart(const void* data, size_t length, TPlaylistUploadStart& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPlaylistUploadStart::Code, TPlaylistUploadStart::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  s.ReadByte(0);
  r.PartCount = s.ReadByte(0);
  r.Length = s.ReadInteger(0);
  r.LoginKey = s.ReadInteger(0);
  return true;
}

bool WritePlaylistUploadPart(TCmdStream& s, const TPlaylistUploadPart& r) {
  if (r.Data.size() > PlaylistData::UploadPartBytes || !Fits(s, TPlaylistUploadPart::FixedSize + r.Data.size()))
    return false;
  s.WriteWord(TPlaylistUploadPart::Code);
  s.WriteInteger(r.UserID);
  s.WriteInteger(r.LoginKey);
  s.WriteByte(r.Part);
  WriteWordString(s, r.Data);
  return true;
}

bool ReadPlaylistUploadPart(const void* data, size_t length, TPlaylistUploadPart& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPlaylistUploadPart::Code, TPlaylistUploadPart::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.LoginKey = s.ReadInteger(0);
  r.Part = s.ReadByte(0);
  return ReadPartData(s, PlaylistData::UploadPartBytes, r.Data);
}

bool WritePlaylistUploadAck(TCmdStream& s, const TPlaylistUploadAck& r) {
  if (!Fits(s, TPlaylistUploadAck::FixedSize)) return false;
  s.WriteWord(TPlaylistUploadAck::Code);
  s.WriteInteger(r.UserID);
  s.WriteInteger(int32_t(r.Received));
  return true;
}

bool ReadPlaylistUploadAck(const void* data, size_t length, TPlaylistUploadAck& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPlaylistUploadAck::Code, TPlaylistUploadAck::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.Received = uint32_t(s.ReadInteger(0));
  return true;
}

bool WritePlaylistDownloadStart(TCmdStream& s, const TPlaylistDownloadStart& r) {
  if (!Fits(s, TPlaylistDownloadStart::FixedSize)) return false;
  s.WriteWord(TPlaylistDownloadStart::Code);
  s.WriteInteger(r.UserID);
  s.WriteInteger(r.LoginKey);
  return true;
}

bool ReadPlaylistDownloadStart(const void* data, size_t length, TPlaylistDownloadStart& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPlaylistDownloadStart::Code, TPlaylistDownloadStart::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.LoginKey = s.ReadInteger(0);
  return true;
}

bool WritePlaylistStartReply(TCmdStream& s, const TPlaylistStartReply& r) {
  const size_t size = r.Status == Status::OK ? TPlaylistStartReply::AcceptedSize : r.Status == Status::Refused ? 4 : 2;
  if (!Fits(s, size)) return false;
  s.WriteWord(r.Status);
  if (r.Status == Status::Refused) s.WriteWord(r.Refusal);
  if (r.Status != Status::OK) return true;
  s.WriteByte(0);
  s.WriteByte(r.PartCount);
  s.WriteInteger(r.Length);
  return true;
}

bool ReadPlaylistStartReply(const void* data, size_t length, TPlaylistStartReply& r) {
  if (!data || length < TPlaylistStartReply::FixedSize || length > size_t(INT32_MAX)) return false;
  TCmdStream s;
  s.InitRead(data, int32_t(length));
  r = TPlaylistStartReply();
  r.Status = s.ReadWord(0);
  if (r.Status == Status::Refused) r.Refusal = s.ReadWord(0xFFFF);
  if (r.Status != Status::OK) return true;
  if (length < TPlaylistStartReply::AcceptedSize) return false;
  s.ReadByte(0);
  r.PartCount = s.ReadByte(0);
  r.Length = s.ReadInteger(0);
  return true;
}

bool WritePlaylistPartRequest(TCmdStream& s, const TPlaylistPartRequest& r) {
  if (!Fits(s, TPlaylistPartRequest::FixedSize)) return false;
  s.WriteWord(TPlaylistPartRequest::Code);
  s.WriteInteger(r.UserID);
  s.WriteInteger(r.LoginKey);
  s.WriteInteger(int32_t(r.Wanted));
  return true;
}

bool ReadPlaylistPartRequest(const void* data, size_t length, TPlaylistPartRequest& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPlaylistPartRequest::Code, TPlaylistPartRequest::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.LoginKey = s.ReadInteger(0);
  r.Wanted = uint32_t(s.ReadInteger(0));
  return true;
}

bool WritePlaylistPart(TCmdStream& s, const TPlaylistPart& r) {
  if (r.Data.empty() || r.Data.size() > PlaylistData::DownloadPartBytes ||
      !Fits(s, TPlaylistPart::FixedSize + r.Data.size()))
    return false;
  s.WriteWord(TPlaylistPart::Code);
  s.WriteInteger(r.UserID);
  s.WriteByte(r.Part);
  WriteWordString(s, r.Data);
  return true;
}

bool ReadPlaylistPart(const void* data, size_t length, TPlaylistPart& r) {
  TCmdStream s;
  if (!Open(s, data, length, TPlaylistPart::Code, TPlaylistPart::FixedSize)) return false;
  r.UserID = s.ReadInteger(0);
  r.Part = s.ReadByte(0);
  // The part is the whole record: a length that says otherwise is a damaged datagram.
  if (!ReadPartData(s, PlaylistData::DownloadPartBytes, r.Data) || r.Data.empty()) return false;
  return length == TPlaylistPart::FixedSize + r.Data.size();
}

}  // namespace ml
