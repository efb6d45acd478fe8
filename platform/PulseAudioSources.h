#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A program that has a playback stream on the sound server.
struct AudioSessionProcess {
    QString name;     // the executable's name, as the server reports it ("firefox")
    quint32 pid = 0;  // its process id
};

// What the sound server offers to record from.
struct RecordingSourceList {
    bool serverReachable = false;
    // Descriptions of the capture sources, monitors of outputs left out, in
    // the server's order.
    QStringList captureDevices;
    // Programs with a playback stream, playing or corked, in the server's
    // order; one entry per name (the first stream's process id wins).
    QList<AudioSessionProcess> applications;
};

// Reads the capture sources and the playing programs from the PulseAudio
// server (also PipeWire's pulse server) in one short connection. It blocks
// until the server answers or timeoutMs has passed, so it belongs on a worker
// thread. It never starts a sound server.
namespace PulseAudioSources {

// excludedPid: this program, whose own streams are not offered.
RecordingSourceList query(quint32 excludedPid, int timeoutMs = 2000);

}  // namespace PulseAudioSources
