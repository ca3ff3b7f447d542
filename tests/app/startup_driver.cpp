// A headless stand-in for the windowed program: runs the real program entry (lock files, socket,
// mailbox, update check, product strings) and, as its "main window", logs what reaches it to a
// file, one line per event, so a test can drive two real processes against each other.
//
// usage: startup_driver --log FILE [--skinres DIR] [--mailbox NAME] [--exe PATH] [PROGRAM ARGS...]
// It runs until the file FILE + ".quit" appears or it gets SIGTERM. The log and the mailbox can
// also come from STARTUP_DRIVER_LOG and STARTUP_DRIVER_MAILBOX, for copies of the driver that a
// self-update starts without arguments.
#include "base/EventLoop.h"
#include "base/FileUtil.h"
#include "app/MiniLirra.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;
std::string g_log;

void Log(const std::string& line) {
  int fd = ::open(g_log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  std::string l = line + "\n";
  (void)!::write(fd, l.data(), l.size());
  ::close(fd);
}

class LogUi final : public ml::IStartupUi {
public:
  void ShowInformation(const std::string& caption, const std::string& text) override { Log("info " + caption + " " + text); }
  void ShowError(const std::string& caption, const std::string& text) override { Log("error " + caption + " " + text); }
};

class LogWindow final : public ml::ICommandLineTarget, public ml::IMailboxCommands {
public:
  void ClearPlaylistSelection() override { Log("clear"); }
  void AddFileFromCommandLine(const std::string& path, bool play) override { Log((play ? "open " : "list ") + path); }
  void MailboxPlayLink(const std::string& t) override { Log("mailbox 1 " + t); }
  void MailboxSearch(const std::string& t) override { Log("mailbox 2 " + t); }
  void MailboxProgrammeList(const std::string& t, uint8_t a) override { Log("mailbox 3 " + std::to_string(a) + " " + t); }
  void MailboxPlayLinks(const std::string& t, uint8_t a) override { Log("mailbox 6 " + std::to_string(a) + " " + t); }
  void MailboxDownloadLinks(const std::string& t, uint8_t a) override { Log("mailbox 7 " + std::to_string(a) + " " + t); }
  void MailboxLinkKind8(const std::string& t) override { Log("mailbox 8 " + t); }
};

}  // namespace

int main(int argc, char** argv) {
  ml::TStartupOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--log" && i + 1 < argc) g_log = argv[++i];
    else if (a == "--skinres" && i + 1 < argc) options.skinResDir = argv[++i];
    else if (a == "--mailbox" && i + 1 < argc) options.mailboxName = argv[++i];
    else if (a == "--exe" && i + 1 < argc) options.exePath = argv[++i];
    else options.args.push_back(a);
  }
  if (g_log.empty() && std::getenv("STARTUP_DRIVER_LOG")) g_log = std::getenv("STARTUP_DRIVER_LOG");
  if (options.mailboxName.empty() && std::getenv("STARTUP_DRIVER_MAILBOX"))
    options.mailboxName = std::getenv("STARTUP_DRIVER_MAILBOX");
  if (g_log.empty()) {
    std::fprintf(stderr, "startup_driver: --log FILE is required\n");
    return 2;
  }
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  LogUi ui;
  auto result = ml::RunStartup(options, ui, [&](ml::TStartupSession& session) {
    ml::EventLoop loop;
    ml::SetMainDispatcher(&loop);
    LogWindow window;
    ml::TMainWindowHooks hooks;
    hooks.dispatcher = &loop;
    hooks.activate = [] { Log("activate"); };
    hooks.commandTarget = &window;
    hooks.mailboxCommands = &window;
    std::string error;
    if (!session.MainWindowCreated(hooks, &error)) {
      Log("error " + error);
      return 1;
    }
    Log("title " + session.Info().AppTitle + " settings " + session.Info().SettingsFileName());
    session.MainWindowShown();
    Log("shown");
    const std::string quitFile = g_log + ".quit";
    loop.StartTimer(ml::Millis(10), [&] {
      if (g_stop || ml::FileExists(quitFile)) loop.Quit();
    });
    loop.Run();
    session.MainWindowDestroyed();
    return 0;
  });
  Log(std::string("outcome ") + ml::OutcomeName(result.outcome) + " " + std::to_string(result.exitCode));
  return result.exitCode;
}
