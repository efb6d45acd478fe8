#include "ExchangeFixture.h"
#include "FakeExportUi.h"
#include "exchange/ExcelExporter.h"
#include "exchange/ProgramSheet.h"
#include "support/LogCapture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// The programme sheet: column letters, sheet names, the CSV text, the rows
// as a pure function of the playlist, the workbook opened back from its zip,
// and failures reported as failures.
class ProgramSheetTest : public QObject {
    Q_OBJECT

private:
    ExchangeFixture f;
    static QString unzip(const QString& archive, const QString& member);
    static ProgramSheet::Entry entry(const QString& path, qint64 duration, qint64 start = 0, qint64 end = 0,
                                     const QString& remark = {}, const QString& alias = {});
    static QString cellText(const ProgramSheet::Layout& layout, int row, int col);

private Q_SLOTS:
    void initTestCase();
    void init();
    void columnLetters_data();
    void columnLetters();
    void sheetNames_data();
    void sheetNames();
    void csv_data();
    void csv();
    void programTime_data();
    void programTime();
    void rows_data();
    void rows();
    void workbookOpensBack();
    void unwritableTargetFails();
};

QString ProgramSheetTest::unzip(const QString& archive, const QString& member)
{
    QProcess process;
    process.start("unzip", {"-p", archive, member});
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

ProgramSheet::Entry ProgramSheetTest::entry(const QString& path, qint64 duration, qint64 start, qint64 end,
                                            const QString& remark, const QString& alias)
{
    ProgramSheet::Entry e;
    e.valid = true;
    e.fileExists = true;
    e.filePath = path;
    e.durationMs = duration;
    e.loopStartMs = start;
    e.loopEndMs = end;
    e.remark = remark;
    e.alias = alias;
    return e;
}

QString ProgramSheetTest::cellText(const ProgramSheet::Layout& layout, int row, int col)
{
    for (const ExcelCell& c : layout.cells) {
        if (c.row == row && c.col == col)
            return c.text;
    }
    return "<none>";
}

void ProgramSheetTest::initTestCase()
{
    QVERIFY(f.initDatabase());
}

void ProgramSheetTest::init()
{
    f.reset();
}

void ProgramSheetTest::columnLetters_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("letters");
    QTest::newRow("0") << 0 << "";
    QTest::newRow("1") << 1 << "A";
    QTest::newRow("26") << 26 << "Z";
    QTest::newRow("27") << 27 << "AA";
    QTest::newRow("52") << 52 << "AZ";
    QTest::newRow("53") << 53 << "BA";
    QTest::newRow("702") << 702 << "ZZ";
    QTest::newRow("703") << 703 << "AAA";
}

void ProgramSheetTest::columnLetters()
{
    QFETCH(int, column);
    QFETCH(QString, letters);
    QCOMPARE(ExcelExporter::columnLetters(column), letters);
}

void ProgramSheetTest::sheetNames_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");
    QTest::newRow("31 characters") << QString(31, 'a') << QString(31, 'a');
    QTest::newRow("32 characters") << QString(32, 'b') << QString(31, 'b');
    QTest::newRow("forbidden characters") << "a[b]:c*d?e/f\\g" << "abcdefg";
    QTest::newRow("apostrophes at the ends") << "'x'" << "x";
    QTest::newRow("nothing left") << "[]" << "Sheet1";
    QTest::newRow("chinese") << "婚礼节目单" << "婚礼节目单";
}

void ProgramSheetTest::sheetNames()
{
    QFETCH(QString, title);
    QFETCH(QString, name);
    QCOMPARE(ExcelExporter::sheetName(title), name);
}

void ProgramSheetTest::csv_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << "abc" << "abc";
    QTest::newRow("comma") << "a,b" << "\"a,b\"";
    QTest::newRow("quote") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
    QTest::newRow("line feed") << "a\nb" << "\"a\nb\"";
    QTest::newRow("carriage return only") << "a\rb" << "a\rb";
    QTest::newRow("chinese") << "开场" << "开场";
}

void ProgramSheetTest::csv()
{
    QFETCH(QString, field);
    QFETCH(QString, written);
    const QList<ExcelCell> cells = {{1, 0, "h1"}, {1, 1, "h2"}, {2, 1, field}, {2, 0, "x"}, {2, 0, "1"}};
    const QByteArray text = ExcelExporter::csvText(cells);
    // BOM, an empty title row, later cells replace earlier ones, CR LF endings.
    QCOMPARE(text, QByteArray("\xEF\xBB\xBF,\r\nh1,h2\r\n1,") + written.toUtf8() + "\r\n");
}

void ProgramSheetTest::programTime_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "00:00.00";
    QTest::newRow("83450") << qint64(83450) << "01:23.45";
    QTest::newRow("an hour does not wrap") << qint64(3600000) << "60:00.00";
    QTest::newRow("hundredths truncate") << qint64(5999) << "00:05.99";
}

void ProgramSheetTest::programTime()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(ProgramSheet::formatProgramTime(ms), text);
}

void ProgramSheetTest::rows_data()
{
    QTest::addColumn<QList<ProgramSheet::Entry>>("entries");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QStringList>("row2");  // texts of the first cue's row
    QTest::addColumn<int>("emptyRow");      // a row that must hold no cell, -1 none

    const ProgramSheet::Entry whole = entry("/m/Walk In.mp3", 60000, 0, 60000);
    QTest::newRow("whole files, no remarks") << QList<ProgramSheet::Entry>{whole, entry("/m/b.wav", 1000, 0, 0)}
                                             << QStringList{"顺序", "流程", "配乐"}
                                             << QStringList{"1", "Walk In", "Walk In.mp3"} << -1;
    QTest::newRow("blank remark makes no column")
        << QList<ProgramSheet::Entry>{entry("/m/a.mp3", 1000, 0, 1000, "   ")} << QStringList{"顺序", "流程", "配乐"}
        << QStringList{"1", "a", "a.mp3"} << -1;
    QTest::newRow("remark without range") << QList<ProgramSheet::Entry>{entry("/m/a.mp3", 1000, 0, 1000, " go ", "Intro")}
                                          << QStringList{"顺序", "流程", "配乐", "备注"}
                                          << QStringList{"1", "Intro", "a.mp3", "go"} << -1;
    QTest::newRow("from the start") << QList<ProgramSheet::Entry>{entry("/m/a.mp3", 90000, 0, 83450)}
                                    << QStringList{"顺序", "流程", "配乐", "起止时间"}
                                    << QStringList{"1", "a", "a.mp3", "开始~01:23.45"} << -1;
    QTest::newRow("to the end") << QList<ProgramSheet::Entry>{entry("/m/a.mp3", 90000, 5000, 90000)}
                                << QStringList{"顺序", "流程", "配乐", "起止时间"}
                                << QStringList{"1", "a", "a.mp3", "00:05.00~结束"} << -1;
    QTest::newRow("range and remark") << QList<ProgramSheet::Entry>{entry("/m/a.mp3", 90000, 5000, 6000, "r")}
                                      << QStringList{"顺序", "流程", "配乐", "起止时间", "备注"}
                                      << QStringList{"1", "a", "a.mp3", "00:05.00~00:06.00", "r"} << -1;
    ProgramSheet::Entry missing = entry("/m/c.mp3", 1000, 5, 9, "unseen");
    missing.fileExists = false;  // still decides the columns
    ProgramSheet::Entry invalid;
    QTest::newRow("skipped cues leave their rows empty")
        << QList<ProgramSheet::Entry>{whole, invalid, missing, entry("/m/d.mp3", 1000)}
        << QStringList{"顺序", "流程", "配乐", "起止时间", "备注"} << QStringList{"1", "Walk In", "Walk In.mp3", "", ""}
        << 4;
}

void ProgramSheetTest::rows()
{
    QFETCH(QList<ProgramSheet::Entry>, entries);
    QFETCH(QStringList, headers);
    QFETCH(QStringList, row2);
    QFETCH(int, emptyRow);
    const ProgramSheet::Layout layout = ProgramSheet::build(entries);
    QCOMPARE(int(layout.widths.size()), int(headers.size()));
    for (int c = 0; c < headers.size(); ++c)
        QCOMPARE(cellText(layout, 1, c), headers[c]);
    for (int c = 0; c < row2.size(); ++c)
        QCOMPARE(cellText(layout, 2, c), row2[c]);
    QCOMPARE(cellText(layout, 0, 0), QString("<none>"));
    if (emptyRow >= 0) {
        for (const ExcelCell& cell : layout.cells)
            QVERIFY(cell.row != emptyRow);
        QCOMPARE(cellText(layout, emptyRow + 1, 0), QString::number(emptyRow));  // numbers are not reused
    }
    for (const ExcelCell& cell : layout.cells) {
        QVERIFY(cell.bordered);
        QCOMPARE(cell.bold, cell.row == 1);
    }
}

void ProgramSheetTest::workbookOpensBack()
{
    const int playlist = f.newPlaylist("婚礼");
    const QString audio = f.path("march.wav");
    QFile(audio).open(QIODevice::WriteOnly);
    Cue* cue = f.addCue(playlist, audio, 90000);
    cue->setAlias("Entrance & <March>");
    cue->setLoopRange(5000, 90000, true);
    cue->setRemark("lights down");
    const QString folder = f.makeFolder("sheet");

    FakeExportUi ui;
    ui.folder = folder;
    ui.pressOpen = true;
    const QString written = ProgramSheet::exportExcelProgram({playlist, "婚礼", "婚礼", "/last"}, ui, f.cues.get());
    QCOMPARE(written, folder + "/婚礼.xlsx");
    QCOMPARE(ui.results.value(0).title, QString("导出成功"));
    QCOMPARE(ui.results.value(0).text, QString("婚礼节目单已导出到：\n%1\n\n共导出 1 条记录").arg(written));
    QCOMPARE(ui.openedFolders, QStringList{folder});
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"婚礼.xlsx"});

    const QString sheet = unzip(written, "xl/worksheets/sheet1.xml");
    const QString strings = unzip(written, "xl/sharedStrings.xml");
    const QString book = unzip(written, "xl/workbook.xml");
    QVERIFY2(sheet.contains("<mergeCell ref=\"A1:E1\"/>"), qPrintable(sheet));
    QVERIFY(sheet.contains("showGridLines=\"0\""));
    QVERIFY(sheet.contains("ht=\"30\""));
    QVERIFY(sheet.contains("<col min=\"1\" max=\"1\" width=\"7.7"));
    QVERIFY(book.contains("name=\"婚礼节目单\""));
    for (const char* text : {"婚礼节目单", "顺序", "流程", "配乐", "起止时间", "备注", "Entrance &amp; &lt;March&gt;",
                             "march.wav", "00:05.00~结束", "lights down"})
        QVERIFY2(strings.contains(QString::fromUtf8(text)), text);
    // Cells of the first cue sit in sheet row 3.
    QVERIFY(QRegularExpression("<row r=\"3\"[^>]*>.*<c r=\"A3\"").match(sheet).hasMatch());
    QCOMPARE(QSettings().value("export/lastDir").toString(), folder);
}

void ProgramSheetTest::unwritableTargetFails()
{
    const QString blocker = f.path("blocker");
    QFile(blocker).open(QIODevice::WriteOnly);
    LogCapture log;
    QVERIFY(!ExcelExporter::exportToExcel(blocker + "/a.xlsx", "t", {{1, 0, "x"}}, {7}, 30));
    QVERIFY(!ExcelExporter::exportToCsv(blocker + "/a.csv", {{1, 0, "x"}}));
    QVERIFY(log.contains("[ExcelExporter] Failed to create CSV file:"));

    const int playlist = f.newPlaylist("p");
    f.addCue(playlist, f.path("none.wav"), 1000);
    FakeExportUi ui;
    ui.folder = blocker;
    QCOMPARE(ProgramSheet::exportExcelProgram({playlist, "p", "p", ""}, ui, f.cues.get()), QString());
    QCOMPARE(ui.messageTexts(), QStringList{"错误/导出失败"});
    QVERIFY(ui.results.isEmpty());

    FakeExportUi empty;
    empty.folder = f.makeFolder("x");
    ProgramSheet::exportExcelProgram({f.newPlaylist("e"), "e", "e", ""}, empty, f.cues.get());
    QCOMPARE(empty.messageTexts(), QStringList{"提示/该播放列表为空"});
}

QTEST_MAIN(ProgramSheetTest)
#include "ProgramSheetTest.moc"
