#pragma once
// WMA files: the ASF container is read here (AsfPackets), the audio is decoded by libavcodec's
// WMA decoders (v1, v2, Pro, Lossless by the stream's format tag; the library is loaded when the
// first WMA song opens). Every payload of the audio stream goes in, fragments are put back
// together into whole media objects first, and every frame the codec gives comes out as 16-bit
// PCM; at the end the codec is drained.
#include "playback/AsfPackets.h"
#include "playback/uDecoderModule.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace ml {

struct TAvApi;

class TWMADecoder : public TDecoderModule {
public:
  static constexpr const char* kName = "WMA";

  TWMADecoder();
  ~TWMADecoder() override;
  const char* Name() const override { return kName; }
  void Close() override;
  // Lands at the start of the first whole media object of the packet at that fraction; the
  // position is that object's presentation time.
  void Seek(float fraction) override;
  int32_t GetPositionMs() override;
  bool Read(uint8_t* buffer, uint32_t& count) override;

protected:
  bool OpenInput() override;
  uint64_t ReadAheadBytes() const override { return std::max<uint64_t>(4096, PacketBytes_.size()); }

private:
  bool OpenCodec();
  // Reads and decodes the next packet (or drains the codec after the last): false when nothing
  // more will come.
  bool DecodeMore();
  void TakePayload(const TAsfPayload& p);
  void SendObject(const uint8_t* data, size_t size);
  bool ReadPacket(uint64_t index);  // into PacketBytes_
  void ReceiveFrames();
  void AppendFrame(const AVFrame& frame);
  uint64_t PacketsInFile();

  TAsfHeader Asf_;
  const TAvApi* Av_ = nullptr;  // libavcodec, loaded by the first WMA song opened
  AVCodecContext* Codec_ = nullptr;
  AVFrame* Frame_ = nullptr;
  AVPacket* Packet_ = nullptr;
  std::string PacketBytes_;
  uint64_t NextPacket_ = 0;
  bool Drained_ = false;
  // The media object being put together from its fragments.
  std::string Object_;
  uint32_t ObjectNumber_ = 0;
  bool HaveObject_ = false;
  // Decoded PCM not yet delivered (interleaved 16-bit).
  std::vector<int16_t> Pcm_;
  size_t PcmRead_ = 0;
  // Position: the time where the samples delivered since the last seek began, plus those samples.
  int64_t BaseMs_ = 0;
  uint64_t FramesDelivered_ = 0;
};

}  // namespace ml
