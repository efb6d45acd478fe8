#include "settings/SettingsKeys.h"

#include <QStandardPaths>

namespace SettingsKeys {

QString exportLastDirDefault()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString lastImportPathDefault()
{
    return QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
}

QString defaultHotkey(const QString& actionId)
{
    for (const HotkeyAction& action : kHotkeyActions) {
        if (actionId == QLatin1String(action.id))
            return QString::fromLatin1(action.defaultKey);
    }
    return {};
}

QString shortcutKey(const QString& actionId)
{
    return QStringLiteral("shortcuts/") + actionId;
}

QString shortcutDeviceKey(const QString& actionId)
{
    return shortcutKey(actionId) + QStringLiteral("_device");
}

QString shortcutShowGlobalKey(const QString& actionId)
{
    return shortcutKey(actionId) + QStringLiteral("_showGlobal");
}

bool shortcutShowGlobalDefault(const QString& actionId)
{
    for (int i = 0; i < kShowGlobalActionCount; ++i) {
        if (actionId == QLatin1String(kHotkeyActions[i].id))
            return actionId != QLatin1String("stop");
    }
    return false;
}

}  // namespace SettingsKeys
