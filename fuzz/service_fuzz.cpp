// First byte picks the reader: 0 the server-list cache file, 1 a server-list request, 2 a
// keep-alive request (as the service reads them after the envelope was opened).
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "service/Service.h"
#include "net/uServerListManager.h"

namespace {

mlsvc::TService& Service() {
  static std::unique_ptr<mlsvc::TService> service = [] {
    char tmpl[] = "/tmp/ml-service-fuzz-XXXXXX";
    static const std::string folder = ::mkdtemp(tmpl);
    std::atexit([] { std::filesystem::remove_all(folder); });
    mlsvc::TServiceConfig cfg;
    cfg.DbPath = folder + "/fuzz.db";
    cfg.Port = 0;
    cfg.ListPort = 0;
    cfg.ListRate = cfg.ListBurst = 1e9;
    return std::make_unique<mlsvc::TService>(cfg);
  }();
  return *service;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t* p = data + 1;
  const size_t n = size - 1;
  uint8_t out[1447];
  switch (data[0] % 3) {
    case 0: {
      uint16_t version = 0;
      std::vector<ml::TServerEntry> entries;
      if (ml::TServerListManager::ParseCache(std::string_view(reinterpret_cast<const char*>(p), n), version, entries) &&
          !entries.empty() && 6 + 8 * entries.size() > n)
        std::abort();  // more entries than the bytes can hold
      break;
    }
    case 1:
      if (Service().AnswerListRequest(p, n, htonl(INADDR_LOOPBACK), out, sizeof out) > sizeof out) std::abort();
      break;
    case 2:
      if (Service().AnswerKeepAlive(p, n, htonl(INADDR_LOOPBACK), 7000, out, sizeof out) != 0) std::abort();  // no session
      break;
  }
  return 0;
}
