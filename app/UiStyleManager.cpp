#include "app/UiStyleManager.h"

#include <QApplication>
#include <QColor>
#include <QFrame>
#include <QHeaderView>
#include <QPalette>
#include <QScrollBar>
#include <QTableView>
#include <QToolTip>
#include <QTreeView>

namespace {

// Selected rows of the two lists keep the blue text of their style sheets.
const QColor kListSelectedText(0x90, 0xc0, 0xe8);

void setListSelectedText(QWidget* view)
{
    QPalette palette = view->palette();
    palette.setColor(QPalette::HighlightedText, kListSelectedText);
    view->setPalette(palette);
}

}  // namespace

UiStyleManager::UiStyleManager(QObject* parent)
    : QObject(parent)
{
}

void UiStyleManager::applyApplicationStyle()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    palette.setColor(QPalette::AlternateBase, QColor(0x23, 0x23, 0x23));
    palette.setColor(QPalette::Text, QColor(0xbb, 0xbb, 0xbb));
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::ButtonText, QColor(0xbb, 0xbb, 0xbb));
    palette.setColor(QPalette::WindowText, QColor(0xbb, 0xbb, 0xbb));
    palette.setColor(QPalette::PlaceholderText, QColor(0x64, 0x64, 0x64));
    palette.setColor(QPalette::Highlight, QColor(0x00, 0x78, 0xd7));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Button, QColor(0x3c, 0x3c, 0x3c));
    palette.setColor(QPalette::Link, QColor(0x00, 0x96, 0xff));
    palette.setColor(QPalette::LinkVisited, QColor(0x00, 0x78, 0xc8));
    // Tool tips would otherwise keep the light yellow of the standard palette.
    palette.setColor(QPalette::ToolTipBase, QColor(0x2b, 0x2b, 0x2b));
    palette.setColor(QPalette::ToolTipText, QColor(0xdd, 0xdd, 0xdd));

    const QColor disabledText(0x64, 0x64, 0x64);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::PlaceholderText, disabledText);

    QApplication::setPalette(palette);
    QToolTip::setPalette(palette);
    QApplication::setStyle(QStringLiteral("Fusion"));
}

void UiStyleManager::styleTrackTable(QTableView* table)
{
    if (!table)
        return;
    setListSelectedText(table);
    table->setAlternatingRowColors(true);
    table->setColumnWidth(0, 50);
    table->setColumnWidth(1, 50);
    table->setColumnWidth(2, 250);
    table->horizontalHeader()->setStretchLastSection(true);
}

void UiStyleManager::stylePlaylistTree(QTreeView* tree)
{
    if (!tree)
        return;
    setListSelectedText(tree);
    tree->setFrameShape(QFrame::NoFrame);
    tree->setAlternatingRowColors(true);
    tree->setIndentation(0);
    tree->setRootIsDecorated(false);
}

void UiStyleManager::styleLabels(QWidget* widget)
{
    if (!widget)
        return;
    static const char* const kClasses[] = {
        "QWidget",   "QLabel",      "QPushButton", "QSpinBox",  "QComboBox",
        "QCheckBox", "QRadioButton", "QLineEdit",  "QTextEdit", "QPlainTextEdit",
    };
    QString sheet;
    for (const char* className : kClasses)
        sheet += QStringLiteral("%1 { color: #bbbbbb; }\n").arg(QLatin1String(className));
    widget->setStyleSheet(sheet);
}

void UiStyleManager::applySizes(QWidget* cueTable, QWidget* playlistTree, QWidget* transportPanel,
                                QWidget* waveformView)
{
    if (cueTable)
        cueTable->setMinimumSize(741, 421);
    if (playlistTree) {
        playlistTree->setFixedWidth(261);
        playlistTree->setMinimumHeight(421);
    }
    if (transportPanel)
        transportPanel->setFixedSize(261, 58);
    if (waveformView)
        waveformView->setMinimumSize(0, 78);
}

void UiStyleManager::styleScrollBars(QScrollBar* bar)
{
    if (!bar)
        return;
    bar->setStyleSheet(QStringLiteral(
        "QScrollBar:horizontal { border: none; background: #444444; height: 8px;"
        " border-radius: 4px; margin: 0px; }\n"
        "QScrollBar::handle:horizontal { background: #2196F3; border: none;"
        " border-radius: 4px; min-width: 16px; }\n"
        "QScrollBar::sub-line:horizontal, QScrollBar::add-line:horizontal { border: none;"
        " background: none; width: 0px; }\n"));
}
