// minilirra, the desktop player: the start-up core decides whether this is the first instance
// (else it hands its files to the running one and ends), then the player, the library, the skin
// and the main window are made, and Qt's loop runs until the window closes.
#include "app/DesktopArguments.h"
#include "app/MiniLirra.h"
#include "app/ui/DesktopSession.h"
#include "app/ui/QtDispatcher.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace ml;

namespace {

constexpr const char* kUsage =
    "usage: minilirra [FILE...] [/open FILE] [/list FILE] [/MainMode | /MiniMode]\n"
    "                 [--data-dir DIR] [--output pulse[:SINK]|alsa[:PCM]|wav:PATH|null]\n"
    "\n"
    "The desktop music player. Files given play at once (the first) or join the playlist; when the\n"
    "player already runs, they are handed to it. --data-dir keeps the library and settings in DIR\n"
    "(default ~/.local/share/MiniLirra/); --output chooses the sound output (default: the sound\n"
    "server, else the sound card). Without a display, minilirra-cli plays files from a terminal.\n";

class TQtStartupUi final : public IStartupUi {
public:
  void ShowInformation(const std::string& caption, const std::string& text) override {
    QMessageBox::information(nullptr, QString::fromStdString(caption), QString::fromStdString(text));
  }
  void ShowError(const std::string& caption, const std::string& text) override {
    std::fprintf(stderr, "minilirra: %s\n", text.c_str());
    QMessageBox::critical(nullptr, QString::fromStdString(caption), QString::fromStdString(text));
  }
};

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
    if (const char* v = std::getenv(name); v && *v) return true;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  return platform && (std::strncmp(platform, "offscreen", 9) == 0 || std::strncmp(platform, "minimal", 7) == 0);
}

}  // namespace

int main(int argc, char** argv) {
  TDesktopArguments parsed = ParseDesktopArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.Help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!parsed.Error.empty()) {
    std::fprintf(stderr, "minilirra: %s\n\n%s", parsed.Error.c_str(), kUsage);
    return 2;
  }
  if (!HaveDisplay()) {
    std::fprintf(stderr,
                 "minilirra: no display to open the player's windows on (DISPLAY and WAYLAND_DISPLAY are not set);\n"
                 "minilirra-cli plays files without windows: minilirra-cli play FILE\n");
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("MiniLirra");
  QApplication::setDesktopFileName("minilirra");
  QApplication::setQuitOnLastWindowClosed(false);

  TQtStartupUi ui;
  TStartupOptions options;
  options.args = parsed.StartupArgs;
  const TStartupResult result = RunStartup(options, ui, [&](TStartupSession& session) {
    TQtDispatcher dispatcher;
    SetMainDispatcher(&dispatcher);
    TDesktopParts parts;
    parts.Output = parsed.Output;
    parts.HaveOutput = parsed.HaveOutput;
    const int rc = RunDesktop(session, dispatcher, parts);
    SetMainDispatcher(nullptr);
    return rc;
  });
  return result.exitCode;
}
