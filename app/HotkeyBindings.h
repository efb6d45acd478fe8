#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <utility>

// The main window's key and device bindings as the settings store holds
// them: which keys become shortcuts and where they act, which keys become
// system-wide hotkeys in show mode, and which action a device press runs.
// Unwritten keys give the defaults; a cleared binding (empty text) or one
// that does not parse gives nothing. Read afresh at every call.
class HotkeyBindings {
public:
    enum class Scope {
        Application,   // while any window of the program is active
        WaveformView,  // while the waveform view or a child has the focus
    };
    struct Shortcut {
        QString actionId;
        QKeySequence sequence;
        Scope scope = Scope::Application;
    };

    // The transport and loop actions with their keys, in the order of the
    // shortcut table. Copy and paste are the cue table's own.
    static QList<Shortcut> shortcuts();

    // The actions registered as system-wide hotkeys while show mode lasts,
    // with their keys.
    static QList<std::pair<QString, QKeySequence>> showModeHotkeys();

    // The action a device press runs: the first action, in dispatch order,
    // whose device binding is exactly identifier; empty when none is.
    static QString deviceAction(const QString& identifier);

    // The virtual-key code under which a device-bound keyboard key would be
    // known, for the keys that can be bound so (Space, Escape, Return, Home,
    // End, the arrows, Page Up and Down); 0 for any other key.
    static int deviceKeyCode(const QKeySequence& sequence);
};
