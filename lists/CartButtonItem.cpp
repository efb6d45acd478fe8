#include "lists/CartButtonItem.h"

#include <QApplication>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QColor kPlayedColor(0x3c, 0x41, 0x4b);
const QColor kRemainingColor(0, 110, 200, 200);
const QString kNoColor = QStringLiteral("#666666");
constexpr int kStripeWidth = 4;
constexpr int kMaxFrameWidth = 2;

QPixmap iconFromSvg(const char* svg)
{
    QSvgRenderer renderer{QByteArray(svg)};
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

// Shared by every tile; made when the first tile is built.
const QPixmap& playIcon()
{
    static const QPixmap icon = iconFromSvg(
        "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' viewBox='0 0 16 16'>"
        "<polygon points='4,2 14,8 4,14' fill='#cccccc'/></svg>");
    return icon;
}

const QPixmap& pauseIcon()
{
    static const QPixmap icon = iconFromSvg(
        "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' viewBox='0 0 16 16'>"
        "<rect x='3' y='2' width='3.5' height='12' fill='#cccccc'/>"
        "<rect x='9.5' y='2' width='3.5' height='12' fill='#cccccc'/></svg>");
    return icon;
}

QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

}  // namespace

CartButtonItem::CartButtonItem(Cue* cue, int number, QWidget* parent, int itemHeight)
    : QWidget(parent)
    , m_cue(cue)
    , m_number(number)
{
    setFixedHeight(itemHeight);
    setMinimumWidth(60);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);

    // The accent stripe takes the left 4 px and the frame up to 2 px on the
    // right: the texts keep 6 px of air from both.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kStripeWidth + 6, 4, kMaxFrameWidth + 6, 10);
    layout->setSpacing(2);

    auto* top = new QHBoxLayout();
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(4);
    m_playButton = new QToolButton(this);
    m_playButton->setFocusPolicy(Qt::NoFocus);
    m_playButton->setFixedSize(18, 18);
    m_playButton->setAutoRaise(true);
    m_playButton->setCursor(Qt::PointingHandCursor);
    m_playButton->setIcon(QIcon(playIcon()));
    m_playButton->setIconSize(QSize(14, 14));
    m_playButton->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    connect(m_playButton, &QToolButton::clicked, this, [this] {
        if (!m_showMode)
            Q_EMIT playClicked(m_cue);
    });
    m_numberLabel = new QLabel(this);
    m_numberLabel->setFixedWidth(22);
    m_numberLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel = new QLabel(this);
    m_titleLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_titleLabel->setTextInteractionFlags(Qt::NoTextInteraction);
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->hide();
    m_nameEdit->setStyleSheet(QStringLiteral("QLineEdit { background: #333; color: #fff; border: 1px solid #0078d7; "
                                             "padding: 0 2px; font-size: 14px; font-weight: bold; }"));
    connect(m_nameEdit, &QLineEdit::editingFinished, this, &CartButtonItem::commitRename);
    top->addWidget(m_playButton);
    top->addWidget(m_numberLabel);
    top->addWidget(m_titleLabel);
    top->addWidget(m_nameEdit);

    auto* bottom = new QHBoxLayout();
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(6);
    m_preWaitLabel = new QLabel(this);
    m_timeLabel = new QLabel(this);
    m_loopLabel = new QLabel(this);
    m_preWaitLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_timeLabel->setAlignment(Qt::AlignCenter);
    m_loopLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* label : {m_preWaitLabel, m_timeLabel, m_loopLabel}) {
        label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        bottom->addWidget(label);
    }

    layout->addLayout(top);
    layout->addLayout(bottom);

    m_playButton->setObjectName(QStringLiteral("playButton"));
    m_numberLabel->setObjectName(QStringLiteral("numberLabel"));
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_preWaitLabel->setObjectName(QStringLiteral("preWaitLabel"));
    m_timeLabel->setObjectName(QStringLiteral("timeLabel"));
    m_loopLabel->setObjectName(QStringLiteral("loopLabel"));
    for (QWidget* child : std::initializer_list<QWidget*>{m_playButton, m_numberLabel, m_titleLabel, m_nameEdit,
                                                          m_preWaitLabel, m_timeLabel, m_loopLabel})
        child->installEventFilter(this);

    updateInfo();
    updateStyle();
    update();
}

QString CartButtonItem::formatTime(qint64 ms)
{
    if (ms < 1)
        return QStringLiteral("0:00");
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void CartButtonItem::updateInfo()
{
    if (!m_cue)
        return;
    m_numberLabel->setText(QString::number(m_number));
    m_displayName = m_cue->alias().isEmpty() ? m_cue->name() : m_cue->alias();
    m_titleLabel->setText(m_displayName);
    m_preWaitLabel->setText(m_cue->preWaitMs() < 1
                                ? QString()
                                : QStringLiteral("等%1s").arg(m_cue->preWaitMs() / 1000.0, 0, 'f', 1));

    const qint64 loopStart = m_cue->loopStartMs();
    const qint64 loopEnd = m_cue->loopEndMs();
    m_regionLengthMs = loopEnd > loopStart ? loopEnd - loopStart : m_cue->durationMs();
    m_regionStartMs = loopStart;
    m_timeLabel->setText(m_positionMs < 0 ? formatTime(m_regionLengthMs)
                                          : formatTime(std::max<qint64>(
                                                m_regionLengthMs - std::max<qint64>(m_positionMs - m_regionStartMs, 0),
                                                0)));

    const int loops = m_cue->loopCount();
    m_loopLabel->setText(loops == 0 ? QStringLiteral("∞")
                                    : (loops == 1 ? QStringLiteral("1次") : QStringLiteral("%1次").arg(loops)));
    setToolTip(QStringLiteral("#%1 %2").arg(m_number).arg(m_displayName));
    elideTitle();
}

void CartButtonItem::elideTitle()
{
    if (m_titleLabel->width() < 1 || m_displayName.isEmpty())
        return;
    m_titleLabel->setText(
        m_titleLabel->fontMetrics().elidedText(m_displayName, Qt::ElideRight, m_titleLabel->width()));
}

void CartButtonItem::setCurrent(bool current)
{
    if (current == m_isCurrent)
        return;
    m_isCurrent = current;
    updateStyle();
    update();
}

void CartButtonItem::setSelected(bool selected)
{
    if (selected == m_isSelected)
        return;
    m_isSelected = selected;
    updateStyle();
    update();
}

void CartButtonItem::setPlaying(bool playing)
{
    if (playing == m_isPlaying)
        return;
    m_isPlaying = playing;
    if (playing) {
        m_playButton->setIcon(QIcon(pauseIcon()));
    } else {
        m_playButton->setIcon(QIcon(playIcon()));
        m_positionMs = -1;
        m_lastShownSecond = -1;
        m_timeLabel->setText(formatTime(m_regionLengthMs));
    }
    updateStyle();
    update();
}

void CartButtonItem::setPaused(bool paused)
{
    m_playButton->setIcon(QIcon(paused ? playIcon() : pauseIcon()));
    update();
}

void CartButtonItem::setPosition(qint64 positionMs)
{
    m_positionMs = positionMs;
    const qint64 remaining = m_regionLengthMs - std::max<qint64>(positionMs - m_regionStartMs, 0);
    const int second = int(std::max<qint64>(remaining, 0) / 1000);
    if (second != m_lastShownSecond) {
        m_lastShownSecond = second;
        m_timeLabel->setText(formatTime(std::max<qint64>(remaining, 0)));
    }
    // Only the strip moves with every position.
    update(0, height() - kStripHeight, width(), kStripHeight);
}

void CartButtonItem::updateStyle()
{
    QColor primary(0x99, 0x99, 0x99);
    QColor secondary(0x77, 0x77, 0x77);
    if (m_isCurrent || m_isSelected) {
        primary = QColor(0xff, 0xff, 0xff);
        secondary = QColor(0xd0, 0xd0, 0xd0);
    } else if (m_isHovered) {
        primary = QColor(0xff, 0xff, 0xff);
        secondary = QColor(0xbb, 0xbb, 0xbb);
    } else if (m_isPlaying) {
        primary = QColor(0xff, 0xff, 0xff);
        secondary = QColor(0xcc, 0xcc, 0xcc);
    }
    m_titleLabel->setStyleSheet(
        QStringLiteral("QLabel { color: %1; font-size: 14px; font-weight: bold; background: transparent; border: none; }")
            .arg(primary.name()));
    m_numberLabel->setStyleSheet(
        QStringLiteral("QLabel { color: %1; font-size: 13px; font-weight: bold; background: transparent; border: none; }")
            .arg(secondary.name()));
    const QString small =
        QStringLiteral("QLabel { color: %1; font-size: 12px; background: transparent; border: none; }")
            .arg(secondary.name());
    for (QLabel* label : {m_preWaitLabel, m_timeLabel, m_loopLabel})
        label->setStyleSheet(small);
}

void CartButtonItem::paintEvent(QPaintEvent* event)
{
    const int w = width();
    const int h = height();
    const QString own = m_cue ? m_cue->color() : QString();
    const QColor accent(own.isEmpty() ? kNoColor : own);
    const bool marked = m_isCurrent || m_isSelected;
    QColor fill(0x2a, 0x2a, 0x2a);
    QColor frame(0x3a, 0x3a, 0x3a);
    if (marked) {
        fill = QColor(0x1a, 0x3a, 0x5c);
        frame = QColor(0x00, 0x78, 0xd7);
    } else if (m_isHovered) {
        fill = QColor(0x35, 0x35, 0x35);
        frame = QColor(0x55, 0x55, 0x55);
    }
    const int b = marked ? 2 : 1;
    const QRect area = event->rect();

    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    auto frameBands = [&](int fromY) {
        painter.fillRect(corners(0, h - b, w - 1, h - 1), frame);
        painter.fillRect(corners(0, fromY, b - 1, h - 1), frame);
        painter.fillRect(corners(w - b, fromY, w - 1, h - 1), frame);
    };

    if (area.top() < h - kStripHeight) {
        painter.fillRect(corners(0, 0, w - 2, h - 2), fill);
        painter.fillRect(corners(0, 0, 3, h - 1), accent);
        painter.fillRect(corners(0, 0, w - 1, b - 1), frame);
        frameBands(0);
    }

    if (m_positionMs >= 0 && m_regionLengthMs > 0 && area.bottom() >= h - kStripHeight) {
        painter.fillRect(corners(0, h - kStripHeight, w - 1, h - 1), fill);
        if (!own.isEmpty())
            painter.fillRect(corners(0, h - kStripHeight, 3, h - 1), accent);
        const double f = std::clamp(
            double(std::max<qint64>(m_positionMs - m_regionStartMs, 0)) / double(m_regionLengthMs), 0.0, 1.0);
        const int p = int((w - 4) * f);
        painter.setClipRect(rect());
        if (p > 0)
            painter.fillRect(corners(4, h - 8, p + 3, h - 1), kPlayedColor);
        if (w - 1 >= p + 4)
            painter.fillRect(corners(p + 4, h - 8, w - 1, h - 1), kRemainingColor);
        frameBands(h - kStripHeight);
    }
    painter.end();
    QWidget::paintEvent(event);
}

void CartButtonItem::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    elideTitle();
}

void CartButtonItem::enterEvent(QEnterEvent* event)
{
    m_isHovered = true;
    updateStyle();
    update();
    QWidget::enterEvent(event);
}

void CartButtonItem::leaveEvent(QEvent* event)
{
    m_isHovered = false;
    updateStyle();
    update();
    QWidget::leaveEvent(event);
}

// ---------------------------------------------------------------------------
// Mouse

void CartButtonItem::recordPress(const QPointF& globalPos)
{
    m_pressPending = true;
    m_pressGlobalPos = globalPos.toPoint();
}

bool CartButtonItem::dragGesture(const QPointF& globalPos)
{
    if ((globalPos.toPoint() - m_pressGlobalPos).manhattanLength() <= QApplication::startDragDistance())
        return false;
    m_pressPending = false;
    Q_EMIT dragStarted(m_cue, globalPos.toPoint());
    return true;
}

void CartButtonItem::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    Q_EMIT clicked(m_cue, event->modifiers());
    if (!m_showMode)
        recordPress(event->globalPosition());
    // Taken here: the grid treats a press that reaches it as one on its
    // empty space.
    event->accept();
}

void CartButtonItem::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_showMode && m_pressPending && (event->buttons() & Qt::LeftButton)) {
        dragGesture(event->globalPosition());
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void CartButtonItem::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!m_showMode && event->button() == Qt::LeftButton) {
        startRename();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

bool CartButtonItem::eventFilter(QObject* watched, QEvent* event)
{
    // The editor takes its own presses while it is open.
    if (watched == m_nameEdit && m_nameEdit->isVisible())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        Q_EMIT clicked(m_cue, mouse->modifiers());
        if (!m_showMode)
            recordPress(mouse->globalPosition());
        return watched != m_playButton;
    }
    case QEvent::MouseButtonRelease:
        m_pressPending = false;
        break;
    case QEvent::MouseButtonDblClick:
        // The labels cover most of the tile: in show mode they open no
        // editor either.
        if (!m_showMode)
            startRename();
        return true;
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!m_showMode && m_pressPending && (mouse->buttons() & Qt::LeftButton)) {
            dragGesture(mouse->globalPosition());
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Rename

void CartButtonItem::startRename()
{
    m_nameEdit->setText(m_displayName);
    m_titleLabel->hide();
    m_nameEdit->show();
    m_nameEdit->setFocus();
    m_nameEdit->selectAll();
}

void CartButtonItem::commitRename()
{
    if (m_nameEdit->isHidden())
        return;  // Return and the loss of focus both finish the edit
    const QString text = m_nameEdit->text().trimmed();
    m_nameEdit->hide();
    m_titleLabel->show();
    if (text.isEmpty() || !m_cue)
        return;
    m_cue->setAlias(text);
    m_displayName = text;
    m_titleLabel->setText(text);
    Q_EMIT nameChanged(m_cue, text);
}
