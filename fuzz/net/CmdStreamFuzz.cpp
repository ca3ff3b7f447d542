// Drives every reader of TCmdStream over arbitrary bytes, the operations chosen by the bytes
// themselves, and copies what it reads into a second stream of fixed capacity.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/LRCmdStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ml::TCmdStream;
  if (size > 1 << 16) return 0;
  TCmdStream in, out;
  in.InitRead(data, int32_t(size));
  uint8_t outBuf[1500];
  out.InitWrite(outBuf, sizeof outBuf);
  uint8_t scratch[2048];
  std::string text;
  for (int step = 0; step < 4096 && in.Remaining() > 0; ++step) {
    const int32_t before = in.Position();
    switch (in.ReadByte(0) % 9) {
      case 0: out.WriteByte(in.ReadByte(0)); break;
      case 1: out.WriteWord(in.ReadWord(0xFFFF)); break;
      case 2: out.WriteInteger(in.ReadInteger(-1)); break;
      case 3: {
        const int32_t count = in.ReadWord(0) % sizeof scratch;
        if (in.ReadBuffer(scratch, count)) out.WriteBuffer(scratch, count);
        break;
      }
      case 4: in.ReadShortString(text); out.WriteShortString(text); break;
      case 5: in.ReadWordString(text); out.WriteBuffer(text.data(), int32_t(text.size())); break;
      case 6: {
        int32_t value = 0;
        if (in.ReadBlock(value, text)) out.WriteBlock(value, text);
        break;
      }
      case 7: {
        const int32_t offset = in.ReadInteger(0);
        in.Seek(offset, in.ReadByte(0) % 4);
        // Never go backwards forever: a seek that rewinds ends the run.
        if (in.Position() <= before) return 0;
        break;
      }
      default: out.Seek(in.ReadInteger(0), in.ReadByte(0) % 3); out.WriteByte(1, true); break;
    }
    if (in.Position() < 0 || in.Position() > in.Size()) std::abort();
    if (out.Size() > out.Capacity() || out.Position() > out.Capacity() || out.Position() < 0) std::abort();
    if (text.size() > 8191) std::abort();
  }
  return 0;
}
