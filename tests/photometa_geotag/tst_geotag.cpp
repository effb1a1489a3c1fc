#include <QtTest>

#include <cmath>

#include "exifreader.h"
#include "geotag.h"
#include "photoinfotable.h"
#include "testtools.h"

// Geotagging in-process and through `v7tool geotag`: the value forms, what exiftool reads back,
// and photos left intact whenever tagging fails (five threads tagging at once are the offload
// reliability test's). And the per-camera photo information table, byte for byte, created and
// appended to. Runs with TZ=CST-8 so capture times are fixed numbers.
class TestGeotag : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void valueForms_data();
    void valueForms();
    void badBuffersLeaveOutputAlone_data();
    void badBuffersLeaveOutputAlone();
    void filesThatCannotBeTagged();
    void toolTagsRowsInOrder();
    void damagedGpsDirectory_data();
    void damagedGpsDirectory();
    void tableCreatedThenAppended();
    void captureTime_data();
    void captureTime();

private:
    QString copyOf(const QString &sample, const QString &name);
    QByteArray m_photo; // a real photo with EXIF
    QTemporaryDir m_dir;
};

namespace {
QString sample(const char *name)
{
    return QStringLiteral(V7_TESTDATA_DIR "/exif-samples/") + QLatin1String(name);
}

const QByteArray kPosHeader = "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \n";
const QByteArray kHeader = "照片路径,Model,make,focallength,width,height,time,\n";
const QByteArray kCanonRow = ",Canon EOS 40D,Canon,135,100,68,1212134161,2008:05:30 15:56:01\n";
const QByteArray kKodakRow = ",KODAK CX7530 ZOOM DIGITAL CAMERA,EASTMAN KODAK "
                             "COMPANY,16,100,78,1123897643,2005:08:13 09:47:23\n";
const QByteArray kWwlRow = ",ION230,WWL,8,75,100,1795502476,2026:11:24 14:41:16\n";

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
    m_photo = fileBytes(sample("Canon_40D.jpg"));
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
    QTest::newRow("just below a minute") << false << 10.0166666 << "10/1 0/1 59999760/1000000";
    QTest::newRow("1523.456 m") << true << 1523.456 << "1523456/1000";
    QTest::newRow("sea level") << true << 0.0 << "0/1000";
    QTest::newRow("fraction of a millimetre dropped") << true << 0.0019 << "1/1000";
}

void TestGeotag::valueForms()
{
    QFETCH(bool, altitude);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(altitude ? Geotag::altitudeThousandths(value) : Geotag::rationalDegrees(value), text);
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

void TestGeotag::filesThatCannotBeTagged()
{
    const GeoPosition where{23.5, 113.25125, 152.3};
    QString error;

    QVERIFY(!Geotag::tagFile(m_dir.filePath(QStringLiteral("missing.jpg")), 20, where, &error));
    QVERIFY(!error.isEmpty());

    const QString readOnly = copyOf(sample("Nikon_D70.jpg"), QStringLiteral("readonly.jpg"));
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup);
    const QByteArray before = fileBytes(readOnly);
    error.clear();
    QVERIFY(!Geotag::tagFile(readOnly, 20, where, &error));
    QVERIFY(error.contains(QLatin1String("read-only")));
    QCOMPARE(fileBytes(readOnly), before);
}

// As a script calls it: the table's rows go to the photos in order, with the focal length given
// (what exiftool reads back is the damaged-directory test's); image data and permissions stay. A
// photo straight from an image editor, with no EXIF block, gets one. A photo beyond the last row
// is left as it is. Wrong usage of exif or geotag exits 2 without output.
void TestGeotag::toolTagsRowsInOrder()
{
    const QString table = m_dir.filePath(QStringLiteral("flight.xls"));
    QVERIFY(writeFile(
        table, kPosHeader + "1 \t113.2512500 \t23.5000000 \t152.300 \t90.00 \t1.0 \t2.0 \t90.00 "
                            "\t25.0 \t2019-03-28 10-00-00 \t \n"
                            "2 \t-70.6692655 \t-33.8688200 \t-430.500 \t90.00 \t1.0 \t2.0 "
                            "\t90.00 \t25.0 \t2019-03-28 10-00-01 \t \n"));
    const QStringList photos = {copyOf(sample("Canon_40D.jpg"), QStringLiteral("a.jpg")),
                                copyOf(V7_TESTDATA_DIR "/no_exif.jpg", QStringLiteral("b.jpg")),
                                copyOf(sample("Pentax_K10D.jpg"), QStringLiteral("c.jpg"))};
    const QByteArray before[2] = {fileBytes(photos[0]), fileBytes(photos[1])};
    QVERIFY(!ExifReader::readFile(photos[1]).exifFound);
    const QFile::Permissions permissions = QFile::permissions(photos[0]);
    ToolRun tool = runTool(V7TOOL, QStringList{"geotag", "--pos", table, "--focal", "24"} + photos);
    QCOMPARE(tool.exitCode, 0);
    const QList<QJsonObject> lines = tool.jsonLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY(!lines[2].value(QLatin1String("tagged")).toBool());
    QCOMPARE(lines[2].value(QLatin1String("error")).toString(), QStringLiteral("no POS row"));
    for (int i = 0; i < 2; ++i) {
        QVERIFY(lines[i].value(QLatin1String("tagged")).toBool());
        const PhotoInfo info = ExifReader::readFile(photos[i]);
        QVERIFY(info.exifFound);
        QCOMPARE(info.gpsLatitudeRef, i == 0 ? 'N' : 'S');
        QCOMPARE(info.focalLength, 24.0);
        QCOMPARE(imageData(fileBytes(photos[i])), imageData(before[i]));
    }
    QCOMPARE(fileBytes(photos[2]), fileBytes(sample("Pentax_K10D.jpg")));
    QCOMPARE(QFile::permissions(photos[0]), permissions);
    for (const QStringList &usage :
         {QStringList{"exif"}, QStringList{"geotag", "a.jpg"},
          QStringList{"geotag", "--pos", "t.xls"},
          QStringList{"geotag", "--pos", "t.xls", "--focal", "twenty", "a.jpg"},
          QStringList{"geotag", "--pos", V7TOOL, photos[2]},
          QStringList{"geotag", "--pos", m_dir.filePath(QStringLiteral("absent.xls")),
                      photos[2]}}) {
        tool = runTool(V7TOOL, usage);
        QCOMPARE(tool.exitCode, 2);
        QVERIFY(tool.out.isEmpty());
    }
    // A table that is not a POS table is refused by name and line, and touches no photo.
    QVERIFY(tool.err.contains(QStringLiteral("refused input: %1: no such file")
                                  .arg(m_dir.filePath(QStringLiteral("absent.xls")))
                                  .toUtf8()));
    QCOMPARE(fileBytes(photos[2]), fileBytes(sample("Pentax_K10D.jpg")));
}

// Copies of Kodak_CX7530.jpg (south 0.3713, east 36.0564) with one field of their GPS
// directory damaged, and photos given a long user comment with exiftool. Whatever the library
// makes of them, a photo counts as tagged only when exiftool reads the new position back and
// every other tag's value as it was; otherwise it is reported and left as it was, and the
// in-process tagging of the offload gives the same verdict. The position is south, west and
// below the sea, read back to a millionth of a degree and a millimetre.
void TestGeotag::damagedGpsDirectory_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("comment"); // bytes of user comment written first, with an XMP tag
    QTest::addColumn<bool>("tagged");
    QTest::addColumn<QString>("reason");
    auto damaged = [](const char *name) {
        return QStringLiteral(V7_TESTDATA_DIR "/damaged-gps/") + QLatin1String(name);
    };
    // The latitude reference entry's format set to 0x7777: the library keeps the old directory
    // where readers look, exiftool reads 0.3713 / 36.0564 back.
    QTest::newRow("latitude reference format")
        << damaged("latitude_ref_format.jpg") << 0 << false << "GPS";
    QTest::newRow("longitude format") << damaged("longitude_format.jpg") << 0 << false << "GPS";
    // Entry count 0xFFFF and a latitude value offset past the block: the library rebuilds the
    // directory and the new position reads back.
    QTest::newRow("entry count") << damaged("entry_count.jpg") << 0 << true << "";
    QTest::newRow("latitude value offset") << damaged("latitude_offset.jpg") << 0 << true << "";
    // Past 64 KiB exiftool goes on in a second APP1 section, which the library does not read:
    // it would write the comment and the thumbnail back empty.
    QTest::newRow("EXIF in two sections")
        << sample("Pentax_K10D.jpg") << 65000 << false << "Exif.Photo.UserComment";
    QTest::newRow("long comment in one section")
        << sample("Pentax_K10D.jpg") << 60000 << true << "";
    // One section a few bytes short of its 64 KiB limit has no room for the GPS tags; the
    // library would drop the comment to make them fit.
    QTest::newRow("no room left in the section")
        << sample("Pentax_K10D.jpg") << 63300 << false << "Exif.Photo.UserComment";
}

void TestGeotag::damagedGpsDirectory()
{
    QFETCH(QString, file);
    QFETCH(int, comment);
    QFETCH(bool, tagged);
    QFETCH(QString, reason);
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        QSKIP("exiftool not installed");
    const QString table = m_dir.filePath(QStringLiteral("one.xls"));
    QVERIFY(writeFile(table, kPosHeader + "1 \t-70.6692655 \t-33.8688200 \t-430.500 \t90.00 \t1.0 "
                                          "\t2.0 \t90.00 \t25.0 \t2019-03-28 10-00-00 \t \n"));
    const QString photo = copyOf(file, QFileInfo(file).fileName());
    if (comment > 0) {
        const QString text = m_dir.filePath(QStringLiteral("comment.txt"));
        QVERIFY(writeFile(text, QByteArray(comment, 'c')));
        // exiftool names itself the photo's XMP toolkit, a value tagging must keep as well.
        QCOMPARE(runTool(exiftool, {"-q", "-overwrite_original", "-UserComment<=" + text,
                                    "-XMP-dc:Subject=survey", photo})
                     .exitCode,
                 0);
    }
    // Every tag's value as exiftool reads it, but for those tagging sets or moves.
    const QRegularExpression rewritten(QStringLiteral("^(SourceFile|ExifTool:.*|System:.*|"
                                                      "Composite:.*|GPS:.*|.*:FocalLength|"
                                                      ".*:ThumbnailOffset)$"));
    auto tags = [&] {
        const ToolRun all = runTool(exiftool, {"-j", "-n", "-a", "-G1", photo});
        QVariantMap map = QJsonDocument::fromJson(all.out).array().at(0).toObject().toVariantMap();
        for (const QString &tag : map.keys())
            if (rewritten.match(tag).hasMatch())
                map.remove(tag);
        return map;
    };
    const QVariantMap tagsBefore = tags();
    QVERIFY(tagsBefore.size() > 30);
    const QByteArray before = fileBytes(photo);
    QVERIFY(!before.isEmpty());

    QByteArray out;
    QString error;
    const GeoPosition where{-33.86882, -70.6692655, -430.5};
    QCOMPARE(Geotag::tagBuffer(before, 24, where, &out, &error), tagged);

    const ToolRun tool = runTool(V7TOOL, {"geotag", "--pos", table, "--focal", "24", photo});
    const QJsonObject line = tool.json();
    QCOMPARE(line.value(QLatin1String("tagged")).toBool(), tagged);
    QCOMPARE(tool.exitCode, tagged ? 0 : 1);
    // No temporary file is left beside the photos, tagged or not.
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".jpg."),
             QStringList());

    const ToolRun exif = runTool(exiftool, {"-j", "-n", "-GPSLatitude", "-GPSLongitude",
                                            "-GPSAltitude", "-FocalLength", photo});
    const QJsonObject read = QJsonDocument::fromJson(exif.out).array().at(0).toObject();
    auto value = [&](const char *key) { return read.value(QLatin1String(key)).toDouble(); };
    const bool readsNew = std::fabs(value("GPSLatitude") - where.latitude) < 1e-6 &&
                          std::fabs(value("GPSLongitude") - where.longitude) < 1e-6 &&
                          std::fabs(value("GPSAltitude") - where.altitude) < 1e-3 &&
                          value("FocalLength") == 24.0;
    QVERIFY2(readsNew == tagged, QJsonDocument(read).toJson().constData());
    QVariantMap tagsAfter = tags();
    for (const QString &tag : tagsAfter.keys())
        if (!tagsBefore.contains(tag)) // an added tag (the library's XMP toolkit) loses nothing
            tagsAfter.remove(tag);
    QCOMPARE(tagsAfter, tagsBefore);
    if (!tagged) {
        QCOMPARE(fileBytes(photo), before);
        QVERIFY2(line.value(QLatin1String("error")).toString().contains(reason),
                 qPrintable(line.value(QLatin1String("error")).toString()));
    }
}

// Each row is on disk as soon as it is appended: a pulled card loses no row already written.
void TestGeotag::tableCreatedThenAppended()
{
    const QString canon = sample("Canon_40D.jpg"), kodak = sample("Kodak_CX7530.jpg");
    const QString wwl = sample("WWL_(Polaroid)_ION230.jpg");
    const QString path = m_dir.filePath(QStringLiteral("center.txt"));
    QString error;
    PhotoInfoTable table;
    QVERIFY2(table.open(path, false, &error), qPrintable(error));
    QCOMPARE(fileBytes(path), kHeader);
    QVERIFY(table.appendRow(canon, ExifReader::readFile(canon)));
    QCOMPARE(fileBytes(path), kHeader + canon.toUtf8() + kCanonRow);
    QVERIFY(table.appendRow(kodak, ExifReader::readFile(kodak)));
    table.close();
    const QByteArray first = kHeader + canon.toUtf8() + kCanonRow + kodak.toUtf8() + kKodakRow;
    QCOMPARE(fileBytes(path), first);

    // A resumed offload appends without a second header.
    QVERIFY(table.open(path, true, &error));
    QVERIFY(table.appendRow(wwl, ExifReader::readFile(wwl)));
    table.close();
    QCOMPARE(fileBytes(path), first + wwl.toUtf8() + kWwlRow);

    // A new offload starts the table again.
    QVERIFY(table.open(path, false, &error));
    table.close();
    QCOMPARE(fileBytes(path), kHeader);

    // Appending to a table that does not exist yet creates it, still without a header.
    const QString other = m_dir.filePath(QStringLiteral("front.txt"));
    QVERIFY(table.open(other, true, &error));
    QVERIFY(table.appendRow(canon, ExifReader::readFile(canon)));
    table.close();
    QCOMPARE(fileBytes(other), canon.toUtf8() + kCanonRow);

    // A table in a folder that does not exist: an error, and no row goes anywhere.
    QVERIFY(!table.open(m_dir.filePath(QStringLiteral("no/such/folder/back.txt")), false, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!table.isOpen());
    QVERIFY(!table.appendRow(canon, ExifReader::readFile(canon)));

    // Values no photo should hold are written as whole numbers the table can take.
    PhotoInfo info;
    info.cameraModel = QStringLiteral("M");
    info.focalLength = 35.99;
    info.width = 6000;
    info.height = 4000;
    QCOMPARE(PhotoInfoTable::row(QStringLiteral("p.jpg"), info),
             QByteArray("p.jpg,M,,35,6000,4000,-1,\n"));
    info.focalLength = 1e300;
    QCOMPARE(PhotoInfoTable::row(QStringLiteral("p.jpg"), info),
             QByteArray("p.jpg,M,,0,6000,4000,-1,\n"));
}

void TestGeotag::captureTime_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<qlonglong>("seconds");
    QTest::newRow("exif date") << "2008:05:30 15:56:01" << 1212134161LL;
    QTest::newRow("other separators") << "2008-05-30T15/56/01" << 1212134161LL;
    QTest::newRow("epoch in UTC+8") << "1970:01:01 08:00:00" << 0LL;
    QTest::newRow("before 1970") << "1969:12:31 23:59:59" << -1LL;
    QTest::newRow("cut short") << "2008:05:30 15:56" << -1LL;
    QTest::newRow("blank date of a camera without clock") << "    :  :     :  :  " << -1LL;
}

void TestGeotag::captureTime()
{
    QFETCH(QString, date);
    QFETCH(qlonglong, seconds);
    QCOMPARE(PhotoInfoTable::captureTime(date), seconds);
}

QTEST_GUILESS_MAIN(TestGeotag)
#include "tst_geotag.moc"
