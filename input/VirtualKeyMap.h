#pragma once

#include <QtGlobal>

// Key bindings are stored with Windows virtual-key codes ("Keyboard:Key32",
// "ExtDev:VID_045E&PID_028E:Key34"), so that a binding keeps its meaning
// whichever way a key reached us. This is the one table between those codes
// and what Linux delivers: evdev key codes from device nodes, X keysyms and
// key codes from the window system, and Qt keys.
namespace VirtualKeyMap {

// The code for an evdev key code (linux/input-event-codes.h); 0 when none.
int fromEvdevCode(int evdevCode);

// The code for an X keysym; letters count in either case. 0 when none.
int fromKeysym(quint32 keysym);

// The code for a Qt key; 0 when none.
int fromQtKey(int qtKey);

// The code for a key event of the window system: its scan code when the
// platform delivers evdev-based key codes (evdev code + 8), else its keysym,
// else its Qt key. 0 when none of them is known.
int fromKeyEvent(quint32 nativeScanCode, quint32 nativeKeysym, int qtKey, bool scanCodesAreEvdev);

// The code of the small fixed table of Qt keys that may become system-wide
// hotkeys: Space, digits, letters, Escape, Tab, Backspace, Return, Enter,
// Insert, Delete, Home, End, the arrows, Page Up and Down, F1 to F12. 0 for
// every other key.
int hotkeyCodeFromQtKey(int qtKey);

// The X keysym that a code stands for; 0 when none.
quint32 keysymOf(int virtualKey);

}  // namespace VirtualKeyMap
