#pragma once
// The components of the services module that later parts of the program bring: the transfer
// manager, the programme-list manager and the update package's download. Until they exist the
// module runs with the null objects below, which do nothing and say so.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/LRMD5.h"

namespace ml {

// What the module sets up in the transfer manager when it is created.
struct TTransferSetup {
  std::string HistoryFile;       // AppDir + "SaveDownFiles.xml"
  std::string TempFolder;        // DefaultDownPath + "Temp/"
  int32_t MaxDownBandwidth = 0;  // DownSpeed
  uint8_t NetKind = 0;           // the user's address kind
};

class ITransferManager {
public:
  virtual ~ITransferManager() = default;
  // Activates it (the file it released but could not delete comes back through
  // TDM::TempFileReleased).
  virtual void Activate(const TTransferSetup& setup) = 0;
  // The service told us our address kind; on a UDP worker.
  virtual void SetNetKind(uint8_t netKind) = 0;
  virtual void Deactivate() = 0;
};

class TNullTransferManager final : public ITransferManager {
public:
  void Activate(const TTransferSetup&) override {}
  void SetNetKind(uint8_t) override {}
  void Deactivate() override {}
};

// The programme-list manager: parses a programme list from a web page and gives it to the
// playlist (replacing the current one or adding, as arg says). Returns the list's name when one
// came out.
class IProgrammeLists {
public:
  virtual ~IProgrammeLists() = default;
  virtual std::optional<std::string> TakeProgrammeList(const std::string& text, uint8_t arg) = 0;
};

class TNullProgrammeLists final : public IProgrammeLists {
public:
  std::optional<std::string> TakeProgrammeList(const std::string&, uint8_t) override { return std::nullopt; }
};

// The update package's resumable HTTP download.
struct TUpdateDownload {
  std::string Url;
  std::string Referrer;
  std::string DestPath;  // AppDir + "Up/NewUpdate.lru"
  int64_t ExpectedSize = 0;
  TMD5Digest ExpectedDigest;
};

class IUpdateDownloader {
public:
  virtual ~IUpdateDownloader() = default;
  // Starts the download; done(ok) follows once, on any thread. False (and no done) when it could
  // not start.
  virtual bool Start(const TUpdateDownload& job, std::function<void(bool ok)> done) = 0;
  // Stops a download; done is not called once this returns.
  virtual void Cancel() = 0;
};

class TNullUpdateDownloader final : public IUpdateDownloader {
public:
  bool Start(const TUpdateDownload&, std::function<void(bool)>) override { return false; }
  void Cancel() override {}
};

}  // namespace ml
