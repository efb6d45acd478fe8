#include "lists/FileExistenceCache.h"
#include "lists/SongTableModel.h"
#include "model/Cue.h"
#include "model/DatabaseManager.h"

#include <QAbstractItemModelTester>
#include <QDataStream>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// The cue table's model: texts, marks, roles, in-place edits, the playing
// row and its remaining time, row moves by drop, and the file status that is
// known without a disk lookup per paint.
class SongTableModelTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::vector<std::unique_ptr<Cue>> cues;

    // A cue on a file in the test folder; missing leaves no file there.
    Cue* makeCue(const QString& name, bool fileExists = true, qint64 durationMs = 90000);
    QList<Cue*> makeCues(int count);
    static QStringList names(const SongTableModel& model);

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void passesTheModelTester();
    void displayName_data();
    void displayName();
    void durationText_data();
    void durationText();
    void preWaitAndLoopCountTexts_data();
    void preWaitAndLoopCountTexts();
    void statusColumnAndRoles();
    void headerData_data();
    void headerData();
    void nameEdit_data();
    void nameEdit();
    void remarkEditAndRefusedEdits();
    void currentCueAndPosition();
    void positionRepaintsOnlyTheCellOfAnAttachedView();
    void displayRangeOverridesTheLoopRegion();
    void rowDrop_data();
    void rowDrop();
    void mimeDataCarriesEachRow();
    void removeRowsChecksItsBounds();
    void rowLookupFollowsMoves();
    void fileStatusIsKnownWithoutLookingAgain();
};

Cue* SongTableModelTest::makeCue(const QString& name, bool fileExists, qint64 durationMs)
{
    const QString path = dir.filePath(QStringLiteral("%1-%2.wav").arg(cues.size()).arg(name));
    if (fileExists) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("RIFF");
    } else {
        QFile::remove(path);
    }
    auto cue = std::make_unique<Cue>(-1, name, path);
    cue->setColor("#4a5a6a");
    cue->setDuration(durationMs);
    cue->saveToDatabase(false);
    cues.push_back(std::move(cue));
    return cues.back().get();
}

QList<Cue*> SongTableModelTest::makeCues(int count)
{
    QList<Cue*> list;
    for (int i = 0; i < count; ++i)
        list.append(makeCue(QStringLiteral("c%1").arg(i)));
    return list;
}

QStringList SongTableModelTest::names(const SongTableModel& model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result.append(model.cueAt(row)->name());
    return result;
}

void SongTableModelTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(DatabaseManager::instance()->initialize(dir.filePath("model.db")));
}

void SongTableModelTest::cleanup()
{
    cues.clear();
}

void SongTableModelTest::passesTheModelTester()
{
    SongTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QList<Cue*> list = makeCues(5);
    list.insert(2, nullptr);  // tolerated everywhere
    model.setCueList(list);
    QVERIFY(model.moveRow(0, 4));
    QVERIFY(model.moveRow(4, 0));
    model.swapRows(1, 3);
    model.setCurrentCue(list[0], true);
    model.setPosition(list[0], 1000);
    QVERIFY(model.removeRows(1, 2));
    model.refresh();
    model.setCueList({});
    QCOMPARE(model.rowCount(), 0);
}

void SongTableModelTest::displayName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("alias");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<bool>("badFile");
    QTest::addColumn<QString>("shown");

    const QString missing = QStringLiteral("\u274C ");
    const QString warning = QStringLiteral("\u26A0\uFE0F ");
    QTest::newRow("alias exactly, no extension cut") << "song" << "My.Intro.mp3" << true << false << "My.Intro.mp3";
    QTest::newRow("known extension cut, any case") << "song.MP3" << "" << true << false << "song";
    QTest::newRow("unknown extension kept") << "song.xyz" << "" << true << false << "song.xyz";
    QTest::newRow("dot first kept") << ".wav" << "" << true << false << ".wav";
    QTest::newRow("dotted name kept whole") << "01. Intro" << "" << true << false << "01. Intro";
    QTest::newRow("missing file") << "song.wav" << "" << false << false << missing + "song";
    QTest::newRow("bad file") << "song" << "" << true << true << warning + "song";
    QTest::newRow("missing wins over bad") << "song" << "" << false << true << missing + "song";
    QTest::newRow("stored marks, file missing: one mark")
        << "song" << missing + missing + "Intro" << false << false << missing + "Intro";
    QTest::newRow("stored marks, file present: none")
        << "song" << missing + missing + "Intro" << true << false << "Intro";
    QTest::newRow("marks in their order")
        << "song" << missing + warning + "\u26A0 \u25B6 \u25BC Intro" << true << false << "Intro";
    QTest::newRow("earlier mark not looked for again")
        << "song" << "\u25B6 " + missing + "Intro" << true << false << missing + "Intro";
}

void SongTableModelTest::displayName()
{
    QFETCH(QString, name);
    QFETCH(QString, alias);
    QFETCH(bool, fileExists);
    QFETCH(bool, badFile);
    QFETCH(QString, shown);

    Cue* cue = makeCue(name, fileExists);
    cue->setName(name);
    cue->setAlias(alias);
    cue->setBadFile(badFile);
    SongTableModel model;
    model.setCueList({cue});
    QCOMPARE(model.data(model.index(0, SongTableModel::NameColumn)).toString(), shown);
    QCOMPARE(model.data(model.index(0, SongTableModel::NameColumn), Qt::EditRole).toString(), shown);
    QCOMPARE(model.displayName(nullptr), QString());
}

void SongTableModelTest::durationText_data()
{
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<qint64>("loopStart");
    QTest::addColumn<qint64>("loopEnd");
    QTest::addColumn<bool>("current");
    QTest::addColumn<qint64>("position");  // -1: none pushed
    QTest::addColumn<QString>("text");

    QTest::newRow("no duration") << qint64(0) << qint64(0) << qint64(0) << false << qint64(-1) << "--";
    QTest::newRow("loop region") << qint64(90000) << qint64(10000) << qint64(70000) << false << qint64(-1)
                                 << "01:00.00";
    QTest::newRow("current, remaining") << qint64(90000) << qint64(10000) << qint64(70000) << true
                                        << qint64(40000) << "00:30.00";
    QTest::newRow("current, before the region") << qint64(90000) << qint64(10000) << qint64(70000) << true
                                                << qint64(5000) << "01:00.00";
    QTest::newRow("current, past the region") << qint64(90000) << qint64(10000) << qint64(70000) << true
                                              << qint64(80000) << "00:00.00";
    QTest::newRow("current without position") << qint64(90000) << qint64(10000) << qint64(70000) << true
                                              << qint64(-1) << "01:00.00";
    QTest::newRow("no loop end: file end") << qint64(90500) << qint64(0) << qint64(0) << false << qint64(-1)
                                           << "01:30.50";
    QTest::newRow("hundredths truncated") << qint64(61999) << qint64(0) << qint64(0) << false << qint64(-1)
                                          << "01:01.99";
}

void SongTableModelTest::durationText()
{
    QFETCH(qint64, duration);
    QFETCH(qint64, loopStart);
    QFETCH(qint64, loopEnd);
    QFETCH(bool, current);
    QFETCH(qint64, position);
    QFETCH(QString, text);

    Cue* cue = makeCue("d", true, duration);
    if (loopEnd > 0)
        cue->setLoopRange(loopStart, loopEnd, true);
    QCOMPARE(cue->loopEndMs(), loopEnd);
    SongTableModel model;
    model.setCueList({cue});
    if (current)
        model.setCurrentCue(cue, true);
    if (position >= 0)
        model.setPosition(cue, position);
    QCOMPARE(model.data(model.index(0, SongTableModel::DurationColumn)).toString(), text);
}

void SongTableModelTest::preWaitAndLoopCountTexts_data()
{
    QTest::addColumn<int>("preWaitMs");
    QTest::addColumn<int>("loopCount");
    QTest::addColumn<QString>("preWaitText");
    QTest::addColumn<QString>("loopText");

    QTest::newRow("zero, endless") << 0 << 0 << "00:00" << "\u221E";
    QTest::newRow("61.5 s, once") << 61500 << 1 << "01:01" << "1";
    QTest::newRow("an hour, twelve") << 3600000 << 12 << "60:00" << "12";
}

void SongTableModelTest::preWaitAndLoopCountTexts()
{
    QFETCH(int, preWaitMs);
    QFETCH(int, loopCount);
    QFETCH(QString, preWaitText);
    QFETCH(QString, loopText);

    Cue* cue = makeCue("t");
    cue->setPreWait(preWaitMs);
    cue->setLoopCount(loopCount);
    SongTableModel model;
    model.setCueList({cue});
    QCOMPARE(model.data(model.index(0, SongTableModel::PreWaitColumn)).toString(), preWaitText);
    QCOMPARE(model.data(model.index(0, SongTableModel::LoopCountColumn)).toString(), loopText);
}

void SongTableModelTest::statusColumnAndRoles()
{
    const QList<Cue*> list = makeCues(2);
    list[0]->setRemark("note");
    SongTableModel model;
    model.setCueList(list);
    auto cell = [&](int row, int column, int role = Qt::DisplayRole) { return model.index(row, column).data(role); };

    QCOMPARE(cell(0, 0).toString(), QString());
    model.setCurrentCue(list[0], true);
    QCOMPARE(cell(0, 0).toString(), QString("\u25B6"));
    QCOMPARE(cell(1, 0).toString(), QString());
    model.setCurrentCue(list[0], false);
    QCOMPARE(cell(0, 0).toString(), QString("\u23F8"));
    QCOMPARE(cell(0, 0, Qt::ForegroundRole).value<QColor>(), QColor(0, 120, 215));
    QVERIFY(!cell(1, 0, Qt::ForegroundRole).isValid());

    // The remaining-time tint only once a position is known.
    QVERIFY(!cell(0, 3, Qt::BackgroundRole).isValid());
    model.setPosition(list[0], 0);
    QCOMPARE(cell(0, 3, Qt::BackgroundRole).value<QColor>(), QColor(100, 150, 255, 80));

    QCOMPARE(cell(1, 1, SongTableModel::CueRole).value<Cue*>(), list[1]);
    QCOMPARE(cell(1, 4, SongTableModel::CueIdRole).toInt(), list[1]->id());
    QVERIFY(cell(0, 2, SongTableModel::IsCurrentRole).toBool());
    QVERIFY(!cell(1, 2, SongTableModel::IsCurrentRole).toBool());
    QCOMPARE(cell(0, 5, Qt::EditRole).toString(), QString("note"));
    QVERIFY(!cell(0, 2, Qt::EditRole).isValid());

    for (int column = 0; column < 6; ++column) {
        const bool text = column == 1 || column == 5;
        QCOMPARE(cell(0, column, SongTableModel::EditableTextRole).isValid(), text);
        QCOMPARE(cell(0, column, Qt::TextAlignmentRole).toInt(),
                 int(text ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignHCenter | Qt::AlignVCenter));
        QCOMPARE(bool(model.flags(model.index(0, column)) & Qt::ItemIsEditable), text);
        QVERIFY(model.flags(model.index(0, column)) & Qt::ItemIsDragEnabled);
    }
    QCOMPARE(model.flags(QModelIndex()), Qt::ItemFlags(Qt::ItemIsDropEnabled));

    // A null row yields nothing.
    model.setCueList({nullptr});
    QVERIFY(!cell(0, 1).isValid());
}

void SongTableModelTest::headerData_data()
{
    QTest::addColumn<QString>("color");
    QTest::addColumn<QColor>("background");

    QTest::newRow("cue colour at alpha 80") << "#5a3a3a" << QColor(0x5a, 0x3a, 0x3a, 80);
    QTest::newRow("no colour") << "" << QColor("#2b2b2b");
    QTest::newRow("unparsable colour") << "not-a-colour" << QColor("#2b2b2b");
}

void SongTableModelTest::headerData()
{
    QFETCH(QString, color);
    QFETCH(QColor, background);

    Cue* cue = makeCue("h");
    cue->setColor(color);
    SongTableModel model;
    model.setCueList({cue});

    const QStringList titles = {"状态", "名称", "等待", "时长", "次", "备注"};
    for (int section = 0; section < titles.size(); ++section)
        QCOMPARE(model.headerData(section, Qt::Horizontal).toString(), titles[section]);
    QVERIFY(!model.headerData(6, Qt::Horizontal).isValid());
    QCOMPARE(model.headerData(0, Qt::Vertical).toString(), QString("1"));
    QCOMPARE(model.headerData(1, Qt::Vertical).toString(), QString());
    QCOMPARE(model.headerData(0, Qt::Vertical, Qt::BackgroundRole).value<QColor>(), background);
    QCOMPARE(model.headerData(5, Qt::Vertical, Qt::BackgroundRole).value<QColor>(), QColor("#2b2b2b"));
}

void SongTableModelTest::nameEdit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("aliasBefore");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("alias");

    const QString missing = QStringLiteral("\u274C ");
    QTest::newRow("new alias") << "song" << "" << true << "Opening" << "Opening";
    QTest::newRow("mark never stored") << "song" << "" << true << missing + "Opening" << "Opening";
    QTest::newRow("unchanged with missing mark stores nothing") << "song" << "" << false << missing + "song" << "";
    QTest::newRow("base name clears the alias") << "song.mp3" << "Old" << true << "song" << "";
    QTest::newRow("empty clears the alias") << "song" << "Old" << true << "" << "";
    // Committing what a dotted name shows must not turn it into an alias.
    QTest::newRow("dotted name unchanged") << "01. Intro" << "" << true << "01. Intro" << "";
    QTest::newRow("dotted name shortened") << "01. Intro" << "" << true << "01" << "01";
}

void SongTableModelTest::nameEdit()
{
    QFETCH(QString, name);
    QFETCH(QString, aliasBefore);
    QFETCH(bool, fileExists);
    QFETCH(QString, typed);
    QFETCH(QString, alias);

    Cue* cue = makeCue(name, fileExists);
    cue->setName(name);
    cue->setAlias(aliasBefore);
    QVERIFY(cue->saveToDatabase(false));
    SongTableModel model;
    model.setCueList({cue});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy edited(&model, &SongTableModel::cueEdited);

    QVERIFY(model.setData(model.index(0, SongTableModel::NameColumn), typed));
    QCOMPARE(cue->alias(), alias);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(edited.size(), 1);
    QCOMPARE(edited.first().at(1).toInt(), int(SongTableModel::NameColumn));

    // The edit is stored.
    Cue stored;
    QVERIFY(stored.loadFromDatabase(cue->id()));
    QCOMPARE(stored.alias(), alias);
}

void SongTableModelTest::remarkEditAndRefusedEdits()
{
    Cue* cue = makeCue("r");
    SongTableModel model;
    model.setCueList({cue, nullptr});

    QVERIFY(model.setData(model.index(0, SongTableModel::RemarkColumn), "enter on cue"));
    QCOMPARE(cue->remark(), QString("enter on cue"));
    Cue stored;
    QVERIFY(stored.loadFromDatabase(cue->id()));
    QCOMPARE(stored.remark(), QString("enter on cue"));

    QVERIFY(!model.setData(model.index(0, SongTableModel::PreWaitColumn), "5"));
    QVERIFY(!model.setData(model.index(0, SongTableModel::NameColumn), "x", Qt::DisplayRole));
    QVERIFY(!model.setData(model.index(1, SongTableModel::NameColumn), "x"));
    QVERIFY(!model.setData(QModelIndex(), "x"));
}

void SongTableModelTest::currentCueAndPosition()
{
    const QList<Cue*> list = makeCues(3);
    SongTableModel model;
    model.setCueList(list);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    model.setCurrentCue(list[1], true);
    QCOMPARE(changed.size(), 2);  // status and duration of the new row
    model.setPosition(list[1], 5000);
    QCOMPARE(model.position(), qint64(5000));
    model.setPosition(list[2], 9000);  // not current: ignored
    QCOMPARE(model.position(), qint64(5000));

    model.setCurrentCue(list[1], false);  // same cue keeps its position
    QCOMPARE(model.position(), qint64(5000));
    changed.clear();
    model.setCurrentCue(list[2], true);  // another: position gone, both rows repaint
    QCOMPARE(model.position(), qint64(-1));
    QList<QPair<int, int>> cells;
    for (const QList<QVariant>& args : changed)
        cells.append({args.at(0).toModelIndex().row(), args.at(0).toModelIndex().column()});
    const QList<QPair<int, int>> expected = {{1, 0}, {1, 3}, {2, 0}, {2, 3}};
    QCOMPARE(cells, expected);

    // Without a view the duration cell is announced.
    changed.clear();
    model.setPosition(list[2], 100);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex(), model.index(2, SongTableModel::DurationColumn));
}

void SongTableModelTest::positionRepaintsOnlyTheCellOfAnAttachedView()
{
    const QList<Cue*> list = makeCues(2);
    SongTableModel model;
    model.setCueList(list);
    QTableView view;
    view.setModel(&model);
    model.setAttachedView(&view);
    view.resize(600, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    model.setCurrentCue(list[0], true);

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setPosition(list[0], 2500);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(model.index(0, SongTableModel::DurationColumn).data().toString(), QString("01:27.50"));
}

void SongTableModelTest::displayRangeOverridesTheLoopRegion()
{
    Cue* cue = makeCue("range");
    cue->setLoopRange(10000, 70000, true);
    SongTableModel model;
    model.setCueList({cue});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    auto text = [&] { return model.index(0, SongTableModel::DurationColumn).data().toString(); };

    model.setDisplayRange(cue, 20000, 50000);
    QCOMPARE(text(), QString("00:30.00"));
    QCOMPARE(changed.size(), 1);
    model.setDisplayRange(cue, 10000, 70000);  // back on the region: override gone
    QCOMPARE(text(), QString("01:00.00"));
    QCOMPARE(changed.size(), 2);
    model.setDisplayRange(cue, 10000, 70000);  // nothing to remove
    QCOMPARE(changed.size(), 2);
    model.setDisplayRange(nullptr, 0, 1);
    QCOMPARE(changed.size(), 2);
}

void SongTableModelTest::rowDrop_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("row");        // the drop's row, -1 for none
    QTest::addColumn<int>("parentRow");  // the index dropped on, -1 for none
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("order");

    const QStringList unchanged = {"c0", "c1", "c2", "c3", "c4", "c5"};
    QTest::newRow("down: just before the target")
        << 2 << 5 << -1 << true << QStringList{"c0", "c1", "c3", "c4", "c2", "c5"};
    QTest::newRow("up: at the target") << 5 << 2 << -1 << true << QStringList{"c0", "c1", "c5", "c2", "c3", "c4"};
    QTest::newRow("on itself") << 3 << 3 << -1 << true << unchanged;
    QTest::newRow("on a row index") << 0 << -1 << 2 << true << QStringList{"c1", "c0", "c2", "c3", "c4", "c5"};
    QTest::newRow("after the last row") << 1 << -1 << -1 << true << QStringList{"c0", "c2", "c3", "c4", "c5", "c1"};
    QTest::newRow("source outside") << 6 << 1 << -1 << false << unchanged;
}

void SongTableModelTest::rowDrop()
{
    QFETCH(int, source);
    QFETCH(int, row);
    QFETCH(int, parentRow);
    QFETCH(bool, result);
    QFETCH(QStringList, order);

    SongTableModel model;
    model.setCueList(makeCues(6));
    QSignalSpy listChanged(&model, &SongTableModel::cueListChanged);
    QByteArray encoded;
    QDataStream stream(&encoded, QIODevice::WriteOnly);
    stream << qint32(source) << qint32(0);
    QMimeData data;
    data.setData("application/x-cuerow", encoded);

    const QModelIndex parent = parentRow >= 0 ? model.index(parentRow, 0) : QModelIndex();
    QCOMPARE(model.dropMimeData(&data, Qt::MoveAction, row, 0, parent), result);
    QCOMPARE(names(model), order);
    const bool moved = order != QStringList{"c0", "c1", "c2", "c3", "c4", "c5"};
    QCOMPARE(listChanged.size(), moved ? 1 : 0);

    QVERIFY(model.dropMimeData(&data, Qt::IgnoreAction, 0, 0, {}));
    QMimeData foreign;
    foreign.setText("2");
    QVERIFY(!model.dropMimeData(&foreign, Qt::MoveAction, 0, 0, {}));
}

void SongTableModelTest::mimeDataCarriesEachRow()
{
    SongTableModel model;
    model.setCueList(makeCues(3));
    QCOMPARE(model.mimeTypes(), QStringList{"application/x-cuerow"});
    QVERIFY(!model.mimeData({}));

    std::unique_ptr<QMimeData> data(model.mimeData({model.index(2, 0), model.index(2, 1), model.index(0, 0)}));
    QVERIFY(data);
    QByteArray encoded = data->data("application/x-cuerow");
    QDataStream stream(&encoded, QIODevice::ReadOnly);
    QList<qint32> rows;
    while (!stream.atEnd()) {
        qint32 row = -1;
        stream >> row;
        rows.append(row);
    }
    QCOMPARE(rows, (QList<qint32>{2, 2, 0}));
    QCOMPARE(encoded.left(4), QByteArray("\x00\x00\x00\x02", 4));  // big-endian
}

void SongTableModelTest::removeRowsChecksItsBounds()
{
    SongTableModel model;
    model.setCueList(makeCues(4));
    QVERIFY(!model.removeRows(3, 2));
    QVERIFY(!model.removeRows(-1, 1));
    QCOMPARE(model.rowCount(), 4);
    QVERIFY(model.removeRow(3));
    QVERIFY(model.removeRows(0, 2));
    QCOMPARE(names(model), QStringList{"c2"});
}

void SongTableModelTest::rowLookupFollowsMoves()
{
    const QList<Cue*> list = makeCues(4);
    SongTableModel model;
    model.setCueList(list);
    QCOMPARE(model.rowOfCue(list[3]), 3);
    QVERIFY(model.moveRow(3, 0));
    QCOMPARE(model.rowOfCue(list[3]), 0);
    QCOMPARE(model.rowOfCue(list[0]), 1);
    model.swapRows(0, 3);
    QCOMPARE(model.rowOfCue(list[3]), 3);
    QVERIFY(model.removeRows(0, 1));
    QCOMPARE(model.rowOfCue(list[0]), 0);
    QCOMPARE(model.rowOfCue(list[2]), -1);
    QCOMPARE(model.rowOfCue(nullptr), -1);
    Cue* other = makeCue("other");
    QCOMPARE(model.rowOfCue(other), -1);
    model.setCueList({other});
    QCOMPARE(model.rowOfCue(other), 0);  // a remembered miss is not trusted
    QCOMPARE(model.cueAt(1), nullptr);
    QCOMPARE(model.cueIds(), QList<int>{other->id()});
}

void SongTableModelTest::fileStatusIsKnownWithoutLookingAgain()
{
    Cue* cue = makeCue("gone");
    SongTableModel model;
    model.setCueList({cue});
    const QModelIndex name = model.index(0, SongTableModel::NameColumn);
    QCOMPARE(name.data().toString(), QString("gone"));

    // Painting asks again and again; the disk is not asked again.
    QVERIFY(QFile::remove(cue->filePath()));
    const int lookups = model.fileExistence()->diskLookups();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(name.data().toString(), QString("gone"));
    QCOMPARE(model.fileExistence()->diskLookups(), lookups);

    // A recheck in the background finds the file gone and repaints the cell.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.fileExistence()->recheck({cue->filePath()});
    QTRY_COMPARE(changed.size(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex(), name);
    QCOMPARE(name.data().toString(), QString("\u274C gone"));

    // Back again: the mark goes; a check without change repaints nothing.
    QFile file(cue->filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    model.fileExistence()->recheck({cue->filePath()});
    QTRY_COMPARE(changed.size(), 2);
    QCOMPARE(name.data().toString(), QString("gone"));
    model.fileExistence()->recheck({cue->filePath()});
    QTRY_VERIFY(!model.fileExistence()->isChecking());
    QCOMPARE(changed.size(), 2);
}

QTEST_MAIN(SongTableModelTest)
#include "SongTableModelTest.moc"
