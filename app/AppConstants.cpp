#include "app/AppConstants.h"

namespace AppConstants {

QString defaultHotkey(const QString& actionId)
{
    for (const HotkeyAction& action : kHotkeyActions) {
        if (actionId == QLatin1String(action.id))
            return QString::fromLatin1(action.defaultKey);
    }
    return {};
}

}  // namespace AppConstants
