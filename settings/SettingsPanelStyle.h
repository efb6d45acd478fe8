#pragma once

#include <QString>

// The style sheet of the settings window: the dark theme of its groups,
// controls, tabs, table and scroll bars, with the accent colour #0078d7.
QString settingsPanelStyleSheet();
