#pragma once
// The process-wide objects, created once in a fixed order at start-up and freed in a fixed
// order at shutdown. This is the one place that knows both orders; each later subsystem adds
// its singleton here.
#include <string>

namespace ml {

class TRegistryStore;
class TSettingMgr;

struct TGlobalsConfig {
  std::string AppDir;          // with trailing "/"
  std::string ExeBaseName;     // names the settings file and its root element
  std::string AppTitle;
  std::string ExecutablePath;
};

// Creates the registry stand-in and then, in order, the settings manager on
// AppDir + ExeBaseName + ".xml" (loaded at once). Throws if called twice without FreeGlobals.
void CreateGlobals(const TGlobalsConfig& config);
// Frees in the shutdown order: the settings manager saves on the way. Safe to call twice.
void FreeGlobals();
bool GlobalsCreated();

TSettingMgr& SettingMgr();
TRegistryStore& Registry();

}  // namespace ml
