#pragma once
// Builds the output that the settings or the command line choose, through the output registry.
#include "playback/OutputRegistry.h"

#include <memory>
#include <string>

namespace ml {

class TOutputModuleFactory {
public:
  // Builds the output; a device named by its index is looked up in the kind's list here (an index
  // beyond the list means the default device).
  static std::unique_ptr<TOutputModule> Create(const TOutputTarget& target);
  // kind 0: the sound server's sink of that index in the device list, kind 1: the sound card of
  // that index; a negative index means the default device. Reads no device list.
  static TOutputTarget TargetFor(int kind, int deviceIndex);
  // Opens and closes the device with a CD-quality format: does this output play here?
  static bool Probe(const TOutputTarget& target);
  // The first output of the registry's order whose default device plays here (the sound server,
  // else the sound card), else the null output, with message saying so (empty when a device
  // was found).
  static TOutputTarget DefaultTarget(std::string& message);
};

}  // namespace ml
