// The library's parts that need no camera: the frame codec and payload decoders (what is
// accepted, and every way a datagram is refused), the planning page's figures and the firmware
// image with its encrypted container. Record times and lens positions are tst_poscore's, against
// the test's own tables.
#include "firmwareimage.h"
#include "frame.h"
#include "postable.h"
#include "protocol.h"
#include "testtools.h"
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

std::vector<uint8_t> sampleImage()
{
    FirmwareHeader h;
    h.major = 4;
    h.minor = 42;
    h.buildDate = "2020-05-01";
    h.model = "V7K5";
    std::vector<uint8_t> body(5000);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t(i * 7 + 3);
    return FirmwareImage::build(h, body);
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
    void statusKeepsEveryByte();
    void refusesBadInput();
    void planningFigures_data();
    void planningFigures();
    void firmwareImage_data();
    void firmwareImage();

private:
    QTemporaryDir m_dir;
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

    const Bytes version = encodeVersion({2, 4, 41, "V7K52019032801"});
    const QByteArray good =
        bytes(encodeFrame(CmdVersion | kReplyBit, 0x01020304, version.data(), version.size()));
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
    QTest::newRow("work parameters of 23")
        << (CmdWorkParamGet | reply) << QByteArray(23, 0) << false;
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

// Decoded and encoded again, every byte of a status comes back, the four unused ones zero. (The
// work parameters' layout is tst_strategy's, against a table of its own.)
void tst_Codec::statusKeepsEveryByte()
{
    Bytes status(60, 0);
    for (int i = 0; i < 56; ++i)
        status[size_t(i)] = uint8_t(0x9d * i + 7);
    StatusPayload s;
    QVERIFY(decodeStatus(status, s));
    QCOMPARE(bytes(encodeStatus(s)).toHex(), bytes(status).toHex());
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
    uint8_t field = 1;
    QCOMPARE(_utc2localtime(nullptr, &field, &field, &field, &field, &field), -1);
    QCOMPARE(_ofrm_initexcelheadoffsetsingle(nullptr), -1);
    QCOMPARE(akupgrader_file_is_encrypt(m_dir.filePath("missing.bin").toUtf8()), 0);
    const uint8_t record[52] = {};
    PosRecord r;
    QVERIFY(!PosTable::decode(record, 40, r));
}

// Flying height, exposure spacing and line spacing, as the planning page truncates them, at the
// edges (ordinary figures are tst_flightplan's, through the page and the tool). What the page
// never passes gives zero, not a figure.
void tst_Codec::planningFigures_data()
{
    QTest::addColumn<double>("gsdCm");
    QTest::addColumn<int>("forward");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("height"); // at a focal length of 25 mm
    QTest::addColumn<int>("baseline");
    QTest::addColumn<int>("lineSpacing");
    QTest::newRow("no overlap") << 2.0 << 0 << 0 << 120 << 60 << 112;
    QTest::newRow("full overlap") << 5.0 << 100 << 100 << 300 << 0 << 0;
    QTest::newRow("empty GSD field") << 0.0 << 80 << 80 << 0 << 0 << 0;
    QTest::newRow("negative GSD") << -5.0 << 80 << 80 << 0 << 0 << 0;
    QTest::newRow("GSD not a number") << qQNaN() << 80 << 80 << 0 << 0 << 0;
    QTest::newRow("infinite GSD") << qInf() << 80 << 80 << 0 << 0 << 0;
    QTest::newRow("overlap past 100") << 5.0 << 150 << 80 << 300 << 0 << 56;
}

void tst_Codec::planningFigures()
{
    QFETCH(double, gsdCm);
    QFETCH(int, forward);
    QFETCH(int, side);
    // The page converts in double and stores floats.
    const float gsd = float(gsdCm / 100);
    QTEST(int(v7k_calc_alt_by_GSD(gsd, 25)), "height");
    QTEST(int(v7k_calc_baseline(gsd, float(forward / 100.0))), "baseline");
    QTEST(int(v7k_calc_sidelap(gsd, float(side / 100.0))), "lineSpacing");
}

// The plain image's checks, then the encrypted container around it: each row damages one.
void tst_Codec::firmwareImage_data()
{
    QTest::addColumn<bool>("sealed");
    QTest::addColumn<int>("at");       // byte to damage, from the end when negative; 0: none
    QTest::addColumn<int>("truncate"); // bytes to cut off the end
    QTest::newRow("plain") << false << 0 << 0;
    QTest::newRow("plain, last body byte") << false << -1 << 0;
    QTest::newRow("plain, version not resealed") << false << 6 << 0;
    QTest::newRow("plain, one byte short") << false << 0 << 1;
    QTest::newRow("sealed") << true << 0 << 0;
    QTest::newRow("last cipher block") << true << -1 << 0;
    QTest::newRow("first cipher block") << true << 40 << 0;
    QTest::newRow("initialisation vector") << true << 8 << 0;
    QTest::newRow("stated length") << true << 27 << 0;
    QTest::newRow("stated crc") << true << 31 << 0;
    QTest::newRow("not whole blocks") << true << 0 << 5;
    QTest::newRow("one block missing") << true << 0 << 16;
}

void tst_Codec::firmwareImage()
{
    QFETCH(bool, sealed);
    QFETCH(int, at);
    QFETCH(int, truncate);
    const bool intact = !at && !truncate;
    const std::vector<uint8_t> plain = sampleImage();
    std::vector<uint8_t> image = plain, again;
    if (sealed) {
        QVERIFY(FirmwareImage::encrypt(plain, image));
        QVERIFY(FirmwareImage::encrypt(plain, again));
        QVERIFY(image != again); // a fresh IV every time
    }
    if (at)
        image[size_t(at < 0 ? int(image.size()) + at : at)] ^= 0x20;
    image.resize(image.size() - size_t(truncate));
    const QByteArray in = m_dir.filePath("image.bin").toUtf8();
    const QString out = m_dir.filePath("out.bin");
    QFile::remove(out);
    QVERIFY(FirmwareImage::writeFile(in, image));
    if (intact)
        QCOMPARE(akupgrader_file_is_encrypt(in), int(sealed));
    if (sealed) {
        QCOMPARE(akupgrader_file_decrypt(in, out.toUtf8()), intact ? 0 : -1);
        QCOMPARE(fileBytes(out), intact ? bytes(plain) : QByteArray());
        QCOMPARE(QFile::exists(out), intact);
        return;
    }
    FirmwareHeader h;
    QCOMPARE(FirmwareImage::parse(image, h), intact);
    if (intact)
        QCOMPARE(QStringLiteral("%1.%2 %3 %4")
                     .arg(h.major)
                     .arg(h.minor)
                     .arg(QString::fromStdString(h.buildDate), QString::fromStdString(h.model)),
                 QStringLiteral("4.42 2020-05-01 V7K5"));
}

QTEST_GUILESS_MAIN(tst_Codec)
#include "tst_codec.moc"
