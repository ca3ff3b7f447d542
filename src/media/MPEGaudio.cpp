#include "media/MPEGaudio.h"

#include "media/MediaText.h"
#include "media/MpegHeader.h"

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
  size_t n = std::min(w.size(), kWindow);
  if (!FindFrame(w, n) && n == kWindow) {
    // Junk after the tag: try once more in the middle of the audio.
    w = src.Read(start + (FileSize - start) / 2, kWindow + kLookahead);
    FindFrame(w, std::min(w.size(), kWindow));
  }
  if (!Frame.Found) ResetData();
  return true;
}

bool TMPEGaudio::FindFrame(std::string_view w, size_t n) {
  if (n < kMinWindow) return false;
  for (size_t i = 0; i <= n - kMinWindow; ++i) {
    TMPEGHeaderFields h, next;
    if (!HeaderAt(w, i, h)) continue;
    const size_t len = static_cast<size_t>(h.FrameLength());
    if (len == 0 || !HeaderAt(w, i + len, next)) continue;
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

    const bool mono = Frame.ModeID == 3;
    const size_t d = Frame.VersionID == 3 ? (mono ? 21 : 36) : (mono ? 13 : 21);
    if (HasAt(w, i + d, "Xing")) {
      // The flags say which of frame count, byte count, table of contents and quality follow.
      uint32_t flags = GetBE32(w, i + d + 4);
      size_t p = i + d + 8;
      VBR.Found = true;
      std::copy_n("Xing", 4, VBR.ID);
      if (flags & 1) VBR.Frames = GetBE32(w, p), p += 4;
      if (flags & 2) VBR.Bytes = GetBE32(w, p), p += 4;
      if (flags & 4) p += 100;
      if (flags & 8) VBR.Quality = GetByte(w, p + 3);
    } else if (size_t v = HasAt(w, i + d, "VBRI") ? i + d : i + 36; HasAt(w, v, "VBRI")) {
      VBR.Found = true;
      std::copy_n("VBRI", 4, VBR.ID);
      VBR.Quality = GetByte(w, v + 9);
      VBR.Bytes = GetBE32(w, v + 10);
      VBR.Frames = GetBE32(w, v + 14);
    }
    return true;
  }
  return false;
}

int TMPEGaudio::FrameBitRate() const {
  if (!Frame.Found) return 0;
  return MpegBitrateKbps(Frame.VersionID, Frame.LayerID, Frame.BitRateID & 15);
}

int TMPEGaudio::Coefficient() const {
  // Bytes per frame per (bit rate / sample rate): the samples per frame over 8.
  TMPEGHeaderFields h;
  h.Version = Frame.VersionID;
  h.Layer = Frame.LayerID;
  return h.SamplesPerFrame() / 8;
}

int TMPEGaudio::PaddingBytes() const { return Frame.PaddingBit ? (Frame.LayerID == 3 ? 4 : 1) : 0; }

int TMPEGaudio::SampleRate() const {
  return Frame.Found ? MpegSampleRate(Frame.VersionID, Frame.SampleRateID) : 0;
}

int TMPEGaudio::BitRate() const {
  if (VBR.Found && VBR.Frames > 0) {
    double perFrame = double(VBR.Bytes) / VBR.Frames - PaddingBytes();
    double kbps = perFrame * SampleRate() / Coefficient() / 1000.0;
    if (!std::isfinite(kbps) || kbps < 0 || kbps > 1e6) return 0;
    return static_cast<int>(std::lround(kbps));
  }
  return FrameBitRate();
}

double TMPEGaudio::Duration() const {
  if (!Frame.Found) return 0;
  const int sr = SampleRate();
  if (VBR.Found && VBR.Frames > 0 && sr > 0) return double(VBR.Frames) * Coefficient() * 8 / sr;
  const int br = FrameBitRate();
  const uint64_t before = uint64_t(ID3v2.Size) + Frame.Position;
  if (br <= 0 || FileSize <= before) return 0;
  return double(FileSize - before) * 8 / br / 1000;
}

std::string TMPEGaudio::ChannelMode() const {
  static const char* kNames[5] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono", "Unknown"};
  return kNames[Frame.ModeID <= 4 ? Frame.ModeID : 4];
}

bool TMPEGaudio::Valid() const {
  const int br = BitRate();
  return Frame.Found && br >= 8 && br <= 448 && Duration() >= 0.1;
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
