#include "app/HotkeyBindings.h"

#include "settings/SettingsKeys.h"

#include <QSettings>

#include <array>

namespace {

struct ShortcutRow {
    const char* actionId;
    HotkeyBindings::Scope scope;
};

constexpr std::array<ShortcutRow, 9> kShortcutRows = {{
    {"playPause", HotkeyBindings::Scope::Application},
    {"prev", HotkeyBindings::Scope::Application},
    {"next", HotkeyBindings::Scope::Application},
    {"stop", HotkeyBindings::Scope::Application},
    {"volumeSwitch", HotkeyBindings::Scope::Application},
    {"setLoopStart", HotkeyBindings::Scope::WaveformView},
    {"setLoopEnd", HotkeyBindings::Scope::WaveformView},
    {"audioStart", HotkeyBindings::Scope::WaveformView},
    {"audioEnd", HotkeyBindings::Scope::WaveformView},
}};

// The actions a device press can run, in the order they are looked up:
// every action the shortcut table offers a device cell for.
constexpr std::array<const char*, 11> kDeviceDispatchOrder = {
    "playPause", "prev", "next", "stop", "setLoopStart", "setLoopEnd", "audioStart", "audioEnd",
    "volumeSwitch", "copy", "paste",
};

constexpr std::array<const char*, 5> kShowModeHotkeyActions = {
    "playPause", "prev", "next", "stop", "volumeSwitch",
};

// The stored key of an action, parsed; empty when cleared or unparsable.
QKeySequence storedSequence(const QSettings& settings, const QString& actionId)
{
    const QString text =
        settings.value(SettingsKeys::shortcutKey(actionId), SettingsKeys::defaultHotkey(actionId)).toString();
    if (text.isEmpty())
        return {};
    const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    // Qt reads a name it does not know as an unknown key, which no press
    // matches: such a binding does not parse.
    for (int i = 0; i < sequence.count(); ++i) {
        if (sequence[i].key() == Qt::Key_unknown)
            return {};
    }
    return sequence;
}

}  // namespace

QList<HotkeyBindings::Shortcut> HotkeyBindings::shortcuts()
{
    const QSettings settings;
    QList<Shortcut> result;
    for (const ShortcutRow& row : kShortcutRows) {
        const QString id = QLatin1String(row.actionId);
        const QKeySequence sequence = storedSequence(settings, id);
        if (!sequence.isEmpty())
            result.append({id, sequence, row.scope});
    }
    return result;
}

QList<std::pair<QString, QKeySequence>> HotkeyBindings::showModeHotkeys()
{
    const QSettings settings;
    QList<std::pair<QString, QKeySequence>> result;
    for (const char* action : kShowModeHotkeyActions) {
        const QString id = QLatin1String(action);
        if (!settings.value(SettingsKeys::shortcutShowGlobalKey(id), SettingsKeys::shortcutShowGlobalDefault(id))
                 .toBool())
            continue;
        const QKeySequence sequence = storedSequence(settings, id);
        if (!sequence.isEmpty())
            result.append({id, sequence});
    }
    return result;
}

QString HotkeyBindings::deviceAction(const QString& identifier)
{
    if (identifier.isEmpty())
        return {};
    const QSettings settings;
    for (const char* action : kDeviceDispatchOrder) {
        const QString id = QLatin1String(action);
        if (settings.value(SettingsKeys::shortcutDeviceKey(id)).toString() == identifier)
            return id;
    }
    return {};
}

int HotkeyBindings::deviceKeyCode(const QKeySequence& sequence)
{
    if (sequence.isEmpty())
        return 0;
    switch (sequence[0].key()) {
    case Qt::Key_Space:
        return 32;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Return:
        return 13;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    default:
        return 0;
    }
}
