#include <QtTest>
class M3U8Test : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(M3U8Test)
#include "M3U8Test.moc"
