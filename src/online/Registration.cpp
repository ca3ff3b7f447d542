#include "online/Registration.h"

#include <cstdio>

#include "base/DebugTrace.h"
#include "base/GbkText.h"
#include "base/LRMD5.h"
#include "base/StrUtil.h"
#include "net/LRUDPClient.h"
#include "net/RegisterRecords.h"
#include "net/uServerListManager.h"
#include "online/uLogin.h"

namespace ml {

namespace {

// The digest a text travels as: MD5 of its GBK bytes.
std::array<uint8_t, 16> TextDigest(const std::string& utf8) { return LRMD5::MD5String(Utf8ToGbk(utf8)).v; }

std::string Printf(const char* format, int32_t n) {
  char text[256];
  std::snprintf(text, sizeof text, format, n);
  return text;
}

}  // namespace

std::string TCheckCodeResult::Text() const {
  std::string text = std::to_string(Code);
  return text.size() == 5 ? "0" + text : text;
}

TRegistration::TRegistration(TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user)
    : udp_(udp), servers_(servers), user_(user) {}

template <class Accept>
bool TRegistration::Exchange(uint16_t code, const uint8_t* record, int32_t length, uint8_t* reply,
                             int32_t& replyLength, Accept accept) {
  uint16_t port = 0;
  uint32_t ip = 0;
  // A registration asks the server for account 0: there is no account yet.
  const int32_t asUser = code == Cmd::Register ? 0 : user_.UserID.load();
  if (!servers_.ServerFor(asUser, code, port, ip) || ip == 0 || port == 0) return false;
  for (int attempt = 0; attempt < Tries; ++attempt) {
    replyLength = 0;
    if (udp_.SendWaitTable(ip, port, WaitMs, udp_.NextSerial(true), replyLength, reply,
                           int32_t(Envelope::MaxPayload), length, record) &&
        accept(reply, replyLength))
      return true;
  }
  return false;
}

TCheckCodeResult TRegistration::FetchCheckCode() {
  TCheckCodeRequest request;
  request.HardwareAddress = user_.HardwareAddress;
  uint8_t record[TCheckCodeRequest::FixedSize];
  TCmdStream s;
  s.InitWrite(record, sizeof record);
  WriteCheckCodeRequest(s, request);
  uint8_t reply[Envelope::MaxPayload];
  int32_t replyLength = 0;
  TCheckCodeReply answer;
  TCheckCodeResult result;
  // An answer ends the tries when it is a refusal or a whole code; a damaged code is tried again.
  const bool answered = Exchange(Cmd::CheckCode, record, s.Size(), reply, replyLength, [&](const uint8_t* r, int32_t n) {
    return ReadCheckCodeReply(r, size_t(n), answer) && (answer.Result == Status::OK || answer.Result < 4);
  });
  if (!answered) {
    result.Error = "网络传输数据出错！";
  } else if (answer.Result == Status::OK) {
    result.Received = true;
    result.Code = answer.CheckCode;
  } else {
    static const char* const kErrors[] = {"未知错误！", "注册次数太多！", "服务器繁忙,请稍侯再试！", "暂时停止注册！"};
    result.Error = kErrors[answer.Result];
  }
  return result;
}

TRegisterMessage TRegistration::NameRuleMessage(const std::string& userName) {
  switch (CheckUserNameRules(Utf8ToGbk(Trim(userName)))) {
    case TUserNameProblem::None: return {};
    case TUserNameProblem::Empty: return {"用户名错误", "用户名不能为空，请重新输入！ "};
    case TUserNameProblem::StartsWithDigit:
      return {"提示", "用户名不能以数字开头，用户名长度为4到20个字符，可以是汉字！  "};
    case TUserNameProblem::Reserved: return {"提示", "您输入的用户名是非法用户名，请重新输入！  "};
    case TUserNameProblem::TooShort: return {"提示", "您输入的用户名太短，用户名长度为4到20个字符，可以是汉字！  "};
    case TUserNameProblem::TooLong: return {"提示", "您输入的用户名太长，用户名长度为4到20个字符，可以是汉字！  "};
  }
  return {};
}

TUserNameTestResult TRegistration::TestUserName(const std::string& userName) {
  TUserNameTestResult result;
  result.Message = NameRuleMessage(userName);
  if (!result.Message.Empty()) {
    result.Kind = TUserNameTestResult::RefusedLocally;
    return result;
  }
  uint8_t record[Envelope::MaxPayload];
  TCmdStream s;
  s.InitWrite(record, sizeof record);
  WriteUserNameCheckRequest(s, {Utf8ToGbk(Trim(userName))});
  uint8_t reply[Envelope::MaxPayload];
  int32_t replyLength = 0;
  TUserNameCheckReply answer;
  if (!Exchange(Cmd::CheckUserName, record, s.Size(), reply, replyLength,
                [&](const uint8_t* r, int32_t n) { return ReadUserNameCheckReply(r, size_t(n), answer); })) {
    result.Message = {"", "注册服务器没有回应"};
    return result;
  }
  result.Holder = answer.Holder;
  if (answer.Holder == TUserNameCheckReply::Free) {
    result.Kind = TUserNameTestResult::Free;
    result.Message = {"", "该用户名可以被使用"};
  } else if (answer.Holder == TUserNameCheckReply::Illegal) {
    result.Kind = TUserNameTestResult::Illegal;
    result.Message = {"", "非法的用户名"};
  } else {
    result.Kind = TUserNameTestResult::Taken;
    result.Message = {"用户名错误",
                      Printf("对不起，您的用户名已经被用户 [ %d ] 注册，请重新输入您的用户名！ ", answer.Holder)};
  }
  return result;
}

TRegisterMessage TRegistration::Validate(const TRegisterInput& in, int32_t code) {
  if (auto name = NameRuleMessage(in.UserName); !name.Empty()) return name;
  if (in.Password != in.Password2 || in.Password.empty() || Trim(in.Password) != in.Password)
    return {"出错",
            "密码出错或密码确认出错，请重新输入！ \r\n\r\n注：密码不能为空且不能包括空格，另请检查密码确认是否正确。"};
  const std::string typed(Trim(in.CheckCodeText));
  if (typed.empty()) return {"出错", "校验码为空，请重新输入！ "};
  int64_t number = -1;
  if (typed.size() <= 7 && typed.find_first_not_of("0123456789") == std::string::npos) number = std::stoll(typed);
  if (code == 0 || number != code) return {"出错", "校验码不正确，请重新输入！ "};
  // The protection's texts only matter when it is on: otherwise the digests of empty texts go.
  if (in.Protection && Trim(in.IdentityNumber).empty())
    return {"出错", "证件号码不能为空！ \r\n\r\n注：证件号码将用来修改密码保护！ "};
  if (in.Protection && Trim(in.Answer).empty())
    return {"出错", "密码提示答案不能为空！ \r\n\r\n注：密码提示可用来取回您丢失的密码！ "};
  return {};
}

TRegisterMessage TRegistration::ResultMessage(uint16_t word, int32_t holder) {
  switch (word) {
    case RegisterResult::BadCheckCode: return {" 申请失败 ", "较验码出错，请按“重新注册”更新较验码再试。"};
    case RegisterResult::TooMany: return {" 申请失败 ", "您注册的次数太多！"};
    case RegisterResult::Busy: return {" 申请失败 ", "服务器繁忙，请稍候再试！"};
    case RegisterResult::Closed: return {" 申请失败 ", "暂时停止注册！"};
    case RegisterResult::NameTaken:
      return {"无效的用户名:",
              Printf("对不起，您的用户名已经被用户 [ %d ] 注册！\r\n\r\n请按“重新注册”修改您的用户名后再试。", holder)};
    case Status::OK: return {" 申请成功 ", "注册成功，可以开始您的Lirra旅程了！"};
    default: return {" 申请失败 ", "注册失败,可能服务器正忙!"};
  }
}

TRegisterResult TRegistration::Register(const TRegisterInput& in) {
  TRegisterRequest request;
  request.CheckCode = int32_t(std::stoll("0" + std::string(Trim(in.CheckCodeText)).substr(0, 7)));
  request.VerificationMode = in.VerificationMode;
  request.Privacy = in.Privacy;
  request.Age = in.Age;
  request.Sex = in.Sex;
  request.Question = in.Protection ? in.Question : 0;
  request.PasswordDigest = TextDigest(in.Password);
  request.IdentityDigest = TextDigest(in.Protection ? in.IdentityNumber : "");
  request.AnswerDigest = TextDigest(in.Protection ? in.Answer : "");
  const std::string* texts[] = {&in.UserName, &in.Nickname, &in.Country,  &in.Province, &in.City,
                                &in.Postcode, &in.Job,      &in.FullName, &in.Telephone, &in.Mobile,
                                &in.Email,    &in.Address,  &in.Description};
  for (size_t i = 0; i < TRegisterRequest::TextCount; ++i)
    request.Texts[i] = Utf8ToGbkTruncated(i == 0 ? std::string(Trim(*texts[i])) : *texts[i], 255);
  uint8_t record[Envelope::MaxPayload];
  TCmdStream s;
  s.InitWrite(record, sizeof record);
  TRegisterResult result;
  if (!WriteRegisterRequest(s, request)) {
    result.Message = ResultMessage(0xFFFF, 0);
    return result;
  }
  uint8_t reply[Envelope::MaxPayload];
  int32_t replyLength = 0;
  TRegisterReply answer;
  if (!Exchange(Cmd::Register, record, s.Size(), reply, replyLength,
                [](const uint8_t*, int32_t) { return true; })) {
    result.Message = {" 申请失败 ", "申请失败，可能服务器正忙！"};
    return result;
  }
  // A reply too short to read leaves the result as it was: failed, "possibly busy".
  if (!ReadRegisterReply(reply, size_t(replyLength), answer)) answer.Result = 0xFFFF;
  result.Message = ResultMessage(answer.Result, answer.Holder);
  if (answer.Result == Status::OK) {
    result.Success = true;
    result.UserID = answer.UserID;
    result.UserName = GbkToUtf8(answer.UserName);
    DebugTrace("WoID = %d, RegID = %d, RegUserName = %s", 0, answer.UserID, result.UserName.c_str());
  }
  return result;
}

}  // namespace ml
