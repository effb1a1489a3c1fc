// The run that the page and `v7tool offload` share, on real cards of sample photos: byte
// counts, time left that counts only this run's own work, the requests' answers and the end.
#include <QtTest>

#include "offloadfixture.h"
#include "offloadrun.h"
#include "phototagstep.h"
#include "posspreadsheet.h"
#include "sortieblocks.h"

namespace {

constexpr int Photos = 4;

bool waitUntil(const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 60000)
            return false;
        QTest::qWait(20);
    }
    return true;
}

quint64 bytesBelow(const QString &folder)
{
    quint64 total = 0;
    for (const QString &file : OffloadFixture::filesBelow(folder))
        total += quint64(QFileInfo(QDir(folder).filePath(file)).size());
    return total;
}

} // namespace

class TestOffloadRun : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void resumedWorkIsNotPace();
    void requestsAnswer_data();
    void requestsAnswer();

private:
    OffloadSession::Setup setup() const;
    QTemporaryDir m_dir;
    QString m_state;
};

void TestOffloadRun::initTestCase()
{
    // The left camera holds before writing its third file until it is paused, once.
    // In the resumed run it holds again before its fourth file, with nothing new done yet.
    qputenv("V7_OFFLOAD_FAULT", "1:2:start:wait,1:3:start:wait");
    for (int camera = 0; camera < Cameras::Count; ++camera)
        QVERIFY(OffloadFixture::makeCard(
            m_dir.filePath(QStringLiteral("cards/") + QLatin1String(Cameras::folderName(camera))),
            Photos, 0, camera));
}

void TestOffloadRun::init()
{
    m_state = m_dir.filePath(QStringLiteral("state-") + QTest::currentDataTag() +
                             QTest::currentTestFunction());
    QDir(m_dir.filePath(QStringLiteral("target"))).removeRecursively();
}

OffloadSession::Setup TestOffloadRun::setup() const
{
    OffloadSession::Setup s;
    for (int camera = 0; camera < Cameras::Count; ++camera)
        s.sources[camera] = m_dir.filePath(QStringLiteral("cards/") +
                                           QLatin1String(Cameras::folderName(camera)));
    s.target = m_dir.filePath(QStringLiteral("target"));
    return s;
}

void TestOffloadRun::resumedWorkIsNotPace()
{
    QString error;
    {
        OffloadRun first;
        first.setStateFolder(m_state);
        QVERIFY2(first.startNow(setup(), &error), qPrintable(error));
        // Held before writing its third file, with the two before it written but not yet
        // committed; the pause commits them.
        QVERIFY(waitUntil([&] {
            const OffloadRun::Progress p = first.progress();
            return p.filesDone == 4 * Photos && p.cameras[1].filesDone == 0;
        }));
        first.pauseNow();
        const OffloadRun::Progress p = first.progress();
        QCOMPARE(p.cameras[1].filesDone, 2);
        QVERIFY(!p.running);
        QVERIFY(!p.complete);
        QVERIFY(first.saveConfig(false));
    }
    TaskConfig config;
    QVERIFY(TaskConfig::resumePending(m_state + QStringLiteral("/Taskconfig.xml")));
    QVERIFY(TaskConfig::read(m_state + QStringLiteral("/Taskconfig.xml"), &config));

    OffloadRun second;
    second.setStateFolder(m_state);
    QVERIFY2(second.resumeNow(config, true, &error), qPrintable(error));
    // Held before its fourth file with the third in hand: the work of the first run counts as
    // done, but gives no pace for what is left.
    QVERIFY(waitUntil([&] { return second.progress().filesDone == 4 * Photos + 2; }));
    OffloadRun::Progress p = second.progress();
    QCOMPARE(p.cameras[1].filesDone, 2);
    QVERIFY(p.bytesDone > 0 && p.bytesDone < p.bytesTotal);
    QCOMPARE(p.secondsLeft, qint64(-1));
    QVERIFY(p.running);
    second.pauseNow();
    QVERIFY2(second.resumePausedNow(&error), qPrintable(error));
    QVERIFY(waitUntil([&] { return second.progress().complete; }));
    p = second.progress();
    QCOMPARE(p.bytesDone, p.bytesTotal);
    QCOMPARE(p.bytesTotal, bytesBelow(m_dir.filePath(QStringLiteral("cards"))));
    QCOMPARE(p.secondsLeft, qint64(0));
    QStringList messages;
    QCOMPARE(second.finishNow(&messages), 0);
    QVERIFY(!TaskConfig::resumePending(m_state + QStringLiteral("/Taskconfig.xml")));
    QCOMPARE(OffloadFixture::filesBelow(setup().target + QStringLiteral("/Left"))
                 .filter(QStringLiteral(".JPG"))
                 .size(),
             Photos);
}

void TestOffloadRun::requestsAnswer_data()
{
    QTest::addColumn<bool>("split");
    QTest::addColumn<int>("blocks");
    QTest::newRow("one folder per camera") << false << 0;
    QTest::newRow("split into two sorties") << true << 2;
}

void TestOffloadRun::requestsAnswer()
{
    QFETCH(bool, split);
    OffloadSession::Setup s = setup();
    s.splitSorties = split;
    // Two flights of two exposures each: photos 1-2 are sortie 1, 3-4 sortie 2.
    for (int flight = 0; flight < 2; ++flight) {
        MyExcelObject table;
        table.filePath = QStringLiteral("/pos/flight%1.xls").arg(flight + 1);
        for (int i = 0; i < 2; ++i) {
            table.timeList << uint(1714000000 + 600 * flight + 2 * i);
            table.posList << PosPoint{113.0 + i / 100.0, 23.0, 120.0 + flight};
        }
        s.pos << PhotoTagStep::posSet(table);
    }
    OffloadRun run;
    run.setStateFolder(m_state);
    QSignalSpy started(&run, &OffloadRun::started);
    QSignalSpy finished(&run, &OffloadRun::finished);
    run.requestStart(s);
    QVERIFY(run.busy());
    QVERIFY(started.wait(30000));
    QVERIFY(!run.busy());
    QCOMPARE(started.first().at(0).toBool(), true);
    QVERIFY(waitUntil([&] { return run.progress().complete; }));
    const OffloadRun::Progress p = run.progress();
    QCOMPARE(p.filesDone, 5 * Photos);
    QCOMPARE(p.fileCount, 5 * Photos);
    for (const OffloadRun::Camera &c : p.cameras)
        QVERIFY(c.takesPart && !c.failed && c.bytesDone == c.bytesTotal);

    run.requestFinish();
    QVERIFY(finished.wait(30000));
    QTEST(finished.first().at(0).toInt(), "blocks");
    for (int sortie = 1; sortie <= 2; ++sortie)
        QCOMPARE(QFile::exists(QDir(s.target).filePath(SortieBlocks::fileName(sortie))), split);
    QVERIFY(!TaskConfig::resumePending(run.configPath()));
}

QTEST_MAIN(TestOffloadRun)
#include "tst_offloadrun.moc"
