#pragma once
// Input plug-in libraries (InExtend/in_*.so): loading one, what it claims to play, and the tags it
// can read. The playback engine plays through them (playback/uExtendDecoder.h); the tag readers
// and the command line ask them what they take. The record layouts are the plug-in SDK's
// (plugins/sdk/InputModule.h), which only the files that fill or call the records include.
#include <string>
#include <vector>

struct In_Module;

namespace ml {

// One loaded library; unloaded when the object dies. The library's own state (its In_Module) is
// shared by every handle of the process to the same file: the loader keeps one copy of it.
class TInputPluginLibrary {
public:
  TInputPluginLibrary() = default;
  ~TInputPluginLibrary();
  TInputPluginLibrary(const TInputPluginLibrary&) = delete;
  TInputPluginLibrary& operator=(const TInputPluginLibrary&) = delete;

  // Loads the library and checks its module record: the entry point, the interface version,
  // UsesOutputPlug (a plug-in that plays by itself is refused: our effects and outputs come
  // after every decoder) and a list of extensions. False with the reason otherwise.
  bool Load(const std::string& path, std::string& why);
  void Unload();
  bool IsLoaded() const { return Module_ != nullptr; }
  In_Module& Module() { return *Module_; }
  void* Handle() const { return Handle_; }
  // What the library says of a file through its extended-info entry ("title", "length", ...);
  // empty when it has no such entry or does not know.
  std::string FileInfo(const std::string& file, const char* field) const;
  bool HasFileInfo() const { return FileInfo_ != nullptr; }

private:
  void* Handle_ = nullptr;
  In_Module* Module_ = nullptr;
  int (*FileInfo_)(const char* file, const char* field, char* ret, int retlen) = nullptr;
};

struct TInputPluginInfo {
  std::string Path;
  std::string Description;
  std::vector<std::string> Extensions;  // lower case, without the dot
};

struct TInputPluginRefusal {
  std::string Path;
  std::string Reason;
};

struct TInputPluginScan {
  std::vector<TInputPluginInfo> Plugins;  // in the order they are tried: by file name
  std::vector<TInputPluginRefusal> Refused;
};

// A file name's extension in lower case, without the dot; empty when it has none. The plug-ins,
// the decoder table and the command line all go by it.
std::string FileExtensionOf(const std::string& path);

// The extensions of a FileExtensions list ("ogg;oga\0Ogg Vorbis\0flac\0FLAC\0\0"), lower case.
std::vector<std::string> ParseExtensionList(const char* list);

// Every in_*.so in folder, probed by loading it once.
TInputPluginScan ScanInputPlugins(const std::string& folder);

// The program's plug-in folder: InExtend/ beside the program binaries.
std::string InputPluginFolder();
// That folder, scanned once per process.
const TInputPluginScan& InstalledInputPlugins();

// What the installed plug-ins claim, together, in the order found.
std::vector<std::string> InstalledPluginExtensions();

// The installed plug-in that claims the file's extension, or nullptr.
const TInputPluginInfo* InputPluginForFile(const std::string& path);

}  // namespace ml
