#pragma once

#include "FakePlaybackEngine.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/AudioEngine.h"

#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// A transport driving a FakePlaybackEngine, stored cues on placeholder files
// (the fake never reads them) and helpers that run the transport's timers by
// hand.
class TransportFixture {
public:
    QTemporaryDir dir;
    FakePlaybackEngine* fake = nullptr;
    std::unique_ptr<AudioEngine> transport;

    static bool initDatabase(const QTemporaryDir& dir)
    {
        return DatabaseManager::instance()->initialize(dir.filePath("transport.db"));
    }

    void reset()
    {
        transport.reset();
        fake = new FakePlaybackEngine();
        transport = std::make_unique<AudioEngine>(fake);
    }

    QString placeholder(const QString& fileName)
    {
        const QString path = dir.filePath(fileName);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("RIFF");
        return path;
    }

    // A stored cue; loopEnd 0 leaves the region unset (the whole file).
    Cue* makeCue(const QString& name, qint64 durationMs, qint64 loopStart = 0, qint64 loopEnd = 0,
                 int loopCount = 1, bool fileExists = true)
    {
        const QString path = dir.filePath(name + ".wav");
        if (fileExists)
            placeholder(name + ".wav");
        else
            QFile::remove(path);
        auto cue = std::make_unique<Cue>(-1, name, path);
        cue->setDuration(durationMs);
        cue->setColor("#4a5a6a");
        cue->setLoopCount(loopCount);
        cue->saveToDatabase(false);
        if (loopEnd > 0)
            cue->setLoopRange(loopStart, loopEnd, false);
        cues.push_back(std::move(cue));
        return cues.back().get();
    }

    static void tick(AudioEngine* transport)
    {
        QMetaObject::invokeMethod(transport, "onLoopCheckTimer", Qt::DirectConnection);
    }
    void tick() { tick(transport.get()); }
    void fadeStep() { QMetaObject::invokeMethod(transport.get(), "onPauseFadeTimer", Qt::DirectConnection); }
    // Plays ms of audio and runs one loop check.
    void run(qint64 ms = 50)
    {
        fake->advance(ms);
        tick();
    }

    std::vector<std::unique_ptr<Cue>> cues;
};
