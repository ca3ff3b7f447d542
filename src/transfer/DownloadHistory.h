#pragma once
// TDownloadHistory: "SaveDownFiles.xml", the unfinished downloads that survive a restart. Root
// "CurrentDown" with "MaxDownID" (the highest index handed out) and "DownFiles", one "File" per
// job keyed by its "DownIndex" attribute. Each change is saved whole to a temporary file and
// renamed over the old one; the transfer manager's worker is its only writer.
#include <cstdint>
#include <string>
#include <vector>

#include "base/LRMD5.h"
#include "xml/XmlDocument.h"

namespace ml {

struct THistoryEntry {
  int32_t DownIndex = -1;
  std::string FileName, DestFileName, TempFileName;
  int64_t FileSize = 0;
  XmlTime DownTime{};
  TMD5Digest FileHash;
  int32_t BitRate = 0, SampleRate = 0, Channels = 0, OwnerCount = 0, CountTimeStamp = 0, DownType = 0;
  int32_t MusicID = -1;
  std::string RecvTable;  // TBlockMap::RecvTableHex
};

class TDownloadHistory {
public:
  explicit TDownloadHistory(std::string path) : path_(std::move(path)) {}

  // Reads the file. A file that is missing starts an empty history; one that is not a history
  // (another root, another shape, a negative MaxDownID) is rebuilt empty and saved, and problem
  // says so. Returns the entries in document order.
  std::vector<THistoryEntry> Load(std::string* problem = nullptr);
  // Writes the entry under its index, or under a new one (stored back into entry), and saves.
  bool Write(THistoryEntry& entry);
  // Deletes the entry of index and saves; nothing when there is none.
  bool Remove(int32_t index);
  const std::string& Path() const { return path_; }

private:
  void Rebuild();
  bool Save();
  TXmlNode Files() const;

  std::string path_;
  TXmlDocument doc_;
};

}  // namespace ml
