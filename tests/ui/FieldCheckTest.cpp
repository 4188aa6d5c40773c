#include <QTest>

#include "engine/FieldCheck.h"

class FieldCheckTest : public QObject {
    Q_OBJECT
private slots:
    void numberReading_data();
    void numberReading();
    void bounds_data();
    void bounds();
    void messages();
};

void FieldCheckTest::numberReading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("rounded");
    QTest::newRow("plain") << "20" << true << 20.0 << 20;
    QTest::newRow("blanks around") << " 20 " << true << 20.0 << 20;
    QTest::newRow("tab before") << "\t7" << true << 7.0 << 7;
    QTest::newRow("decimal zero") << "20.0" << true << 20.0 << 20;
    QTest::newRow("trailing point") << "20." << true << 20.0 << 20;
    QTest::newRow("leading point") << ".5" << true << 0.5 << 0;
    QTest::newRow("half up to even") << "2.5" << true << 2.5 << 2;
    QTest::newRow("half to even above") << "3.5" << true << 3.5 << 4;
    QTest::newRow("minus zero") << "-0" << true << 0.0 << 0;
    QTest::newRow("plus sign") << "+12" << true << 12.0 << 12;
    QTest::newRow("negative") << "-1" << true << -1.0 << -1;
    QTest::newRow("leading zeros") << "007" << true << 7.0 << 7;
    QTest::newRow("empty") << "" << false << 0.0 << 0;
    QTest::newRow("blanks only") << "   " << false << 0.0 << 0;
    QTest::newRow("letters") << "abc" << false << 0.0 << 0;
    QTest::newRow("number then letters") << "20a" << false << 0.0 << 0;
    QTest::newRow("two numbers") << "1 2" << false << 0.0 << 0;
    QTest::newRow("sign alone") << "-" << false << 0.0 << 0;
    QTest::newRow("point alone") << "." << false << 0.0 << 0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0 << 0;
    QTest::newRow("exponent") << "1e3" << false << 0.0 << 0;
    QTest::newRow("comma") << "1,5" << false << 0.0 << 0;
    QTest::newRow("blank after sign") << "- 5" << false << 0.0 << 0;
    QTest::newRow("huge") << "99999999999" << true << 99999999999.0 << 0;
}

void FieldCheckTest::numberReading()
{
    QFETCH(QString, text);
    QFETCH(bool, isNumber);
    QFETCH(double, value);
    QFETCH(int, rounded);
    const std::optional<double> v = FieldCheck::numberOf(text.toStdString());
    QCOMPARE(v.has_value(), isNumber);
    if (v)
        QCOMPARE(*v, value);
    QCOMPARE(int(FieldCheck::valueOf(text.toStdString())), rounded);
}

void FieldCheckTest::bounds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::addColumn<bool>("passes");
    QTest::newRow("low bound") << "60" << 60 << 2000 << true;
    QTest::newRow("high bound") << "2000" << 60 << 2000 << true;
    QTest::newRow("below") << "59" << 60 << 2000 << false;
    QTest::newRow("above") << "2001" << 60 << 2000 << false;
    QTest::newRow("fraction inside") << "60.5" << 60 << 2000 << false;
    QTest::newRow("fraction just below") << "59.9" << 60 << 2000 << false;
    QTest::newRow("whole with decimals") << "100.00" << 60 << 2000 << true;
    QTest::newRow("minus zero at 0") << "-0" << 0 << 255 << true;
    QTest::newRow("minus one at 0") << "-1" << 0 << 255 << false;
    QTest::newRow("zero at 1") << "0" << 1 << 30 << false;
    QTest::newRow("blanks") << " 20 " << 1 << 30 << true;
    QTest::newRow("not a number") << "20a" << 1 << 30 << false;
    QTest::newRow("empty") << "" << 0 << 255 << false;
}

void FieldCheckTest::bounds()
{
    QFETCH(QString, text);
    QFETCH(int, lo);
    QFETCH(int, hi);
    QFETCH(bool, passes);
    QCOMPARE(FieldCheck::passes(text.toStdString(), {lo, hi}), passes);
}

void FieldCheckTest::messages()
{
    QCOMPARE(FieldCheck::message({60, 2000}),
             "Please insert a integer number greater than or equal to 60 and less than or equal "
             "to 2000.");
    QCOMPARE(FieldCheck::message({0, 255}),
             "Please insert a integer number greater than or equal to 0 and less than or equal to "
             "255.");
}

QTEST_APPLESS_MAIN(FieldCheckTest)
#include "FieldCheckTest.moc"
