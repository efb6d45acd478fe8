#include "app/MinSecSpinBox.h"

#include <QLineEdit>
#include <QtTest>

class MinSecSpinBoxTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void textFromValue_data();
    void textFromValue();
    void valueFromText_data();
    void valueFromText();
    void acceptsAnyTyping();
    void typedTextBecomesTheValue_data();
    void typedTextBecomesTheValue();
};

void MinSecSpinBoxTest::textFromValue_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << 0.0 << "00.00.00";
    QTest::newRow("minute and a half second") << 65.5 << "01.05.50";
    QTest::newRow("centiseconds are cut, not rounded") << 1.239 << "00.01.23";
    QTest::newRow("milliseconds round to nearest") << 1.2396 << "00.01.24";
    QTest::newRow("hour") << 3600.0 << "60.00.00";
    QTest::newRow("three-digit minutes stay whole") << 6000.0 << "100.00.00";
    QTest::newRow("form maximum") << 9999.0 << "166.39.00";
    QTest::newRow("last centisecond of a minute") << 59.99 << "00.59.99";
}

void MinSecSpinBoxTest::textFromValue()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    MinSecSpinBox box;
    QCOMPARE(box.textFromValue(seconds), text);
}

void MinSecSpinBoxTest::valueFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("seconds");

    QTest::newRow("shown form") << "01.05.50" << 65.5;
    QTest::newRow("dot means minutes.seconds") << "1.5" << 65.0;
    QTest::newRow("minutes and thirty seconds") << "1.30" << 90.0;
    QTest::newRow("parts after the third ignored") << "1.2.3.4" << 62.03;
    QTest::newRow("plain seconds") << "90" << 90.0;
    QTest::newRow("plain seconds with blanks") << "  90 \t" << 90.0;
    QTest::newRow("not a number") << "abc" << 0.0;
    QTest::newRow("dotted reading fails, no decimal either") << "2.x" << 0.0;
    QTest::newRow("empty minutes falls back to decimal") << ".5" << 0.5;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("huge minutes do not overflow") << "2000000000.0" << 120000000000.0;
}

void MinSecSpinBoxTest::valueFromText()
{
    QFETCH(QString, text);
    QFETCH(double, seconds);
    MinSecSpinBox box;
    QCOMPARE(box.valueFromText(text), seconds);
}

void MinSecSpinBoxTest::acceptsAnyTyping()
{
    MinSecSpinBox box;
    QString input = QStringLiteral("x1..?");
    int pos = 2;
    QCOMPARE(box.validate(input, pos), QValidator::Acceptable);
    QCOMPARE(input, QStringLiteral("x1..?"));
    QCOMPARE(pos, 2);
}

void MinSecSpinBoxTest::typedTextBecomesTheValue_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("shown");

    QTest::newRow("minutes.seconds.centis") << "01.22.50" << 82.5 << "01.22.50";
    QTest::newRow("seconds") << "75" << 75.0 << "01.15.00";
    QTest::newRow("garbage becomes zero") << "abc" << 0.0 << "00.00.00";
    QTest::newRow("above the range is clamped") << "200.00.00" << 9999.0 << "166.39.00";
}

void MinSecSpinBoxTest::typedTextBecomesTheValue()
{
    QFETCH(QString, typed);
    QFETCH(double, value);
    QFETCH(QString, shown);

    // Set up as the cue settings bar does.
    MinSecSpinBox box;
    box.setRange(0, 9999);
    box.setSingleStep(0.01);
    box.setValue(12.0);
    box.findChild<QLineEdit*>()->setText(typed);
    box.interpretText();
    QCOMPARE(box.value(), value);
    QCOMPARE(box.text(), shown);
}

QTEST_MAIN(MinSecSpinBoxTest)
#include "MinSecSpinBoxTest.moc"
