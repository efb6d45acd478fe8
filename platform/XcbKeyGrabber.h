#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <vector>

struct xcb_connection_t;

// System-wide key combinations through passive key grabs on the X root
// window, on the application's own X connection. Installed as the
// application's native event filter, it takes the grabbed key events out of
// Qt's stream and reports each press once, however long the key is held.
// Under Wayland, or on a platform without X, nothing can be grabbed.
class XcbKeyGrabber : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    enum Modifier { NoModifier = 0x0, ShiftModifier = 0x1, ControlModifier = 0x2, AltModifier = 0x4,
                    SuperModifier = 0x8 };
    enum class GrabResult { Grabbed, Unavailable, NoKeycode, Refused };

    explicit XcbKeyGrabber(QObject* parent = nullptr);
    ~XcbKeyGrabber() override;

    // Why no grab is possible in this session ("" when grabs are possible).
    static QString unavailableReason();

    // Grabs a keysym with the given modifiers (Modifier flags) under every
    // Caps Lock and Num Lock state. Refused when another client holds any of
    // those combinations; then none of them stays grabbed. *errorCode gets
    // the X error code of a refusal.
    GrabResult grab(int id, quint32 keysym, int modifiers, int* errorCode = nullptr);
    void ungrab(int id);
    void ungrabAll();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // A grabbed combination went down (once per press, not per repeat).
    void keyPressed(int id);

private:
    struct Grab {
        int id = 0;
        std::vector<quint8> keycodes;
        quint16 modifierMask = 0;  // X modifier bits without the lock bits
        bool held = false;
        bool released = false;
        quint32 releaseTime = 0;
    };
    struct ModifierMasks {
        quint16 alt = 0x0008;      // Mod1
        quint16 numLock = 0x0010;  // Mod2
        quint16 super = 0x0040;    // Mod4
    };

    static xcb_connection_t* connection();
    quint32 rootWindow(xcb_connection_t* connection) const;
    void readKeyboardMapping(xcb_connection_t* connection);
    std::vector<quint8> keycodesFor(quint32 keysym) const;
    std::vector<quint16> lockVariants() const;
    void ungrabKeys(xcb_connection_t* connection, const Grab& grab) const;
    bool handleKeyPress(quint8 keycode, quint16 state, quint32 time);
    bool handleKeyRelease(quint8 keycode, quint32 time);

    std::vector<Grab> m_grabs;
    ModifierMasks m_masks;
    // The keyboard map: keysymsPerKeycode keysyms for each keycode from minKeycode.
    std::vector<quint32> m_keysyms;
    int m_keysymsPerKeycode = 0;
    int m_minKeycode = 0;
};
