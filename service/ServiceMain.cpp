// minilirra-service: the online service in one process, and its admin commands. CLI11 parses the
// command line from the options declared here, which also make the usage text.
#include "base/GbkText.h"
#include "base/LRMD5.h"
#include "base/SecretInput.h"
#include "base/Version.h"
#include "net/IPv4Text.h"
#include "service/CatalogueImport.h"
#include "service/Service.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace mlsvc;

namespace {

constexpr const char* kProgram = "minilirra-service";
constexpr int kUsageError = 2;

// The form a client proves: the MD5 digest of the password's GBK bytes.
std::array<uint8_t, 16> PasswordDigest(const std::string& utf8) {
  return ml::LRMD5::MD5String(ml::Utf8ToGbk(utf8)).v;
}

CLI::Validator IPv4Address() {
  return CLI::Validator(
      [](std::string& v) -> std::string {
        uint32_t ip = 0;
        return ml::ParseIPv4(v, ip) ? "" : "takes an IPv4 address";
      },
      "");
}

// What the command line may set; what it leaves unset comes from the configuration file.
struct ServeOptions {
  std::string db, config, address, advertise, log;
  std::optional<uint16_t> port, listPort;
  bool create = false;
};

// "ADDR" or "ADDR:PORT".
bool ParseAdvertise(const std::string& v, uint32_t& ip, uint16_t& port) {
  if (v.find(':') == std::string::npos) return ml::ParseIPv4(v, ip);
  return ml::ParseIPv4Endpoint(v, ip, port);
}

int Serve(const ServeOptions& o) {
  TServiceConfig cfg;
  if (!o.config.empty()) {
    std::string error;
    if (!LoadServiceConfig(o.config, cfg, error)) {
      std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
      return 1;
    }
  }
  if (!o.db.empty()) cfg.DbPath = o.db;
  cfg.CreateDb = o.create;
  if (!o.log.empty()) ParseLogLevel(o.log, cfg.LogLevel);
  if (!o.address.empty()) ml::ParseIPv4(o.address, cfg.Address);
  if (o.port) cfg.Port = *o.port;
  if (o.listPort) cfg.ListPort = *o.listPort;
  if (!o.advertise.empty()) ParseAdvertise(o.advertise, cfg.AdvertiseIP, cfg.AdvertisePort);
  if (cfg.DbPath.empty()) {
    std::fprintf(stderr, "%s: no database: give --db PATH (or db in the configuration)\n", kProgram);
    return kUsageError;
  }

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
  service.Log().Write(TLogLevel::Info, "listening on %s, UDP ports %u (server list) and %u, database %s",
                      cfg.Address ? ml::IPv4Text(cfg.Address).c_str() : "every interface", service.ListPort(),
                      service.Port(), cfg.DbPath.c_str());
  int sig = 0;
  sigwait(&set, &sig);
  service.Stop();
  std::printf("minilirra-service: stopped (%s)\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
  service.Log().Write(TLogLevel::Info, "stopped (%s), %zu sessions kept", sig == SIGINT ? "SIGINT" : "SIGTERM",
                      service.SessionCount());
  return 0;
}

// The first line of a file or of standard input, without its line end; nullopt when unreadable.
// From a terminal it asks, and does not echo what is typed.
std::optional<std::string> ReadPassword(const std::string& file) {
  std::string line;
  if (!file.empty()) {
    std::ifstream in(file);
    if (!in || !std::getline(in, line)) return std::nullopt;
  } else {
    const auto typed = ml::ReadSecretLine("password: ");
    if (!typed) return std::nullopt;
    line = *typed;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int AddUser(TServiceStore& store, const std::string& name, const std::string& password) {
  if (name.empty() || ml::Utf8ToGbk(name).size() > 255 || !ml::IsValidUtf8(name) ||
      std::isdigit(static_cast<unsigned char>(name[0]))) {
    std::fprintf(stderr, "error: a user name is 1..255 bytes and does not start with a digit\n");
    return 1;
  }
  if (password.empty()) {
    std::fprintf(stderr, "error: empty password\n");
    return 1;
  }
  if (const auto id = store.CreateAccount(name, MakeVerifier(PasswordDigest(password), TArgonCost()))) {
    std::printf("%d\n", *id);
    return 0;
  }
  std::fprintf(stderr, "error: user name '%s' is taken\n", name.c_str());
  return 1;
}

struct AdminOptions {
  std::string db, name, password, passwordFile, notice, md5;
  int version = 0, listVersion = 0, slot = 0, kind = 1;
  int64_t size = 0;
  std::vector<std::string> servers, folders;
};

// Adds the songs of folders to the catalogue; on a terminal a progress line rewrites itself.
int Import(const std::string& db, const std::vector<std::string>& folders) {
  TCatalogue catalogue(db);
  const bool terminal = ::isatty(STDERR_FILENO);
  const auto progress = [&](const TImportCounts& c) {
    if (terminal)
      std::fprintf(stderr, "\r%lld files read, %lld songs", (long long)c.Files, (long long)(c.New + c.Present));
  };
  const TImportCounts c = ImportFolders(catalogue, folders, progress);
  if (terminal) std::fprintf(stderr, "\n");
  std::printf("imported %lld songs: %lld new, %lld already present (%lld moved), %lld skipped (not audio)",
              (long long)(c.New + c.Present), (long long)c.New, (long long)c.Present, (long long)c.Moved,
              (long long)c.Skipped);
  if (c.Unreadable) std::printf(", %lld unreadable", (long long)c.Unreadable);
  std::printf(", %lld new with lyrics\n", (long long)c.WithLyrics);
  return 0;
}

// Declares the admin commands on admin; returns what runs the one that was given.
std::function<int(TServiceStore&)> SetupAdmin(CLI::App& admin, AdminOptions& o) {
  admin.add_option("--db", o.db, "the service's SQLite database")->required()->type_name("PATH");
  admin.require_subcommand(1);
  auto* init = admin.add_subcommand("init", "create the database (readable by its owner only) if it is missing");
  auto* addUser = admin.add_subcommand(
      "add-user", "add an account; prints its number. The password is the first line of --password-file\n"
                  "or of standard input");
  addUser->add_option("NAME", o.name, "the user name (not starting with a digit)")->required();
  addUser->add_option("--password-file", o.passwordFile, "a file whose first line is the password")->type_name("FILE");
  addUser->add_option("PASSWORD", o.password,
                      "the password itself (discouraged: other users see it, and it stays in shell history)");
  auto* listUsers = admin.add_subcommand("list-users", "\"number<TAB>name\" per account");
  auto* setNotice = admin.add_subcommand("set-notice", "the notice every login and keep-alive carries");
  setNotice->add_option("TEXT", o.notice, "\"msg|link|time|upurl|refurl\"")->required();
  auto* setUpdate = admin.add_subcommand("set-update", "the newest program version the logins announce");
  setUpdate->add_option("VERSION", o.version, "the build number")->required()->check(CLI::Range(0, 65535));
  setUpdate->add_option("SIZE", o.size, "the update's size in bytes")->required()->check(CLI::Range(int64_t(0), int64_t(INT32_MAX)));
  setUpdate->add_option("MD5", o.md5, "its digest, 32 hex digits")->required()->check(CLI::Validator(
      [](std::string& v) -> std::string {
        return ml::LRMD5::MD5DigestIsZero(ml::LRMD5::MD5StrToDigest(v)) ? "takes 32 hex digits, not all zero" : "";
      },
      "MD5"));
  setUpdate->add_option("KIND", o.kind, "the update kind (default 1)")->check(CLI::Range(0, 255));
  auto* setListVersion = admin.add_subcommand("set-list-version", "raise the server table's version");
  setListVersion->add_option("N", o.listVersion, "1..65535")->required()->check(CLI::Range(1, 65535));
  auto* setServers = admin.add_subcommand("set-servers", "the servers of one slot (none: this service again)");
  setServers->add_option("SLOT", o.slot, "1..32")->required()->check(CLI::Range(1, 32));
  setServers->add_option("SERVER", o.servers, "up to 10 servers, ADDR:PORT")
      ->expected(0, 10)
      ->check(CLI::Validator(
          [](std::string& v) -> std::string {
            uint32_t ip = 0;
            uint16_t port = 0;
            return ml::ParseIPv4Endpoint(v, ip, port) ? "" : "takes ADDR:PORT";
          },
          "ADDR:PORT"));
  auto* listServers = admin.add_subcommand("list-servers", "the table's version and the slots that were set");
  auto* import = admin.add_subcommand(
      "import", "add the songs of folders (searched recursively) to the catalogue; a song already there\n"
                "(the same MD5 digest) is not added again, only its path follows a moved file");
  import->add_option("FOLDER", o.folders, "folders of song files, with .lrc lyrics of the same stem")->required();

  return [=, &o](TServiceStore& store) {
    if (init->parsed()) return 0;
    if (import->parsed()) return Import(o.db, o.folders);
    if (addUser->parsed()) {
      std::optional<std::string> password = o.password;
      if (!o.password.empty()) {
        std::fprintf(stderr, "%s: warning: a password on the command line is visible to other users and stays in "
                             "shell history; give it on standard input or with --password-file\n", kProgram);
      } else {
        password = ReadPassword(o.passwordFile);
        if (!password) {
          std::fprintf(stderr, "error: no password to read from %s\n",
                       o.passwordFile.empty() ? "standard input" : o.passwordFile.c_str());
          return 1;
        }
      }
      return AddUser(store, o.name, *password);
    }
    if (listUsers->parsed()) {
      for (const TAccount& acc : store.Accounts()) std::printf("%d\t%s\n", acc.UserID, acc.UserName.c_str());
    } else if (setNotice->parsed()) {
      store.SetSetting("notice", o.notice);
    } else if (setListVersion->parsed()) {
      store.SetSetting("list_version", std::to_string(o.listVersion));
    } else if (setServers->parsed()) {
      std::vector<std::pair<uint32_t, uint16_t>> servers;
      for (const std::string& s : o.servers) {
        uint32_t ip = 0;
        uint16_t port = 0;
        ml::ParseIPv4Endpoint(s, ip, port);
        servers.emplace_back(ip, port);
      }
      store.SetSlotServers(o.slot, servers);
    } else if (listServers->parsed()) {
      std::printf("version %s\n", store.Setting("list_version", "7").c_str());
      for (const TServerRow& r : store.Servers())
        std::printf("%d\t%s:%u\n", r.Slot, ml::IPv4Text(r.IP).c_str(), unsigned(r.Port));
    } else if (setUpdate->parsed()) {
      TUpdateRecord u;
      u.NewestVersion = uint16_t(o.version);
      u.FileSize = int32_t(o.size);
      u.Digest = ml::LRMD5::MD5StrToDigest(o.md5).v;
      u.Kind = uint8_t(o.kind);
      store.SetUpdate(u);
    }
    return 0;
  };
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The MiniLirra online service: the server list, login, keep-alive and network-type roles on\n"
               "two UDP ports (8801 and 8800), over one SQLite database. It runs until SIGINT or SIGTERM.",
               kProgram};
  app.get_formatter()->label("Usage", "usage");
  app.set_help_flag("-h,--help", "print this help and exit");
  app.set_version_flag("--version", std::string(kProgram) + " " + std::to_string(ml::ProgramVersion),
                       "print the version and exit");
  ServeOptions serve;
  app.add_option("--db", serve.db, "the SQLite database")->type_name("PATH");
  app.add_flag("--create", serve.create, "create the database when it is missing (else that is an error)");
  app.add_option("--log", serve.log, "what goes to standard error: error, warning, info (default) or debug (a line per request)")
      ->check(CLI::IsMember({"error", "warning", "info", "debug"}))
      ->type_name("LEVEL");
  app.add_option("--config", serve.config, "an INI configuration ([service], [limits], [sessions]); options given here win")
      ->type_name("FILE");
  app.add_option("--address", serve.address, "the address to bind (default 127.0.0.1; 0.0.0.0: every interface)")
      ->check(IPv4Address())
      ->type_name("ADDR");
  app.add_option("--port", serve.port, "the main port (default 8800; 0 picks a free one)")->type_name("N");
  app.add_option("--list-port", serve.listPort, "the server-list port (default 8801)")->type_name("N");
  app.add_option("--advertise", serve.advertise, "the address (and port) the served server table names")
      ->type_name("ADDR[:PORT]")
      ->check(CLI::Validator(
          [](std::string& v) -> std::string {
            uint32_t ip = 0;
            uint16_t port = 0;
            return ParseAdvertise(v, ip, port) ? "" : "takes ADDR or ADDR:PORT";
          },
          ""));
  CLI::App* admin =
      app.add_subcommand("admin", "change the database: accounts, notice, update record, server table, catalogue");
  AdminOptions adminOptions;
  const auto runAdmin = SetupAdmin(*admin, adminOptions);
  app.footer("\"minilirra-service admin --help\" lists the admin commands.\n");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    const CLI::App* command = chosen.empty() ? &app : chosen.back();
    std::string what = e.what();
    // A word where a command belongs that names none.
    const std::vector<std::string> extra = command->remaining();
    if (!command->get_subcommands({}).empty() && !extra.empty() && !extra.front().empty() && extra.front()[0] != '-')
      what = "no command " + extra.front();
    std::fprintf(stderr, "%s: %s (see %s%s%s --help)\n", kProgram, what.c_str(), kProgram,
                 command == &app ? "" : " ", command == &app ? "" : command->get_name().c_str());
    return kUsageError;
  }
  try {
    if (admin->parsed()) {
      TServiceStore store(adminOptions.db, admin->get_subcommand("init")->parsed());
      return runAdmin(store);
    }
    return Serve(serve);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return 1;
  }
}
