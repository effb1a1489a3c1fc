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
    const int code = runTool({QStringLiteral("exif"), samplePath("Canon_40D.jpg"),
                              samplePath("Kodak_CX7530.jpg"), missing},
                             &lines);
    QCOMPARE(code, 1); // one file could not be read
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0].value(QLatin1String("model")).toString(), QStringLiteral("Canon EOS 40D"));
    QCOMPARE(lines[0].value(QLatin1String("width")).toInt(), 100);
    QCOMPARE(lines[0].value(QLatin1String("focalLength")).toDouble(), 135.0);
    QCOMPARE(lines[0].value(QLatin1String("error")).toString(), QString());
    QCOMPARE(lines[1].value(QLatin1String("gpsLatitudeRef")).toString(), QStringLiteral("S"));
    QVERIFY(lines[1].value(QLatin1String("gpsLatitude")).toDouble() < 0);
    QCOMPARE(lines[2].value(QLatin1String("file")).toString(), missing);
    QVERIFY(!lines[2].value(QLatin1String("error")).toString().isEmpty());
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
    QFile thirdFile(third);
    QVERIFY(thirdFile.open(QIODevice::ReadOnly));
    const QByteArray thirdBefore = thirdFile.readAll();
    thirdFile.close();

    QList<QJsonObject> lines;
    QCOMPARE(runTool({QStringLiteral("geotag"), QStringLiteral("--pos"), table,
                      QStringLiteral("--focal"), QStringLiteral("24"), first, second, third},
                     &lines),
             0);
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
    QVERIFY(thirdFile.open(QIODevice::ReadOnly));
    QCOMPARE(thirdFile.readAll(), thirdBefore);
}

void TestPhotoTool::geotagUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no table") << QStringList{QStringLiteral("geotag"), QStringLiteral("a.jpg")};
    QTest::newRow("no photos") << QStringList{QStringLiteral("geotag"), QStringLiteral("--pos"),
                                              QStringLiteral("t.xls")};
    QTest::newRow("bad focal length") << QStringList{
        QStringLiteral("geotag"),  QStringLiteral("--pos"),  QStringLiteral("t.xls"),
        QStringLiteral("--focal"), QStringLiteral("twenty"), QStringLiteral("a.jpg")};
    QTest::newRow("exif without files") << QStringList{QStringLiteral("exif")};
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
