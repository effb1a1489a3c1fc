// v7tool strategy and v7tool plan run as a crew's script runs them: set and read back against
// the simulator, refusals with the editors' messages, bad arguments, and the planning figures.
#include <QtTest>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "camsimprocess.h"

namespace {
struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

Run tool(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(V7_TOOL), arguments);
    Run r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    return r;
}

QJsonObject json(const Run &r)
{
    return QJsonDocument::fromJson(r.out).object();
}

// Mode 2 every 3 s after the landing gear; the camera's own bytes 2, 3 and 5 are 12 34 and 56.
const char kCameraRecord[] = "02011234015608009600"
                             "1e007dc82800010114001e00f401";
} // namespace

class tst_V7ToolStrategy : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void show();
    void setReadsBack_data();
    void setReadsBack();
    void refusals_data();
    void refusals();
    void badArguments_data();
    void badArguments();
    void silentCamera();
    void plan_data();
    void plan();
    void planRefusals_data();
    void planRefusals();

private:
    CamsimProcess m_camera;
};

void tst_V7ToolStrategy::initTestCase()
{
    QVERIFY(m_camera.start({"--work-param", kCameraRecord, "--landing-gear", "0"}));
}

void tst_V7ToolStrategy::show()
{
    const Run r = tool({"strategy", "show", "--json"});
    QCOMPARE(r.exitCode, 0);
    const QJsonObject o = json(r);
    QCOMPARE(o.value("bytes").toString(), QString::fromLatin1(kCameraRecord));
    QCOMPARE(o.value("modeName").toString(), QStringLiteral("time"));
    QCOMPARE(o.value("activationName").toString(), QStringLiteral("gear"));
    QCOMPARE(o.value("timeInterval").toInt(), 30);

    const Run text = tool({"strategy", "show"});
    QCOMPARE(text.exitCode, 0);
    QVERIFY(text.out.contains("mode                time (2)\n"));
    QVERIFY(text.out.contains("time interval       3.0 s\n"));
}

void tst_V7ToolStrategy::setReadsBack_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("modeName");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::newRow("time, power-on 3")
        << QStringList{"--mode",       "time",     "--interval", "2.5",
                       "--activation", "power-on", "--delay",    "3"}
        << "time"
        << "powerOnDelay" << 5;
    QTest::newRow("distance 12.34")
        << QStringList{"--mode",       "distance", "--interval", "12.34",
                       "--activation", "level",    "--level",    "high"}
        << "distance"
        << "distanceInterval" << 123;
    QTest::newRow("distance, manual 2")
        << QStringList{"--mode",       "distance", "--interval", "50",
                       "--activation", "manual",   "--delay",    "2"}
        << "distance"
        << "manualDelay" << 5;
    // After the row before, the camera's activation is the manual delay: --delay fills it.
    QTest::newRow("kept activation")
        << QStringList{"--mode", "distance", "--interval", "60", "--delay", "12"} << "distance"
        << "manualDelay" << 12;
    QTest::newRow("pwm") << QStringList{"--mode",       "pwm",  "--pulse-duration", "40",
                                        "--pulse-time", "12.5", "--period",         "20"}
                         << "pwm"
                         << "pulseTime" << 125;
    QTest::newRow("io") << QStringList{"--mode", "io", "--level", "high", "--duration", "9999.9"}
                        << "io"
                        << "ioDuration" << 9999;
    QTest::newRow("edge") << QStringList{"--mode", "edge", "--edge", "rising"} << "edge"
                          << "edgeRising" << 1;
}

void tst_V7ToolStrategy::setReadsBack()
{
    QFETCH(QStringList, args);
    const Run set = tool(QStringList{"strategy", "set", "--json"} + args);
    QVERIFY2(set.exitCode == 0, qPrintable(set.err));
    const Run show = tool({"strategy", "show", "--json"});
    QCOMPARE(show.exitCode, 0);
    const QJsonObject o = json(show);
    QCOMPARE(json(set), o);
    QTEST(o.value("modeName").toString(), "modeName");
    QFETCH(QString, field);
    QTEST(o.value(field).toInt(), "value");
    const QByteArray bytes = QByteArray::fromHex(o.value("bytes").toString().toLatin1());
    QCOMPARE(bytes.mid(2, 2).toHex(), QByteArray("1234"));
    QCOMPARE(bytes.mid(5, 1).toHex(), QByteArray("56"));
}

void tst_V7ToolStrategy::refusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("distance 500.5")
        << QStringList{"--mode", "distance", "--interval", "500.5"} << "间隔应该输入小于500!";
    QTest::newRow("would wrap") << QStringList{"--mode", "time", "--interval", "7000"}
                                << "间隔时间输入应小于6553.5!";
    QTest::newRow("gear not down")
        << QStringList{"--mode", "time", "--interval", "5", "--activation", "gear"}
        << "请检查是否连接起落架！";
    QTest::newRow("pulse time 25.6")
        << QStringList{"--mode",       "pwm",  "--pulse-duration", "40",
                       "--pulse-time", "25.6", "--period",         "20"}
        << "脉冲时间输入应小于25.5!";
    QTest::newRow("io empty") << QStringList{"--mode", "io", "--level", "low", "--duration", ""}
                              << "有参数未输入!";
}

void tst_V7ToolStrategy::refusals()
{
    QFETCH(QStringList, args);
    const QByteArray before =
        json(tool({"strategy", "show", "--json"})).value("bytes").toString().toLatin1();
    QVERIFY(!before.isEmpty());
    const Run r = tool(QStringList{"strategy", "set"} + args);
    QCOMPARE(r.exitCode, 1);
    QTEST(r.err, "message");
    QVERIFY(r.out.isEmpty());
    QCOMPARE(json(tool({"strategy", "show", "--json"})).value("bytes").toString().toLatin1(),
             before);
}

void tst_V7ToolStrategy::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no subcommand") << QStringList{"strategy"};
    QTest::newRow("unknown mode") << QStringList{"strategy", "set",        "--mode",
                                                 "warp",     "--interval", "5"};
    QTest::newRow("no interval") << QStringList{"strategy", "set", "--mode", "time"};
    QTest::newRow("edge option for time")
        << QStringList{"strategy", "set", "--mode", "time", "--interval", "5", "--edge", "rising"};
    QTest::newRow("level without level activation")
        << QStringList{"strategy", "set",          "--mode",   "time",    "--interval",
                       "5",        "--activation", "altitude", "--level", "high"};
    QTest::newRow("plan without focal")
        << QStringList{"plan", "--gsd", "5", "--overlap", "80", "--sidelap", "80"};
    QTest::newRow("plan unknown option") << QStringList{
        "plan", "--gsd", "5", "--focal", "25", "--overlap", "80", "--sidelap", "80", "--fast"};
}

void tst_V7ToolStrategy::badArguments()
{
    QFETCH(QStringList, args);
    const Run r = tool(args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(QStringLiteral("usage:")));
}

void tst_V7ToolStrategy::silentCamera()
{
    m_camera.toggleSilence();
    const Run r = tool({"strategy", "set", "--mode", "edge", "--edge", "rising", "--seconds", "1"});
    m_camera.toggleSilence();
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err, QStringLiteral("相机未连接！"));
}

void tst_V7ToolStrategy::plan_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("tooFast");
    QTest::newRow("start values")
        << QStringList{"--gsd", "5", "--focal", "25", "--overlap", "80", "--sidelap", "80"}
        << "飞行高度：300m\n航向间隔：30m\n航线间隔：56m\n旁向覆盖：282.0m\n航向覆盖：152.0m\n"
           "拍照间隔：1.50s\n"
        << false;
    // 18 m between exposures at 40 m/s: 0.45 s, faster than the camera fires.
    QTest::newRow("too fast")
        << QStringList{"--gsd", "3",         "--focal", "35",      "--overlap",
                       "80",    "--sidelap", "70",      "--speed", "40"}
        << "飞行高度：252m\n航向间隔：18m\n航线间隔：50m\n旁向覆盖：169.2m\n航向覆盖：91.2m\n"
           "拍照间隔：0.45s\n拍照间隔短于相机最短触发间隔1.0s，\n请降低地速或航向重叠度！\n"
        << true;
    QTest::newRow("overlap clamped, no speed")
        << QStringList{"--gsd", "10",        "--focal", "16",      "--overlap",
                       "150",   "--sidelap", "30",      "--speed", "0"}
        << "飞行高度：384m\n航向间隔：0m\n航线间隔：394m\n旁向覆盖：564.0m\n航向覆盖：304.0m\n"
        << false;
}

void tst_V7ToolStrategy::plan()
{
    QFETCH(QStringList, args);
    const Run text = tool(QStringList{"plan"} + args);
    QCOMPARE(text.exitCode, 0);
    QTEST(QString::fromUtf8(text.out), "text");

    const Run r = tool(QStringList{"plan", "--json"} + args);
    QCOMPARE(r.exitCode, 0);
    const QJsonObject o = json(r);
    const QStringList keys{"flyingHeight",    "exposureSpacing", "lineSpacing",
                           "footprintAcross", "footprintAlong",  "shortestInterval"};
    for (const QString &key : keys)
        QVERIFY2(o.contains(key), qPrintable(key));
    QTEST(o.value("tooFast").toBool(), "tooFast");
}

void tst_V7ToolStrategy::planRefusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("GSD 1000") << QStringList{"--gsd",     "1000", "--focal",   "25",
                                             "--overlap", "80",   "--sidelap", "80"}
                              << "GSD输入应小于1000!";
    QTest::newRow("focal 100") << QStringList{"--gsd",     "5",  "--focal",   "100",
                                              "--overlap", "80", "--sidelap", "80"}
                               << "焦距输入应小于100!";
}

void tst_V7ToolStrategy::planRefusals()
{
    QFETCH(QStringList, args);
    const Run r = tool(QStringList{"plan"} + args);
    QCOMPARE(r.exitCode, 1);
    QTEST(r.err, "message");
    QVERIFY(r.out.isEmpty());
}

QTEST_GUILESS_MAIN(tst_V7ToolStrategy)
#include "tst_v7toolstrategy.moc"
