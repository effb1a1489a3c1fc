// The POS page's WiFi view wired to the camera link and the simulator, then v7tool pos on the
// same simulator: the listing of the fourteen slots, downloads of one and of three slots in the
// sequence of each firmware range, compared byte for byte with `v7tool pos decode` of the
// simulator's raw files, cancel, delete, a failed table, the link going down and a camera that
// falls silent. The page's timer is stood in for by onTimeout() in quick succession. TZ=CST-8.
#include <QtTest>

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>

#include "cameralink.h"
#include "camsimprocess.h"
#include "downloaddata.h"
#include "mylabel.h"
#include "postablecheck.h"
#include "poswifitransfer.h"

using namespace PosTableCheck;

namespace {
// Slot s holds 3000 + 7 (s - 1) records and every reply comes 20 ms late: a file takes ten
// rounds of the transfer's window, so a test can stop it in the middle.
constexpr int kRecords = 3000;

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

Run tool(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(V7_TOOL), QStringList{"pos"} + arguments);
    Run r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
} // namespace

class tst_PosWifi : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void listingOfFourteenSlots();
    void downloadsByFirmware_data();
    void downloadsByFirmware();
    void cancelMidFile();
    void deleteRowsOneAndThree();
    void failedTable();
    void linkDown();
    void toolDecodes();
    void toolListsAndDownloads();
    void toolFromSilentCamera();

private:
    // The camera restarted with these options and connected, the page showing its listing.
    bool connectTo(const QStringList &options);
    template <typename Done> bool tickUntil(Done done)
    {
        for (int i = 0; i < 20000 && !done(); ++i) {
            m_page->onTimeout();
            QTest::qWait(2);
        }
        return done();
    }
    bool relist()
    {
        m_page->refreshTable();
        m_page->timer()->stop();
        return tickUntil([this] { return !m_page->transfer()->refreshing(); }) &&
               m_page->table()->rowCount() == 14;
    }
    // Ticks only these rows and starts their download into `path`.
    void start(const QList<int> &rows, bool lensTables, const QString &path)
    {
        m_page->independentBox()->setChecked(lensTables);
        m_page->setSavePathChooser([path](const QString &) { return path; });
        for (int row = 0; row < 14; ++row)
            m_page->rowCheckBox(row)->setChecked(rows.contains(row));
        QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
        m_page->timer()->stop();
    }
    bool downloaded()
    {
        return tickUntil([this] { return !m_page->transfer()->downloading(); });
    }
    // Whether the WiFi and delete buttons are enabled, and what the download button shows.
    QString looks() const
    {
        QString s;
        for (const QLabel *b : {m_page->wifiButton(), m_page->deleteButton()})
            s += b->isEnabled() ? "on " : "off ";
        const QImage shown = m_page->downloadButton()->pixmap().toImage();
        const auto is = [&](const char *name) {
            return shown == QPixmap(":/V7KAPP/res/" + QString(name)).toImage();
        };
        return s + (is("quxiaoxiazai.png")       ? "cancel"
                    : is("btn_download_nor.png") ? "download"
                                                 : "?");
    }
    QString cell(int row, int column) const { return m_page->table()->item(row, column)->text(); }
    QString raw(int row) const
    {
        return m_raw + QStringLiteral("/slot%1.bin").arg(row + 1, 2, 10, QLatin1Char('0'));
    }

    CamsimProcess m_camera;
    PromptCatcher m_prompts;
    QTemporaryDir m_dir;
    QString m_raw;
    CameraLink *m_link = CameraLink::instance();
    DownloadData *m_page = nullptr;
};

void tst_PosWifi::initTestCase()
{
    QVERIFY(m_camera.start());
    qputenv("V7_WIFI_SSID", "V7K5-TEST");
    m_page = DownloadData::instance();
    m_page->show();
    QVERIFY(connectTo({"--model", "V7K5", "--firmware", "4.52"}));
}

bool tst_PosWifi::connectTo(const QStringList &options)
{
    m_link->disconnectCamera();
    m_raw = m_dir.filePath(QString::number(QDateTime::currentMSecsSinceEpoch()));
    QSignalSpy connected(m_link, &CameraLink::connected);
    if (!QDir().mkpath(m_raw) ||
        !m_camera.restart(options + QStringList{"--slots", "12", "--records",
                                                QString::number(kRecords), "--delay", "20",
                                                "--export-dir", m_raw}))
        return false;
    m_link->connectCamera();
    if (!connected.wait(10000) || !QTest::qWaitFor([this] { return m_link->identityKnown(); }))
        return false;
    m_page->setFiveLensLayout(m_link->posRecordSize() == 52);
    m_page->refreshModeButtons();
    QTest::mouseClick(m_page->wifiButton(), Qt::LeftButton);
    m_page->timer()->stop(); // the test ticks
    return tickUntil([this] { return !m_page->transfer()->refreshing(); }) &&
           m_page->table()->rowCount() == 14;
}

void tst_PosWifi::listingOfFourteenSlots()
{
    QStringList headers;
    for (int c = 0; c < m_page->table()->columnCount(); ++c)
        headers << m_page->table()->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, (QStringList{"ID", "时间", "数量", "下载次数", "选择"}));
    for (int row = 0; row < 14; ++row) {
        QCOMPARE(cell(row, 0), QString::number(row + 1));
        QCOMPARE(cell(row, 2), QString::number(row < 12 ? kRecords + 7 * row : 0));
        QCOMPARE(cell(row, 3), QStringLiteral("0"));
        QVERIFY(!m_page->rowCheckBox(row)->isChecked());
    }
    // Slot 1 keeps Unix time, slot 2 calendar time (a day later), slot 3 none, 13 is empty.
    QCOMPARE((QStringList{cell(0, 1), cell(1, 1), cell(2, 1), cell(12, 1)}),
             (QStringList{"2019-03-28 10:00:00", "2019-03-29 10:00:00", "2000-00-00 00:00:00",
                          "2000-00-00 00:00:00"}));
    // Without a complete listing nothing downloads or deletes.
    m_page->transfer()->startRefresh();
    QVERIFY(!m_page->transfer()->startDownload({0}, m_dir.filePath("never.xls")));
    QVERIFY(!m_page->transfer()->startDelete({0}));
}

void tst_PosWifi::downloadsByFirmware_data()
{
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("lensTables"); // what the firmware's request gives when asked
    QTest::addColumn<bool>("confirmed");  // posfile_file_success counts the download
    QTest::newRow("3.2") << "3.2"
                         << "V7K5" << false << false;
    QTest::newRow("4.0") << "4.0"
                         << "V7K5" << true << false;
    QTest::newRow("4.52, three-lens camera") << "4.52"
                                             << "V7K3" << false << true;
    QTest::newRow("4.5") << "4.5"
                         << "V7K5" << true << true;
}

// Row 5 alone without lens tables, then rows 3, 6 and 10 with them asked for.
void tst_PosWifi::downloadsByFirmware()
{
    QFETCH(QString, firmware);
    QFETCH(QString, model);
    QFETCH(bool, lensTables);
    QVERIFY(connectTo({"--model", model, "--firmware", firmware}));
    QCOMPARE(m_link->firmwareVersionText(), firmware);
    const int size = m_link->posRecordSize();
    const QString out =
        m_dir.filePath(QString(firmware).replace('.', '_')); // no "." before the name
    QVERIFY(QDir().mkpath(out));
    start({4}, false, out + "/one.xls");
    QVERIFY(downloaded());
    QCOMPARE(differsFromDecode(V7_TOOL, out + "/one.xls", raw(4), size, false), QString());

    start({2, 5, 9}, true, out + "/three.xls");
    QCOMPARE(looks(), QStringLiteral("off off cancel")); // the download button cancels
    QVERIFY(!m_page->usbButton()->isEnabled());
    QVERIFY(downloaded());
    QCOMPARE(looks(), QStringLiteral("on on download"));
    QCOMPARE(m_page->textLabel()->text(), QStringLiteral("下载成功！"));
    QCOMPARE(m_page->progressBar()->value(), 100);
    for (int row : {2, 5, 9})
        QCOMPARE(differsFromDecode(V7_TOOL, out + QStringLiteral("/three%1.xls").arg(row + 1),
                                   raw(row), size, lensTables),
                 QString());
    QVERIFY(m_page->manager()->file == nullptr && m_page->manager()->lensFile[4] == nullptr);
    // Only a confirmed download counts on the camera.
    QVERIFY(relist());
    QFETCH(bool, confirmed);
    for (int row : {2, 3, 4, 5, 9})
        QCOMPARE(cell(row, 3), QString::number(confirmed && row != 3 ? 1 : 0));
}

// Firmware 4.5 from here on. The camera falls silent mid-file, so the cancel lands there.
void tst_PosWifi::cancelMidFile()
{
    PosFileManager *m = m_page->manager();
    const QString path = m_dir.filePath("partial.xls");
    start({11}, true, path);
    QVERIFY(tickUntil([m] { return posfile_process(m) > 0; }));
    QVERIFY(m_camera.toggleSilence(true));
    QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
    QCOMPARE(looks(), QStringLiteral("on on download"));
    QCOMPARE(m_page->textLabel()->text() + QString::number(m_page->progressBar()->value()), "0");
    m_page->onTimeout(); // the cancel goes out
    QCOMPARE(int(m->state), int(POSFILE_STATE_READY));
    QVERIFY(m->file == nullptr && m->lensFile[0] == nullptr);
    const uint32_t received = posfile_process(m);
    QVERIFY(m_camera.toggleSilence(false));
    QVERIFY(received > 0 && received < 52u * (kRecords + 77));
    const QString full = m_dir.filePath("full.xls");
    QVERIFY(decode(V7_TOOL, raw(11), 52, true, full));
    const QByteArray partial = readAll(path), front = readAll(lensPath(path, 0));
    QVERIFY(readAll(full).startsWith(partial));
    QCOMPARE(partial.count('\n'), 1 + int(received / 52));
    QVERIFY(front.size() > 100); // the lens tables were closed with what they hold
    QVERIFY(readAll(lensPath(full, 0)).startsWith(front));
}

void tst_PosWifi::deleteRowsOneAndThree()
{
    QVERIFY(relist());
    QStringList points;
    for (int row = 0; row < 14; ++row)
        points << (row == 0 || row == 2 ? QStringLiteral("0") : cell(row, 2));
    m_page->rowCheckBox(0)->setChecked(true);
    m_page->rowCheckBox(2)->setChecked(true);
    QTest::mouseClick(m_page->deleteButton(), Qt::LeftButton);
    QCOMPARE(m_page->table()->rowCount(), 0);
    QVERIFY(tickUntil(
        [this] { return !m_page->transfer()->deleting() && !m_page->transfer()->refreshing(); }));
    QCOMPARE(m_page->table()->rowCount(), 14);
    for (int row = 0; row < 14; ++row)
        QCOMPARE(cell(row, 2), points[row]);
}

// A table that cannot be written stops the download with the path; the next one works.
void tst_PosWifi::failedTable()
{
    QVERIFY(relist());
    m_prompts.clear();
    start({1, 3}, false, m_dir.filePath("no/such/folder/out.xls"));
    QVERIFY(downloaded());
    QTRY_COMPARE(m_prompts.texts(),
                 QStringList{"保存文件失败！ / " + m_dir.filePath("no/such/folder/out2.xls")});
    QCOMPARE(int(m_page->manager()->state), int(POSFILE_STATE_READY));
    QVERIFY(relist());
    start({3}, false, m_dir.filePath("after-failure.xls"));
    QVERIFY(downloaded());
    QCOMPARE(m_page->textLabel()->text(), QStringLiteral("下载成功！"));
}

// The link goes down in the middle of a file.
void tst_PosWifi::linkDown()
{
    PosFileManager *m = m_page->manager();
    QVERIFY(relist());
    const QString down = m_dir.filePath("down.xls");
    start({11}, true, down);
    QVERIFY(tickUntil([m] { return posfile_process(m) > 0; }));
    m_link->disconnectCamera();
    QCOMPARE(m_page->table()->rowCount(), 0);
    QCOMPARE(m_page->textLabel()->text() + QString::number(m_page->progressBar()->value()), "0");
    QCOMPARE(looks(), QStringLiteral("off off download"));
    QVERIFY(!m_page->transfer()->downloading() && m_page->manager() == nullptr);
    // The download's tables were closed with what had arrived, the lens tables too.
    QVERIFY(readAll(lensPath(down, 0)).startsWith("ID\tLon\t"));
    QVERIFY(readAll(lensPath(down, 0)).endsWith(" \n"));
    // Without a link the step has nothing to do, and the WiFi view entry does not start.
    m_page->refreshTable();
    m_page->onTimeout();
    QVERIFY(!m_page->transfer()->refreshing());
}

// Three records and 20 bytes without a time: a torn tail is reported, lens tables need 52-byte
// records, an unwritable table fails.
void tst_PosWifi::toolDecodes()
{
    const QString path = m_dir.filePath("decode.raw"), out = m_dir.filePath("decode.xls");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(52 * 3 + 20, 0)) == 176);
    f.close();
    const std::tuple<QStringList, int, QByteArray> runs[] = {
        {{"52", "-o", out}, 0, "20 bytes after the last whole record"},
        {{"32", "-o", out, "--per-lens"}, 2, "need 52-byte records"},
        {{"32", "-o", "/nonexistent/dir/t.xls"}, 1, "cannot write /nonexistent/dir"}};
    for (const auto &[args, exitCode, message] : runs) {
        const Run r = tool(QStringList{"decode", path, "--record-size"} + args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), r.err.constData());
    }
    QCOMPARE(readAll(out).count("0 \t \t"), 3); // rows without a time: an empty time cell
}

// The page's link is down: the tool has the camera, fresh, to itself.
void tst_PosWifi::toolListsAndDownloads()
{
    m_link->disconnectCamera();
    QVERIFY(m_camera.restart(
        {"--slots", "12", "--records", "80", "--firmware", "4.52", "--export-dir", m_raw}));
    Run r = tool({"list", "--json"});
    QCOMPARE(r.exitCode, 0);
    QJsonArray listing = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(listing.size(), 14);
    QCOMPARE(listing[0].toObject()["time"].toString(), QStringLiteral("2019-03-28 10:00:00"));
    QCOMPARE(listing[5].toObject()["slot"].toInt(), 6);
    QCOMPARE(listing[5].toObject()["points"].toInt(), 80 + 7 * 5);
    QCOMPARE(listing[13].toObject()["points"].toInt(), 0);
    // Named by slot as the page names rows.
    const QString out = m_dir.filePath("flight.xls");
    r = tool({"download", "9", "2", "5", "-o", out, "--per-lens"});
    QCOMPARE(r.exitCode, 0);
    QStringList written;
    for (int slot : {2, 5, 9}) {
        written << m_dir.filePath(QStringLiteral("flight%1.xls").arg(slot));
        QCOMPARE(differsFromDecode(V7_TOOL, written.last(), raw(slot - 1), 52, true), QString());
    }
    QCOMPARE(QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts), written);
    // The confirmed downloads count on the camera.
    listing = QJsonDocument::fromJson(tool({"list", "--json"}).out).array();
    QCOMPARE(listing[1].toObject()["downloads"].toInt(), 1);
    QCOMPARE(listing[2].toObject()["downloads"].toInt(), 0);
    QCOMPARE(tool({"download", "15", "-o", out}).exitCode, 2);
}

void tst_PosWifi::toolFromSilentCamera()
{
    QVERIFY(m_camera.restart(
        {"--slots", "1", "--records", "20000", "--delay", "20", "--export-dir", m_raw}));
    QProcess p;
    const QString out = m_dir.filePath("silent.xls"), full = m_dir.filePath("silent-full.xls");
    p.start(QStringLiteral(V7_TOOL), {"pos", "download", "1", "-o", out, "--timeout", "2"});
    // Once rows arrive the camera falls silent for good.
    QTRY_VERIFY_WITH_TIMEOUT(readAll(out).count('\n') > 100, 30000);
    QVERIFY(m_camera.toggleSilence(true));
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(p.readAllStandardError().contains("stopped answering"));
    const QByteArray partial = readAll(out);
    QVERIFY(partial.endsWith(" \n"));
    QVERIFY(decode(V7_TOOL, raw(0), 52, false, full));
    QVERIFY(readAll(full).size() > partial.size() && readAll(full).startsWith(partial));
    m_camera.stop();
    QCOMPARE(tool({"list", "--timeout", "1"}).exitCode, 1); // a camera that never answers
}

QTEST_MAIN(tst_PosWifi)
#include "tst_poswifi.moc"
