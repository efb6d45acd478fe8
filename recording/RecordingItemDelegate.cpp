#include "recording/RecordingItemDelegate.h"

#include "recording/RecordingDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

QString durationText(const QModelIndex& index)
{
    const QVariant duration = index.data(Qt::UserRole + 1);
    return duration.isValid() ? RecordingDialog::formatTime(duration.toLongLong()) : QString();
}

}  // namespace

RecordingItemDelegate::RecordingItemDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
    if (auto* view = qobject_cast<QAbstractItemView*>(parent))
        view->viewport()->installEventFilter(this);
}

bool RecordingItemDelegate::eventFilter(QObject* watched, QEvent* event)
{
    auto* view = qobject_cast<QAbstractItemView*>(parent());
    // The base class filters the line editors; the viewport is no editor.
    if (!view || watched != view->viewport())
        return QStyledItemDelegate::eventFilter(watched, event);
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease
        && type != QEvent::MouseButtonDblClick)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton || !view->model())
        return false;
    const QPoint pos = mouse->position().toPoint();
    const QModelIndex index = view->indexAt(pos);
    if (!index.isValid() || !checkBoxRect(view->visualRect(index)).contains(pos))
        return false;
    // The whole click belongs to the check box: no selection, no editor.
    if (type == QEvent::MouseButtonRelease && index.flags().testFlag(Qt::ItemIsUserCheckable)) {
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        view->model()->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
    return true;
}

RecordingItemDelegate::~RecordingItemDelegate() = default;

QRect RecordingItemDelegate::checkBoxRect(const QRect& r)
{
    const int top = r.y() + (r.bottom() - r.y() - 13) / 2;
    return QRect(QPoint(r.x() + 8, top), QPoint(r.x() + 21, top + 13));
}

void RecordingItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    const QString name = index.data(Qt::DisplayRole).toString();
    const QString duration = durationText(index);
    const bool checkable = index.flags().testFlag(Qt::ItemIsUserCheckable);
    const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    const QColor nameColor(selected ? "#fff" : "#bbb");
    const QColor durationColor(selected ? "#cfe0ff" : "#888");
    const QRect r = opt.rect;

    painter->save();
    painter->setFont(opt.font);
    if (checkable) {
        const QRect box = checkBoxRect(r);
        painter->setRenderHint(QPainter::Antialiasing, true);
        QPainterPath path;
        path.addRoundedRect(QRectF(box), 2, 2);
        if (checked) {
            painter->fillPath(path, QColor("#3b82f6"));
            painter->setPen(QPen(QColor("#3b82f6"), 1.5));
            painter->drawPath(path);
            const int x = r.x();
            const int top = box.top();
            painter->setPen(QPen(Qt::white, 2));
            painter->drawPolyline(QPolygon({QPoint(x + 12, top + 7), QPoint(x + 14, top + 9), QPoint(x + 18, top + 4)}));
        } else {
            painter->setPen(QPen(QColor("#60a5fa"), 1.5));
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(path);
        }
        painter->setRenderHint(QPainter::Antialiasing, false);
    }

    const QFontMetrics metrics(opt.font);
    const int durationWidth = metrics.horizontalAdvance(duration);
    const int left = r.x() + (checkable ? 28 : 8);
    const int nameRight = r.right() - 18 - durationWidth;
    const QString elided = metrics.elidedText(name, Qt::ElideRight, std::max(0, nameRight - left));
    painter->setPen(nameColor);
    painter->drawText(QRect(QPoint(left, r.top()), QPoint(nameRight, r.bottom())),
                      Qt::AlignLeft | Qt::AlignVCenter, elided);
    if (!duration.isEmpty()) {
        painter->setPen(durationColor);
        painter->drawText(QRect(QPoint(r.right() - 8 - durationWidth, r.top()), QPoint(r.right() - 9, r.bottom())),
                          Qt::AlignLeft | Qt::AlignVCenter, duration);
    }
    painter->restore();
}

QSize RecordingItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return QStyledItemDelegate::sizeHint(option, index);
}

bool RecordingItemDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                        const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && checkBoxRect(option.rect).contains(mouse->position().toPoint())) {
            if (index.flags().testFlag(Qt::ItemIsUserCheckable)) {
                const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
                model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
            }
            skipNextSelection = true;
            return true;
        }
    }
    skipNextSelection = false;
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

QWidget* RecordingItemDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                             const QModelIndex& index) const
{
    Q_UNUSED(option);
    if (skipNextSelection) {
        skipNextSelection = false;
        return nullptr;
    }
    if (!index.flags().testFlag(Qt::ItemIsEditable))
        return nullptr;
    auto* editor = new QLineEdit(parent);
    editor->setStyleSheet(QStringLiteral(
        "QLineEdit { background-color: #2a3a4a; color: #fff; border: 1px solid #3b82f6;  border-radius: 2px; "
        "padding: 0px 2px; font-size: 12px; }QLineEdit:focus { border: 1px solid #60a5fa; }"));
    return editor;
}

void RecordingItemDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->setText(index.data(Qt::DisplayRole).toString());
        line->selectAll();
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void RecordingItemDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                 const QModelIndex& index) const
{
    const int offset = index.flags().testFlag(Qt::ItemIsUserCheckable) ? 20 : 0;
    const int width = QFontMetrics(option.font).horizontalAdvance(durationText(index));
    const QRect r = option.rect;
    editor->setGeometry(QRect(QPoint(r.x() + offset + 8, r.top()), QPoint(r.right() - width - 18, r.bottom())));
}
