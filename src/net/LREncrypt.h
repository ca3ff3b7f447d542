#pragma once
// Datagram envelopes: their layouts, ciphers and checksums, building and opening. The command
// codes inside them are in net/WireCodes.h. Everything here works in place on caller buffers
// and allocates nothing.
//
// A datagram is at most 1460 bytes; its first byte is the envelope kind:
//   100 keyed    [100][crc16 of 3..end as sent][UserID][SerialID][parts=1][part=1][payload]
//                 bytes 3..end XOR the 16-byte key
//   101 table    [101][crc32 of 5..end plain][UserID][SerialID][payload]
//                 bytes 5..end XOR the CRC-32 table bytes from (crc mod 1024)
//   201 plain    as 101, nothing enciphered
//    57 trailer  [57][bare envelope, kind 48, no part text][xor checksum][57]
//                 bytes 1..14+n XOR the key shifted by one
//    50 transfer [50][crc32 of 5..end][data]                              (no identity)
//   110 probe    answered at once with the receive queue's length         (no identity)
//    49 ignored
//   other bare   [kind][UserID][SerialID][m+48][part text "k/n", m bytes][L][payload, L bytes]
#include <cstddef>
#include <cstdint>

namespace ml {

struct TLRGUID {
  int32_t UserID = 0;
  int32_t SerialID = 0;
  bool operator==(const TLRGUID&) const = default;
};

namespace Envelope {
constexpr uint8_t Keyed = 100;
constexpr uint8_t Table = 101;
constexpr uint8_t Plain = 201;
constexpr uint8_t Trailer = 57;
constexpr uint8_t TransferData = 50;
constexpr uint8_t LoadProbe = 110;
constexpr uint8_t Ignored = 49;
// Kind byte of the bare envelope inside a trailer envelope ('0').
constexpr uint8_t TrailerInner = 48;

constexpr size_t MaxDatagram = 1460;
constexpr size_t MaxPayload = 1447;          // keyed, table, plain
constexpr size_t MaxTrailerPayload = 1436;   // trailer
constexpr size_t MinDatagram = 10;           // anything shorter is dropped unread
constexpr int32_t MaxBareLength = 1536;      // the largest L a bare envelope may announce
constexpr size_t KeyedHeader = 13;
constexpr size_t TableHeader = 13;
constexpr size_t TransferHeader = 5;
constexpr size_t TrailerOverhead = 17;
constexpr size_t LoadProbeAnswer = 21;
constexpr size_t LoadProbeMinimum = 17;
// Highest SerialID that the fixed slot table of waiters can hold.
constexpr int32_t MaxSlotSerial = 999;
}  // namespace Envelope

// The packet key: "#Tqe~7kRV38=" + GBK of U+4ED6 + "yo", 16 bytes.
extern const uint8_t PacketKey[16];
// The CRC-32 lookup table as 1024 bytes, each entry least significant byte first.
const uint8_t* Crc32KeyTable();

// CRC-16/MCRF4XX (reflected 0x8408, init 0xFFFF, no final XOR). "123456789" -> 0x6F91.
uint16_t Crc16(const void* data, size_t count);
// CRC-32/JAMCRC (reflected 0xEDB88320, init 0xFFFFFFFF, no final XOR). "123456789" -> 0x340BC6D9.
uint32_t Crc32(const void* data, size_t count);

// Keyed cipher over offset 3..end: XOR with the key from key byte 0.
uint16_t EncodeKeyed(uint8_t* data, size_t count);  // enciphers, returns CRC-16 of the result
uint16_t DecodeKeyed(uint8_t* data, size_t count);  // returns CRC-16 as received, then deciphers
// Table cipher over offset 5..end.
uint32_t EncodeTable(uint8_t* data, size_t count);  // CRC-32 of the plaintext, then enciphers
bool DecodeTable(uint8_t* data, size_t count, uint32_t crc);
// Trailer cipher from offset 1: enciphers count bytes and writes the checksum and 57 into
// data[count] and data[count + 1] (the caller's buffer must hold count + 2 bytes).
void EncodeTrailer(uint8_t* data, size_t count);
// count includes the checksum and the final 57; fails before touching anything unless count >= 2
// and the last byte is 57.
bool DecodeTrailer(uint8_t* data, size_t count);

// Builders write a whole datagram into out (room for outCap bytes) and return its length; they
// return 0 and write nothing for an empty or oversized payload or too small an out buffer.
// payload may overlap out only if it is out itself shifted by the header (not supported): pass
// separate buffers.
size_t BuildKeyed(uint8_t* out, size_t outCap, TLRGUID guid, const void* payload, size_t length);
size_t BuildTable(uint8_t* out, size_t outCap, TLRGUID guid, const void* payload, size_t length);
size_t BuildPlain(uint8_t* out, size_t outCap, TLRGUID guid, const void* payload, size_t length);
size_t BuildTrailer(uint8_t* out, size_t outCap, TLRGUID guid, const void* payload, size_t length);
// A bare envelope with the given kind byte and part text (0..9 bytes, e.g. "1/1", or empty).
size_t BuildBare(uint8_t* out, size_t outCap, uint8_t kind, TLRGUID guid, const char* partText,
                 const void* payload, size_t length);
// Transfer data: [50][crc32][data]; data of 1..1455 bytes.
size_t BuildTransferData(uint8_t* out, size_t outCap, const void* data, size_t length);
// Builds the reply envelope of the given kind, as a server or a read handler answers: table for
// table, plain for plain, keyed for keyed, trailer for trailer and bare.
size_t BuildReply(uint8_t kind, uint8_t* out, size_t outCap, TLRGUID guid, const void* payload,
                  size_t length);

// True for a kind byte that opens as a bare envelope.
bool IsBareKind(uint8_t kind);

// What opening a datagram found. Payload points into the datagram that was opened.
struct TOpenedEnvelope {
  uint8_t Kind = 0;          // the outer kind byte (57 for a trailer envelope)
  TLRGUID Guid;              // zero for transfer data
  int PartNumber = 1;
  int PartCount = 1;
  const uint8_t* Payload = nullptr;
  size_t PayloadLength = 0;
};

// Opens a received datagram in place (it is deciphered as it is checked). Returns true only for a
// deliverable message: a good checksum, every length within the datagram, part 1 of 1 and a
// payload of at least one byte. Kinds 49 and 110 are never deliverable here (the probe is answered
// before opening). On false, out is unspecified and the datagram may be half deciphered.
bool OpenEnvelope(uint8_t* datagram, size_t length, TOpenedEnvelope& out);

// True when a kind-50 datagram's CRC-32 matches; data is then bytes 5..end.
bool CheckTransferData(const uint8_t* datagram, size_t length);

}  // namespace ml
