#include "playback/uWMADecoder.h"

#include "base/DebugTrace.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace ml {

// libavcodec is opened the first time a WMA song is, not when the program starts: linked in, it
// and the hundred libraries behind it (video codecs, SVG, fonts) were loaded and relocated at
// every start of the player for the few users who play WMA. The headers still give the types,
// and the library of the same major version is asked for, so the structures agree.
struct TAvApi {
  decltype(&av_frame_alloc) FrameAlloc;
  decltype(&av_frame_free) FrameFree;
  decltype(&av_frame_unref) FrameUnref;
  decltype(&av_packet_alloc) PacketAlloc;
  decltype(&av_packet_free) PacketFree;
  decltype(&av_packet_unref) PacketUnref;
  decltype(&av_new_packet) NewPacket;
  decltype(&av_mallocz) Mallocz;
  decltype(&av_sample_fmt_is_planar) SampleFmtIsPlanar;
  decltype(&av_get_packed_sample_fmt) GetPackedSampleFmt;
  decltype(&av_channel_layout_default) ChannelLayoutDefault;
  decltype(&av_log_set_callback) LogSetCallback;
  decltype(&av_log_format_line) LogFormatLine;
  decltype(&avcodec_find_decoder) FindDecoder;
  decltype(&avcodec_alloc_context3) AllocContext;
  decltype(&avcodec_free_context) FreeContext;
  decltype(&avcodec_open2) Open;
  decltype(&avcodec_flush_buffers) FlushBuffers;
  decltype(&avcodec_send_packet) SendPacket;
  decltype(&avcodec_receive_frame) ReceiveFrame;
};

namespace {

#define ML_STR2(x) #x
#define ML_STR(x) ML_STR2(x)
constexpr const char* kAvCodecSoname = "libavcodec.so." ML_STR(LIBAVCODEC_VERSION_MAJOR);
constexpr const char* kAvUtilSoname = "libavutil.so." ML_STR(LIBAVUTIL_VERSION_MAJOR);
#undef ML_STR
#undef ML_STR2

void AvLogToTrace(void* avcl, int level, const char* format, va_list args);

// The table once loaded, or null with why it could not be (the same answer for every later
// call: a library missing now is missing until the program starts again).
const TAvApi* AvApi(std::string& why) {
  static TAvApi api;
  static std::string failure;
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] {
    void* util = dlopen(kAvUtilSoname, RTLD_NOW | RTLD_LOCAL);
    void* codec = util ? dlopen(kAvCodecSoname, RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!codec) {
      const char* err = dlerror();
      failure = std::string("WMA songs need ") + kAvCodecSoname + " (Debian package libavcodec59): " +
                (err ? err : "it could not be loaded");
      return;
    }
    bool all = true;
    auto bind = [&](auto& fn, void* lib, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
      if (!fn && all) {
        all = false;
        failure = std::string(name) + " is missing from the installed libavcodec/libavutil";
      }
    };
    bind(api.FrameAlloc, util, "av_frame_alloc");
    bind(api.FrameFree, util, "av_frame_free");
    bind(api.FrameUnref, util, "av_frame_unref");
    bind(api.PacketAlloc, codec, "av_packet_alloc");
    bind(api.PacketFree, codec, "av_packet_free");
    bind(api.PacketUnref, codec, "av_packet_unref");
    bind(api.NewPacket, codec, "av_new_packet");
    bind(api.Mallocz, util, "av_mallocz");
    bind(api.SampleFmtIsPlanar, util, "av_sample_fmt_is_planar");
    bind(api.GetPackedSampleFmt, util, "av_get_packed_sample_fmt");
    bind(api.ChannelLayoutDefault, util, "av_channel_layout_default");
    bind(api.LogSetCallback, util, "av_log_set_callback");
    bind(api.LogFormatLine, util, "av_log_format_line");
    bind(api.FindDecoder, codec, "avcodec_find_decoder");
    bind(api.AllocContext, codec, "avcodec_alloc_context3");
    bind(api.FreeContext, codec, "avcodec_free_context");
    bind(api.Open, codec, "avcodec_open2");
    bind(api.FlushBuffers, codec, "avcodec_flush_buffers");
    bind(api.SendPacket, codec, "avcodec_send_packet");
    bind(api.ReceiveFrame, codec, "avcodec_receive_frame");
    if (!all) return;
    api.LogSetCallback(AvLogToTrace);
    loaded = true;
  });
  if (!loaded) why = failure;
  return loaded ? &api : nullptr;
}

AVCodecID CodecFor(uint16_t formatTag) {
  switch (formatTag) {
    case 0x160: return AV_CODEC_ID_WMAV1;
    case 0x161: return AV_CODEC_ID_WMAV2;
    case 0x162: return AV_CODEC_ID_WMAPRO;
    case 0x163: return AV_CODEC_ID_WMALOSSLESS;
    default: return AV_CODEC_ID_NONE;
  }
}

// A media object bigger than this is not audio of any WMA coding.
constexpr uint32_t kMaxObjectSize = 1u << 20;

// Float to 16 bits as the reference tools convert: scaled by 2^15, rounded, clipped.
int16_t FromFloat(float x) {
  const long v = std::lrintf(x * 32768.0f);
  return static_cast<int16_t>(std::clamp<long>(v, INT16_MIN, INT16_MAX));
}

int16_t SampleAt(const TAvApi& av, const AVFrame& f, int channel, int i, int channels) {
  const auto fmt = static_cast<AVSampleFormat>(f.format);
  const bool planar = av.SampleFmtIsPlanar(fmt);
  const int index = planar ? i : i * channels + channel;
  const uint8_t* base = f.extended_data[planar ? channel : 0];
  switch (av.GetPackedSampleFmt(fmt)) {
    case AV_SAMPLE_FMT_FLT: return FromFloat(reinterpret_cast<const float*>(base)[index]);
    case AV_SAMPLE_FMT_S16: return reinterpret_cast<const int16_t*>(base)[index];
    case AV_SAMPLE_FMT_S32: return static_cast<int16_t>(reinterpret_cast<const int32_t*>(base)[index] >> 16);
    default: return 0;
  }
}

// libavcodec's complaints about damaged frames are the debug trace's, not the terminal's.
void AvLogToTrace(void* avcl, int level, const char* format, va_list args) {
  if (level > AV_LOG_WARNING) return;
  char line[512];
  int prefix = 1;
  std::string unused;
  AvApi(unused)->LogFormatLine(avcl, level, format, args, line, sizeof line, &prefix);
  size_t n = std::strlen(line);
  while (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
  DebugTrace("libavcodec: %s", line);
}

}  // namespace

TWMADecoder::TWMADecoder() = default;

TWMADecoder::~TWMADecoder() {
  Close();
  if (Av_) {
    Av_->FrameFree(&Frame_);
    Av_->PacketFree(&Packet_);
  }
}

bool TWMADecoder::OpenInput() {
  std::string why;
  switch (ReadAsfHeader(Source_.Source(), Asf_, why)) {
    case TAsfHeaderResult::NotAsf: return false;
    case TAsfHeaderResult::Unplayable: SetOpenError(why); return false;
    case TAsfHeaderResult::Ok: break;
  }
  const TAsfAudioStream& a = Asf_.Audio;
  if (a.Channels < 1 || a.Channels > 2 || a.SampleRate == 0 || a.SampleRate > 768000) {
    SetOpenError("WMA stream of " + std::to_string(a.Channels) + " channels at " + std::to_string(a.SampleRate) +
                 " Hz: this player plays one or two channels");
    return false;
  }
  if (!OpenCodec()) return false;
  Format.SampleRate = static_cast<int32_t>(a.SampleRate);
  Format.Stereo = a.Channels == 2 ? 1 : 0;
  Format.BitsPerSample = 16;
  Format.Rate = static_cast<int32_t>(a.AvgBytesPerSec * 8 / 1000);
  Format.DurationMs = Asf_.DurationMs();
  NextPacket_ = 0;
  return true;
}

bool TWMADecoder::OpenCodec() {
  std::string why;
  if (!Av_ && !(Av_ = AvApi(why))) {
    SetOpenError(why);
    return false;
  }
  if (!Frame_) Frame_ = Av_->FrameAlloc();
  if (!Packet_) Packet_ = Av_->PacketAlloc();
  if (!Frame_ || !Packet_) throw std::bad_alloc();
  const TAsfAudioStream& a = Asf_.Audio;
  const AVCodec* codec = Av_->FindDecoder(CodecFor(a.FormatTag));
  if (!codec) {
    char tag[8];
    std::snprintf(tag, sizeof tag, "0x%04X", a.FormatTag);
    SetOpenError(std::string("ASF audio of format ") + tag + " is not WMA v1, v2, Pro or Lossless");
    return false;
  }
  Codec_ = Av_->AllocContext(codec);
  if (!Codec_) throw std::bad_alloc();
  Codec_->sample_rate = static_cast<int>(a.SampleRate);
  Av_->ChannelLayoutDefault(&Codec_->ch_layout, a.Channels);
  Codec_->bit_rate = int64_t(a.AvgBytesPerSec) * 8;
  Codec_->block_align = a.BlockAlign;
  Codec_->bits_per_coded_sample = a.BitsPerSample;
  if (!a.CodecData.empty()) {
    // libavcodec reads its bit readers a little past the end: the padding must be there, zeroed.
    Codec_->extradata = static_cast<uint8_t*>(Av_->Mallocz(a.CodecData.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!Codec_->extradata) throw std::bad_alloc();
    std::memcpy(Codec_->extradata, a.CodecData.data(), a.CodecData.size());
    Codec_->extradata_size = static_cast<int>(a.CodecData.size());
  }
  if (Av_->Open(Codec_, codec, nullptr) < 0) {
    SetOpenError(std::string("the ") + codec->long_name + " decoder does not take this stream's format");
    return false;
  }
  return true;
}

void TWMADecoder::Close() {
  Source_.Close();
  if (Av_) Av_->FreeContext(&Codec_);
  Format = {};
  Asf_ = {};
  PacketBytes_.clear();
  Object_.clear();
  HaveObject_ = false;
  Pcm_.clear();
  PcmRead_ = 0;
  NextPacket_ = 0;
  Drained_ = false;
  BaseMs_ = 0;
  FramesDelivered_ = 0;
}

uint64_t TWMADecoder::PacketsInFile() {
  // The data object's count, unless the file holds fewer (cut short, or still downloading).
  const uint64_t size = Source_.Size();
  const uint64_t there = size > Asf_.FirstPacket ? (size - Asf_.FirstPacket) / Asf_.PacketSize : 0;
  return Asf_.PacketCount ? std::min(Asf_.PacketCount, there) : there;
}

void TWMADecoder::Seek(float fraction) {
  if (!Codec_) return;
  if (!(fraction >= 0.0f)) fraction = 0.0f;
  fraction = std::min(fraction, 1.0f);
  const uint64_t packets = PacketsInFile();
  NextPacket_ = std::min<uint64_t>(static_cast<uint64_t>(double(packets) * fraction), packets);
  Av_->FlushBuffers(Codec_);
  Drained_ = false;
  Object_.clear();
  HaveObject_ = false;
  Pcm_.clear();
  PcmRead_ = 0;
  FramesDelivered_ = 0;
  BaseMs_ = static_cast<int64_t>(double(Format.DurationMs) * fraction);
  // Decoding starts at the first whole media object from here on, and the position is its time.
  for (; NextPacket_ < packets; ++NextPacket_) {
    if (!ReadPacket(NextPacket_)) break;
    bool found = false;
    ParseAsfPacket(PacketBytes_, [&](const TAsfPayload& p) {
      if (found || p.StreamNumber != Asf_.Audio.StreamNumber || p.ObjectOffset != 0) return;
      found = true;
      BaseMs_ = int64_t(p.PresentationMs) - int64_t(Asf_.PrerollMs);
    });
    if (found) break;
  }
}

int32_t TWMADecoder::GetPositionMs() {
  if (!Codec_ || Format.SampleRate == 0) return 0;
  const int64_t ms = BaseMs_ + static_cast<int64_t>(FramesDelivered_ * 1000 / uint64_t(Format.SampleRate));
  return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, INT32_MAX));
}

bool TWMADecoder::Read(uint8_t* buffer, uint32_t& count) {
  const uint32_t frameBytes = uint32_t(Format.BlockAlign());
  if (!Codec_ || frameBytes == 0) {
    count = 0;
    return false;
  }
  const size_t want = count / frameBytes * frameBytes / 2;  // samples
  size_t given = 0;
  bool more = true;
  while (given < want) {
    if (PcmRead_ == Pcm_.size()) {
      Pcm_.clear();
      PcmRead_ = 0;
      if (!(more = DecodeMore())) break;
      continue;
    }
    const size_t n = std::min(want - given, Pcm_.size() - PcmRead_);
    std::memcpy(buffer + 2 * given, Pcm_.data() + PcmRead_, 2 * n);
    PcmRead_ += n;
    given += n;
  }
  FramesDelivered_ += given * 2 / frameBytes;
  count = static_cast<uint32_t>(given * 2);
  return more || PcmRead_ < Pcm_.size();
}

bool TWMADecoder::DecodeMore() {
  if (Drained_) return false;
  if (NextPacket_ >= PacketsInFile()) {
    // The codec holds the last frame back until told that nothing more comes.
    Av_->SendPacket(Codec_, nullptr);
    ReceiveFrames();
    Drained_ = true;
    return !Pcm_.empty();
  }
  if (!ReadPacket(NextPacket_)) {
    NextPacket_ = UINT64_MAX;  // an I/O error reads as the end of the data
    return true;
  }
  ++NextPacket_;
  if (!ParseAsfPacket(PacketBytes_, [this](const TAsfPayload& p) { TakePayload(p); }))
    DebugTrace("WMA: packet %llu is damaged", static_cast<unsigned long long>(NextPacket_ - 1));
  return true;
}

bool TWMADecoder::ReadPacket(uint64_t index) {
  PacketBytes_.resize(Asf_.PacketSize);
  return Source_.SeekTo(Asf_.FirstPacket + index * Asf_.PacketSize) &&
         Source_.Read(PacketBytes_.data(), PacketBytes_.size()) == PacketBytes_.size();
}

void TWMADecoder::TakePayload(const TAsfPayload& p) {
  if (p.StreamNumber != Asf_.Audio.StreamNumber || p.ObjectSize == 0 || p.ObjectSize > kMaxObjectSize) return;
  if (p.ObjectOffset == 0) {
    Object_.clear();
    ObjectNumber_ = p.ObjectNumber;
    HaveObject_ = true;
  } else if (!HaveObject_ || p.ObjectNumber != ObjectNumber_ || p.ObjectOffset != Object_.size()) {
    HaveObject_ = false;  // a fragment whose start we never saw (after a seek, or lost)
    return;
  }
  if (p.Data.size() > p.ObjectSize - Object_.size()) {
    HaveObject_ = false;
    return;
  }
  Object_.append(p.Data);
  if (Object_.size() < p.ObjectSize) return;
  HaveObject_ = false;
  SendObject(reinterpret_cast<const uint8_t*>(Object_.data()), Object_.size());
}

void TWMADecoder::SendObject(const uint8_t* data, size_t size) {
  if (Av_->NewPacket(Packet_, static_cast<int>(size)) < 0) throw std::bad_alloc();
  std::memcpy(Packet_->data, data, size);
  // The codec takes every packet once its frames have been received, so a refusal here is a bad
  // object: it is dropped, and the song goes on with the next.
  const int rc = Av_->SendPacket(Codec_, Packet_);
  Av_->PacketUnref(Packet_);
  if (rc < 0) DebugTrace("WMA: the codec refused an object of %zu bytes (%d)", size, rc);
  ReceiveFrames();
}

void TWMADecoder::ReceiveFrames() {
  while (Av_->ReceiveFrame(Codec_, Frame_) == 0) {
    AppendFrame(*Frame_);
    Av_->FrameUnref(Frame_);
  }
}

void TWMADecoder::AppendFrame(const AVFrame& f) {
  const int channels = Format.Channels();
  // A frame of another layout than the header's (damaged data) cannot be played as this stream.
  if (f.ch_layout.nb_channels != channels || f.nb_samples <= 0) return;
  const size_t at = Pcm_.size();
  Pcm_.resize(at + size_t(f.nb_samples) * size_t(channels));
  int16_t* out = Pcm_.data() + at;
  for (int i = 0; i < f.nb_samples; ++i)
    for (int ch = 0; ch < channels; ++ch) *out++ = SampleAt(*Av_, f, ch, i, channels);
}

}  // namespace ml
