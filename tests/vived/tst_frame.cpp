// The frame codec and the payload decoders: what is accepted, and every way a datagram is refused.
#include "frame.h"
#include "protocol.h"

#include <QTest>

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

class tst_Frame : public QObject
{
    Q_OBJECT

private slots:
    void layoutIsBigEndianWithCrc();
    void decode_data();
    void decode();
    void oversizedPayloadIsNotEncoded();
    void payloads_data();
    void payloads();
    void workParamKeepsEveryByte();
    void statusRoundTrip();
};

void tst_Frame::layoutIsBigEndianWithCrc()
{
    const uint8_t payload[] = {0xaa, 0xbb};
    const QByteArray f = bytes(encodeFrame(0x11, 0x01020304, payload, 2));
    QCOMPARE(f.toHex(),
             QByteArray("56370111010203040002aabb") +
                 QByteArray::number(
                     uint(crc32(0, reinterpret_cast<const Bytef *>(f.constData()), 12)), 16)
                     .rightJustified(8, '0'));
}

void tst_Frame::decode_data()
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

void tst_Frame::decode()
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

void tst_Frame::oversizedPayloadIsNotEncoded()
{
    std::vector<uint8_t> payload(kMaxPayload + 1, 0);
    QVERIFY(encodeFrame(CmdPosRead | kReplyBit, 1, payload.data(), payload.size()).empty());
    payload.pop_back();
    QCOMPARE(encodeFrame(CmdPosRead, 1, payload.data(), payload.size()).size(), kMaxFrameSize);
}

void tst_Frame::payloads_data()
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

void tst_Frame::payloads()
{
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QFETCH(bool, accepted);
    const Bytes p(payload.begin(), payload.end());
    QCOMPARE(decodeAnyPayload(uint8_t(command), p), accepted);
}

void tst_Frame::workParamKeepsEveryByte()
{
    // The record travels little-endian, whatever the field; reserved bytes survive too.
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
}

void tst_Frame::statusRoundTrip()
{
    StatusPayload s;
    s.state = 2;
    s.photoCount = 0x01020304;
    s.satellites = -1;
    s.posBytes = 120484;
    s.cameraPhotos[4] = 0xfffe;
    s.cameraState = 0x1b;
    s.selfTest = 2;
    s.landingGear = 0x8001;
    s.workParam.mode = 3;
    s.workParam.distanceInterval = 500;
    StatusPayload back;
    QVERIFY(decodeStatus(encodeStatus(s), back));
    QCOMPARE(back.photoCount, s.photoCount);
    QCOMPARE(back.satellites, -1);
    QCOMPARE(back.cameraPhotos[4], uint16_t(0xfffe));
    QCOMPARE(back.cameraState, uint8_t(0x1b));
    QCOMPARE(back.landingGear, uint16_t(0x8001));
    QCOMPARE(back.workParam.distanceInterval, uint16_t(500));
}

QTEST_GUILESS_MAIN(tst_Frame)
#include "tst_frame.moc"
