#pragma once
// The decoder family: each member turns one kind of audio file into interleaved little-endian PCM
// for the engine thread. Decoders are created once by the engine (from the decoder registry) and
// reused for every file; only the engine thread calls them.
#include "media/MediaSource.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ml {

// What a decoder knows about the open stream. Rate is decoder-specific: bytes per second for WAV,
// the bit rate in kbit/s for MPEG; BitRateKbps() gives it in one unit for every decoder.
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
  // The decoder's name as the player shows it ("MPEG", "WAV").
  virtual const char* Name() const = 0;
  virtual void GetFormat(TDecoderFormat& format) const { format = Format; }
  // The open stream's bit rate in kbit/s, as the main window shows it.
  virtual int32_t BitRateKbps() const { return Format.Rate; }
  // Closes whatever is open, opens and checks the file, fills the format, positions at the first
  // audio byte. ShareWrite: the file may still be growing (a download in progress), so its end
  // is asked anew as it is read; arrived, when given, says how far it has come (a download's
  // file has its full size from the start). Decoders that read bytes open the file as a source
  // and go on in OpenSource; one that needs the file itself (an input plug-in) overrides this
  // and cannot wait for data.
  virtual bool Open(const std::string& fileName, bool shareWrite,
                    std::shared_ptr<const IArrivedBytes> arrived = nullptr);
  // Opens any bytes (a file, or memory for the fuzzer); name is what FileName() reports.
  virtual bool OpenSource(std::unique_ptr<TMediaSource> source, const std::string& name);
  virtual void Close() = 0;
  // Moves so that the next Read delivers audio from that fraction (0..1) of the song.
  virtual void Seek(float fraction) = 0;
  virtual int32_t GetPositionMs() = 0;
  // Fills at most count bytes and sets count to the bytes filled (always whole sample frames).
  // False means nothing more will come; bytes filled in that same call still count.
  virtual bool Read(uint8_t* buffer, uint32_t& count) = 0;

  // In a file still arriving: the next Read would meet bytes that are not there yet. The engine
  // then does not read (a short read means the end of the song to a decoder) and waits.
  bool Starving() const { return Source_.IsOpen() && Source_.Starving(ReadAheadBytes()); }

  const std::string& FileName() const { return FileName_; }
  const TDecoderFormat& CurrentFormat() const { return Format; }
  // Why the last Open failed, when the file was of this decoder's kind but not one it plays
  // ("WAV coding IMA ADPCM ..."); empty when the file simply was not of its kind.
  const std::string& OpenError() const { return OpenError_; }

protected:
  // The byte decoders' part of OpenSource: check the stream held by Source_ and fill Format.
  virtual bool OpenInput() { return false; }
  // What must have arrived beyond the source's position before a Read of a growing file: a read
  // that gets nothing is the end of the song to every decoder. The PCM and MPEG decoders go on
  // from a short read (whole frames of what is there; libmad asks again for a frame cut off),
  // and 4 KB is more than any MPEG frame; a decoder that needs a whole packet says so.
  virtual uint64_t ReadAheadBytes() const { return 4096; }
  void SetOpenError(std::string why) { OpenError_ = std::move(why); }

  std::string FileName_;
  std::string OpenError_;
  TDecoderFormat Format;
  TSourceCursor Source_;  // the open stream of a decoder that reads bytes
};

}  // namespace ml
