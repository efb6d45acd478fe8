// The source list of RecordingDialog (devices, the whole output, the
// programs playing sound) and the smart end (media session or silence).
#include "recording/RecordingDialog.h"

#include "platform/PoolTask.h"
#include "recording/ApplicationSourceOrder.h"
#include "recording/MediaSessionWatcher.h"
#include "settings/SettingsKeys.h"

#include <QFutureWatcher>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QThreadPool>

#include <algorithm>

namespace {

const QString kDevice = QStringLiteral("device");
const QString kAll = QStringLiteral("all");
const QString kApplication = QStringLiteral("application");

constexpr qint64 kAutoStopMinimumMs = 20000;
constexpr double kLoudLevel = 0.03;
constexpr qint64 kCheckMs = 500;
constexpr qint64 kSilenceStopMs = 5000;

QFont listFont(int points, bool bold, bool italic = false)
{
    QFont font(QStringLiteral("Arial"), points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

}  // namespace

// --- the list ----------------------------------------------------------------

QListWidgetItem* RecordingDialog::addSourceHeader(const QString& text)
{
    auto* header = new QListWidgetItem(text, sourceList);
    header->setFlags(Qt::ItemIsEnabled);
    header->setForeground(QColor("#888"));
    header->setFont(listFont(11, true));
    return header;
}

QListWidgetItem* RecordingDialog::addAllSourceItem()
{
    auto* all = new QListWidgetItem(tr("ALL (录制所有声音)"), sourceList);
    all->setCheckState(Qt::Unchecked);
    all->setData(Qt::UserRole, kAll);
    all->setForeground(QColor("#e0c060"));
    all->setFont(listFont(10, true));
    return all;
}

void RecordingDialog::addApplicationItems(const QList<AudioSessionProcess>& found, const QStringList& earlierOrder)
{
    if (found.isEmpty()) {
        auto* none = new QListWidgetItem(tr("(未检测到正在播放音频的应用)"), sourceList);
        none->setFlags(Qt::ItemIsEnabled);
        none->setForeground(QColor("#666"));
        none->setFont(listFont(10, false, true));
        return;
    }
    for (const AudioSessionProcess& app : ApplicationSourceOrder::arrange(found, earlierOrder)) {
        auto* item = new QListWidgetItem(app.name, sourceList);
        item->setCheckState(Qt::Unchecked);
        item->setData(Qt::UserRole, kApplication);
        item->setData(Qt::UserRole + 1, app.pid);
    }
}

void RecordingDialog::requestSourceList()
{
    // One look at a time, on a worker: the server may be slow to answer.
    if (sourceQuery || !listSources || closeRequested)
        return;
    sourceQuery = new QFutureWatcher<RecordingSourceList>(this);
    connect(sourceQuery, &QFutureWatcherBase::finished, this, [this] {
        const RecordingSourceList sources = sourceQuery->result();
        sourceQuery->deleteLater();
        sourceQuery = nullptr;
        onSourceListReady(sources);
    });
    sourceQuery->setFuture(PoolTask::run(QThreadPool::globalInstance(), listSources));
}

void RecordingDialog::onSourceListReady(const RecordingSourceList& sources)
{
    // The list stays as it was from the start of a recording to its end.
    if (state == Recording || state == RecordingPaused || closeRequested)
        return;
    if (!sourcesPopulated) {
        sourcesPopulated = true;
        populateSources(sources);
    } else {
        refreshApplicationSources(sources);
    }
}

void RecordingDialog::populateSources(const RecordingSourceList& sources)
{
    sourceList->clear();
    addSourceHeader(tr("== 音频设备 =="));
    if (sources.serverReachable) {
        for (const QString& name : sources.captureDevices) {
            auto* item = new QListWidgetItem(name, sourceList);
            item->setCheckState(Qt::Unchecked);
            item->setData(Qt::UserRole, kDevice);
        }
    } else {
        auto* fallback = new QListWidgetItem(tr("系统默认录音设备"), sourceList);
        fallback->setCheckState(Qt::Unchecked);
        fallback->setData(Qt::UserRole, kDevice);
    }
    addSourceHeader(tr("== 软音源 =="));
    addAllSourceItem();
    if (processLoopbackSupported) {
        const QStringList order = QSettings().value(SettingsKeys::kRecordingAppOrder).toStringList();
        addApplicationItems(sources.applications, order);
    }

    if (lastSource.isEmpty() && sourceList->count() > 1
        && sourceList->item(1)->data(Qt::UserRole).toString() == kDevice) {
        QListWidgetItem* first = sourceList->item(1);
        first->setCheckState(Qt::Checked);
        sourceList->setCurrentItem(first);
        setLastSource(first->text());
    } else if (!lastSource.isEmpty()) {
        restoreLastSource();
    }
    updateAllSourceItemIcons();
    updateAutoStopModeIcon();
}

void RecordingDialog::refreshApplicationSources(const RecordingSourceList& sources)
{
    if (!processLoopbackSupported)
        return;
    const QString checkedText = checkedSourceText();
    QString checkedRole;
    for (int i = 0; i < sourceList->count(); ++i) {
        if (sourceList->item(i)->checkState() == Qt::Checked) {
            checkedRole = sourceList->item(i)->data(Qt::UserRole).toString();
            break;
        }
    }
    int header = -1;
    for (int i = 0; i < sourceList->count() && header < 0; ++i) {
        if (sourceList->item(i)->text().contains(QStringLiteral("软音源")))
            header = i;
    }
    if (header < 0)
        return;

    const int scroll = sourceList->verticalScrollBar()->value();
    QStringList noted;
    for (int i = header + 1; i < sourceList->count(); ++i) {
        if (sourceList->item(i)->data(Qt::UserRole).toString() == kApplication)
            noted.append(sourceList->item(i)->text());
    }
    while (sourceList->count() > header + 1)
        delete sourceList->takeItem(header + 1);
    addAllSourceItem();
    addApplicationItems(sources.applications, noted);
    sourceList->verticalScrollBar()->setValue(scroll);

    if (checkedRole == kAll) {
        QListWidgetItem* all = sourceList->item(header + 1);
        if (all && all->data(Qt::UserRole).toString() == kAll) {
            all->setCheckState(Qt::Checked);
            sourceList->setCurrentItem(all);
        }
    } else if (checkedRole == kApplication && !checkedText.isEmpty()) {
        for (int i = header + 1; i < sourceList->count(); ++i) {
            QListWidgetItem* item = sourceList->item(i);
            if (item->text() == checkedText) {
                item->setCheckState(Qt::Checked);
                sourceList->setCurrentItem(item);
                break;
            }
        }
    }
    updateAllSourceItemIcons();
    updateAutoStopModeIcon();
}

void RecordingDialog::restoreLastSource()
{
    if (lastSource.isEmpty())
        return;
    QListWidgetItem* match = nullptr;
    for (int i = 0; i < sourceList->count() && !match; ++i) {
        QListWidgetItem* item = sourceList->item(i);
        if (item->text() == lastSource && item->flags().testFlag(Qt::ItemIsEnabled))
            match = item;
    }
    if (!match)
        return;
    for (int i = 0; i < sourceList->count(); ++i) {
        if (sourceList->item(i)->flags().testFlag(Qt::ItemIsUserCheckable))
            sourceList->item(i)->setCheckState(Qt::Unchecked);
    }
    match->setCheckState(Qt::Checked);
    sourceList->setCurrentItem(match);
}

void RecordingDialog::setLastSource(const QString& text)
{
    lastSource = text;
    QSettings().setValue(SettingsKeys::kRecordingLastSource, text);
}

QString RecordingDialog::checkedSourceText() const
{
    for (int i = 0; i < sourceList->count(); ++i) {
        if (sourceList->item(i)->checkState() == Qt::Checked)
            return sourceList->item(i)->text();
    }
    return QString();
}

void RecordingDialog::onSourceItemClicked(QListWidgetItem* item)
{
    if (!item || !item->flags().testFlag(Qt::ItemIsSelectable))
        return;
    // The check is the choice: exactly one, also when the click unchecked it.
    for (int i = 0; i < sourceList->count(); ++i) {
        QListWidgetItem* other = sourceList->item(i);
        if (other != item && other->checkState() == Qt::Checked)
            other->setCheckState(Qt::Unchecked);
    }
    item->setCheckState(Qt::Checked);
    setLastSource(item->text());
    updateAutoStopModeIcon();
    updateAutoStopWarning();
}

// --- smart end: modes and their decorations ------------------------------------

AutoStopMode RecordingDialog::defaultAutoStopMode(const QString& name)
{
    return AutoStopModes::defaultMode(name);
}

AutoStopMode RecordingDialog::autoStopModeFor(const QString& name) const
{
    return smtcOverrides.value(name, defaultAutoStopMode(name));
}

void RecordingDialog::loadSmtcOverrides()
{
    smtcOverrides =
        AutoStopModes::parseOverrides(QSettings().value(SettingsKeys::kRecordingSmtcOverrides).toStringList());
}

void RecordingDialog::saveSmtcOverrides()
{
    QSettings().setValue(SettingsKeys::kRecordingSmtcOverrides, AutoStopModes::serializeOverrides(smtcOverrides));
}

QIcon RecordingDialog::makeModeIcon(QChar letter, const QColor& color)
{
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(2, 2, 12, 12));
    QFont font(QStringLiteral("Arial"), 7);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString(letter));
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

namespace {

struct ModeLook {
    QChar letter;
    QColor color;
    bool overridden;
    AutoStopMode mode;
};

ModeLook modeLook(const QHash<QString, AutoStopMode>& overrides, const QString& name)
{
    const AutoStopMode fallback = AutoStopModes::defaultMode(name);
    const AutoStopMode mode = overrides.value(name, fallback);
    const bool overridden = overrides.contains(name) && mode != fallback;
    if (mode == Silence)
        return {QLatin1Char('R'), QColor(255, 140, 0), overridden, mode};
    if (overridden)
        return {QLatin1Char('G'), QColor(176, 64, 64), overridden, mode};
    if (AutoStopModes::mediaSessionApps().contains(name.toLower()))
        return {QLatin1Char('G'), QColor(31, 78, 121), overridden, mode};
    return {QLatin1Char('G'), QColor(128, 128, 128), overridden, mode};
}

const char* const kTip = QT_TRANSLATE_NOOP("RecordingDialog", "⚠ 提示：切换模式可能误判");
const char* const kWarning = QT_TRANSLATE_NOOP("RecordingDialog", "⚠ 警告：当前智能结束模式将大概率失效！");

}  // namespace

void RecordingDialog::updateSourceItemIcon(QListWidgetItem* item)
{
    if (!item || item->data(Qt::UserRole).toString() != kApplication)
        return;
    const ModeLook look = modeLook(smtcOverrides, item->text());
    item->setIcon(makeModeIcon(look.letter, look.color));
    if (look.overridden)
        item->setToolTip(look.mode == Silence ? tr(kTip) : tr(kWarning));
    else
        item->setToolTip(QString());
}

void RecordingDialog::updateAllSourceItemIcons()
{
    for (int i = 0; i < sourceList->count(); ++i)
        updateSourceItemIcon(sourceList->item(i));
}

QListWidgetItem* RecordingDialog::checkedApplicationItem() const
{
    for (int i = 0; i < sourceList->count(); ++i) {
        QListWidgetItem* item = sourceList->item(i);
        if (item->checkState() == Qt::Checked && item->data(Qt::UserRole).toString() == kApplication)
            return item;
    }
    return nullptr;
}

void RecordingDialog::updateAutoStopModeIcon()
{
    QListWidgetItem* item = checkedApplicationItem();
    if (!item) {
        autoStopModeIcon->setPixmap(QPixmap());
        autoStopModeIcon->hide();
        return;
    }
    const ModeLook look = modeLook(smtcOverrides, item->text());
    autoStopModeIcon->setPixmap(makeModeIcon(look.letter, look.color).pixmap(16, 16));
    autoStopModeIcon->show();
}

void RecordingDialog::updateAutoStopWarning()
{
    if (!autoStopWarningLabel)
        return;
    QListWidgetItem* item = checkedApplicationItem();
    const ModeLook look = item ? modeLook(smtcOverrides, item->text()) : ModeLook{};
    if (!item || !look.overridden) {
        autoStopWarningLabel->hide();
        return;
    }
    if (look.mode == Silence) {
        autoStopWarningLabel->setStyleSheet(
            QStringLiteral("color: #FF8C00; font-size: 13px; font-weight: bold; background: transparent;"));
        autoStopWarningLabel->setText(tr(kTip));
    } else {
        autoStopWarningLabel->setStyleSheet(
            QStringLiteral("color: #B04040; font-size: 13px; font-weight: bold; background: transparent;"));
        autoStopWarningLabel->setText(tr(kWarning));
    }
    autoStopWarningLabel->show();
}

void RecordingDialog::toggleAutoStopMode()
{
    QListWidgetItem* item = checkedApplicationItem();
    if (!item)
        return;
    // A running recording keeps the mode it started with.
    const AutoStopMode now = autoStopModeFor(item->text());
    smtcOverrides.insert(item->text(), now == MediaSession ? Silence : MediaSession);
    saveSmtcOverrides();
    updateSourceItemIcon(item);
    updateAutoStopModeIcon();
    updateAutoStopWarning();
}

// --- smart end: the watcher and the check ---------------------------------------

void RecordingDialog::startMediaSessionWatcher(unsigned int pid)
{
    stopMediaSessionWatcher();
    smtcWatcherRunning = true;
    smtcStopRequested = false;
    mediaSessionWatcher = new MediaSessionWatcher(pid, QDBusConnection::sessionBus(), this);
    connect(mediaSessionWatcher, &MediaSessionWatcher::stopRequested, this, [this](bool trackChanged) {
        smtcStopRequested = true;
        if (trackChanged)
            smtcTrackChanged = true;
        // Decided from the event loop, like every other check.
        QMetaObject::invokeMethod(this, &RecordingDialog::checkAutoStop, Qt::QueuedConnection);
    });
    if (!mediaSessionWatcher->start()) {
        // No session bus: the recording stops by hand only.
        stopMediaSessionWatcher();
    }
}

void RecordingDialog::stopMediaSessionWatcher()
{
    smtcWatcherRunning = false;
    if (!mediaSessionWatcher)
        return;
    // It lives on this thread and waits for nothing: deleting it is safe at
    // any moment, and its answers still on the way are dropped with it.
    mediaSessionWatcher->stop();
    delete mediaSessionWatcher;
    mediaSessionWatcher = nullptr;
}

void RecordingDialog::checkAutoStop()
{
    if (state != Recording || !autoStopActive)
        return;
    const qint64 recordedMs = accumulatedMs + (recordClock.isValid() ? recordClock.elapsed() : 0);
    const bool loud = recentRms() >= kLoudLevel;
    // Sound counts whenever it is heard: a track that ends within the first
    // 20 s still stops the recording once they are over.
    if (smtcActive && loud && !heardSound) {
        // What the media session said before the first sound is forgotten.
        smtcStopRequested = false;
        smtcTrackChanged = false;
    }
    if (recordedMs < kAutoStopMinimumMs) {
        heardSound = heardSound || loud;
        return;
    }

    if (smtcActive) {
        heardSound = heardSound || loud;
        if (!heardSound)
            return;
        if (smtcStopRequested.exchange(false))
            stopRecording();
        return;
    }

    if (loud) {
        silenceMs = std::max<qint64>(0, silenceMs - kCheckMs);
        heardSound = true;
        return;
    }
    if (!heardSound)
        return;
    silenceMs += kCheckMs;
    if (silenceMs >= kSilenceStopMs)
        stopRecording();
}
