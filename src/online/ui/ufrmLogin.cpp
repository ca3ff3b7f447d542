#include "online/ui/ufrmLogin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "net/WireCodes.h"
#include "skin/SkinColors.h"
#include "skin/SkinElements.h"
#include "skin/ui/SkinQt.h"

namespace ml {

namespace {

// One panel of the frame, its contents at the top.
QWidget* Panel(QStackedWidget* stack) {
  auto* panel = new QWidget(stack);
  stack->addWidget(panel);
  return panel;
}

}  // namespace

TfmLogin::TfmLogin(ILoginService& login, std::string appTitle, std::string exeName, QWidget* parent)
    : QWidget(parent),
      service_(login),
      appTitle_(std::move(appTitle)),
      exeName_(std::move(exeName)),
      panels_(new QStackedWidget(this)),
      retry_(new QTimer(this)) {
  ShowWarning = [this](const QString& title, const QString& text) { QMessageBox::warning(this, title, text); };

  // 0: the login panel.
  QWidget* plLogin = Panel(panels_);
  user_ = new QComboBox(plLogin);
  user_->setEditable(true);
  user_->lineEdit()->setPlaceholderText(QStringLiteral("请输入用户名或者琴鸟号码"));
  password_ = new QLineEdit(plLogin);
  password_->setEchoMode(QLineEdit::Password);
  autoLogin_ = new QCheckBox(QStringLiteral("自动为我登录"), plLogin);
  login_ = new QPushButton(QStringLiteral("登录(&L)"), plLogin);
  register_ = new QPushButton(QStringLiteral("注册(&R)"), plLogin);
  message_ = new QLabel(plLogin);
  message_->setWordWrap(true);
  auto* grid = new QGridLayout(plLogin);
  grid->addWidget(new QLabel(QStringLiteral("账号"), plLogin), 0, 0);
  grid->addWidget(user_, 0, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("密码"), plLogin), 1, 0);
  grid->addWidget(password_, 1, 1, 1, 2);
  grid->addWidget(autoLogin_, 2, 1, 1, 2);
  grid->addWidget(login_, 3, 1);
  grid->addWidget(register_, 3, 2);
  grid->addWidget(message_, 4, 0, 1, 3);
  grid->setRowStretch(5, 1);

  // 1: logging in.
  QWidget* plLoging = Panel(panels_);
  loging_ = new QLabel(QStringLiteral("琴鸟正在登录..."), plLoging);
  auto* logingLayout = new QVBoxLayout(plLoging);
  logingLayout->addWidget(loging_, 0, Qt::AlignHCenter);
  logingLayout->addStretch();

  // 2: logged in.
  QWidget* plLogined = Panel(panels_);
  userID_ = new QLabel(plLogined);
  logout_ = new QPushButton(QStringLiteral("注销(&O)"), plLogined);
  auto* loginedLayout = new QVBoxLayout(plLogined);
  loginedLayout->addWidget(userID_, 0, Qt::AlignHCenter);
  loginedLayout->addWidget(logout_, 0, Qt::AlignHCenter);
  loginedLayout->addStretch();

  // 3: connecting without an account.
  QWidget* plTmpLogin = Panel(panels_);
  tmpLoging_ = new QLabel(plTmpLogin);
  tmpLoging_->setWordWrap(true);
  tmpLogin_ = new QPushButton(QStringLiteral("连接服务器(&C)"), plTmpLogin);
  auto* tmpLayout = new QVBoxLayout(plTmpLogin);
  tmpLayout->addWidget(tmpLoging_);
  tmpLayout->addWidget(tmpLogin_, 0, Qt::AlignHCenter);
  tmpLayout->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(panels_);

  retry_->setInterval(TmpLoginRetryMs);
  connect(retry_, &QTimer::timeout, this, [this] { ConnectAnonymously(); });
  connect(login_, &QPushButton::clicked, this, [this] { PressLogin(); });
  connect(password_, &QLineEdit::returnPressed, this, [this] { PressLogin(); });
  // A password typed replaces the stored one an offered login brought.
  connect(password_, &QLineEdit::textEdited, this, [this] { heldPassword_.clear(); });
  connect(logout_, &QPushButton::clicked, this, [this] { PressLogout(); });
  connect(tmpLogin_, &QPushButton::clicked, this, [this] { ConnectAnonymously(); });
  connect(register_, &QPushButton::clicked, this, [this] { emit RegisterRequested(); });

  FillFromLastLogin();
  SetState(TState::Login);
}

void TfmLogin::FillFromLastLogin() {
  const TLoginRecord last = service_.LastLogin();
  user_->clear();
  heldPassword_.clear();
  if (last.ID > 9) {
    const QString id = QString::number(last.ID);
    user_->addItem(last.UserName.empty() ? id : Q(last.UserName) + "(" + id + ")");
    user_->setCurrentIndex(0);
    // An automatic login keeps its stored password: the login button needs none typed.
    if (last.AutoLogin) heldPassword_ = last.Password;
  } else {
    user_->setCurrentIndex(-1);
    user_->setEditText({});
  }
  autoLogin_->setChecked(last.AutoLogin);
}

std::string TfmLogin::UserText() const {
  QString text = user_->currentText().trimmed();
  // The offered last login shows "name(number)": the number is what logs in.
  if (user_->currentIndex() >= 0 && user_->currentText() == user_->itemText(user_->currentIndex()) &&
      text.endsWith(')')) {
    const qsizetype open = text.lastIndexOf('(');
    if (open >= 0) text = text.mid(open + 1, text.size() - open - 2);
  }
  return text.toStdString();
}

void TfmLogin::PressLogin() {
  const std::string text = UserText();
  if (text.empty()) {
    ShowWarning(QStringLiteral("号码错误"), QStringLiteral("号码不能为空,请输入号码！ "));
    return;
  }
  if (text[0] >= '0' && text[0] <= '9') {
    bool number = false;
    const qlonglong value = QString::fromStdString(text).toLongLong(&number);
    if (!number || value <= 9) {
      ShowWarning(QStringLiteral("号码错误"), QStringLiteral("号码不正确,请重新输入！ "));
      return;
    }
  }
  std::string stored = heldPassword_;
  if (stored.empty()) {
    if (password_->text().isEmpty()) {
      ShowWarning(QStringLiteral("密码错误"), QStringLiteral("请输入您的Lirra密码！ "));
      return;
    }
    stored = EncodeStoredPassword(password_->text().toStdString());
  }
  if (service_.LoginBusy()) return;
  if (service_.LogIn(text, stored, autoLogin_->isChecked())) SetState(TState::LoggingIn);
}

void TfmLogin::MenuLogin() {
  if (!CanMenuLogin()) return;
  if (!UserText().empty() && (!heldPassword_.empty() || !password_->text().isEmpty())) PressLogin();
}

void TfmLogin::PressLogout() {
  if (!service_.LoggedIn() && state_ != TState::LoggedIn) return;
  emit LoggedInChanged(false);
  message_->setText(QStringLiteral("您还没有登录"));
  password_->clear();
  FillFromLastLogin();
  ConnectAnonymously();
}

void TfmLogin::ConnectAnonymously() {
  if (service_.LoginBusy()) return;
  tmpLoging_->setText(Q(appTitle_) + QStringLiteral("正在连接服务器。。。"));
  tmpLogin_->hide();
  retry_->stop();
  SetState(TState::Connecting);
  // The login thread logs out of an account first.
  service_.LogOut();
}

QString TfmLogin::FailureText(const char* prefix, const TLoginOutcome& o) const {
  if (o.Code == Status::NoAnswer && o.SendFailed)
    return QString::fromUtf8(prefix) + QStringLiteral("无法连接到服务器，请关闭您的防火墙或者放行") + Q(exeName_) +
           QStringLiteral("程序");
  return QString::fromUtf8(prefix) + Q(o.Text);
}

void TfmLogin::LoginFinished(const TLoginOutcome& o) {
  const bool ok = o.Code == LoginResult::Success;
  if (!o.WithUserText) {
    if (ok) {
      SetState(TState::Login);
      return;
    }
    const QString text = FailureText("连接服务器失败，", o);
    tmpLoging_->setText(text);
    if (!anonymousFailedBefore_) emit Notice(QStringLiteral("系统提示"), text, NoticeMs);
    anonymousFailedBefore_ = true;
    tmpLogin_->show();
    SetState(TState::Connecting);
    retry_->start();
    return;
  }
  if (!ok) {
    const QString text = FailureText("登录失败，", o);
    message_->setText(text);
    SetState(TState::Login);
    emit Notice(QStringLiteral("系统提示"), text, NoticeMs);
    return;
  }
  userID_->setText(QStringLiteral("登录成功,您的ID是: ") + QString::number(o.UserID));
  message_->clear();
  SetState(TState::LoggedIn);
  emit LoggedInChanged(true);
}

void TfmLogin::SetState(TState state) {
  state_ = state;
  panels_->setCurrentIndex(int(state));
}

void TfmLogin::UpdateSkin(bool, TColor tint, bool) {
  const TSkinColorsLook back = SkinManager()->GetColors("lyricForm", "", FindSkinElement("lyricForm", "")->Colors);
  const TSkinColorsLook tab = SkinManager()->GetColors("lyricForm", "Tab", FindSkinElement("lyricForm", "Tab")->Colors);
  SetInSkin(back.Found);
  QPalette pal = palette();
  if (back.Found) pal.setColor(QPalette::Window, ToQColor(TintColor(back.Get("color"), tint)));
  if (tab.Found) pal.setColor(QPalette::WindowText, ToQColor(TintColor(tab.Get("FontColor"), tint)));
  setPalette(pal);
  setAutoFillBackground(true);
}

}  // namespace ml
