#pragma once

#include <QObject>
#include <QString>

#include <memory>

class PulseAudioOutput;

// Opens a PulseAudio output stream on a worker thread: connecting, finding
// the sink and waiting for the stream to be ready can each take seconds when
// the server is slow or hangs, and the GUI thread must not wait for that.
// The stream comes back corked, with no render callback yet, through
// opened() on the thread that owns the opener.
//
// One open counts at a time: a new open() or a cancel() drops the result of
// the one under way (its thread finishes on its own and closes what it
// opened). Nothing of an open reaches an opener that has been destroyed.
class OutputOpener : public QObject {
    Q_OBJECT

public:
    explicit OutputOpener(QObject* parent = nullptr);
    ~OutputOpener() override;

    // sinkDescription: empty for the server's default; a sink that is not
    // there (any more) falls back to the default.
    void open(const QString& sinkDescription);
    void cancel();
    bool isOpening() const { return m_opening; }

Q_SIGNALS:
    // output is null when nothing could be opened; error says why.
    void opened(std::shared_ptr<PulseAudioOutput> output, const QString& error);

private Q_SLOTS:
    // Posted by the open's thread once its result waits in the shared state.
    void takeResult();

private:
    struct Shared;
    // With the shared mutex held.
    void dropResultLocked();

    std::shared_ptr<Shared> m_shared;
    quint64 m_generation = 0;
    bool m_opening = false;
};
