#pragma once
// The tag readers as a registry: one ordered table of the readers that can stand for a file in
// the merged record, each with its name, the extensions of the files it is for, and its factory.
#include "media/TagReader.h"

#include <memory>
#include <string>
#include <vector>

namespace ml {

struct TTagReaderEntry {
  const char* Name;
  std::vector<std::string> Extensions;  // lower case, without the dot; empty: any file
  std::unique_ptr<TMediaReader> (*Create)();
};

// Every row reads every file; the merged record takes the findings of the first row that
// recognised it. The containers come first, MPEG (nearly every file) ahead of the rest; since a
// frame search could take another container's audio for frames, the MPEG reader refuses files
// that start as one. The input plug-ins answer for the files they claim that no reader of ours
// knows (FLAC). The APE tag comes last: any file may carry one, and its fields count only
// for a file that no container reader knows.
const std::vector<TTagReaderEntry>& TagReaderRegistry();

}  // namespace ml
