#include "settings/SettingsKeys.h"

#include "app/AppConstants.h"

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

bool shortcutShowGlobalDefaultHotkeys(const QString& actionId)
{
    for (int i = 0; i < AppConstants::kShowGlobalActionCount; ++i) {
        if (actionId == QLatin1String(AppConstants::kHotkeyActions[i].id))
            return actionId != QLatin1String("stop");
    }
    return false;
}

}  // namespace SettingsKeys
