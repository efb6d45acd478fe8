#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <unistd.h>

// A folder that takes no writes, or one on a tiny file system that fills up:
// as root a tmpfs of its own is mounted there (read-only after filling, or
// small); otherwise a read-only folder is made by its permissions. A full
// disk needs the mount: usable() is false where it cannot be had.
class LimitedFolder {
public:
    enum class Kind { ReadOnly, Full };

    // fill: called with the folder's path while it still takes writes.
    template <typename Fill>
    LimitedFolder(Kind kind, qint64 bytes, Fill fill)
    {
        if (!m_parent.isValid())
            return;
        m_path = m_parent.filePath(QStringLiteral("limited"));
        QDir().mkpath(m_path);
        if (::geteuid() == 0) {
            m_mounted = run({"-t", "tmpfs", "-o", QStringLiteral("size=%1").arg(bytes), "tmpfs", m_path});
            if (!m_mounted && kind == Kind::Full)
                return;
        } else if (kind == Kind::Full) {
            return;
        }
        fill(m_path);
        if (kind == Kind::ReadOnly) {
            if (m_mounted)
                m_usable = run({"-o", "remount,ro", m_path});
            else
                m_usable = QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ExeOwner);
        } else {
            m_usable = true;
        }
    }

    ~LimitedFolder()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_path});
        else if (!m_path.isEmpty())
            QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    LimitedFolder(const LimitedFolder&) = delete;
    LimitedFolder& operator=(const LimitedFolder&) = delete;

    bool usable() const { return m_usable; }
    QString path() const { return m_path; }
    QString filePath(const QString& name) const { return m_path + QLatin1Char('/') + name; }

    // Writes a file of zeros until the file system refuses more.
    static void fillUp(const QString& folder)
    {
        QFile filler(folder + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly))
            return;
        const QByteArray block(4096, '\0');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }

private:
    static bool run(const QStringList& arguments)
    {
        return QProcess::execute(QStringLiteral("mount"), arguments) == 0;
    }

    QTemporaryDir m_parent;
    QString m_path;
    bool m_mounted = false;
    bool m_usable = false;
};
