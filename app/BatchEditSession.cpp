#include "app/BatchEditSession.h"

#include "model/BatchCue.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "model/DatabaseTransaction.h"

#include <QTimer>

namespace {

int volumeOf(const Cue* cue, int group)
{
    return group == 0 ? cue->volumeA() : cue->volumeB();
}

}  // namespace

BatchEditSession::BatchEditSession(const QList<Cue*>& selection, QObject* parent)
    : QObject(parent)
    , m_batch(new BatchCue(this))
    , m_saveTimer(new QTimer(this))
{
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(kSaveDelayMs);
    connect(m_saveTimer, &QTimer::timeout, this, &BatchEditSession::saveChunk);

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

BatchEditSession::~BatchEditSession()
{
    saveNow();
}

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
    const int handled = m_batch->applyTo(targets, false);
    for (Cue* cue : targets)
        m_unsaved.insert(cue, cue);
    m_saveTimer->start();
    return handled;
}

void BatchEditSession::saveChunk()
{
    DatabaseTransaction transaction(DatabaseManager::instance());
    int saved = 0;
    for (auto it = m_unsaved.begin(); it != m_unsaved.end() && saved < kSaveChunk;) {
        if (it.value())
            it.value()->saveToDatabase(false);
        it = m_unsaved.erase(it);
        ++saved;
    }
    transaction.commit();
    // The rest in the next pass, unless new edits restarted the wait.
    if (!m_unsaved.isEmpty() && !m_saveTimer->isActive())
        QTimer::singleShot(0, this, [this] {
            if (!m_saveTimer->isActive())
                saveChunk();
        });
}

void BatchEditSession::saveNow()
{
    m_saveTimer->stop();
    if (m_unsaved.isEmpty())
        return;
    DatabaseTransaction transaction(DatabaseManager::instance());
    for (const QPointer<Cue>& cue : std::as_const(m_unsaved)) {
        if (cue)
            cue->saveToDatabase(false);
    }
    transaction.commit();
    m_unsaved.clear();
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
    const int handled = applyToCues();
    saveNow();
    return handled;
}
