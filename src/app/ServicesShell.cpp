#include "app/ServicesShell.h"

#include <cstdio>

namespace ml {

void TConsoleServicesShell::BringMainWindowUp() { std::fprintf(stderr, "[shell] main window up\n"); }

void TConsoleServicesShell::ShowNotice(const TNotice& n) {
  std::fprintf(stderr, "[shell] notice %s: %s%s%s (%d ms)\n", n.Caption.c_str(), n.Text.c_str(),
               n.Link.empty() ? "" : " ", n.Link.c_str(), n.AutoHideMs);
}

bool TConsoleServicesShell::AskYesNo(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "[shell] %s: %s (answered no)\n", caption.c_str(), text.c_str());
  return false;
}

void TConsoleServicesShell::ShowWarning(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "[shell] warning %s: %s\n", caption.c_str(), text.c_str());
}

void TConsoleServicesShell::StartSearch(const std::string& text) {
  std::fprintf(stderr, "[shell] search %s\n", text.c_str());
}

void TConsoleServicesShell::SetTrayHint(const std::string& text) {
  std::fprintf(stderr, "[shell] tray hint %s\n", text.c_str());
}

void TConsoleServicesShell::SkinFinished() {}

void TConsoleServicesShell::OpenWebPage(const std::string& url) { std::fprintf(stderr, "[shell] open %s\n", url.c_str()); }

void TConsoleServicesShell::ShowLoginPage() { std::fprintf(stderr, "[shell] login page\n"); }

void TConsoleServicesShell::CloseMainWindow() { std::fprintf(stderr, "[shell] close main window\n"); }

}  // namespace ml
