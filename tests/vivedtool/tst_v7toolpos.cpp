// v7tool pos run as a script after landing would run it: decoding raw files, listing and
// downloading over the simulator, and a camera that falls silent. Runs with TZ=CST-8.
#include "linkfixture.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runTool(const QString &address, const QStringList &arguments)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("V7_CAMERA_ADDRESS", address);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(V7_TOOL), QStringList{"pos"} + arguments);
    Run r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class tst_V7ToolPos : public QObject
{
    Q_OBJECT

private slots:
    void decodeReportsLeftover_data();
    void decodeReportsLeftover();
    void listAsJson();
    void downloadThreeSlots();
    void silentCameraEndsWithError();

private:
    QTemporaryDir m_dir;
};

void tst_V7ToolPos::decodeReportsLeftover_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("whole records")
        << QStringList{"--record-size", "32"} << 320 << 0 << QByteArray("10 records written");
    QTest::newRow("torn tail") << QStringList{"--record-size", "52"} << 52 * 3 + 20 << 0
                               << QByteArray("20 bytes after the last whole record");
    QTest::newRow("lens tables need 52") << QStringList{"--record-size", "32", "--per-lens"} << 64
                                         << 2 << QByteArray("need 52-byte records");
    QTest::newRow("unwritable table")
        << QStringList{"--record-size", "32", "-o", "/nonexistent/dir/t.xls"} << 64 << 1
        << QByteArray("cannot write /nonexistent/dir");
}

void tst_V7ToolPos::decodeReportsLeftover()
{
    QFETCH(QStringList, args);
    QFETCH(int, bytes);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    const QString raw = m_dir.filePath("decode.raw");
    QFile f(raw);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(bytes, 0));
    f.close();
    const QString out = m_dir.filePath(QStringLiteral("decode-%1.xls").arg(bytes));
    if (!args.contains("-o"))
        args << "-o" << out;
    const Run r = runTool("127.0.0.1:9", QStringList{"decode", raw} + args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(message), r.err.constData());
    if (exitCode == 0) // rows without a time: an empty time cell
        QVERIFY(readAll(out).contains("0 \t \t"));
}

void tst_V7ToolPos::listAsJson()
{
    CamsimProcess sim;
    QVERIFY(sim.start({"--slots", "13", "--records", "30"}));
    const Run r = runTool(sim.address(), {"list", "--json"});
    QCOMPARE(r.exitCode, 0);
    const QJsonArray listing = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(listing.size(), 14);
    QCOMPARE(listing[0].toObject()["slot"].toInt(), 1);
    QCOMPARE(listing[0].toObject()["time"].toString(), QStringLiteral("2019-03-28 10:00:00"));
    QCOMPARE(listing[5].toObject()["points"].toInt(), 30 + 7 * 5);
    QCOMPARE(listing[13].toObject()["points"].toInt(), 0);
    QCOMPARE(listing[13].toObject()["downloads"].toInt(), 0);
}

void tst_V7ToolPos::downloadThreeSlots()
{
    CamsimProcess sim;
    QVERIFY(sim.start({"--records", "80", "--firmware", "4.52"}));
    const QString out = m_dir.filePath("flight.xls");
    // Named by slot as the page names rows; the tables themselves are checked in tst_poswifi.
    Run r = runTool(sim.address(), {"download", "9", "2", "5", "-o", out, "--per-lens"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts),
             (QStringList{m_dir.filePath("flight2.xls"), m_dir.filePath("flight5.xls"),
                          m_dir.filePath("flight9.xls")}));
    QCOMPARE(readAll(m_dir.filePath("flight9.xls")).count('\n'), 1 + 80 + 7 * 8);
    QVERIFY(QFile::exists(m_dir.filePath("flight5Center.xls")));
    // The confirmed downloads count on the camera.
    r = runTool(sim.address(), {"list", "--json"});
    const QJsonArray listing = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(listing[1].toObject()["downloads"].toInt(), 1);
    QCOMPARE(listing[2].toObject()["downloads"].toInt(), 0);
    QCOMPARE(runTool(sim.address(), {"download", "15", "-o", out}).exitCode, 2);
}

void tst_V7ToolPos::silentCameraEndsWithError()
{
    const QString raw = m_dir.filePath("silent");
    QVERIFY(QDir().mkpath(raw));
    CamsimProcess sim;
    QVERIFY(
        sim.start({"--records", "20000", "--slots", "1", "--delay", "30", "--export-dir", raw}));
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("V7_CAMERA_ADDRESS", sim.address());
    tool.setProcessEnvironment(env);
    const QString out = m_dir.filePath("partial.xls");
    tool.start(QStringLiteral(V7_TOOL), {"pos", "download", "1", "-o", out, "--timeout", "2"});
    // Once rows arrive the camera falls silent for good.
    QTRY_VERIFY_WITH_TIMEOUT(readAll(out).count('\n') > 100, 30000);
    QVERIFY(sim.toggleSilence(true));
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY(tool.readAllStandardError().contains("stopped answering"));
    const QByteArray partial = readAll(out);
    QVERIFY(partial.endsWith(" \n"));
    const QString full = m_dir.filePath("full.xls");
    QCOMPARE(
        runTool(sim.address(), {"decode", "--record-size", "52", raw + "/slot01.bin", "-o", full})
            .exitCode,
        0);
    QVERIFY(readAll(full).size() > partial.size());
    QVERIFY(readAll(full).startsWith(partial));
    // A camera that never answers at all.
    QCOMPARE(runTool("127.0.0.1:9", {"list", "--timeout", "1"}).exitCode, 1);
}

QTEST_GUILESS_MAIN(tst_V7ToolPos)
#include "tst_v7toolpos.moc"
