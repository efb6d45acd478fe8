#pragma once

#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "playback/CueManager.h"
#include "waveform/WaveformWidget.h"

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include <memory>

// A waveform view of a fixed size (1000 x 100 px) on a stored cue, and the
// mouse and wheel events the tests send to it.
//
// With the default 100 s cue the full view maps 100 ms to one pixel; the
// value band runs from y 10 (gain 1, pan left) to y 86 (gain 0, pan right),
// and the loop handles sit around y 88.
class WaveformViewFixture {
public:
    static constexpr int kWidth = 1000;
    static constexpr int kHeight = 100;
    static constexpr int kHandleY = kHeight - 12;

    QTemporaryDir dir;
    std::unique_ptr<Cue> cue;
    std::unique_ptr<WaveformWidget> view;

    static bool initDatabase(const QTemporaryDir& dir)
    {
        if (!DatabaseManager::instance()->initialize(dir.filePath("waveform.db")))
            return false;
        CueManager::instance();  // the registry the view asks for the playing cue
        return true;
    }

    static void shutdownRegistry() { CueManager::instance()->shutdown(); }

    QString placeholder(const QString& fileName)
    {
        const QString path = dir.filePath(fileName);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("RIFF");
        return path;
    }

    // A stored cue with flat peaks of 0.5; loopEnd 0 leaves the whole file.
    Cue* makeCue(qint64 durationMs = 100000, qint64 loopStart = 0, qint64 loopEnd = 0, bool fileExists = true)
    {
        const QString path = fileExists ? placeholder("song.wav") : dir.filePath("gone.wav");
        cue = std::make_unique<Cue>(-1, QStringLiteral("song.wav"), path);
        cue->setDuration(durationMs);
        cue->setColor(QStringLiteral("#4a5a6a"));
        cue->setWaveform(QList<float>(2000, 0.5f));
        if (loopEnd > 0)
            cue->setLoopRange(loopStart, loopEnd, true);
        cue->saveToDatabase(false);
        return cue.get();
    }

    WaveformWidget* makeView(Cue* shown)
    {
        view = std::make_unique<WaveformWidget>();
        view->setFixedSize(kWidth, kHeight);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            return nullptr;
        view->setCue(shown);
        return view.get();
    }

    // The cue as the database holds it now.
    std::unique_ptr<Cue> stored() const
    {
        auto copy = std::make_unique<Cue>();
        copy->loadFromDatabase(cue->id());
        return copy;
    }

    static void press(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
                      Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mousePress(w, button, modifiers, pos);
    }

    static void release(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
                        Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseRelease(w, button, modifiers, pos);
    }

    // QTest moves carry no modifiers; Shift drags need them.
    static void move(QWidget* w, QPoint pos, Qt::MouseButtons buttons = Qt::LeftButton,
                     Qt::KeyboardModifiers modifiers = {})
    {
        QMouseEvent event(QEvent::MouseMove, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::NoButton, buttons,
                          modifiers);
        QApplication::sendEvent(w, &event);
    }

    // Press, move there in a few steps, release.
    static void drag(QWidget* w, QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton,
                     Qt::KeyboardModifiers modifiers = {}, int steps = 4)
    {
        press(w, from, button, modifiers);
        for (int i = 1; i <= steps; ++i)
            move(w, from + (to - from) * i / steps, button, modifiers);
        release(w, to, button, modifiers);
    }

    // As a real double click arrives: press, release, double click, release.
    static void doubleClick(QWidget* w, QPoint pos, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mousePress(w, Qt::LeftButton, modifiers, pos);
        QTest::mouseRelease(w, Qt::LeftButton, modifiers, pos);
        QTest::mouseDClick(w, Qt::LeftButton, modifiers, pos);
        QTest::mouseRelease(w, Qt::LeftButton, modifiers, pos);
    }

    // A wheel event; phase other than NoScrollPhase marks a touchpad gesture.
    static bool wheel(QWidget* w, QPoint pos, QPoint angleDelta, Qt::KeyboardModifiers modifiers = {},
                      Qt::ScrollPhase phase = Qt::NoScrollPhase)
    {
        QWheelEvent event(QPointF(pos), w->mapToGlobal(QPointF(pos)), QPoint(), angleDelta, Qt::NoButton,
                          modifiers, phase, false);
        QApplication::sendEvent(w, &event);
        return event.isAccepted();
    }
};
