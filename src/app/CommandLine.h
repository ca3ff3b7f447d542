#pragma once
// The program's command line: the start mode, the argument list that adds files to the playlist
// ("/open", "/list", "/link"), and the encoding in which a second instance hands its arguments to
// the running one.
#include "base/Dispatcher.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ml {

enum class TStartMode { Saved, Main, Mini };

// "/MainMode" or "/MiniMode" as the first argument, exact case; anything else keeps the saved mode.
TStartMode ParseStartMode(const std::vector<std::string>& args);

// Where the argument list's actions go; the playlist controller implements it.
class ICommandLineTarget {
public:
  virtual ~ICommandLineTarget() = default;
  // A forwarded list arrives: drop the playlist selection before adding.
  virtual void ClearPlaylistSelection() = 0;
  // Adds the file to the current playlist and, with play, plays it.
  virtual void AddFileFromCommandLine(const std::string& path, bool play) = 0;
};

// Reads argument lists as commands. "/open" plays only when the previous list was handled (or
// the main window shown) at least OpenRepeatGap ago, so a selection of many files opened from the
// file manager, which arrives as one list per file, plays the first and queues the rest.
class TCommandLineHandler {
public:
  static constexpr Millis OpenRepeatGap{1500};

  TCommandLineHandler(ICommandLineTarget& target, const TClock& clock);

  // Handles one list (the program's own arguments or a forwarded list) and records the time.
  void HandleArguments(const std::vector<std::string>& args);
  // A list handed over by a second instance: clears the selection first.
  void HandleForwarded(const std::vector<std::string>& args);
  // The main window has been shown: the time counts as a handled list.
  void MarkHandled();

private:
  ICommandLineTarget& target_;
  const TClock& clock_;
  std::optional<Millis> lastHandled_;
};

// The hand-off buffer: each argument as a one-byte length and its bytes, at most
// ForwardBufferSize bytes in all.
inline constexpr std::size_t ForwardBufferSize = 4066;
inline constexpr std::size_t MaxForwardedArgBytes = 255;

// Encodes the arguments in order. Encoding stops at the first argument that does not fit (longer
// than 255 bytes or past the buffer's end) so no later argument loses its partner; *written, when
// given, gets the number of arguments encoded. An empty argument also ends the list for the
// receiver, so encoding stops there as well.
std::string EncodeForwardedArgs(const std::vector<std::string>& args, std::size_t* written = nullptr);

// Decodes a hand-off buffer: strings until the data is used up or an empty string is read.
// nullopt when the buffer is larger than ForwardBufferSize or a length runs past its end.
std::optional<std::vector<std::string>> DecodeForwardedArgs(std::string_view data);

// The arguments a second instance forwards: the paths after "/open" and "/list" made absolute
// against cwd, since the running instance has a working folder of its own.
std::vector<std::string> AbsolutizeCommandPaths(const std::vector<std::string>& args, const std::string& cwd);

}  // namespace ml
