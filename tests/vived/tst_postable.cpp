// POS record decoding, time conversion, geodesy and the table rows the library writes.
// Runs with TZ=CST-8, so local time is UTC + 8 hours.
#include "postable.h"
#include "v7k.h"

#include <QTemporaryFile>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <unistd.h>

using vived::PosRecord;
using vived::PosTable;

namespace {
// A 52-byte record built field by field, big-endian.
struct Raw
{
    QByteArray b = QByteArray(52, 0);
    Raw &s16(int at, qint16 v)
    {
        qToBigEndian(v, b.data() + at);
        return *this;
    }
    Raw &s32(int at, qint32 v)
    {
        qToBigEndian(v, b.data() + at);
        return *this;
    }
    Raw &u8(int at, int v)
    {
        b[at] = char(v);
        return *this;
    }
    const uint8_t *data() const { return reinterpret_cast<const uint8_t *>(b.constData()); }
};

Raw reference()
{
    Raw r;
    r.s16(0, 1)
        .s16(2, 100)
        .s16(4, 200)
        .s16(6, 9000)
        .s32(8, 1126000000)
        .s32(12, 234463420)
        .s32(16, 100000)
        .s16(20, 25)
        .s16(22, 9000)
        .s32(24, 1553738400)
        .s16(28, 1500)
        .u8(30, 2);
    return r;
}
} // namespace

class tst_PosTable : public QObject
{
    Q_OBJECT

private slots:
    void byteOrder_data();
    void byteOrder();
    void referenceRecordRow();
    void shortRecordPsi();
    void timeCell_data();
    void timeCell();
    void utcToLocal_data();
    void utcToLocal();
    void lensRows();
    void calcNextPointMatchesGeodSolve_data();
    void calcNextPointMatchesGeodSolve();
    void calcNextPointRefusesBadInput();
    void headerLines();
};

void tst_PosTable::byteOrder_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("s16");
    QTest::addColumn<int>("u16");
    QTest::addColumn<qint64>("s32");
    QTest::newRow("small") << QByteArray::fromHex("00010203") << 1 << 1 << qint64(0x00010203);
    QTest::newRow("sign bits") << QByteArray::fromHex("fffefdfc") << -2 << 0xfffe << qint64(-66052);
    QTest::newRow("high bit only")
        << QByteArray::fromHex("80000000") << -32768 << 0x8000 << qint64(INT32_MIN);
}

void tst_PosTable::byteOrder()
{
    QFETCH(QByteArray, raw);
    QTEST(int(_posfile_big2littles(raw.constData())), "s16");
    QTEST(int(_posfile_big2littleus(raw.constData())), "u16");
    QTEST(qint64(__posfile_big2littlel(raw.constData())), "s32");
}

void tst_PosTable::referenceRecordRow()
{
    Raw r = reference();
    r.s32(31, 1000).s32(35, 0).s32(39, -1).s32(43, 7).s32(47, 0);
    PosRecord record;
    QVERIFY(PosTable::decode(r.data(), 52, record));
    QCOMPARE(QByteArray::fromStdString(PosTable::mainRow(record, 52)),
             QByteArray("1 \t112.6000000 \t23.4463420 \t100.000 \t90.00 \t1.0 \t2.0 \t90.00 \t"
                        "25.0 \t2019-03-28 10-00-01 \t1000 \t0 \t-1 \t7 \t0 \t \n"));
}

void tst_PosTable::shortRecordPsi()
{
    Raw r = reference();
    r.s32(20, 11520).u8(30, 0);
    PosRecord record;
    QVERIFY(PosTable::decode(r.data(), 32, record));
    QCOMPARE(QByteArray::fromStdString(PosTable::mainRow(record, 32)),
             QByteArray("1 \t112.6000000 \t23.4463420 \t100.000 \t90.00 \t1.0 \t2.0 \t90.00 \t"
                        " \t \n"));
    QVERIFY(!PosTable::decode(r.data(), 40, record));
}

void tst_PosTable::timeCell_data()
{
    QTest::addColumn<QByteArray>("timeBytes"); // bytes 24..30
    QTest::addColumn<QByteArray>("text");
    auto unix = [](qint32 s, qint16 ms, int flags) {
        QByteArray b(7, 0);
        qToBigEndian(s, b.data());
        qToBigEndian(ms, b.data() + 4);
        b[6] = char(flags);
        return b;
    };
    QTest::newRow("unix, 1500 ms adds a second")
        << unix(1553738400, 1500, 2) << QByteArray("2019-03-28 10-00-01");
    QTest::newRow("unix, second 59 is not carried")
        << unix(1553738459, 1999, 2) << QByteArray("2019-03-28 10-00-60");
    QTest::newRow("unix with other flag bits")
        << unix(1553738400, 0, 6) << QByteArray("2019-03-28 10-00-00");
    QTest::newRow("flags 3 are calendar")
        << QByteArray::fromHex("13031c020000") + char(3) << QByteArray("2019-03-28 10-00-00");
    QTest::newRow("calendar rolls into next year")
        << QByteArray::fromHex("130c1f173b3b") + char(1) << QByteArray("2020-01-01 07-59-59");
    QTest::newRow("no time") << unix(1553738400, 0, 0) << QByteArray();
    QTest::newRow("flags 4 only: no time") << unix(1553738400, 0, 4) << QByteArray();
}

void tst_PosTable::timeCell()
{
    QFETCH(QByteArray, timeBytes);
    Raw r = reference();
    r.b.replace(24, 7, timeBytes);
    QTEST(QByteArray::fromStdString(PosTable::timeText(r.data())), "text");
}

void tst_PosTable::utcToLocal_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("same day") << QByteArray::fromHex("13031c020000")
                              << QByteArray::fromHex("13031c0a0000");
    QTest::newRow("next day") << QByteArray::fromHex("13031c100000")
                              << QByteArray::fromHex("13031d000000");
    QTest::newRow("leap day") << QByteArray::fromHex("14021c120000")
                              << QByteArray::fromHex("14021d020000");
    QTest::newRow("month 13 normalised")
        << QByteArray::fromHex("130d01000000") << QByteArray::fromHex("140101080000");
}

void tst_PosTable::utcToLocal()
{
    QFETCH(QByteArray, in);
    uint8_t f[6];
    for (int i = 0; i < 6; ++i)
        f[i] = uint8_t(in[i]);
    // Month .. second come in five separate bytes, as the program passes them.
    uint8_t mo = f[1], d = f[2], h = f[3], mi = f[4], s = f[5];
    QCOMPARE(_utc2localtime(&f[0], &mo, &d, &h, &mi, &s), 0);
    const QByteArray got =
        QByteArray(1, char(f[0])) + char(mo) + char(d) + char(h) + char(mi) + char(s);
    QTEST(got, "out");
    QCOMPARE(_utc2localtime(nullptr, &mo, &d, &h, &mi, &s), -1);
}

void tst_PosTable::lensRows()
{
    Raw r = reference();
    r.s32(31, 0).s32(35, -5).s32(39, 2000000);
    PosRecord record;
    QVERIFY(PosTable::decode(r.data(), 52, record));
    std::string row;
    QVERIFY(PosTable::lensRow(record, 0, row));
    QCOMPARE(QByteArray::fromStdString(row),
             QByteArray("1 \t112.6000000 \t23.4463420 \t100.000 \t90.00 \t1.0 \t2.0 \t90.00 \t"
                        "25.0 \t2019-03-28 10-00-01 \t \n"));
    QVERIFY(!PosTable::lensRow(record, 1, row));
    // 2,000,000 x 25 x 1e-6 = 50 m due east (Psi_GPS 90): GeodSolve gives 112.600489321304579.
    QVERIFY(PosTable::lensRow(record, 2, row));
    QVERIFY(QByteArray::fromStdString(row).startsWith("1 \t112.6004893 \t23.4463420 \t"));
    QVERIFY(!PosTable::lensRow(record, 5, row));

    Raw zero = reference();
    zero.s32(8, 0).s32(31, 2000000);
    QVERIFY(PosTable::decode(zero.data(), 52, record));
    QVERIFY(PosTable::lensRow(record, 0, row));
    QVERIFY(QByteArray::fromStdString(row).startsWith("1 \t0 \t23.4463420 \t"));
}

void tst_PosTable::calcNextPointMatchesGeodSolve_data()
{
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lon");
    QTest::addColumn<double>("heading");
    QTest::addColumn<double>("distance");
    QTest::addColumn<double>("lat2");
    QTest::addColumn<double>("lon2");
    // Reference figures from GeodSolve -p 12 -f (GeographicLib's own tool).
    QTest::newRow("east 50 m") << 23.446342 << 112.6 << 90.0 << 50.0 << 23.446341999232942
                               << 112.600489321304579;
    QTest::newRow("3.75 cm") << 22.9 << 113.2 << 35.0 << 0.0375 << 22.900000277383747
                             << 113.200000209644799;
    QTest::newRow("south-west 1.5 km")
        << -33.8688 << 151.2093 << 225.0 << 1500.0 << -33.878361846632011 << 151.197835418860848;
    QTest::newRow("north 100 km") << 60.0 << -10.0 << 0.0 << 100000.0 << 60.897505998633861
                                  << -10.0;
    QTest::newRow("across the date line")
        << 0.5 << 179.9999 << 90.0 << 50.0 << 0.499999999984532 << -179.999650825369230;
    QTest::newRow("near the pole")
        << -89.9 << 0.0 << 45.0 << 1000.0 << -89.893480954572922 << 3.407272475566290;
}

void tst_PosTable::calcNextPointMatchesGeodSolve()
{
    QFETCH(double, lat);
    QFETCH(double, lon);
    QFETCH(double, heading);
    QFETCH(double, distance);
    QFETCH(double, lat2);
    QFETCH(double, lon2);
    double outLon = 0, outLat = 0;
    QCOMPARE(CalcNextPoint(lon, lat, distance, heading, &outLon, &outLat), 0);
    QVERIFY2(std::fabs(outLat - lat2) < 1e-11, qPrintable(QString::number(outLat, 'f', 15)));
    QVERIFY2(std::fabs(outLon - lon2) < 1e-11, qPrintable(QString::number(outLon, 'f', 15)));
}

void tst_PosTable::calcNextPointRefusesBadInput()
{
    double lon = 1, lat = 2;
    QCOMPARE(CalcNextPoint(0, 91, 10, 0, &lon, &lat), -1);
    QCOMPARE(CalcNextPoint(NAN, 0, 10, 0, &lon, &lat), -1);
    QCOMPARE(CalcNextPoint(0, 0, INFINITY, 0, &lon, &lat), -1);
    QCOMPARE(CalcNextPoint(0, 0, 10, 0, nullptr, &lat), -1);
    QCOMPARE(lon, 1.0);
    QCOMPARE(lat, 2.0);
}

void tst_PosTable::headerLines()
{
    QCOMPARE(QByteArray::fromStdString(PosTable::mainHeader(52)),
             QByteArray("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\toffset1\t"
                        "offset2\toffset3\toffset4\toffset5\t \n"));
    QCOMPARE(QByteArray::fromStdString(PosTable::mainHeader(32)),
             QByteArray("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tTime\t \n"));
    // The per-lens header, written by the call the page makes before an offset request.
    QTemporaryFile file;
    QVERIFY(file.open());
    FILE *f = fdopen(dup(file.handle()), "w");
    QVERIFY(f);
    QCOMPARE(_ofrm_initexcelheadoffsetsingle(f), 0);
    fclose(f);
    file.seek(0);
    QCOMPARE(file.readAll(),
             QByteArray("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \n"));
    QCOMPARE(_ofrm_initexcelheadoffsetsingle(nullptr), -1);
}

QTEST_GUILESS_MAIN(tst_PosTable)
#include "tst_postable.moc"
