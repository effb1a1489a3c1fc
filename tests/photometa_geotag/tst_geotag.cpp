#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include "exifreader.h"
#include "geotag.h"

// In-process geotagging: the value forms, what exiftool reads back, and photos left intact
// whenever tagging fails. Five threads tagging at once are the offload reliability test's.
class TestGeotag : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void valueForms_data();
    void valueForms();
    void readBackByExiftool_data();
    void readBackByExiftool();
    void badBuffersLeaveOutputAlone_data();
    void badBuffersLeaveOutputAlone();
    void photoWithoutExif();
    void filesThatCannotBeTagged();

private:
    QString copyOf(const QString &sample, const QString &name);
    QByteArray m_photo; // a real photo with EXIF
    QTemporaryDir m_dir;
};

namespace {
QString sample(const char *name)
{
    return QStringLiteral(V7_SHARED_TESTDATA_DIR "/exif-samples/") + QLatin1String(name);
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The bytes from the start-of-scan marker on: the image data that tagging must not touch.
QByteArray imageData(const QByteArray &jpeg)
{
    int pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos + 1]) != 0xDA)
        pos += 2 + ((uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]));
    return jpeg.mid(pos);
}
} // namespace

void TestGeotag::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_photo = contents(sample("Canon_40D.jpg"));
    if (m_photo.isEmpty())
        QSKIP("sample photos not present");
}

QString TestGeotag::copyOf(const QString &source, const QString &name)
{
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    if (!QFile::copy(source, path))
        return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    return path;
}

void TestGeotag::valueForms_data()
{
    QTest::addColumn<bool>("altitude"); // altitude in thousandths, else degrees and minutes
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("half degree") << false << 23.5 << "23/1 30/1 0/1000000";
    QTest::newRow("truncated seconds") << false << 113.25125 << "113/1 15/1 4499999/1000000";
    QTest::newRow("zero") << false << 0.0 << "0/1 0/1 0/1000000";
    QTest::newRow("south or west uses the size") << false << -23.5 << "23/1 30/1 0/1000000";
    QTest::newRow("just below a minute") << false << 10.0166666 << "10/1 0/1 59999760/1000000";
    QTest::newRow("1523.456 m") << true << 1523.456 << "1523456/1000";
    QTest::newRow("sea level") << true << 0.0 << "0/1000";
    QTest::newRow("below sea level") << true << -12.345 << "12345/1000";
    QTest::newRow("fraction of a millimetre dropped") << true << 0.0019 << "1/1000";
}

void TestGeotag::valueForms()
{
    QFETCH(bool, altitude);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(altitude ? Geotag::altitudeThousandths(value) : Geotag::rationalDegrees(value), text);
}

void TestGeotag::readBackByExiftool_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<double>("altitude");
    QTest::addColumn<int>("focal");
    QTest::newRow("north east") << 23.5 << 113.25125 << 152.3 << 20;
    QTest::newRow("south west, below sea level") << -33.868820 << -70.6692655 << -430.5 << 35;
}

void TestGeotag::readBackByExiftool()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(double, altitude);
    QFETCH(int, focal);
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        QSKIP("exiftool not installed");

    const QString path = copyOf(sample("Canon_40D.jpg"), QStringLiteral("tagged.jpg"));
    const QFile::Permissions permissions = QFile::permissions(path);
    QString error;
    QVERIFY2(Geotag::tagFile(path, focal, {latitude, longitude, altitude}, &error),
             qPrintable(error));

    QProcess p;
    p.start(exiftool, {"-j", "-n", "-GPSLatitude", "-GPSLongitude", "-GPSAltitude", "-FocalLength",
                       "-Make", path});
    QVERIFY(p.waitForFinished(30000));
    const QJsonObject o =
        QJsonDocument::fromJson(p.readAllStandardOutput()).array().at(0).toObject();
    auto value = [&](const char *key) { return o.value(QLatin1String(key)).toDouble(); };
    QVERIFY2(std::fabs(value("GPSLatitude") - latitude) < 1e-6,
             qPrintable(QString::number(value("GPSLatitude"), 'f', 9)));
    QVERIFY(std::fabs(value("GPSLongitude") - longitude) < 1e-6);
    QVERIFY(std::fabs(value("GPSAltitude") - altitude) < 1e-3);
    QCOMPARE(value("FocalLength"), double(focal));
    QCOMPARE(o.value(QLatin1String("Make")).toString(), QStringLiteral("Canon"));

    // Our own reader agrees, and the image data came through untouched.
    const PhotoInfo info = ExifReader::readFile(path);
    QVERIFY(std::fabs(info.gpsLatitude - latitude) < 1e-6);
    QVERIFY(std::fabs(info.gpsLongitude - longitude) < 1e-6);
    QCOMPARE(info.gpsAltitudeRef, altitude < 0 ? 1 : 0);
    QCOMPARE(imageData(contents(path)), imageData(m_photo));
    QCOMPARE(QFile::permissions(path), permissions);
}

void TestGeotag::badBuffersLeaveOutputAlone_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<double>("latitude");
    QTest::newRow("empty") << QByteArray() << 10.0;
    QTest::newRow("not an image") << QByteArray("plain text, no photo") << 10.0;
    QTest::newRow("cut inside the EXIF block") << m_photo.left(200) << 10.0;
    QTest::newRow("latitude out of range") << m_photo << 91.0;
    QTest::newRow("latitude not a number") << m_photo << std::nan("");
}

void TestGeotag::badBuffersLeaveOutputAlone()
{
    QFETCH(QByteArray, input);
    QFETCH(double, latitude);
    const QByteArray sentinel("untouched");
    QByteArray out = sentinel;
    QString error;
    QVERIFY(!Geotag::tagBuffer(input, 20, {latitude, 113.0, 50.0}, &out, &error));
    QCOMPARE(out, sentinel);
    QVERIFY(!error.isEmpty());
}

// Photos straight from an image editor carry no EXIF block; tagging creates one.
void TestGeotag::photoWithoutExif()
{
    const QByteArray plain = contents(QStringLiteral(V7_TESTDATA_DIR "/no_exif.jpg"));
    QVERIFY(!plain.isEmpty());
    QVERIFY(!ExifReader::readBuffer(plain.constData(), size_t(plain.size())).exifFound);
    QByteArray tagged;
    QString error;
    QVERIFY2(Geotag::tagBuffer(plain, 20, {-23.5, 113.25125, 152.3}, &tagged, &error),
             qPrintable(error));
    const PhotoInfo info = ExifReader::readBuffer(tagged.constData(), size_t(tagged.size()));
    QVERIFY(info.exifFound);
    QCOMPARE(info.focalLength, 20.0);
    QCOMPARE(info.gpsLatitudeRef, 'S');
    QCOMPARE(info.gpsLatitude, -23.5);
    QCOMPARE(info.width, 64);
    QCOMPARE(imageData(tagged), imageData(plain));
}

void TestGeotag::filesThatCannotBeTagged()
{
    const GeoPosition where{23.5, 113.25125, 152.3};
    QString error;

    QVERIFY(!Geotag::tagFile(m_dir.filePath(QStringLiteral("missing.jpg")), 20, where, &error));
    QVERIFY(!error.isEmpty());

    const QString readOnly = copyOf(sample("Nikon_D70.jpg"), QStringLiteral("readonly.jpg"));
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup);
    const QByteArray before = contents(readOnly);
    error.clear();
    QVERIFY(!Geotag::tagFile(readOnly, 20, where, &error));
    QVERIFY(error.contains(QLatin1String("read-only")));
    QCOMPARE(contents(readOnly), before);

    // An EXIF block a few bytes short of the 64 KiB limit of its section has no room for the
    // GPS tags; the library would drop the description to make them fit.
    const QString full = copyOf(sample("Canon_40D.jpg"), QStringLiteral("full.jpg"));
    QProcess p;
    p.start(QStringLiteral("exiv2"),
            {QStringLiteral("-M"),
             QStringLiteral("set Exif.Image.ImageDescription ") + QString(63000, QLatin1Char('d')),
             full});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        QSKIP("exiv2 program not available to make the full photo");
    const QByteArray fullBefore = contents(full);
    QVERIFY(ExifReader::readFile(full).exifFound);
    QVERIFY(fullBefore.size() > 65000);
    error.clear();
    QVERIFY(!Geotag::tagFile(full, 20, where, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(contents(full), fullBefore);
    // No temporary file is left beside the photos, tagged or not.
    QCOMPARE(
        QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".jpg.")),
        QStringList());
}

QTEST_GUILESS_MAIN(TestGeotag)
#include "tst_geotag.moc"
