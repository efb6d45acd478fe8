#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects the log lines written while it exists, for tests that check what
// was logged (and how often).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    int count(const QString& fragment) const;  // lines containing fragment
    bool contains(const QString& fragment) const { return count(fragment) > 0; }
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);
    QtMessageHandler m_previous = nullptr;
};
