// Global hotkeys on a real X server (Xvfb): a table of keys grabbed and pressed through XTest
// (xdotool) reaches OnHotkey with the right ids, with Num Lock and Caps Lock on too; a key another
// client holds fails alone with a message; unregistering gives the keys back. Without X11 every
// key fails with the platform's reason.
#include "app/ui/GlobalHotkeys.h"
#include "tests/app/ui/QtPump.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QWindow>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <vector>

using namespace ml;

namespace {

constexpr int kF5 = 0x74, kLeft = 0x25, kMediaPlayPause = 179, kMediaNext = 176;

bool OnX11() { return QGuiApplication::platformName() == "xcb"; }

void Press(const QString& keys) {
  ASSERT_EQ(QProcess::execute("xdotool", {"key", keys}), 0) << keys.toStdString();
}

// The ids that arrive while Qt's loop runs a little (the presses are already at the server).
std::vector<int> Delivered(TGlobalHotkeys& hotkeys, size_t expected) {
  std::vector<int> ids;
  hotkeys.OnHotkey = [&](int id) { ids.push_back(id); };
  test::PumpUntil([&] { return ids.size() >= expected; }, 3000);
  // Anything late or extra would show here.
  test::PumpUntil([] { return false; }, 100);
  return ids;
}

TEST(GlobalHotkeysNames, KeysMapToKeysymsAndReadableNames) {
  const struct {
    THotkeyRegistration Key;
    uint32_t Keysym;
    const char* Text;
  } rows[] = {
      {{1, 'P', false, true, true}, 0x70, "Ctrl+Alt+P"},
      {{2, '7', true}, 0x37, "Shift+7"},
      {{3, kF5, true}, 0xffc2, "Shift+F5"},
      {{4, 0x87}, 0xffd5, "F24"},
      {{5, kLeft, false, true}, 0xff51, "Ctrl+Left"},
      {{6, 0x63}, 0xffb3, "Num 3"},
      {{7, 0xBC}, 0x2c, ","},
      {{1001, kMediaPlayPause}, 0x1008ff14, "Play/Pause"},
      {{1004, 178}, 0x1008ff15, "Stop"},
      {{9, 0x5B}, 0, "key 91"},  // a Windows key: not ours to grab
  };
  for (const auto& row : rows) {
    EXPECT_EQ(VirtualKeyToKeysym(row.Key.VirtualKey), row.Keysym) << row.Text;
    EXPECT_EQ(HotkeyText(row.Key), row.Text);
  }
}

TEST(GlobalHotkeysX11, PressedKeysReachTheirIdsWithLocksOnOrOff) {
  if (!OnX11()) GTEST_SKIP() << "needs the xcb platform (run under xvfb-run)";
  TGlobalHotkeys hotkeys;
  ASSERT_EQ(hotkeys.PlatformError(), "");
  const std::vector<THotkeyRegistration> keys = {
      {1, 'P', false, true, true}, {2, kF5, true}, {3, kLeft, false, true}, {4, '7', false, false, true},
      {1001, kMediaPlayPause},     {1003, kMediaNext},
  };
  EXPECT_TRUE(hotkeys.Register(keys).empty());

  Press("ctrl+alt+p");
  Press("shift+F5");
  Press("ctrl+Left");
  Press("alt+7");
  Press("XF86AudioPlay");
  Press("XF86AudioNext");
  Press("p");        // the letter alone is not the hotkey
  Press("ctrl+F5");  // other modifiers than registered
  EXPECT_EQ(Delivered(hotkeys, 6), (std::vector<int>{1, 2, 3, 4, 1001, 1003}));

  for (const char* lock : {"Num_Lock", "Caps_Lock"}) {
    Press(lock);  // on
    Press("ctrl+alt+p");
    Press("XF86AudioNext");
    Press(lock);  // off again
    EXPECT_EQ(Delivered(hotkeys, 2), (std::vector<int>{1, 1003})) << lock;
  }

  // With a window of ours in focus the key is still the hotkey, not a key press of the window.
  QWindow window;
  window.resize(100, 100);
  window.show();
  ASSERT_TRUE(test::PumpUntil([&] { return window.isExposed(); }));
  ASSERT_EQ(QProcess::execute("xdotool", {"windowfocus", "--sync", QString::number(window.winId())}), 0);
  Press("ctrl+alt+p");
  EXPECT_EQ(Delivered(hotkeys, 1), std::vector<int>{1});
}

// The player's default table: every key is grabbed but those the X server keeps for itself
// (Ctrl+Alt+F5, play/pause, and Ctrl+Alt+F6, stop, are console switches), which say so.
TEST(GlobalHotkeysX11, ThePlayersDefaultKeysAreGrabbedButTheConsoleSwitches) {
  if (!OnX11()) GTEST_SKIP() << "needs the xcb platform (run under xvfb-run)";
  TGlobalHotkeys hotkeys;
  const std::vector<THotkeyRegistration> keys = GlobalHotkeys(TSettingMgr::DefaultKeyMaps());
  ASSERT_GT(keys.size(), 4u);
  std::vector<std::string> messages;
  for (const THotkeyError& e : hotkeys.Register(keys)) {
    messages.push_back(e.Message);
    EXPECT_TRUE(e.Reserved) << e.Message;  // reported, but no notice at every start
  }
  EXPECT_EQ(messages, (std::vector<std::string>{"Ctrl+Alt+F5: the X server keeps this key for switching consoles",
                                                "Ctrl+Alt+F6: the X server keeps this key for switching consoles"}));
  Press("ctrl+alt+m");      // play mode, row 5
  Press("ctrl+alt+Right");  // next, row 3
  EXPECT_EQ(Delivered(hotkeys, 2), (std::vector<int>{5, 3}));
}

TEST(GlobalHotkeysX11, AKeyHeldElsewhereFailsAloneAndUnregisterGivesKeysBack) {
  if (!OnX11()) GTEST_SKIP() << "needs the xcb platform (run under xvfb-run)";
  // Another program: a connection of its own to the same server.
  xcb_connection_t* other = xcb_connect(nullptr, nullptr);
  ASSERT_EQ(xcb_connection_has_error(other), 0);
  {
    TGlobalHotkeys rival(other);
    ASSERT_TRUE(rival.Register({{50, 'Q', false, true, true}}).empty());

    TGlobalHotkeys hotkeys;
    const std::vector<THotkeyError> errors =
        hotkeys.Register({{1, 'P', false, true, true}, {2, 'Q', false, true, true}, {3, 0x5B}});
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].Id, 2);
    EXPECT_EQ(errors[0].Message, "Ctrl+Alt+Q: another program holds this key");
    EXPECT_FALSE(errors[0].Reserved);
    EXPECT_EQ(errors[1].Id, 3);
    EXPECT_EQ(errors[1].Message, "key 91: not a key that can be grabbed");
    Press("ctrl+alt+p");  // the keys that were granted work
    EXPECT_EQ(Delivered(hotkeys, 1), std::vector<int>{1});

    // Released: the other program can take ours, and presses no longer reach us.
    hotkeys.Unregister();
    EXPECT_TRUE(rival.Register({{51, 'P', false, true, true}}).empty());
    rival.Unregister();
    Press("ctrl+alt+p");
    EXPECT_TRUE(Delivered(hotkeys, 0).empty());

    // A registration replaces the last one; destruction releases it too.
    EXPECT_TRUE(hotkeys.Register({{1, 'P', false, true, true}}).empty());
    EXPECT_EQ(rival.Register({{51, 'P', false, true, true}}).size(), 1u);
  }
  xcb_disconnect(other);
}

TEST(GlobalHotkeysPlatform, WithoutX11EveryKeyFailsWithTheReason) {
  if (OnX11()) GTEST_SKIP() << "runs on a platform without X11 (QT_QPA_PLATFORM=offscreen)";
  TGlobalHotkeys hotkeys;
  EXPECT_NE(hotkeys.PlatformError().find("X11"), std::string::npos) << hotkeys.PlatformError();
  const std::vector<THotkeyError> errors = hotkeys.Register({{1, 'P', false, true, true}, {1001, kMediaPlayPause}});
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[1].Id, 1001);
  EXPECT_EQ(errors[1].Message, hotkeys.PlatformError());
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
