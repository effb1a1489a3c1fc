// The simulator's own face: options, scenario files and the flights it generates.
#include <QtTest>

#include "testtools.h"

namespace {
// Runs the simulator until it reports its address (then stops it), or until it exits itself.
ToolRun runSim(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(V7_CAMSIM), QStringList{"--listen", "127.0.0.1:0"} + arguments);
    ToolRun o;
    if (!p.waitForStarted(5000))
        return o;
    while (p.state() == QProcess::Running && !o.out.contains('\n')) {
        p.waitForReadyRead(200);
        o.out += p.readAllStandardOutput();
    }
    if (p.state() == QProcess::Running) {
        p.terminate();
        p.waitForFinished(5000);
    }
    o.out += p.readAllStandardOutput();
    o.err = p.readAllStandardError();
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return o;
}
} // namespace

class tst_Camsim : public QObject
{
    Q_OBJECT

private slots:
    void refusesBadSettings_data();
    void refusesBadSettings();
    void flights();

private:
    QTemporaryDir m_dir;
};

void tst_Camsim::refusesBadSettings_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("unknown option")
        << QStringList{"--colour", "red"} << QByteArray("unknown setting 'colour'");
    QTest::newRow("slot count") << QStringList{"--slots", "15"} << QByteArray("slots:");
    QTest::newRow("share above 1") << QStringList{"--drop", "1.5"} << QByteArray("drop:");
    QTest::newRow("firmware text")
        << QStringList{"--firmware", "four"} << QByteArray("firmware: expected major.minor");
    QTest::newRow("model word") << QStringList{"--model", "X7K5"} << QByteArray("model:");
    QTest::newRow("serial too long")
        << QStringList{"--serial", "V7K5012345678901"} << QByteArray("serial:");
    QTest::newRow("missing value") << QStringList{"--seed"} << QByteArray("--seed needs a value");
    QTest::newRow("listen address")
        << QStringList{"--listen", "localhost"} << QByteArray("--listen wants IPV4:PORT");
    const QString bad = m_dir.filePath("bad.conf");
    writeFile(bad, "model = V7K5\nsatellites twelve\n");
    QTest::newRow("scenario line without value")
        << QStringList{"--scenario", bad} << QByteArray("bad.conf:2: expected key = value");
    QTest::newRow("scenario missing") << QStringList{"--scenario", m_dir.filePath("missing.conf")}
                                      << QByteArray("cannot read scenario");
}

void tst_Camsim::refusesBadSettings()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, message);
    const ToolRun o = runSim(args);
    QCOMPARE(o.exitCode, 2);
    QVERIFY2(o.err.contains(message), o.err.constData());
    QVERIFY(!o.out.contains("listening"));
}

// The flights of a scenario file (comments, blanks and spaces around keys and values) and of
// the options. Slot 2's first record carries the time form asked for. Records count up from 1,
// fly at about 25 (speed) and change heading by 180 after each line of 20 exposures; every
// tenth back-lens trigger is missed; the same seed gives the same flights.
void tst_Camsim::flights()
{
    const QString good = m_dir.filePath("good.conf");
    QVERIFY(writeFile(good, "# a three-lens camera with faults\nmodel = V7K3\n  serial=V7K3S77   \n"
                            "camera-state = 0x1b # camera 3\n\nslots = 3\nrecords = 4\n"));
    const QString exportDir = m_dir.filePath("scenario-raw");
    QVERIFY(QDir().mkpath(exportDir));
    const ToolRun scenario = runSim({"--scenario", good, "--export-dir", exportDir});
    QVERIFY2(scenario.out.startsWith("listening on 127.0.0.1:"), scenario.err.constData());
    QVERIFY(scenario.err.contains("V7K3S77 firmware 4.41, 3 POS files"));
    QCOMPARE(fileBytes(exportDir + "/slot01.bin").size(), 4 * 32);
    QCOMPARE(fileBytes(exportDir + "/slot03.bin").size(), 18 * 32);
    QCOMPARE(fileBytes(exportDir + "/slot04.bin").size(), 0);

    QByteArray slot2;
    const std::pair<const char *, int> runs[] = {
        {"unix", 2}, {"calendar", 1}, {"none", 0}, {"unix", 2}};
    int run = 0;
    for (const auto &[mode, flags] : runs) {
        const QString dir = m_dir.filePath(QStringLiteral("flights-%1").arg(++run));
        QVERIFY(QDir().mkpath(dir));
        const ToolRun o =
            runSim({"--records", "45", "--time-mode", mode, "--export-dir", dir, "--seed", "7"});
        QVERIFY(o.out.startsWith("listening on"));
        const QByteArray flights = fileBytes(dir + "/slot02.bin");
        QCOMPARE(flights.size(), 52 * 52);
        QCOMPARE(int(uchar(flights[30])), flags);
        if (slot2.isEmpty())
            slot2 = flights;
        else if (flags == 2)
            QCOMPARE(flights, slot2);
    }
    const auto *r = reinterpret_cast<const uchar *>(slot2.constData());
    int turns = 0;
    for (int i = 0; i < 52; ++i) {
        const uchar *rec = r + 52 * i;
        QCOMPARE(int(qFromBigEndian<qint16>(rec)), i + 1);
        QVERIFY(qAbs(qFromBigEndian<qint16>(rec + 20) - 25) <= 3);
        const int heading = qFromBigEndian<quint16>(rec + 6);
        if (i > 0 && heading != qFromBigEndian<quint16>(rec - 52 + 6)) {
            ++turns;
            QCOMPARE(qAbs(heading - int(qFromBigEndian<quint16>(rec - 52 + 6))), 18000);
        }
    }
    QCOMPARE(turns, 2);
    QCOMPARE(qFromBigEndian<qint32>(r + 52 * 9 + 39), -1);
}

QTEST_GUILESS_MAIN(tst_Camsim)
#include "tst_camsim.moc"
