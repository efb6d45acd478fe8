#pragma once

#include <QFileDevice>
#include <QList>
#include <QPair>
#include <QString>

// Why a file could not be written into a folder, in the operator's words:
// "磁盘已满", "没有写入权限", or the system's own text.
class WriteFailureReason {
public:
    static QString diskFull() { return QStringLiteral("磁盘已满"); }
    static QString noPermission() { return QStringLiteral("没有写入权限"); }

    // folder: where the file was to go; error and errorText: what the file
    // reported, when known; neededBytes: the size of what was to be written
    // (a disk with less room is full even after the partial file is gone).
    static QString describe(const QString& folder, QFileDevice::FileError error = QFileDevice::NoError,
                            const QString& errorText = QString(), qint64 neededBytes = -1);

    // The reasons of the failures of one export, counted, for its summary.
    class Tally {
    public:
        void add(const QString& reason);
        bool isEmpty() const { return m_reasons.isEmpty(); }
        // "失败原因：磁盘已满（2 个）；音频文件不存在（1 个）", or empty.
        QString text() const;

    private:
        QList<QPair<QString, int>> m_reasons;  // in the order first met
    };
};
