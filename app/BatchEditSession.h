#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class BatchCue;
class Cue;
class QTimer;

// One edit of a multi-selection in the settings bar: the pending batch, the
// cues it reaches (the selection as last seen) and whether each of the two
// cue volumes is shared by them. Every edit of the batch reaches all its cues
// at once; storing them follows shortly after the edits pause, a few cues per
// pass of the event loop, so dragging a volume bar over a large selection
// never holds up the window. Nothing is left unsaved: finish() and the
// destructor store whatever is still pending.
class BatchEditSession : public QObject {
    Q_OBJECT

public:
    // How long the edits must pause before the cues are stored.
    static constexpr int kSaveDelayMs = 250;
    // Cues stored per pass of the event loop, in one transaction: ten cues
    // with their envelope points take a few ms even on a small machine, so a
    // pass stays well inside one 16 ms frame of the window.
    static constexpr int kSaveChunk = 10;

    // Starts with the selection's shared volumes as the batch's volumes.
    explicit BatchEditSession(const QList<Cue*>& selection, QObject* parent = nullptr);
    ~BatchEditSession() override;

    BatchCue* batch() const { return m_batch; }
    // The cues of the batch that still exist.
    QList<Cue*> cues() const;

    // The selection changed while the batch lasts: the edits made so far
    // reach the newly selected cues too. An empty selection changes nothing.
    void setSelection(const QList<Cue*>& selection);

    // Group 0 is volume A, group 1 volume B.
    bool isVolumeUniform(int group) const { return group == 0 ? m_volumeAUniform : m_volumeBUniform; }
    void setVolumeUniform(int group, bool uniform);
    // Looks again at whether the cues share the group's volume.
    void recheckVolumeUniform(int group);

    // Makes the group the chosen volume of every cue; the levels themselves
    // reach the cues through the bars' own edits.
    void chooseVolumeGroup(int group);

    // Applies the batch once more, to its own cues only, and stores every
    // cue it reached; returns how many cues of the batch it handled.
    int finish();

    // Stores at once every cue the batch has changed and not stored yet.
    void saveNow();
    bool hasUnsavedCues() const { return !m_unsaved.isEmpty(); }

Q_SIGNALS:
    // The batch reached its cues after an edit; the count they were.
    void applied(int cueCount);

private:
    int applyToCues();
    void saveChunk();
    // Whether the cues share the group's volume, and that volume.
    bool sharedVolume(int group, int* volume) const;

    BatchCue* m_batch = nullptr;
    QList<QPointer<Cue>> m_cues;
    // Cues changed by the batch and not stored yet, guarded against deletion.
    QHash<Cue*, QPointer<Cue>> m_unsaved;
    QTimer* m_saveTimer = nullptr;
    bool m_volumeAUniform = true;
    bool m_volumeBUniform = true;
};
