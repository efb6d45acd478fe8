#pragma once

#include <QString>
#include <QtGlobal>

// Length of an audio file in milliseconds as the playback engine will hear
// it (44100 Hz stereo output), taken from the container without decoding
// audio. 0 when the file is missing or cannot be opened. Keeps no state; safe
// on any thread.
qint64 probeDurationMs(const QString& filePath);

// Opens the file like the engine and decodes all of it. False with a reason
// when it is unusable: it cannot be opened, reading fails part-way, nothing
// decodes, or the data ends well before the length the file declares (a cut
// file). Takes as long as a whole decode (about a second for an hour of
// MP3): call it off the GUI thread.
bool validateAudioFile(const QString& filePath, QString* reason = nullptr);
