// minilirra-service: the online service in one process.
//   minilirra-service --db PATH [--config FILE] [--address ADDR] [--list-port N] [--port N]
//                     [--advertise ADDR[:PORT]]
//   minilirra-service admin --db PATH add-user NAME PASSWORD | list-users |
//                     set-notice TEXT | set-update VERSION SIZE MD5 [KIND] | set-list-version N |
//                     set-servers SLOT [ADDR:PORT...] | list-servers

#include "net/IPv4Text.h"
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "service/Service.h"
#include "base/GbkText.h"
#include "base/LRMD5.h"
#include "base/StrUtil.h"

using namespace mlsvc;

namespace {

constexpr uint32_t kAccountLow = 10000, kAccountHigh = 99999999;

int Usage() {
  std::fprintf(stderr,
               "usage: minilirra-service --db PATH [--config FILE] [--address ADDR] [--list-port N] [--port N]\n"
               "                         [--advertise ADDR[:PORT]]\n"
               "       minilirra-service admin --db PATH add-user NAME PASSWORD\n"
               "       minilirra-service admin --db PATH list-users\n"
               "       minilirra-service admin --db PATH set-notice TEXT\n"
               "       minilirra-service admin --db PATH set-update VERSION SIZE MD5 [KIND]\n"
               "       minilirra-service admin --db PATH set-list-version N\n"
               "       minilirra-service admin --db PATH set-servers SLOT [ADDR:PORT...]\n"
               "       minilirra-service admin --db PATH list-servers\n");
  return 2;
}

bool ParsePort(const std::string& text, uint16_t& port) {
  const auto v = ml::ParseInt(text);
  if (!v || *v < 0 || *v > 65535) return false;
  port = uint16_t(*v);
  return true;
}

// The form a client proves: the MD5 digest of the password's GBK bytes.
std::array<uint8_t, 16> PasswordDigest(const std::string& utf8) {
  return ml::LRMD5::MD5String(ml::Utf8ToGbk(utf8)).v;
}

int Admin(const std::string& db, const std::vector<std::string>& a) {
  TServiceStore store(db);
  if (a.empty()) return Usage();
  const std::string& cmd = a[0];
  if (cmd == "add-user" && a.size() == 3) {
    const std::string& name = a[1];
    if (name.empty() || ml::Utf8ToGbk(name).size() > 255 || !ml::IsValidUtf8(name) ||
        std::isdigit(static_cast<unsigned char>(name[0]))) {
      std::fprintf(stderr, "error: a user name is 1..255 bytes and does not start with a digit\n");
      return 1;
    }
    if (a[2].empty()) {
      std::fprintf(stderr, "error: empty password\n");
      return 1;
    }
    if (store.AccountByName(name)) {
      std::fprintf(stderr, "error: user name '%s' is taken\n", name.c_str());
      return 1;
    }
    const std::string verifier = MakeVerifier(PasswordDigest(a[2]), TArgonCost());
    for (int tries = 0; tries < 100; ++tries) {
      const auto id = int32_t(SecureRandomRange(kAccountLow, kAccountHigh));
      if (store.AddAccount({id, name, verifier})) {
        std::printf("%d\n", id);
        return 0;
      }
      if (store.AccountByName(name)) break;
    }
    std::fprintf(stderr, "error: could not add the account\n");
    return 1;
  }
  if (cmd == "list-users" && a.size() == 1) {
    for (const TAccount& acc : store.Accounts()) std::printf("%d\t%s\n", acc.UserID, acc.UserName.c_str());
    return 0;
  }
  if (cmd == "set-notice" && a.size() == 2) {
    store.SetSetting("notice", a[1]);
    return 0;
  }
  if (cmd == "set-list-version" && a.size() == 2) {
    const auto v = ml::ParseInt(a[1]);
    if (!v || *v < 1 || *v > 65535) {
      std::fprintf(stderr, "error: version is 1..65535\n");
      return 1;
    }
    store.SetSetting("list_version", std::to_string(*v));
    return 0;
  }
  if (cmd == "set-servers" && a.size() >= 2) {
    const auto slot = ml::ParseInt(a[1]);
    if (!slot || *slot < 1 || *slot > 32 || a.size() - 2 > 10) {
      std::fprintf(stderr, "error: set-servers SLOT(1..32) [ADDR:PORT]... (10 at most)\n");
      return 1;
    }
    std::vector<std::pair<uint32_t, uint16_t>> servers;
    for (size_t i = 2; i < a.size(); ++i) {
      uint32_t ip = 0;
      uint16_t port = 0;
      if (!ml::ParseIPv4Endpoint(a[i], ip, port)) {
        std::fprintf(stderr, "error: bad server %s (ADDR:PORT)\n", a[i].c_str());
        return 1;
      }
      servers.emplace_back(ip, port);
    }
    store.SetSlotServers(int(*slot), servers);
    return 0;
  }
  if (cmd == "list-servers" && a.size() == 1) {
    std::printf("version %s\n", store.Setting("list_version", "7").c_str());
    for (const TServerRow& r : store.Servers()) {
      std::printf("%d\t%s:%u\n", r.Slot, ml::IPv4Text(r.IP).c_str(), unsigned(r.Port));
    }
    return 0;
  }
  if (cmd == "set-update" && (a.size() == 4 || a.size() == 5)) {
    TUpdateRecord u;
    const auto version = ml::ParseInt(a[1]);
    const auto size = ml::ParseInt(a[2]);
    const ml::TMD5Digest d = ml::LRMD5::MD5StrToDigest(a[3]);
    const auto kind = a.size() == 5 ? ml::ParseInt(a[4]) : std::optional<int64_t>(1);
    if (!version || *version < 0 || *version > 65535 || !size || *size < 0 || *size > INT32_MAX ||
        ml::LRMD5::MD5DigestIsZero(d) || !kind || *kind < 0 || *kind > 255) {
      std::fprintf(stderr, "error: set-update VERSION(0..65535) SIZE(bytes) MD5(32 hex digits) [KIND 0..255]\n");
      return 1;
    }
    u.NewestVersion = uint16_t(*version);
    u.FileSize = int32_t(*size);
    u.Digest = d.v;
    u.Kind = uint8_t(*kind);
    store.SetUpdate(u);
    return 0;
  }
  return Usage();
}

int Serve(const std::vector<std::string>& args) {
  TServiceConfig cfg;
  std::string configPath;
  for (size_t i = 0; i + 1 < args.size(); i += 2)
    if (args[i] == "--config") configPath = args[i + 1];
  if (!configPath.empty()) {
    std::string error;
    if (!LoadServiceConfig(configPath, cfg, error)) {
      std::fprintf(stderr, "error: %s\n", error.c_str());
      return 1;
    }
  }
  if (args.size() % 2) return Usage();
  for (size_t i = 0; i < args.size(); i += 2) {
    const std::string& k = args[i];
    const std::string& v = args[i + 1];
    bool ok = true;
    if (k == "--db") cfg.DbPath = v;
    else if (k == "--config") continue;
    else if (k == "--address") ok = ml::ParseIPv4(v, cfg.Address);
    else if (k == "--port") ok = ParsePort(v, cfg.Port);
    else if (k == "--list-port") ok = ParsePort(v, cfg.ListPort);
    else if (k == "--advertise") {
      const auto colon = v.find(':');
      ok = ml::ParseIPv4(v.substr(0, colon), cfg.AdvertiseIP) &&
           (colon == std::string::npos || ParsePort(v.substr(colon + 1), cfg.AdvertisePort));
    } else return Usage();
    if (!ok) {
      std::fprintf(stderr, "error: bad value for %s: %s\n", k.c_str(), v.c_str());
      return 2;
    }
  }
  if (cfg.DbPath.empty()) return Usage();

  // Signals are taken by sigwait on this thread; every thread started later inherits the mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  TService service(cfg);
  service.Start();
  std::printf("minilirra-service: list port %u, port %u\n", service.ListPort(), service.Port());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&set, &sig);
  service.Stop();
  std::printf("minilirra-service: stopped (%s)\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (!args.empty() && args[0] == "admin") {
      if (args.size() < 3 || args[1] != "--db") return Usage();
      return Admin(args[2], std::vector<std::string>(args.begin() + 3, args.end()));
    }
    return Serve(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}
