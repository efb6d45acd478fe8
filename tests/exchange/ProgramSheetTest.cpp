#include <QtTest>
class ProgramSheetTest : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(ProgramSheetTest)
#include "ProgramSheetTest.moc"
