#pragma once
// What every input plug-in of ours does the same way: a decoding thread that writes whole blocks
// into the host's output table as it has room, seeks when asked (flushing the output at the new
// time), and at the end waits for the output to play out. A plug-in supplies the decoding
// (TPluginSource); DefineInputModule gives it its module record.
#include "plugins/sdk/InputModule.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mlplugin {

class TPluginSource {
public:
  virtual ~TPluginSource() = default;
  virtual int SampleRate() const = 0;
  virtual int Channels() const = 0;   // 1 or 2
  virtual int LengthMs() const = 0;   // <= 0 when unknown
  virtual int BitRateKbps() const = 0;
  // Appends the next interleaved 16-bit samples (any whole number of frames) to out; false at
  // the end of the stream or on an error that ends it.
  virtual bool Decode(std::vector<int16_t>& out) = 0;
  // Moves so that the next Decode starts at ms.
  virtual bool SeekMs(int ms) = 0;
};

class TPluginPlayback {
public:
  explicit TPluginPlayback(In_Module& module) : Module_(module) {}
  ~TPluginPlayback() { Stop(); }
  // Opens the output with the source's format and starts the thread: 0, or 1 when the output
  // refuses the format (the host then tries another plug-in).
  int Play(std::unique_ptr<TPluginSource> source);
  // Ends the thread and drops the source.
  void Stop();
  int LengthMs() const { return Length_; }
  void RequestSeek(int ms);
  void SetPaused(bool paused) { Paused_ = paused; }
  bool Paused() const { return Paused_; }

private:
  void Run();
  // Writes the block as the output makes room; false when told to stop or seek meanwhile.
  bool WriteBlock(std::vector<int16_t>& block);
  void Sleep() const;

  In_Module& Module_;
  std::unique_ptr<TPluginSource> Source_;
  std::thread Thread_;
  std::atomic<bool> Stop_{false}, Paused_{false};
  std::atomic<int> SeekTo_{-1};
  int Length_ = 0;
};

// The module record of a plug-in that plays TPluginSource objects, with every entry point filled
// in (one per library: the record and its playback are the library's own statics). open makes
// the source for a file, or nullptr when it cannot play it.
using TSourceOpener = std::unique_ptr<TPluginSource> (*)(const char* path);
In_Module& DefineInputModule(const char* description, const char* extensions, TSourceOpener open);

// The value of a Vorbis comment field (case-insensitive name) among "NAME=value" entries.
std::string CommentValue(const std::vector<std::string>& comments, const char* name);

// Answers an extended-info request from a file's Vorbis comments and format: 1 with the value in
// ret (cut to retlen - 1 bytes at a character), 0 when there is none.
int AnswerFileInfo(const std::vector<std::string>& comments, int lengthMs, int bitrateKbps, int sampleRate,
                   int channels, const char* field, char* ret, int retlen);

}  // namespace mlplugin
