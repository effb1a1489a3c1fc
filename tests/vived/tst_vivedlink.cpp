// The library against the simulator over loopback: requests, hostile datagrams, the POS listing
// and downloads (tables compared byte for byte with the rows of the simulator's raw records),
// and the firmware upgrade. One simulator serves the cases that need no camera of their own.
// Elsewhere: what the library reads on start (tst_v7toolstatus, through the tool); the trigger
// (the debugging page's test); a camera falling silent (the link page's); the listing, downloads
// in every firmware's sequence, cancel and remove through the library, the camera counting
// confirmed downloads (tst_posdownload).
#include "firmwareimage.h"
#include "frame.h"
#include "linkfixture.h"
#include "posreference.h"
#include "protocol.h"
#include "testtools.h"
#include "v7k.h"

#include <QtTest>

#include <cstring>
#include <memory>

using namespace vived;

namespace {
Bytes statusWithPhotos(uint32_t photos)
{
    StatusPayload s;
    s.photoCount = photos;
    s.workParam.mode = 1;
    return encodeStatus(s);
}
} // namespace

class tst_VivedLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hostileDatagrams_data();
    void hostileDatagrams();
    void refusals();
    void posDownload_data();
    void posDownload();
    void fixedTimeTriggers();
    void upgrade_data();
    void upgrade();

private:
    QTemporaryDir m_dir;
    CamsimProcess m_sim; // five-lens camera, 14 flights of 90 + 7 (slot - 1) records
    std::unique_ptr<Link> m_link;
};

void tst_VivedLink::initTestCase()
{
    QVERIFY(QDir().mkpath(m_dir.filePath("raw")));
    QVERIFY(m_sim.start({"--records", "90", "--export-dir", m_dir.filePath("raw")}));
    m_link = std::make_unique<Link>(m_sim);
    QVERIFY(m_link->waitFilled(10000));
}

void tst_VivedLink::hostileDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("counter");
    QTest::addColumn<bool>("valid"); // a well-formed frame still shows the camera is alive
    // Each way a frame fails to decode is tst_codec's; here each counter once.
    QByteArray crc = frameBytes(CmdStatus, 1, statusWithPhotos(999));
    crc[20] = char(crc[20] ^ 4);
    QTest::newRow("bad crc") << crc << "badFrames" << false;
    QTest::newRow("larger than the buffer") << QByteArray(5000, 'V') << "badFrames" << false;
    QTest::newRow("unknown command") << frameBytes(0x7e, 1, {}) << "unknownCommands" << false;
    QTest::newRow("a request from the camera")
        << frameBytes(CmdShutter, 1, {}) << "badPayloads" << false;
    QTest::newRow("status of 59 bytes")
        << frameBytes(CmdStatus, 1, Bytes(59, 0)) << "badPayloads" << false;
    QTest::newRow("answer nobody asked for")
        << frameBytes(CmdVersion | kReplyBit, 0x7fffffff, encodeVersion({9, 9, 9, "V7EVIL"}))
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
    const QStringList counters{"badFrames", "unknownCommands", "badPayloads", "unexpectedReplies"};
    auto field = [&](const AkTeleStats &s) {
        const uint32_t v[] = {s.badFrames, s.unknownCommands, s.badPayloads, s.unexpectedReplies};
        return v[counters.indexOf(counter)];
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

// Answers and requests that do not fit, and handles the library never gave out.
void tst_VivedLink::refusals()
{
    FakeCamera camera;
    QVERIFY(camera.start());
    Link link(camera.address());
    PosFileManager *m = posfile_manager_init(link.device->posfileArg);
    QVERIFY(m);
    QCOMPARE(posfile_manager_init(link.device->posfileArg), m);
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

    // Requests the library cannot carry out are refused before anything is sent or opened.
    const QByteArray path = m_dir.filePath("refused.xls").toUtf8();
    m->expectedSize = 0;
    QCOMPARE(posfile_file_request(m, 0x7f, path), -1); // not listed, no size given
    QCOMPARE(posfile_file_request_offset(m, 0x21, path, 52 * 90, 40), -1);
    QCOMPARE(posfile_file_request_offset(m, 0x21, path, -1, 52), -1);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(int(m->state), int(POSFILE_STATE_READY));
    // A table that cannot be created leaves the transfer waiting for the page's cancel.
    QCOMPARE(posfile_file_request_offset(m, 0x21, m_dir.filePath("no/such/dir.xls").toUtf8(),
                                         52 * 90, 52),
             -1);
    QCOMPARE(int(m->state), int(POSFILE_STATE_RUNNING));
    QCOMPARE(posfile_process(m), 0u);
    QCOMPARE(posfile_file_cancelRequest(m), 0);
    QCOMPARE(int(m->state), int(POSFILE_STATE_READY));
    QCOMPARE(posfile_file_remove(m, 0), -1);

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

void tst_VivedLink::posDownload_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<bool>("offset"); // firmware 4.5 on, lens tables; else the request of 3.2
    QTest::addColumn<QStringList>("camera"); // a simulator of its own, else the shared one
    // The first record of the first flight is the reference fix.
    QTest::newRow("unix time, lens tables") << 1 << true << QStringList();
    // Without a cached description the size comes from the record, the record size from the
    // model word.
    QTest::newRow("firmware 3.2, description gone") << 4 << false << QStringList();
    QTest::newRow("three-lens, description gone") << 2 << false << QStringList{"--model", "V7K3"};
    // A fifth of the datagrams lost both ways and a fifth of the answers corrupted, on the
    // largest slot: retransmissions fill every gap.
    QTest::newRow("lossy link") << 14 << true << QStringList{"--drop", "0.2", "--corrupt", "0.2"};
}

void tst_VivedLink::posDownload()
{
    QFETCH(int, slot);
    QFETCH(bool, offset);
    QFETCH(QStringList, camera);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
    QString raw = m_dir.filePath("raw");
    CamsimProcess sim;
    std::unique_ptr<Link> own;
    Link *link = m_link.get();
    if (!camera.isEmpty()) {
        raw = m_dir.filePath("raw-" + tag);
        QVERIFY(QDir().mkpath(raw));
        QVERIFY(sim.start(QStringList{"--records", "90", "--export-dir", raw} + camera));
        own = std::make_unique<Link>(sim);
        QVERIFY(own->waitFilled(10000));
        link = own.get();
    }
    PosFileManager *m = posfile_manager_init(link->device->posfileArg);
    // The listing is tst_posdownload's: slot s holds file 0x20 + s, as large as its raw records.
    const int fileNumber = 0x20 + slot;
    const QByteArray records =
        fileBytes(raw + QStringLiteral("/slot%1.bin").arg(slot, 2, 10, QChar('0')));
    const int size = int(records.size());
    QVERIFY(size > 0);
    const int recordSize = camera.contains("V7K3") ? 32 : 52;
    const QString path = m_dir.filePath(tag + "POS点数据.xls");

    m->received = 0;
    m->state = POSFILE_STATE_READY;
    m->fileNumber = uint32_t(fileNumber);
    m->expectedSize = uint32_t(size);
    if (offset) {
        // The five per-lens tables beside the main one, headers written, as the page does.
        for (int i = 0; i < 5; ++i) {
            m->lensFile[i] = std::fopen(PosReference::lensPath(path, i).toUtf8(), "w+");
            QVERIFY(m->lensFile[i]);
            _ofrm_initexcelheadoffsetsingle(m->lensFile[i]);
        }
        m->independentPos = 1;
        m->completion = 0;
        QCOMPARE(posfile_file_request_offset(m, fileNumber, path.toUtf8(), size, recordSize), 0);
        // Until confirmed the manager shows a running transfer to the link's heartbeat.
        QTRY_COMPARE_WITH_TIMEOUT(posfile_process(m), uint32_t(size), 60000);
        QCOMPARE(m->activity, uint32_t(POSFILE_ACTIVITY_TRANSFER));
        // Firmware 4.5 on: the program confirms, the library reports the end.
        QCOMPARE(posfile_file_success(m, fileNumber), 0);
        QTRY_COMPARE_WITH_TIMEOUT(int(m->state), int(POSFILE_STATE_COMPLETE), 60000);
    } else {
        std::memset(&m->cache[slot - 1], 0, sizeof m->cache[slot - 1]);
        QCOMPARE(posfile_file_request(m, fileNumber, path.toUtf8()), 0);
    }
    // The library is done with the tables (flushed, no longer its own) once the activity is
    // back to idle: every byte counted does not mean that yet.
    QTRY_COMPARE_WITH_TIMEOUT(m->activity, uint32_t(POSFILE_ACTIVITY_IDLE), 60000);
    QCOMPARE(posfile_process(m), uint32_t(size));
    std::fclose(m->file);
    m->file = nullptr;
    for (int i = 0; i < 5; ++i) {
        if (m->lensFile[i])
            std::fclose(m->lensFile[i]);
        m->lensFile[i] = nullptr;
    }
    m->independentPos = 0;

    const QByteArray table = fileBytes(path);
    QCOMPARE(table, PosReference::mainTable(records, recordSize));
    QCOMPARE(table.count('\n'), 1 + size / recordSize);
    for (int lens = 0; lens < 5; ++lens) {
        const QString lensPath = PosReference::lensPath(path, lens);
        if (offset)
            QCOMPARE(fileBytes(lensPath), PosReference::lensTable(records, lens));
        else
            QVERIFY(!QFile::exists(lensPath));
    }
    if (camera.isEmpty() && slot == 1) {
        // The reference fix of the simulator's first flight, local time UTC + 8.
        QVERIFY(table.contains(
            "\n1 \t112.6000000 \t23.4463420 \t100.000 \t90.00 \t1.0 \t2.0 \t"
            "90.00 \t25.0 \t2019-03-28 10-00-01 \t1000 \t0 \t-1 \t2000000 \t0 \t \n"));
        QVERIFY(!fileBytes(PosReference::lensPath(path, 2)).contains("\n1 \t"));
    }
    if (camera.contains("--drop"))
        QVERIFY(link->stats().retransmissions > 0 && link->stats().badFrames > 0);
}

// In fixed-time mode with an activation that always holds, the camera triggers by itself. (Every
// byte of a record reaching the camera and back is tst_strategy's, through the editors.)
void tst_VivedLink::fixedTimeTriggers()
{
    v7k_context *device = m_link->device;
    WorkParam p = v7k_get_work_param(device);
    p.mode = 2;
    p.activation = 2; // external level: always active on the bench
    p.timeInterval = 1;
    const uint32_t photos = device->photoCount;
    QCOMPARE(v7k_change_work_mode(device, 1), 0);
    QCOMPARE(v7k_set_work_param(device, &p), 0);
    QCOMPARE(v7k_set_work_param(device, nullptr), -1);
    QTRY_COMPARE(v7k_get_mode(device), 2);
    QCOMPARE(v7k_get_fixtime(device), 1);
    QTRY_VERIFY(device->photoCount >= photos + 5);
    QTRY_VERIFY(device->cameraPhotos[4] >= photos + 5);
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
    FirmwareHeader h;
    h.major = 4;
    h.minor = 42;
    h.buildDate = "2020-05-01";
    h.model = model.toStdString();
    std::vector<uint8_t> body(40000);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t(i ^ (i >> 8));
    const QString path = m_dir.filePath(QStringLiteral("image-%1.bin").arg(model));
    QVERIFY(FirmwareImage::writeFile(path.toUtf8(), FirmwareImage::build(h, body)));
    CamsimProcess sim;
    QVERIFY(sim.start({"--restart-seconds", "1", "--self-test", "0.5"}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    PosFileManager *manager = posfile_manager_init(link.device->posfileArg);
    AkUpgrader *up = akupgrader_request(link.tele, AKUPGRADER_CODE_FIRMWARE);
    QVERIFY(up);
    QCOMPARE(akupgrader_prepare_firmware(up, path.toUtf8(), modeA, modeB, date), 0);
    QCOMPARE(akupgrader_start(up), 0);
    // While the image goes out the manager shows the upgrade to the link's heartbeat; a camera
    // that refuses may end it before the next line runs.
    if (accepted)
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

QTEST_GUILESS_MAIN(tst_VivedLink)
#include "tst_vivedlink.moc"
