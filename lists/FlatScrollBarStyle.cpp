#include "lists/FlatScrollBarStyle.h"

#include <QScrollBar>

namespace FlatScrollBarStyle {

void apply(QScrollBar* bar)
{
    if (!bar)
        return;
    bar->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { border: none; background: #353535; width: 12px; margin: 0px; }\n"
        "QScrollBar::handle:vertical { border: none; background: #5a5a5a; min-height: 24px; }\n"
        "QScrollBar::handle:vertical:hover, QScrollBar::handle:vertical:pressed { background: #6e6e6e; }\n"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }\n"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { border: none; background: none;"
        " height: 0px; }\n"
        "QScrollBar:horizontal { border: none; background: #353535; height: 12px; margin: 0px; }\n"
        "QScrollBar::handle:horizontal { border: none; background: #5a5a5a; min-width: 24px; }\n"
        "QScrollBar::handle:horizontal:hover, QScrollBar::handle:horizontal:pressed { background: #6e6e6e; }\n"
        "QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: none; }\n"
        "QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { border: none; background: none;"
        " width: 0px; }\n"));
}

}  // namespace FlatScrollBarStyle
