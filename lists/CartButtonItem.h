#pragma once

#include "model/Cue.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

// One tile of the cart grid: a large button for one cue with its number,
// name, pre-wait, remaining time and loop count, a small play button and,
// while the cue plays, a progress strip along the bottom edge over the cue's
// loop region. The grid sets its states; the tile paints itself from them.
class CartButtonItem : public QWidget {
    Q_OBJECT

public:
    static constexpr int kStripHeight = 10;

    CartButtonItem(Cue* cue, int number, QWidget* parent, int itemHeight);

    Cue* cue() const { return m_cue; }
    int number() const { return m_number; }

    void updateInfo();
    void setCurrent(bool current);
    void setSelected(bool selected);
    void setPlaying(bool playing);
    void setPaused(bool paused);
    void setPosition(qint64 positionMs);
    void setShowMode(bool showMode) { m_showMode = showMode; }

    bool isCurrent() const { return m_isCurrent; }
    bool isSelected() const { return m_isSelected; }
    bool isPlaying() const { return m_isPlaying; }
    bool showMode() const { return m_showMode; }
    QString displayName() const { return m_displayName; }

    // "m:ss" of the whole seconds in ms; minutes are not limited.
    static QString formatTime(qint64 ms);

Q_SIGNALS:
    void playClicked(Cue* cue);
    void nameChanged(Cue* cue, const QString& newName);
    void clicked(Cue* cue, Qt::KeyboardModifiers modifiers);
    void dragStarted(Cue* cue, const QPoint& globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateStyle();
    void elideTitle();
    void startRename();
    void commitRename();
    void recordPress(const QPointF& globalPos);
    bool dragGesture(const QPointF& globalPos);

    QPointer<Cue> m_cue;  // a deleted cue leaves the tile blank until the grid drops it
    int m_number = 0;
    bool m_isCurrent = false;
    bool m_isSelected = false;
    bool m_isPlaying = false;
    bool m_isHovered = false;
    bool m_showMode = false;
    QToolButton* m_playButton = nullptr;
    QLabel* m_numberLabel = nullptr;
    QLabel* m_titleLabel = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLabel* m_preWaitLabel = nullptr;
    QLabel* m_timeLabel = nullptr;
    QLabel* m_loopLabel = nullptr;
    QString m_displayName;
    qint64 m_regionLengthMs = 0;
    qint64 m_regionStartMs = 0;
    qint64 m_positionMs = -1;
    int m_lastShownSecond = -1;
    bool m_pressPending = false;
    QPoint m_pressGlobalPos;
};
