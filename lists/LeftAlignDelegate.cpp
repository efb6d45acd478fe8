#include "lists/LeftAlignDelegate.h"

#include "lists/SongTableModel.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace {

bool isTextColumn(int column)
{
    return column == SongTableModel::NameColumn || column == SongTableModel::RemarkColumn;
}

}  // namespace

void LeftAlignDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (isTextColumn(index.column()))
        option->displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
}

QWidget* LeftAlignDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const
{
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->installEventFilter(const_cast<LeftAlignDelegate*>(this));
        if (index.column() == SongTableModel::NameColumn)
            line->setMaxLength(kNameMaxLength);
        else if (index.column() == SongTableModel::RemarkColumn)
            line->setMaxLength(kRemarkMaxLength);
    }
    return editor;
}

bool LeftAlignDelegate::eventFilter(QObject* object, QEvent* event)
{
    auto* line = qobject_cast<QLineEdit*>(object);
    if (!line)
        return QStyledItemDelegate::eventFilter(object, event);

    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Q_EMIT commitData(line);
            Q_EMIT closeEditor(line, QAbstractItemDelegate::SubmitModelCache);
            return true;
        }
        if (key == Qt::Key_Escape) {
            Q_EMIT closeEditor(line, QAbstractItemDelegate::EditPreviousItem);
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        Q_EMIT commitData(line);
        Q_EMIT closeEditor(line, QAbstractItemDelegate::SubmitModelCache);
        return true;
    }
    return QStyledItemDelegate::eventFilter(object, event);
}
