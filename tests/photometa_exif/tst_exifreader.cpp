#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <cmath>

#include "exifbuilder.h"
#include "exifreader.h"

using Pair = QPair<quint32, quint32>;

// The EXIF reader against exiftool on real photos and against hand-built faulty headers.
class TestExifReader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void samplesAgreeWithExiftool_data();
    void samplesAgreeWithExiftool();
    void builtBlocksInBothOrders_data();
    void builtBlocksInBothOrders();
    void damagedHeaders_data();
    void damagedHeaders();
    void directoryFaults_data();
    void directoryFaults();
    void everyPrefixOfAPhoto();
    void commentSection();

private:
    QJsonObject m_oracle; // exiftool's values by path
};

namespace {
QString samplesDir()
{
    return QStringLiteral(V7_SHARED_TESTDATA_DIR "/exif-samples");
}

// Absolute paths: the shared samples, the damaged ones and the repository's own photo in both
// byte orders.
QStringList sampleFiles()
{
    QStringList files;
    for (const QString &folder : {samplesDir(), samplesDir() + QStringLiteral("/invalid")}) {
        for (const QFileInfo &f : QDir(folder).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files,
                                                             QDir::Name))
            files << f.filePath();
    }
    return files << QStringLiteral(V7_TESTDATA_DIR "/kodak_motorola.jpg")
                 << QStringLiteral(V7_TESTDATA_DIR "/kodak_intel.jpg");
}

PhotoInfo readBytes(const QByteArray &bytes)
{
    return ExifReader::readBuffer(bytes.constData(), size_t(bytes.size()));
}

bool near(double actual, double expected)
{
    return std::fabs(actual - expected) <= 1e-6 * std::max(1.0, std::fabs(expected));
}
} // namespace

void TestExifReader::initTestCase()
{
    if (!QDir(samplesDir()).exists())
        QSKIP("sample photos not present");
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        return; // the oracle test skips itself; the others need no oracle
    QStringList args{QStringLiteral("-j"), QStringLiteral("-n")};
    for (const char *tag : {"EXIF:Make", "EXIF:Model", "EXIF:DateTimeOriginal", "File:ImageWidth",
                            "File:ImageHeight", "IFD0:Orientation", "EXIF:FocalLength",
                            "EXIF:ExposureTime", "EXIF:ShutterSpeedValue", "EXIF:FNumber",
                            "EXIF:ApertureValue", "EXIF:ISO", "Composite:GPSLatitude",
                            "Composite:GPSLongitude", "File:ExifByteOrder"})
        args << QLatin1Char('-') + QLatin1String(tag);
    args << sampleFiles();
    QProcess p;
    p.start(exiftool, args);
    QVERIFY(p.waitForFinished(60000));
    const QJsonArray all = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    for (const QJsonValue &v : all)
        m_oracle[v.toObject().value(QStringLiteral("SourceFile")).toString()] = v.toObject();
}

void TestExifReader::samplesAgreeWithExiftool_data()
{
    QTest::addColumn<QString>("path");
    for (const QString &f : sampleFiles())
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f;
}

void TestExifReader::samplesAgreeWithExiftool()
{
    QFETCH(QString, path);
    const PhotoInfo info = ExifReader::readFile(path);
    // The file and the same bytes in memory read alike.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const PhotoInfo fromBuffer = readBytes(file.readAll());
    QCOMPARE(fromBuffer.cameraModel, info.cameraModel);
    QCOMPARE(fromBuffer.width, info.width);
    QCOMPARE(fromBuffer.focalLength, info.focalLength);
    QCOMPARE(fromBuffer.error, info.error);
    if (m_oracle.isEmpty())
        QSKIP("exiftool not installed");
    const QJsonObject o = m_oracle.value(path).toObject();
    QVERIFY2(!o.isEmpty(), "exiftool gave nothing for this file");
    auto text = [&](const char *key) { return o.value(QLatin1String(key)).toVariant().toString(); };
    auto number = [&](const char *key, const char *fallback = nullptr) {
        if (o.contains(QLatin1String(key)))
            return o.value(QLatin1String(key)).toVariant().toDouble();
        return fallback ? o.value(QLatin1String(fallback)).toVariant().toDouble() : 0.0;
    };

    QCOMPARE(info.cameraMake, text("Make"));
    QCOMPARE(info.cameraModel, text("Model"));
    QCOMPARE(info.dateTime, text("DateTimeOriginal"));
    QCOMPARE(info.width, int(number("ImageWidth")));
    QCOMPARE(info.height, int(number("ImageHeight")));
    QCOMPARE(info.orientation, int(number("Orientation")));
    QVERIFY2(near(info.focalLength, number("FocalLength")),
             qPrintable(QString::number(info.focalLength)));
    QVERIFY2(near(info.exposureTime, number("ExposureTime", "ShutterSpeedValue")),
             qPrintable(QString::number(info.exposureTime)));
    QVERIFY2(near(info.apertureFNumber, number("FNumber", "ApertureValue")),
             qPrintable(QString::number(info.apertureFNumber)));
    const int iso = int(number("ISO"));
    QCOMPARE(info.isoEquivalent, iso < 50 ? iso * 200 : iso);
    QVERIFY2(near(info.gpsLatitude, number("GPSLatitude")),
             qPrintable(QString::number(info.gpsLatitude)));
    QVERIFY2(near(info.gpsLongitude, number("GPSLongitude")),
             qPrintable(QString::number(info.gpsLongitude)));
    QCOMPARE(info.exifFound, o.contains(QLatin1String("ExifByteOrder")));
}

void TestExifReader::builtBlocksInBothOrders_data()
{
    QTest::addColumn<bool>("motorola");
    QTest::newRow("intel") << false;
    QTest::newRow("motorola") << true;
}

// One block that exercises each conversion, decoded the same in both byte orders.
void TestExifReader::builtBlocksInBothOrders()
{
    QFETCH(bool, motorola);
    const ExifBuilder b(motorola);
    const QList<ExifBuilder::Entry> ifd0{
        b.ascii(0x010F, "Vendor  "), b.ascii(0x0110, QByteArray(60, 'M')),
        b.shortValue(0x0112, 6),     b.rational(0x011A, 300, 1),
        b.shortValue(0x0128, 3),     b.longValue(0x0201, 20),
        b.longValue(0x0202, 40),
    };
    const QList<ExifBuilder::Entry> exif{
        b.shortValue(0x8822, 2),
        b.shortValue(0x8827, 2), // ISO below 50 counts in units of 200
        b.ascii(0x9003, "2019:03:28 10:11:12 extra"),
        b.srational(0x9201, 8, 1), // shutter speed value: 1/256 s, no exposure time given
        b.rational(0x9202, 4, 1),  // aperture value: ignored, F-number given
        b.rational(0x829D, 56, 10),
        b.srational(0x9204, -2, 3),
        b.shortValue(0x9207, 5),
        b.shortValue(0x9209, 0x19), // flash fired
        b.rational(0x920A, 355, 10),
        b.undefined(0x9286, QByteArray("ASCII\0\0\0Hello  world   ", 23)),
        b.longValue(0xA002, 6000),
        b.longValue(0xA003, 4000),
        b.rational(0xA20E, 1000, 1),
        b.shortValue(0xA210, 4),
    };
    const QList<ExifBuilder::Entry> gps{
        b.ascii(1, "S"),
        b.rationals(2, {Pair(23, 1), Pair(30, 1), Pair(36, 1)}),
        b.ascii(3, "W"),
        b.rationals(4, {Pair(113, 1), Pair(15, 1), Pair(45, 10)}),
        {5, 1, 1, QByteArray(1, 1), false},
        b.rational(6, 1523456, 1000),
    };
    const PhotoInfo info = readBytes(ExifBuilder::jpeg(b.tiff(ifd0, exif, gps), 6000, 4000));
    QCOMPARE(info.error, QString());
    QVERIFY(info.exifFound);
    QCOMPARE(info.cameraMake, QStringLiteral("Vendor"));
    QCOMPARE(info.cameraModel, QString(39, QLatin1Char('M')));
    QCOMPARE(info.dateTime, QStringLiteral("2019:03:28 10:11:12"));
    QCOMPARE(info.width, 6000);
    QCOMPARE(info.height, 4000);
    QCOMPARE(info.isColor, 1);
    QCOMPARE(info.process, 0xC0);
    QCOMPARE(info.orientation, 6);
    QCOMPARE(info.isoEquivalent, 400);
    QCOMPARE(info.exposureProgram, 2);
    QCOMPARE(info.meteringMode, 5);
    QCOMPARE(info.flashUsed, 1);
    QCOMPARE(info.exposureTime, 1.0 / 256);
    QCOMPARE(info.apertureFNumber, 5.6);
    QCOMPARE(info.exposureBias, -2.0 / 3);
    QCOMPARE(info.focalLength, 35.5);
    QCOMPARE(info.comment, QStringLiteral("Hello  world"));
    QCOMPARE(info.xResolution, 300.0);
    QCOMPARE(info.resolutionUnit, 0.3937007874);
    QCOMPARE(info.focalPlaneUnits, 0.03937007874);
    QCOMPARE(info.ccdWidth, 6000 * 0.03937007874 / 1000);
    QCOMPARE(info.thumbnailOffset, 20u);
    QCOMPARE(info.thumbnailSize, 40u);
    QVERIFY(info.gpsFound);
    QCOMPARE(info.gpsLatitudeRef, 'S');
    QVERIFY(near(info.gpsLatitude, -(23 + 30 / 60.0 + 36 / 3600.0)));
    QCOMPARE(info.gpsLongitudeRef, 'W');
    QVERIFY(near(info.gpsLongitude, -(113 + 15 / 60.0 + 4.5 / 3600.0)));
    QCOMPARE(info.gpsAltitudeRef, 1);
    QCOMPARE(info.gpsAltitude, 1523.456);
}

void TestExifReader::damagedHeaders_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("width");

    const QByteArray soi("\xFF\xD8", 2);
    QByteArray frame(15, 1);
    frame[1] = 0;
    frame[2] = 10; // height 10
    frame[3] = 0;
    frame[4] = 20; // width 20
    const QByteArray sof = ExifBuilder::section(0xC0, frame);

    QTest::newRow("empty") << QByteArray() << "Not a JPEG file" << 0;
    QTest::newRow("not a jpeg") << QByteArray("GIF89a\xFF\xD8\xFF\xC0") << "Not a JPEG file" << 0;
    QTest::newRow("start of image only") << soi << "Premature end of file?" << 0;
    QTest::newRow("no marker prefix") << soi + "\x12\x34"
                                      << "invalid marker" << 0;
    QTest::newRow("length below two")
        << soi + QByteArray("\xFF\xE1\x00\x01", 4) << "invalid marker" << 0;
    QTest::newRow("section past end")
        << soi + QByteArray("\xFF\xE2\x01\x00xyz", 7) << "Premature end of file?" << 0;
    QTest::newRow("six padding bytes")
        << soi + QByteArray(6, char(0xFF)) + sof.mid(1) + ExifBuilder::section(0xDA, "ab") << ""
        << 20;
    QTest::newRow("eight padding bytes")
        << soi + QByteArray(8, char(0xFF)) + sof.mid(1) << "too many padding unsigned chars!" << 0;
    QTest::newRow("end before scan")
        << soi + sof + QByteArray("\xFF\xD9", 2) << "No image in jpeg!" << 20;
    QByteArray many = soi + sof;
    for (int i = 0; i < 20; ++i)
        many += ExifBuilder::section(0xDB, QByteArray(4, char(i)));
    QTest::newRow("too many sections") << many << "Too many sections in jpg file" << 20;
    QByteArray dropped = soi + sof;
    for (int i = 0; i < 30; ++i)
        dropped += ExifBuilder::section(0xE0, "JFIF");
    QTest::newRow("dropped sections do not count")
        << dropped + ExifBuilder::section(0xDA, "x") << "" << 20;
    const QByteArray scan = ExifBuilder::section(0xDA, "ab");
    QTest::newRow("short frame") << soi + ExifBuilder::section(0xC2, "ab") + scan
                                 << "Truncated frame section" << 0;
    QTest::newRow("exif alignment")
        << soi + ExifBuilder::section(0xE1, QByteArray("Exif\0\0XX\0\x2A", 10)) + scan
        << "Invalid Exif alignment marker." << 0;
    const ExifBuilder intel(false);
    QByteArray badStart = intel.tiff({intel.shortValue(0x0112, 1)});
    badStart[2] = 0x2B;
    QTest::newRow("exif start") << ExifBuilder::jpeg(badStart) << "Invalid Exif start (1)" << 64;
    QTest::newRow("first directory offset")
        << ExifBuilder::jpeg(intel.tiff({intel.shortValue(0x0112, 1)}, {}, {}, 0x8825, 40))
        << "Suspicious offset of first IFD value" << 64;
}

void TestExifReader::damagedHeaders()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QFETCH(int, width);
    const PhotoInfo info = readBytes(bytes);
    QCOMPARE(info.error, error);
    QCOMPARE(info.width, width);
}

void TestExifReader::directoryFaults_data()
{
    QTest::addColumn<QByteArray>("tiff");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("make");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<double>("latitude");

    const ExifBuilder b(true);
    const auto make = b.ascii(0x010F, "Maker");
    const auto upright = b.shortValue(0x0112, 1);

    QTest::newRow("orientation 9")
        << b.tiff({make, b.shortValue(0x0112, 9)}) << "Undefined rotation value"
        << "Maker" << 0 << 0.0;
    // Entries are kept in tag order, so the bad entry (0x0100) comes before make and orientation.
    QTest::newRow("format 13 skips one entry")
        << b.tiff({b.rawEntry(0x0100, 13, 1, 0), make, upright})
        << "Illegal format code in EXIF dir"
        << "Maker" << 1 << 0.0;
    QTest::newRow("data offset past block stops the directory")
        << b.tiff({b.rawEntry(0x0100, 2, 64, 0x7000), make, upright})
        << "Illegal pointer offset value in EXIF."
        << "" << 0 << 0.0;
    QTest::newRow("data running past block") << b.tiff({b.rawEntry(0x0100, 5, 0x20000000, 8), make})
                                             << "Illegal pointer offset value in EXIF."
                                             << "" << 0 << 0.0;
    QTest::newRow("subdirectory link past block")
        << b.tiff({make, b.longValue(0x8769, 0x10000), upright}) << "Illegal subdirectory link"
        << "Maker" << 1 << 0.0;
    // An EXIF directory in the last two bytes of the block that claims 256 entries.
    const int end = b.tiff({make, b.longValue(0x8769, 0)}).size();
    QTest::newRow("entry count past block")
        << b.tiff({make, b.longValue(0x8769, quint32(end))}) + b.u16(256)
        << "Illegally sized directory"
        << "Maker" << 0 << 0.0;
    const QList<ExifBuilder::Entry> gps{b.ascii(1, "N"),
                                        b.rationals(2, {Pair(10, 1), Pair(30, 1), Pair(0, 1)})};
    // IFD0 links on to itself and holds an EXIF pointer back at itself: no endless walk.
    QByteArray loop = b.tiff({make, b.longValue(0x8769, 8)});
    loop.replace(8 + 2 + 2 * 12, 4, b.u32(8));
    QTest::newRow("directories pointing back") << loop << "" << "Maker" << 0 << 0.0;
    QTest::newRow("standard GPS pointer") << b.tiff({make}, {}, gps, 0x8825) << ""
                                          << "Maker" << 0 << 10.5;
    QTest::newRow("GPS through 0x0203") << b.tiff({make}, {}, gps, 0x0203) << ""
                                        << "Maker" << 0 << 10.5;
}

void TestExifReader::directoryFaults()
{
    QFETCH(QByteArray, tiff);
    QFETCH(QString, error);
    QFETCH(QString, make);
    QFETCH(int, orientation);
    QFETCH(double, latitude);
    const PhotoInfo info = readBytes(ExifBuilder::jpeg(tiff));
    QCOMPARE(info.error, error);
    QCOMPARE(info.cameraMake, make);
    QCOMPARE(info.orientation, orientation);
    QCOMPARE(info.gpsLatitude, latitude);
    QCOMPARE(info.width, 64); // the frame after a faulty EXIF block is still read
}

// Every cut of a real photo's header gives an error and never a read past the cut (the fuzz
// build runs this under AddressSanitizer).
void TestExifReader::everyPrefixOfAPhoto()
{
    QFile f(QStringLiteral(V7_TESTDATA_DIR "/kodak_intel.jpg"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    // Walk to the end of the start-of-scan section (the thumbnail holds one of its own).
    int headerEnd = 2;
    bool scan = false;
    while (!scan && headerEnd + 4 <= whole.size()) {
        scan = uchar(whole[headerEnd + 1]) == 0xDA;
        headerEnd += 2 + ((uchar(whole[headerEnd + 2]) << 8) | uchar(whole[headerEnd + 3]));
    }
    QVERIFY(scan);
    for (int n = 0; n < headerEnd; ++n) {
        const QByteArray cut = whole.left(n);
        const PhotoInfo info = ExifReader::readBuffer(cut.constData(), size_t(n));
        QVERIFY2(!info.error.isEmpty(), qPrintable(QString::number(n)));
    }
    QCOMPARE(readBytes(whole.left(headerEnd)).error, QString());
}

void TestExifReader::commentSection()
{
    const QByteArray soi("\xFF\xD8", 2);
    const QByteArray first =
        ExifBuilder::section(0xFE, QByteArray("line\r\nnext\x01\tend\x00", 16));
    const QByteArray second = ExifBuilder::section(0xFE, "second");
    const QByteArray longOne = ExifBuilder::section(0xFE, QByteArray(1500, 'c'));
    const QByteArray scan = ExifBuilder::section(0xDA, "x");

    QCOMPARE(readBytes(soi + first + second + scan).comment, QStringLiteral("line\nnext?\tend?"));
    QCOMPARE(readBytes(soi + longOne + scan).comment.size(), 1000);
}

QTEST_GUILESS_MAIN(TestExifReader)
#include "tst_exifreader.moc"
