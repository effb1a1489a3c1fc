// The planning calculator without widgets: the refusals and their order, and the figures
// against the photogrammetry worked out here. The scale table and the clamp are typed into the
// page in tst_planningpage.
#include <QtTest>

#include <cmath>

#include "flightplan.h"

namespace {
PlanInput input(const QString &gsd, const QString &focal, const QString &forward,
                const QString &side, const QString &speed = QStringLiteral("20"))
{
    PlanInput in;
    in.gsd = gsd;
    in.focal = focal;
    in.forwardOverlap = forward;
    in.sideOverlap = side;
    in.speed = speed;
    return in;
}
} // namespace

Q_DECLARE_METATYPE(PlanInput)

class tst_FlightPlan : public QObject
{
    Q_OBJECT
private slots:
    void refusals_data();
    void refusals();
    void figures_data();
    void figures();
};

void tst_FlightPlan::refusals_data()
{
    QTest::addColumn<PlanInput>("in");
    QTest::addColumn<QString>("message");
    const QString illegal = QStringLiteral("输入值非法");
    const QString gsdLimit = QStringLiteral("GSD输入应小于1000!");
    const QString focalLimit = QStringLiteral("焦距输入应小于100!");
    QTest::newRow("GSD 1000") << input("1000", "25", "80", "80") << gsdLimit;
    QTest::newRow("GSD 999.9 passes") << input("999.9", "25", "80", "80") << "";
    QTest::newRow("focal 100") << input("5", "100", "80", "80") << focalLimit;
    QTest::newRow("focal 99.99 passes") << input("5", "99.99", "80", "80") << "";
    QTest::newRow("GSD exponent") << input("1e2", "25", "80", "80") << illegal;
    QTest::newRow("GSD trailing point") << input("5.", "25", "80", "80") << illegal;
    QTest::newRow("overlap plus") << input("5", "25", "+80", "80") << illegal;
    QTest::newRow("focal trailing point") << input("5", "25.", "80", "80") << illegal;
    QTest::newRow("speed exponent") << input("5", "25", "80", "80", "2e1") << illegal;
    QTest::newRow("empty GSD passes") << input("", "25", "80", "80") << "";
    // The order: GSD limit, then the focal limit, then the other texts.
    QTest::newRow("GSD before focal") << input("1000", "100", "80", "80") << gsdLimit;
    QTest::newRow("focal before overlap") << input("5", "100", "+80", "80") << focalLimit;
    QTest::newRow("GSD text before its limit") << input("1000.", "25", "80", "80") << illegal;
}

void tst_FlightPlan::refusals()
{
    QFETCH(PlanInput, in);
    QTEST(FlightPlan::calculate(in).message, "message");
}

void tst_FlightPlan::figures_data()
{
    QTest::addColumn<PlanInput>("in");
    QTest::newRow("start values") << input("5", "25", "80", "80");
    QTest::newRow("fine GSD, fast aircraft") << input("2.5", "25", "80", "70", "45");
    QTest::newRow("slow") << input("10", "16", "60", "30", "8");
    QTest::newRow("no ground speed") << input("5", "25", "80", "80", "");
    QTest::newRow("empty GSD") << input("", "25", "80", "80");
    QTest::newRow("full overlap") << input("5", "25", "100", "100");
}

// The camera: 5640 x 3040 pixels of 4.16 um, the long side across the track.
void tst_FlightPlan::figures()
{
    QFETCH(PlanInput, in);
    const PlanResult plan = FlightPlan::calculate(in);
    QVERIFY2(plan.ok(), qPrintable(plan.message));
    const double gsd = in.gsd.toDouble() / 100;
    const double focal = in.focal.toDouble();
    const double forward = in.forwardOverlap.toDouble() / 100;
    const double side = in.sideOverlap.toDouble() / 100;
    QCOMPARE(plan.flyingHeight, int(std::floor(gsd * focal / 1000 / 4.16e-6 + 1e-6)));
    const int spacing = int(std::floor(gsd * 3040 * (1 - forward) + 1e-6));
    QCOMPARE(plan.exposureSpacing, spacing);
    QCOMPARE(plan.lineSpacing, int(std::floor(gsd * 5640 * (1 - side) + 1e-6)));
    QCOMPARE(plan.footprintAcross, gsd * 5640);
    QCOMPARE(plan.footprintAlong, gsd * 3040);
    const double speed = in.speed.toDouble();
    if (speed > 0) {
        QCOMPARE(plan.shortestInterval, spacing / speed);
        QCOMPARE(plan.tooFast, spacing / speed < 1.0);
    } else {
        QVERIFY(plan.shortestInterval < 0);
        QVERIFY(!plan.tooFast);
        QCOMPARE(FlightPlan::intervalText(plan.shortestInterval), QString());
    }
}

QTEST_GUILESS_MAIN(tst_FlightPlan)
#include "tst_flightplan.moc"
