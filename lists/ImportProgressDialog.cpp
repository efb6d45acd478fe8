#include "lists/ImportProgressDialog.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr double kWidthShare = 0.7;
constexpr int kMinWidth = 300;
constexpr int kMaxWidth = 600;
constexpr int kHeight = 80;
constexpr int kOrphanWidth = 400;
constexpr int kBarHeight = 5;

const char* const kTrackStyle = "QLabel {    background-color: #1a1a1a;    border-radius: 4px;}";
const char* const kBarStyle =
    "QProgressBar {    border: none;    background-color: transparent;    border-radius: 2px;}"
    "QProgressBar::chunk {    background-color: #0078d7;    border-radius: 2px;}";

}  // namespace

ImportProgressDialog::ImportProgressDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setModal(true);
    if (parent) {
        setFixedSize(std::clamp(int(parent->width() * kWidthShare), kMinWidth, kMaxWidth), kHeight);
        const QPoint centre = parent->mapToGlobal(parent->rect().center());
        move(centre - QPoint(width() / 2, height() / 2));
    } else {
        setFixedSize(kOrphanWidth, kHeight);
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 20, 10, 20);
    layout->setSpacing(0);
    m_track = new QLabel(this);
    m_track->setStyleSheet(QString::fromLatin1(kTrackStyle));
    m_track->setFixedHeight(kBarHeight);
    layout->addWidget(m_track);

    auto* trackLayout = new QHBoxLayout(m_track);
    trackLayout->setContentsMargins(0, 0, 0, 0);
    trackLayout->setSpacing(0);
    m_bar = new QProgressBar(m_track);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(kBarHeight);
    m_bar->setStyleSheet(QString::fromLatin1(kBarStyle));
    trackLayout->addWidget(m_bar);
}

void ImportProgressDialog::setTotal(int total)
{
    m_total = total;
    m_bar->setRange(0, std::max(total, 0));
    m_bar->setValue(0);
}

void ImportProgressDialog::setProgress(int current)
{
    if (m_total < 1)
        return;
    m_bar->setValue(std::min(current, m_total));
    QCoreApplication::processEvents();
}

void ImportProgressDialog::reset()
{
    m_total = 0;
    m_bar->setValue(0);
}

int ImportProgressDialog::value() const
{
    return m_bar->value();
}

void ImportProgressDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(rect(), QColor(0, 0, 0, 100));
}
