#include <QtTest>
class ProjectFileTest : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(ProjectFileTest)
#include "ProjectFileTest.moc"
