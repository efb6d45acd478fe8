#pragma once

#include <QString>
#include <QStringList>

#include <array>

// Names and fixed values shared by the whole program.
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

// Hotkey actions in the order of the shortcut table, with their default keys.
struct HotkeyAction {
    const char* id;
    const char* defaultKey;
};
inline constexpr std::array<HotkeyAction, 11> kHotkeyActions = {{
    {"playPause", "Space"},
    {"prev", "Up"},
    {"next", "Down"},
    {"stop", "Esc"},
    {"volumeSwitch", "Tab"},
    {"setLoopStart", "I"},
    {"setLoopEnd", "O"},
    {"audioStart", "["},
    {"audioEnd", "]"},
    {"copy", "Ctrl+C"},
    {"paste", "Ctrl+V"},
}};
// The first actions of the table that can be system-wide hotkeys in show mode.
inline constexpr int kShowGlobalActionCount = 5;

// The default key of an action id; empty for an unknown id.
QString defaultHotkey(const QString& actionId);

inline const QString kDefaultOutputDevice = QStringLiteral("Default");

// Defaults of the settings window's export choices.
inline const QString kDefaultExportFormat = QStringLiteral("MP3");
inline const QString kDefaultExportRange = QStringLiteral("clip");
inline const QString kDefaultExportProcessing = QStringLiteral("processed");
inline const QString kDefaultM3u8Type = QStringLiteral("clip");

}  // namespace AppConstants
