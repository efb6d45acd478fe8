#include "app/StyleSheetSetter.h"

#include <QString>
#include <QWidget>

void StyleSheetSetter::apply(QWidget* widget, const QString& sheet)
{
    if (widget && widget->styleSheet() != sheet)
        widget->setStyleSheet(sheet);
}
