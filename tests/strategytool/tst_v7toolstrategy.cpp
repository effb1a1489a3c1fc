// v7tool strategy and v7tool plan run as a crew's script runs them: set and read back against
// the simulator, refusals with the editors' messages, bad arguments, and the planning figures.
#include <QtTest>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cmath>

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
const char kCameraRecord[] = "02011234015608009600" "1e007dc82800010114001e00f401";
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
    QTest::newRow("time, power-on 3") << QStringList{"--mode", "time", "--interval", "2.5",
                                                     "--activation", "power-on", "--delay", "3"}
                                      << "time" << "powerOnDelay" << 5;
    QTest::newRow("distance 12.34") << QStringList{"--mode", "distance", "--interval", "12.34",
                                                   "--activation", "level", "--level", "high"}
                                    << "distance" << "distanceInterval" << 123;
    QTest::newRow("distance, manual 2") << QStringList{"--mode", "distance", "--interval", "50",
                                                       "--activation", "manual", "--delay", "2"}
                                        << "distance" << "manualDelay" << 5;
    // After the row before, the camera's activation is the manual delay: --delay fills it.
    QTest::newRow("kept activation") << QStringList{"--mode", "distance", "--interval", "60",
                                                    "--delay", "12"}
                                     << "distance" << "manualDelay" << 12;
    QTest::newRow("pwm") << QStringList{"--mode", "pwm", "--pulse-duration", "40",
                                        "--pulse-time", "12.5", "--period", "20"}
                         << "pwm" << "pulseTime" << 125;
    QTest::newRow("io") << QStringList{"--mode", "io", "--level", "high", "--duration", "9999.9"}
                        << "io" << "ioDuration" << 9999;
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
    QTest::newRow("distance 500.5") << QStringList{"--mode", "distance", "--interval", "500.5"}
                                    << "间隔应该输入小于500!";
    QTest::newRow("exponent") << QStringList{"--mode", "time", "--interval", "1e2"} << "输入值非法";
    QTest::newRow("would wrap") << QStringList{"--mode", "time", "--interval", "7000"}
                                << "间隔时间输入应小于6553.5!";
    QTest::newRow("gear not down") << QStringList{"--mode", "time", "--interval", "5",
                                                  "--activation", "gear"}
                                   << "请检查是否连接起落架！";
    QTest::newRow("altitude 12345") << QStringList{"--mode", "distance", "--interval", "50",
                                                   "--activation", "altitude", "--altitude", "12345"}
                                    << "高度输入应小于10000!";
    QTest::newRow("pulse time 25.6") << QStringList{"--mode", "pwm", "--pulse-duration", "40",
                                                    "--pulse-time", "25.6", "--period", "20"}
                                     << "脉冲时间输入应小于25.5!";
    QTest::newRow("io empty") << QStringList{"--mode", "io", "--level", "low", "--duration", ""}
                              << "有参数未输入!";
}

void tst_V7ToolStrategy::refusals()
{
    QFETCH(QStringList, args);
    const QByteArray before = json(tool({"strategy", "show", "--json"})).value("bytes").toString().toLatin1();
    QVERIFY(!before.isEmpty());
    const Run r = tool(QStringList{"strategy", "set"} + args);
    QCOMPARE(r.exitCode, 1);
    QTEST(r.err, "message");
    QVERIFY(r.out.isEmpty());
    QCOMPARE(json(tool({"strategy", "show", "--json"})).value("bytes").toString().toLatin1(), before);
}

void tst_V7ToolStrategy::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no subcommand") << QStringList{"strategy"};
    QTest::newRow("unknown mode") << QStringList{"strategy", "set", "--mode", "warp", "--interval", "5"};
    QTest::newRow("no interval") << QStringList{"strategy", "set", "--mode", "time"};
    QTest::newRow("pwm without period") << QStringList{"strategy", "set", "--mode", "pwm",
                                                       "--pulse-duration", "1", "--pulse-time", "1"};
    QTest::newRow("edge option for time") << QStringList{"strategy", "set", "--mode", "time",
                                                         "--interval", "5", "--edge", "rising"};
    QTest::newRow("level without level activation")
        << QStringList{"strategy", "set", "--mode", "time", "--interval", "5", "--activation",
                       "altitude", "--level", "high"};
    QTest::newRow("unknown activation") << QStringList{"strategy", "set", "--mode", "time",
                                                       "--interval", "5", "--activation", "wheels"};
    QTest::newRow("edge sideways") << QStringList{"strategy", "set", "--mode", "edge", "--edge", "up"};
    QTest::newRow("plan without focal") << QStringList{"plan", "--gsd", "5", "--overlap", "80",
                                                       "--sidelap", "80"};
    QTest::newRow("plan unknown option") << QStringList{"plan", "--gsd", "5", "--focal", "25",
                                                        "--overlap", "80", "--sidelap", "80", "--fast"};
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
    QTest::addColumn<double>("gsd");
    QTest::addColumn<double>("focal");
    QTest::addColumn<double>("forward");
    QTest::addColumn<double>("side");
    QTest::addColumn<double>("speed");
    QTest::newRow("start values") << QStringList{"--gsd", "5", "--focal", "25", "--overlap", "80",
                                                 "--sidelap", "80"}
                                  << 5.0 << 25.0 << 80.0 << 80.0 << 20.0;
    QTest::newRow("too fast") << QStringList{"--gsd", "3", "--focal", "35", "--overlap", "80",
                                             "--sidelap", "70", "--speed", "40"}
                              << 3.0 << 35.0 << 80.0 << 70.0 << 40.0;
    QTest::newRow("overlap clamped") << QStringList{"--gsd", "10", "--focal", "16", "--overlap",
                                                    "150", "--sidelap", "30", "--speed", "8"}
                                     << 10.0 << 16.0 << 100.0 << 30.0 << 8.0;
}

void tst_V7ToolStrategy::plan()
{
    QFETCH(QStringList, args);
    QFETCH(double, gsd);
    QFETCH(double, focal);
    QFETCH(double, forward);
    QFETCH(double, side);
    QFETCH(double, speed);
    const Run r = tool(QStringList{"plan", "--json"} + args);
    QCOMPARE(r.exitCode, 0);
    const QJsonObject o = json(r);
    const double g = gsd / 100;
    const int spacing = int(std::floor(g * 3040 * (1 - forward / 100) + 1e-6));
    QCOMPARE(o.value("flyingHeight").toInt(), int(std::floor(g * focal / 1000 / 4.16e-6)));
    QCOMPARE(o.value("exposureSpacing").toInt(), spacing);
    QCOMPARE(o.value("lineSpacing").toInt(), int(std::floor(g * 5640 * (1 - side / 100) + 1e-6)));
    QCOMPARE(o.value("footprintAcross").toDouble(), g * 5640);
    QCOMPARE(o.value("footprintAlong").toDouble(), g * 3040);
    QCOMPARE(o.value("shortestInterval").toDouble(), spacing / speed);
    QCOMPARE(o.value("tooFast").toBool(), spacing / speed < 1.0);

    // The text form shows the figures as the page does.
    const Run text = tool(QStringList{"plan"} + args);
    QCOMPARE(text.exitCode, 0);
    const QString shown = QString::fromUtf8(text.out);
    QVERIFY(shown.startsWith(QStringLiteral("飞行高度：%1m\n").arg(o.value("flyingHeight").toInt())));
    QVERIFY(shown.contains(QStringLiteral("航向间隔：%1m\n").arg(spacing)));
    QCOMPARE(shown.contains(QStringLiteral("最短触发间隔")), spacing / speed < 1.0);
}

void tst_V7ToolStrategy::planRefusals_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("GSD 1000") << QStringList{"--gsd", "1000", "--focal", "25", "--overlap", "80",
                                             "--sidelap", "80"}
                              << "GSD输入应小于1000!";
    QTest::newRow("focal 100") << QStringList{"--gsd", "5", "--focal", "100", "--overlap", "80",
                                              "--sidelap", "80"}
                               << "焦距输入应小于100!";
    QTest::newRow("negative overlap") << QStringList{"--gsd", "5", "--focal", "25", "--overlap",
                                                     "-10", "--sidelap", "80"}
                                      << "输入值非法";
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
