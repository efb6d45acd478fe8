#include "app/ControlStyleSheets.h"

namespace ControlStyleSheets {

QString transportButtons()
{
    return QStringLiteral(
        "QPushButton { background-color: #1e1e1e; color: #bbbbbb; border: 1px solid #444444;"
        " border-radius: 4px; font-size: 16px; }\n"
        "QPushButton:hover { background-color: #2a2a2a; border-color: #0078d7; color: #ffffff; }\n"
        "QPushButton:pressed { background-color: #151515; border-color: #005fa3; }\n"
        "QPushButton:disabled { background-color: #1a1a1a; border-color: #333333; color: #555555; }\n");
}

QString playModeSelector()
{
    return QStringLiteral(
        "QComboBox { background-color: #2a2a2a; color: #cccccc; border: 1px solid #444444;"
        " border-radius: 3px; padding: 0px 3px; font-size: 12px; }\n"
        "QComboBox:hover { border: 1px solid #666666; }\n"
        "QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: top right;"
        " width: 0px; border: none; }\n"
        "QComboBox::down-arrow { image: none; border: none; }\n");
}

QString loudnessTargetList()
{
    return QStringLiteral(
        "QComboBox { background-color: #2a2a2a; color: #cccccc; border: 1px solid #555555;"
        " border-radius: 2px; padding: 0px 4px; font-family: monospace; }\n"
        "QComboBox::drop-down { width: 0px; height: 0px; border: none; }\n"
        "QComboBox QAbstractItemView { background-color: #2a2a2a; color: #cccccc;"
        " selection-background-color: #1a5276; selection-color: #90c0e8; border: 1px solid #555555; }\n");
}

QString crossfadeButton()
{
    return QStringLiteral(
        "QPushButton { background-color: transparent; border: none; padding: 2px; }\n"
        "QPushButton:hover { background-color: #3a3a3a; border-radius: 2px; }\n");
}

QString recordButton()
{
    return QStringLiteral(
        "QPushButton { border: none; padding: 2px; }\n"
        "QPushButton:hover { background-color: #3a3a3a; border-radius: 4px; }\n");
}

QString commonSpinBox()
{
    return QStringLiteral(
        "QSpinBox { background-color: #2b2b2b; color: #cccccc; border: 1px solid #444;"
        " border-radius: 3px; padding: 2px; min-height: 18px; }\n"
        "QSpinBox::up-button, QSpinBox::down-button { width: 14px; }\n");
}

QString settingsBarSpinBox()
{
    return commonSpinBox() + QStringLiteral("QSpinBox { padding: 0px 2px; min-height: 0px; }\n");
}

QString volumeValueLabel()
{
    return QStringLiteral(
        "QLabel { background: transparent; color: #aaccff; }QLabel:disabled { color: #444444; }");
}

QString modeButtonActive()
{
    return QStringLiteral(
        "QPushButton { background-color: #333; color: #e0e0e0; border: 1px solid #005a9e;"
        " border-radius: 4px; padding: 3px 6px 3px 4px; text-align: left; font-size: 12px; }\n"
        "QPushButton:hover { background-color: #3a3a3a; }\n");
}

QString modeButtonInactive()
{
    return QStringLiteral(
        "QPushButton { background-color: #2b2b2b; color: #999; border: 1px solid #444;"
        " border-radius: 4px; padding: 3px 6px 3px 4px; text-align: left; font-size: 12px; }\n"
        "QPushButton:hover { background-color: #3a3a3a; }\n");
}

QString activeVolumeGroupLabel()
{
    return QStringLiteral("QLabel { color: #2196F3; font-weight: bold; }");
}

QString inactiveVolumeGroupLabel()
{
    return QStringLiteral("QLabel { color: #bbbbbb; }");
}

QString cueVolumeBar(bool gray)
{
    return QStringLiteral(
               "QScrollBar:horizontal { border: none; background: #444444; height: 8px;"
               " border-radius: 4px; margin: 0px; }\n"
               "QScrollBar::handle:horizontal { background: %1; border: none;"
               " border-radius: 4px; min-width: 16px; }\n"
               "QScrollBar::sub-line:horizontal, QScrollBar::add-line:horizontal { border: none;"
               " background: none; width: 0px; }\n")
        .arg(gray ? QStringLiteral("#666666") : QStringLiteral("#2196F3"));
}

QString windowAdditions()
{
    return QStringLiteral(
        "QCheckBox::indicator { width: 12px; height: 12px; border: 1px solid #777777;"
        " border-radius: 2px; background-color: #2a2a2a; }\n"
        "QCheckBox::indicator:hover { border-color: #0078d7; }\n"
        "QCheckBox::indicator:checked { background-color: #0078d7; border-color: #0078d7;"
        " image: url(:/images/icons/check.png); }\n"
        "QCheckBox::indicator:disabled { border-color: #444444; background-color: #262626; }\n"
        "QCheckBox::indicator:checked:disabled { background-color: #3a4a5a; border-color: #3a4a5a; }\n"
        "QToolTip { color: #dddddd; background-color: #2b2b2b; border: 1px solid #555555;"
        " padding: 2px; }\n");
}

}  // namespace ControlStyleSheets
