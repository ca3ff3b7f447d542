#pragma once
// The registration wizard without its windows: the check code (21), the user-name test (68), the
// local rules the input must pass, and the registration (4), each with the texts the wizard shows.
// Every exchange is a send-and-wait of 5 s, tried up to five times; on the dispatcher's main
// thread the wait pumps it, elsewhere it sleeps. After a success the caller logs in with the new
// number and password.
#include <array>
#include <cstdint>
#include <string>

namespace ml {

class TLRUDPClient;
class TServerListManager;
class TUserInfo;

// What the user typed on the input page (UTF-8).
struct TRegisterInput {
  std::string UserName, Password, Password2;
  std::string CheckCodeText;  // as typed
  bool Protection = false;    // password protection switched on
  uint8_t Question = 0;       // 0..9
  std::string IdentityNumber, Answer;
  // The profile page, which no control reaches: its fields keep these values.
  uint8_t VerificationMode = 0, Privacy = 0, Age = 0, Sex = 1;
  std::string Nickname, Country = "中国", Province, City, Postcode, Job, FullName, Telephone, Mobile, Email,
      Address, Description;
};

// A message the wizard shows: its box title (or group caption) and text.
struct TRegisterMessage {
  std::string Caption, Text;
  bool Empty() const { return Text.empty(); }
};

struct TCheckCodeResult {
  bool Received = false;
  int32_t Code = 0;  // 1..999999 when received
  std::string Error;  // the text shown instead of the picture otherwise
  // The code as the picture draws it: six digits, a leading 0 for a five-digit code.
  std::string Text() const;
};

struct TUserNameTestResult {
  enum TKind { Free, Taken, Illegal, NoAnswer, RefusedLocally } Kind = NoAnswer;
  int32_t Holder = 0;       // the account holding a taken name
  TRegisterMessage Message;  // a label text, or the message box
};

struct TRegisterResult {
  bool Success = false;
  int32_t UserID = 0;
  std::string UserName;      // as registered (UTF-8)
  TRegisterMessage Message;  // the result page's caption and text
};

class TRegistration {
public:
  static constexpr int Tries = 5;
  static constexpr int32_t WaitMs = 5000;

  TRegistration(TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user);

  TCheckCodeResult FetchCheckCode();
  TUserNameTestResult TestUserName(const std::string& userName);
  // The first local rule the input breaks (name rules, passwords, check code against the code
  // received, identity number, answer); empty when it passes. code: the last code received (0:
  // none).
  static TRegisterMessage Validate(const TRegisterInput& input, int32_t code);
  // The name rules alone.
  static TRegisterMessage NameRuleMessage(const std::string& userName);
  // Sends the registration (the input already validated).
  TRegisterResult Register(const TRegisterInput& input);

  // The result page's texts for a reply word.
  static TRegisterMessage ResultMessage(uint16_t word, int32_t holder);

private:
  // One exchange with the registration server for code, up to Tries times until accept(reply,
  // length) holds; false when none did.
  template <class Accept>
  bool Exchange(uint16_t code, const uint8_t* record, int32_t length, uint8_t* reply, int32_t& replyLength,
                Accept accept);

  TLRUDPClient& udp_;
  const TServerListManager& servers_;
  const TUserInfo& user_;
};

}  // namespace ml
