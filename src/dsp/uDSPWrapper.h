#pragma once
// The DSP plug-in host: libraries named dsp_*.so in a folder, each behind an item with a thread
// of its own. Every call into a plug-in (load, Init, Config, Quit and ModifySamples alike) runs on
// that item's thread, and every caller waits for it with a time-out: a plug-in that hangs is
// switched off and left behind with a message instead of stopping the engine or the window.
// ModifySamples works on the item's own copy of the block, so a plug-in left behind can never
// write into the engine's buffer later. (A plug-in that crashes takes the process with it, as any
// library would.)
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ml {

struct TDSPPluginState;

class TDSPThreadedPluginItem {
public:
  // Starts the item's thread and loads the library there, waiting at most timeout. Loaded()
  // tells whether it qualified; LoadError() why not.
  TDSPThreadedPluginItem(std::string fileName, std::chrono::milliseconds timeout);
  // Quits the active module and unloads the library, waiting at most the time-out.
  ~TDSPThreadedPluginItem();
  TDSPThreadedPluginItem(const TDSPThreadedPluginItem&) = delete;
  TDSPThreadedPluginItem& operator=(const TDSPThreadedPluginItem&) = delete;

  bool Loaded() const;
  const std::string& LoadError() const { return loadError_; }
  const std::string& Filename() const { return fileName_; }
  std::string PluginName() const;  // the header's description
  int ModuleCount() const;
  std::string ModuleName(int index) const;
  int ActiveModule() const;

  std::atomic<bool> Enabled{false};
  // Quits the active module and starts module index (Init on the item's thread). False with
  // Error() when the index is out of range, Init failed, or the plug-in did not answer in time.
  bool StartModule(int index);
  void StopModule();
  void ConfigureModule();  // does not wait: a configuration window may stay open
  // The plug-in stopped answering and was left behind; it takes no more calls.
  bool Hung() const;
  std::string Error() const;
  // True once, the first time it is asked after the plug-in hung: the drop is reported once.
  bool TakeHungReport() { return Hung() && !hungReported_.exchange(true); }

  // Engine thread: the block through the active module. Returns the new byte length: the frames
  // the module returned, cut to capacity; the length unchanged when the module returned 0, is
  // not running, or did not answer in time (the block is then left as it came).
  uint32_t ModifySamples(uint8_t* block, uint32_t bytes, uint32_t capacity, int sampleRate, int channels, int bits);

private:
  std::string fileName_;
  std::string loadError_;
  std::chrono::milliseconds timeout_;
  std::atomic<bool> hungReported_{false};
  std::shared_ptr<TDSPPluginState> state_;  // shared with the thread, which may outlive the item
};

// A file of the folder that is not a usable plug-in, and why.
struct TDSPRefusal {
  std::string FileName;
  std::string Reason;
};

class TDSPThreadedPluginList {
public:
  ~TDSPThreadedPluginList() { Clear(); }

  // How long a call into a plug-in may take before the plug-in is dropped.
  std::chrono::milliseconds Timeout{1000};
  // A plug-in was dropped (it hung): the message says which and why. Called on the thread that
  // was waiting for it (the engine's or the caller's).
  std::function<void(const std::string& message)> OnPluginDropped;

  // Loads every dsp_*.so of dir that qualifies (in name order); the same folder again does
  // nothing. A trailing "/" is added when missing.
  void SetDirectory(std::string dir);
  const std::string& Directory() const { return directory_; }
  void Clear();

  size_t Count() const;
  std::shared_ptr<TDSPThreadedPluginItem> Item(size_t index) const;
  const std::vector<TDSPRefusal>& Refused() const { return refused_; }
  // The item whose library file name (without folder) is name, or -1.
  int IndexOf(const std::string& fileName) const;

  bool StartPlugin(size_t index, int module);
  void StopPlugin(size_t index);
  void ConfigurePlugin(size_t index);

  // Engine thread: the block through every enabled plug-in in order. Integer PCM only; a float
  // block is left alone. Returns the new length (never above capacity).
  uint32_t ProcessBuffer(uint8_t* block, uint32_t bytes, uint32_t capacity, bool isFloat, int sampleRate, int channels,
                         int bits);

private:
  void ReportIfHung(TDSPThreadedPluginItem& item);

  std::string directory_;
  mutable std::mutex mutex_;  // the item list: changed by the main thread, read by the engine
  std::vector<std::shared_ptr<TDSPThreadedPluginItem>> items_;
  std::vector<TDSPRefusal> refused_;
};

}  // namespace ml
