#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

class DatabaseManager;
class QStatusBar;

// Shows in the status bar that something could not be saved, with the
// reason, once per burst of failures: a failure within kBurstGapMs of the
// previous one belongs to the same burst and shows nothing new.
class SaveFailureNotice : public QObject {
    Q_OBJECT

public:
    static constexpr int kBurstGapMs = 5000;
    static constexpr int kDisplayMs = 5000;

    SaveFailureNotice(DatabaseManager* database, QStatusBar* statusBar, QObject* parent = nullptr,
                      int burstGapMs = kBurstGapMs);

    // The status-bar text for a failure with SQLite's result code.
    static QString message(const QString& error, int code);

public Q_SLOTS:
    void onWriteFailed(const QString& error, int code);

private:
    QPointer<QStatusBar> m_statusBar;
    QElapsedTimer m_sinceLastFailure;
    int m_burstGapMs;
};
