#include "settings/StoredSetting.h"

#include <QSettings>

namespace StoredSetting {

bool setIfChanged(const QString& key, const QVariant& value)
{
    QSettings settings;
    if (settings.contains(key) && settings.value(key).toString() == value.toString())
        return false;
    settings.setValue(key, value);
    return true;
}

}  // namespace StoredSetting
