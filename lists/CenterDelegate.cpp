#include "lists/CenterDelegate.h"

void CenterDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->displayAlignment = Qt::AlignHCenter | Qt::AlignVCenter;
}
