#pragma once
// The program entry: from launch to the point where the services module and the windows are
// created, and back. It finds out whether this is the first instance (else hands the command
// line over and ends), applies a pending self-update, reads the product strings, and then calls
// the caller's createAndRun, which builds the services module, the login object and the main
// window and runs the message loop. Through the session it is given, the main window hooks into
// the single-instance socket, the mailbox and the command-line handling.
#include "app/AppInfo.h"
#include "app/CommandLine.h"
#include "base/Dispatcher.h"
#include "app/SingleInstance.h"
#include "app/uLRShareMemory.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ml {

// The message boxes of start-up. The windowed program shows real boxes; the console one writes
// to stderr.
class IStartupUi {
public:
  virtual ~IStartupUi() = default;
  virtual void ShowInformation(const std::string& caption, const std::string& text) = 0;
  virtual void ShowError(const std::string& caption, const std::string& text) = 0;
};

class TConsoleStartupUi final : public IStartupUi {
public:
  void ShowInformation(const std::string& caption, const std::string& text) override;
  void ShowError(const std::string& caption, const std::string& text) override;
};

inline constexpr const char* PreviousVersionText =
    "系统检测到有琴鸟(Lirra)的先前版本正在运行，如果您想运行\"迷你琴鸟播放器\"，\r\n"
    "请先关闭当前正在运行的琴鸟(Lirra.exe)程序！ ";
inline constexpr const char* PreviousVersionCaption = "提示";
inline constexpr const char* MissingSkinResText = "缺少皮肤资源文件，重新安装可解决问题。";

struct TStartupOptions {
  std::vector<std::string> args;  // argv[1..]; "--data-dir DIR" is taken out here
  std::string exePath;            // default: the running executable
  std::string skinResDir;         // default: SkinRes/ beside the executable
  std::string runtimeDir;         // default: RuntimeDir()
  std::string mailboxName;        // default: TLRShareMemory::DefaultName(uid)
  Millis requestTimeout{5000};    // for each request a second instance makes
  // Apply self-updates even when AppDir is not the program's own folder (tests).
  bool updateOutsideProgramDir = false;
};

// What the main window gives the start-up core once it exists.
struct TMainWindowHooks {
  Dispatcher* dispatcher = nullptr;
  std::function<void()> activate;  // restore the application, show and front the main window
  ICommandLineTarget* commandTarget = nullptr;
  IMailboxCommands* mailboxCommands = nullptr;  // null: mailbox commands are dropped
};

class TStartupSession final : private IInstanceRequests {
public:
  TStartupSession(const TAppInfo& info, std::vector<std::string> args, TSingleInstance& instance,
                  TLRShareMemory* mailbox);
  ~TStartupSession() override;

  const TAppInfo& Info() const { return info_; }
  TStartMode StartMode() const { return ParseStartMode(args_); }
  const std::vector<std::string>& Arguments() const { return args_; }

  // The main window exists: its handle goes into the mailbox and the instance socket starts
  // answering (requests wait in the socket's queue until the loop runs).
  bool MainWindowCreated(const TMainWindowHooks& hooks, std::string* error = nullptr);
  // The main window has been shown: its own arguments are handled, the 1500 ms rule starts, the
  // main-form lock is released so waiting second instances go ahead, and a command written to
  // the mailbox before the program ran is taken.
  void MainWindowShown();
  // The main window is being destroyed: the socket stops answering. Must be called before the
  // dispatcher given in the hooks goes away (requests in flight still reach it until then).
  void MainWindowDestroyed();
  // Once createAndRun returns, start the program again with "/update" (after the user agreed).
  void RequestUpdateRestart() { restartForUpdate_ = true; }
  bool UpdateRestartRequested() const { return restartForUpdate_; }

  TCommandLineHandler* CommandLine() { return commandLine_.get(); }
  TMailboxReader* MailboxReader() { return mailboxReader_.get(); }

private:
  void InstanceActivate() override;
  void InstanceCommandLine(const std::vector<std::string>& args) override;
  int InstanceLookMailbox() override;

  TAppInfo info_;
  std::vector<std::string> args_;
  TSingleInstance& instance_;
  TLRShareMemory* mailbox_;
  TMainWindowHooks hooks_;
  std::unique_ptr<TCommandLineHandler> commandLine_;
  std::unique_ptr<TMailboxReader> mailboxReader_;
  std::unique_ptr<TInstanceServer> server_;
  bool restartForUpdate_ = false;
};

enum class TStartupOutcome {
  Ran,              // the program ran and its main window closed
  HandedOff,        // second instance: the running one took over
  PreviousVersion,  // second instance: no current instance answered
  UpdaterFinished,  // the updater copy installed the update and started the program
  UpdateStarted,    // a pending update was unpacked and its updater started
  MissingSkinRes,   // the product strings could not be read
  Failed,           // the instance objects could not be set up
};

struct TStartupResult {
  TStartupOutcome outcome;
  int exitCode;
};

const char* OutcomeName(TStartupOutcome outcome);

using TCreateAndRun = std::function<int(TStartupSession&)>;

// The program entry. createAndRun builds the services module, the login object and the main
// window and runs the loop; its result is the exit code of a normal run.
TStartupResult RunStartup(const TStartupOptions& options, IStartupUi& ui, const TCreateAndRun& createAndRun);

// Takes "--data-dir DIR" / "--data-dir=DIR" out of args; returns the folder ("" when absent).
std::string TakeDataDirOption(std::vector<std::string>& args);

}  // namespace ml
