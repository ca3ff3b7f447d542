#include "plugins/common/PluginPlayback.h"

#include <chrono>
#include <cstring>
#include <strings.h>

namespace mlplugin {

namespace {
// How often a writer waiting for room asks again: the output table has no way to wake it.
constexpr auto kPoll = std::chrono::milliseconds(1);
}

int TPluginPlayback::Play(std::unique_ptr<TPluginSource> source) {
  Stop();
  Out_Module& out = *Module_.outMod;
  if (out.Open(source->SampleRate(), source->Channels(), 16, -1, -1) < 0) return 1;
  if (Module_.SetInfo) Module_.SetInfo(source->BitRateKbps(), source->SampleRate() / 1000, source->Channels() > 1, 1);
  if (Module_.SAVSAInit) Module_.SAVSAInit(0, source->SampleRate());
  if (Module_.VSASetInfo) Module_.VSASetInfo(source->SampleRate(), source->Channels());
  Length_ = source->LengthMs();
  Source_ = std::move(source);
  Stop_ = false;
  Paused_ = false;
  SeekTo_ = -1;
  Thread_ = std::thread([this] { Run(); });
  return 0;
}

void TPluginPlayback::Stop() {
  Stop_ = true;
  if (Thread_.joinable()) Thread_.join();
  if (Source_) {
    Module_.outMod->Close();
    if (Module_.SAVSADeInit) Module_.SAVSADeInit();
  }
  Source_.reset();
}

void TPluginPlayback::RequestSeek(int ms) { SeekTo_ = ms < 0 ? 0 : ms; }

void TPluginPlayback::Sleep() const { std::this_thread::sleep_for(kPoll); }

bool TPluginPlayback::WriteBlock(std::vector<int16_t>& block) {
  Out_Module& out = *Module_.outMod;
  const int channels = Source_->Channels();
  int frames = static_cast<int>(block.size()) / channels;
  // The DSP hook may change the samples and their count; it returns the frames to write.
  if (Module_.dsp_isactive && Module_.dsp_isactive()) {
    block.resize(block.size() * 2);  // room for a DSP that lengthens the block
    frames = Module_.dsp_dosamples(block.data(), frames, 16, channels, Source_->SampleRate());
  }
  const int bytes = frames * channels * 2;
  if (Module_.SAAddPCMData) Module_.SAAddPCMData(block.data(), channels, 16, out.GetWrittenTime());
  if (Module_.VSAAddPCMData) Module_.VSAAddPCMData(block.data(), channels, 16, out.GetWrittenTime());
  while (!Stop_ && SeekTo_ < 0) {
    if (!Paused_ && out.CanWrite() >= bytes && out.Write(reinterpret_cast<char*>(block.data()), bytes) == 0)
      return true;
    Sleep();
  }
  return false;
}

void TPluginPlayback::Run() {
  Out_Module& out = *Module_.outMod;
  std::vector<int16_t> block;
  bool ended = false;
  while (!Stop_) {
    if (const int ms = SeekTo_.exchange(-1); ms >= 0) {
      Source_->SeekMs(ms);
      out.Flush(ms);
      ended = false;
    }
    if (ended) {
      Sleep();  // played out: a seek may still bring the song back, until Stop
      continue;
    }
    block.clear();
    if (!Source_->Decode(block)) {
      // The output learns of the end by being asked whether it still plays.
      while (!Stop_ && SeekTo_ < 0 && out.IsPlaying()) Sleep();
      ended = true;
      continue;
    }
    if (!block.empty()) WriteBlock(block);
  }
}

namespace {

In_Module g_module{};
TPluginPlayback g_playback(g_module);
TSourceOpener g_open = nullptr;

void Init() {}
void Quit() { g_playback.Stop(); }
int Play(const char* fn) {
  std::unique_ptr<TPluginSource> source = fn && g_open ? g_open(fn) : nullptr;
  return source ? g_playback.Play(std::move(source)) : 1;
}
void Stop() { g_playback.Stop(); }
void Pause() { g_playback.SetPaused(true); }
void UnPause() { g_playback.SetPaused(false); }
int IsPaused() { return g_playback.Paused(); }
int GetLength() { return g_playback.LengthMs(); }
int GetOutputTime() { return g_module.outMod ? g_module.outMod->GetOutputTime() : 0; }
void SetOutputTime(int ms) { g_playback.RequestSeek(ms); }
void SetVolume(int v) {
  if (g_module.outMod) g_module.outMod->SetVolume(v);
}
void SetPan(int p) {
  if (g_module.outMod) g_module.outMod->SetPan(p);
}
int IsOurFile(const char*) { return 0; }  // the host goes by the extension

}  // namespace

In_Module& DefineInputModule(const char* description, const char* extensions, TSourceOpener open) {
  g_open = open;
  g_module.version = IN_VER;
  g_module.description = const_cast<char*>(description);
  g_module.FileExtensions = const_cast<char*>(extensions);
  g_module.is_seekable = 1;
  g_module.UsesOutputPlug = 1;
  g_module.Init = Init;
  g_module.Quit = Quit;
  g_module.IsOurFile = IsOurFile;
  g_module.Play = Play;
  g_module.Pause = Pause;
  g_module.UnPause = UnPause;
  g_module.IsPaused = IsPaused;
  g_module.Stop = Stop;
  g_module.GetLength = GetLength;
  g_module.GetOutputTime = GetOutputTime;
  g_module.SetOutputTime = SetOutputTime;
  g_module.SetVolume = SetVolume;
  g_module.SetPan = SetPan;
  return g_module;
}

std::string CommentValue(const std::vector<std::string>& comments, const char* name) {
  const size_t n = std::strlen(name);
  for (const std::string& c : comments)
    if (c.size() > n && c[n] == '=' && strncasecmp(c.c_str(), name, n) == 0) return c.substr(n + 1);
  return {};
}

int AnswerFileInfo(const std::vector<std::string>& comments, int lengthMs, int bitrateKbps, int sampleRate,
                   int channels, const char* field, char* ret, int retlen) {
  if (!field || !ret || retlen <= 0) return 0;
  static const struct {
    const char* field;
    const char* comment;
  } kNames[] = {{"title", "TITLE"}, {"artist", "ARTIST"}, {"album", "ALBUM"}, {"year", "DATE"},
                {"genre", "GENRE"}, {"track", "TRACKNUMBER"}, {"comment", "COMMENT"}};
  std::string value;
  if (!strcasecmp(field, "length"))
    value = lengthMs > 0 ? std::to_string(lengthMs) : "";
  else if (!strcasecmp(field, "bitrate"))
    value = bitrateKbps > 0 ? std::to_string(bitrateKbps) : "";
  else if (!strcasecmp(field, "samplerate"))
    value = std::to_string(sampleRate);
  else if (!strcasecmp(field, "channels"))
    value = std::to_string(channels);
  else
    for (const auto& k : kNames)
      if (!strcasecmp(field, k.field)) value = CommentValue(comments, k.comment);
  if (value.empty()) return 0;
  size_t n = std::min(value.size(), size_t(retlen) - 1);
  while (n > 0 && n < value.size() && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;  // at a character
  std::memcpy(ret, value.data(), n);
  ret[n] = '\0';
  return 1;
}

}  // namespace mlplugin
