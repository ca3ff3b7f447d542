// The online frames offscreen on the built-in skin: the search result page over a search fed
// with result parts as the service sends them (rows, page strip, states, the chosen song, the
// context menu), and the login frame's panels and messages driven by a fake session. Each frame
// is also compared with a reference picture of ours.
#include "online/ui/ufrmLogin.h"
#include "online/ui/ufrmSearchResult.h"

#include "base/EventLoop.h"
#include "base/GbkText.h"
#include "base/LRMD5.h"
#include "net/SearchRecords.h"
#include "net/WireCodes.h"
#include "online/SongSearch.h"
#include "skin/uLuiSkinMgr.h"
#include "tests/net/NetTestTools.h"
#include "tests/online/SearchRequests.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "tests/support/QtTestMain.h"

#include <gtest/gtest.h>

using namespace ml;
using namespace mltest;

namespace {

// The frame as drawn once its layout has taken the texts just set.
void Look(QWidget& frame, const std::string& name) {
  QCoreApplication::processEvents();
  ExpectLooksLike(frame.grab().toImage(), name, "tests/online/ui/reference");
}

TSearchRow Row(int i) {
  static const char* const kNames[] = {"周小北 - 星光下的约定.mp3", "Luna Park - Paper Moon.mp3", "林间 - 一首名字很长很长很长很长很长的歌.mp3"};
  TSearchRow r;
  r.Name = Utf8ToGbk(kNames[i % 3]);
  r.Artist = Utf8ToGbk(i % 3 == 1 ? "Luna Park" : "周小北");
  r.Digest[0] = uint8_t(i);
  r.Digest[15] = 0xAB;
  r.Sources = std::array{3, 40, 700, 5000}[size_t(i % 4)];
  r.Size = 3'500'000 + 12'345 * i;
  r.DurationSeconds = uint16_t(180 + i);
  return r;
}

mlnettest::Bytes Part(int32_t number, int32_t total, int32_t first, uint16_t pageRows, uint8_t part, int from, int count) {
  TSearchResultPart p{number, total, first, pageRows, part, {}};
  for (int i = 0; i < count; ++i) p.Rows.push_back(Row(from + i));
  return mlnettest::Written(WriteSearchResultPart, p);
}

struct SearchPage : TOfflineSearch {
  SearchPage() {
    skin.SetPackageFile(BinDir() + "/SkinRes/SkinRes.zip");
    frame.SetSkinManager(&skin);
    EXPECT_TRUE(skin.ApplySkin(false, 0, false)) << skin.Error();
    frame.resize(420, 260);
    frame.show();
  }
  void Take(const mlnettest::Bytes& b) { search.ShowResultPart(b.data(), int32_t(b.size())); }

  TLuiSkinManager skin;
  TfrmSearchResult frame{search};
};

// Page 2 of 3 (rows 21 to 40 of 45) in two parts: the rows as the search made them, the strip
// around the page, both buttons on, and "搜索结束" once the second part is in.
TEST(SearchResultPage, ShowsThePageTheSearchHolds) {
  SearchPage p;
  p.search.Search("星光", 1);
  EXPECT_EQ(p.frame.Status()->text(), QStringLiteral("正在搜索..."));
  EXPECT_EQ(p.frame.List()->topLevelItemCount(), 0);
  p.Take(Part(1, 45, 21, 20, 0, 0, 10));
  EXPECT_EQ(p.frame.List()->topLevelItemCount(), 10);
  EXPECT_EQ(p.frame.Status()->text(), QStringLiteral("正在搜索..."));
  p.Take(Part(1, 45, 21, 20, 1, 10, 10));
  ASSERT_EQ(p.frame.List()->topLevelItemCount(), 20);
  EXPECT_EQ(p.frame.Status()->text(), QStringLiteral("搜索结束"));

  const QTreeWidgetItem* first = p.frame.List()->topLevelItem(0);
  EXPECT_EQ(first->text(TfrmSearchResult::ColName), QStringLiteral("周小北 - 星光下的约定.mp3"));
  EXPECT_EQ(first->text(TfrmSearchResult::ColArtist), QStringLiteral("周小北"));
  EXPECT_EQ(first->text(TfrmSearchResult::ColDuration), QStringLiteral("3:00"));
  EXPECT_EQ(first->text(TfrmSearchResult::ColSize), QString::fromStdString(TSongSearch::SizeText(3'500'000)));
  EXPECT_TRUE(p.frame.PreviousButton()->isEnabled());
  EXPECT_TRUE(p.frame.NextButton()->isEnabled());
  const QString strip = p.frame.PageStrip()->text();
  EXPECT_TRUE(strip.contains("<a href=\"1\">1</a>") && strip.contains("<b>2</b>") && strip.contains("<a href=\"3\">3</a>"))
      << strip.toStdString();
  Look(p.frame, "search-result-page");

  // A number of the strip and the buttons ask for their pages.
  emit p.frame.PageStrip()->linkActivated("3");
  ASSERT_FALSE(p.sent.empty());
  EXPECT_EQ(p.sent.back().Page, 2);
  EXPECT_EQ(p.frame.List()->topLevelItemCount(), 0);
  QTest::mouseClick(p.frame.PreviousButton(), Qt::LeftButton);
  EXPECT_EQ(p.sent.back().Page, 1);
}

// No match ends the search with no rows and one page; a search that is never answered says so
// after its three resends.
TEST(SearchResultPage, SaysWhenNothingMatchesOrTheServerIsSilent) {
  SearchPage p;
  p.search.Search("无此歌", 0);
  p.Take(Part(1, 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(p.frame.Status()->text(), QStringLiteral("搜索结束"));
  EXPECT_EQ(p.frame.List()->topLevelItemCount(), 0);
  EXPECT_FALSE(p.frame.NextButton()->isEnabled());
  EXPECT_FALSE(p.frame.PreviousButton()->isEnabled());

  p.search.Search("再试", 0);
  p.loop.Advance(std::chrono::milliseconds(4 * 2000));
  EXPECT_EQ(p.frame.Status()->text(), QStringLiteral("搜索超时"));
}

// Double click and Enter play a row; the menu adds the selected rows, plays the focused one and
// offers the related words of its name.
TEST(SearchResultPage, ARowChosenLeavesAsASong) {
  SearchPage p;
  p.search.Search("星光", 0);
  p.Take(Part(1, 3, 1, 3, 0, 0, 3));
  struct Chosen {
    QString digest, name;
    qint64 size;
    bool play;
  };
  std::vector<Chosen> chosen;
  QObject::connect(&p.frame, &TfrmSearchResult::SongChosen,
                   [&](const QString& d, const QString& n, qint64 s, bool play) { chosen.push_back({d, n, s, play}); });
  QStringList words;
  QObject::connect(&p.frame, &TfrmSearchResult::KeywordChosen, [&](const QString& w) { words << w; });

  QTreeWidget* list = p.frame.List();
  const QRect second = list->visualItemRect(list->topLevelItem(1));
  // A double click is a click and then the second press.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
  ASSERT_EQ(chosen.size(), 1u);
  TMD5Digest digest;
  digest.v = Row(1).Digest;
  EXPECT_EQ(chosen[0].digest.toStdString(), LRMD5::MD5DigestToStr(digest));
  EXPECT_EQ(chosen[0].name, QStringLiteral("Luna Park - Paper Moon.mp3"));
  EXPECT_EQ(chosen[0].size, Row(1).Size);
  EXPECT_TRUE(chosen[0].play);

  list->setCurrentItem(list->topLevelItem(2));
  QTest::keyClick(list, Qt::Key_Return);
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_TRUE(chosen[1].name.startsWith(QStringLiteral("林间")));

  list->clearSelection();
  list->topLevelItem(0)->setSelected(true);
  list->topLevelItem(2)->setSelected(true);
  list->setCurrentItem(list->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
  std::unique_ptr<QMenu> menu(p.frame.MakeContextMenu());
  ASSERT_TRUE(menu);
  const QList<QAction*> actions = menu->actions();
  ASSERT_GE(actions.size(), 2);
  EXPECT_EQ(actions[0]->text(), QStringLiteral("添加到播放列表"));
  EXPECT_EQ(actions[1]->text(), QStringLiteral("播放"));
  chosen.clear();
  actions[0]->trigger();
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_FALSE(chosen[0].play || chosen[1].play);
  actions[1]->trigger();
  ASSERT_EQ(chosen.size(), 3u);
  EXPECT_TRUE(chosen[2].play);
  EXPECT_TRUE(chosen[2].name.startsWith(QStringLiteral("周小北")));

  // The related words are those the search finds in the name.
  const std::vector<std::string> related = TSongSearch::RelatedKeywords("周小北 - 星光下的约定.mp3");
  ASSERT_FALSE(related.empty());
  ASSERT_EQ(actions.size(), qsizetype(3 + related.size()));
  actions[3]->trigger();
  ASSERT_EQ(words.size(), 1);
  EXPECT_EQ(words[0].toStdString(), related[0]);
}

// A session that answers when told to.
struct FakeLogin final : ILoginService {
  bool LogIn(const std::string& user, const std::string& stored, bool autoLogin) override {
    if (busy) return false;
    calls.push_back({user, stored, autoLogin});
    busy = true;
    return true;
  }
  bool LogOut() override { return LogIn({}, {}, false); }
  bool LoginBusy() const override { return busy; }
  bool LoggedIn() const override { return loggedIn; }
  TLoginRecord LastLogin() const override { return last; }
  struct Call {
    std::string user, stored;
    bool autoLogin;
  };
  std::vector<Call> calls;
  bool busy = false, loggedIn = false;
  TLoginRecord last;
};

struct LoginFrame {
  explicit LoginFrame(TLoginRecord last = {}) {
    fake.last = std::move(last);
    frame = std::make_unique<TfmLogin>(fake, "迷你琴鸟", "minilirra");
    frame->ShowWarning = [this](const QString& title, const QString& text) { warnings << title + ": " + text; };
    QObject::connect(frame.get(), &TfmLogin::Notice, [this](const QString& c, const QString& t, int ms) {
      notices << c + ": " + t;
      EXPECT_EQ(ms, TfmLogin::NoticeMs);
    });
    skin.SetPackageFile(BinDir() + "/SkinRes/SkinRes.zip");
    frame->SetSkinManager(&skin);
    EXPECT_TRUE(skin.ApplySkin(false, 0, false)) << skin.Error();
    frame->resize(300, 200);
    frame->show();
  }
  // The session answers the login it was asked for.
  void Answer(int code, bool withUser, int32_t id = 0, bool sendFailed = false) {
    fake.busy = false;
    fake.loggedIn = withUser && code == 0;
    frame->LoginFinished({withUser, code, LoginResultText(code), id, sendFailed});
  }
  FakeLogin fake;
  TLuiSkinManager skin;
  std::unique_ptr<TfmLogin> frame;
  QStringList warnings, notices;
};

// What the login button refuses before anything is sent, in the frame's words.
TEST(LoginFrame, RefusesAnAccountOrPasswordItCannotSend) {
  LoginFrame f;
  const struct {
    const char* user;
    const char* password;
    const char* warning;
  } cases[] = {
      {"", "secret", "号码错误: 号码不能为空,请输入号码！ "},
      {"8", "secret", "号码错误: 号码不正确,请重新输入！ "},
      {"12a", "secret", "号码错误: 号码不正确,请重新输入！ "},
      {"alice", "", "密码错误: 请输入您的Lirra密码！ "},
  };
  for (const auto& c : cases) {
    f.warnings.clear();
    f.frame->UserBox()->setEditText(QString::fromUtf8(c.user));
    f.frame->PasswordBox()->setText(QString::fromUtf8(c.password));
    f.frame->PressLogin();
    EXPECT_EQ(f.warnings, QStringList{QString::fromUtf8(c.warning)}) << c.user;
  }
  EXPECT_TRUE(f.fake.calls.empty());
  EXPECT_EQ(f.frame->State(), TfmLogin::TState::Login);
}

// The main menu's login item presses login only with an account and a password in the boxes
// (without them it only brings the page forward, with no warning), and only from the login panel.
TEST(LoginFrame, TheMenusLoginPressesOnlyWhatIsFilledIn) {
  LoginFrame f;
  EXPECT_TRUE(f.frame->CanMenuLogin());
  f.frame->MenuLogin();
  f.frame->UserBox()->setEditText("alice");
  f.frame->MenuLogin();
  EXPECT_TRUE(f.fake.calls.empty());
  EXPECT_TRUE(f.warnings.isEmpty());
  f.frame->PasswordBox()->setText("secret");
  f.frame->MenuLogin();
  ASSERT_EQ(f.fake.calls.size(), 1u);
  EXPECT_EQ(f.fake.calls[0].user, "alice");
  EXPECT_FALSE(f.frame->CanMenuLogin());  // logging in
  f.Answer(0, true, 10042);
  EXPECT_FALSE(f.frame->CanMenuLogin());  // logged in
}

// A login runs through its panels: logging in, refused with the reason (and a pop-up), then
// logged in with the number; logout goes back to an anonymous connection.
TEST(LoginFrame, LogsInIsRefusedAndLogsOut) {
  LoginFrame f;
  f.frame->UserBox()->setEditText(" alice ");
  f.frame->PasswordBox()->setText("secret");
  f.frame->AutoLoginBox()->setChecked(true);
  QTest::keyClick(f.frame->PasswordBox(), Qt::Key_Return);
  ASSERT_EQ(f.fake.calls.size(), 1u);
  EXPECT_EQ(f.fake.calls[0].user, "alice");
  EXPECT_EQ(f.fake.calls[0].stored, EncodeStoredPassword("secret"));
  EXPECT_TRUE(f.fake.calls[0].autoLogin);
  EXPECT_EQ(f.frame->State(), TfmLogin::TState::LoggingIn);
  f.frame->PressLogin();  // while one runs, nothing more is asked
  EXPECT_EQ(f.fake.calls.size(), 1u);

  f.Answer(Status::WrongPassword, true);
  EXPECT_EQ(f.frame->State(), TfmLogin::TState::Login);
  const QString refused = QStringLiteral("登录失败，") + QString::fromStdString(LoginResultText(Status::WrongPassword));
  EXPECT_EQ(f.frame->MessageLabel()->text(), refused);
  EXPECT_EQ(f.notices, QStringList{QStringLiteral("系统提示: ") + refused});

  f.frame->PressLogin();
  f.Answer(0, true, 10042);
  EXPECT_EQ(f.frame->State(), TfmLogin::TState::LoggedIn);
  EXPECT_EQ(f.frame->UserIDLabel()->text(), QStringLiteral("登录成功,您的ID是: 10042"));
  Look(*f.frame, "login-frame-logged-in");

  QTest::mouseClick(f.frame->LogoutButton(), Qt::LeftButton);
  ASSERT_EQ(f.fake.calls.size(), 3u);
  EXPECT_EQ(f.fake.calls[2].user, "");
  EXPECT_EQ(f.frame->State(), TfmLogin::TState::Connecting);
  EXPECT_EQ(f.frame->ConnectingLabel()->text(), QStringLiteral("迷你琴鸟正在连接服务器。。。"));
  f.Answer(0, false, 10043);
  EXPECT_EQ(f.frame->State(), TfmLogin::TState::Login);
  EXPECT_EQ(f.frame->MessageLabel()->text(), QStringLiteral("您还没有登录"));
  EXPECT_TRUE(f.frame->PasswordBox()->text().isEmpty());
}

// An anonymous connection that fails names the firewall when nothing could be sent, pops up once,
// and tries again every 30 s (the button too).
TEST(LoginFrame, AFailedConnectionRetries) {
  LoginFrame f;
  f.frame->ConnectAnonymously();
  EXPECT_FALSE(f.frame->ConnectButton()->isVisible());
  f.Answer(Status::NoAnswer, false, 0, true);
  EXPECT_EQ(f.frame->State(), TfmLogin::TState::Connecting);
  EXPECT_EQ(f.frame->ConnectingLabel()->text(),
            QStringLiteral("连接服务器失败，无法连接到服务器，请关闭您的防火墙或者放行minilirra程序"));
  EXPECT_TRUE(f.frame->ConnectButton()->isVisible());
  EXPECT_TRUE(f.frame->RetryTimer()->isActive());
  EXPECT_EQ(f.frame->RetryTimer()->interval(), TfmLogin::TmpLoginRetryMs);
  Look(*f.frame, "login-frame-connect-failed");

  f.frame->RetryTimer()->setInterval(1);  // the retry's tick, without waiting 30 s
  EXPECT_TRUE(QTest::qWaitFor([&] { return f.fake.calls.size() == 2; }, 5000));
  EXPECT_FALSE(f.frame->RetryTimer()->isActive());
  f.Answer(Status::NoAnswer, false);
  EXPECT_EQ(f.notices.size(), 1) << "the pop-up comes with the first failure only";
  EXPECT_TRUE(f.frame->ConnectingLabel()->text().startsWith(QStringLiteral("连接服务器失败，")));
}

// The last login is offered as "name(number)", and its automatic login logs in by number with
// the stored password, none typed; a password typed replaces it.
TEST(LoginFrame, OffersTheLastLogin) {
  LoginFrame f({10042, "alice", true, EncodeStoredPassword("secret")});
  EXPECT_EQ(f.frame->UserBox()->currentText(), QStringLiteral("alice(10042)"));
  EXPECT_EQ(f.frame->UserText(), "10042");
  EXPECT_TRUE(f.frame->AutoLoginBox()->isChecked());
  f.frame->PressLogin();
  ASSERT_EQ(f.fake.calls.size(), 1u);
  EXPECT_EQ(f.fake.calls[0].user, "10042");
  EXPECT_EQ(f.fake.calls[0].stored, EncodeStoredPassword("secret"));
  f.Answer(Status::WrongPassword, true);

  QTest::keyClicks(f.frame->PasswordBox(), "other");
  f.frame->PressLogin();
  ASSERT_EQ(f.fake.calls.size(), 2u);
  EXPECT_EQ(f.fake.calls[1].stored, EncodeStoredPassword("other"));
}

}  // namespace

int main(int argc, char** argv) { return mltest::RunQtWidgetTests(argc, argv); }
