#pragma once

#include <QObject>

class Cue;

// What the transport needs from the track list: a way to have the peaks of a
// cue parsed in the background when it starts a cue that has none. The track
// list's parse queue implements it. The transport holds it through a guarded
// pointer: the main window deletes the track list before the transport (a
// process-wide object) goes away.
class WaveformParseRequester : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    virtual void enqueueWaveformParse(Cue* cue, bool priority) = 0;
};
