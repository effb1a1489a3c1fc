// The offload page's rules without its widgets: selection lines and totals, POS lines, what a
// progress reading shows, the task file of the close and what a resume adopts.
#include <QtTest>

#include "offloadplan.h"
#include "posspreadsheet.h"

namespace {

OffloadRun::Progress progressOf(const QList<QList<int>> &cameras, double rate = 0,
                                qint64 left = -1)
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
            c.error = QStringLiteral("open /cards/Right/DSC00004.JPG file error.");
        p.filesDone += c.filesDone;
        p.fileCount += c.fileCount;
        complete = complete && !c.failed && c.filesDone == c.fileCount;
    }
    p.complete = complete;
    p.bytesPerSecond = rate;
    p.secondsLeft = left;
    return p;
}

MyExcelObject posObject(const QString &path, int records)
{
    MyExcelObject o;
    o.filePath = path;
    o.fileName = QFileInfo(path).fileName();
    o.count = records + 1; // the header line counts too
    for (int i = 0; i < records; ++i) {
        o.timeList << uint(1700000000 + 2 * i);
        o.posList << PosPoint{113.0 + i, 23.0, 100.0};
    }
    return o;
}

} // namespace

class TestOffloadPlan : public QObject
{
    Q_OBJECT
private slots:
    void selection_data();
    void selection();
    void posLines_data();
    void posLines();
    void reading_data();
    void reading();
    void timeLeft_data();
    void timeLeft();
    void closingFile_data();
    void closingFile();
    void adoptResumed();
};

void TestOffloadPlan::selection_data()
{
    // Steps: "+camera:folder:files" selects, "-camera" deselects.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("planned");
    QTest::addColumn<bool>("setUp");

    QTest::newRow("nothing") << QStringList{} << "" << 0 << false;
    QTest::newRow("one camera") << QStringList{"+0:/c/DCIM:12"} << "/c/DCIM共12张\n" << 12 << true;
    QTest::newRow("lines in the order chosen")
        << QStringList{"+3:/f:5", "+0:/c:7"} << "/f共5张\n/c共7张\n" << 12 << true;
    QTest::newRow("deselect removes its line and count")
        << QStringList{"+3:/f:5", "+0:/c:7", "-3"} << "/c共7张\n" << 7 << true;
    QTest::newRow("all deselected is not set up")
        << QStringList{"+1:/l:4", "-1"} << "" << 0 << false;
    QTest::newRow("deselecting an unselected camera changes nothing")
        << QStringList{"+1:/l:4", "-2"} << "/l共4张\n" << 4 << true;
    QTest::newRow("selecting again replaces")
        << QStringList{"+1:/l:4", "+1:/m:9"} << "/m共9张\n" << 9 << true;
}

void TestOffloadPlan::selection()
{
    QFETCH(QStringList, steps);
    OffloadPlan plan;
    for (const QString &step : steps) {
        const QStringList parts = step.mid(1).split(QLatin1Char(':'));
        if (step.startsWith(QLatin1Char('+')))
            plan.select(parts.at(0).toInt(), parts.at(1), parts.at(2).toInt());
        else
            plan.deselect(parts.at(0).toInt());
    }
    QTEST(plan.text(), "text");
    QTEST(plan.plannedTotal(), "planned");
    QTEST(plan.isSetUp(), "setUp");
}

void TestOffloadPlan::posLines_data()
{
    // Steps: "r:path" reading starts, "d:path:records" the reader delivers, "c" cancel.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sets");

    QTest::newRow("reading") << QStringList{"r:/p/a.xls"} << "正在读取/p/a.xls\n" << 0;
    QTest::newRow("read") << QStringList{"r:/p/a.xls", "d:/p/a.xls:30"}
                          << "/p/a.xls   POS个数30添加成功 \n" << 1;
    QTest::newRow("a table without records is not added")
        << QStringList{"r:/p/a.xls", "d:/p/a.xls:0"} << "" << 0;
    QTest::newRow("the same table delivered twice counts once")
        << QStringList{"r:/p/a.xls", "d:/p/a.xls:3", "d:/p/a.xls:3"}
        << "/p/a.xls   POS个数3添加成功 \n" << 1;
    QTest::newRow("two tables in the order added")
        << QStringList{"r:/p/a.xls", "r:/p/b.xls", "d:/p/b.xls:2", "d:/p/a.xls:1"}
        << "/p/a.xls   POS个数1添加成功 \n/p/b.xls   POS个数2添加成功 \n" << 2;
    QTest::newRow("cancel removes every POS line only")
        << QStringList{"s", "r:/p/a.xls", "d:/p/a.xls:3", "c"} << "/c共2张\n" << 0;
}

void TestOffloadPlan::posLines()
{
    QFETCH(QStringList, steps);
    OffloadPlan plan;
    for (const QString &step : steps) {
        const QStringList parts = step.split(QLatin1Char(':'));
        if (parts.at(0) == QLatin1String("r"))
            plan.posReading(parts.at(1));
        else if (parts.at(0) == QLatin1String("d"))
            plan.posRead(posObject(parts.at(1), parts.at(2).toInt()));
        else if (parts.at(0) == QLatin1String("c"))
            plan.cancelPos();
        else
            plan.select(0, QStringLiteral("/c"), 2);
    }
    QTEST(plan.text(), "text");
    QTEST(int(plan.pos().size()), "sets");
    QCOMPARE(plan.posPaths().size(), plan.pos().size());
}

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
        << "/c共4张,已传1张\n/f共5张,已传2张\n" << 3 << "3.0M/s" << false;
    QTest::newRow("no file in the last second") << QList<QList<int>>{{0, 1, 4}, {3, 2, 5}} << 0.0
                                                << "/c共4张,已传1张\n/f共5张,已传2张\n" << 3
                                                << "0.0M/s" << false;
    QTest::newRow("a stopped camera shows its error")
        << QList<QList<int>>{{0, 4, 4}, {3, 2, 5, 1}} << 0.0
        << "/c共4张,已传4张\n/f共5张,已传2张  出错：open /cards/Right/DSC00004.JPG file error.\n"
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

void TestOffloadPlan::timeLeft_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("no pace yet") << qint64(-1) << "剩余时间：计算中";
    QTest::newRow("done") << qint64(0) << "剩余时间：约0秒";
    QTest::newRow("seconds") << qint64(59) << "剩余时间：约59秒";
    QTest::newRow("minutes") << qint64(65) << "剩余时间：约1分05秒";
    QTest::newRow("hours") << qint64(3 * 3600 + 7 * 60 + 30) << "剩余时间：约3小时07分";
}

void TestOffloadPlan::timeLeft()
{
    QFETCH(qint64, seconds);
    QTEST(OffloadPlan::timeLeftText(seconds), "text");
}

void TestOffloadPlan::closingFile_data()
{
    QTest::addColumn<int>("done"); // of the centre camera's 4 (front has 5, none done)
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("success");
    QTest::newRow("set up, nothing copied") << 0 << false << true;
    QTest::newRow("part copied") << 2 << true << false;
    QTest::newRow("camera done, the other not") << 4 << true << false;
}

void TestOffloadPlan::closingFile()
{
    QFETCH(int, done);
    QFETCH(bool, started);
    OffloadPlan plan;
    plan.select(0, QStringLiteral("/c"), 4);
    plan.select(3, QStringLiteral("/f"), 5);
    plan.target = QStringLiteral("/t");
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
    QVERIFY(config.volumeValue.isEmpty()); // volumes off
}

void TestOffloadPlan::adoptResumed()
{
    TaskConfig config;
    config.cameras[2].path = QStringLiteral("/r");
    config.cameras[2].planCount = 10;
    config.cameras[2].hasCount = 4;
    config.cameras[4].path = QStringLiteral("/b");
    config.cameras[4].planCount = 6;
    config.savePath = QStringLiteral("/t");
    config.splitSorties = true;
    config.volumes = true;
    config.volumeValue = QStringLiteral("2");
    OffloadPosSet set;
    set.filePath = QStringLiteral("/p/a.xls");
    set.times << 1u;
    set.positions << OffloadPosPoint{1, 2, 3};
    config.pos << set;
    config.success = false;

    OffloadPlan plan;
    plan.select(0, QStringLiteral("/old"), 3);
    plan.adopt(config);
    QVERIFY(plan.resumed);
    QVERIFY(!plan.selected(0));
    QVERIFY(plan.selected(2) && plan.selected(4));
    QCOMPARE(plan.plannedTotal(), 16);
    QCOMPARE(plan.doneTotal(), 4);
    QCOMPARE(plan.posPaths(), QStringList{"/p/a.xls"});
    // The saved set-up comes back as it went: the same file again.
    const TaskConfig again = plan.taskConfig(TaskConfig());
    QCOMPARE(again.cameras[2].hasCount, 4);
    QCOMPARE(again.volumeValue, QStringLiteral("2"));
    QVERIFY(again.splitSorties);
    QCOMPARE(again.success, false);
    QCOMPARE(plan.setup().volumeGb, 2.0);
}

QTEST_GUILESS_MAIN(TestOffloadPlan)
#include "tst_offloadplan.moc"
