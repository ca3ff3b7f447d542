#pragma once
// The login frame: the account (number or name, the last login offered), the password, automatic
// login, and the login, logout, anonymous-connect and registration buttons, in four panels by
// state: the login panel, logging in, logged in, connecting anonymously. It asks the session
// (ILoginService) and shows the outcome the window hands back through LoginFinished.
#include <QWidget>

#include <functional>
#include <string>

#include "online/LoginService.h"
#include "skin/ui/SkinControl.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace ml {

class TfmLogin : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  enum class TState { Login = 0, LoggingIn = 1, LoggedIn = 2, Connecting = 3 };
  static constexpr int TmpLoginRetryMs = 30000;
  static constexpr int NoticeMs = 15000;

  // appTitle leads the connecting text; exeName names the program in the firewall hint.
  TfmLogin(ILoginService& login, std::string appTitle, std::string exeName, QWidget* parent = nullptr);

  // A login or connection ended (the session's OnLoginResult, on the main thread).
  void LoginFinished(const TLoginOutcome& outcome);
  // The login button.
  void PressLogin();
  // The main menu's login item: offered while the login panel shows; it presses the login button
  // only when an account and a password are there (the caller brings the login page forward).
  bool CanMenuLogin() const { return state_ == TState::Login; }
  void MenuLogin();
  // Logout: the account is left and the session connects anonymously.
  void PressLogout();
  // Connects anonymously (the connect button, the retry timer, the start without an account).
  void ConnectAnonymously();

  TState State() const { return state_; }
  // The account as typed, or the number of the offered last login.
  std::string UserText() const;

  QComboBox* UserBox() const { return user_; }
  QLineEdit* PasswordBox() const { return password_; }
  QCheckBox* AutoLoginBox() const { return autoLogin_; }
  QPushButton* LoginButton() const { return login_; }
  QPushButton* LogoutButton() const { return logout_; }
  QPushButton* ConnectButton() const { return tmpLogin_; }
  QPushButton* RegisterButton() const { return register_; }
  QLabel* MessageLabel() const { return message_; }
  QLabel* ConnectingLabel() const { return tmpLoging_; }
  QLabel* UserIDLabel() const { return userID_; }
  QTimer* RetryTimer() const { return retry_; }

  // A refusal of the typed account or password (title, text); default: a warning box.
  std::function<void(const QString& title, const QString& text)> ShowWarning;

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  // A pop-up message for the main window (caption, text, how long it stays).
  void Notice(const QString& caption, const QString& text, int ms);
  // Every login or connection that succeeded; the main window takes the new state.
  void LoggedInChanged(bool loggedIn);
  void RegisterRequested();

private:
  void SetState(TState state);
  // The last login offered in the account box and the automatic-login box.
  void FillFromLastLogin();
  QString FailureText(const char* prefix, const TLoginOutcome& outcome) const;

  ILoginService& service_;
  std::string appTitle_, exeName_;
  TState state_ = TState::Login;
  std::string heldPassword_;  // the stored form of an offered last login, until the box is edited
  bool anonymousFailedBefore_ = false;

  QStackedWidget* panels_;
  QComboBox* user_;
  QLineEdit* password_;
  QCheckBox* autoLogin_;
  QPushButton* login_;
  QPushButton* register_;
  QPushButton* logout_;
  QPushButton* tmpLogin_;
  QLabel* message_;
  QLabel* loging_;
  QLabel* tmpLoging_;
  QLabel* userID_;
  QTimer* retry_;
};

}  // namespace ml
