// The frame codec and payload decoders (what is accepted, and every way a datagram is refused),
// the edge cases of POS record times and CalcNextPoint against GeodSolve. Runs with TZ=CST-8, so
// local time is UTC + 8 hours.
#include "frame.h"
#include "postable.h"
#include "protocol.h"
#include "v7k.h"

#include <QtTest>

#include <cmath>
#include <zlib.h>

using namespace vived;

Q_DECLARE_METATYPE(vived::DecodeResult)

namespace {
QByteArray bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

// Re-seals a modified frame with a correct CRC, so that only the intended fault remains.
QByteArray reseal(QByteArray frame)
{
    frame.chop(4);
    const uint32_t crc =
        uint32_t(crc32(0, reinterpret_cast<const Bytef *>(frame.constData()), uInt(frame.size())));
    for (int shift = 24; shift >= 0; shift -= 8)
        frame += char(crc >> shift);
    return frame;
}

QByteArray versionFrame()
{
    VersionPayload v;
    v.hardware = 2;
    v.major = 4;
    v.minor = 41;
    v.serial = "V7K52019032801";
    const Bytes p = encodeVersion(v);
    return bytes(encodeFrame(CmdVersion | kReplyBit, 0x01020304, p.data(), p.size()));
}
} // namespace

class tst_Codec : public QObject
{
    Q_OBJECT

private slots:
    void frameLayout();
    void decode_data();
    void decode();
    void payloads_data();
    void payloads();
    void recordsKeepEveryByte();
    void timeCell_data();
    void timeCell();
    void utcToLocal_data();
    void utcToLocal();
    void calcNextPointMatchesGeodSolve_data();
    void calcNextPointMatchesGeodSolve();
    void refusesBadInput();
};

void tst_Codec::frameLayout()
{
    const uint8_t payload[] = {0xaa, 0xbb};
    const QByteArray f = bytes(encodeFrame(0x11, 0x01020304, payload, 2));
    QCOMPARE(f.toHex(),
             QByteArray("56370111010203040002aabb") +
                 QByteArray::number(
                     uint(crc32(0, reinterpret_cast<const Bytef *>(f.constData()), 12)), 16)
                     .rightJustified(8, '0'));
    // A payload over the limit is not encoded; at the limit the frame is the largest there is.
    std::vector<uint8_t> big(kMaxPayload + 1, 0);
    QVERIFY(encodeFrame(CmdPosRead | kReplyBit, 1, big.data(), big.size()).empty());
    big.pop_back();
    QCOMPARE(encodeFrame(CmdPosRead, 1, big.data(), big.size()).size(), kMaxFrameSize);
}

void tst_Codec::decode_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<DecodeResult>("result");

    const QByteArray good = versionFrame();
    // The good frame with byte at set to value, resealed with a correct CRC unless told not to.
    auto with = [&](int at, int value, bool seal = true) {
        QByteArray f = good;
        f[at < 0 ? f.size() + at : at] = char(value);
        return seal ? reseal(f) : f;
    };
    QTest::newRow("valid answer") << good << DecodeResult::Ok;
    QTest::newRow("empty") << QByteArray() << DecodeResult::TooShort;
    QTest::newRow("header only") << good.left(10) << DecodeResult::TooShort;
    QTest::newRow("wrong magic") << with(1, 'X') << DecodeResult::BadMagic;
    QTest::newRow("other version") << with(2, 2) << DecodeResult::BadVersion;
    QTest::newRow("length past the datagram") << with(9, good[9] + 1) << DecodeResult::BadLength;
    QTest::newRow("bytes after the frame") << with(9, good[9] - 1) << DecodeResult::BadLength;
    QTest::newRow("length 65535") << reseal(good.left(8) + "\xff\xff" + good.mid(10))
                                  << DecodeResult::BadLength;
    QTest::newRow("trailing byte") << good + 'x' << DecodeResult::BadLength;
    QTest::newRow("payload bit flipped")
        << with(14, good[14] ^ 0x01, false) << DecodeResult::BadCrc;
    QTest::newRow("crc bit flipped")
        << with(-1, good[good.size() - 1] ^ 0x80, false) << DecodeResult::BadCrc;
    QTest::newRow("unknown command") << with(3, 0x7e) << DecodeResult::UnknownCommand;
    QTest::newRow("command between groups") << with(3, 0x08) << DecodeResult::UnknownCommand;
}

void tst_Codec::decode()
{
    QFETCH(QByteArray, datagram);
    QFETCH(DecodeResult, result);
    Frame frame;
    QCOMPARE(decodeFrame(reinterpret_cast<const uint8_t *>(datagram.constData()),
                         size_t(datagram.size()), frame),
             result);
    if (result == DecodeResult::Ok) {
        QCOMPARE(frame.command, uint8_t(CmdVersion | kReplyBit));
        QCOMPARE(frame.sequence, 0x01020304u);
        QCOMPARE(bytes(encodeFrame(frame)), datagram);
    }
}

void tst_Codec::payloads_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("accepted");

    auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    const int reply = kReplyBit;
    const QByteArray version = bytes(encodeVersion({2, 4, 41, "V7K5"}));
    auto versionWith = [&](int at, char value) {
        return QByteArray(version).replace(at, 1, &value, 1);
    };
    QTest::newRow("version") << (CmdVersion | reply) << version << true;
    QTest::newRow("serial with a control character")
        << (CmdVersion | reply) << versionWith(5, '\n') << false;
    QTest::newRow("serial without terminator")
        << (CmdVersion | reply) << versionWith(19, 'X') << false;
    QTest::newRow("text after the terminator")
        << (CmdVersion | reply) << versionWith(12, 'Z') << false;
    QTest::newRow("build date") << (CmdBuildDate | reply) << hex("0a323031392d30332d3238") << true;
    QTest::newRow("build date length past payload")
        << (CmdBuildDate | reply) << hex("0b323031392d30332d3238") << false;
    QTest::newRow("build date of 21")
        << (CmdBuildDate | reply) << QByteArray(1, char(21)) + QByteArray(21, 'a') << false;
    QTest::newRow("slot info") << (CmdPosInfo | reply)
                               << hex("01210001000000011860130318020000"
                                      "3400")
                               << true;
    QTest::newRow("slot info end before start")
        << (CmdPosInfo | reply) << hex("012100011860000100001303180200003400") << false;
    QTest::newRow("chunk of 1024")
        << (CmdPosRead | reply) << hex("2100000000") + QByteArray(1024, 'x') << true;
    QTest::newRow("chunk of 1025")
        << (CmdPosRead | reply) << hex("2100000000") + QByteArray(1025, 'x') << false;
    QTest::newRow("read of 0 bytes") << int(CmdPosRead) << hex("21000000000000") << false;
    QTest::newRow("status short by one") << int(CmdStatus) << QByteArray(59, 0) << false;
    QTest::newRow("shutter answer") << (CmdShutter | reply) << hex("0000000011") << true;
    QTest::newRow("version request with payload") << int(CmdVersion) << hex("00") << false;
    QTest::newRow("upgrade phase 5") << (CmdFwProgress | reply) << hex("05042a00000000") << false;
    QTest::newRow("error") << int(CmdError) << hex("1103") << true;
    QTest::newRow("unknown") << 0x30 << QByteArray() << false;
}

void tst_Codec::payloads()
{
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QFETCH(bool, accepted);
    const Bytes p(payload.begin(), payload.end());
    QCOMPARE(decodeAnyPayload(uint8_t(command), p), accepted);
}

void tst_Codec::recordsKeepEveryByte()
{
    // The work parameters travel little-endian, whatever the field; reserved bytes survive too.
    Bytes raw(24);
    for (int i = 0; i < 24; ++i)
        raw[size_t(i)] = uint8_t(0x11 * (i % 15) + i);
    WorkParam p;
    QVERIFY(decodeWorkParam(raw, p));
    QCOMPARE(p.timeInterval, uint16_t(raw[20] | raw[21] << 8));
    QCOMPARE(p.powerOnDelay, uint16_t(raw[6] | raw[7] << 8));
    QCOMPARE(p.reserved2[1], raw[3]);
    QCOMPARE(bytes(encodeWorkParam(p)), bytes(raw));
    QVERIFY(!decodeWorkParam(Bytes(23), p));

    // Decoded and encoded again, every byte of a status comes back, the four unused ones zero.
    Bytes status(60, 0);
    for (int i = 0; i < 56; ++i)
        status[size_t(i)] = uint8_t(0x9d * i + 7);
    StatusPayload s;
    QVERIFY(decodeStatus(status, s));
    QCOMPARE(bytes(encodeStatus(s)).toHex(), bytes(status).toHex());
}

void tst_Codec::timeCell_data()
{
    QTest::addColumn<QByteArray>("timeBytes"); // bytes 24..30
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("unix with other flag bits")
        << QByteArray::fromHex("5c9c2aa0000006") << QByteArray("2019-03-28 10-00-00");
    QTest::newRow("calendar rolls into next year")
        << QByteArray::fromHex("130c1f173b3b01") << QByteArray("2020-01-01 07-59-59");
}

void tst_Codec::timeCell()
{
    QFETCH(QByteArray, timeBytes);
    const QByteArray record = QByteArray(24, 0) + timeBytes + QByteArray(21, 0);
    QTEST(QByteArray::fromStdString(
              PosTable::timeText(reinterpret_cast<const uint8_t *>(record.constData()))),
          "text");
}

void tst_Codec::utcToLocal_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("leap day") << QByteArray::fromHex("14021c120000")
                              << QByteArray::fromHex("14021d020000");
    QTest::newRow("month 13 normalised")
        << QByteArray::fromHex("130d01000000") << QByteArray::fromHex("140101080000");
}

void tst_Codec::utcToLocal()
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

void tst_Codec::calcNextPointMatchesGeodSolve_data()
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

void tst_Codec::calcNextPointMatchesGeodSolve()
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

void tst_Codec::refusesBadInput()
{
    double lon = 1, lat = 2;
    QCOMPARE(CalcNextPoint(0, 91, 10, 0, &lon, &lat), -1);
    QCOMPARE(CalcNextPoint(NAN, 0, 10, 0, &lon, &lat), -1);
    QCOMPARE(CalcNextPoint(0, 0, INFINITY, 0, &lon, &lat), -1);
    QCOMPARE(CalcNextPoint(0, 0, 10, 0, nullptr, &lat), -1);
    QCOMPARE(lon, 1.0);
    QCOMPARE(lat, 2.0);
    QCOMPARE(_ofrm_initexcelheadoffsetsingle(nullptr), -1);
    const uint8_t record[52] = {};
    PosRecord r;
    QVERIFY(!PosTable::decode(record, 40, r));
}

QTEST_GUILESS_MAIN(tst_Codec)
#include "tst_codec.moc"
