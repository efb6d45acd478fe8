#pragma once

#include <QObject>

class CueManager;
class QTimer;
class SongTableModel;

// Shows the playing cue's position in the table: ten times a second while a
// cue plays, and not at all otherwise, so that an idle window sleeps.
// GUI thread only.
class PlayingPositionTicker : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 100;

    PlayingPositionTicker(CueManager* registry, SongTableModel* model, QObject* parent = nullptr);

private Q_SLOTS:
    void onPlaybackStateChanged(bool playing);
    void onTick();

private:
    CueManager* m_registry;
    SongTableModel* m_model;
    QTimer* m_timer;
};
