// v7tool status run as a crew would run it, against the simulator and against silence, once and
// watching; the one program at a time on the camera; every command's help.
#include "linkfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include "cameralink.h"
#include "testtools.h"

namespace {
ToolRun status(const QString &address, const QStringList &arguments)
{
    return runTool(V7_TOOL, QStringList{"status"} + arguments, {"V7_CAMERA_ADDRESS=" + address});
}
} // namespace

class tst_V7ToolStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_silent.start()); }
    void reportsTheCamera_data();
    void reportsTheCamera();
    void silentCameraFails();
    void oneProgramAtATime();
    void helpOfEveryCommand_data();
    void helpOfEveryCommand();

private:
    // Holds a loopback port and never answers: the camera of the runs that need none.
    FakeCamera m_silent;
};

void tst_V7ToolStatus::reportsTheCamera_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("camera"); // good: the cameras in order, 1 per good one
    // POS bytes: 14 slots of 120 + 7 (s - 1) records of 52 bytes; then 2 slots of 32-byte ones.
    QTest::newRow("five-lens, camera 3 faulty")
        << "--serial V7K5X0001 --camera-state 0x1b --satellites 3"
        << "V7K5X0001 V7K5 4.41 hardware 2 good 11011 gps 1 satellites 3 pos 120484 gear 0";
    QTest::newRow("older firmware: set bit is a fault")
        << "--model V7K3 --firmware 3.2 --camera-state 0x04 --gps 0 --slots 2 --records 10 "
           "--hardware 1 --landing-gear 1"
        << "V7K32019032801 V7K3 3.2 hardware 1 good 11011 gps 0 satellites 0 pos 864 gear 1";
}

// What the library asks for by itself on start and what the camera's status says, as the tool
// reports it.
void tst_V7ToolStatus::reportsTheCamera()
{
    QFETCH(QString, args);
    CamsimProcess sim;
    QVERIFY(sim.start(args.split(' ') + QStringList{"--self-test", "0"}));
    // By host name, as an address may be given; the other tests use the number.
    const ToolRun r = status(QStringLiteral("localhost:%1").arg(sim.port()), {"--seconds", "10"});
    QCOMPARE(r.exitCode, 0);
    const QJsonObject o = r.json();
    QString good;
    for (const QJsonValue &v : o.value("camerasGood").toArray())
        good += v.toBool() ? '1' : '0';
    const QJsonObject gps = o.value("gps").toObject();
    QTEST(QStringLiteral("%1 %2 %3 hardware %4 good %5 gps %6 satellites %7 pos %8 gear %9")
              .arg(o["serial"].toString(), o["model"].toString(), o["firmware"].toString())
              .arg(o["hardwareVersion"].toInt())
              .arg(good)
              .arg(int(gps["hardwareGood"].toBool()))
              .arg(gps["satellites"].toInt())
              .arg(o["posBytes"].toInteger())
              .arg(o["landingGear"].toInt()),
          "camera");
    QCOMPARE(o.value("buildDate").toString(), QStringLiteral("2019-03-28"));
    QCOMPARE(o.value("selfTest").toString(), QStringLiteral("done"));
    QCOMPARE(o.value("workParam").toObject().value("modeName").toString(), QStringLiteral("debug"));
    QVERIFY(o.value("workParamValid").toBool());
    QCOMPARE(o.value("cameraPhotos").toArray().size(), 5);
    QVERIFY(o.value("receiveCounter").toInt() > 0);
}

void tst_V7ToolStatus::silentCameraFails()
{
    const ToolRun r = status(m_silent.address(), {"--seconds", "1"});
    QCOMPARE(r.exitCode, 1);
    const QJsonObject o = r.json();
    QCOMPARE(o.value("receiveCounter").toInt(), 0);
    QCOMPARE(o.value("serial").toString(), QString());
    QCOMPARE(status(m_silent.address(), {"--seconds", "x"}).exitCode, 2);
}

// The window's link and the tool each refuse the camera while the other has it, naming it.
void tst_V7ToolStatus::oneProgramAtATime()
{
    CamsimProcess sim; // sets V7_CAMERA_ADDRESS for the link in this process too
    QVERIFY(sim.start());
    qputenv("V7_WIFI_SSID", "V7K5-LOCK");
    CameraLink window;
    QSignalSpy connected(&window, &CameraLink::connected);
    window.connectCamera();
    QTRY_COMPARE(connected.count(), 1);
    const ToolRun refused = status(sim.address(), {"--seconds", "2"});
    QCOMPARE(refused.exitCode, 3);
    QVERIFY(refused.out.isEmpty());
    const QString holder =
        QStringLiteral("tst_v7toolstatus (pid %1)").arg(QCoreApplication::applicationPid());
    QVERIFY2(QString::fromUtf8(refused.err).contains(holder), refused.err.constData());
    window.disconnectCamera();

    QProcess tool;
    tool.start(V7_TOOL, {"status", "--watch", "--seconds", "60"});
    // Let go by the window, the camera is the tool's; it holds it once it prints, a status a
    // line as JSON, the camera's identity in.
    QByteArray watched;
    const auto lastLine = [&] {
        watched += tool.readAllStandardOutput();
        return QJsonDocument::fromJson(watched.trimmed().split('\n').last()).object();
    };
    QTRY_VERIFY_WITH_TIMEOUT(lastLine().value("firmware").toString() == QLatin1String("4.41") &&
                                 watched.count('\n') >= 2,
                             10000);
    for (const QByteArray &line : watched.trimmed().split('\n'))
        QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
    QSignalSpy refusal(&window, &CameraLink::connectRefused);
    window.connectCamera();
    QCOMPARE(refusal.count(), 1);
    QCOMPARE(refusal.first().first().toString(),
             QStringLiteral("相机正被v7tool（进程%1）使用，请先关闭它！").arg(tool.processId()));
    QVERIFY(!window.isConnected());
    tool.kill();
    QVERIFY(tool.waitForFinished());
    window.connectCamera();
    QTRY_COMPARE(connected.count(), 2);
}

void tst_V7ToolStatus::helpOfEveryCommand_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out"); // what standard output begins with
    QTest::newRow("help") << QStringList{"help"} << 0 << QByteArray("usage: v7tool <command>");
    QTest::newRow("help of nothing known") << QStringList{"help", "x"} << 2 << QByteArray();
    QTest::newRow("strategy alone lists its modes")
        << QStringList{"strategy"} << 0 << QByteArray("usage: v7tool strategy show");
    // Every command the tool lists, in every way of asking.
    const QStringList silent{"V7_CAMERA_ADDRESS=" + m_silent.address()};
    for (const QByteArray &line : runTool(V7_TOOL, {"--help"}, silent).out.split('\n')) {
        const QString name = QString::fromLatin1(line.simplified().split(' ').value(0));
        if (!line.startsWith("  ") || name == QLatin1String("help"))
            continue;
        const QByteArray usage = "usage: v7tool " + name.toLatin1();
        for (const QStringList &args : {QStringList{name, "--help"}, QStringList{"help", name},
                                        QStringList{name, "-h"}, QStringList{name, "x", "-h"}})
            QTest::addRow("%s", qPrintable(args.join(' '))) << args << 0 << usage;
    }
}

void tst_V7ToolStatus::helpOfEveryCommand()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, out);
    // No camera answers here: a help that reached for one would fail or hang.
    const ToolRun r = runTool(V7_TOOL, args, {"V7_CAMERA_ADDRESS=" + m_silent.address()}, 20000);
    QTEST(r.exitCode, "exitCode");
    QVERIFY2(r.out.startsWith(out), r.out.constData());
    QCOMPARE(r.err.isEmpty(), r.exitCode == 0);
}

QTEST_GUILESS_MAIN(tst_V7ToolStatus)
#include "tst_v7toolstatus.moc"
