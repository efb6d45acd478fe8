#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QKeyEvent;
class QShortcut;

// Brings the operator's keys, device buttons and show mode's system-wide
// hotkeys to the window's actions. It owns the window's shortcuts (rebuilt
// from the settings store), runs the action bound to a device press or a
// hotkey, and sees every key of the program first, so that a transport key
// reaches the transport whichever widget of the window has the focus: a
// spin box or a list must not swallow Space or a presenter's Page Down.
// Only a field into which a name or remark is being typed keeps the keys
// that type text.
class InputActionRouter : public QObject {
    Q_OBJECT

public:
    using Action = std::function<void()>;

    // actions maps the action ids of the shortcut table to what they run;
    // waveformView holds the keys that act only while it has the focus.
    InputActionRouter(QWidget* window, QWidget* waveformView, QHash<QString, Action> actions);
    ~InputActionRouter() override;

    // (Re)builds the shortcuts from the settings store.
    void setupShortcuts();
    QList<QShortcut*> shortcuts() const { return m_shortcuts; }

    // Runs the action of an id; false for an id without one.
    bool runAction(const QString& actionId);

    // Registers show mode's system-wide hotkeys with the input manager.
    void registerShowModeGlobalHotkeys();

    // True when a focused widget is a field for typing a name or remark:
    // a plain line edit or text editor, not the text of a spin box or list.
    static bool isTypingField(const QWidget* widget);

public Q_SLOTS:
    void onDeviceButtonPressed(const QString& identifier);
    void onGlobalHotkeyTriggered(const QString& id);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isInWindow(const QObject* object) const;
    bool matchesTransportShortcut(const QKeyEvent* event) const;
    // The window's own keys (Left, Page Up, Right, Page Down, F5): the
    // action they run, empty for any other key.
    static QString windowKeyAction(const QKeyEvent* event);

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_waveformView;
    QHash<QString, Action> m_actions;
    QList<QShortcut*> m_shortcuts;
};
