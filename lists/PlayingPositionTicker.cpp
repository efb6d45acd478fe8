#include "lists/PlayingPositionTicker.h"

#include "lists/SongTableModel.h"
#include "playback/CueManager.h"

#include <QTimer>

PlayingPositionTicker::PlayingPositionTicker(CueManager* registry, SongTableModel* model, QObject* parent)
    : QObject(parent)
    , m_registry(registry)
    , m_model(model)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &PlayingPositionTicker::onTick);
    connect(m_registry, &CueManager::playbackStateChanged, this, &PlayingPositionTicker::onPlaybackStateChanged);
    // A cue that follows another may start without the state changing.
    connect(m_registry, &CueManager::currentCueChanged, this,
            [this] { onPlaybackStateChanged(m_registry->isPlaying()); });
    onPlaybackStateChanged(m_registry->isPlaying());
}

void PlayingPositionTicker::onPlaybackStateChanged(bool playing)
{
    if (playing && !m_timer->isActive())
        m_timer->start();
}

void PlayingPositionTicker::onTick()
{
    Cue* cue = m_registry->getCurrentCue();
    if (!cue || !m_registry->isPlaying()) {
        // Paused or stopped: the position shown stays where it was.
        m_timer->stop();
        return;
    }
    if (m_model->rowOfCue(cue) >= 0)
        m_model->setPosition(cue, m_registry->getCurrentPosition());
}
