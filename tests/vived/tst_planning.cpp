// Flying height, exposure spacing and line spacing, as the planning page truncates them.
#include "v7k.h"

#include <QTest>

class tst_Planning : public QObject
{
    Q_OBJECT

private slots:
    void figures_data();
    void figures();
};

void tst_Planning::figures_data()
{
    QTest::addColumn<double>("gsdCm");
    QTest::addColumn<double>("focal");
    QTest::addColumn<int>("forward");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("baseline");
    QTest::addColumn<int>("lineSpacing");
    // The page's start values, then the scale presets and the overlap limits.
    QTest::newRow("start values") << 5.0 << 25.0 << 80 << 80 << 300 << 30 << 56;
    QTest::newRow("1:1000") << 10.0 << 25.0 << 80 << 80 << 600 << 60 << 112;
    QTest::newRow("1:5000, 35 mm") << 50.0 << 35.0 << 70 << 50 << 4206 << 456 << 1410;
    QTest::newRow("no overlap") << 2.0 << 25.0 << 0 << 0 << 120 << 60 << 112;
    QTest::newRow("full overlap") << 5.0 << 25.0 << 100 << 100 << 300 << 0 << 0;
    QTest::newRow("empty GSD field") << 0.0 << 25.0 << 80 << 80 << 0 << 0 << 0;
    // What the page never passes gives zero, not a figure.
    QTest::newRow("negative GSD") << -5.0 << 25.0 << 80 << 80 << 0 << 0 << 0;
    QTest::newRow("GSD not a number") << qQNaN() << 25.0 << 80 << 80 << 0 << 0 << 0;
    QTest::newRow("infinite GSD") << qInf() << 25.0 << 80 << 80 << 0 << 0 << 0;
    QTest::newRow("overlap past 100") << 5.0 << 25.0 << 150 << 80 << 300 << 0 << 56;
}

void tst_Planning::figures()
{
    QFETCH(double, gsdCm);
    QFETCH(double, focal);
    QFETCH(int, forward);
    QFETCH(int, side);
    // The page converts in double and stores floats.
    const float gsd = float(gsdCm / 100);
    QTEST(int(v7k_calc_alt_by_GSD(gsd, focal)), "height");
    QTEST(int(v7k_calc_baseline(gsd, float(forward / 100.0))), "baseline");
    QTEST(int(v7k_calc_sidelap(gsd, float(side / 100.0))), "lineSpacing");
}

QTEST_GUILESS_MAIN(tst_Planning)
#include "tst_planning.moc"
