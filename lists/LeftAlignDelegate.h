#pragma once

#include <QStyledItemDelegate>

// Draws the name and remark columns aligned to the left and gives their
// in-place editors a length limit and fixed keys: Return, Enter and leaving
// the editor commit, Escape drops the edit.
class LeftAlignDelegate : public QStyledItemDelegate {
public:
    static constexpr int kNameMaxLength = 100;
    static constexpr int kRemarkMaxLength = 256;

    using QStyledItemDelegate::QStyledItemDelegate;

    bool eventFilter(QObject* object, QEvent* event) override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
