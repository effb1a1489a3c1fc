#include <QtTest>

#include <algorithm>
#include <cmath>

#include "exifbuilder.h"
#include "exifreader.h"
#include "testtools.h"

// The EXIF reader against exiftool on real photos (through `v7tool exif`, which prints every
// field of a reading) and against hand-built faulty headers.
class TestExifReader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void samplesAgreeWithExiftool_data();
    void samplesAgreeWithExiftool();
    void builtBlocksInBothOrders_data();
    void builtBlocksInBothOrders();
    void faultyHeaders_data();
    void faultyHeaders();
    void everyPrefixOfAPhoto();

private:
    QJsonObject m_oracle; // exiftool's values by path
    QJsonObject m_tool;   // v7tool exif's by path
};

namespace {
const QString kSamples = QStringLiteral(V7_TESTDATA_DIR "/exif-samples");

// Absolute paths: the shared samples, the damaged ones and the repository's own photo in both
// byte orders.
QStringList sampleFiles()
{
    QStringList files;
    for (const QString &folder : {kSamples, kSamples + QStringLiteral("/invalid")}) {
        for (const QFileInfo &f :
             QDir(folder).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
            files << f.filePath();
    }
    return files << QStringLiteral(V7_TESTDATA_DIR "/kodak_motorola.jpg")
                 << QStringLiteral(V7_TESTDATA_DIR "/kodak_intel.jpg");
}

PhotoInfo readBytes(const QByteArray &bytes)
{
    return ExifReader::readBuffer(bytes.constData(), size_t(bytes.size()));
}

// Our field, exiftool's tag, and its stand-in when the photo lacks the tag.
const char *const kFields[][3] = {
    {"make", "EXIF:Make", "EXIF:Make"},
    {"model", "EXIF:Model", "EXIF:Model"},
    {"dateTime", "EXIF:DateTimeOriginal", "EXIF:DateTimeOriginal"},
    {"width", "File:ImageWidth", "File:ImageWidth"},
    {"height", "File:ImageHeight", "File:ImageHeight"},
    {"orientation", "IFD0:Orientation", "IFD0:Orientation"},
    {"focalLength", "EXIF:FocalLength", "EXIF:FocalLength"},
    {"exposureTime", "EXIF:ExposureTime", "EXIF:ShutterSpeedValue"},
    {"fNumber", "EXIF:FNumber", "EXIF:ApertureValue"},
    {"gpsLatitude", "Composite:GPSLatitude", "Composite:GPSLatitude"},
    {"gpsLongitude", "Composite:GPSLongitude", "Composite:GPSLongitude"},
};

bool near(double actual, double expected)
{
    return std::fabs(actual - expected) <= 1e-6 * std::max(1.0, std::fabs(expected));
}

// Every field of a reading, numbers to 12 significant digits.
QStringList describe(const PhotoInfo &i)
{
    auto n = [](std::initializer_list<double> values) {
        QStringList out;
        for (double v : values)
            out << QString::number(v, 'g', 12);
        return out.join(QLatin1Char(' '));
    };
    auto letter = [](char c) { return QString(QLatin1Char(c ? c : '-')); };
    return {"make " + i.cameraMake,
            "model " + i.cameraModel,
            "date " + i.dateTime,
            "comment " + i.comment,
            "error " + i.error,
            "frame " + n({double(i.width), double(i.height), double(i.isColor), double(i.process)}),
            "orientation " + n({double(i.orientation)}),
            "exposure " + n({i.exposureTime, i.apertureFNumber, i.exposureBias, i.focalLength,
                             double(i.isoEquivalent), i.distance, i.brightness}),
            "modes " + n({double(i.flashUsed), double(i.lightSource), double(i.meteringMode),
                          double(i.exposureProgram), double(i.compressionLevel)}),
            "resolution " + n({i.xResolution, i.yResolution, i.resolutionUnit}),
            "focal plane " + n({i.focalPlaneXRes, i.focalPlaneYRes, i.focalPlaneUnits, i.ccdWidth}),
            "thumbnail " + n({double(i.thumbnailOffset), double(i.thumbnailSize)}),
            "gps " + n({double(i.gpsFound)}) + ' ' + letter(i.gpsLatitudeRef) + n({i.gpsLatitude}) +
                ' ' + letter(i.gpsLongitudeRef) + n({i.gpsLongitude}) + ' ' +
                n({double(i.gpsAltitudeRef), i.gpsAltitude}),
            "exif " + n({double(i.exifFound)})};
}
} // namespace

void TestExifReader::initTestCase()
{
    if (!QDir(kSamples).exists())
        QSKIP("sample photos not present");
    // v7tool prints a line for every file and exits 1 when one cannot be read.
    const QString missing = kSamples + QStringLiteral("/missing.jpg");
    const ToolRun tool = runTool(V7TOOL, QStringList{"exif"} + sampleFiles() << missing);
    QCOMPARE(tool.exitCode, 1);
    const QList<QJsonObject> lines = tool.jsonLines();
    QCOMPARE(lines.size(), sampleFiles().size() + 1);
    for (const QJsonObject &line : lines)
        m_tool[line.value(QLatin1String("file")).toString()] = line;
    QVERIFY(!m_tool.value(missing).toObject().value(QLatin1String("error")).toString().isEmpty());
    // Every field of the record is printed, also for a photo that has none of them.
    QCOMPARE(lines.last().keys(), lines.first().keys());
    QVERIFY(lines.first().keys().size() >= 40);

    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        return; // the oracle test skips itself; the others need no oracle
    QStringList args{"-j", "-n", "-EXIF:ISO", "-File:ExifByteOrder"};
    for (const auto &field : kFields) {
        for (const char *tag : {field[1], field[2]})
            args << QLatin1Char('-') + QLatin1String(tag);
    }
    const ToolRun oracle = runTool(exiftool, args + sampleFiles());
    for (const QJsonValue &v : QJsonDocument::fromJson(oracle.out).array())
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
    // The file and the same bytes in memory read alike.
    QCOMPARE(describe(readBytes(fileBytes(path))), describe(ExifReader::readFile(path)));
    if (m_oracle.isEmpty())
        QSKIP("exiftool not installed");
    const QJsonObject ours = m_tool.value(path).toObject();
    const QJsonObject theirs = m_oracle.value(path).toObject();
    QVERIFY2(!theirs.isEmpty() && !ours.isEmpty(), "no reading for this file");
    for (const auto &f : kFields) {
        const QJsonValue value = ours.value(QLatin1String(f[0]));
        QJsonValue expected = theirs.value(QString::fromLatin1(f[1]).section(':', 1));
        if (expected.isUndefined())
            expected = theirs.value(QString::fromLatin1(f[2]).section(':', 1));
        const QString a = value.toVariant().toString(), e = expected.toVariant().toString();
        QVERIFY2(value.isString() ? a == e
                                  : near(value.toDouble(), expected.toVariant().toDouble()),
                 qPrintable(QStringLiteral("%1: %2, exiftool %3").arg(f[0], a, e)));
    }
    // ISO below 50 counts in units of 200.
    const int iso = theirs.value(QLatin1String("ISO")).toInt();
    QCOMPARE(ours.value(QLatin1String("iso")).toInt(), iso < 50 ? iso * 200 : iso);
    QCOMPARE(ours.value(QLatin1String("exifFound")).toBool(),
             theirs.contains(QLatin1String("ExifByteOrder")));
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
    const Exif b{motorola};
    const QList<Exif::Entry> ifd0{
        b.ascii(0x010F, "Vendor  "), b.ascii(0x0110, QByteArray(60, 'M')),
        b.shortValue(0x0112, 6),     b.ratios(0x011A, {Pair(300, 1)}),
        b.shortValue(0x0128, 3),     b.longValue(0x0201, 20),
        b.longValue(0x0202, 40),
    };
    const QList<Exif::Entry> exif{
        b.shortValue(0x8822, 2),
        b.shortValue(0x8827, 2), // ISO below 50 counts in units of 200
        b.ascii(0x9003, "2019:03:28 10:11:12 extra"),
        b.ratios(0x9201, {Pair(8, 1)}, 10), // shutter speed value: 1/256 s, no exposure time
        b.ratios(0x9202, {Pair(4, 1)}),     // aperture value: ignored, F-number given
        b.ratios(0x829D, {Pair(56, 10)}),
        b.ratios(0x9204, {Pair(quint32(-2), 3)}, 10),
        b.shortValue(0x9207, 5),
        b.shortValue(0x9209, 0x19), // flash fired
        b.ratios(0x920A, {Pair(355, 10)}),
        {0x9286, 7, 23, QByteArray("ASCII\0\0\0Hello  world   ", 23)},
        b.longValue(0xA002, 6000),
        b.longValue(0xA003, 4000),
        b.ratios(0xA20E, {Pair(1000, 1)}),
        b.shortValue(0xA210, 4),
    };
    const QList<Exif::Entry> gps{
        b.ascii(1, "S"),
        b.ratios(2, {Pair(23, 1), Pair(30, 1), Pair(36, 1)}),
        b.ascii(3, "W"),
        b.ratios(4, {Pair(113, 1), Pair(15, 1), Pair(45, 10)}),
        {5, 1, 1, QByteArray(1, 1)},
        b.ratios(6, {Pair(1523456, 1000)}),
    };
    const PhotoInfo info = readBytes(jpeg(b.tiff(ifd0, exif, gps), 6000, 4000));
    QCOMPARE(describe(info),
             QStringList({"make Vendor", "model " + QString(39, QLatin1Char('M')),
                          "date 2019:03:28 10:11:12", "comment Hello  world", "error ",
                          "frame 6000 4000 1 192", "orientation 6",
                          "exposure 0.00390625 5.6 -0.666666666667 35.5 400 0 0", "modes 1 0 5 2 0",
                          "resolution 300 0 0.3937007874",
                          "focal plane 1000 0 0.03937007874 0.23622047244", "thumbnail 20 40",
                          "gps 1 S-23.51 W-113.25125 1 1523.456", "exif 1"}));
}

// A damaged JPEG structure, or a faulty EXIF directory in an otherwise sound photo (whose frame is
// still read after the block): the error, and what was read regardless.
void TestExifReader::faultyHeaders_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("make");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<double>("latitude");
    const auto row = [](const char *tag, const QByteArray &bytes, const char *error, int width,
                        const char *make = "", int orientation = 0, double latitude = 0) {
        QTest::newRow(tag) << bytes << error << width << make << orientation << latitude;
    };

    const QByteArray soi("\xFF\xD8", 2);
    const QByteArray sof = section(0xC0, QByteArray::fromHex("01000a0014") + QByteArray(10, 1));
    const QByteArray scan = section(0xDA, "ab");
    row("empty", QByteArray(), "Not a JPEG file", 0);
    row("not a jpeg", QByteArray("GIF89a\xFF\xD8\xFF\xC0"), "Not a JPEG file", 0);
    row("start of image only", soi, "Premature end of file?", 0);
    row("no marker prefix", soi + "\x12\x34", "invalid marker", 0);
    row("length below two", soi + QByteArray("\xFF\xE1\x00\x01", 4), "invalid marker", 0);
    row("section past end", soi + QByteArray("\xFF\xE2\x01\x00xyz", 7), "Premature end of file?",
        0);
    row("six padding bytes", soi + QByteArray(6, char(0xFF)) + sof.mid(1) + scan, "", 20);
    row("eight padding bytes", soi + QByteArray(8, char(0xFF)) + sof.mid(1),
        "too many padding unsigned chars!", 0);
    row("end before scan", soi + sof + QByteArray("\xFF\xD9", 2), "No image in jpeg!", 20);
    QByteArray many = soi + sof, dropped = soi + sof;
    for (int i = 0; i < 30; ++i) {
        many += i < 20 ? section(0xDB, QByteArray(4, char(i))) : QByteArray();
        dropped += section(0xE0, "JFIF");
    }
    row("too many sections", many, "Too many sections in jpg file", 20);
    row("dropped sections do not count", dropped + section(0xDA, "x"), "", 20);
    row("short frame", soi + section(0xC2, "ab") + scan, "Truncated frame section", 0);
    row("exif alignment", soi + section(0xE1, QByteArray("Exif\0\0XX\0\x2A", 10)) + scan,
        "Invalid Exif alignment marker.", 0);
    const Exif intel{false};
    QByteArray badStart = intel.tiff({intel.shortValue(0x0112, 1)});
    badStart[2] = 0x2B;
    row("exif start", jpeg(badStart), "Invalid Exif start (1)", 64);
    row("first directory offset",
        jpeg(intel.tiff({intel.shortValue(0x0112, 1)}, {}, {}, 0x8825, 40)),
        "Suspicious offset of first IFD value", 64);

    const Exif b{true};
    const auto make = b.ascii(0x010F, "Maker");
    const auto upright = b.shortValue(0x0112, 1);
    row("orientation 9", jpeg(b.tiff({make, b.shortValue(0x0112, 9)})), "Undefined rotation value",
        64, "Maker");
    // Entries are kept in tag order, so the bad entry (0x0100) comes before make and orientation.
    row("format 13 skips one entry", jpeg(b.tiff({b.raw(0x0100, 13, 1, 0), make, upright})),
        "Illegal format code in EXIF dir", 64, "Maker", 1);
    row("data offset past block stops the directory",
        jpeg(b.tiff({b.raw(0x0100, 2, 64, 0x7000), make, upright})),
        "Illegal pointer offset value in EXIF.", 64);
    row("data running past block", jpeg(b.tiff({b.raw(0x0100, 5, 0x20000000, 8), make})),
        "Illegal pointer offset value in EXIF.", 64);
    row("subdirectory link past block", jpeg(b.tiff({make, b.longValue(0x8769, 0x10000), upright})),
        "Illegal subdirectory link", 64, "Maker", 1);
    // An EXIF directory in the last two bytes of the block that claims 256 entries.
    const int end = b.tiff({make, b.longValue(0x8769, 0)}).size();
    row("entry count past block",
        jpeg(b.tiff({make, b.longValue(0x8769, quint32(end))}) + b.u16(256)),
        "Illegally sized directory", 64, "Maker");
    // IFD0 links on to itself and holds an EXIF pointer back at itself: no endless walk.
    QByteArray loop = b.tiff({make, b.longValue(0x8769, 8)});
    loop.replace(8 + 2 + 2 * 12, 4, b.u32(8));
    row("directories pointing back", jpeg(loop), "", 64, "Maker");
    const QList<Exif::Entry> gps{b.ascii(1, "N"),
                                 b.ratios(2, {Pair(10, 1), Pair(30, 1), Pair(0, 1)})};
    row("GPS through 0x0203", jpeg(b.tiff({make}, {}, gps, 0x0203)), "", 64, "Maker", 0, 10.5);
}

void TestExifReader::faultyHeaders()
{
    QFETCH(QByteArray, bytes);
    const PhotoInfo info = readBytes(bytes);
    QTEST(info.error, "error");
    QTEST(info.width, "width");
    QTEST(info.cameraMake, "make");
    QTEST(info.orientation, "orientation");
    QTEST(info.gpsLatitude, "latitude");
}

// Every cut of a real photo's header gives an error and never a read past the cut (the fuzz
// build runs this under AddressSanitizer).
void TestExifReader::everyPrefixOfAPhoto()
{
    const QByteArray whole = fileBytes(QStringLiteral(V7_TESTDATA_DIR "/kodak_intel.jpg"));
    QVERIFY(!whole.isEmpty());
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

    // Comment sections: the first counts, CR LF becomes LF, other control characters "?", and
    // at most 1000 characters are kept.
    const QByteArray soi("\xFF\xD8", 2);
    const QByteArray first = section(0xFE, QByteArray("line\r\nnext\x01\tend\x00", 16));
    const QByteArray sos = section(0xDA, "x");
    QCOMPARE(readBytes(soi + first + section(0xFE, "second") + sos).comment,
             QStringLiteral("line\nnext?\tend?"));
    QCOMPARE(readBytes(soi + section(0xFE, QByteArray(1500, 'c')) + sos).comment.size(), 1000);
}

QTEST_GUILESS_MAIN(TestExifReader)
#include "tst_exifreader.moc"
