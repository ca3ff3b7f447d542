#pragma once
// What the services module asks of the desktop: the main window, its notices and boxes, the tray
// and the browser. The windowed program implements it; TConsoleServicesShell writes to stderr
// for a program without windows, and the tests record the calls.
#include <cstdint>
#include <string>

namespace ml {

// The sliding notice of the main window.
struct TNotice {
  std::string Caption;
  std::string Text;
  std::string Link;          // made clickable; empty: none
  bool OptionsLink = false;  // the link to the options dialog is shown
  int32_t AutoHideMs = -1;   // -1: stays until closed
  bool operator==(const TNotice&) const = default;
};

class IServicesShell {
public:
  virtual ~IServicesShell() = default;
  // Restore the application, show and front the main window (as a click on the tray icon).
  virtual void BringMainWindowUp() = 0;
  virtual void ShowNotice(const TNotice& notice) = 0;
  // A yes/no question with the question icon; true for yes.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
  virtual void ShowWarning(const std::string& caption, const std::string& text) = 0;
  // Front the main window, switch to the search page and search for text.
  virtual void StartSearch(const std::string& text) = 0;
  virtual void SetTrayHint(const std::string& text) = 0;
  // After a skin or tint change: clear the spectrum, recolour the pages, copy the lyric colours.
  virtual void SkinFinished() = 0;
  virtual void OpenWebPage(const std::string& url) = 0;
  // Bring the login page forward (a page that needs a login was asked for).
  virtual void ShowLoginPage() = 0;
  // Close the main window, which ends the program (the update restart follows).
  virtual void CloseMainWindow() = 0;
};

// Without windows: every call is one line on stderr; questions are answered no.
class TConsoleServicesShell final : public IServicesShell {
public:
  void BringMainWindowUp() override;
  void ShowNotice(const TNotice& notice) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  void ShowWarning(const std::string& caption, const std::string& text) override;
  void StartSearch(const std::string& text) override;
  void SetTrayHint(const std::string& text) override;
  void SkinFinished() override;
  void OpenWebPage(const std::string& url) override;
  void ShowLoginPage() override;
  void CloseMainWindow() override;
};

}  // namespace ml
