#pragma once

#include <QString>
#include <QtGlobal>

// Length of an audio file in milliseconds as the playback engine will hear
// it (44100 Hz stereo output), taken from the container without decoding
// audio. 0 when the file is missing or cannot be opened. Keeps no state; safe
// on any thread.
qint64 probeDurationMs(const QString& filePath);

// Opens the file like the engine and decodes up to 1024 frames. False with a
// reason when it is unusable.
bool validateAudioFile(const QString& filePath, QString* reason = nullptr);
