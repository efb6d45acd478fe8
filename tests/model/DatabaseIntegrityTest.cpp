#include "model/Cue.h"
#include "model/DatabaseIntegrity.h"
#include "model/DatabaseManager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <algorithm>

// A database file damaged on disk (a bad sector, a crash of another
// program, a copy cut short) must never be written further unseen: its bytes
// are kept beside it first, then what can be read is rescued into a file the
// program can save into.
namespace {

constexpr int kCues = 3000;

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString quickCheck(const QString& path)
{
    sqlite3* db = nullptr;
    QString result;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &stmt, nullptr) == SQLITE_OK) {
            int rc;
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
                result += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
            if (rc != SQLITE_DONE)
                result += QString::fromUtf8(sqlite3_errmsg(db));
        } else {
            result = QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return result;
}

// A show of kCues cues in one playlist, closed cleanly (log copied back).
void writeShow(const QString& path)
{
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(path));
    PlaylistGroup group;
    group.name = QStringLiteral("Show");
    QVERIFY(db->insertPlaylistGroup(group, 0));
    QVERIFY(db->beginTransaction());
    for (int i = 0; i < kCues; ++i) {
        Cue cue;
        cue.setFilePath(QStringLiteral("/music/cue%1.wav").arg(i));
        cue.setRemark(QString(200, QChar('a' + i % 26)));
        QVERIFY(cue.saveToDatabase(true));
        QVERIFY(db->insertPlaylistSong(group.id, cue.id(), i));
    }
    QVERIFY(db->commitTransaction());
    db->close();
}

// 8 KB of random bytes written into the middle of the file.
void damageMiddle(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray noise(8192, Qt::Uninitialized);
    QRandomGenerator generator(30);
    for (char& byte : noise)
        byte = char(generator.bounded(256));
    QVERIFY(file.seek(file.size() / 2));
    QCOMPARE(file.write(noise), qint64(noise.size()));
    file.close();
}

// SQLite's variable-length integer at the given offset; its length in bytes.
int readVarint(const QByteArray& bytes, qsizetype at, qint64* value)
{
    qint64 v = 0;
    for (int i = 0; i < 9; ++i) {
        const auto byte = quint8(bytes.at(at + i));
        if (i == 8) {
            *value = (v << 8) | byte;
            return 9;
        }
        v = (v << 7) | (byte & 0x7f);
        if (!(byte & 0x80)) {
            *value = v;
            return i + 1;
        }
    }
    return 9;
}

int bigEndian16(const QByteArray& bytes, qsizetype at)
{
    return (quint8(bytes.at(at)) << 8) | quint8(bytes.at(at + 1));
}

// A leaf page of the cue table: its first rowid, and where its last cell's
// rowid is written.
struct CueLeaf {
    qsizetype page = 0;
    qint64 firstRowid = 0;
    qsizetype lastRowidAt = 0;
    int lastRowidLength = 0;
};

// The leaf pages of the cue table, in rowid order: table leaves (type 13)
// whose first row is long (a cue's row holds its 200-character remark; the
// playlist's rows are a few bytes).
QList<CueLeaf> cueLeaves(const QByteArray& bytes, int pageSize)
{
    QList<CueLeaf> leaves;
    for (qsizetype page = pageSize; page + pageSize <= bytes.size(); page += pageSize) {
        if (quint8(bytes.at(page)) != 13 || bigEndian16(bytes, page + 3) == 0)
            continue;
        const qsizetype first = page + bigEndian16(bytes, page + 8);
        qint64 payload = 0;
        const int payloadLength = readVarint(bytes, first, &payload);
        if (payload < 200)
            continue;
        CueLeaf leaf;
        leaf.page = page;
        readVarint(bytes, first + payloadLength, &leaf.firstRowid);
        const qsizetype last = page + bigEndian16(bytes, page + 8 + 2 * (bigEndian16(bytes, page + 3) - 1));
        leaf.lastRowidAt = last + readVarint(bytes, last, &payload);
        qint64 lastRowid = 0;
        leaf.lastRowidLength = readVarint(bytes, leaf.lastRowidAt, &lastRowid);
        leaves.append(leaf);
    }
    std::sort(leaves.begin(), leaves.end(),
              [](const CueLeaf& a, const CueLeaf& b) { return a.firstRowid < b.firstRowid; });
    return leaves;
}

QStringList damagedCopies(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("playlist_data.damaged-*.db")}, QDir::Files);
}

}  // namespace

class DatabaseIntegrityTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { DatabaseManager::instance()->close(); }
    void damagedFileIsKeptAndTheRestIsRescued();
    void nothingReadableGivesAnEmptyDatabase();
    void healthyAndMissingFilesAreLeftAlone();
    void fileThatIsNoDatabaseIsNotTouched();
    void failedWritesAreReported();
    void rowsOutOfOrderDoNotKeepTheRescueGoing();
};

void DatabaseIntegrityTest::damagedFileIsKeptAndTheRestIsRescued()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("playlist_data.db"));
    writeShow(path);
    damageMiddle(path);
    const QByteArray damaged = fileBytes(path);
    QVERIFY2(quickCheck(path) != QLatin1String("ok"), "the damage must be one SQLite notices");

    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(path));

    // The damaged bytes, unchanged, beside the file.
    const QStringList copies = damagedCopies(dir.path());
    QCOMPARE(copies.size(), 1);
    QCOMPARE(fileBytes(dir.filePath(copies.first())), damaged);
    QCOMPARE(db->recovery().damagedCopy, dir.filePath(copies.first()));
    QVERIFY(db->recovery().replaced);
    QVERIFY(!db->recovery().incompleteTables.isEmpty());

    // What could be read is there; the file in use is sound and takes saves.
    QList<Cue*> cues;
    QVERIFY(db->loadAllCues(cues));
    QVERIFY2(cues.size() > kCues / 2 && cues.size() < kCues, qPrintable(QString::number(cues.size())));
    QList<PlaylistGroup> groups;
    QVERIFY(db->loadAllPlaylistGroups(groups));
    QCOMPARE(groups.size(), 1);
    QSignalSpy failures(db, &DatabaseManager::writeFailed);
    for (Cue* cue : cues) {
        cue->setRemark(QStringLiteral("after"));
        QVERIFY(cue->saveToDatabase(true));
    }
    qDeleteAll(cues);
    Cue added;
    added.setFilePath(QStringLiteral("/music/new.wav"));
    QVERIFY(added.saveToDatabase(true));
    QCOMPARE(failures.count(), 0);
    db->close();
    QCOMPARE(quickCheck(path), QStringLiteral("ok"));

    // The next start finds nothing wrong and makes no second copy.
    QVERIFY(db->initialize(path));
    QCOMPARE(db->startCheck().state, DatabaseIntegrity::State::Healthy);
    QVERIFY(!db->recovery().replaced);
    QCOMPARE(damagedCopies(dir.path()).size(), 1);
}

void DatabaseIntegrityTest::nothingReadableGivesAnEmptyDatabase()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("playlist_data.db"));
    writeShow(path);
    // Everything after the header is noise: the schema page is gone.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(100));
    QByteArray noise(int(file.size() - 100), Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char& byte : noise)
        byte = char(generator.bounded(256));
    file.write(noise);
    file.close();
    const QByteArray damaged = fileBytes(path);

    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(path));
    QVERIFY(db->recovery().replaced);
    QVERIFY(db->recovery().nothingReadable());
    QCOMPARE(fileBytes(db->recovery().damagedCopy), damaged);
    QList<Cue*> cues;
    QVERIFY(db->loadAllCues(cues));
    QCOMPARE(cues.size(), 0);
    Cue added;
    added.setFilePath(QStringLiteral("/music/new.wav"));
    QVERIFY(added.saveToDatabase(true));
}

void DatabaseIntegrityTest::healthyAndMissingFilesAreLeftAlone()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("playlist_data.db"));
    QCOMPARE(DatabaseIntegrity::inspect(path).state, DatabaseIntegrity::State::Missing);
    writeShow(path);
    QCOMPARE(DatabaseIntegrity::inspect(path).state, DatabaseIntegrity::State::Healthy);
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(path));
    QVERIFY(!db->recovery().replaced);
    QVERIFY(damagedCopies(dir.path()).isEmpty());
}

void DatabaseIntegrityTest::fileThatIsNoDatabaseIsNotTouched()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("playlist_data.db"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("This is a text file, not a database.\n").repeated(200));
    file.close();
    const QByteArray before = fileBytes(path);

    QCOMPARE(DatabaseIntegrity::inspect(path).state, DatabaseIntegrity::State::NotADatabase);
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(!db->initialize(path));
    QCOMPARE(db->startCheck().state, DatabaseIntegrity::State::NotADatabase);
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"playlist_data.db"});
}

void DatabaseIntegrityTest::failedWritesAreReported()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(dir.filePath(QStringLiteral("playlist_data.db"))));
    QSignalSpy failures(db, &DatabaseManager::writeFailed);
    QVERIFY(!db->execute("SELECT * FROM no_such_table").lastError().text().isEmpty());
    QCOMPARE(failures.count(), 0);  // a failed read loses nothing

    db->execute("PRAGMA query_only = ON");
    Cue cue;
    cue.setFilePath(QStringLiteral("/music/a.wav"));
    QVERIFY(!cue.saveToDatabase(true));
    QVERIFY(failures.count() >= 1);
    QCOMPARE(failures.first().at(1).toInt() & 0xff, SQLITE_READONLY);
    db->execute("PRAGMA query_only = OFF");
}

// A damaged page can hand out a rowid lower than the rows before it: here
// the last row before a wrecked page of the cue table claims rowid 5. The
// rescue, going on after the wrecked page from the last rowid it read, must
// not go back to 5 and read the same stretch again for ever; it ends, with
// the rows after the wrecked page.
void DatabaseIntegrityTest::rowsOutOfOrderDoNotKeepTheRescueGoing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("playlist_data.db"));
    writeShow(path);
    QByteArray bytes = fileBytes(path);
    int pageSize = bigEndian16(bytes, 16);
    if (pageSize == 1)
        pageSize = 65536;
    const QList<CueLeaf> leaves = cueLeaves(bytes, pageSize);
    QVERIFY2(leaves.size() > 20, qPrintable(QString::number(leaves.size())));
    const CueLeaf wrecked = leaves.at(2 * leaves.size() / 3);
    const CueLeaf backwards = leaves.at(2 * leaves.size() / 3 - 1);
    QCOMPARE(backwards.lastRowidLength, 2);
    bytes[backwards.lastRowidAt] = char(0x80);  // 5, in the two bytes the rowid had
    bytes[backwards.lastRowidAt + 1] = char(0x05);
    bytes.replace(wrecked.page, pageSize, QByteArray(pageSize, char(0xff)));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    DatabaseManager* db = DatabaseManager::instance();
    QVERIFY(db->initialize(path));
    QVERIFY(db->recovery().replaced);
    QList<Cue*> cues;
    QVERIFY(db->loadAllCues(cues));
    int last = 0;
    for (Cue* cue : cues)
        last = std::max(last, cue->id());
    qDeleteAll(cues);
    QVERIFY2(last > wrecked.firstRowid, qPrintable(QStringLiteral("last rescued row %1").arg(last)));
}

QTEST_GUILESS_MAIN(DatabaseIntegrityTest)
#include "DatabaseIntegrityTest.moc"
