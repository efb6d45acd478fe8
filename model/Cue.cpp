#include "model/Cue.h"

#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"
#include "audiofile/AudioFileProbe.h"

#include <QDebug>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {

// Gain in 0..1; anything not above 0 (NaN included) is 0.
double clampGain(double gain)
{
    if (gain > 1.0)
        return 1.0;
    if (!(gain > 0.0))
        return 0.0;
    return gain;
}

double clampPan(double pan)
{
    if (pan > 1.0)
        return 1.0;
    if (!(pan > -1.0))
        return std::isnan(pan) ? 0.0 : -1.0;
    return pan;
}

// Linear interpolation over parallel point lists; `fallback` where the
// envelope gives no value.
template <typename Clamp>
double envelopeValueAt(const QList<qint64>& times, const QList<double>& values, qint64 ms,
                       double fallback, Clamp clamp)
{
    const qsizetype n = std::min(times.size(), values.size());
    if (n < 2)
        return fallback;
    if (ms <= times.first())
        return values.first();
    if (ms >= times[n - 1])
        return values[n - 1];
    for (qsizetype i = 0; i < n - 1; ++i) {
        if (times[i] <= ms && ms <= times[i + 1]) {
            if (times[i] == times[i + 1])
                return values[i];
            const double t = double(ms - times[i]) / double(times[i + 1] - times[i]);
            return clamp(values[i] + t * (values[i + 1] - values[i]));
        }
    }
    return fallback;
}

}  // namespace

Cue::Cue(QObject* parent)
    : QObject(parent)
{
}

Cue::Cue(int id, const QString& name, const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_name(name)
    , m_filePath(filePath)
    , m_isDirty(id < 1)
{
}

Cue::~Cue()
{
    if (m_isDirty && m_id > 0)
        saveToDatabase(true);
}

void Cue::setId(int id)
{
    if (m_id == id)
        return;
    m_id = id;
    markDirty();
}

void Cue::setName(const QString& name)
{
    if (m_name == name)
        return;
    m_name = name;
    markDirty();
}

void Cue::setAlias(const QString& alias)
{
    if (m_alias == alias)
        return;
    m_alias = alias;
    markDirty();
}

void Cue::setRemark(const QString& remark)
{
    if (m_remark == remark)
        return;
    m_remark = remark;
    markDirty();
}

void Cue::setFilePath(const QString& filePath)
{
    if (m_filePath == filePath)
        return;
    m_filePath = filePath;
    m_name = QFileInfo(filePath).completeBaseName();
    markDirty();
}

void Cue::setColor(const QString& color)
{
    if (m_color == color)
        return;
    m_color = color;
    markDirty();
    Q_EMIT colorChanged(m_color);
    Q_EMIT dataUpdated();
}

void Cue::setDuration(qint64 ms)
{
    ms = std::max<qint64>(ms, 0);
    if (m_durationMs == ms)
        return;
    m_durationMs = ms;
    markDirty();
    Q_EMIT durationChanged(m_durationMs);
    Q_EMIT dataUpdated();
    if (m_durationMs > 0 && (m_loopStartMs > 0 || m_loopEndMs > 0))
        validateLoopRange();
}

void Cue::setLufs(double lufs)
{
    if (m_lufs == lufs)
        return;
    m_lufs = lufs;
    markDirty();
    Q_EMIT dataUpdated();
}

void Cue::setBadFile(bool bad)
{
    if (m_isBadFile == bad)
        return;
    m_isBadFile = bad;
    markDirty();
    Q_EMIT dataUpdated();
}

void Cue::setWaveform(const QList<float>& waveform)
{
    m_waveform = waveform;
    markDirty();
    m_waveformDirty = true;
    Q_EMIT waveformReady(m_waveform);
    Q_EMIT dataUpdated();
}

void Cue::setVolumeA(int volume)
{
    volume = std::clamp(volume, 0, 100);
    if (m_volumeA == volume)
        return;
    m_volumeA = volume;
    markDirty();
    Q_EMIT volumeAChanged(m_volumeA);
    Q_EMIT dataUpdated();
}

void Cue::setVolumeB(int volume)
{
    volume = std::clamp(volume, 0, 100);
    if (m_volumeB == volume)
        return;
    m_volumeB = volume;
    markDirty();
    Q_EMIT volumeBChanged(m_volumeB);
    Q_EMIT dataUpdated();
}

void Cue::setVolumeChoose(int choose)
{
    if (choose != 0 && choose != 1)
        choose = 0;
    if (m_volumeChoose == choose)
        return;
    m_volumeChoose = choose;
    markDirty();
    Q_EMIT volumeChooseChanged(m_volumeChoose);
    Q_EMIT dataUpdated();
}

void Cue::holdVolumeChoose(int choose)
{
    m_heldVolumeChoose = (choose == 1) ? 1 : 0;
}

void Cue::setPreWait(int ms)
{
    ms = std::max(ms, 0);
    if (m_preWaitMs == ms)
        return;
    m_preWaitMs = ms;
    markDirty();
    Q_EMIT dataUpdated();
}

void Cue::setLoopCount(int count)
{
    count = std::max(count, 0);
    if (m_loopCount == count)
        return;
    m_loopCount = count;
    markDirty();
    Q_EMIT dataUpdated();
}

void Cue::setFadeEnabled(bool enabled)
{
    if (m_fadeEnabled == enabled)
        return;
    m_fadeEnabled = enabled;
    if (m_isLoading) {
        m_isDirty = false;
        return;
    }
    markDirty();
    Q_EMIT fadeEnabledChanged(m_fadeEnabled);
    Q_EMIT dataUpdated();
}

void Cue::setFadeDurations(qint64 fadeInMs, qint64 fadeOutMs)
{
    fadeInMs = std::clamp<qint64>(fadeInMs, 0, kMaxFadeMs);
    fadeOutMs = std::clamp<qint64>(fadeOutMs, 0, kMaxFadeMs);
    if (m_fadeInMs == fadeInMs && m_fadeOutMs == fadeOutMs)
        return;
    m_fadeInMs = fadeInMs;
    m_fadeOutMs = fadeOutMs;
    markDirty();
    Q_EMIT fadeSettingsChanged(m_fadeInMs, m_fadeOutMs);
    Q_EMIT dataUpdated();
}

void Cue::setStartMarking(qint64 ms)
{
    // Compared as passed: a negative mark still counts as a change and saves.
    if (ms == m_startMarkingMs)
        return;
    markDirty();
    m_startMarkingMs = std::max<qint64>(ms, 0);
    if (!m_isLoading)
        saveToDatabase(false);
}

void Cue::storeLoopRange(qint64 startMs, qint64 endMs)
{
    m_loopStartMs = startMs;
    m_loopEndMs = endMs;
    Q_EMIT loopRangeChanged(m_loopStartMs, m_loopEndMs);
    Q_EMIT dataUpdated();
}

void Cue::setLoopRange(qint64 startMs, qint64 endMs, bool skipSave)
{
    if (m_isLoading) {
        if (startMs == m_loopStartMs && endMs == m_loopEndMs)
            return;
        storeLoopRange(startMs, endMs);
        return;
    }

    if (m_durationMs == 0) {
        if (m_id > 0) {
            const bool reloaded = loadFromDatabase(m_id);
            if (!reloaded || m_durationMs <= 0)
                qWarning() << "Cue::setLoopRange - Failed to load duration from database, remaining:"
                           << m_durationMs;
        }
        if (m_durationMs <= 0) {
            qWarning() << "Cue::setLoopRange - Duration is still 0, cannot set loop";
            if (startMs == m_loopStartMs && endMs == m_loopEndMs)
                return;
            markDirty();
            storeLoopRange(startMs, endMs);
            if (!m_isLoading)
                saveToDatabase(false);
            return;
        }
    }

    qint64 start = startMs;
    qint64 end = std::min(endMs, m_durationMs);
    if (start >= end) {
        qWarning() << "Cue::setLoopRange - Invalid range: start" << start << ">= end" << end;
        start = 0;
        end = m_durationMs;
    }
    const qint64 length = end - start;
    if (length < kMinLoopMs) {
        qWarning().nospace() << "Cue::setLoopRange - Loop duration too short (" << length << "ms < "
                             << kMinLoopMs << "ms), using full range";
        start = 0;
        end = m_durationMs;
    } else {
        start = std::max<qint64>(start, 0);
    }

    if (start == m_loopStartMs && end == m_loopEndMs)
        return;
    markDirty();
    storeLoopRange(start, end);
    if (!m_isLoading && !skipSave)
        saveToDatabase(false);
}

void Cue::setLoopStartMs(qint64 ms)
{
    qint64 start = std::max<qint64>(ms, 0);
    if (start > m_loopEndMs - 1000)
        start = m_loopEndMs - 1000;
    start = std::min(start, m_durationMs);
    if (start == m_loopStartMs)
        return;
    setLoopRange(start, m_loopEndMs, false);
}

void Cue::resetLoopRange()
{
    if (m_loopStartMs == 0 && m_loopEndMs == m_durationMs)
        return;
    markDirty();
    storeLoopRange(0, m_durationMs);
}

void Cue::validateLoopRange()
{
    if (m_durationMs == 0)
        return;
    if (m_loopEndMs > m_durationMs || m_loopEndMs <= 0)
        m_loopEndMs = m_durationMs;
    if (m_loopStartMs >= m_loopEndMs || m_loopEndMs - m_loopStartMs < kMinLoopMs) {
        m_loopStartMs = 0;
        m_loopEndMs = m_durationMs;
    } else if (m_loopStartMs < 0) {
        m_loopStartMs = 0;
    }
    markDirty();
}

void Cue::setVolumeEnvelope(const QList<qint64>& times, const QList<double>& gains)
{
    if (times.size() != gains.size()) {
        qWarning() << "Cue::setVolumeEnvelope - Times and gains size mismatch";
        return;
    }
    if (times.size() < 2) {
        qWarning() << "Cue::setVolumeEnvelope - Need at least 2 points";
        return;
    }

    QList<qint64> sortedTimes = times;
    QList<double> sortedGains = gains;
    // A stable sort by time: points at one time keep their given order, and
    // the first of them is the one that stays.
    const qsizetype n = sortedTimes.size();
    for (qsizetype i = 0; i + 1 < n; ++i) {
        for (qsizetype j = 0; j + 1 < n - i; ++j) {
            if (sortedTimes[j] > sortedTimes[j + 1]) {
                std::swap(sortedTimes[j], sortedTimes[j + 1]);
                std::swap(sortedGains[j], sortedGains[j + 1]);
            }
        }
    }
    for (qsizetype i = 0; i + 1 < sortedTimes.size();) {
        if (sortedTimes[i] == sortedTimes[i + 1]) {
            sortedTimes.removeAt(i + 1);
            sortedGains.removeAt(i + 1);
        } else {
            ++i;
        }
    }
    for (double& gain : sortedGains)
        gain = clampGain(gain);

    m_envelopeTimes = sortedTimes;
    m_envelopeGains = sortedGains;
    markDirty();
    Q_EMIT envelopeChanged(m_envelopeTimes, m_envelopeGains);
    Q_EMIT dataUpdated();
}

void Cue::setPanEnvelope(const QList<qint64>& times, const QList<double>& positions)
{
    if (times.size() != positions.size()) {
        qWarning() << "Cue::setPanEnvelope - Times and positions size mismatch";
        return;
    }
    if (times.size() < 2) {
        qWarning() << "Cue::setPanEnvelope - Need at least 2 points";
        return;
    }
    for (double position : positions) {
        if (position < -1.0 || position > 1.0 || std::isnan(position)) {
            qWarning() << "Cue::setPanEnvelope - Position out of range:" << position;
            return;
        }
    }
    m_panEnvelopeTimes = times;
    m_panEnvelopePositions = positions;
    markDirty();
    Q_EMIT panEnvelopeChanged(m_panEnvelopeTimes, m_panEnvelopePositions);
    Q_EMIT dataUpdated();
}

void Cue::setEnvelopeEnabled(bool enabled)
{
    if (m_isLoading) {
        m_envelopeEnabled = enabled;
        m_isDirty = false;
        return;
    }
    if (m_isImporting) {
        m_envelopeEnabled = enabled;
        markDirty();
        Q_EMIT envelopeEnabledChanged(m_envelopeEnabled);
        Q_EMIT dataUpdated();
        return;
    }
    if (m_envelopeEnabled == enabled)
        return;
    m_envelopeEnabled = enabled;
    if (enabled && m_envelopeTimes.isEmpty()) {
        const qint64 end = m_durationMs > 0 ? m_durationMs : 10000;
        m_envelopeTimes = {0, end};
        m_envelopeGains = {1.0, 1.0};
        Q_EMIT envelopeChanged(m_envelopeTimes, m_envelopeGains);
    }
    markDirty();
    Q_EMIT envelopeEnabledChanged(m_envelopeEnabled);
    Q_EMIT dataUpdated();
}

void Cue::setPanEnvelopeEnabled(bool enabled)
{
    if (m_isImporting) {
        m_panEnvelopeEnabled = enabled;
        markDirty();
        Q_EMIT panEnvelopeEnabledChanged(m_panEnvelopeEnabled);
        Q_EMIT dataUpdated();
        return;
    }
    if (m_panEnvelopeEnabled == enabled)
        return;
    m_panEnvelopeEnabled = enabled;
    if (enabled && m_panEnvelopeTimes.isEmpty()) {
        const qint64 end = m_durationMs > 0 ? m_durationMs : 10000;
        m_panEnvelopeTimes = {0, end};
        m_panEnvelopePositions = {0.0, 0.0};
    }
    markDirty();
    Q_EMIT panEnvelopeEnabledChanged(m_panEnvelopeEnabled);
    Q_EMIT dataUpdated();
}

double Cue::volumeAt(qint64 ms) const
{
    if (!m_envelopeEnabled)
        return 1.0;
    return envelopeValueAt(m_envelopeTimes, m_envelopeGains, ms, 1.0, clampGain);
}

double Cue::panAt(qint64 ms) const
{
    if (!m_panEnvelopeEnabled)
        return 0.0;
    return envelopeValueAt(m_panEnvelopeTimes, m_panEnvelopePositions, ms, 0.0, clampPan);
}

void Cue::assignStoredEnvelopes(const QList<qint64>& times, const QList<double>& gains)
{
    m_envelopeTimes = times;
    m_envelopeGains = gains;
}

void Cue::assignStoredPanEnvelope(const QList<qint64>& times, const QList<double>& positions)
{
    m_panEnvelopeTimes = times;
    m_panEnvelopePositions = positions;
}

// ---------------------------------------------------------------------------
// Storage

bool Cue::saveToDatabase(bool force)
{
    if (!force && !m_isDirty)
        return true;

    DatabaseManager* db = DatabaseManager::instance();
    // Only a colour the row holds is lost; a cue that never had one stores
    // the same empty colour again.
    if (m_color.isEmpty() && m_isDirty && m_id > 0
        && !db->getCueField(m_id, QStringLiteral("color")).toString().isEmpty()) {
        qWarning() << "[Cue::saveToDatabase] ⚠️ WARNING: Cue" << m_id << "color is empty but isDirty=true!";
        qWarning() << "  This will overwrite the database with empty color!";
    }

    // The row, its points and its waveform land together: a save cut short
    // (a failed statement, a killed process) leaves the stored cue as it was.
    // Inside a caller's transaction this is a savepoint of its own, so a
    // failed save leaves nothing in the caller's transaction either.
    DatabaseTransaction transaction(db);
    auto fail = [&](const char* message) {
        if (message)
            qWarning() << message;
        transaction.rollback();
        m_isDirty = true;
        return false;
    };
    if (!transaction.isActive())
        return fail("Cue::saveToDatabase - Failed to begin transaction");
    // Whenever these writes are taken back (here, by the caller or by the
    // database), the cue's id and dirty flags follow: a new cue loses the id
    // of a row that no longer exists.
    transaction.onRollback([cue = QPointer<Cue>(this), idBefore = m_id, waveformDirtyBefore = m_waveformDirty] {
        if (!cue)
            return;
        cue->m_id = idBefore;
        cue->m_isDirty = true;
        cue->m_waveformDirty = cue->m_waveformDirty || waveformDirtyBefore;
    });

    if (m_id < 1) {
        if (!db->insertCue(this))
            return fail("Cue::saveToDatabase - Failed to insert cue");
    } else if (!db->updateCue(this)) {
        qWarning() << "Cue::saveToDatabase - Failed to update cue:" << m_id;
        return fail(nullptr);
    }

    if (!m_envelopeTimes.isEmpty() && m_envelopeTimes.size() == m_envelopeGains.size()
        && !db->saveEnvelopePoints(m_id, m_envelopeTimes, m_envelopeGains))
        return fail("Cue::saveToDatabase - Failed to save envelope points");
    if (!m_panEnvelopeTimes.isEmpty() && m_panEnvelopeTimes.size() == m_panEnvelopePositions.size()
        && !db->savePanEnvelopePoints(m_id, m_panEnvelopeTimes, m_panEnvelopePositions))
        return fail("Cue::saveToDatabase - Failed to save pan envelope points");
    const bool writeWaveform = m_waveformDirty && !m_waveform.isEmpty();
    if (writeWaveform && !db->saveWaveformDataCompressed(m_id, kWaveformTargetPoints, m_waveform))
        return fail("Cue::saveToDatabase - Failed to save waveform data");
    // Cleared before the commit: a commit that fails runs the undo, which
    // sets them again.
    if (writeWaveform)
        m_waveformDirty = false;
    m_isDirty = false;
    if (!transaction.commit())
        return fail("Cue::saveToDatabase - Failed to commit");
    return true;
}

bool Cue::loadFromDatabase(int id)
{
    if (id < 1) {
        qWarning() << "Cue::loadFromDatabase - Invalid id:" << id;
        return false;
    }
    if (m_isLoading) {
        qWarning() << "Cue::loadFromDatabase - Already loading, skip recursive call";
        return false;
    }
    m_isLoading = true;
    DatabaseManager* db = DatabaseManager::instance();
    if (!db->loadCue(id, this)) {
        qWarning() << "Cue::loadFromDatabase - Failed to load cue:" << id;
        m_isLoading = false;
        return false;
    }
    // The stored points exactly as they are, also fewer than two.
    QList<qint64> times;
    QList<double> values;
    QList<qint64> panTimes;
    QList<double> panValues;
    if (!db->loadEnvelopePoints(id, times, values) || !db->loadPanEnvelopePoints(id, panTimes, panValues)) {
        qWarning() << "Cue::loadFromDatabase - Failed to load cue:" << id;
        m_isLoading = false;
        return false;
    }
    assignStoredEnvelopes(times, values);
    assignStoredPanEnvelope(panTimes, panValues);
    m_isDirty = false;
    m_isLoading = false;
    return true;
}

bool Cue::deleteFromDatabase()
{
    if (m_id < 1) {
        qWarning() << "Cue::deleteFromDatabase - Invalid id:" << m_id;
        return false;
    }
    if (!DatabaseManager::instance()->deleteCue(m_id)) {
        qWarning() << "Cue::deleteFromDatabase - Failed to delete cue:" << m_id;
        return false;
    }
    return true;
}

bool Cue::loadFromAudioFile(const QString& path)
{
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        qWarning() << "Cue::loadFromAudioFile - Invalid file path:" << path;
        return false;
    }
    setName(QFileInfo(path).fileName());
    setFilePath(path);
    setDuration(probeDurationMs(path));
    m_loopCount = 1;
    m_loopStartMs = 0;
    m_loopEndMs = m_durationMs;
    m_volumeA = 100;
    m_volumeB = 100;
    m_volumeChoose = 0;
    m_preWaitMs = 0;
    m_color.clear();
    m_remark.clear();
    m_envelopeEnabled = false;
    m_panEnvelopeEnabled = false;
    m_envelopeTimes.clear();
    m_envelopeGains.clear();
    m_panEnvelopeTimes.clear();
    m_panEnvelopePositions.clear();
    m_waveform.clear();
    m_isDirty = true;
    return true;
}

// ---------------------------------------------------------------------------
// Playlist membership

bool Cue::addToPlaylist(int playlistId, int position)
{
    if (m_id < 1) {
        qWarning() << "Cue::addToPlaylist - Invalid cue id:" << m_id;
        return false;
    }
    if (playlistId < 1) {
        qWarning() << "Cue::addToPlaylist - Invalid playlist id:" << playlistId;
        return false;
    }
    DatabaseManager* db = DatabaseManager::instance();
    // Shifting the later cues and inserting this one happen together, or the
    // playlist keeps its old order.
    DatabaseTransaction transaction(db);
    if (!transaction.isActive()) {
        qWarning() << "Cue::addToPlaylist - Failed to begin transaction";
        return false;
    }
    QList<int> ids;
    if (!db->getPlaylistSongIds(playlistId, ids)) {
        qWarning() << "Cue::addToPlaylist - Failed to load playlist songs";
        return false;
    }
    if (ids.contains(m_id))
        return transaction.commit();
    const int n = int(ids.size());
    if (position < 0 || position > n)
        position = n;
    for (int j = n - 1; j >= position; --j) {
        if (!db->updatePlaylistSongOrder(playlistId, ids[j], j + 1)) {
            qWarning() << "Cue::addToPlaylist - Failed to update order for cue" << ids[j];
            return false;
        }
    }
    if (!db->insertPlaylistSong(playlistId, m_id, position)) {
        qWarning() << "Cue::addToPlaylist - Failed to insert playlist song";
        return false;
    }
    return transaction.commit();
}

bool Cue::removeFromPlaylist(int playlistId)
{
    if (m_id < 1) {
        qWarning() << "Cue::removeFromPlaylist - Invalid cue id:" << m_id;
        return false;
    }
    if (playlistId < 1) {
        qWarning() << "Cue::removeFromPlaylist - Invalid playlist id:" << playlistId;
        return false;
    }
    if (!DatabaseManager::instance()->deletePlaylistSong(playlistId, m_id)) {
        qWarning() << "Cue::removeFromPlaylist - Failed to remove from playlist";
        return false;
    }
    return true;
}

QList<int> Cue::getPlaylistIds() const
{
    if (m_id < 1) {
        qWarning() << "Cue::getPlaylistIds - Invalid cue id:" << m_id;
        return {};
    }
    QList<int> ids;
    if (!DatabaseManager::instance()->getPlaylistIdsForSong(m_id, ids)) {
        qWarning() << "Cue::getPlaylistIds - Failed to load playlist ids";
        return {};
    }
    return ids;
}
