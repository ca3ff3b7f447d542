#include "base/SecretInput.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace ml {

namespace {
termios g_savedTerminal{};

// Ctrl-C at the prompt must not leave the terminal without echo.
void RestoreTerminalAndDie(int signal) {
  tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}
}  // namespace

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  const bool terminal = isatty(STDIN_FILENO);
  termios& saved = g_savedTerminal;
  using Handler = void (*)(int);
  Handler oldInt = SIG_DFL, oldTerm = SIG_DFL;
  bool quiet = false;
  if (terminal) {
    // Echo goes off before the prompt shows, so nothing typed after it is ever echoed.
    if (tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios noEcho = saved;
      noEcho.c_lflag &= ~tcflag_t(ECHO);
      noEcho.c_lflag |= ECHONL;
      oldInt = std::signal(SIGINT, RestoreTerminalAndDie);
      oldTerm = std::signal(SIGTERM, RestoreTerminalAndDie);
      quiet = tcsetattr(STDIN_FILENO, TCSANOW, &noEcho) == 0;
    }
    std::fprintf(stderr, "%s", prompt.c_str());
    std::fflush(stderr);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (quiet) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  if (terminal) {
    std::signal(SIGINT, oldInt);
    std::signal(SIGTERM, oldTerm);
  }
  if (!read) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace ml
