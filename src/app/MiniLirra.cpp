#include "app/MiniLirra.h"

#include "base/AppPaths.h"
#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "app/uUpdateApp.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace ml {
namespace fs = std::filesystem;

void TConsoleStartupUi::ShowInformation(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
}

void TConsoleStartupUi::ShowError(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "[%s] error: %s\n", caption.c_str(), text.c_str());
}

const char* OutcomeName(TStartupOutcome outcome) {
  switch (outcome) {
    case TStartupOutcome::Ran: return "ran";
    case TStartupOutcome::HandedOff: return "handed-off";
    case TStartupOutcome::PreviousVersion: return "previous-version";
    case TStartupOutcome::UpdaterFinished: return "updater-finished";
    case TStartupOutcome::UpdateStarted: return "update-started";
    case TStartupOutcome::MissingSkinRes: return "missing-skinres";
    case TStartupOutcome::Failed: return "failed";
  }
  return "?";
}

std::string TakeDataDirOption(std::vector<std::string>& args) {
  std::string dir;
  for (std::size_t i = 0; i < args.size();) {
    if (args[i] == "--data-dir" && i + 1 < args.size()) {
      dir = args[i + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    } else if (args[i].rfind("--data-dir=", 0) == 0) {
      dir = args[i].substr(11);
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return dir;
}

// --- TStartupSession ---

TStartupSession::TStartupSession(const TAppInfo& info, std::vector<std::string> args, TSingleInstance& instance,
                                 TLRShareMemory* mailbox)
    : info_(info), args_(std::move(args)), instance_(instance), mailbox_(mailbox) {}

TStartupSession::~TStartupSession() { MainWindowDestroyed(); }

bool TStartupSession::MainWindowCreated(const TMainWindowHooks& hooks, std::string* error) {
  if (!hooks.dispatcher || !hooks.commandTarget) {
    if (error) *error = "the main window hooks are incomplete";
    return false;
  }
  hooks_ = hooks;
  commandLine_ = std::make_unique<TCommandLineHandler>(*hooks.commandTarget, hooks.dispatcher->Clock());
  if (mailbox_ && hooks.mailboxCommands) {
    mailboxReader_ = std::make_unique<TMailboxReader>(*mailbox_, *hooks.dispatcher, *hooks.mailboxCommands,
                                                      static_cast<uint32_t>(::getpid()));
    mailboxReader_->Announce();
  }
  server_ = std::make_unique<TInstanceServer>(instance_.SocketPath(), *hooks.dispatcher,
                                             static_cast<IInstanceRequests&>(*this));
  return server_->Start(error);
}

void TStartupSession::MainWindowShown() {
  if (commandLine_) {
    commandLine_->HandleArguments(args_);
    commandLine_->MarkHandled();
  }
  instance_.MainFormLock().Unlock();
  if (mailboxReader_) mailboxReader_->MainWindowShown();
}

void TStartupSession::MainWindowDestroyed() {
  if (server_) server_->Stop();
  server_.reset();
  // The mailbox outlives us; a process id left in it could soon name another program.
  if (mailboxReader_) mailboxReader_->Withdraw();
  mailboxReader_.reset();
}

void TStartupSession::InstanceActivate() {
  if (hooks_.activate) hooks_.activate();
}

void TStartupSession::InstanceCommandLine(const std::vector<std::string>& args) {
  if (commandLine_) commandLine_->HandleForwarded(args);
}

int TStartupSession::InstanceLookMailbox() { return mailboxReader_ ? mailboxReader_->Look() : 0; }

// --- the entry ---

namespace {

TStartupResult SecondInstance(const TStartupOptions& options, IStartupUi& ui, TSingleInstance& instance,
                              const std::vector<std::string>& args) {
  // Wait until the running instance's main window is up, so our requests reach a window; the
  // wait's result does not matter, a hung instance must not keep us forever.
  instance.MainFormLock().TryLock(TSingleInstance::MainFormWait);
  auto answer = SendInstanceRequest(instance.SocketPath(), RequestPresence, ProgramVersion, {}, options.requestTimeout);
  if (answer && *answer >= 5000) {
    int exitCode = 0;
    if (!args.empty()) {
      std::size_t written = 0;
      std::error_code ec;
      const std::string cwd = fs::current_path(ec).string();
      std::string data = EncodeForwardedArgs(ec ? args : AbsolutizeCommandPaths(args, cwd), &written);
      if (written < args.size())
        DebugTrace("command line hand-off: %zu of %zu arguments fit", written, args.size());
      auto taken = SendInstanceRequest(instance.SocketPath(), RequestCommandLine, static_cast<int32_t>(data.size()),
                                       data, options.requestTimeout);
      if (!taken || *taken != ProgramVersion) exitCode = 1;
    }
    return {TStartupOutcome::HandedOff, exitCode};
  }
  ui.ShowInformation(PreviousVersionCaption, PreviousVersionText);
  PostInstanceRequest(instance.SocketPath(), RequestActivate, options.requestTimeout);
  return {TStartupOutcome::PreviousVersion, 0};
}

bool SameFolder(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

}  // namespace

TStartupResult RunStartup(const TStartupOptions& options, IStartupUi& ui, const TCreateAndRun& createAndRun) {
  std::vector<std::string> args = options.args;
  const std::string dataDirOption = TakeDataDirOption(args);
  const std::string exePath = options.exePath.empty() ? ExecutablePath() : options.exePath;
  const std::string exeDir = WithTrailingSlash(fs::path(exePath).parent_path().string());

  // The mailbox is mapped in every instance before anything else; without it the program runs on.
  std::string error;
  std::unique_ptr<TLRShareMemory> mailbox = TLRShareMemory::Open(
      options.mailboxName.empty() ? TLRShareMemory::DefaultName(::getuid()) : options.mailboxName, ::getuid(), &error);
  if (!mailbox) DebugTrace("running without a mailbox: %s", error.c_str());

  std::unique_ptr<TSingleInstance> instance;
  TAppInfo info;
  try {
    instance = std::make_unique<TSingleInstance>(options.runtimeDir.empty() ? RuntimeDir() : options.runtimeDir);
    if (!instance->AppLock().Valid() || !instance->MainFormLock().Valid())
      throw std::runtime_error("cannot open the instance lock file " + instance->AppLock().Path());
    info = LoadAppInfo(options.skinResDir.empty() ? exeDir + "SkinRes/" : options.skinResDir, dataDirOption);
  } catch (const std::exception& e) {
    ui.ShowError(info.ExeFileName.empty() ? DefaultExeBaseName : info.ExeFileName, e.what());
    return {TStartupOutcome::Failed, 1};
  }
  SetAppInfo(info);

  if (!instance->AppLock().TryLock(TSingleInstance::FirstInstanceWait)) {
    TStartupResult r = SecondInstance(options, ui, *instance, args);
    instance->MainFormLock().Unlock();
    return r;
  }

  instance->MainFormLock().TryLock(Millis(0));
  // Self-updates replace the program's own files, so they apply only to a program that keeps
  // its data in its own folder (a portable install); packaged installs update through the
  // system's package manager.
  if (options.updateOutsideProgramDir || SameFolder(info.AppDir, exeDir)) {
    TUpdateContext uc;
    uc.appDir = info.AppDir;
    uc.exeFileName = info.ExeFileName;
    uc.exePath = exePath;
    // The program started next must find both locks free, or it would take itself for a second
    // instance or wait for a main window that never comes.
    uc.releaseAppLock = [&] {
      instance->MainFormLock().Unlock();
      instance->AppLock().Unlock();
    };
    uc.retakeAppLock = [&] {
      instance->AppLock().TryLock(TSingleInstance::FirstInstanceWait);
      instance->MainFormLock().TryLock(Millis(0));
    };
    if (CheckSelfUpdate(uc) == TUpdateOutcome::EndProcess) {
      const bool updater = IsUpdaterCopy(exePath, info.ExeFileName);
      return {updater ? TStartupOutcome::UpdaterFinished : TStartupOutcome::UpdateStarted, 0};
    }
  }

  if (!info.SkinResLoaded) {
    ui.ShowError(info.ExeFileName, MissingSkinResText);
    return {TStartupOutcome::MissingSkinRes, 1};
  }

  int exitCode = 0;
  bool restart = false;
  {
    TStartupSession session(info, args, *instance, mailbox.get());
    exitCode = createAndRun(session);
    session.MainWindowDestroyed();
    restart = session.UpdateRestartRequested();
  }
  if (restart) {
    instance->AppLock().Unlock();
    std::vector<std::string> restartArgs{"/update"};
    if (!dataDirOption.empty()) restartArgs.insert(restartArgs.end(), {"--data-dir", dataDirOption});
    SpawnProgram(exePath, restartArgs);
  }
  return {TStartupOutcome::Ran, exitCode};
}

}  // namespace ml
