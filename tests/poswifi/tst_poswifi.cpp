// The WiFi transfer against the camera simulator on loopback: the listing of the fourteen slots,
// downloads in the sequence of each firmware range with the tables compared byte for byte with
// `v7tool pos decode` of the simulator's raw files, cancel, delete and an unwritable path.
#include "poslinkport.h"
#include "poswifitransfer.h"
#include "linkfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const char *const kLensNames[] = {"Front", "Right", "Back", "Left", "Center"};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The library's handles on the simulator, as the transfer sees them.
class SimPort : public PosLinkPort
{
public:
    explicit SimPort(Link &link)
        : m_link(link)
        , m_manager(posfile_manager_init(link.device->posfileArg))
    {}
    bool connected() const override { return true; }
    PosFileManager *manager() const override { return m_manager; }
    int newPosData() const override
    {
        return int(__atomic_load_n(&m_link.device->state, __ATOMIC_ACQUIRE) & V7K_STATE_NEW_POS);
    }
    int clearNewPosData() override { return v7k_clear_state(m_link.device, V7K_STATE_NEW_POS); }
    QString firmwareVersionText() const override
    {
        return QStringLiteral("%1.%2")
            .arg(m_link.device->firmwareMajor)
            .arg(m_link.device->firmwareMinor);
    }
    int posRecordSize() const override { return v7k_pos_record_size(m_link.device->serial); }
    void transferStarted() override { ++starts; }
    int starts = 0;

private:
    Link &m_link;
    PosFileManager *m_manager;
};

// Steps the transfer as the page's timer does, only faster, until done() or a bound of steps.
template <typename Done> bool stepUntil(PosWifiTransfer &t, Done done, int steps = 3000)
{
    for (int i = 0; i < steps; ++i) {
        if (done())
            return true;
        t.step();
        QTest::qWait(10);
    }
    return done();
}

bool list(PosWifiTransfer &t)
{
    t.zeroManagerCache();
    t.startRefresh();
    return stepUntil(t, [&] { return !t.refreshing(); }) && t.listingComplete();
}

// The tables v7tool writes from a raw file, to compare with the download.
QByteArray decoded(const QString &raw, int recordSize, bool perLens, const QString &out)
{
    QStringList args{"pos", "decode", "--record-size", QString::number(recordSize), raw, "-o", out};
    if (perLens)
        args << "--per-lens";
    QProcess tool;
    tool.start(QStringLiteral(V7_TOOL), args);
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return "v7tool failed: " + tool.readAllStandardError();
    return readAll(out);
}
} // namespace

class tst_PosWifi : public QObject
{
    Q_OBJECT

private slots:
    void listingOfFourteenSlots();
    void downloadsByFirmware_data();
    void downloadsByFirmware();
    void cancelMidFile();
    void deleteRowsOneAndThree();
    void unwritablePathFails();

private:
    QTemporaryDir m_dir;
};

void tst_PosWifi::listingOfFourteenSlots()
{
    CamsimProcess sim;
    QVERIFY(sim.start({"--slots", "12", "--records", "40", "--time-mode", "mixed"}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    SimPort port(link);
    PosWifiTransfer t(&port);
    QSignalSpy listed(&t, &PosWifiTransfer::slotListed);
    QSignalSpy finished(&t, &PosWifiTransfer::refreshFinished);
    QVERIFY(list(t));
    QCOMPARE(listed.count(), 14);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(t.refreshIndex(), 15);
    for (int i = 0; i < 14; ++i) {
        const PosSlotRow row = t.row(i);
        QCOMPARE(listed[i][0].toInt(), i);
        QCOMPARE(row.number, i + 1);
        QCOMPARE(row.points, qint64(i < 12 ? 40 + 7 * i : 0));
        QCOMPARE(row.downloads, 0);
    }
    // Slot 1 keeps Unix time, slot 2 calendar time (a day later), slot 3 none.
    QCOMPARE(t.row(0).timeText, QStringLiteral("2019-03-28 10:00:00"));
    QCOMPARE(t.row(1).timeText, QStringLiteral("2019-03-29 10:00:00"));
    QCOMPARE(t.row(2).timeText, QStringLiteral("2000-00-00 00:00:00"));
    QCOMPARE(t.row(12).timeText, QStringLiteral("2000-00-00 00:00:00"));
    // Without a complete listing nothing downloads or deletes.
    t.startRefresh();
    QVERIFY(!t.startDownload({0}, m_dir.filePath("never.xls")));
    QVERIFY(!t.startDelete({0}));
}

void tst_PosWifi::downloadsByFirmware_data()
{
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<bool>("perLens");
    QTest::addColumn<bool>("lensTables"); // what the firmware's request can give
    QTest::addColumn<bool>("confirmed");  // posfile_file_success counts the download
    const QList<int> one{4}, three{2, 5, 9};
    QTest::newRow("3.2, one") << "3.2"
                              << "V7K5" << one << false << false << false;
    QTest::newRow("3.2, three, lens asked") << "3.2"
                                            << "V7K5" << three << true << false << false;
    QTest::newRow("4.0, one, lens") << "4.0"
                                    << "V7K5" << one << true << true << false;
    QTest::newRow("4.0, three") << "4.0"
                                << "V7K5" << three << false << false << false;
    QTest::newRow("4.5, one") << "4.5"
                              << "V7K5" << one << false << false << true;
    QTest::newRow("4.5, three, lens") << "4.5"
                                      << "V7K5" << three << true << true << true;
    QTest::newRow("4.52, three-lens camera") << "4.52"
                                             << "V7K3" << three << true << false << true;
}

void tst_PosWifi::downloadsByFirmware()
{
    QFETCH(QString, firmware);
    QFETCH(QString, model);
    QFETCH(QList<int>, rows);
    QFETCH(bool, perLens);
    QFETCH(bool, lensTables);
    QFETCH(bool, confirmed);
    const QString work = m_dir.filePath(
        QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_').replace('.', '_'));
    QVERIFY(QDir().mkpath(work + "/raw"));
    CamsimProcess sim;
    QVERIFY(sim.start({"--firmware", firmware, "--model", model, "--records", "60", "--export-dir",
                       work + "/raw"}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    SimPort port(link);
    PosWifiTransfer t(&port);
    QVERIFY(list(t));
    t.setIndependentPos(perLens);
    QSignalSpy progress(&t, &PosWifiTransfer::progressChanged);
    QSignalSpy files(&t, &PosWifiTransfer::fileFinished);
    QSignalSpy success(&t, &PosWifiTransfer::downloadSucceeded);
    const QString chosen = work + "/20190328101010POS点数据.xls";
    QVERIFY(t.startDownload(rows, chosen));
    QCOMPARE(port.starts, 1);
    QVERIFY(stepUntil(t, [&] { return !t.downloading(); }));
    QCOMPARE(success.count(), 1);
    QCOMPARE(files.count(), rows.size());

    const int recordSize = model == "V7K5" ? 52 : 32;
    for (int j = 0; j < rows.size(); ++j) {
        const int row = rows[j];
        const QString path =
            rows.size() == 1 ? chosen
                             : work + QStringLiteral("/20190328101010POS点数据%1.xls").arg(row + 1);
        QCOMPARE(files[j][1].toString(), path);
        const QString raw =
            work + QStringLiteral("/raw/slot%1.bin").arg(row + 1, 2, 10, QChar('0'));
        const QString expected = work + QStringLiteral("/expected%1.xls").arg(row + 1);
        QCOMPARE(readAll(path), decoded(raw, recordSize, lensTables, expected));
        const QString base = path.left(path.indexOf(".xls"));
        const QString expectedBase = expected.left(expected.indexOf(".xls"));
        for (const char *lens : kLensNames) {
            if (lensTables)
                QCOMPARE(readAll(base + lens + ".xls"), readAll(expectedBase + lens + ".xls"));
            else
                QVERIFY(!QFile::exists(base + lens + ".xls"));
        }
    }
    // The label of the last file at its end.
    const int lastPoints = 60 + 7 * rows.last();
    QCOMPARE(progress.last()[0].toInt(), 100);
    QCOMPARE(progress.last()[1].toString(), QStringLiteral("%1/%2: 共:%3个 ,已下载:100.00%")
                                                .arg(rows.size())
                                                .arg(rows.size())
                                                .arg(lastPoints));
    // Only a confirmed download counts on the camera.
    QVERIFY(list(t));
    for (int row : rows)
        QCOMPARE(t.row(row).downloads, confirmed ? 1 : 0);
    PosFileManager *m = port.manager();
    QVERIFY(m->file == nullptr);
    for (int i = 0; i < 5; ++i)
        QVERIFY(m->lensFile[i] == nullptr);
}

void tst_PosWifi::cancelMidFile()
{
    const QString work = m_dir.filePath("cancel");
    QVERIFY(QDir().mkpath(work));
    CamsimProcess sim;
    // A large file over a slow link, so that the cancel lands in the middle.
    QVERIFY(sim.start({"--records", "20000", "--delay", "40", "--slots", "1", "--firmware", "4.52",
                       "--export-dir", work}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    SimPort port(link);
    PosWifiTransfer t(&port);
    QVERIFY(list(t));
    t.setIndependentPos(true);
    QSignalSpy success(&t, &PosWifiTransfer::downloadSucceeded);
    const QString path = work + "/partial.xls";
    QVERIFY(t.startDownload({0}, path));
    QVERIFY(stepUntil(t, [&] { return posfile_process(port.manager()) > 52 * 200; }));
    t.requestCancel();
    QVERIFY(!t.downloading());
    t.step(); // the cancel goes out on the next tick
    PosFileManager *m = port.manager();
    QCOMPARE(int(m->state), int(POSFILE_STATE_READY));
    QVERIFY(m->file == nullptr);
    QVERIFY(m->lensFile[0] == nullptr);
    const uint32_t received = posfile_process(m);
    QVERIFY(received < 52u * 20000u);
    QCOMPARE(success.count(), 0);
    const QByteArray partial = readAll(path);
    const QByteArray full = decoded(work + "/slot01.bin", 52, true, work + "/full.xls");
    QVERIFY(partial.size() > 100);
    QVERIFY(full.startsWith(partial));
    QCOMPARE(partial.count('\n'), 1 + int(received / 52));
    // The lens tables were closed with what they hold: each begins the full lens table.
    const QByteArray front = readAll(work + "/partialFront.xls");
    QVERIFY(front.size() > 100);
    QVERIFY(readAll(work + "/fullFront.xls").startsWith(front));
}

void tst_PosWifi::deleteRowsOneAndThree()
{
    CamsimProcess sim;
    QVERIFY(sim.start({"--records", "20"}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    SimPort port(link);
    PosWifiTransfer t(&port);
    QVERIFY(list(t));
    const QVector<PosFileInfo> before = t.listing();
    QSignalSpy deleted(&t, &PosWifiTransfer::deleteFinished);
    QVERIFY(t.startDelete({0, 2}));
    QVERIFY(stepUntil(t, [&] { return deleted.count() == 1 && !t.refreshing(); }));
    QVERIFY(t.listingComplete());
    const QVector<PosFileInfo> after = t.listing();
    for (int row = 0; row < 14; ++row) {
        if (row == 0 || row == 2) {
            QCOMPARE(int(after[row].fileNumber), 0);
            QCOMPARE(t.row(row).points, qint64(0));
        } else {
            QVERIFY(std::memcmp(&after[row], &before[row], sizeof(PosFileInfo)) == 0);
        }
    }
}

void tst_PosWifi::unwritablePathFails()
{
    CamsimProcess sim;
    QVERIFY(sim.start({"--records", "20", "--firmware", "4.52"}));
    Link link(sim);
    QVERIFY(link.waitFilled());
    SimPort port(link);
    PosWifiTransfer t(&port);
    QVERIFY(list(t));
    QSignalSpy failed(&t, &PosWifiTransfer::downloadFailed);
    QSignalSpy success(&t, &PosWifiTransfer::downloadSucceeded);
    const QString path = m_dir.filePath("no/such/folder/out.xls");
    QVERIFY(t.startDownload({0, 1}, path));
    QVERIFY(stepUntil(t, [&] { return !t.downloading(); }));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed[0][0].toString(), m_dir.filePath("no/such/folder/out1.xls"));
    QCOMPARE(success.count(), 0);
    QCOMPARE(int(port.manager()->state), int(POSFILE_STATE_READY));
    // The next download after the failure works.
    QVERIFY(t.startDownload({1}, m_dir.filePath("after-failure.xls")));
    QVERIFY(stepUntil(t, [&] { return !t.downloading(); }));
    QCOMPARE(success.count(), 1);
}

QTEST_GUILESS_MAIN(tst_PosWifi)
#include "tst_poswifi.moc"
