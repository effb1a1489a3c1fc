// The offload page's rules that its widget tests cannot reach easily: what a progress reading
// shows when an engine stopped on an error or the card's count changed, and the flag of the
// task file written at the close.
#include <QtTest>

#include "offloadplan.h"
#include "posspreadsheet.h"

namespace {

OffloadRun::Progress progressOf(const QList<QList<int>> &cameras, double rate = 0)
{
    // Each row: camera, files done, file count, failed.
    OffloadRun::Progress p;
    bool complete = !cameras.isEmpty();
    for (const QList<int> &row : cameras) {
        OffloadRun::Camera &c = p.cameras[row.at(0)];
        c.takesPart = true;
        c.filesDone = row.at(1);
        c.fileCount = row.at(2);
        c.failed = row.value(3) != 0;
        if (c.failed)
            c.errorShown = QStringLiteral("写入失败（磁盘空间不足）");
        p.filesDone += c.filesDone;
        p.fileCount += c.fileCount;
        complete = complete && !c.failed && c.filesDone == c.fileCount;
    }
    p.complete = complete;
    p.bytesPerSecond = rate;
    return p;
}

} // namespace

class TestOffloadPlan : public QObject
{
    Q_OBJECT
private slots:
    void reading_data();
    void reading();
    void closingFile_data();
    void closingFile();
    void posChoice_data();
    void posChoice();
};

void TestOffloadPlan::reading_data()
{
    QTest::addColumn<QList<QList<int>>>("cameras"); // camera, done, count, failed
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<bool>("complete");

    QTest::newRow("running, icon order centre before front")
        << QList<QList<int>>{{3, 2, 5}, {0, 1, 4}} << 3.0 * 1048576
        << "/c共4张,已传1张\n/f共5张,已传2张\n"
        << 3 << "3.0M/s" << false;
    QTest::newRow("a stopped camera shows its error")
        << QList<QList<int>>{{0, 4, 4}, {3, 2, 5, 1}} << 0.0
        << "/c共4张,已传4张\n/f共5张,已传2张  出错：写入失败（磁盘空间不足）\n"
        << 6 << "0.0M/s" << false;
    QTest::newRow("complete") << QList<QList<int>>{{0, 4, 4}, {3, 5, 5}} << 1.5 * 1048576
                              << "/c共4张,已传4张\n/f共5张,已传5张\n传输已完成" << 9 << "1.5M/s"
                              << true;
    QTest::newRow("the engine's count wins over the chosen one")
        << QList<QList<int>>{{0, 6, 6}, {3, 5, 5}} << 0.0
        << "/c共6张,已传6张\n/f共5张,已传5张\n传输已完成" << 11 << "0.0M/s" << true;
}

void TestOffloadPlan::reading()
{
    QFETCH(QList<QList<int>>, cameras);
    QFETCH(double, rate);
    QFETCH(int, value);
    OffloadPlan plan;
    plan.select(3, QStringLiteral("/f"), 5);
    plan.select(0, QStringLiteral("/c"), 4);
    const OffloadPlan::Reading r = plan.read(progressOf(cameras, rate));
    QTEST(r.text, "text");
    QCOMPARE(r.value, value);
    QCOMPARE(r.maximum, plan.plannedTotal());
    QTEST(r.speed, "speed");
    QTEST(r.complete, "complete");
    QCOMPARE(plan.doneTotal(), value);
}

void TestOffloadPlan::closingFile_data()
{
    QTest::addColumn<int>("done"); // of the centre camera's 4 (front has 5, none done)
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("volume"); // the size text and unit entered; empty: volumes off
    QTest::addColumn<double>("volumeGb");
    QTest::newRow("set up, nothing copied") << 0 << false << true << "" << 0.0;
    QTest::newRow("part copied, volumes in GB") << 2 << true << false << "0.30 GB" << 0.3;
    QTest::newRow("camera done, volumes in MB") << 4 << true << false << "500 MB" << 500 / 1024.0;
}

void TestOffloadPlan::closingFile()
{
    QFETCH(int, done);
    QFETCH(bool, started);
    OffloadPlan plan;
    plan.select(0, QStringLiteral("/c"), 4);
    plan.select(3, QStringLiteral("/f"), 5);
    plan.target = QStringLiteral("/t");
    QFETCH(QString, volume);
    plan.volumes = !volume.isEmpty();
    plan.volumeText = volume.section(QLatin1Char(' '), 0, 0);
    plan.unit = volume.isEmpty() ? QStringLiteral("GB") : volume.section(QLatin1Char(' '), 1);
    if (started)
        plan.read(progressOf({{0, done, 4}, {3, 0, 5}}));
    TaskConfig engine;
    engine.cameras[0].zipPath = QStringLiteral("/t/Center/pack1.zip");
    engine.cameras[0].zipName = QStringLiteral("pack1");
    const TaskConfig config = plan.taskConfig(engine);
    QTEST(config.success, "success");
    QCOMPARE(config.cameras[0].path, QStringLiteral("/c"));
    QCOMPARE(config.cameras[0].planCount, 4);
    QCOMPARE(config.cameras[0].hasCount, done);
    QCOMPARE(config.cameras[0].zipName, QStringLiteral("pack1"));
    QCOMPARE(config.cameras[3].planCount, 5);
    QVERIFY(config.cameras[1].path.isEmpty());
    QCOMPARE(config.savePath, QStringLiteral("/t"));
    // The text as entered, and the same size once resumed from it.
    QCOMPARE(config.volumeValue, plan.volumeText);
    TaskConfig back;
    QVERIFY(TaskConfig::fromXml(TaskConfig::toXml(config), &back));
    OffloadPlan resumed;
    resumed.adopt(back);
    QCOMPARE(resumed.volumeText, plan.volumeText);
    QTEST(resumed.setup().volumeGb, "volumeGb");
}

// What holds up the start while POS tables are chosen: one still being read, or one refused
// until it is read again or the choice is cancelled. Steps: "read a" (the reader starts),
// "refuse a", "good a" (records arrive), "empty a" (no records, no refusal), "cancel".
void TestOffloadPlan::posChoice_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<int>("tables");
    QTest::addColumn<int>("lines");

    QTest::newRow("still reading") << QStringList{"read a"} << true << "" << 0 << 1;
    QTest::newRow("read") << QStringList{"read a", "good a"} << false << "" << 1 << 1;
    QTest::newRow("refused beside a good one")
        << QStringList{"read b", "good b", "read a", "refuse a", "empty a"} << false
        << "/p/a.xls: why" << 1 << 2;
    QTest::newRow("refused, read again, now good")
        << QStringList{"read a", "refuse a", "empty a", "read a", "good a"} << false << "" << 1
        << 1;
    QTest::newRow("refused, then cancelled")
        << QStringList{"read a", "refuse a", "empty a", "cancel"} << false << "" << 0 << 0;
    QTest::newRow("no records without a refusal")
        << QStringList{"read a", "empty a"} << false << "" << 0 << 0;
}

void TestOffloadPlan::posChoice()
{
    QFETCH(QStringList, steps);
    OffloadPlan plan;
    for (const QString &step : steps) {
        const QString path = QStringLiteral("/p/%1.xls").arg(step.section(QLatin1Char(' '), 1));
        MyExcelObject object;
        object.filePath = path;
        object.count = 2;
        if (step.startsWith(QLatin1String("read"))) {
            plan.posReading(path);
        } else if (step.startsWith(QLatin1String("refuse"))) {
            plan.posRefused(path, path + QStringLiteral(": why"));
        } else if (step.startsWith(QLatin1String("good"))) {
            object.posList = {PosPoint{113, 23, 100}};
            object.timeList = {1};
            QVERIFY(plan.posRead(object));
        } else if (step.startsWith(QLatin1String("empty"))) {
            QVERIFY(!plan.posRead(object));
        } else {
            plan.cancelPos();
        }
    }
    QTEST(plan.posPending(), "pending");
    QTEST(plan.posRefusal(), "refusal");
    QTEST(int(plan.pos().size()), "tables");
    QTEST(int(plan.text().count(QLatin1Char('\n'))), "lines");
}

QTEST_GUILESS_MAIN(TestOffloadPlan)
#include "tst_offloadplan.moc"
