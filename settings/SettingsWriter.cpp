#include "settings/SettingsWriter.h"

#include "platform/UnseenByThreadSanitizer.h"

#include <QCoreApplication>
#include <QHash>
#include <QSettings>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace {

class Writer {
public:
    static Writer& instance()
    {
        static Writer writer;
        return writer;
    }

    void write(const QString& key, const QVariant& value)
    {
        m_handedOver.insert(key, value);
        if (!QCoreApplication::instance()) {
            QSettings().setValue(key, value);  // nothing would wait for the thread at the end
            return;
        }
        std::lock_guard lock(m_mutex);
        if (m_stopped) {
            QSettings().setValue(key, value);
            return;
        }
        if (!m_thread.joinable())
            startSettingsFileThread();
        m_pending.insert(key, value);
        m_wake.notify_one();
    }

    bool writeIfChanged(const QString& key, const QVariant& value)
    {
        auto known = m_handedOver.constFind(key);
        QVariant previous = known != m_handedOver.constEnd() ? *known : QVariant();
        // The stored value is read only while the thread is idle (as at
        // start): during its write of another key the read would wait for
        // that write's flush to disk. Only this thread hands work over, so
        // idle stays idle until the read is done.
        if (known == m_handedOver.constEnd() && idle()) {
            previous = QSettings().value(key);
            m_handedOver.insert(key, previous);
        }
        if (previous.isValid() && previous.toString() == value.toString())
            return false;
        write(key, value);
        return true;
    }

    bool idle()
    {
        std::lock_guard lock(m_mutex);
        return idleLocked();
    }

    bool idleLocked() const { return m_pending.isEmpty() && !m_writing; }

    void flush()
    {
        {
            std::unique_lock lock(m_mutex);
            m_idle.wait(lock, [this] { return idleLocked(); });
        }
        // All on disk: what is stored is the truth again, whoever else wrote it.
        m_handedOver.clear();
    }

    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
            m_wake.notify_one();
        }
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    ~Writer() { stop(); }

    void startSettingsFileThread()
    {
        // The names QSettings() would use, read here: the thread may still
        // write while the application object is going.
        m_organization = QCoreApplication::organizationName();
        m_application = QCoreApplication::applicationName();
        m_format = QSettings::defaultFormat();
        m_thread = std::thread([this] { run(); });
        qAddPostRoutine([] { instance().stop(); });
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopped || !m_pending.isEmpty(); });
            if (m_pending.isEmpty())
                return;  // stopped, with nothing left to write
            const QHash<QString, QVariant> batch = std::exchange(m_pending, {});
            m_writing = true;
            lock.unlock();
            {
                // QSettings shares the file's state between its objects on
                // all threads, under a lock inside QtCore that the sanitizer
                // cannot see: only the GUI thread's side is checked.
                const UnseenByThreadSanitizer unseen;
                QSettings settings(m_format, QSettings::UserScope, m_organization, m_application);
                for (auto it = batch.constBegin(); it != batch.constEnd(); ++it)
                    settings.setValue(it.key(), it.value());
            }  // written to disk here
            lock.lock();
            m_writing = false;
            if (m_pending.isEmpty())
                m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    QHash<QString, QVariant> m_pending;
    bool m_writing = false;
    bool m_stopped = false;
    std::thread m_thread;
    QString m_organization;
    QString m_application;
    QSettings::Format m_format = QSettings::NativeFormat;
    // What the GUI thread handed over, for writeIfChanged; only it uses this.
    QHash<QString, QVariant> m_handedOver;
};

}  // namespace

void SettingsWriter::write(const QString& key, const QVariant& value)
{
    Writer::instance().write(key, value);
}

bool SettingsWriter::writeIfChanged(const QString& key, const QVariant& value)
{
    return Writer::instance().writeIfChanged(key, value);
}

void SettingsWriter::flush()
{
    Writer::instance().flush();
}
