// The library against the simulator over loopback: device context, requests, hostile datagrams
// and the firmware upgrade. A camera falling silent is the link page's test.
#include "firmwareimage.h"
#include "frame.h"
#include "protocol.h"
#include "linkfixture.h"
#include "v7k.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace vived;

namespace {

Bytes statusWithPhotos(uint32_t photos)
{
    StatusPayload s;
    s.photoCount = photos;
    s.workParam.mode = 1;
    return encodeStatus(s);
}

QString makeImage(const QTemporaryDir &dir, const std::string &model)
{
    FirmwareHeader h;
    h.major = 4;
    h.minor = 42;
    h.buildDate = "2020-05-01";
    h.model = model;
    std::vector<uint8_t> body(40000);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t(i ^ (i >> 8));
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    return FirmwareImage::writeFile(path.toUtf8(), FirmwareImage::build(h, body)) ? path
                                                                                  : QString();
}
} // namespace

class tst_VivedLink : public QObject
{
    Q_OBJECT

private slots:
    void contextAndShutter_data();
    void contextAndShutter();
    void workParamAndFixedTime();
    void hostileDatagrams_data();
    void hostileDatagrams();
    void answersThatDoNotFit();
    void upgrade_data();
    void upgrade();
    void handlesAreChecked();
};

void tst_VivedLink::contextAndShutter_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("hardware");
    QTest::addColumn<int>("cameraState");
    QTest::addColumn<bool>("gps");
    QTest::addColumn<int>("satellites");
    QTest::addColumn<int>("posBytes"); // 14 slots of 120 + 7(s - 1) records of 52 bytes
    QTest::addColumn<int>("landingGear");
    QTest::addColumn<QString>("perShot"); // photos one shot adds per camera
    const QString serial = QStringLiteral("V7K52019032801");
    QTest::newRow("five-lens default")
        << "" << serial << 4 << 41 << 2 << 0x1f << true << 12 << 52 * 2317 << 0 << "11111";
    QTest::newRow("own serial, camera 3 faulty")
        << "--serial V7K5X0001 --camera-state 0x1b --satellites 3"
        << "V7K5X0001" << 4 << 41 << 2 << 0x1b << true << 3 << 52 * 2317 << 0 << "11011";
    // Before 4.41 a set bit means a fault.
    QTest::newRow("old firmware, camera 1 faulty")
        << "--firmware 4.40 --camera-state 0x01" << serial << 4 << 40 << 2 << 0x01 << true << 12
        << 52 * 2317 << 0 << "01111";
    QTest::newRow("three-lens, older firmware, no GPS")
        << "--model V7K3 --firmware 3.2 --gps 0 --slots 2 --records 10 --hardware 1 "
           "--landing-gear 1"
        << "V7K32019032801" << 3 << 2 << 1 << 0 << false << 0 << 32 * 27 << 1 << "11111";
}

void tst_VivedLink::contextAndShutter()
{
    QFETCH(QString, args);
    QFETCH(QString, perShot);
    CamsimProcess sim;
    QVERIFY(sim.start(args.split(QLatin1Char(' '), Qt::SkipEmptyParts)));
    // By host name, as an address may be given; the other tests use the number.
    Link link(QStringLiteral("localhost:%1").arg(sim.port()));
    QVERIFY(link.ok());
    // The library asks for version, build date and work parameters by itself on start.
    QVERIFY(link.waitFilled(2000));
    v7k_context &c = *link.device;
    QTEST(QString::fromLatin1(c.serial), "serial");
    QTEST(int(c.firmwareMajor), "major");
    QTEST(int(c.firmwareMinor), "minor");
    QTEST(int(c.hardwareVersion), "hardware");
    QCOMPARE(QString::fromLatin1(c.buildDate), QStringLiteral("2019-03-28"));
    QTRY_COMPARE(int(c.selfTest), 2);
    QTEST(int(c.cameraState), "cameraState");
    QTEST(bool(c.state & V7K_STATE_GPS_GOOD), "gps");
    QTEST(int(c.satellites), "satellites");
    QTEST(int(c.posValue), "posBytes");
    QTEST(int(c.landingGear), "landingGear");
    QCOMPARE(v7k_get_valid(link.device), 1);
    QCOMPARE(v7k_get_mode(link.device), 1);
    const uint32_t seen = v7k_get_index(link.device);
    QTRY_VERIFY(v7k_get_index(link.device) > seen);
    QCOMPARE(c.photoCount, 0u);
    for (uint32_t shot = 1; shot <= 3; ++shot) {
        QCOMPARE(v7k_shutter(link.device), 0);
        QTRY_COMPARE(c.photoCount, shot);
        for (int i = 0; i < 5; ++i)
            QTRY_COMPARE(int(c.cameraPhotos[i]), int(shot) * (perShot[i] == QLatin1Char('1')));
    }
}

// Every byte of the parameters reaches the camera and comes back; in fixed-time mode with an
// activation that always holds, the camera then triggers by itself.
void tst_VivedLink::workParamAndFixedTime()
{
    CamsimProcess sim;
    QVERIFY(sim.start({}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    WorkParam p;
    uint8_t *raw = reinterpret_cast<uint8_t *>(&p);
    for (int i = 0; i < 24; ++i)
        raw[i] = uint8_t(0x30 + i);
    p.mode = 2;
    p.activation = 5;
    p.timeInterval = 0x0a14;
    QCOMPARE(v7k_set_work_param(link.device, &p), 0);
    QTRY_VERIFY(std::memcmp(&link.device->workParam, &p, sizeof p) == 0);
    const WorkParam back = v7k_get_work_param(link.device);
    QVERIFY(std::memcmp(&back, &p, sizeof p) == 0);
    QCOMPARE(v7k_get_mode(link.device), 2);
    QCOMPARE(v7k_get_fixtime(link.device), 0x0a14);
    QCOMPARE(v7k_set_work_param(link.device, nullptr), -1);

    p.activation = 2; // external level: always active on the bench
    p.timeInterval = 1;
    QCOMPARE(v7k_change_work_mode(link.device, 1), 0);
    QCOMPARE(v7k_set_work_param(link.device, &p), 0);
    QTRY_VERIFY(link.device->photoCount >= 5);
    QTRY_VERIFY(link.device->cameraPhotos[4] >= 5);
}

void tst_VivedLink::hostileDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("counter");
    QTest::addColumn<bool>("valid"); // a well-formed frame still shows the camera is alive
    const QByteArray status = frameBytes(CmdStatus, 1, statusWithPhotos(999));
    QByteArray magic = status;
    magic[0] = 'X';
    QTest::newRow("wrong magic") << magic << "badFrames" << false;
    QByteArray crc = status;
    crc[20] = char(crc[20] ^ 4);
    QTest::newRow("bad crc") << crc << "badFrames" << false;
    QTest::newRow("cut short") << status.left(status.size() - 1) << "badFrames" << false;
    QTest::newRow("oversized junk") << QByteArray(5000, 'V') << "badFrames" << false;
    QTest::newRow("single byte") << QByteArray(1, 'V') << "badFrames" << false;
    QTest::newRow("unknown command") << frameBytes(0x7e, 1, {}) << "unknownCommands" << false;
    QTest::newRow("a request from the camera")
        << frameBytes(CmdShutter, 1, {}) << "badPayloads" << false;
    QTest::newRow("status of 59 bytes")
        << frameBytes(CmdStatus, 1, Bytes(59, 0)) << "badPayloads" << false;
    QTest::newRow("answer nobody asked for")
        << frameBytes(CmdVersion | kReplyBit, 0x7fffffff, encodeVersion({9, 9, 9, "V7EVIL"}))
        << "unexpectedReplies" << true;
    QTest::newRow("chunk nobody asked for")
        << frameBytes(CmdPosRead | kReplyBit, 0x7ffffff0, encodePosData({0x21, 0, Bytes(52, 1)}))
        << "unexpectedReplies" << true;
}

void tst_VivedLink::hostileDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, counter);
    QFETCH(bool, valid);
    FakeCamera camera;
    QVERIFY(camera.start());
    Link link(camera.address());
    Frame request;
    QVERIFY(camera.receive(CmdVersion, request));
    camera.send(CmdVersion | kReplyBit, request.sequence, encodeVersion({2, 4, 41, "V7K5FAKE"}));
    QTRY_COMPARE(QByteArray(link.device->serial), QByteArray("V7K5FAKE"));
    auto field = [&](const AkTeleStats &s) {
        const QHash<QString, uint32_t> f{{"badFrames", s.badFrames},
                                         {"unknownCommands", s.unknownCommands},
                                         {"badPayloads", s.badPayloads},
                                         {"unexpectedReplies", s.unexpectedReplies}};
        return f.value(counter, 0xffffffff);
    };
    const AkTeleStats before = link.stats();
    const uint32_t index = v7k_get_index(link.device);
    camera.send(datagram);
    // A good status frame behind it proves the bad one was read and passed over.
    camera.send(CmdStatus, 2, statusWithPhotos(7));
    QTRY_COMPARE(link.device->photoCount, 7u);
    const AkTeleStats after = link.stats();
    QCOMPARE(field(after), field(before) + 1);
    QCOMPARE(after.framesDropped, before.framesDropped + 1);
    QCOMPARE(v7k_get_index(link.device), index + (valid ? 2 : 1));
    QCOMPARE(QByteArray(link.device->serial), QByteArray("V7K5FAKE"));
    QCOMPARE(int(link.device->firmwareMinor), 41);
}

void tst_VivedLink::answersThatDoNotFit()
{
    FakeCamera camera;
    QVERIFY(camera.start());
    Link link(camera.address());
    PosFileManager *m = posfile_manager_init(link.device->posfileArg);
    QVERIFY(m);
    QCOMPARE(posfile_info_request(m, 3), 0);
    Frame request;
    QVERIFY(camera.receive(CmdPosInfo, request));
    PosInfoPayload info;
    info.slot = 5; // the request was for slot 3
    info.fileNumber = 9;
    camera.send(CmdPosInfo | kReplyBit, request.sequence, encodePosInfo(info));
    QTRY_COMPARE(link.stats().unexpectedReplies, 1u);
    PosFileInfo out;
    QCOMPARE(posfile_info_get(m, 3, &out), -1);
    QCOMPARE(posfile_info_get(m, 5, &out), -1);
    QCOMPARE(link.device->state & V7K_STATE_NEW_POS, 0u);
    // The page asks again; answered properly, the slot fills.
    QCOMPARE(posfile_info_request(m, 3), 0);
    QVERIFY(camera.receive(CmdPosInfo, request));
    info.slot = 3;
    camera.send(CmdPosInfo | kReplyBit, request.sequence, encodePosInfo(info));
    QTRY_COMPARE(posfile_info_get(m, 3, &out), 0);
    QCOMPARE(int(out.fileNumber), 9);
    QVERIFY(link.device->state & V7K_STATE_NEW_POS);
    QCOMPARE(posfile_info_request(m, 0), -1);
    QCOMPARE(posfile_info_request(m, 15), -1);
    QCOMPARE(posfile_info_get(m, 15, &out), -1);
}

void tst_VivedLink::upgrade_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("modeA");
    QTest::addColumn<int>("modeB");
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<bool>("accepted");
    // The device page's modes (0, 0, "0") run through the program in the firmware tests.
    QTest::newRow("update window") << "V7K5" << 3 << 22 << QByteArray("20180510") << true;
    QTest::newRow("image for another model") << "V7K3" << 0 << 0 << QByteArray("0") << false;
    QTest::newRow("camera older than the minimum date")
        << "V7K5" << 0 << 0 << QByteArray("20990101") << false;
}

void tst_VivedLink::upgrade()
{
    QFETCH(QString, model);
    QFETCH(int, modeA);
    QFETCH(int, modeB);
    QFETCH(QByteArray, date);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = makeImage(dir, model.toStdString());
    QVERIFY(!path.isEmpty());
    CamsimProcess sim;
    QVERIFY(sim.start({"--restart-seconds", "1", "--self-test", "0.5"}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    PosFileManager *manager = posfile_manager_init(link.device->posfileArg);
    AkUpgrader *up = akupgrader_request(link.tele, AKUPGRADER_CODE_FIRMWARE);
    QVERIFY(up);
    QCOMPARE(akupgrader_prepare_firmware(up, path.toUtf8(), modeA, modeB, date), 0);
    QCOMPARE(akupgrader_start(up), 0);
    QCOMPARE(manager->activity, uint32_t(POSFILE_ACTIVITY_UPGRADE));
    QCOMPARE(akupgrader_set(up), 0);
    if (accepted) {
        QTRY_COMPARE_WITH_TIMEOUT(akupgrader_get_progress(up), 100, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(akupgrader_get_rev(up), 1, 20000);
        QVERIFY(manager->progress > 0);
        QCOMPARE(akupgrader_stop(up), 0);
        QCOMPARE(link.tele->state, AKTELE_STATE_RUNNING);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(link.tele->state, AKTELE_STATE_UPGRADE_FAILED, 20000);
        QVERIFY(akupgrader_get_progress(up) < 100);
        QCOMPARE(akupgrader_get_rev(up), 0);
    }
    QCOMPARE(manager->activity, uint32_t(POSFILE_ACTIVITY_IDLE));
    // As the program does after success: forget the version and ask again. It does not ask
    // for the build date while it holds one; the new version brings the new date along. A
    // refused camera still runs its old firmware.
    link.device->firmwareMajor = 0;
    link.device->firmwareMinor = 0;
    QCOMPARE(v7k_get_version(link.device), 0);
    QTRY_COMPARE(int(link.device->firmwareMinor), accepted ? 42 : 41);
    QCOMPARE(int(link.device->firmwareMajor), 4);
    QTRY_COMPARE(QByteArray(link.device->buildDate),
                 QByteArray(accepted ? "2020-05-01" : "2019-03-28"));
    if (accepted) {
        QCOMPARE(setprogressempty(up), 0);
        QCOMPARE(akupgrader_get_progress(up), 0);
        QCOMPARE(akupgrader_get_rev(up), 0);
    }
}

void tst_VivedLink::handlesAreChecked()
{
    // Calls with handles the library never gave out do nothing and fail.
    v7k_context own = {};
    QCOMPARE(v7k_shutter(&own), -1);
    QCOMPARE(v7k_get_version(&own), -1);
    QCOMPARE(v7k_free(&own), -1);
    QCOMPARE(posfile_manager_init(&own), nullptr);
    QCOMPARE(posfile_process(nullptr), 0u);
    QCOMPARE(aktele_alloc(1, "127.0.0.1", 8899, 4096), nullptr);
    qputenv("V7_CAMERA_ADDRESS", "not-an-address");
    QCOMPARE(aktele_alloc(AKTELE_KIND_UDP, "127.0.0.1", 8899, 4096), nullptr);
    qputenv("V7_CAMERA_ADDRESS", "127.0.0.1:70000");
    QCOMPARE(aktele_alloc(AKTELE_KIND_UDP, "127.0.0.1", 8899, 4096), nullptr);
    QCOMPARE(akupgrader_prepare_firmware(nullptr, "/nonexistent", 0, 0, "0"), -1);
    QCOMPARE(akupgrader_get_progress(nullptr), 0);
}

QTEST_GUILESS_MAIN(tst_VivedLink)
#include "tst_vivedlink.moc"
