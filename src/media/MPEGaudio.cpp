#include "media/MPEGaudio.h"

#include "media/MediaText.h"
#include "media/MpegFrameIndex.h"

#include <algorithm>
#include <cmath>

namespace ml {
namespace {

constexpr size_t kWindow = 3458;
constexpr size_t kMinWindow = 1728;
// The next-frame test looks up to one maximal frame (MPEG-2 Layer II at 160 kbps and 8 kHz:
// 2,881 bytes) past the last candidate, so a window is read with this much more behind it.
constexpr size_t kLookahead = 2881 + 4 - kMinWindow + 1;

// The frame header at w[i], when four bytes are there and they are one.
bool HeaderAt(std::string_view w, size_t i, TMPEGHeaderFields& h) {
  return i + 4 <= w.size() && ParseMPEGHeader(reinterpret_cast<const uint8_t*>(w.data()) + i, h);
}

// True when the audio start is plainly another container; random audio bytes inside those can
// look like two consecutive MPEG frame headers.
bool IsOtherContainer(std::string_view w) {
  static constexpr char kAsf[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
  if (HasAt(w, 0, "OggS") || HasAt(w, 0, "fLaC") || HasAt(w, 0, "MAC ") ||
      HasAt(w, 0, std::string_view(kAsf, 16)))
    return true;
  // A RIFF WAVE file holds MPEG data only with the MPEG format tags (0x50, 0x55).
  if (HasAt(w, 0, "RIFF") && HasAt(w, 8, "WAVE") && HasAt(w, 12, "fmt ")) {
    uint16_t tag = GetLE16(w, 20);
    return tag != 0x50 && tag != 0x55;
  }
  return false;
}

}  // namespace

void TMPEGaudio::ResetData() { *this = TMPEGaudio(); }

bool TMPEGaudio::Parse(TMediaSource& src) {
  if (!ID3v1.Read(src) || !ID3v2.Read(src)) return false;
  FileSize = src.Size();
  const uint64_t start = ID3v2.Size;
  std::string w = src.Read(start, kWindow + kLookahead);
  if (IsOtherContainer(w)) {
    ResetData();
    return true;
  }
  const uint64_t audioEnd = MpegAudioEnd(src, start);
  // A file shorter than a window is searched whole: a stream of a few frames is still one.
  const bool whole = w.size() < kWindow + kLookahead;
  size_t n = std::min(w.size(), kWindow);
  if (!FindFrame(w, whole ? n : (n >= kMinWindow ? n - kMinWindow + 4 : 0), start, audioEnd) && n == kWindow) {
    // Junk after the tag: try once more in the middle of the audio.
    const uint64_t middle = start + (FileSize - start) / 2;
    w = src.Read(middle, kWindow + kLookahead);
    n = std::min(w.size(), kWindow);
    FindFrame(w, n >= kMinWindow ? n - kMinWindow + 4 : 0, middle, audioEnd);
  }
  if (!Frame.Found) {
    ResetData();
    return true;
  }
  MeasureAudio(src, audioEnd);
  return true;
}

bool TMPEGaudio::FindFrame(std::string_view w, size_t searchable, uint64_t windowOffset, uint64_t audioEnd) {
  // Candidates start at i + 4 <= searchable.
  for (size_t i = 0; i + 4 <= searchable; ++i) {
    TMPEGHeaderFields h, next;
    if (!HeaderAt(w, i, h)) continue;
    const size_t len = static_cast<size_t>(h.FrameLength());
    // Two headers in a row, or a single frame that is all the audio there is.
    const bool alone = i == 0 && windowOffset + len == audioEnd;
    if (len == 0 || (!HeaderAt(w, i + len, next) && !alone)) continue;
    Frame.Found = true;
    Frame.Position = static_cast<uint32_t>(i);
    Frame.Size = static_cast<uint16_t>(len);
    Frame.VersionID = static_cast<uint8_t>(h.Version);
    Frame.LayerID = static_cast<uint8_t>(h.Layer);
    Frame.ProtectionBit = h.Protection;
    Frame.BitRateID = static_cast<uint8_t>(h.BitrateIndex);
    Frame.SampleRateID = static_cast<uint8_t>(h.SampleRateIndex);
    Frame.PaddingBit = h.Padding;
    Frame.PrivateBit = h.Private;
    Frame.ModeID = static_cast<uint8_t>(h.ChannelMode);
    Frame.ModeExtensionID = static_cast<uint8_t>(h.ModeExtension);
    Frame.CopyrightBit = h.Copyright;
    Frame.OriginalBit = h.Original;
    Frame.EmphasisID = static_cast<uint8_t>(h.Emphasis);
    FrameOffset_ = windowOffset + i;

    ReadMpegVbrHeader(reinterpret_cast<const uint8_t*>(w.data()) + i, std::min(w.size() - i, len), h, Vbr_);
    if (Vbr_.Found) {
      VBR.Found = true;
      std::copy_n(Vbr_.ID, 4, VBR.ID);
      VBR.Frames = Vbr_.Frames;
      VBR.Bytes = Vbr_.Bytes;
      VBR.Quality = static_cast<uint8_t>(Vbr_.Quality);
    }
    return true;
  }
  return false;
}

void TMPEGaudio::MeasureAudio(TMediaSource& src, uint64_t audioEnd) {
  const TMPEGHeaderFields h = Header();
  const int sr = h.SampleRate();
  // A Xing/Info frame is silence standing in for the audio's first frame: the audio follows it.
  const uint64_t audioStart = FrameOffset_ + (Vbr_.IsXingOrInfo() ? Frame.Size : 0);
  TMpegFrameIndex index;
  index.Reset(audioStart, sr, audioEnd);
  if (VBR.Found && VBR.Frames > 0) {
    Samples = uint64_t(VBR.Frames) * h.SamplesPerFrame();
    AudioBytes = VBR.Bytes ? VBR.Bytes : audioEnd - std::min(audioEnd, FrameOffset_);
    // Too short to pass for a song by its length: believe it when its frames fill the file.
    if (MpegDurationMs(Samples, sr) < 100) index.WalkAll(src);
  } else {
    // No header counted the frames: count them (headers only). A first frame's bit rate is no
    // guide to a variable rate stream, and the file size would count trailing tags as audio.
    index.WalkAll(src);
    Samples = index.Samples();
    AudioBytes = index.Bytes();
  }
  WholeChain = index.Unbroken() && FrameOffset_ == ID3v2.Size;
}

TMPEGHeaderFields TMPEGaudio::Header() const {
  TMPEGHeaderFields h;
  h.Version = Frame.VersionID;
  h.Layer = Frame.LayerID;
  h.BitrateIndex = Frame.BitRateID;
  h.SampleRateIndex = Frame.SampleRateID;
  h.ChannelMode = Frame.ModeID;
  return h;
}

int TMPEGaudio::FrameBitRate() const {
  if (!Frame.Found) return 0;
  return MpegBitrateKbps(Frame.VersionID, Frame.LayerID, Frame.BitRateID & 15);
}

int TMPEGaudio::SampleRate() const {
  return Frame.Found ? MpegSampleRate(Frame.VersionID, Frame.SampleRateID) : 0;
}

int TMPEGaudio::BitRate() const {
  const int avg = MpegAverageKbps(AudioBytes, Samples, SampleRate());
  return avg > 0 ? avg : FrameBitRate();
}

double TMPEGaudio::Duration() const {
  const int sr = SampleRate();
  return sr > 0 ? double(Samples) / sr : 0;
}

std::string TMPEGaudio::ChannelMode() const {
  static const char* kNames[5] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono", "Unknown"};
  return kNames[Frame.ModeID <= 4 ? Frame.ModeID : 4];
}

bool TMPEGaudio::Valid() const {
  const int br = BitRate();
  return Frame.Found && br >= 8 && br <= 448 && (Duration() >= 0.1 || WholeChain);
}

void TMPEGaudio::FillMediaInfo(TMediaInfo& r) const {
  r.FileSize = FileSize32(FileSize);
  r.SampleRate = SampleRate();
  r.Bitrate = BitRate();
  r.Duration = DurationMs(Duration());
  r.Channels = ChannelMode() == "Mono" ? 1 : 2;
  // The ID3v2 tag speaks first; an ID3v1 tag in the same file fills what it leaves empty (a file
  // that passed through two taggers may keep its artist in the ID3v1 tag only).
  FillMissingTags(r, ID3v2.Tags());
  FillMissingTags(r, ID3v1.Tags());
}

}  // namespace ml
