#pragma once
// One run of the desktop player after start-up has made this the first instance: settings,
// library, player, skin, main window and controller are made in order, hooked into the start-up
// session (hand-offs, mailbox), and Qt's loop runs until the main window closes; then everything
// is saved and taken down in the reverse order.
#include "app/MiniLirra.h"
#include "playback/OutputRegistry.h"

namespace ml {

class TQtDispatcher;

struct TDesktopParts {
  bool HaveOutput = false;  // false: the default device, else the null output
  TOutputTarget Output;
};

// The exit code of the run.
int RunDesktop(TStartupSession& session, TQtDispatcher& dispatcher, const TDesktopParts& parts);

}  // namespace ml
