#pragma once
// The music library and the player's settings of the data folder, as the commands that read or
// change them open them.
#include <memory>
#include <string>

#include "base/EventLoop.h"
#include "cli/CliCommand.h"
#include "library/MusicFileMgr.h"

namespace ml {
class TSettingMgr;
}

namespace mlcli {

// The library as the data folder holds it, loaded (a damaged file is moved aside and the
// previous save used) for one command.
struct Library {
  ml::EventLoop loop;  // duplicate merges are handed to this thread while it waits for the digests
  ml::TMusicFileMgr mgr{&loop};
  std::string file;
};

// Null, after a message on standard error, when the library could not be read.
std::unique_ptr<Library> LoadLibrary(CliContext& ctx);
// False, after a message on standard error, when the library could not be written.
bool SaveLibrary(Library& lib);

// The player's settings of the data folder, read without ever being written back.
std::unique_ptr<ml::TSettingMgr> LoadPlayerSettings(CliContext& ctx);

}  // namespace mlcli
