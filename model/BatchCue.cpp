#include "model/BatchCue.h"

#include "model/Cue.h"

BatchCue::BatchCue(QObject* parent)
    : QObject(parent)
{
}

int BatchCue::applyTo(const QList<Cue*>& cues, bool save)
{
    int handled = 0;
    for (Cue* cue : cues) {
        if (!cue || cue->durationMs() == 0)
            continue;

        if (loopCountModified)
            cue->setLoopCount(infiniteLoop ? 0 : loopCount);
        if (preWaitModified)
            cue->setPreWait(preWaitMs);
        if (fadeEnabledModified)
            cue->setFadeEnabled(fadeEnabled);

        if (fadeEnabled && (fadeInModified || fadeOutModified)) {
            // Fades must fit the part of the file that plays.
            const qint64 room = (cue->loopEndMs() >= 1 && cue->loopEndMs() <= cue->durationMs())
                ? cue->loopEndMs() - cue->loopStartMs()
                : cue->durationMs() - cue->loopStartMs();
            const qint64 fadeIn = fadeInModified ? fadeInMs : cue->fadeInMs();
            const qint64 fadeOut = fadeOutModified ? fadeOutMs : cue->fadeOutMs();
            if (fadeIn + fadeOut <= room)
                cue->setFadeDurations(fadeIn, fadeOut);
        }

        if (volumeAModified)
            cue->setVolumeA(volumeA);
        if (volumeBModified)
            cue->setVolumeB(volumeB);
        if (volumeChooseModified)
            cue->setVolumeChoose(volumeChoose);
        if (colorModified)
            cue->setColor(color.isValid() ? color.name() : QString());

        ++handled;
        if (save)
            cue->saveToDatabase(true);
    }
    return handled;
}
