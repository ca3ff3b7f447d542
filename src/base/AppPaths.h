#pragma once
// Where the program lives and where it keeps its data.
#include <string>

namespace ml {

// Full path of the running executable, and its folder with a trailing "/".
std::string ExecutablePath();
std::string ExecutableDir();

// AppDir, the base of every data file, with a trailing "/": dataDirOverride when given (the
// --data-dir option), else the program's own folder when a file named "portable" sits in it (a
// portable install), else $XDG_DATA_HOME/MiniLirra/ (~/.local/share/MiniLirra/). A writable
// program folder alone is not enough: a build folder or a bin folder is no home for a user's
// library. The folder is created.
std::string ResolveAppDir(const std::string& dataDirOverride, const std::string& exeDir = ExecutableDir());

// Per-user folder for lock files and the local socket: $XDG_RUNTIME_DIR, else a 0700 folder
// /tmp/minilirra-UID that we own.
std::string RuntimeDir();

}  // namespace ml
