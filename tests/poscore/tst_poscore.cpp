// The POS download's rules without a camera: the +8 hour rule and the times of the listings, the
// names of the tables, the firmware ranges, the lens table paths, and the tables written from raw
// files compared byte for byte with tables the test computes itself. Runs with TZ=CST-8.
#include "postablecheck.h"

#include "posnames.h"
#include "posrawtables.h"
#include "posslotrow.h"
#include "postable.h"
#include "postimes.h"
#include "posusbdrive.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {
const char *const kLensNames[] = {"Front", "Right", "Back", "Left", "Center"};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Records with every field random, time flags of all three kinds (and stray bits), offsets of
// every sign and zero positions now and then.
QByteArray randomRecords(int count, int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray raw(count * size, 0);
    for (int i = 0; i < count; ++i) {
        uchar *r = reinterpret_cast<uchar *>(raw.data()) + i * size;
        for (int b = 0; b < size; ++b)
            r[b] = uchar(random.bounded(256));
        qToBigEndian<qint32>(random.bounded(-1800000000, 1800000000), r + 8);
        qToBigEndian<qint32>(random.bounded(-900000000, 900000000), r + 12);
        if (i % 11 == 0)
            qToBigEndian<qint32>(0, r + 8 + 4 * (i % 2));
        qToBigEndian<qint32>(random.bounded(1400000000, 1900000000), r + 24);
        r[30] = uchar(i % 5); // 0 none, 1 and 3 calendar, 2 unix, 4 none
        if (r[30] & 1) {
            const uchar calendar[6] = {uchar(random.bounded(30)),     uchar(1 + random.bounded(12)),
                                       uchar(1 + random.bounded(28)), uchar(random.bounded(24)),
                                       uchar(random.bounded(60)),     uchar(random.bounded(60))};
            memcpy(r + 24, calendar, 6);
        }
        if (size == 52) {
            qToBigEndian<qint16>(qint16(random.bounded(0, 60)), r + 20);
            for (int lens = 0; lens < 5; ++lens)
                qToBigEndian<qint32>(random.bounded(-3, 4) * random.bounded(1000000),
                                     r + 31 + 4 * lens);
        }
    }
    return raw;
}
} // namespace

class tst_PosCore : public QObject
{
    Q_OBJECT

private slots:
    void plusEightHours_data();
    void plusEightHours();
    void slotRow();
    void wifiOutputPath_data();
    void wifiOutputPath();
    void usbOutputPath();
    void firmwareRange_data();
    void firmwareRange();
    void lensPath_data();
    void lensPath();
    void rawTablesMatchIndependentTables_data();
    void rawTablesMatchIndependentTables();
    void rawTablesRefuseUnwritableOutput();
    void usbListingStopsAtUnreadableFile();

private:
    QTemporaryDir m_dir;
};

void tst_PosCore::plusEightHours_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("compact");
    QTest::newRow("same day") << QByteArray::fromHex("13031c020000") << "2019-03-28 10:00:00"
                              << "2019-03-28 10-00-00"
                              << "20190328100000";
    QTest::newRow("rolls into the next day")
        << QByteArray::fromHex("13031c102a05") << "2019-03-29 00:42:05"
        << "2019-03-29 00-42-05"
        << "20190329004205";
    QTest::newRow("rolls into the next year")
        << QByteArray::fromHex("130c1f173b3b") << "2020-01-01 07:59:59"
        << "2020-01-01 07-59-59"
        << "20200101075959";
    QTest::newRow("leap day") << QByteArray::fromHex("14021c120000") << "2020-02-29 02:00:00"
                              << "2020-02-29 02-00-00"
                              << "20200229020000";
    QTest::newRow("all zero stays") << QByteArray(6, 0) << "2000-00-00 00:00:00"
                                    << "2000-00-00 00-00-00"
                                    << "20000000000000";
    QTest::newRow("zero time of day moves")
        << QByteArray::fromHex("010101000000") << "2001-01-01 08:00:00"
        << "2001-01-01 08-00-00"
        << "20010101080000";
}

void tst_PosCore::plusEightHours()
{
    QFETCH(QByteArray, bytes);
    const PosClock clock = PosTimes::plusEightHours(
        PosTimes::fromBytes(reinterpret_cast<const uint8_t *>(bytes.constData())));
    QTEST(PosTimes::slotText(clock), "slot");
    QTEST(PosTimes::fileText(clock), "file");
    QTEST(PosTimes::compact(clock), "compact");
}

void tst_PosCore::slotRow()
{
    PosFileInfo info = {};
    info.startAddress = 0x10000;
    info.endAddress = 0x10000 + 52 * 120 + 51; // a torn last record does not count
    info.year = 19;
    info.month = 3;
    info.day = 28;
    info.hour = 17;
    info.downloadCount = 3;
    const PosSlotRow row = PosSlotRow::of(info, 4, 52);
    QCOMPARE(row.number, 5);
    QCOMPARE(row.points, qint64(120));
    QCOMPARE(row.downloads, 3);
    QCOMPARE(row.timeText, QStringLiteral("2019-03-29 01:00:00"));
    QCOMPARE(row.compactTime, QStringLiteral("20190329010000"));
    QCOMPARE(PosSlotRow::of(info, 0, 32).points, qint64((52 * 120 + 51) / 32));
    QCOMPARE(PosSlotRow::of(info, 0, 0).points, qint64(0)); // model not read yet
}

void tst_PosCore::wifiOutputPath_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("path");
    const QString chosen = QStringLiteral("/data/a/20190328101010POS点数据.xls");
    QTest::newRow("one file: the chosen path") << chosen << 1 << 8 << chosen;
    QTest::newRow("row 2 of three")
        << chosen << 3 << 2 << QStringLiteral("/data/a/20190328101010POS点数据3.xls");
    QTest::newRow("row 5 of three")
        << chosen << 3 << 5 << QStringLiteral("/data/a/20190328101010POS点数据6.xls");
    QTest::newRow("row 9 of three")
        << chosen << 3 << 9 << QStringLiteral("/data/a/20190328101010POS点数据10.xls");
    QTest::newRow("cut at the first dot")
        << QStringLiteral("/data/v1.2/out.xls") << 2 << 0 << QStringLiteral("/data/v11.xls");
    QTest::newRow("no dot") << QStringLiteral("/data/out") << 2 << 13
                            << QStringLiteral("/data/out14.xls");
    QTest::newRow("dot at the start")
        << QStringLiteral(".out") << 2 << 0 << QStringLiteral(".out1.xls");
}

void tst_PosCore::wifiOutputPath()
{
    QFETCH(QString, chosen);
    QFETCH(int, count);
    QFETCH(int, row);
    QTEST(PosNames::wifiOutputPath(chosen, count, row), "path");
}

void tst_PosCore::usbOutputPath()
{
    const QString chosen = QStringLiteral("/media/out/anything.xls");
    QCOMPARE(PosNames::usbOutputPath(chosen, "20190328100000", 1, 0),
             QStringLiteral("/media/out/20190328100000POS点数据.xls"));
    QCOMPARE(PosNames::usbOutputPath(chosen, "20190329100000", 2, 0),
             QStringLiteral("/media/out/20190329100000POS点数据1.xls"));
    QCOMPARE(PosNames::usbOutputPath(chosen, "20190330100000", 2, 1),
             QStringLiteral("/media/out/20190330100000POS点数据2.xls"));
    QCOMPARE(PosNames::suggestedName("20190328100000"), QStringLiteral("20190328100000POS点数据"));
}

void tst_PosCore::firmwareRange_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("range");
    QTest::newRow("3.2") << "3.2" << int(PosFirmwareRange::Plain);
    QTest::newRow("3.30") << "3.30" << int(PosFirmwareRange::Plain);
    QTest::newRow("3.31") << "3.31" << int(PosFirmwareRange::ProgramCompletes);
    QTest::newRow("4.0") << "4.0" << int(PosFirmwareRange::ProgramCompletes);
    QTest::newRow("4.41 is below 4.5") << "4.41" << int(PosFirmwareRange::ProgramCompletes);
    QTest::newRow("4.5") << "4.5" << int(PosFirmwareRange::Confirmed);
    QTest::newRow("4.52") << "4.52" << int(PosFirmwareRange::Confirmed);
    QTest::newRow("unknown") << "" << int(PosFirmwareRange::Plain);
}

void tst_PosCore::firmwareRange()
{
    QFETCH(QString, version);
    QTEST(int(posFirmwareRange(version)), "range");
}

void tst_PosCore::lensPath_data()
{
    QTest::addColumn<QString>("main");
    QTest::addColumn<int>("lens");
    QTest::addColumn<QString>("path");
    QTest::newRow("front") << "/d/20190328POS点数据.xls" << 0 << "/d/20190328POS点数据Front.xls";
    QTest::newRow("centre") << "/d/a.xls" << 4 << "/d/aCenter.xls";
    QTest::newRow("no extension") << "/d/a" << 1 << "/d/aRight.xls";
    QTest::newRow("first piece only") << "/d/x.xls/a.xls" << 2 << "/d/xBack.xls";
    QTest::newRow("leading .xls skipped") << ".xlsa.xls" << 3 << "aLeft.xls";
    QTest::newRow("no lens 5") << "/d/a.xls" << 5 << "";
}

void tst_PosCore::lensPath()
{
    QFETCH(QString, main);
    QFETCH(int, lens);
    QTEST(QString::fromStdString(vived::PosTable::lensPath(main.toStdString(), lens)), "path");
}

void tst_PosCore::rawTablesMatchIndependentTables_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("extra"); // torn bytes after the last record
    QTest::addColumn<bool>("perLens");
    QTest::newRow("52, lens tables") << 52 << 4321 << 0 << true;
    QTest::newRow("52, main only, torn tail") << 52 << 300 << 37 << false;
    QTest::newRow("32, torn tail") << 32 << 2500 << 31 << false;
    QTest::newRow("52, empty file, lens tables") << 52 << 0 << 0 << true;
    QTest::newRow("32, shorter than a record") << 32 << 0 << 5 << false;
}

void tst_PosCore::rawTablesMatchIndependentTables()
{
    QFETCH(int, size);
    QFETCH(int, count);
    QFETCH(int, extra);
    QFETCH(bool, perLens);
    const QByteArray raw = randomRecords(count, size, quint32(count + size)) + QByteArray(extra, 7);
    const QString rawPath = m_dir.filePath(QStringLiteral("%1.raw").arg(QTest::currentDataTag()));
    const QString mainPath = m_dir.filePath(QStringLiteral("%1.xls").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(rawPath, raw));
    QList<double> steps;
    const PosRawTables::Result r =
        PosRawTables::write(rawPath, size, mainPath, perLens, [&](double p) { steps.append(p); });
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.records, qint64(count));
    QCOMPARE(r.leftover, qint64(extra));
    QCOMPARE(steps.last(), 100.0);
    QVERIFY(std::is_sorted(steps.begin(), steps.end()));
    QCOMPARE(readAll(mainPath), PosTableCheck::mainTable(raw, size));
    const QString base = mainPath.left(mainPath.indexOf(QLatin1String(".xls")));
    for (int lens = 0; lens < 5; ++lens) {
        const QString lensPath = base + kLensNames[lens] + ".xls";
        if (perLens)
            QCOMPARE(readAll(lensPath), PosTableCheck::lensTable(raw, lens));
        else
            QVERIFY(!QFile::exists(lensPath));
    }
}

void tst_PosCore::rawTablesRefuseUnwritableOutput()
{
    const QString rawPath = m_dir.filePath("one.raw");
    QVERIFY(writeFile(rawPath, randomRecords(10, 52, 5)));
    PosRawTables::Result r =
        PosRawTables::write(rawPath, 52, m_dir.filePath("missing/dir/out.xls"), true);
    QVERIFY(!r.ok);
    QVERIFY(r.error.contains("missing/dir/out.xls"));
    r = PosRawTables::write(m_dir.filePath("absent.raw"), 52, m_dir.filePath("x.xls"), false);
    QVERIFY(!r.ok);
    QVERIFY(!QFile::exists(m_dir.filePath("x.xls")));
    r = PosRawTables::write(rawPath, 40, m_dir.filePath("y.xls"), false);
    QVERIFY(!r.ok);
    // A full disk: every write fails, and the table is not reported as written.
    if (QFile::exists("/dev/full")) {
        r = PosRawTables::write(rawPath, 52, QStringLiteral("/dev/full"), false);
        QVERIFY(!r.ok);
    }
}

void tst_PosCore::usbListingStopsAtUnreadableFile()
{
    const QString root = m_dir.filePath("torn");
    QVERIFY(QDir().mkpath(root));
    for (int i = 0; i < 6; ++i)
        QVERIFY(writeFile(root + QStringLiteral("/POS%1.DAT").arg(i), QByteArray(64, 0)));
    // A link whose file is gone cannot be opened, whoever runs the test.
    QVERIFY(QFile::link(root + "/gone", root + "/POSX.DAT"));
    const QFileInfoList order =
        QDir(root).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    int unreadable = -1;
    for (int i = 0; i < order.size(); ++i) {
        if (order[i].fileName() == QLatin1String("POSX.DAT"))
            unreadable = i;
    }
    QVERIFY(unreadable >= 0);
    bool stopped = false;
    const QVector<PosUsbFile> files = PosUsbDrive::list(root, 32, &stopped);
    QVERIFY(stopped);
    QCOMPARE(files.size(), unreadable);
    for (const PosUsbFile &file : files)
        QCOMPARE(file.points, qint64(2));
}

QTEST_GUILESS_MAIN(tst_PosCore)
#include "tst_poscore.moc"
