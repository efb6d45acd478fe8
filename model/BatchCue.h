#pragma once

#include <QColor>
#include <QList>
#include <QObject>

class Cue;

// One edit of the cue settings bar for a multi-selection: a pending value per
// setting, each applied only when its flag is set.
class BatchCue : public QObject {
    Q_OBJECT

public:
    explicit BatchCue(QObject* parent = nullptr);

    bool infiniteLoop = true;
    int loopCount = 1;
    int preWaitMs = 0;
    bool fadeEnabled = false;
    qint64 fadeInMs = 1000;
    qint64 fadeOutMs = 1000;
    int volumeA = 50;
    int volumeB = 50;
    int volumeChoose = 0;
    QColor color;  // invalid = no colour

    bool loopCountModified = false;
    bool preWaitModified = false;
    bool fadeEnabledModified = false;
    bool fadeInModified = false;
    bool fadeOutModified = false;
    bool volumeAModified = false;
    bool volumeBModified = false;
    bool volumeChooseModified = false;
    bool colorModified = false;

    // Applies the flagged values to every cue that has a duration and saves
    // it (or, without save, leaves it marked dirty for a later save);
    // returns how many cues were handled.
    int applyTo(const QList<Cue*>& cues, bool save = true);

Q_SIGNALS:
    void dataChanged();
};
