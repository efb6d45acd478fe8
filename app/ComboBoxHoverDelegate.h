#pragma once

#include <QStyledItemDelegate>

// Paints the entries of a drop-down list flat: blue when selected, grey under
// the mouse, text only, every entry 28 pixels high.
class ComboBoxHoverDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit ComboBoxHoverDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
