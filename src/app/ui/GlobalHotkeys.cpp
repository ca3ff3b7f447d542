#include "app/ui/GlobalHotkeys.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QMetaObject>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace ml {

namespace {

struct TNamedKey {
  int VirtualKey;
  uint32_t Keysym;
  const char* Name;
};

// The keys that are neither letters, digits nor function keys. Punctuation is named by the US
// layout's character, as the key map's editor shows it.
constexpr TNamedKey kNamedKeys[] = {
    {0x08, 0xff08, "Backspace"},   {0x09, 0xff09, "Tab"},          {0x0D, 0xff0d, "Enter"},
    {0x13, 0xff13, "Pause"},       {0x1B, 0xff1b, "Esc"},          {0x20, 0x0020, "Space"},
    {0x21, 0xff55, "PgUp"},        {0x22, 0xff56, "PgDn"},         {0x23, 0xff57, "End"},
    {0x24, 0xff50, "Home"},        {0x25, 0xff51, "Left"},         {0x26, 0xff52, "Up"},
    {0x27, 0xff53, "Right"},       {0x28, 0xff54, "Down"},         {0x2D, 0xff63, "Ins"},
    {0x2E, 0xffff, "Del"},         {0x6A, 0xffaa, "Num *"},        {0x6B, 0xffab, "Num +"},
    {0x6D, 0xffad, "Num -"},       {0x6E, 0xffae, "Num ."},        {0x6F, 0xffaf, "Num /"},
    {0xAD, 0x1008ff12, "Mute"},    {0xAE, 0x1008ff11, "Volume Down"}, {0xAF, 0x1008ff13, "Volume Up"},
    {0xB0, 0x1008ff17, "Next Track"}, {0xB1, 0x1008ff16, "Previous Track"}, {0xB2, 0x1008ff15, "Stop"},
    {0xB3, 0x1008ff14, "Play/Pause"}, {0xBA, 0x003b, ";"},         {0xBB, 0x003d, "="},
    {0xBC, 0x002c, ","},           {0xBD, 0x002d, "-"},            {0xBE, 0x002e, "."},
    {0xBF, 0x002f, "/"},           {0xC0, 0x0060, "`"},            {0xDB, 0x005b, "["},
    {0xDC, 0x005c, "\\"},          {0xDD, 0x005d, "]"},            {0xDE, 0x0027, "'"},
};

constexpr uint32_t kNumLockKeysym = 0xff7f;
// XF86Switch_VT_1..12: what Ctrl+Alt+F1..F12 produce on a standard map.
constexpr uint32_t kSwitchVtFirst = 0x1008fe01, kSwitchVtLast = 0x1008fe0c;

const TNamedKey* FindNamed(int virtualKey) {
  for (const TNamedKey& k : kNamedKeys)
    if (k.VirtualKey == virtualKey) return &k;
  return nullptr;
}

std::string KeyName(int vk) {
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::string(1, char(vk));
  if (vk >= 0x60 && vk <= 0x69) return "Num " + std::to_string(vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87) return "F" + std::to_string(vk - 0x70 + 1);
  if (const TNamedKey* k = FindNamed(vk)) return k->Name;
  return "key " + std::to_string(vk);
}

uint16_t ModifiersOf(const THotkeyRegistration& key) {
  return uint16_t((key.Shift ? XCB_MOD_MASK_SHIFT : 0) | (key.Ctrl ? XCB_MOD_MASK_CONTROL : 0) | (key.Alt ? XCB_MOD_MASK_1 : 0));
}

}  // namespace

uint32_t VirtualKeyToKeysym(int vk) {
  if (vk >= 'A' && vk <= 'Z') return uint32_t(vk - 'A' + 'a');  // the unshifted letter
  if (vk >= '0' && vk <= '9') return uint32_t(vk);
  if (vk >= 0x60 && vk <= 0x69) return 0xffb0 + uint32_t(vk - 0x60);  // keypad digits
  if (vk >= 0x70 && vk <= 0x87) return 0xffbe + uint32_t(vk - 0x70);  // F1..F24
  if (const TNamedKey* k = FindNamed(vk)) return k->Keysym;
  return 0;
}

std::string HotkeyText(const THotkeyRegistration& key) {
  std::string text;
  if (key.Ctrl) text += "Ctrl+";
  if (key.Shift) text += "Shift+";
  if (key.Alt) text += "Alt+";
  return text + KeyName(key.VirtualKey);
}

TGlobalHotkeys::TGlobalHotkeys(xcb_connection_t* connection) {
  if (connection) {
    conn_ = connection;
  } else {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11) conn_ = x11->connection();
  }
  if (!conn_) {
    const QString platform = QGuiApplication::platformName();
    if (!qGuiApp)
      platformError_ = "global hotkeys: no desktop application to receive them";
    else if (platform.startsWith(QLatin1String("wayland")))
      platformError_ = "global hotkeys: not available in a Wayland session (it does not let a program take keys "
                       "from the whole desktop); use the desktop's own shortcut settings or the media-player bus";
    else
      platformError_ = "global hotkeys: they need an X11 display, and this program runs on the \"" +
                       platform.toStdString() + "\" platform";
    return;
  }
  for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_)); it.rem; xcb_screen_next(&it))
    roots_.push_back(it.data->root);
  ReadKeyboard();
  if (!connection) {
    qGuiApp->installNativeEventFilter(this);
    watching_ = true;
  }
}

TGlobalHotkeys::~TGlobalHotkeys() {
  Unregister();
  if (watching_ && qGuiApp) qGuiApp->removeNativeEventFilter(this);
}

void TGlobalHotkeys::ReadKeyboard() {
  const xcb_setup_t* setup = xcb_get_setup(conn_);
  minKeycode_ = setup->min_keycode;
  const uint8_t count = uint8_t(setup->max_keycode - setup->min_keycode + 1);
  std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> map(
      xcb_get_keyboard_mapping_reply(conn_, xcb_get_keyboard_mapping(conn_, minKeycode_, count), nullptr), &std::free);
  if (!map) return;
  keysymsPerKeycode_ = map->keysyms_per_keycode;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
  const int length = xcb_get_keyboard_mapping_keysyms_length(map.get());
  // No more than the keycodes asked for, whatever the reply's length says.
  keysyms_.assign(syms, syms + std::min<size_t>(size_t(std::max(length, 0)), size_t(count) * keysymsPerKeycode_));

  // Num Lock's modifier bit is where the server's modifier map puts its key (usually Mod2).
  numLockMask_ = 0;
  const uint8_t numLock = KeycodeOf(kNumLockKeysym);
  std::unique_ptr<xcb_get_modifier_mapping_reply_t, decltype(&std::free)> mods(
      xcb_get_modifier_mapping_reply(conn_, xcb_get_modifier_mapping(conn_), nullptr), &std::free);
  if (mods && numLock != 0 && xcb_get_modifier_mapping_keycodes_length(mods.get()) >= 8 * mods->keycodes_per_modifier) {
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mods.get());
    const int perModifier = mods->keycodes_per_modifier;
    for (int m = 0; m < 8 && numLockMask_ == 0; ++m)
      for (int i = 0; i < perModifier; ++i)
        if (codes[m * perModifier + i] == numLock) numLockMask_ = uint16_t(1u << m);
  }
  if (numLockMask_ == 0) numLockMask_ = XCB_MOD_MASK_2;
}

uint8_t TGlobalHotkeys::KeycodeOf(uint32_t keysym) const {
  if (keysym == 0 || keysymsPerKeycode_ == 0) return 0;
  // The unshifted level first: a key whose first symbol it is, then one that has it elsewhere.
  for (size_t level = 0; level < keysymsPerKeycode_; ++level)
    for (size_t i = level; i < keysyms_.size(); i += keysymsPerKeycode_)
      if (keysyms_[i] == keysym) return uint8_t(minKeycode_ + i / keysymsPerKeycode_);
  return 0;
}

bool TGlobalHotkeys::SwitchesConsole(uint8_t keycode) const {
  const size_t first = size_t(keycode - minKeycode_) * keysymsPerKeycode_;
  for (size_t i = first; i < first + keysymsPerKeycode_ && i < keysyms_.size(); ++i)
    if (keysyms_[i] >= kSwitchVtFirst && keysyms_[i] <= kSwitchVtLast) return true;
  return false;
}

std::vector<THotkeyError> TGlobalHotkeys::Register(const std::vector<THotkeyRegistration>& keys) {
  Unregister();
  std::vector<THotkeyError> errors;
  for (const THotkeyRegistration& key : keys) {
    THotkeyError error = platformError_.empty() ? Grab(key) : THotkeyError{key.Id, platformError_};
    if (!error.Message.empty()) errors.push_back(std::move(error));
  }
  return errors;
}

THotkeyError TGlobalHotkeys::Grab(const THotkeyRegistration& key) {
  const std::string name = HotkeyText(key);
  const uint32_t keysym = VirtualKeyToKeysym(key.VirtualKey);
  if (keysym == 0) return {key.Id, name + ": not a key that can be grabbed"};
  const uint8_t keycode = KeycodeOf(keysym);
  if (keycode == 0) return {key.Id, name + ": no key of this keyboard produces it"};
  // The server acts on a console switch itself and never delivers the press, so such a grab
  // would be held and silent.
  if (key.Ctrl && key.Alt && SwitchesConsole(keycode))
    return {key.Id, name + ": the X server keeps this key for switching consoles", true};

  // The same key with Caps Lock and Num Lock on or off: the server matches modifiers exactly.
  const uint16_t base = ModifiersOf(key);
  const uint16_t locks[] = {0, XCB_MOD_MASK_LOCK, numLockMask_, uint16_t(XCB_MOD_MASK_LOCK | numLockMask_)};
  std::vector<TGrab> held;
  std::vector<xcb_void_cookie_t> cookies;
  for (uint32_t root : roots_)
    for (uint16_t lock : locks) {
      held.push_back({key.Id, root, keycode, uint16_t(base | lock)});
      // Checked: a refusal comes back here as an error reply instead of an X error event. Not
      // owner_events: the press is reported on the root even while a window of ours has the
      // focus, as a hotkey rather than that window's key.
      cookies.push_back(xcb_grab_key_checked(conn_, 0, root, uint16_t(base | lock), keycode, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC));
    }
  std::string error;
  std::vector<TGrab> granted;
  for (size_t i = 0; i < cookies.size(); ++i) {
    std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> e(xcb_request_check(conn_, cookies[i]), &std::free);
    if (!e) {
      granted.push_back(held[i]);
    } else if (error.empty()) {
      error = e->error_code == XCB_ACCESS ? name + ": another program holds this key"
                                          : name + ": the X server refused the grab (error " + std::to_string(e->error_code) + ")";
    }
  }
  if (!error.empty()) {
    // All or nothing: a key that works only with Num Lock off would puzzle more than a message.
    for (const TGrab& g : granted) xcb_ungrab_key(conn_, g.Keycode, g.Root, g.Modifiers);
    xcb_flush(conn_);
    return {key.Id, error};
  }
  grabs_.insert(grabs_.end(), granted.begin(), granted.end());
  return {};
}

void TGlobalHotkeys::Unregister() {
  if (grabs_.empty()) return;
  for (const TGrab& g : grabs_) xcb_ungrab_key(conn_, g.Keycode, g.Root, g.Modifiers);
  grabs_.clear();
  // A round trip: the server has released the keys before this returns.
  std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

bool TGlobalHotkeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || grabs_.empty()) return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
  const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
  const uint16_t modifiers = press->state & uint16_t(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
  for (const TGrab& g : grabs_) {
    if (g.Keycode != press->detail || g.Root != press->event || (g.Modifiers & ~(XCB_MOD_MASK_LOCK | numLockMask_)) != modifiers)
      continue;
    // Delivered from the event loop, not from inside Qt's event reading, so a handler may open a
    // window or run a nested loop.
    const int id = g.Id;
    QMetaObject::invokeMethod(this, [this, id] { if (OnHotkey) OnHotkey(id); }, Qt::QueuedConnection);
    return true;
  }
  return false;
}

}  // namespace ml
