// v7tool status run as a crew would run it, against the simulator and against silence.
#include "linkfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

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
    void reportsTheCamera_data();
    void reportsTheCamera();
    void silentCameraFails();
    void watchPrintsLines();
};

void tst_V7ToolStatus::reportsTheCamera_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("good"); // cameras in order, 1 per camera
    QTest::addColumn<bool>("gps");
    QTest::newRow("five-lens, camera 3 faulty")
        << QStringList{"--camera-state", "0x1b"} << "V7K52019032801"
        << "4.41"
        << "11011" << true;
    QTest::newRow("older firmware: set bit is a fault")
        << QStringList{"--model",        "V7K3", "--firmware", "3.2",
                       "--camera-state", "0x04", "--gps",      "0"}
        << "V7K32019032801"
        << "3.2"
        << "11011" << false;
}

void tst_V7ToolStatus::reportsTheCamera()
{
    QFETCH(QStringList, args);
    CamsimProcess sim;
    QVERIFY(sim.start(args + QStringList{"--self-test", "0"}));
    const ToolRun r = status(sim.address(), {"--seconds", "10"});
    QCOMPARE(r.exitCode, 0);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(r.out, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QTEST(o.value("serial").toString(), "serial");
    QCOMPARE(o.value("model").toString(), o.value("serial").toString().left(4));
    QTEST(o.value("firmware").toString(), "firmware");
    QCOMPARE(o.value("buildDate").toString(), QStringLiteral("2019-03-28"));
    QCOMPARE(o.value("selfTest").toString(), QStringLiteral("done"));
    QString good;
    for (const QJsonValue &v : o.value("camerasGood").toArray())
        good += v.toBool() ? '1' : '0';
    QTEST(good, "good");
    QTEST(o.value("gps").toObject().value("hardwareGood").toBool(), "gps");
    QCOMPARE(o.value("workParam").toObject().value("modeName").toString(), QStringLiteral("debug"));
    QVERIFY(o.value("workParamValid").toBool());
    QCOMPARE(o.value("cameraPhotos").toArray().size(), 5);
    QVERIFY(o.value("receiveCounter").toInt() > 0);
}

void tst_V7ToolStatus::silentCameraFails()
{
    FakeCamera silent; // holds the port and never answers
    QVERIFY(silent.start());
    const ToolRun r = status(silent.address(), {"--seconds", "1"});
    QCOMPARE(r.exitCode, 1);
    const QJsonObject o = r.json();
    QCOMPARE(o.value("receiveCounter").toInt(), 0);
    QCOMPARE(o.value("serial").toString(), QString());
    QCOMPARE(status("127.0.0.1:1", {"--seconds", "x"}).exitCode, 2);
}

void tst_V7ToolStatus::watchPrintsLines()
{
    CamsimProcess sim;
    QVERIFY(sim.start());
    const ToolRun r = status(sim.address(), {"--watch", "--seconds", "3"});
    QCOMPARE(r.exitCode, 0);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    QVERIFY2(lines.size() >= 2, r.out.constData());
    for (const QByteArray &line : lines) {
        QJsonParseError error;
        QJsonDocument::fromJson(line, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
    }
    QCOMPARE(QJsonDocument::fromJson(lines.last()).object().value("firmware").toString(),
             QStringLiteral("4.41"));
}

QTEST_GUILESS_MAIN(tst_V7ToolStatus)
#include "tst_v7toolstatus.moc"
