#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class BatchCue;
class Cue;

// One edit of a multi-selection in the settings bar: the pending batch, the
// cues it reaches (the selection as last seen) and whether each of the two
// cue volumes is shared by them. Every edit of the batch reaches all its cues
// at once, in one database transaction.
class BatchEditSession : public QObject {
    Q_OBJECT

public:
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

    // Applies the batch once more, to its own cues only; returns how many
    // cues it handled.
    int finish();

Q_SIGNALS:
    // The batch reached its cues after an edit; the count they were.
    void applied(int cueCount);

private:
    int applyToCues();
    // Whether the cues share the group's volume, and that volume.
    bool sharedVolume(int group, int* volume) const;

    BatchCue* m_batch = nullptr;
    QList<QPointer<Cue>> m_cues;
    bool m_volumeAUniform = true;
    bool m_volumeBUniform = true;
};
