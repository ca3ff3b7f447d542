#pragma once
// The output family as a registry: one ordered table of the outputs this build has, each with
// the word that names it on the command line, how it takes a device, its factory and, where the
// system has one, its device list. Parsing, describing and building an output all go through
// the table, so an output added here is known everywhere.
#include "playback/uOutputModule.h"

#include <memory>
#include <string>
#include <vector>

namespace ml {

// Which output to build. The first two are the settings' device types (0 = the sound server,
// 1 = the sound card) and keep those numbers.
enum class TOutputKind { Pulse = 0, Alsa = 1, WavFile = 2, Null = 3 };

struct TOutputTarget {
  TOutputKind Kind = TOutputKind::Pulse;
  std::string Device;  // sink or PCM name ("" = default), or the WAV file's path
  // The settings name a device by its place in the kind's device list; it is looked up when the
  // output is built (on the engine's thread: reading a list may wait for the sound server). -1:
  // Device says which.
  int DeviceIndex = -1;
  bool operator==(const TOutputTarget&) const = default;
};

struct TOutputDevice {
  std::string Id;  // what goes after the colon ("" = the default device)
  std::string Description;
};

// How the text after "NAME:" is taken.
enum class TOutputDeviceArg { Optional, Required, None };

struct TOutputEntry {
  TOutputKind Kind;
  const char* Name;           // the word of "--output NAME[:DEVICE]"
  const char* Label;          // for lists and messages: "PulseAudio"
  const char* DefaultDevice;  // what an empty device means, for messages: "default sink"
  TOutputDeviceArg DeviceArg;
  const char* DeviceWord;     // what the device is, for usage texts: "SINK", "PATH"
  std::unique_ptr<TOutputModule> (*Create)(const std::string& device);
  std::vector<TOutputDevice> (*Devices)();  // null: no device list
};

// In the order a player without a setting tries them: the sound server, the sound card, then
// the outputs that need no hardware (a file, and nothing at all).
const std::vector<TOutputEntry>& OutputRegistry();
const TOutputEntry* FindOutput(TOutputKind kind);

// "pulse[:SINK]", "alsa[:PCM]", "wav:PATH", "null". False on anything else.
bool ParseOutputTarget(const std::string& text, TOutputTarget& target);
// The forms ParseOutputTarget takes, for usage texts: "pulse[:SINK], alsa[:PCM], wav:PATH or null".
std::string OutputTargetForms();
// "PulseAudio default sink", "WAV file /tmp/x.wav", ... for messages.
std::string DescribeOutputTarget(const TOutputTarget& target);

}  // namespace ml
