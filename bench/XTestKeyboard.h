#pragma once

// Key presses sent by this process through the X server with the XTEST
// extension, on a Display connection of its own: the server delivers them to
// the focused window exactly as it would a key of a real keyboard, with no
// helper program started per press.
class XTestKeyboard {
public:
    XTestKeyboard() = default;
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    // Connects to $DISPLAY; false when there is no server or no XTEST on it.
    bool open();
    // Press and release of the key with that X keysym (XK_F5, XK_Escape...);
    // returns once the server has taken both.
    bool tap(unsigned long keysym);

private:
    struct _XDisplay* m_display = nullptr;
};
