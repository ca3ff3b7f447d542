#include "net/LREncrypt.h"

#include "base/ByteOrder.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace ml {

const uint8_t PacketKey[16] = {'#', 'T', 'q', 'e', '~', '7', 'k', 'R',
                               'V', '3', '8', '=', 0xCB, 0xFB, 'y', 'o'};

namespace {

struct Tables {
  std::array<uint16_t, 256> crc16{};
  std::array<uint32_t, 256> crc32{};
  std::array<uint8_t, 1024> keyTable{};
  Tables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c16 = i, c32 = i;
      for (int b = 0; b < 8; ++b) {
        c16 = (c16 & 1) ? (c16 >> 1) ^ 0x8408u : c16 >> 1;
        c32 = (c32 & 1) ? (c32 >> 1) ^ 0xEDB88320u : c32 >> 1;
      }
      crc16[i] = uint16_t(c16);
      crc32[i] = c32;
      for (int b = 0; b < 4; ++b) keyTable[i * 4 + b] = uint8_t(c32 >> (8 * b));
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

void PutGuid(uint8_t* p, TLRGUID g) {
  StoreLE32(p, uint32_t(g.UserID));
  StoreLE32(p + 4, uint32_t(g.SerialID));
}
TLRGUID GetGuid(const uint8_t* p) { return {int32_t(LoadLE32(p)), int32_t(LoadLE32(p + 4))}; }

void XorKey(uint8_t* data, size_t count, size_t keyStart) {
  for (size_t j = 0; j < count; ++j) data[j] ^= PacketKey[(j + keyStart) & 15];
}

void XorTable(uint8_t* data, size_t count, uint32_t crc) {
  const auto& table = T().keyTable;
  const size_t start = crc % 1024;
  for (size_t j = 0; j < count; ++j) data[j] ^= table[(start + j) & 1023];
}

bool PayloadFits(const void* payload, size_t length, size_t maxPayload) {
  return payload && length >= 1 && length <= maxPayload;
}

// Table and plain envelopes share one layout.
size_t BuildCrc32Envelope(uint8_t kind, bool encipher, uint8_t* out, size_t outCap, TLRGUID guid,
                          const void* payload, size_t length) {
  if (!out || !PayloadFits(payload, length, Envelope::MaxPayload)) return 0;
  const size_t total = Envelope::TableHeader + length;
  if (outCap < total) return 0;
  out[0] = kind;
  PutGuid(out + 5, guid);
  std::memmove(out + 13, payload, length);
  const uint32_t crc = encipher ? EncodeTable(out + 5, total - 5) : Crc32(out + 5, total - 5);
  StoreLE32(out + 1, crc);
  return total;
}

// Parses a decimal part number of the part text; anything that is not all digits counts as 0.
int ParsePartNumber(const uint8_t* p, size_t n) {
  if (n == 0 || n > 9) return 0;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return 0;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

bool OpenBare(const uint8_t* d, size_t length, TOpenedEnvelope& out) {
  if (length < 14) return false;
  out.Guid = GetGuid(d + 1);
  if (d[9] < 48 || d[9] > 48 + 9) return false;
  const size_t m = d[9] - 48;
  if (length < 14 + m) return false;
  if (m == 0) {
    out.PartNumber = out.PartCount = 1;
  } else {
    const uint8_t* text = d + 10;
    const void* slash = std::memchr(text, '/', m);
    if (!slash) return false;
    const size_t at = size_t(static_cast<const uint8_t*>(slash) - text);
    out.PartNumber = ParsePartNumber(text, at);
    out.PartCount = ParsePartNumber(text + at + 1, m - at - 1);
    if (out.PartNumber < 1 || out.PartNumber > out.PartCount || out.PartCount > 32) return false;
  }
  const int32_t declared = int32_t(LoadLE32(d + 10 + m));
  if (declared < 0 || declared > Envelope::MaxBareLength) return false;
  const size_t start = 14 + m;
  if (size_t(declared) > length - start) return false;
  out.Payload = d + start;
  out.PayloadLength = size_t(declared);
  // Parts are never reassembled: only a whole message (part 1 of 1) is delivered.
  return out.PartNumber == 1 && out.PartCount == 1;
}

}  // namespace

const uint8_t* Crc32KeyTable() { return T().keyTable.data(); }

uint16_t Crc16(const void* data, size_t count) {
  const auto& table = T().crc16;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) crc = uint16_t(table[(p[i] ^ crc) & 0xFF] ^ (crc >> 8));
  return crc;
}

uint32_t Crc32(const void* data, size_t count) {
  // The reflected CRC-32 from all ones, without the final inversion zlib applies: zlib's, which
  // takes several bytes a step (a byte a step was an eighth of a download's CPU).
  uint32_t crc = 0;
  const auto* p = static_cast<const Bytef*>(data);
  for (size_t left = count; left > 0;) {
    const uInt step = uInt(std::min<size_t>(left, 1u << 30));
    crc = uint32_t(::crc32(crc, p, step));
    p += step;
    left -= step;
  }
  return ~crc;
}

uint16_t EncodeKeyed(uint8_t* data, size_t count) {
  XorKey(data, count, 0);
  return Crc16(data, count);
}

uint16_t DecodeKeyed(uint8_t* data, size_t count) {
  const uint16_t crc = Crc16(data, count);
  XorKey(data, count, 0);
  return crc;
}

uint32_t EncodeTable(uint8_t* data, size_t count) {
  const uint32_t crc = Crc32(data, count);
  XorTable(data, count, crc);
  return crc;
}

bool DecodeTable(uint8_t* data, size_t count, uint32_t crc) {
  XorTable(data, count, crc);
  return Crc32(data, count) == crc;
}

void EncodeTrailer(uint8_t* data, size_t count) {
  uint8_t sum = 100;
  for (size_t j = 0; j < count; ++j) {
    sum ^= data[j];
    data[j] ^= PacketKey[(j + 1) & 15];
  }
  data[count] = sum;
  data[count + 1] = Envelope::Trailer;
}

bool DecodeTrailer(uint8_t* data, size_t count) {
  if (!data || count < 2 || data[count - 1] != Envelope::Trailer) return false;
  const size_t body = count - 2;
  uint8_t sum = 100;
  for (size_t j = 0; j < body; ++j) {
    data[j] ^= PacketKey[(j + 1) & 15];
    sum ^= data[j];
  }
  return sum == data[count - 2];
}

size_t BuildKeyed(uint8_t* out, size_t outCap, TLRGUID guid, const void* payload, size_t length) {
  if (!out || !PayloadFits(payload, length, Envelope::MaxPayload)) return 0;
  const size_t total = Envelope::KeyedHeader + length;
  if (outCap < total) return 0;
  out[0] = Envelope::Keyed;
  PutGuid(out + 3, guid);
  out[11] = 1;
  out[12] = 1;
  std::memmove(out + 13, payload, length);
  StoreLE16(out + 1, EncodeKeyed(out + 3, total - 3));
  return total;
}

size_t BuildTable(uint8_t* out, size_t outCap, TLRGUID guid, const void* payload, size_t length) {
  return BuildCrc32Envelope(Envelope::Table, true, out, outCap, guid, payload, length);
}

size_t BuildPlain(uint8_t* out, size_t outCap, TLRGUID guid, const void* payload, size_t length) {
  return BuildCrc32Envelope(Envelope::Plain, false, out, outCap, guid, payload, length);
}

size_t BuildTrailer(uint8_t* out, size_t outCap, TLRGUID guid, const void* payload, size_t length) {
  if (!out || !PayloadFits(payload, length, Envelope::MaxTrailerPayload)) return 0;
  const size_t total = Envelope::TrailerOverhead + length;
  if (outCap < total) return 0;
  out[0] = Envelope::Trailer;
  out[1] = Envelope::TrailerInner;
  PutGuid(out + 2, guid);
  out[10] = '0';
  StoreLE32(out + 11, uint32_t(length));
  std::memmove(out + 15, payload, length);
  EncodeTrailer(out + 1, 14 + length);
  return total;
}

size_t BuildBare(uint8_t* out, size_t outCap, uint8_t kind, TLRGUID guid, const char* partText,
                 const void* payload, size_t length) {
  const size_t m = partText ? std::strlen(partText) : 0;
  if (!out || m > 9 || !PayloadFits(payload, length, Envelope::MaxDatagram)) return 0;
  const size_t total = 14 + m + length;
  if (total > Envelope::MaxDatagram || outCap < total) return 0;
  out[0] = kind;
  PutGuid(out + 1, guid);
  out[9] = uint8_t(48 + m);
  if (m) std::memcpy(out + 10, partText, m);
  StoreLE32(out + 10 + m, uint32_t(length));
  std::memmove(out + 14 + m, payload, length);
  return total;
}

size_t BuildTransferData(uint8_t* out, size_t outCap, const void* data, size_t length) {
  if (!out || !PayloadFits(data, length, Envelope::MaxDatagram - Envelope::TransferHeader)) return 0;
  const size_t total = Envelope::TransferHeader + length;
  if (outCap < total) return 0;
  out[0] = Envelope::TransferData;
  std::memmove(out + 5, data, length);
  StoreLE32(out + 1, Crc32(out + 5, length));
  return total;
}

size_t BuildReply(uint8_t kind, uint8_t* out, size_t outCap, TLRGUID guid, const void* payload,
                  size_t length) {
  switch (kind) {
    case Envelope::Keyed: return BuildKeyed(out, outCap, guid, payload, length);
    case Envelope::Table: return BuildTable(out, outCap, guid, payload, length);
    case Envelope::Plain: return BuildPlain(out, outCap, guid, payload, length);
    case Envelope::TransferData:
    case Envelope::LoadProbe:
    case Envelope::Ignored: return 0;
    default: return BuildTrailer(out, outCap, guid, payload, length);
  }
}

bool IsBareKind(uint8_t kind) {
  switch (kind) {
    case Envelope::Keyed:
    case Envelope::Table:
    case Envelope::Plain:
    case Envelope::Trailer:
    case Envelope::TransferData:
    case Envelope::LoadProbe:
    case Envelope::Ignored: return false;
    default: return true;
  }
}

bool CheckTransferData(const uint8_t* d, size_t length) {
  if (!d || length <= Envelope::TransferHeader || length > Envelope::MaxDatagram) return false;
  if (d[0] != Envelope::TransferData) return false;
  return Crc32(d + 5, length - 5) == LoadLE32(d + 1);
}

bool OpenEnvelope(uint8_t* d, size_t length, TOpenedEnvelope& out) {
  out = TOpenedEnvelope{};
  if (!d || length < Envelope::MinDatagram || length > Envelope::MaxDatagram) return false;
  out.Kind = d[0];
  switch (d[0]) {
    case Envelope::Ignored:
    case Envelope::LoadProbe: return false;
    case Envelope::TransferData:
      if (!CheckTransferData(d, length)) return false;
      out.Payload = d + 5;
      out.PayloadLength = length - 5;
      return true;
    case Envelope::Keyed: {
      if (length <= Envelope::KeyedHeader) return false;
      if (DecodeKeyed(d + 3, length - 3) != LoadLE16(d + 1)) return false;
      out.Guid = GetGuid(d + 3);
      out.PartCount = d[11];
      out.PartNumber = d[12];
      if (out.PartCount != 1 || out.PartNumber != 1) return false;
      out.Payload = d + 13;
      out.PayloadLength = length - 13;
      return true;
    }
    case Envelope::Table:
    case Envelope::Plain: {
      if (length <= Envelope::TableHeader) return false;
      const uint32_t crc = LoadLE32(d + 1);
      const bool ok = d[0] == Envelope::Table ? DecodeTable(d + 5, length - 5, crc)
                                              : Crc32(d + 5, length - 5) == crc;
      if (!ok) return false;
      out.Guid = GetGuid(d + 5);
      out.Payload = d + 13;
      out.PayloadLength = length - 13;
      return true;
    }
    case Envelope::Trailer: {
      if (length < Envelope::TrailerOverhead + 1) return false;
      if (!DecodeTrailer(d + 1, length - 1)) return false;
      // What is left between the outer kind byte and the checksum is a bare envelope.
      if (!OpenBare(d + 1, length - 3, out)) return false;
      out.Kind = Envelope::Trailer;
      return out.PayloadLength > 0;
    }
    default:
      if (!OpenBare(d, length, out)) return false;
      return out.PayloadLength > 0;
  }
}

}  // namespace ml
