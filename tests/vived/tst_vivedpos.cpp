// POS listing, download, cancel and remove over loopback, with the tables the library writes
// compared byte for byte with the rows of the simulator's raw records.
#include "postable.h"
#include "linkfixture.h"
#include "v7k.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
const char *const kLensNames[] = {"Front", "Right", "Back", "Left", "Center"};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The table a transfer must write for raw records: the header and a row per record (lens -1:
// the main table). The rows' own form is pinned by tst_postable.
QByteArray expectedTable(const QByteArray &raw, int recordSize, int lens = -1)
{
    using vived::PosTable;
    std::string out = lens < 0 ? PosTable::mainHeader(recordSize) : PosTable::lensHeader();
    for (int at = 0; at + recordSize <= raw.size(); at += recordSize) {
        vived::PosRecord record;
        std::string row;
        const auto *bytes = reinterpret_cast<const uint8_t *>(raw.constData()) + at;
        if (!PosTable::decode(bytes, recordSize, record))
            return "record at " + QByteArray::number(at) + " does not decode";
        if (lens < 0)
            out += PosTable::mainRow(record, recordSize);
        else if (PosTable::lensRow(record, lens, row))
            out += row;
    }
    return QByteArray::fromStdString(out);
}

int recordsOfSlot(int records, int slot)
{
    return records + 7 * (slot - 1);
}

// The refresh the program runs: one slot after another, each fetched once new data is flagged.
bool listSlots(Link &link, PosFileManager *m, QVector<PosFileInfo> &list)
{
    list.clear();
    for (int slot = 1; slot <= POSFILE_SLOT_COUNT; ++slot) {
        PosFileInfo info = {};
        bool got = false;
        for (int tick = 0; tick < 200 && !got; ++tick) {
            const bool flagged = link.device->state & V7K_STATE_NEW_POS;
            posfile_info_request(m, slot);
            if (flagged && posfile_info_get(m, slot, &info) != -1) {
                got = true;
                link.device->state &= ~V7K_STATE_NEW_POS;
            } else {
                QTest::qWait(20);
            }
        }
        if (!got)
            return false;
        list.append(info);
    }
    return true;
}

// Opens the five per-lens tables beside the main path and writes their headers, as the page
// does before an offset request with independent POS.
bool openLensTables(PosFileManager *m, const QString &mainPath)
{
    const QString base = mainPath.left(mainPath.indexOf(".xls"));
    for (int i = 0; i < 5; ++i) {
        m->lensFile[i] = std::fopen(QString(base + kLensNames[i] + ".xls").toUtf8(), "w+");
        if (!m->lensFile[i])
            return false;
    }
    for (int i = 0; i < 5; ++i) // indexed: the packed record's pointers are unaligned
        _ofrm_initexcelheadoffsetsingle(m->lensFile[i]);
    m->independentPos = 1;
    return true;
}

void closeTables(PosFileManager *m)
{
    if (m->file)
        std::fclose(m->file);
    m->file = nullptr;
    for (int i = 0; i < 5; ++i) {
        if (m->lensFile[i])
            std::fclose(m->lensFile[i]);
        m->lensFile[i] = nullptr;
    }
    m->independentPos = 0;
}
} // namespace

class tst_VivedPos : public QObject
{
    Q_OBJECT

private slots:
    void listingOfFourteenSlots();
    void downloadMatchesTables_data();
    void downloadMatchesTables();
    void cancelLeavesPartialFile();
    void removeEmptiesSlot();

private:
    QTemporaryDir m_dir;
};

void tst_VivedPos::listingOfFourteenSlots()
{
    CamsimProcess sim;
    QVERIFY(sim.start({"--slots", "12", "--records", "50"}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    PosFileManager *m = posfile_manager_init(link.device->posfileArg);
    QVERIFY(m);
    QCOMPARE(posfile_manager_init(link.device->posfileArg), m);
    QVector<PosFileInfo> list;
    QVERIFY(listSlots(link, m, list));
    QCOMPARE(list.size(), 14);
    for (int slot = 1; slot <= 14; ++slot) {
        const PosFileInfo &info = list[slot - 1];
        if (slot > 12) {
            QCOMPARE(int(info.fileNumber), 0);
            QCOMPARE(info.endAddress, info.startAddress);
            continue;
        }
        QCOMPARE(int(info.fileNumber), 0x20 + slot);
        QCOMPARE(int(info.endAddress - info.startAddress), 52 * recordsOfSlot(50, slot));
        QCOMPARE(int(info.downloadCount), 0);
        // The cache in the manager record holds the same 31 bytes.
        QVERIFY(std::memcmp(&m->cache[slot - 1], &info, sizeof info) == 0);
    }
    // Slot 1 keeps Unix time, slot 2 calendar time, slot 3 none: 2019-03-28 02:00 UTC on.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&list[0].year), 6).toHex(),
             QByteArray("13031c020000"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&list[1].year), 6).toHex(),
             QByteArray("13031d020000"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&list[2].year), 6).toHex(),
             QByteArray("000000000000"));

    // Requests the library cannot carry out are refused before anything is sent or opened.
    const QByteArray path = m_dir.filePath("refused.xls").toUtf8();
    m->expectedSize = 0;
    QCOMPARE(posfile_file_request(m, 0x7f, path), -1); // not listed, no size given
    QCOMPARE(posfile_file_request_offset(m, 0x21, path, 52 * 50, 40), -1);
    QCOMPARE(posfile_file_request_offset(m, 0x21, path, -1, 52), -1);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(int(m->state), int(POSFILE_STATE_READY));
    // A table that cannot be created leaves the transfer waiting for the page's cancel.
    QCOMPARE(posfile_file_request_offset(m, 0x21, m_dir.filePath("no/such/dir.xls").toUtf8(),
                                         52 * 50, 52),
             -1);
    QCOMPARE(int(m->state), int(POSFILE_STATE_RUNNING));
    QCOMPARE(posfile_process(m), 0u);
    QCOMPARE(posfile_file_cancelRequest(m), 0);
    QCOMPARE(int(m->state), int(POSFILE_STATE_READY));
}

void tst_VivedPos::downloadMatchesTables_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("how"); // offset (4.5 on), old-offset (3.31..4.5), plain (before 3.31)
    QTest::addColumn<bool>("lenses");
    QTest::addColumn<QString>("options"); // more simulator options
    QTest::newRow("unix time, lens tables") << "V7K5" << 1 << "offset" << true << "";
    QTest::newRow("calendar time, lens tables") << "V7K5" << 2 << "offset" << true << "";
    QTest::newRow("no time, main table only") << "V7K5" << 3 << "offset" << false << "";
    QTest::newRow("firmware 4.0 request") << "V7K5" << 4 << "old-offset" << true << "";
    QTest::newRow("firmware 3.2 request") << "V7K5" << 5 << "plain" << false << "";
    QTest::newRow("firmware 3.2, description gone")
        << "V7K5" << 6 << "plain-nocache" << false << "";
    QTest::newRow("three-lens camera") << "V7K3" << 1 << "offset" << false << "";
    QTest::newRow("three-lens calendar") << "V7K3" << 2 << "plain" << false << "";
    // A fifth of the datagrams lost both ways and a fifth of the answers corrupted, on the
    // largest slot: retransmissions fill every gap.
    QTest::newRow("lossy link") << "V7K5" << 14 << "offset" << true << "--drop 0.2 --corrupt 0.2";
}

void tst_VivedPos::downloadMatchesTables()
{
    QFETCH(QString, model);
    QFETCH(int, slot);
    QFETCH(QString, how);
    QFETCH(bool, lenses);
    QFETCH(QString, options);
    const QString exportDir = m_dir.filePath(QStringLiteral("raw-%1").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(exportDir));
    CamsimProcess sim;
    QVERIFY(sim.start(QStringList{"--model", model, "--records", "90", "--export-dir", exportDir} +
                      options.split(QLatin1Char(' '), Qt::SkipEmptyParts)));
    Link link(sim);
    QVERIFY(link.waitFilled(10000));
    PosFileManager *m = posfile_manager_init(link.device->posfileArg);
    QVector<PosFileInfo> list;
    QVERIFY(listSlots(link, m, list));
    const PosFileInfo info = list[slot - 1];
    const int size = int(info.endAddress - info.startAddress);
    const int recordSize = model == "V7K5" ? 52 : 32;
    const QString path = m_dir.filePath(QStringLiteral("%1-%2POS点数据.xls").arg(model).arg(slot));

    m->received = 0;
    m->state = POSFILE_STATE_READY;
    m->fileNumber = info.fileNumber;
    m->expectedSize = uint32_t(size);
    if (how.startsWith("plain")) {
        // Without a cached description the size comes from the record, the record size from
        // the model word.
        if (how == "plain-nocache")
            std::memset(&m->cache[slot - 1], 0, sizeof m->cache[slot - 1]);
        QCOMPARE(posfile_file_request(m, info.fileNumber, path.toUtf8()), 0);
    } else {
        m->completion = how == "old-offset" ? 1 : 0;
        if (lenses)
            QVERIFY(openLensTables(m, path));
        QCOMPARE(posfile_file_request_offset(m, info.fileNumber, path.toUtf8(), size, recordSize),
                 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(posfile_process(m), uint32_t(size), 60000);
    if (how == "offset") {
        // Until confirmed the manager shows a running transfer to the link's heartbeat.
        QCOMPARE(m->activity, uint32_t(POSFILE_ACTIVITY_TRANSFER));
        // Firmware 4.5 on: the program confirms, the library reports the end.
        QCOMPARE(posfile_file_success(m, info.fileNumber), 0);
        QTRY_COMPARE_WITH_TIMEOUT(int(m->state), int(POSFILE_STATE_COMPLETE), 10000);
    }
    QCOMPARE(m->activity, uint32_t(POSFILE_ACTIVITY_IDLE));
    closeTables(m);

    const QByteArray raw =
        readAll(exportDir + QStringLiteral("/slot%1.bin").arg(slot, 2, 10, QChar('0')));
    QCOMPARE(raw.size(), size);
    const QByteArray table = readAll(path);
    QCOMPARE(table, expectedTable(raw, recordSize));
    QCOMPARE(table.count('\n'), 1 + size / recordSize);
    const QString base = path.left(path.indexOf(".xls"));
    for (int lens = 0; lens < 5; ++lens) {
        const QString lensPath = base + kLensNames[lens] + ".xls";
        if (lenses)
            QCOMPARE(readAll(lensPath), expectedTable(raw, 52, lens));
        else
            QVERIFY(!QFile::exists(lensPath));
    }
    if (model == "V7K5" && slot == 1) {
        // The reference fix of the simulator's first flight, local time UTC + 8.
        QVERIFY(table.contains(
            "\n1 \t112.6000000 \t23.4463420 \t100.000 \t90.00 \t1.0 \t2.0 \t"
            "90.00 \t25.0 \t2019-03-28 10-00-01 \t1000 \t0 \t-1 \t2000000 \t0 \t \n"));
        QVERIFY(!readAll(base + "Back.xls").contains("\n1 \t"));
    }
    if (how == "offset") {
        // The camera counted the confirmed download. A fresh listing starts from an empty
        // cache, as when the page is entered.
        std::memset(m->cache, 0, sizeof m->cache);
        m->cacheMask = 0;
        QVERIFY(listSlots(link, m, list));
        QCOMPARE(int(list[slot - 1].downloadCount), 1);
    }
    if (!options.isEmpty())
        QVERIFY(link.stats().retransmissions > 0 && link.stats().badFrames > 0);
}

void tst_VivedPos::cancelLeavesPartialFile()
{
    const QString exportDir = m_dir.filePath("raw-cancel");
    QVERIFY(QDir().mkpath(exportDir));
    CamsimProcess sim;
    // A large file over a slow link, so that the cancel lands in the middle.
    QVERIFY(sim.start(
        {"--records", "20000", "--delay", "40", "--slots", "1", "--export-dir", exportDir}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    PosFileManager *m = posfile_manager_init(link.device->posfileArg);
    QVector<PosFileInfo> list;
    QVERIFY(listSlots(link, m, list));
    const int size = int(list[0].endAddress - list[0].startAddress);
    const QString path = m_dir.filePath("cancelled.xls");
    m->received = 0;
    QCOMPARE(posfile_file_request_offset(m, list[0].fileNumber, path.toUtf8(), size, 52), 0);
    QTRY_VERIFY(posfile_process(m) > 52 * 100);
    QCOMPARE(posfile_file_cancelRequest(m), 0);
    const uint32_t received = posfile_process(m);
    QVERIFY(received < uint32_t(size));
    QCOMPARE(int(m->state), int(POSFILE_STATE_READY));
    QCOMPARE(m->activity, uint32_t(POSFILE_ACTIVITY_IDLE));
    QVERIFY(m->file == nullptr); // the library closed what it had written
    // What was written stays: the header and whole rows, the beginning of the full table.
    const QByteArray partial = readAll(path);
    const QByteArray full = expectedTable(readAll(exportDir + "/slot01.bin"), 52);
    QVERIFY(partial.size() > 100);
    QVERIFY(full.startsWith(partial));
    QVERIFY(partial.endsWith(" \n"));
    QCOMPARE(partial.count('\n'), 1 + int(received) / 52);
    // The link is still good for the next request.
    QCOMPARE(v7k_shutter(link.device), 0);
    QTRY_COMPARE(link.device->photoCount, 1u);
}

void tst_VivedPos::removeEmptiesSlot()
{
    CamsimProcess sim;
    QVERIFY(sim.start({"--records", "20"}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    PosFileManager *m = posfile_manager_init(link.device->posfileArg);
    QVector<PosFileInfo> before;
    QVERIFY(listSlots(link, m, before));
    // Rows 1 and 3, as the page deletes them: remove, then zero the cached entry.
    for (int row : {0, 2}) {
        QCOMPARE(posfile_file_remove(m, before[row].fileNumber), 0);
        std::memset(&m->cache[row], 0, sizeof m->cache[row]);
    }
    QVector<PosFileInfo> after;
    QTRY_VERIFY(listSlots(link, m, after) && after[0].fileNumber == 0 && after[2].fileNumber == 0);
    QCOMPARE(after.size(), 14);
    QCOMPARE(after[0].endAddress, after[0].startAddress);
    for (int row = 0; row < 14; ++row) {
        if (row != 0 && row != 2)
            QVERIFY(std::memcmp(&after[row], &before[row], sizeof(PosFileInfo)) == 0);
    }
    QCOMPARE(posfile_file_remove(m, 0), -1);
    QCOMPARE(posfile_file_remove(m, before[0].fileNumber), 0); // the camera refuses, nothing else
    QCOMPARE(v7k_shutter(link.device), 0);
    QTRY_COMPARE(link.device->photoCount, 1u);
}

QTEST_GUILESS_MAIN(tst_VivedPos)
#include "tst_vivedpos.moc"
