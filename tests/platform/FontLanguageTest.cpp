#include "platform/FontLanguage.h"

#include <QApplication>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>
#include <QtTest>

// Chinese text of the interface is drawn with the Simplified Chinese face
// under a locale that is not Chinese. main() sets an English locale first.
class FontLanguageTest : public QObject {
    Q_OBJECT

private:
    // The families that draw a few Han characters in `font`.
    static QStringList hanFamilies(const QFont& font)
    {
        QTextLayout layout(QStringLiteral("播放列表直骨"), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        QStringList families;
        for (const QGlyphRun& run : layout.glyphRuns())
            families << run.rawFont().familyName();
        return families;
    }

private Q_SLOTS:
    void hanCharactersUseTheSimplifiedFace_data();
    void hanCharactersUseTheSimplifiedFace();
};

void FontLanguageTest::hanCharactersUseTheSimplifiedFace_data()
{
    QTest::addColumn<QFont>("font");
    QTest::newRow("application font") << QApplication::font();
    QTest::newRow("monospace, as in the cue table") << QFont(QStringLiteral("monospace"));
    QTest::newRow("a family this system lacks") << QFont(QStringLiteral("Academy Engraved LET"));
}

void FontLanguageTest::hanCharactersUseTheSimplifiedFace()
{
    QFETCH(QFont, font);
    const QStringList families = hanFamilies(font);
    QVERIFY(!families.isEmpty());
    for (const QString& family : families)
        QVERIFY2(!family.contains(QStringLiteral(" JP")), qPrintable(families.join(", ")));
    QVERIFY2(families.filter(QStringLiteral("CJK SC")).size() == families.size(), qPrintable(families.join(", ")));
}

int main(int argc, char* argv[])
{
    qputenv("LANG", QByteArrayLiteral("en_US.UTF-8"));
    qputenv("LC_ALL", QByteArrayLiteral("en_US.UTF-8"));
    qunsetenv("FC_LANG");
    FontLanguage::useSimplifiedChinese();
    QApplication app(argc, argv);
    FontLanguageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FontLanguageTest.moc"
