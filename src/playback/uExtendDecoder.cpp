#include "playback/uExtendDecoder.h"

#include "base/DebugTrace.h"
#include "playback/uCircleBuffer.h"
#include "plugins/sdk/InputModule.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace ml {

namespace {

// A window handle the plug-in may keep but never sends to: this player has no window for it.
ML_HWND const kNoWindow = reinterpret_cast<ML_HWND>(9112);

// What the plug-in's thread and the engine share: the format it opened the output with, the
// ring, and the time counters. Times are counted in frames from the last flush, so no rounding
// adds up over a song.
struct THostState {
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Opened = false;
  bool Flushed = false;
  int SampleRate = 0, Channels = 0, Bits = 0;
  int BitRateKbps = 0;  // from SetInfo
  int64_t FlushMs = 0;  // where the last flush put the song
  uint64_t FramesWritten = 0, FramesRead = 0;  // since that flush
  std::unique_ptr<TCircleBuffer> Ring;

  int FrameBytes() const { return Channels * Bits / 8; }
  int64_t MsOf(uint64_t frames) const {
    return SampleRate ? FlushMs + static_cast<int64_t>(frames * 1000 / uint64_t(SampleRate)) : FlushMs;
  }
};

THostState g_host;
std::atomic<bool> g_hostBusy{false};

int ClampMs(int64_t ms) { return static_cast<int>(std::clamp<int64_t>(ms, 0, INT32_MAX)); }

// The output table the plug-in writes into.
int OutOpen(int sampleRate, int channels, int bits, int, int) {
  if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2) || sampleRate <= 0 || sampleRate > 768000)
    return -1;
  {
    std::lock_guard lock(g_host.Mutex);
    g_host.SampleRate = sampleRate;
    g_host.Channels = channels;
    g_host.Bits = bits;
    g_host.Opened = true;
  }
  g_host.Changed.notify_all();
  return 0;
}

void OutClose() {
  std::lock_guard lock(g_host.Mutex);
  if (g_host.Ring) g_host.Ring->SetFinished(true);
}

int OutWrite(char* data, int length) {
  std::lock_guard lock(g_host.Mutex);
  const int frame = g_host.FrameBytes();
  if (!g_host.Ring || frame == 0 || length < 0) return 1;
  if (length == 0) return 0;
  // Only whole frames: a torn one would shift every later sample to the other channel.
  if (length % frame || !g_host.Ring->Write(data, static_cast<uint32_t>(length))) return 1;
  g_host.FramesWritten += uint64_t(length / frame);
  return 0;
}

int OutCanWrite() {
  std::lock_guard lock(g_host.Mutex);
  return g_host.Ring ? static_cast<int>(g_host.Ring->FreeSpace()) : -1;
}

// Asked once the plug-in's input has ended: nothing of ours is playing, so the stream ends here.
int OutIsPlaying() {
  OutClose();
  return 0;
}

int OutPause(int) { return 0; }
void OutSetVolume(int) {}
void OutSetPan(int) {}

void OutFlush(int ms) {
  {
    std::lock_guard lock(g_host.Mutex);
    if (g_host.Ring) g_host.Ring->Reset();
    g_host.FlushMs = std::max(ms, 0);
    g_host.FramesWritten = g_host.FramesRead = 0;
    g_host.Flushed = true;
  }
  g_host.Changed.notify_all();
}

int OutGetOutputTime() {
  std::lock_guard lock(g_host.Mutex);
  return ClampMs(g_host.MsOf(g_host.FramesRead));
}

int OutGetWrittenTime() {
  std::lock_guard lock(g_host.Mutex);
  return ClampMs(g_host.MsOf(g_host.FramesWritten));
}

Out_Module g_outModule = {OUT_VER, const_cast<char*>("MiniLirra engine"), 0, kNoWindow, nullptr, nullptr,
                          nullptr, nullptr, nullptr, OutOpen, OutClose, OutWrite, OutCanWrite, OutIsPlaying,
                          OutPause, OutSetVolume, OutSetPan, OutFlush, OutGetOutputTime, OutGetWrittenTime};

// Visualisation hooks: the spectrum is taken from what the engine reads, so these take nothing.
void SaVsaInit(int, int) {}
void SaVsaDeInit() {}
void SaAddPcm(void*, int, int, int) {}
int SaGetMode() { return 0; }
int SaAdd(void*, int, int) { return 0; }
void VsaAddPcm(void*, int, int, int) {}
int VsaGetMode(int* spectrum, int* wave) {
  if (spectrum) *spectrum = 0;
  if (wave) *wave = 0;
  return 0;
}
int VsaAdd(void*, int) { return 0; }
void VsaSetInfo(int, int) {}
// Effects: the engine's effect chain runs after every decoder, so the plug-in applies none, and
// writes the samples it was going to write.
int DspIsActive() { return 0; }
int DspDoSamples(short*, int samples, int, int, int) { return samples; }
void EqSet(int, char*, int) {}

void SetInfo(int bitrate, int, int, int) {
  std::lock_guard lock(g_host.Mutex);
  if (bitrate >= 0) g_host.BitRateKbps = bitrate;
}

// Waits for flag (set by the plug-in's thread) for at most limit, and clears it.
bool WaitFor(bool THostState::*flag, std::chrono::milliseconds limit) {
  std::unique_lock lock(g_host.Mutex);
  const bool ok = g_host.Changed.wait_for(lock, limit, [&] { return g_host.*flag; });
  g_host.*flag = false;
  return ok;
}

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

}  // namespace

TExtendDecoder::TExtendDecoder() : Scan_(InstalledInputPlugins()) {}

TExtendDecoder::TExtendDecoder(const std::string& folder) : Scan_(ScanInputPlugins(folder)) {}

TExtendDecoder::~TExtendDecoder() { Close(); }

int32_t TExtendDecoder::BitRateKbps() const {
  if (!Playing_) return 0;
  std::lock_guard lock(g_host.Mutex);
  return g_host.BitRateKbps;
}

bool TExtendDecoder::Open(const std::string& fileName, bool, std::shared_ptr<const IArrivedBytes>) {
  Close();
  OpenError_.clear();
  if (Scan_.Plugins.empty()) return false;
  if (g_hostBusy.exchange(true)) {
    SetOpenError("another input plug-in is playing in this process");
    return false;
  }
  OwnsHost_ = true;
  // The plug-ins that claim the extension first, then the rest: a plug-in's Play is the judge.
  std::vector<const TInputPluginInfo*> order;
  const std::string ext = FileExtensionOf(fileName);
  for (const auto& p : Scan_.Plugins)
    if (std::find(p.Extensions.begin(), p.Extensions.end(), ext) != p.Extensions.end()) order.push_back(&p);
  for (const auto& p : Scan_.Plugins)
    if (std::find(order.begin(), order.end(), &p) == order.end()) order.push_back(&p);
  for (const TInputPluginInfo* p : order) {
    std::string why;
    if (TryPlugin(*p, fileName, why)) {
      OpenError_.clear();
      return true;
    }
    DebugTrace("input plug-in %s: %s", p->Path.c_str(), why.c_str());
    // The reason of a plug-in that claims the file's kind is the one worth showing.
    if (OpenError_.empty() && !why.empty() && p->Extensions.end() != std::find(p->Extensions.begin(), p->Extensions.end(), ext))
      SetOpenError(FileNameOf(p->Path) + ": " + why);
  }
  Close();
  return false;
}

bool TExtendDecoder::TryPlugin(const TInputPluginInfo& plugin, const std::string& fileName, std::string& why) {
  if (!Library_.Load(plugin.Path, why)) return false;
  In_Module& m = Library_.Module();
  m.hMainWindow = kNoWindow;
  m.hDllInstance = Library_.Handle();
  m.outMod = &g_outModule;
  m.SAVSAInit = SaVsaInit;
  m.SAVSADeInit = SaVsaDeInit;
  m.SAAddPCMData = SaAddPcm;
  m.SAGetMode = SaGetMode;
  m.SAAdd = SaAdd;
  m.VSAAddPCMData = VsaAddPcm;
  m.VSAGetMode = VsaGetMode;
  m.VSAAdd = VsaAdd;
  m.VSASetInfo = VsaSetInfo;
  m.dsp_isactive = DspIsActive;
  m.dsp_dosamples = DspDoSamples;
  m.EQSet = EqSet;
  m.SetInfo = SetInfo;
  {
    std::lock_guard lock(g_host.Mutex);
    g_host.Opened = g_host.Flushed = false;
    g_host.SampleRate = g_host.Channels = g_host.Bits = g_host.BitRateKbps = 0;
    g_host.FlushMs = 0;
    g_host.FramesWritten = g_host.FramesRead = 0;
    g_host.Ring = std::make_unique<TCircleBuffer>(kRingBytes);
  }
  m.Init();
  PluginPath_ = plugin.Path;
  if (m.Play(fileName.c_str()) != 0) {
    why = "it does not play this file";
  } else {
    Playing_ = true;
    if (WaitFor(&THostState::Opened, kOpenWait)) {
      std::lock_guard lock(g_host.Mutex);
      g_host.Opened = true;  // WaitFor clears it; it stays true for the song
      Format.SampleRate = g_host.SampleRate;
      Format.Stereo = g_host.Channels == 2 ? 1 : 0;
      Format.BitsPerSample = g_host.Bits;
      const int length = m.GetLength();
      Format.DurationMs = std::max(length, 0);
      Format.Rate = g_host.BitRateKbps;
      FileName_ = fileName;
      return true;
    }
    why = "it never opened the output within " + std::to_string(kOpenWait.count()) + " ms";
  }
  StopPlugin();
  return false;
}

void TExtendDecoder::StopPlugin() {
  // The plug-in's thread writes into the ring: it is stopped (Stop joins it) before the ring
  // goes, and Quit comes before its code is unloaded.
  if (Library_.IsLoaded()) {
    In_Module& m = Library_.Module();
    if (Playing_) m.Stop();
    m.Quit();
  }
  Playing_ = false;
  {
    std::lock_guard lock(g_host.Mutex);
    g_host.Ring.reset();
    g_host.Opened = false;
  }
  Library_.Unload();
  PluginPath_.clear();
}

void TExtendDecoder::Close() {
  StopPlugin();
  Format = {};
  FileName_.clear();
  if (OwnsHost_) g_hostBusy = false;
  OwnsHost_ = false;
}

void TExtendDecoder::Seek(float fraction) {
  if (!Playing_) return;
  if (!(fraction >= 0.0f)) fraction = 0.0f;
  fraction = std::min(fraction, 1.0f);
  In_Module& m = Library_.Module();
  const int ms = static_cast<int>(double(std::max(m.GetLength(), 0)) * fraction);
  {
    std::lock_guard lock(g_host.Mutex);
    g_host.Flushed = false;
  }
  m.SetOutputTime(ms);
  if (!WaitFor(&THostState::Flushed, kFlushWait)) {
    // A plug-in that does not flush: what it writes from here on is taken as the new place.
    std::lock_guard lock(g_host.Mutex);
    if (g_host.Ring) g_host.Ring->Reset();
    g_host.FlushMs = ms;
    g_host.FramesWritten = g_host.FramesRead = 0;
  }
}

int32_t TExtendDecoder::GetPositionMs() {
  if (!Playing_) return 0;
  std::lock_guard lock(g_host.Mutex);
  return ClampMs(g_host.MsOf(g_host.FramesRead));
}

bool TExtendDecoder::Read(uint8_t* buffer, uint32_t& count) {
  TCircleBuffer* ring = nullptr;
  uint32_t frame = 0;
  {
    std::lock_guard lock(g_host.Mutex);
    ring = g_host.Ring.get();
    frame = uint32_t(g_host.FrameBytes());
  }
  if (!Playing_ || !ring || frame == 0) {
    count = 0;
    return false;
  }
  // The ring lives until StopPlugin, which only this (the engine's) thread calls.
  uint32_t n = count / frame * frame;
  ring->Read(buffer, n, kReadWait);
  // The plug-in writes whole frames, so a short read can only be cut at a frame when the ring ran
  // dry; a torn tail would be a plug-in's fault, and is dropped.
  n -= n % frame;
  count = n;
  std::lock_guard lock(g_host.Mutex);
  g_host.FramesRead += n / frame;
  return n > 0 || !ring->Drained();
}

}  // namespace ml
