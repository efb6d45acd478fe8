#include "app/BatchEditSession.h"

#include "model/BatchCue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"

namespace {

int volumeOf(const Cue* cue, int group)
{
    return group == 0 ? cue->volumeA() : cue->volumeB();
}

}  // namespace

BatchEditSession::BatchEditSession(const QList<Cue*>& selection, QObject* parent)
    : QObject(parent)
    , m_batch(new BatchCue(this))
{
    for (Cue* cue : selection) {
        if (cue)
            m_cues.append(cue);
    }
    int volume = 0;
    m_volumeAUniform = sharedVolume(0, &volume);
    if (m_volumeAUniform && !m_cues.isEmpty())
        m_batch->volumeA = volume;
    m_volumeBUniform = sharedVolume(1, &volume);
    if (m_volumeBUniform && !m_cues.isEmpty())
        m_batch->volumeB = volume;

    connect(m_batch, &BatchCue::dataChanged, this, [this] { Q_EMIT applied(applyToCues()); });
}

BatchEditSession::~BatchEditSession() = default;

QList<Cue*> BatchEditSession::cues() const
{
    QList<Cue*> alive;
    for (const QPointer<Cue>& cue : m_cues) {
        if (cue)
            alive.append(cue);
    }
    return alive;
}

bool BatchEditSession::sharedVolume(int group, int* volume) const
{
    const QList<Cue*> all = cues();
    if (all.isEmpty())
        return true;
    *volume = volumeOf(all.first(), group);
    for (const Cue* cue : all) {
        if (volumeOf(cue, group) != *volume)
            return false;
    }
    return true;
}

int BatchEditSession::applyToCues()
{
    const QList<Cue*> targets = cues();
    if (targets.isEmpty())
        return 0;
    // One commit for the whole selection instead of one per cue.
    DatabaseTransaction transaction(DatabaseManager::instance());
    const int handled = m_batch->applyTo(targets);
    transaction.commit();
    return handled;
}

void BatchEditSession::setSelection(const QList<Cue*>& selection)
{
    QList<QPointer<Cue>> cues;
    for (Cue* cue : selection) {
        if (cue)
            cues.append(cue);
    }
    if (cues.isEmpty())
        return;
    m_cues = cues;
    applyToCues();

    // A volume edited in the batch is now shared by every cue; otherwise
    // the new selection decides.
    int volume = 0;
    m_volumeAUniform = m_batch->volumeAModified || sharedVolume(0, &volume);
    if (!m_batch->volumeAModified && m_volumeAUniform)
        m_batch->volumeA = volume;
    m_volumeBUniform = m_batch->volumeBModified || sharedVolume(1, &volume);
    if (!m_batch->volumeBModified && m_volumeBUniform)
        m_batch->volumeB = volume;
}

void BatchEditSession::setVolumeUniform(int group, bool uniform)
{
    (group == 0 ? m_volumeAUniform : m_volumeBUniform) = uniform;
}

void BatchEditSession::recheckVolumeUniform(int group)
{
    int volume = 0;
    setVolumeUniform(group, sharedVolume(group, &volume));
}

void BatchEditSession::chooseVolumeGroup(int group)
{
    m_batch->volumeChoose = group == 1 ? 1 : 0;
    m_batch->volumeChooseModified = true;
    Q_EMIT m_batch->dataChanged();
}

int BatchEditSession::finish()
{
    return applyToCues();
}
