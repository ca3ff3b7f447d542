#pragma once
// Hotkeys that act while another program has the focus: each registration (a virtual-key code
// and its modifiers, from GlobalHotkeys()) is grabbed on the X server's root windows, also with
// Caps Lock and Num Lock on, and a press reaches OnHotkey on Qt's thread. A grab another program
// already holds fails for that key alone, with a message; where there is no X11 (a Wayland
// session, no display) every key fails with the platform's reason and the player goes on.
#include "app/MainWindowRules.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace ml {

// The X keysym of a virtual-key code (letters, digits, function, arrow, editing, keypad,
// punctuation and media keys); 0 for a code we do not know.
uint32_t VirtualKeyToKeysym(int virtualKey);
// How a message names a hotkey: "Ctrl+Alt+P", "Shift+F5", "Play/Pause".
std::string HotkeyText(const THotkeyRegistration& key);

struct THotkeyError {
  int Id = 0;
  std::string Message;  // names the key and why it failed
  // The X server keeps the key for itself (Ctrl+Alt+F1..F12 switch consoles): no program can
  // ever have it, whoever else runs.
  bool Reserved = false;
};

class TGlobalHotkeys final : public QObject, public QAbstractNativeEventFilter {
public:
  // On Qt's thread, after the QGuiApplication exists. `connection` is for grabbing through a
  // connection of one's own (a test playing another program); by default the grabs go through
  // the application's connection, whose key events are then watched.
  explicit TGlobalHotkeys(xcb_connection_t* connection = nullptr);
  ~TGlobalHotkeys() override;

  // Called with a registration's Id when its key is pressed, from Qt's event loop.
  std::function<void(int id)> OnHotkey;

  // Why no key can be grabbed here; empty where grabs work (an X11 display).
  const std::string& PlatformError() const { return platformError_; }
  // Grabs the keys in place of what was registered before; one error for each key that could
  // not be grabbed (the others are held).
  std::vector<THotkeyError> Register(const std::vector<THotkeyRegistration>& keys);
  // Releases every grab; when it returns, another program can take the keys.
  void Unregister();

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
  struct TGrab {
    int Id;
    uint32_t Root;
    uint8_t Keycode;
    uint16_t Modifiers;
  };
  // The grab of one key with every lock combination, or an error message.
  THotkeyError Grab(const THotkeyRegistration& key);
  uint8_t KeycodeOf(uint32_t keysym) const;
  bool SwitchesConsole(uint8_t keycode) const;
  void ReadKeyboard();

  xcb_connection_t* conn_ = nullptr;
  bool watching_ = false;
  std::string platformError_;
  std::vector<uint32_t> roots_;
  std::vector<TGrab> grabs_;
  // The keyboard's map: keysymsPerKeycode_ keysyms for each keycode from minKeycode_.
  std::vector<uint32_t> keysyms_;
  uint8_t minKeycode_ = 0, keysymsPerKeycode_ = 0;
  uint16_t numLockMask_ = 0;
};

}  // namespace ml
