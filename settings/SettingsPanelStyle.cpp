#include "settings/SettingsPanelStyle.h"

namespace {

// The rules up to the button box are the window's dark look; the arrows
// after them give the drop-down and spin buttons the marks that a styled
// box otherwise loses. The binding cells of the shortcut table are 21 px
// high: they take no vertical padding, or a key text loses its lower part.
const char kStyleSheet[] = R"(
QGroupBox {
    color: #e0e0e0;
    border: 1px solid #3a3a3a;
    border-radius: 4px;
    margin-top: 10px;
    padding-top: 6px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    left: 10px;
    padding: 0 4px;
}
QLabel {
    color: #d0d0d0;
}
QLineEdit {
    background-color: #2b2b2b;
    color: #e0e0e0;
    border: 1px solid #444;
    border-radius: 3px;
    padding: 3px;
}
QLineEdit:focus {
    border: 1px solid #0078d7;
}
QSpinBox, QDoubleSpinBox {
    background-color: #2b2b2b;
    color: #e0e0e0;
    border: 1px solid #444;
    border-radius: 3px;
    padding: 2px;
}
QComboBox {
    background-color: #2b2b2b;
    color: #e0e0e0;
    border: 1px solid #444;
    border-radius: 3px;
    padding: 3px;
}
QComboBox QAbstractItemView {
    background-color: #2b2b2b;
    color: #e0e0e0;
    selection-background-color: #0078d7;
    border: 1px solid #444;
}
QRadioButton {
    color: #d0d0d0;
}
QRadioButton:disabled {
    color: #666666;
}
QRadioButton::indicator {
    width: 16px;
    height: 16px;
}
QRadioButton::indicator:unchecked {
    background-color: #2b2b2b;
    border: 2px solid #666;
    border-radius: 8px;
}
QRadioButton::indicator:checked {
    border: 2px solid #0078d7;
    border-radius: 8px;
    background-color: transparent;
    background: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: 0.5,
        stop: 0 #0078d7, stop: 0.28 #0078d7, stop: 0.30 transparent, stop: 1 transparent);
}
QRadioButton::indicator:disabled {
    opacity: 0.5;
}
QCheckBox {
    color: #d0d0d0;
}
QCheckBox::indicator {
    width: 16px;
    height: 16px;
}
QCheckBox::indicator:unchecked {
    background-color: #2b2b2b;
    border: 1px solid #666;
    border-radius: 2px;
}
QCheckBox::indicator:checked {
    border: 2px solid #0078d7;
    border-radius: 2px;
    image: url(:/images/icons/check.png);
}
QPushButton {
    background-color: #353535;
    color: #e0e0e0;
    border: 1px solid #555;
    border-radius: 3px;
    padding: 5px 12px;
}
QPushButton:hover {
    background-color: #404040;
    border: 1px solid #0078d7;
}
QPushButton:pressed {
    background-color: #2b2b2b;
}
QTabWidget::pane {
    border: 1px solid #3a3a3a;
    background-color: #1e1e1e;
}
QTabWidget::tab-bar {
    alignment: left;
}
QTabBar::tab {
    background-color: #2b2b2b;
    color: #999;
    padding: 6px 16px;
    border: 1px solid #3a3a3a;
    border-bottom: none;
    border-top-left-radius: 4px;
    border-top-right-radius: 4px;
}
QTabBar::tab:selected {
    background-color: #1e1e1e;
    color: #e0e0e0;
    border-bottom: 2px solid #0078d7;
}
QTabBar::tab:hover:!selected {
    background-color: #333;
    color: #ccc;
}
QTableWidget {
    background-color: #1e1e1e;
    color: #d0d0d0;
    gridline-color: #333;
    border: 1px solid #3a3a3a;
}
QTableWidget::item {
    padding: 4px;
}
QTableWidget::item:selected {
    background-color: #0078d7;
}
QTableWidget QLineEdit {
    padding: 0px 3px;
}
QHeaderView::section {
    background-color: #2b2b2b;
    color: #ccc;
    border: 1px solid #444;
    padding: 4px;
}
QSlider::groove:horizontal {
    background-color: #2b2b2b;
    height: 6px;
    border-radius: 3px;
}
QSlider::handle:horizontal {
    background-color: #0078d7;
    width: 14px;
    height: 14px;
    margin: -4px 0;
    border-radius: 7px;
}
QSlider::sub-page:horizontal {
    background-color: #0078d7;
    border-radius: 3px;
}
QScrollArea {
    border: none;
    background-color: transparent;
}
QScrollBar:vertical {
    background-color: #1e1e1e;
    width: 10px;
    border: none;
}
QScrollBar:horizontal {
    background-color: #1e1e1e;
    height: 10px;
    border: none;
}
QScrollBar::handle:vertical {
    background-color: #555;
    min-height: 30px;
    border-radius: 5px;
}
QScrollBar::handle:horizontal {
    background-color: #555;
    min-width: 30px;
    border-radius: 5px;
}
QScrollBar::handle:vertical:hover, QScrollBar::handle:horizontal:hover {
    background-color: #0078d7;
}
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical {
    height: 0px;
}
QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal {
    width: 0px;
}
QDialogButtonBox QPushButton {
    min-width: 60px;
}
QComboBox::down-arrow {
    image: url(:/images/icons/arrow-down.svg);
    width: 12px;
    height: 12px;
}
QAbstractSpinBox::up-button, QAbstractSpinBox::down-button {
    subcontrol-origin: border;
    width: 16px;
    background-color: #353535;
    border-left: 1px solid #444;
}
QAbstractSpinBox::up-button {
    subcontrol-position: top right;
    border-top-right-radius: 3px;
}
QAbstractSpinBox::down-button {
    subcontrol-position: bottom right;
    border-bottom-right-radius: 3px;
}
QAbstractSpinBox::up-button:hover, QAbstractSpinBox::down-button:hover {
    background-color: #404040;
}
QAbstractSpinBox::up-arrow {
    image: url(:/images/icons/arrow-up.svg);
    width: 10px;
    height: 10px;
}
QAbstractSpinBox::down-arrow {
    image: url(:/images/icons/arrow-down.svg);
    width: 10px;
    height: 10px;
}
)";

}  // namespace

QString settingsPanelStyleSheet()
{
    return QString::fromUtf8(kStyleSheet);
}
