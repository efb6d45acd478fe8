#include "platform/XcbKeyGrabber.h"

#include <QGuiApplication>

// keysymdef.h defines only the groups that are asked for.
#define XK_MISCELLANY
#define XK_LATIN1
#include <X11/keysymdef.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

constexpr quint16 kLockMask = XCB_MOD_MASK_LOCK;
constexpr quint16 kAllModifiers = 0x00FF;

}  // namespace

XcbKeyGrabber::XcbKeyGrabber(QObject* parent) : QObject(parent) {}

XcbKeyGrabber::~XcbKeyGrabber()
{
    ungrabAll();
}

QString XcbKeyGrabber::unavailableReason()
{
    if (!qGuiApp)
        return QStringLiteral("no application");
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")) || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
        || qgetenv("XDG_SESSION_TYPE") == "wayland") {
        // An X client under Wayland only sees keys while one of its own windows has the focus.
        return QStringLiteral("Wayland session: global key grabs are not possible");
    }
    if (!connection())
        return QStringLiteral("platform \"%1\" has no X11 connection").arg(platform);
    return {};
}

xcb_connection_t* XcbKeyGrabber::connection()
{
    // Asked every time: the connection lives exactly as long as the
    // application, and the X server drops its grabs when it closes.
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

quint32 XcbKeyGrabber::rootWindow(xcb_connection_t* connection) const
{
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    return screens.rem > 0 ? screens.data->root : 0;
}

void XcbKeyGrabber::readKeyboardMapping(xcb_connection_t* connection)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    m_minKeycode = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    m_keysyms.clear();
    m_keysymsPerKeycode = 0;
    XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, quint8(count)), nullptr));
    if (!mapping)
        return;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int length = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    m_keysyms.assign(syms, syms + length);
    m_keysymsPerKeycode = mapping->keysyms_per_keycode;

    // Which modifier bits Alt, Super and Num Lock sit on in this keyboard map.
    XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(
        connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!modifiers || m_keysymsPerKeycode == 0)
        return;
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    ModifierMasks found{0, 0, 0};
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < perModifier; ++k) {
            const int keycode = keycodes[modifier * perModifier + k];
            if (keycode < m_minKeycode)
                continue;
            const size_t first = size_t(keycode - m_minKeycode) * size_t(m_keysymsPerKeycode);
            for (int column = 0; column < m_keysymsPerKeycode && first + column < m_keysyms.size(); ++column) {
                const quint32 sym = m_keysyms[first + column];
                const quint16 bit = quint16(1u << modifier);
                if (sym == XK_Num_Lock)
                    found.numLock |= bit;
                else if ((sym == XK_Alt_L || sym == XK_Alt_R) && modifier >= 3)
                    found.alt |= bit;
                else if ((sym == XK_Super_L || sym == XK_Super_R) && modifier >= 3)
                    found.super |= bit;
            }
        }
    }
    if (found.numLock)
        m_masks.numLock = found.numLock;
    if (found.alt)
        m_masks.alt = found.alt;
    if (found.super)
        m_masks.super = found.super;
}

std::vector<quint8> XcbKeyGrabber::keycodesFor(quint32 keysym) const
{
    std::vector<quint8> result;
    if (m_keysymsPerKeycode == 0)
        return result;
    const size_t keycodeCount = m_keysyms.size() / size_t(m_keysymsPerKeycode);
    // The unshifted symbol first; a symbol that only sits on a shifted level still counts.
    for (int column = 0; column < m_keysymsPerKeycode && result.empty(); ++column) {
        for (size_t k = 0; k < keycodeCount; ++k) {
            if (m_keysyms[k * size_t(m_keysymsPerKeycode) + size_t(column)] == keysym)
                result.push_back(quint8(m_minKeycode + int(k)));
        }
    }
    return result;
}

std::vector<quint16> XcbKeyGrabber::lockVariants() const
{
    return {0, kLockMask, m_masks.numLock, quint16(kLockMask | m_masks.numLock)};
}

XcbKeyGrabber::GrabResult XcbKeyGrabber::grab(int id, quint32 keysym, int modifiers, int* errorCode)
{
    xcb_connection_t* conn = connection();
    if (!conn || !unavailableReason().isEmpty())
        return GrabResult::Unavailable;
    readKeyboardMapping(conn);

    Grab grab;
    grab.id = id;
    grab.keycodes = keycodesFor(keysym);
    if (grab.keycodes.empty())
        return GrabResult::NoKeycode;
    if (modifiers & ShiftModifier)
        grab.modifierMask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & ControlModifier)
        grab.modifierMask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & AltModifier)
        grab.modifierMask |= m_masks.alt;
    if (modifiers & SuperModifier)
        grab.modifierMask |= m_masks.super;

    const xcb_window_t root = rootWindow(conn);
    std::vector<xcb_void_cookie_t> cookies;
    for (quint8 keycode : grab.keycodes) {
        for (quint16 lock : lockVariants()) {
            // Events go to the root window even while one of our own windows
            // has the focus, so the filter below sees every press.
            cookies.push_back(xcb_grab_key_checked(conn, 0, root, quint16(grab.modifierMask | lock), keycode,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
    }
    int firstError = 0;
    for (const xcb_void_cookie_t& cookie : cookies) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(conn, cookie));
        if (error && firstError == 0)
            firstError = error->error_code;
    }
    if (firstError != 0) {
        // Ungrabbing a combination that another client holds leaves theirs alone.
        ungrabKeys(conn, grab);
        if (errorCode)
            *errorCode = firstError;
        return GrabResult::Refused;
    }
    m_grabs.push_back(std::move(grab));
    return GrabResult::Grabbed;
}

void XcbKeyGrabber::ungrabKeys(xcb_connection_t* conn, const Grab& grab) const
{
    const xcb_window_t root = rootWindow(conn);
    for (quint8 keycode : grab.keycodes) {
        for (quint16 lock : lockVariants())
            xcb_ungrab_key(conn, keycode, root, quint16(grab.modifierMask | lock));
    }
    xcb_flush(conn);
}

void XcbKeyGrabber::ungrab(int id)
{
    auto it = std::find_if(m_grabs.begin(), m_grabs.end(), [id](const Grab& g) { return g.id == id; });
    if (it == m_grabs.end())
        return;
    if (xcb_connection_t* conn = connection())
        ungrabKeys(conn, *it);
    m_grabs.erase(it);
}

void XcbKeyGrabber::ungrabAll()
{
    if (xcb_connection_t* conn = connection()) {
        for (const Grab& grab : m_grabs)
            ungrabKeys(conn, grab);
    }
    m_grabs.clear();
}

bool XcbKeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_grabs.empty() || eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & ~0x80) {
    case XCB_KEY_PRESS: {
        const auto* key = static_cast<const xcb_key_press_event_t*>(message);
        return handleKeyPress(key->detail, key->state, key->time);
    }
    case XCB_KEY_RELEASE: {
        const auto* key = static_cast<const xcb_key_release_event_t*>(message);
        return handleKeyRelease(key->detail, key->time);
    }
    default:
        return false;
    }
}

bool XcbKeyGrabber::handleKeyPress(quint8 keycode, quint16 state, quint32 time)
{
    const quint16 modifiers = state & kAllModifiers & quint16(~(kLockMask | m_masks.numLock));
    for (Grab& grab : m_grabs) {
        if (grab.modifierMask != modifiers
            || std::find(grab.keycodes.begin(), grab.keycodes.end(), keycode) == grab.keycodes.end())
            continue;
        // X repeats a held key as release and press with one timestamp.
        const bool repeat = grab.held || (grab.released && grab.releaseTime == time);
        grab.held = true;
        if (!repeat)
            emit keyPressed(grab.id);
        return true;
    }
    return false;
}

bool XcbKeyGrabber::handleKeyRelease(quint8 keycode, quint32 time)
{
    // The modifiers may already be up when the key comes up: match the key alone.
    bool ours = false;
    for (Grab& grab : m_grabs) {
        if (!grab.held
            || std::find(grab.keycodes.begin(), grab.keycodes.end(), keycode) == grab.keycodes.end())
            continue;
        grab.held = false;
        grab.released = true;
        grab.releaseTime = time;
        ours = true;
    }
    return ours;
}
