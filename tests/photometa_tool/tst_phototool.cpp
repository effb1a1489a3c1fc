#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include "exifreader.h"

// v7tool's exif and geotag subcommands as a script or an operator calls them.
class TestPhotoTool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void exifPrintsOneObjectPerFile();
    void geotagTakesRowsInOrder();
    void geotagUsage_data();
    void geotagUsage();

private:
    int runTool(const QStringList &arguments, QList<QJsonObject> *lines);
    QString copy(const char *sample);
    QTemporaryDir m_dir;
};

namespace {
QString samplePath(const char *name)
{
    return QStringLiteral(V7_SHARED_TESTDATA_DIR "/exif-samples/") + QLatin1String(name);
}
} // namespace

void TestPhotoTool::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!QFile::exists(samplePath("Canon_40D.jpg")))
        QSKIP("sample photos not present");
}

int TestPhotoTool::runTool(const QStringList &arguments, QList<QJsonObject> *lines)
{
    QProcess p;
    p.start(QStringLiteral(V7TOOL_PATH), arguments);
    if (!p.waitForFinished(60000))
        return -1;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            lines->append(QJsonDocument::fromJson(line).object());
    }
    return p.exitCode();
}

QString TestPhotoTool::copy(const char *sample)
{
    const QString path = m_dir.filePath(QLatin1String(sample));
    QFile::remove(path);
    QFile::copy(samplePath(sample), path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

void TestPhotoTool::exifPrintsOneObjectPerFile()
{
    QList<QJsonObject> lines;
    const QString missing = m_dir.filePath(QStringLiteral("missing.jpg"));
    const int code =
        runTool({"exif", samplePath("Canon_40D.jpg"), samplePath("Kodak_CX7530.jpg"), missing},
                &lines);
    QCOMPARE(code, 1); // one file could not be read
    QCOMPARE(lines.size(), 3);
    auto value = [&](int line, const char *key) { return lines[line].value(QLatin1String(key)); };
    QCOMPARE(value(0, "model").toString(), QStringLiteral("Canon EOS 40D"));
    QCOMPARE(value(0, "width").toInt(), 100);
    QCOMPARE(value(0, "focalLength").toDouble(), 135.0);
    QCOMPARE(value(0, "error").toString(), QString());
    QCOMPARE(value(1, "gpsLatitudeRef").toString(), QStringLiteral("S"));
    QVERIFY(value(1, "gpsLatitude").toDouble() < 0);
    QCOMPARE(value(2, "file").toString(), missing);
    QVERIFY(!value(2, "error").toString().isEmpty());
    // Every field of the record is printed, also for a photo that has none of them.
    QCOMPARE(lines[2].keys(), lines[0].keys());
    QVERIFY(lines[0].keys().size() >= 40);
}

void TestPhotoTool::geotagTakesRowsInOrder()
{
    const QString table = m_dir.filePath(QStringLiteral("flight.xls"));
    QFile f(table);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \n"
            "1 \t113.2512500 \t23.5000000 \t152.300 \t90.00 \t1.0 \t2.0 \t90.00 \t25.0 "
            "\t2019-03-28 10-00-00 \t \n"
            "2 \t-70.6692655 \t-33.8688200 \t1523.456 \t90.00 \t1.0 \t2.0 \t90.00 \t25.0 "
            "\t2019-03-28 10-00-01 \t \n");
    f.close();
    const QString first = copy("Canon_40D.jpg");
    const QString second = copy("Nikon_D70.jpg");
    const QString third = copy("Pentax_K10D.jpg");

    QList<QJsonObject> lines;
    QCOMPARE(runTool({"geotag", "--pos", table, "--focal", "24", first, second, third}, &lines), 0);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].value(QLatin1String("tagged")).toBool());
    QVERIFY(lines[1].value(QLatin1String("tagged")).toBool());
    QVERIFY(!lines[2].value(QLatin1String("tagged")).toBool());
    QCOMPARE(lines[2].value(QLatin1String("error")).toString(), QStringLiteral("no POS row"));

    const PhotoInfo a = ExifReader::readFile(first);
    QVERIFY(std::fabs(a.gpsLatitude - 23.5) < 1e-6);
    QVERIFY(std::fabs(a.gpsLongitude - 113.25125) < 1e-6);
    QVERIFY(std::fabs(a.gpsAltitude - 152.3) < 1e-3);
    QCOMPARE(a.focalLength, 24.0);
    const PhotoInfo b = ExifReader::readFile(second);
    QVERIFY(std::fabs(b.gpsLatitude + 33.86882) < 1e-6);
    QVERIFY(std::fabs(b.gpsLongitude + 70.6692655) < 1e-6);
    QFile original(samplePath("Pentax_K10D.jpg")), untagged(third);
    QVERIFY(original.open(QIODevice::ReadOnly) && untagged.open(QIODevice::ReadOnly));
    QCOMPARE(untagged.readAll(), original.readAll());
}

void TestPhotoTool::geotagUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no table") << QStringList{"geotag", "a.jpg"};
    QTest::newRow("no photos") << QStringList{"geotag", "--pos", "t.xls"};
    QTest::newRow("bad focal length")
        << QStringList{"geotag", "--pos", "t.xls", "--focal", "twenty", "a.jpg"};
    QTest::newRow("exif without files") << QStringList{"exif"};
}

void TestPhotoTool::geotagUsage()
{
    QFETCH(QStringList, arguments);
    QList<QJsonObject> lines;
    QCOMPARE(runTool(arguments, &lines), 2);
    QVERIFY(lines.isEmpty());
}

QTEST_GUILESS_MAIN(TestPhotoTool)
#include "tst_phototool.moc"
