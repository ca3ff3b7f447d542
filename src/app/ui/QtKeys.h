#pragma once
// Keys as the key map stores them: a virtual-key code (the letters and digits as their upper-case
// characters, F1 = 112, the arrows 37..40, the media keys 176..179) plus 8192 for Shift, 16384
// for Ctrl and 32768 for Alt. Qt reports its own key codes; this is the one translation.
#include <QKeyEvent>

#include <cstdint>

namespace ml {

// The virtual-key code of a Qt key, or 0 for a key the key map cannot hold.
int VirtualKeyOfQtKey(int qtKey);
// The key map's value of a key press (0 when the key cannot be stored or is a bare modifier).
int32_t ShortcutOfKeyEvent(const QKeyEvent& event);

}  // namespace ml
