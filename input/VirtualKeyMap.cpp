#include "input/VirtualKeyMap.h"

#include <X11/XF86keysym.h>
// keysymdef.h defines only the groups that are asked for.
#define XK_MISCELLANY
#define XK_LATIN1
#define XK_XKB_KEYS
#include <X11/keysymdef.h>
#include <linux/input-event-codes.h>

#include <Qt>

#include <array>

namespace {

struct KeyRow {
    int virtualKey;
    int evdevCode;   // 0: no evdev key for this row
    quint32 keysym;  // 0: no keysym
    int qtKey;       // 0: no Qt key
    bool hotkey;     // in the table of keys that may be system-wide hotkeys
};

// Windows virtual-key codes. Both sides of Shift, Control and Alt share the
// generic code, as a keyboard's own report of them does on Windows.
constexpr std::array kRows = std::to_array<KeyRow>({
    {0x08, KEY_BACKSPACE, XK_BackSpace, Qt::Key_Backspace, true},
    {0x09, KEY_TAB, XK_Tab, Qt::Key_Tab, true},
    {0x0D, KEY_ENTER, XK_Return, Qt::Key_Return, true},
    {0x0D, KEY_KPENTER, XK_KP_Enter, Qt::Key_Enter, true},
    {0x10, KEY_LEFTSHIFT, XK_Shift_L, Qt::Key_Shift, false},
    {0x10, KEY_RIGHTSHIFT, XK_Shift_R, 0, false},
    {0x11, KEY_LEFTCTRL, XK_Control_L, Qt::Key_Control, false},
    {0x11, KEY_RIGHTCTRL, XK_Control_R, 0, false},
    {0x12, KEY_LEFTALT, XK_Alt_L, Qt::Key_Alt, false},
    {0x12, KEY_RIGHTALT, XK_Alt_R, Qt::Key_AltGr, false},
    {0x12, 0, XK_ISO_Level3_Shift, 0, false},
    {0x13, KEY_PAUSE, XK_Pause, Qt::Key_Pause, false},
    {0x14, KEY_CAPSLOCK, XK_Caps_Lock, Qt::Key_CapsLock, false},
    {0x1B, KEY_ESC, XK_Escape, Qt::Key_Escape, true},
    {0x20, KEY_SPACE, XK_space, Qt::Key_Space, true},
    {0x21, KEY_PAGEUP, XK_Prior, Qt::Key_PageUp, true},
    {0x22, KEY_PAGEDOWN, XK_Next, Qt::Key_PageDown, true},
    {0x23, KEY_END, XK_End, Qt::Key_End, true},
    {0x24, KEY_HOME, XK_Home, Qt::Key_Home, true},
    {0x25, KEY_LEFT, XK_Left, Qt::Key_Left, true},
    {0x26, KEY_UP, XK_Up, Qt::Key_Up, true},
    {0x27, KEY_RIGHT, XK_Right, Qt::Key_Right, true},
    {0x28, KEY_DOWN, XK_Down, Qt::Key_Down, true},
    {0x2C, KEY_SYSRQ, XK_Print, Qt::Key_Print, false},
    {0x2D, KEY_INSERT, XK_Insert, Qt::Key_Insert, true},
    {0x2E, KEY_DELETE, XK_Delete, Qt::Key_Delete, true},
    {0x30, KEY_0, XK_0, Qt::Key_0, true},
    {0x31, KEY_1, XK_1, Qt::Key_1, true},
    {0x32, KEY_2, XK_2, Qt::Key_2, true},
    {0x33, KEY_3, XK_3, Qt::Key_3, true},
    {0x34, KEY_4, XK_4, Qt::Key_4, true},
    {0x35, KEY_5, XK_5, Qt::Key_5, true},
    {0x36, KEY_6, XK_6, Qt::Key_6, true},
    {0x37, KEY_7, XK_7, Qt::Key_7, true},
    {0x38, KEY_8, XK_8, Qt::Key_8, true},
    {0x39, KEY_9, XK_9, Qt::Key_9, true},
    {0x41, KEY_A, XK_a, Qt::Key_A, true},
    {0x42, KEY_B, XK_b, Qt::Key_B, true},
    {0x43, KEY_C, XK_c, Qt::Key_C, true},
    {0x44, KEY_D, XK_d, Qt::Key_D, true},
    {0x45, KEY_E, XK_e, Qt::Key_E, true},
    {0x46, KEY_F, XK_f, Qt::Key_F, true},
    {0x47, KEY_G, XK_g, Qt::Key_G, true},
    {0x48, KEY_H, XK_h, Qt::Key_H, true},
    {0x49, KEY_I, XK_i, Qt::Key_I, true},
    {0x4A, KEY_J, XK_j, Qt::Key_J, true},
    {0x4B, KEY_K, XK_k, Qt::Key_K, true},
    {0x4C, KEY_L, XK_l, Qt::Key_L, true},
    {0x4D, KEY_M, XK_m, Qt::Key_M, true},
    {0x4E, KEY_N, XK_n, Qt::Key_N, true},
    {0x4F, KEY_O, XK_o, Qt::Key_O, true},
    {0x50, KEY_P, XK_p, Qt::Key_P, true},
    {0x51, KEY_Q, XK_q, Qt::Key_Q, true},
    {0x52, KEY_R, XK_r, Qt::Key_R, true},
    {0x53, KEY_S, XK_s, Qt::Key_S, true},
    {0x54, KEY_T, XK_t, Qt::Key_T, true},
    {0x55, KEY_U, XK_u, Qt::Key_U, true},
    {0x56, KEY_V, XK_v, Qt::Key_V, true},
    {0x57, KEY_W, XK_w, Qt::Key_W, true},
    {0x58, KEY_X, XK_x, Qt::Key_X, true},
    {0x59, KEY_Y, XK_y, Qt::Key_Y, true},
    {0x5A, KEY_Z, XK_z, Qt::Key_Z, true},
    {0x5B, KEY_LEFTMETA, XK_Super_L, Qt::Key_Super_L, false},
    {0x5C, KEY_RIGHTMETA, XK_Super_R, Qt::Key_Super_R, false},
    {0x5D, KEY_COMPOSE, XK_Menu, Qt::Key_Menu, false},
    {0x5F, KEY_SLEEP, XF86XK_Sleep, Qt::Key_Sleep, false},
    // Keypad digits and operators: Qt reports them as ordinary keys with the
    // keypad modifier, so they have no Qt key of their own here.
    {0x60, KEY_KP0, XK_KP_0, 0, false},
    {0x61, KEY_KP1, XK_KP_1, 0, false},
    {0x62, KEY_KP2, XK_KP_2, 0, false},
    {0x63, KEY_KP3, XK_KP_3, 0, false},
    {0x64, KEY_KP4, XK_KP_4, 0, false},
    {0x65, KEY_KP5, XK_KP_5, 0, false},
    {0x66, KEY_KP6, XK_KP_6, 0, false},
    {0x67, KEY_KP7, XK_KP_7, 0, false},
    {0x68, KEY_KP8, XK_KP_8, 0, false},
    {0x69, KEY_KP9, XK_KP_9, 0, false},
    {0x6A, KEY_KPASTERISK, XK_KP_Multiply, 0, false},
    {0x6B, KEY_KPPLUS, XK_KP_Add, 0, false},
    {0x6D, KEY_KPMINUS, XK_KP_Subtract, 0, false},
    {0x6E, KEY_KPDOT, XK_KP_Decimal, 0, false},
    {0x6F, KEY_KPSLASH, XK_KP_Divide, 0, false},
    {0x70, KEY_F1, XK_F1, Qt::Key_F1, true},
    {0x71, KEY_F2, XK_F2, Qt::Key_F2, true},
    {0x72, KEY_F3, XK_F3, Qt::Key_F3, true},
    {0x73, KEY_F4, XK_F4, Qt::Key_F4, true},
    {0x74, KEY_F5, XK_F5, Qt::Key_F5, true},
    {0x75, KEY_F6, XK_F6, Qt::Key_F6, true},
    {0x76, KEY_F7, XK_F7, Qt::Key_F7, true},
    {0x77, KEY_F8, XK_F8, Qt::Key_F8, true},
    {0x78, KEY_F9, XK_F9, Qt::Key_F9, true},
    {0x79, KEY_F10, XK_F10, Qt::Key_F10, true},
    {0x7A, KEY_F11, XK_F11, Qt::Key_F11, true},
    {0x7B, KEY_F12, XK_F12, Qt::Key_F12, true},
    {0x7C, KEY_F13, XK_F13, Qt::Key_F13, false},
    {0x7D, KEY_F14, XK_F14, Qt::Key_F14, false},
    {0x7E, KEY_F15, XK_F15, Qt::Key_F15, false},
    {0x7F, KEY_F16, XK_F16, Qt::Key_F16, false},
    {0x80, KEY_F17, XK_F17, Qt::Key_F17, false},
    {0x81, KEY_F18, XK_F18, Qt::Key_F18, false},
    {0x82, KEY_F19, XK_F19, Qt::Key_F19, false},
    {0x83, KEY_F20, XK_F20, Qt::Key_F20, false},
    {0x84, KEY_F21, XK_F21, Qt::Key_F21, false},
    {0x85, KEY_F22, XK_F22, Qt::Key_F22, false},
    {0x86, KEY_F23, XK_F23, Qt::Key_F23, false},
    {0x87, KEY_F24, XK_F24, Qt::Key_F24, false},
    {0x90, KEY_NUMLOCK, XK_Num_Lock, Qt::Key_NumLock, false},
    {0x91, KEY_SCROLLLOCK, XK_Scroll_Lock, Qt::Key_ScrollLock, false},
    {0xA6, KEY_BACK, XF86XK_Back, Qt::Key_Back, false},
    {0xA7, KEY_FORWARD, XF86XK_Forward, Qt::Key_Forward, false},
    {0xA8, KEY_REFRESH, XF86XK_Refresh, Qt::Key_Refresh, false},
    {0xA9, KEY_STOP, XF86XK_Stop, Qt::Key_Stop, false},
    {0xAA, KEY_SEARCH, XF86XK_Search, Qt::Key_Search, false},
    {0xAB, KEY_BOOKMARKS, XF86XK_Favorites, Qt::Key_Favorites, false},
    {0xAC, KEY_HOMEPAGE, XF86XK_HomePage, Qt::Key_HomePage, false},
    {0xAD, KEY_MUTE, XF86XK_AudioMute, Qt::Key_VolumeMute, false},
    {0xAE, KEY_VOLUMEDOWN, XF86XK_AudioLowerVolume, Qt::Key_VolumeDown, false},
    {0xAF, KEY_VOLUMEUP, XF86XK_AudioRaiseVolume, Qt::Key_VolumeUp, false},
    {0xB0, KEY_NEXTSONG, XF86XK_AudioNext, Qt::Key_MediaNext, false},
    {0xB1, KEY_PREVIOUSSONG, XF86XK_AudioPrev, Qt::Key_MediaPrevious, false},
    {0xB2, KEY_STOPCD, XF86XK_AudioStop, Qt::Key_MediaStop, false},
    {0xB3, KEY_PLAYPAUSE, XF86XK_AudioPlay, Qt::Key_MediaPlay, false},
    {0xB3, 0, XF86XK_AudioPause, Qt::Key_MediaTogglePlayPause, false},
    {0xB4, KEY_MAIL, XF86XK_Mail, Qt::Key_LaunchMail, false},
    {0xB5, KEY_MEDIA, XF86XK_AudioMedia, Qt::Key_LaunchMedia, false},
    {0xB6, KEY_COMPUTER, XF86XK_MyComputer, Qt::Key_Launch0, false},
    {0xB7, KEY_CALC, XF86XK_Calculator, Qt::Key_Calculator, false},
    {0xBA, KEY_SEMICOLON, XK_semicolon, Qt::Key_Semicolon, false},
    {0xBB, KEY_EQUAL, XK_equal, Qt::Key_Equal, false},
    {0xBC, KEY_COMMA, XK_comma, Qt::Key_Comma, false},
    {0xBD, KEY_MINUS, XK_minus, Qt::Key_Minus, false},
    {0xBE, KEY_DOT, XK_period, Qt::Key_Period, false},
    {0xBF, KEY_SLASH, XK_slash, Qt::Key_Slash, false},
    {0xC0, KEY_GRAVE, XK_grave, Qt::Key_QuoteLeft, false},
    {0xDB, KEY_LEFTBRACE, XK_bracketleft, Qt::Key_BracketLeft, false},
    {0xDC, KEY_BACKSLASH, XK_backslash, Qt::Key_Backslash, false},
    {0xDD, KEY_RIGHTBRACE, XK_bracketright, Qt::Key_BracketRight, false},
    {0xDE, KEY_APOSTROPHE, XK_apostrophe, Qt::Key_Apostrophe, false},
    {0xE2, KEY_102ND, XK_less, Qt::Key_Less, false},
});

template <typename Match>
int findVirtualKey(Match match)
{
    for (const KeyRow& row : kRows) {
        if (match(row))
            return row.virtualKey;
    }
    return 0;
}

}  // namespace

namespace VirtualKeyMap {

int fromEvdevCode(int evdevCode)
{
    if (evdevCode <= 0)
        return 0;
    return findVirtualKey([evdevCode](const KeyRow& row) { return row.evdevCode == evdevCode; });
}

int fromKeysym(quint32 keysym)
{
    if (keysym == 0)
        return 0;
    if (keysym >= XK_A && keysym <= XK_Z)
        keysym += XK_a - XK_A;
    return findVirtualKey([keysym](const KeyRow& row) { return row.keysym == keysym; });
}

int fromQtKey(int qtKey)
{
    if (qtKey == 0)
        return 0;
    return findVirtualKey([qtKey](const KeyRow& row) { return row.qtKey == qtKey; });
}

int fromKeyEvent(quint32 nativeScanCode, quint32 nativeKeysym, int qtKey, bool scanCodesAreEvdev)
{
    // X and Wayland key codes are evdev codes shifted by 8.
    int code = 0;
    if (scanCodesAreEvdev && nativeScanCode > 8)
        code = fromEvdevCode(int(nativeScanCode) - 8);
    if (code == 0)
        code = fromKeysym(nativeKeysym);
    if (code == 0)
        code = fromQtKey(qtKey);
    return code;
}

int hotkeyCodeFromQtKey(int qtKey)
{
    if (qtKey == 0)
        return 0;
    return findVirtualKey([qtKey](const KeyRow& row) { return row.hotkey && row.qtKey == qtKey; });
}

quint32 keysymOf(int virtualKey)
{
    if (virtualKey <= 0)
        return 0;
    for (const KeyRow& row : kRows) {
        if (row.virtualKey == virtualKey && row.keysym != 0)
            return row.keysym;
    }
    return 0;
}

}  // namespace VirtualKeyMap
