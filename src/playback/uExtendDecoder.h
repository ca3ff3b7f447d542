#pragma once
// Formats played through input plug-ins (InExtend/in_*.so). The plug-in decodes on a thread of its
// own and writes PCM into the output table this decoder hands it; the table puts it in a ring
// from which the engine reads as from any decoder.
//
// The output table's entries carry no context (the interface gives them none), so they reach one
// process-wide state: one TExtendDecoder at a time may have a plug-in open. Another's Open fails
// with a reason until the first is closed. The engine has one decoder of each kind, so a player
// never meets this; a second player in the same process would.
#include "media/InputPluginLibrary.h"
#include "playback/uDecoderModule.h"

#include <chrono>
#include <string>

namespace ml {

class TExtendDecoder : public TDecoderModule {
public:
  static constexpr const char* kName = "Input plug-in";
  // How long Open waits for the plug-in to open the output, and a seek for it to flush.
  static constexpr std::chrono::milliseconds kOpenWait{2000}, kFlushWait{2000};
  // How long one Read waits for the plug-in's next block before it returns with what it has: a
  // plug-in that stalls (a slow disk, a network file) delays the song, never ends it.
  static constexpr std::chrono::milliseconds kReadWait{50};
  static constexpr uint32_t kRingBytes = 65536;

  // The program's plug-ins (InExtend/, probed once per process).
  TExtendDecoder();
  // The plug-ins of another folder, probed here.
  explicit TExtendDecoder(const std::string& folder);
  ~TExtendDecoder() override;
  const char* Name() const override { return kName; }
  int32_t BitRateKbps() const override;
  // Tries every plug-in in turn (those claiming the file's extension first) until one plays it.
  bool Open(const std::string& fileName, bool shareWrite, std::shared_ptr<const IArrivedBytes> arrived = nullptr) override;
  void Close() override;
  void Seek(float fraction) override;
  // The time of the audio the engine has read: the plug-in's flush time plus the frames since.
  int32_t GetPositionMs() override;
  bool Read(uint8_t* buffer, uint32_t& count) override;

  // The plug-in playing the open file.
  const std::string& PluginPath() const { return PluginPath_; }
  const TInputPluginScan& Plugins() const { return Scan_; }

private:
  bool TryPlugin(const TInputPluginInfo& plugin, const std::string& fileName, std::string& why);
  void StopPlugin();

  TInputPluginScan Scan_;
  TInputPluginLibrary Library_;
  std::string PluginPath_;
  bool Playing_ = false;
  bool OwnsHost_ = false;
};

}  // namespace ml
