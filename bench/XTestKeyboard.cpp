#include "XTestKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

XTestKeyboard::~XTestKeyboard()
{
    if (m_display)
        XCloseDisplay(m_display);
}

bool XTestKeyboard::open()
{
    m_display = XOpenDisplay(nullptr);
    if (!m_display)
        return false;
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(m_display, &event, &error, &major, &minor) == True;
}

bool XTestKeyboard::tap(unsigned long keysym)
{
    const KeyCode code = XKeysymToKeycode(m_display, KeySym(keysym));
    if (code == 0)
        return false;
    // The press goes out on its own and is flushed at once, so that the
    // caller's clock, read just before, covers the whole way from here.
    XTestFakeKeyEvent(m_display, code, True, CurrentTime);
    XFlush(m_display);
    XTestFakeKeyEvent(m_display, code, False, CurrentTime);
    XSync(m_display, False);
    return true;
}
