#pragma once
// The decoder family as a registry: one ordered table of the decoders this build has, each with
// its name, the file extensions it is tried first for, and its factory. The engine builds one
// decoder of each row and keeps it for every song.
#include "playback/uDecoderModule.h"

#include <memory>
#include <string>
#include <vector>

namespace ml {

struct TDecoderEntry {
  const char* Name;
  std::vector<std::string> Extensions;  // lower case, without the dot
  std::unique_ptr<TDecoderModule> (*Create)();
};

// The order is the order of trial: a file goes first to the decoder its extension names, then to
// every other row in this order until one opens it. MPEG comes first because it is what nearly
// every file is, and it checks the most (two frame headers in a row) before it says yes; WAV's
// "RIFF....WAVE" and WMA's header GUID can never be mistaken. The input plug-ins' row, which
// may claim anything, belongs last; its extensions are those the installed plug-ins claim.
const std::vector<TDecoderEntry>& DecoderRegistry();

// The row whose extensions include the file name's extension (case-insensitive), else -1.
int DecoderForExtension(const std::string& fileName);

// One decoder of every row, in the table's order.
std::vector<std::unique_ptr<TDecoderModule>> CreateDecoders();

// Opens fileName with the first of decoders (one per row, as CreateDecoders makes them) that
// takes it: the row its extension names first, then the others in order. Returns that index, or
// -1 with why (the first refusal of a decoder that knew the file's kind; empty when none did).
int OpenWithFirstDecoder(const std::vector<std::unique_ptr<TDecoderModule>>& decoders, const std::string& fileName,
                         bool shareWrite, std::string& why,
                         std::shared_ptr<const IArrivedBytes> arrived = nullptr);

// Whether a decoder or an installed plug-in claims the file's extension: the files the command
// line plays, reads and adds to the library.
bool IsPlayableExtension(const std::string& fileName);
// Every extension some row claims, in the table's order.
std::vector<std::string> PlayableExtensions();
// The same as a folder scan takes them: ".MP3|.WMA|...".
std::string PlayableExtensionsPattern();
// Why the command line does not take the file (empty when a row claims its extension).
std::string NotPlayableReason(const std::string& fileName);

}  // namespace ml
