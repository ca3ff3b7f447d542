#pragma once
// What the login frame asks of the program's online session, and what it is told back: small
// enough that the frame's tests drive it with a fake.
#include <cstdint>
#include <string>

#include "online/uLogin.h"

namespace ml {

// How a login or an anonymous connection ended.
struct TLoginOutcome {
  bool WithUserText = false;        // a login to an account (else an anonymous connection)
  int Code = LoginResult::Unknown;  // LoginResult::Success, a refusal, Status::NoAnswer...
  std::string Text;                 // the code's own text (LoginResultText)
  int32_t UserID = 0;               // the number the service knows us by (valid on success)
  bool SendFailed = false;          // the transport could not send: a firewall is the likely cause
};

class ILoginService {
public:
  virtual ~ILoginService() = default;
  // A login to an account (number above 9 or name; the stored form of the password), saved with
  // autoLogin when it succeeds; an empty userText connects anonymously. The outcome follows on
  // the main thread. False (and no outcome) while another login runs.
  virtual bool LogIn(const std::string& userText, const std::string& storedPassword, bool autoLogin) = 0;
  // Leaves the account: the session goes on anonymously; an outcome follows as for LogIn.
  virtual bool LogOut() = 0;
  virtual bool LoginBusy() const = 0;
  virtual bool LoggedIn() const = 0;
  // The saved last login (account, name, automatic login, stored password).
  virtual TLoginRecord LastLogin() const = 0;
};

}  // namespace ml
