#pragma once
// The decoder family: each member turns one kind of audio file into interleaved little-endian PCM
// for the engine thread. Decoders are created once by the engine and reused for every file; only
// the engine thread calls them.
#include <cstdint>
#include <cstdio>
#include <string>

namespace ml {

// What a decoder knows about the open stream. Rate is decoder-specific: bytes per second for WAV,
// the bit rate in kbit/s for MPEG; the main window shows it as the song's bit rate.
struct TDecoderFormat {
  int32_t DurationMs = 0;
  int32_t Rate = 0;
  int32_t SampleRate = 0;
  int32_t Stereo = 0;  // low byte: 1 = two channels, 0 = one
  int32_t BitsPerSample = 0;

  int Channels() const { return (Stereo & 0xFF) ? 2 : 1; }
  int BlockAlign() const { return Channels() * BitsPerSample / 8; }
};

class TDecoderModule {
public:
  virtual ~TDecoderModule() = default;
  virtual void GetFormat(TDecoderFormat& format) const { format = Format; }
  // Closes whatever is open, opens and checks the file, fills the format, positions at the first
  // audio byte. ShareWrite: the file may still be growing (a download in progress).
  virtual bool Open(const std::string& fileName, bool shareWrite) = 0;
  virtual void Close() = 0;
  // Moves so that the next Read delivers audio from that fraction (0..1) of the song.
  virtual void Seek(float fraction) = 0;
  virtual int32_t GetPositionMs() = 0;
  // Fills at most count bytes and sets count to the bytes filled (always whole sample frames).
  // False means nothing more will come; bytes filled in that same call still count.
  virtual bool Read(uint8_t* buffer, uint32_t& count) = 0;

  const std::string& FileName() const { return FileName_; }
  const TDecoderFormat& CurrentFormat() const { return Format; }

protected:
  std::string FileName_;
  TDecoderFormat Format;
};

// The file access every decoder uses: read-only; a file still being written by a download is read
// the same way (Linux lets a reader and a writer share a file without asking).
class TDecoderFile {
public:
  TDecoderFile() = default;
  ~TDecoderFile() { Close(); }
  TDecoderFile(const TDecoderFile&) = delete;
  TDecoderFile& operator=(const TDecoderFile&) = delete;

  bool Open(const std::string& name);
  void Close();
  bool IsOpen() const { return f_ != nullptr; }
  // Bytes read (short only at the end of the file or on an error).
  size_t Read(void* buffer, size_t count);
  bool SeekTo(uint64_t offset);
  uint64_t Position() const;
  // The size now; a growing file's size is asked anew each time.
  uint64_t Size() const;

private:
  FILE* f_ = nullptr;
};

}  // namespace ml
