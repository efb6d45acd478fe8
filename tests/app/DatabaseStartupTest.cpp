#include "app/DatabaseStartup.h"
#include "ModalBoxAnswerer.h"
#include "app/SaveFailureNotice.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"
#include "support/LimitedFolder.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

// What the operator is told when the database cannot be used as it is: a
// file that cannot be opened ends start-up with a box naming the file, the
// reason and what to do; a damaged one is rescued and the box says where its
// copy is. Saves that fail later show in the status bar.
class DatabaseStartupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { DatabaseManager::instance()->close(); }
    void unopenableFileIsNamedWithItsReason_data();
    void unopenableFileIsNamedWithItsReason();
    void damagedFileBoxSaysWhereTheCopyIs();
    void failedSavesShowOncePerBurst();
};

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

void writeDatabase(const QString& folder)
{
    DatabaseManager* db = DatabaseManager::instance();
    if (!db->initialize(folder + QStringLiteral("/playlist_data.db")))
        return;
    Cue cue;
    cue.setFilePath(QStringLiteral("/music/a.wav"));
    cue.saveToDatabase(true);
    db->close();
}

}  // namespace

void DatabaseStartupTest::unopenableFileIsNamedWithItsReason_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("garbage header") << 0 << QStringLiteral("不是 SQLite 数据库");
    QTest::newRow("an image, not a database") << 1 << QStringLiteral("不是 SQLite 数据库");
    QTest::newRow("read-only data folder with its database") << 2 << QStringLiteral("没有写入权限");
    QTest::newRow("read-only data folder, no database yet") << 3 << QStringLiteral("没有写入权限");
}

void DatabaseStartupTest::unopenableFileIsNamedWithItsReason()
{
    QFETCH(int, kind);
    QFETCH(QString, reason);

    std::function<void(const QString&)> fill;
    switch (kind) {
    case 0:
        fill = [](const QString& folder) {
            // A database whose first 100 bytes were overwritten.
            writeDatabase(folder);
            QFile file(folder + QStringLiteral("/playlist_data.db"));
            if (file.open(QIODevice::ReadWrite))
                file.write(QByteArray(100, 'x'));
        };
        break;
    case 1:
        fill = [](const QString& folder) {
            writeFile(folder + QStringLiteral("/playlist_data.db"),
                      QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(5000, '\x11'));
        };
        break;
    case 2:
        fill = [](const QString& folder) { writeDatabase(folder); };
        break;
    default:
        fill = [](const QString&) {};
        break;
    }
    const bool readOnly = kind >= 2;
    QTemporaryDir plain;
    std::unique_ptr<LimitedFolder> limited;
    QString folder = plain.path();
    if (readOnly) {
        limited = std::make_unique<LimitedFolder>(LimitedFolder::Kind::ReadOnly, 1024 * 1024, fill);
        if (!limited->usable())
            QSKIP("no read-only folder can be made here");
        folder = limited->path();
    } else {
        fill(folder);
    }
    const QString path = folder + QStringLiteral("/playlist_data.db");
    const QByteArray before = fileBytes(path);

    ModalBoxAnswerer answerer;
    QVERIFY(!DatabaseStartup::open(DatabaseManager::instance(), path));
    QCOMPARE(answerer.texts().size(), 1);
    const QString text = answerer.texts().first();
    QVERIFY2(text.contains(path), qPrintable(text));
    QVERIFY2(text.contains(reason), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("重新启动")), qPrintable(text));  // what to do
    QCOMPARE(fileBytes(path), before);  // the file is kept as it was
}

void DatabaseStartupTest::damagedFileBoxSaysWhereTheCopyIs()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("playlist_data.db"));
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(path));
    QVERIFY(db->beginTransaction());
    for (int i = 0; i < 2000; ++i) {
        Cue cue;
        cue.setFilePath(QStringLiteral("/music/%1.wav").arg(i));
        cue.setRemark(QString(300, QLatin1Char('r')));
        QVERIFY(cue.saveToDatabase(true));
    }
    QVERIFY(db->commitTransaction());
    db->close();
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(file.size() / 2));
        QByteArray noise(8192, Qt::Uninitialized);
        for (char& byte : noise)
            byte = char(QRandomGenerator::global()->bounded(256));
        file.write(noise);
    }

    ModalBoxAnswerer answerer;
    QVERIFY(DatabaseStartup::open(db, path));
    QCOMPARE(answerer.texts().size(), 1);
    const QString text = answerer.texts().first();
    QVERIFY(!db->recovery().damagedCopy.isEmpty());
    QVERIFY2(text.contains(db->recovery().damagedCopy), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("已损坏")), qPrintable(text));
    QVERIFY(QFile::exists(db->recovery().damagedCopy));
}

void DatabaseStartupTest::failedSavesShowOncePerBurst()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(dir.filePath(QStringLiteral("playlist_data.db"))));
    QMainWindow window;
    SaveFailureNotice notice(db, window.statusBar(), nullptr, 300);
    Cue cue;
    cue.setFilePath(QStringLiteral("/music/a.wav"));
    QVERIFY(cue.saveToDatabase(true));

    db->execute("PRAGMA query_only = ON");
    cue.setRemark(QStringLiteral("one"));
    QVERIFY(!cue.saveToDatabase(true));
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("⚠ 保存失败：没有写入权限"));

    // More failures of the same burst add nothing.
    window.statusBar()->clearMessage();
    for (int i = 0; i < 5; ++i) {
        cue.setRemark(QString::number(i));
        QVERIFY(!cue.saveToDatabase(true));
    }
    QVERIFY(window.statusBar()->currentMessage().isEmpty());

    // After a quiet spell, the next failure shows again.
    QTest::qWait(400);
    cue.setRemark(QStringLiteral("later"));
    QVERIFY(!cue.saveToDatabase(true));
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("⚠ 保存失败：没有写入权限"));
    db->execute("PRAGMA query_only = OFF");

    QCOMPARE(SaveFailureNotice::message(QStringLiteral("database or disk is full"), 13),
             QStringLiteral("⚠ 保存失败：磁盘已满"));
}

QTEST_MAIN(DatabaseStartupTest)
#include "DatabaseStartupTest.moc"
