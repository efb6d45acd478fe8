#pragma once

#include <QStyledItemDelegate>

// Draws a row of the recordings list (check box, name, duration at the
// right), toggles the check box on a click into it without selecting the
// recording, and edits the name in a line editor that leaves the duration
// in view. A list view selects on the press, before the delegate hears of
// the click, so the delegate watches its view's presses into a check box.
class RecordingItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit RecordingItemDelegate(QObject* parent = nullptr);
    ~RecordingItemDelegate() override;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

    // The check-box square of an item's rectangle.
    static QRect checkBoxRect(const QRect& itemRect);

    // Set by a click that toggled a check box: that click neither loads the
    // recording nor opens an editor.
    mutable bool skipNextSelection = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};
