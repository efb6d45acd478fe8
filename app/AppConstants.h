#pragma once

#include <QString>
#include <QStringList>

// Names and fixed values of the application shell. Defaults of settings
// (keys, device name, export choices) live with their keys in SettingsKeys.
namespace AppConstants {

inline const QString kOrganizationName = QStringLiteral("Vostrand");
inline const QString kApplicationName = QStringLiteral("Corvelle");

// The colour menu of a cue: codes and names in parallel; entry 0 is "no colour".
inline const QStringList kCueColorCodes = {
    QString(), QStringLiteral("#4a5a6a"), QStringLiteral("#5a3a3a"), QStringLiteral("#4a5a3a"),
    QStringLiteral("#3a4a5a"), QStringLiteral("#5a4a3a"), QStringLiteral("#4a3a5a"),
    QStringLiteral("#3a5a5a"), QStringLiteral("#5a5a3a"), QStringLiteral("#5a3a5a"),
};
inline const QStringList kCueColorNames = {
    QStringLiteral("无颜色"), QStringLiteral("深灰"), QStringLiteral("暗红"), QStringLiteral("暗绿"),
    QStringLiteral("暗蓝"), QStringLiteral("暗橙"), QStringLiteral("暗紫"), QStringLiteral("暗青"),
    QStringLiteral("暗黄"), QStringLiteral("暗品红"),
};

}  // namespace AppConstants
