#include "app/LoudnessNormalizer.h"

#include "app/LoudnessGain.h"
#include "app/LoudnessScan.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"
#include "playback/CueManager.h"

#include <algorithm>

namespace {

// The gain of a cue whose loudness is being measured.
constexpr double kProvisionalGainDb = -6.0;
// Priorities: the playing or selected cue's measurement goes before the scan
// of the table, and on the pool the selected cue's waveform before the scan.
constexpr int kCurrentCueMeasurePriority = 1;
constexpr int kScanPriority = -1;
// A measurement at or below this is a failure.
constexpr double kQuietestMeasurement = -100.0;

}  // namespace

LoudnessNormalizer::LoudnessNormalizer(AudioEngine* transport, CueManager* registry, Sources sources,
                                       QObject* parent)
    : QObject(parent)
    , m_transport(transport)
    , m_registry(registry)
    , m_sources(std::move(sources))
{
}

void LoudnessNormalizer::applyGain(Cue* cue)
{
    if (!cue)
        return;
    if (!m_sources.enabled()) {
        m_transport->setLufsGain(0.0);
        m_pendingCueId = -1;
        return;
    }
    if (const auto cached = m_gainCache.constFind(cue->id()); cached != m_gainCache.constEnd()) {
        m_pendingCueId = -1;
        m_transport->setLufsGain(cached.value());
        return;
    }
    if (LoudnessGain::isMeasured(cue->lufs())) {
        const double gain = LoudnessGain::gainDb(m_sources.target(), cue->lufs());
        m_gainCache.insert(cue->id(), gain);
        m_pendingCueId = -1;
        m_transport->setLufsGain(gain);
        return;
    }
    // Not measured yet: a safe level until its own gain is known.
    if (m_pendingCueId == cue->id())
        return;
    m_pendingCueId = cue->id();
    m_transport->setLufsGain(kProvisionalGainDb);
    measureCue(cue);
}

void LoudnessNormalizer::measureCue(Cue* cue)
{
    // One measurement per cue at a time; the scan's result serves as well,
    // unless the scan has not come to the cue yet: then it is measured now.
    const int id = cue->id();
    if (m_measuringIds.contains(id))
        return;
    if (m_scan && m_scan->isMeasuring(id) && !m_scan->takeWaiting(id))
        return;
    for (const LoudnessScan* scan : std::as_const(m_retiring))
        if (scan->isMeasuring(id))
            return;
    m_measuringIds.insert(id);
    auto* task = new LoudnessScan(0, kCurrentCueMeasurePriority, this);
    connect(task, &LoudnessScan::cueMeasured, this, &LoudnessNormalizer::onMeasured);
    connect(task, &LoudnessScan::finished, task, &QObject::deleteLater);
    task->start({{id, cue->filePath()}});
}

void LoudnessNormalizer::onCueSelected(Cue* cue)
{
    // Only ahead of a running scan: selecting measures nothing by itself.
    if (!cue || !m_scan || !m_sources.enabled() || m_gainCache.contains(cue->id()))
        return;
    if (!LoudnessGain::isMeasured(cue->lufs()) && m_scan->isMeasuring(cue->id()))
        measureCue(cue);
}

void LoudnessNormalizer::startScan()
{
    stopScan();
    launchScan(m_sources.shownCues());
}

void LoudnessNormalizer::scanShownTable()
{
    retireScan();
    launchScan(m_sources.shownCues());
}

void LoudnessNormalizer::retireScan()
{
    if (!m_scan)
        return;
    // What it waits for is dropped. The measurements it started end and are
    // kept (a cue's loudness does not depend on the target or the table), so
    // no cue is measured twice.
    m_scan->dropWaiting();
    m_retiring.append(m_scan);
    m_scan = nullptr;
}

bool LoudnessNormalizer::isScanning(int cueId) const
{
    if (m_scan && m_scan->isMeasuring(cueId))
        return true;
    for (const LoudnessScan* scan : m_retiring)
        if (scan->isMeasuring(cueId))
            return true;
    return false;
}

void LoudnessNormalizer::launchScan(const QList<Cue*>& shown)
{
    if (shown.isEmpty())
        return;
    // The cue that plays, then the one the operator looks at, then the table.
    QList<Cue*> order;
    for (Cue* first : {m_registry->getCurrentCue(), m_sources.selectedCue()})
        if (first && shown.contains(first) && !order.contains(first))
            order.append(first);
    for (Cue* cue : shown)
        if (cue && !order.contains(cue))
            order.append(cue);

    const int target = m_sources.target();
    QList<LoudnessScan::Item> items;
    for (Cue* cue : std::as_const(order)) {
        if (m_gainCache.contains(cue->id()))
            continue;
        const double stored = cue->lufs();
        if (LoudnessGain::isMeasured(stored)) {
            m_gainCache.insert(cue->id(), stored > kQuietestMeasurement ? LoudnessGain::gainDb(target, stored) : 0.0);
            continue;
        }
        if (!m_measuringIds.contains(cue->id()) && !isScanning(cue->id()))
            items.append({cue->id(), cue->filePath()});
    }
    if (items.isEmpty())
        return;

    // Each scan has its own id: its reports are told from others'.
    auto* scan = new LoudnessScan(++m_scanCount, kScanPriority, this);
    m_scan = scan;
    connect(scan, &LoudnessScan::cueMeasured, this, &LoudnessNormalizer::onMeasured);
    connect(scan, &LoudnessScan::finished, this, [this, scan] {
        if (m_scan == scan)
            m_scan = nullptr;
        m_retiring.removeOne(scan);
        scan->deleteLater();
    });
    scan->start(items);
}

void LoudnessNormalizer::stopScan()
{
    retireScan();
    m_gainCache.clear();
    // The next applyGain sets the provisional gain again.
    m_pendingCueId = -1;
}

void LoudnessNormalizer::onMeasured(int scanId, int cueId, const QString& filePath, double lufs)
{
    const bool fromScan = scanId != 0;
    const auto isScan = [scanId](const LoudnessScan* scan) { return scan && scan->id() == scanId; };
    if (fromScan && !isScan(m_scan) && std::none_of(m_retiring.cbegin(), m_retiring.cend(), isScan))
        return;
    if (!fromScan)
        m_measuringIds.remove(cueId);

    Cue* cue = m_registry->getCue(cueId);
    if (cue && cue->filePath() != filePath) {
        // The cue got another file meanwhile: this loudness is not its own.
        if (m_pendingCueId == cueId)
            m_pendingCueId = -1;
        if (cue == m_registry->getCurrentCue())
            applyGain(cue);
        return;
    }
    const bool measured = lufs > kQuietestMeasurement;
    if (measured) {
        if (cue)
            cue->setLufs(lufs);
        DatabaseManager::instance()->updateCueField(cueId, QStringLiteral("lufs"), lufs);
    }
    if (m_pendingCueId == cueId)
        m_pendingCueId = -1;
    // Switched off meanwhile: the measurement is kept, no gain is applied.
    if (!m_sources.enabled())
        return;
    if (measured)
        m_gainCache.insert(cueId, LoudnessGain::gainDb(m_sources.target(), lufs));
    else if (fromScan)
        m_gainCache.insert(cueId, 0.0);
    // A failed measurement of its own leaves the playing cue at the
    // provisional gain; it is measured again when it next becomes current.
    // A gain that lands while the cue sounds is ramped by the transport.
    const Cue* current = m_registry->getCurrentCue();
    if (current && current->id() == cueId && m_gainCache.contains(cueId))
        m_transport->setLufsGain(m_gainCache.value(cueId));
}

void LoudnessNormalizer::prefillGains()
{
    if (!m_sources.enabled())
        return;
    const int target = m_sources.target();
    for (Cue* cue : m_sources.shownCues()) {
        if (cue && !m_gainCache.contains(cue->id()) && LoudnessGain::isMeasured(cue->lufs()))
            m_gainCache.insert(cue->id(), LoudnessGain::gainDb(target, cue->lufs()));
    }
}

void LoudnessNormalizer::recomputeGains(int target)
{
    for (Cue* cue : m_sources.shownCues()) {
        if (cue && LoudnessGain::isMeasured(cue->lufs()))
            m_gainCache.insert(cue->id(), LoudnessGain::gainDb(target, cue->lufs()));
    }
    // Gains worked out for cues of other playlists follow the target too:
    // the playing cue need not be in the table.
    for (auto it = m_gainCache.begin(); it != m_gainCache.end(); ++it) {
        const Cue* cue = m_registry->getCue(it.key());
        if (cue && LoudnessGain::isMeasured(cue->lufs()) && cue->lufs() > kQuietestMeasurement)
            it.value() = LoudnessGain::gainDb(target, cue->lufs());
    }
}
