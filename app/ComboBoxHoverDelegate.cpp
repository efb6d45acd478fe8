#include "app/ComboBoxHoverDelegate.h"

#include <QColor>
#include <QPainter>

namespace {
constexpr int kItemHeight = 28;
constexpr int kTextMargin = 8;
}  // namespace

ComboBoxHoverDelegate::ComboBoxHoverDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

void ComboBoxHoverDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);

    painter->save();
    if (item.state & QStyle::State_Selected)
        painter->fillRect(item.rect, QColor(0x00, 0x78, 0xd7));
    else if (item.state & QStyle::State_MouseOver)
        painter->fillRect(item.rect, QColor(0x2a, 0x2a, 0x2a));

    painter->setFont(item.font);
    painter->setPen(QColor(0xbb, 0xbb, 0xbb));
    painter->drawText(item.rect.adjusted(kTextMargin, 0, -kTextMargin, 0),
                      Qt::AlignLeft | Qt::AlignVCenter, item.text);
    painter->restore();
}

QSize ComboBoxHoverDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight);
}
