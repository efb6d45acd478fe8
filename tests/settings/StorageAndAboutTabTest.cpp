#include "settings/ScriptedPrompts.h"

#include "input/HidDeviceManager.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "settings/AboutText.h"
#include "settings/AppVersion.h"
#include "settings/SettingsPanel.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTextEdit>
#include <QtTest>

// The storage tab (database size, clearing the waveform cache, folders)
// and the about tab (version, logo, the libraries this build uses).
class StorageAndAboutTabTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void databaseSizeLabel_data();
    void databaseSizeLabel();
    void folderButtonsOpenTheDataFolder_data();
    void folderButtonsOpenTheDataFolder();
    void clearCache_data();
    void clearCache();
    void clearCacheWithDatabaseClosed();
    void versionAndLogo();
    void noticeNamesTheLibrariesOfThisBuild_data();
    void noticeNamesTheLibrariesOfThisBuild();
    void checkUpdateAndCreditsAskNothingOfTheNetwork();

private:
    void openPanel();
    QString appData() const { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }
    static int waveformRows();

    HidDeviceManager m_input{QString()};
    ScriptedPrompts m_prompts;
    QPointer<SettingsPanel> m_panel;
};

void StorageAndAboutTabTest::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Vostrand"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvelle"));
}

void StorageAndAboutTabTest::init()
{
    m_prompts = ScriptedPrompts();
}

void StorageAndAboutTabTest::cleanup()
{
    delete m_panel;
    DatabaseManager::instance()->close();
    QDir(appData()).removeRecursively();
}

void StorageAndAboutTabTest::openPanel()
{
    m_panel = new SettingsPanel(m_prompts.seams(&m_input), nullptr);
}

int StorageAndAboutTabTest::waveformRows()
{
    QSqlQuery query = DatabaseManager::instance()->execute(QStringLiteral("SELECT COUNT(*) FROM waveform_data"));
    return query.next() ? query.value(0).toInt() : -1;
}

void StorageAndAboutTabTest::databaseSizeLabel_data()
{
    QTest::addColumn<qint64>("bytes");  // -1: no file
    QTest::addColumn<QString>("shown");
    QTest::newRow("missing") << qint64(-1) << QStringLiteral("文件不存在");
    QTest::newRow("empty") << qint64(0) << QStringLiteral("0 KB");
    QTest::newRow("under a kilobyte") << qint64(1023) << QStringLiteral("0 KB");
    QTest::newRow("largest in KB") << qint64(1048575) << QStringLiteral("1023 KB");
    QTest::newRow("one megabyte") << qint64(1048576) << QStringLiteral("1.0 MB");
    QTest::newRow("3,500,000 bytes") << qint64(3500000) << QStringLiteral("3.3 MB");
    QTest::newRow("large show") << qint64(1288490189) << QStringLiteral("1228.8 MB");
}

void StorageAndAboutTabTest::databaseSizeLabel()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, shown);
    if (bytes >= 0) {
        QVERIFY(QDir().mkpath(appData()));
        QFile file(appData() + "/playlist_data.db");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(bytes));
    }
    // Journal files do not count.
    QFile wal(appData() + "/playlist_data.db-wal");
    if (bytes >= 0 && wal.open(QIODevice::WriteOnly))
        wal.resize(5 * 1024 * 1024);

    openPanel();
    QCOMPARE(m_panel->databasePath(), appData() + "/playlist_data.db");
    QCOMPARE(m_panel->findChild<QLabel*>("cacheSizeValueLabel")->text(), shown);
}

void StorageAndAboutTabTest::folderButtonsOpenTheDataFolder_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("database") << QStringLiteral("openDbDirBtn");
    QTest::newRow("log") << QStringLiteral("openLogDirBtn");
}

void StorageAndAboutTabTest::folderButtonsOpenTheDataFolder()
{
    QFETCH(QString, button);
    QVERIFY(!QDir(appData()).exists());
    openPanel();
    m_panel->findChild<QPushButton*>(button)->click();
    QCOMPARE(m_prompts.openedFolders, QList<QUrl>{QUrl::fromLocalFile(appData())});
    QVERIFY(QDir(appData()).exists());  // made when missing
}

void StorageAndAboutTabTest::clearCache_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void StorageAndAboutTabTest::clearCache()
{
    QFETCH(bool, yes);
    DatabaseManager* database = DatabaseManager::instance();
    QVERIFY(database->initialize(QString()));
    // Enough waveforms for the file to shrink visibly once they are gone.
    QList<float> peaks;
    for (int i = 0; i < 2000; ++i)
        peaks.append(float((i * 7919) % 900 + 100) / 1000.0f);
    for (int n = 0; n < 150; ++n) {
        Cue cue(-1, QStringLiteral("cue %1").arg(n), QStringLiteral("/show/cue%1.wav").arg(n));
        QVERIFY(database->insertCue(&cue));
        QVERIFY(database->saveWaveformDataCompressed(cue.id(), 2000, peaks));
    }
    database->execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    const QString cacheFolder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QVERIFY(QDir().mkpath(cacheFolder + "/peaks"));
    QFile cached(cacheFolder + "/peaks/1.bin");
    QVERIFY(cached.open(QIODevice::WriteOnly));
    cached.write("peaks");
    cached.close();

    openPanel();
    auto* sizeLabel = m_panel->findChild<QLabel*>("cacheSizeValueLabel");
    const QString sizeBefore = sizeLabel->text();
    const qint64 bytesBefore = QFileInfo(m_panel->databasePath()).size();
    QSignalSpy cleared(m_panel.data(), &SettingsPanel::cacheCleared);
    m_prompts.answers = {yes ? QMessageBox::Yes : QMessageBox::No};
    m_panel->findChild<QPushButton*>("clearCacheBtn")->click();

    QCOMPARE(m_prompts.titles(), QStringList{"清除缓存"});
    QCOMPARE(m_prompts.messages[0].text, QStringLiteral("确定要清除所有波形缓存数据吗？\n这不会删除您的音频文件和Cue数据。"));
    QCOMPARE(cleared.count(), yes ? 1 : 0);
    QCOMPARE(waveformRows(), yes ? 0 : 150);
    QCOMPARE(QFile::exists(cached.fileName()), !yes);
    QVERIFY(QDir(cacheFolder).exists());
    QCOMPARE(database->execute(QStringLiteral("SELECT COUNT(*) FROM songs")).next(), true);  // cues stay
    if (yes) {
        const qint64 bytesAfter = QFileInfo(m_panel->databasePath()).size();
        QVERIFY2(bytesAfter < bytesBefore, qPrintable(QStringLiteral("%1 -> %2").arg(bytesBefore).arg(bytesAfter)));
        QVERIFY(sizeLabel->text() != sizeBefore);
        QCOMPARE(sizeLabel->text(), bytesAfter < 1048576 ? QStringLiteral("%1 KB").arg(bytesAfter / 1024)
                                                         : QStringLiteral("%1 MB").arg(bytesAfter / 1048576.0, 0, 'f', 1));
    } else {
        QCOMPARE(sizeLabel->text(), sizeBefore);
    }
}

void StorageAndAboutTabTest::clearCacheWithDatabaseClosed()
{
    openPanel();
    QSignalSpy cleared(m_panel.data(), &SettingsPanel::cacheCleared);
    LogCapture log;
    m_panel->findChild<QPushButton*>("clearCacheBtn")->click();
    QVERIFY(log.contains(QStringLiteral("数据库连接 'playlist_db' 未打开，无法清除波形数据")));
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(m_panel->findChild<QLabel*>("cacheSizeValueLabel")->text(), QStringLiteral("文件不存在"));
}

void StorageAndAboutTabTest::versionAndLogo()
{
    // The version the operator sees is the project's, from the build.
    QCOMPARE(appVersionString(), QStringLiteral(CORVELLE_PROJECT_VERSION " (Beta)"));
    openPanel();
    QCOMPARE(m_panel->findChild<QLabel*>("appVersionLabel")->text(), "版本 " + appVersionString());
    auto* icon = m_panel->findChild<QLabel*>("appIconLabel");
    QVERIFY(!icon->pixmap().isNull());
    QCOMPARE(icon->height(), 76);
    QVERIFY(icon->pixmap().deviceIndependentSize().width() <= 100.0);
    // The contact group now holds the notice; the support group comes before it.
    auto* notice = m_panel->findChild<QTextEdit*>("noticeText");
    QVERIFY(notice);
    QVERIFY(notice->isReadOnly());
    QVERIFY(m_panel->findChild<QWidget*>("supportGroup"));
    QCOMPARE(m_panel->findChild<QGroupBox*>("contactGroup")->title(), QStringLiteral("软件版权与致谢"));
}

void StorageAndAboutTabTest::noticeNamesTheLibrariesOfThisBuild_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("licence");
    QTest::newRow("Qt") << "Qt 6" << "LGPL 3.0";
    QTest::newRow("SQLite") << "SQLite" << "公有领域";
    QTest::newRow("FFmpeg") << "FFmpeg" << "LGPL 2.1";
    QTest::newRow("SDL2") << "SDL2" << "zlib";
    QTest::newRow("libebur128") << "libebur128" << "MIT";
    QTest::newRow("LAME") << "LAME" << "LGPL 2.0";
    QTest::newRow("PulseAudio") << "PulseAudio 客户端库" << "LGPL 2.1";
    QTest::newRow("libxlsxwriter") << "libxlsxwriter" << "BSD 2-Clause";
}

void StorageAndAboutTabTest::noticeNamesTheLibrariesOfThisBuild()
{
    QFETCH(QString, library);
    QFETCH(QString, licence);
    openPanel();
    const QString notice = m_panel->findChild<QTextEdit*>("noticeText")->toPlainText();
    QString line;
    for (const QString& candidate : notice.split('\n')) {
        if (candidate.startsWith("• " + library))
            line = candidate;
    }
    QVERIFY2(line.contains(licence), qPrintable(library + ": " + line));
    QVERIFY(AboutText::creditsRichText().contains(library.toHtmlEscaped()));
    // Nothing of a build for another platform.
    for (const QString& absent : {"miniaudio", "WASAPI", "licenses/"}) {
        QVERIFY(!notice.contains(absent));
        QVERIFY(!AboutText::creditsRichText().contains(absent));
    }
    QVERIFY(notice.endsWith("软件版本：" + appVersionString()));
}

void StorageAndAboutTabTest::checkUpdateAndCreditsAskNothingOfTheNetwork()
{
    openPanel();
    m_panel->findChild<QPushButton*>("checkUpdateBtn")->click();
    m_panel->findChild<QPushButton*>("creditsBtn")->click();
    QCOMPARE(m_prompts.titles(), (QStringList{"检查更新", "版权与致谢"}));
    QVERIFY(m_prompts.messages[0].text.contains(appVersionString()));
    QVERIFY(m_prompts.messages[0].text.contains(AboutText::supportContact()));
    QVERIFY(!m_prompts.messages[0].text.contains("最新版本"));  // nothing was checked
    QVERIFY(m_prompts.messages[1].text.contains("Corvelle v" + appVersionString()));
    QVERIFY(m_prompts.messages[1].text.contains(AboutText::authorLine()));
}

QTEST_MAIN(StorageAndAboutTabTest)
#include "StorageAndAboutTabTest.moc"
