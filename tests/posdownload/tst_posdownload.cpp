// The POS page's USB view on a VESTRANEPOS drive that really comes and goes (an exFAT loop image,
// root only, or a V7_MEDIA_ROOT folder), its WiFi view on the simulator (media-root build only),
// v7tool pos on a silent camera; tables compared with `v7tool pos decode`. Runs in New York's
// time zone, where the camera's UTC times show four hours back in March.
#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>

#include "appsettings.h"
#include "cameralink.h"
#include "camsimprocess.h"
#include "cardrig.h"
#include "chooseranswers.h"
#include "downloaddata.h"
#include "mylabel.h"
#include "posreference.h"
#include "poswifitransfer.h"

#include <fcntl.h>
#include <sys/stat.h>

using namespace PosReference;

#ifdef V7_RIG_LOOP
constexpr CardRig::Kind kRig = CardRig::Loop;
#else
constexpr CardRig::Kind kRig = CardRig::MediaRoot;
#endif
// Slot s holds 3000 + 7 (s - 1) records and every reply comes 20 ms late: a file takes ten
// rounds of the transfer's window, so a test can stop it in the middle.
constexpr int kRecords = 3000;

QImage image(const char *name)
{
    return QPixmap(QStringLiteral(":/V7KAPP/res/") + name).toImage();
}

class tst_PosDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void usbAvailability_data();
    void usbAvailability();
    void usbDownload_data();
    void usbDownload();
    void downloadsByFirmware_data();
    void downloadsByFirmware();
    void cancelMidFile();
    void deleteRowsThenLinkDown();
    void toolFromSilentCamera();

private:
    // Plugs a VESTRANEPOS drive holding the simulator's first `files` POS files, with their times.
    bool plugDrive(int files)
    {
        QString error;
        m_drive = m_rig->plug(QStringLiteral("VESTRANEPOS"), &error);
        if (m_drive.isEmpty())
            return (qWarning() << error, false);
        const QDir source(m_dir.filePath("sim/VESTRANEPOS"));
        for (const QString &name : source.entryList(QDir::Files, QDir::Name).mid(0, files)) {
            const QByteArray to = QFile::encodeName(QDir(m_drive).filePath(name));
            struct stat from = {};
            ::stat(QFile::encodeName(source.filePath(name)).constData(), &from);
            const timespec times[2] = {from.st_mtim, from.st_mtim};
            if (!QFile::copy(source.filePath(name), to) || ::utimensat(AT_FDCWD, to, times, 0))
                return false;
        }
        return true;
    }
    void pullDrive()
    {
        if (!m_drive.isEmpty())
            m_rig->pull(m_drive);
        m_drive.clear();
        QTRY_VERIFY(m_page->usbRoot().isEmpty());
    }
    // The camera restarted with these options and connected, the page showing its listing.
    bool connectTo(const QStringList &options);
    template <typename Done> bool tickUntil(Done done)
    {
        return QTest::qWaitFor([&] { return done() || (m_page->onTimeout(), done()); }, 120000);
    }
    bool relist(bool refresh = true)
    {
        if (refresh)
            m_page->refreshTable();
        m_page->timer()->stop(); // the test ticks
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
        const QImage shown = m_page->downloadButton()->pixmap().toImage();
        return QStringList{m_page->wifiButton()->isEnabled() ? "on" : "off",
                           m_page->deleteButton()->isEnabled() ? "on" : "off",
                           shown == image("btn_download_nor.png") ? "download"
                           : shown == image("quxiaoxiazai.png")   ? "cancel"
                                                                  : "?"}
            .join(' ');
    }
    QString cell(int row, int column) const { return m_page->table()->item(row, column)->text(); }
    QString raw(int row) const
    {
        return m_raw + QStringLiteral("/slot%1.bin").arg(row + 1, 2, 10, QLatin1Char('0'));
    }

    std::unique_ptr<CardRig> m_rig;
    QString m_drive;
    v7k_context m_fake{}; // a five-lens camera on firmware 4.52, for the USB view
    CamsimProcess m_camera;
    PromptCatcher m_prompts;
    QTemporaryDir m_dir;
    QString m_raw;
    CameraLink *m_link = CameraLink::instance();
    DownloadData *m_page = nullptr;
};

void tst_PosDownload::initTestCase()
{
    const QString reason = CardRig::unavailableReason(kRig);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_rig = std::make_unique<CardRig>(kRig);
    if (kRig == CardRig::MediaRoot)
        qputenv("V7_MEDIA_ROOT", QFile::encodeName(m_rig->mediaRoot()));
    else
        qunsetenv("V7_MEDIA_ROOT");
    // The simulator's POS drive, copied from here onto the rig's drive in slot order.
    QVERIFY(m_camera.start({"--records", "150", "--pos-drive", m_dir.filePath("sim")}));
    QCOMPARE(QDir(m_dir.filePath("sim/VESTRANEPOS")).entryList(QDir::Files).size(), 14);
    qstrncpy(m_fake.serial, "V7K52019032801", sizeof m_fake.serial);
    m_fake.firmwareMajor = 4;
    m_fake.firmwareMinor = 52;
    qputenv("V7_WIFI_SSID", "V7K5-TEST");
    qputenv("V7_STATE_DIR", QFile::encodeName(m_dir.filePath("state")));
    m_page = DownloadData::instance();
    m_page->show();
}

// The USB view with a fake camera first, each case from an empty page; then the WiFi view.
void tst_PosDownload::init()
{
    if (!QByteArray(QTest::currentTestFunction()).startsWith("usb")) {
        if (kRig == CardRig::Loop)
            QSKIP("the loop build runs the USB view only");
        return;
    }
    pullDrive();
    m_link->setDeviceHandleForTesting(nullptr);
    m_page->setFiveLensLayout(false);
    m_page->independentBox()->setChecked(false);
}

void tst_PosDownload::usbAvailability_data()
{
    QTest::addColumn<bool>("drive");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("code");
    QTest::newRow("drive, link") << true << true << 0;
    QTest::newRow("drive only") << true << false << 1;
    QTest::newRow("neither") << false << false << 3;
}

void tst_PosDownload::usbAvailability()
{
    QFETCH(bool, drive);
    QFETCH(bool, connected);
    QFETCH(int, code);
    m_link->setDeviceHandleForTesting(connected ? &m_fake : nullptr);
    if (drive)
        QVERIFY(plugDrive(1));
    m_page->refreshModeButtons(); // the watcher reports the drive; the page entry looks again
    QTRY_COMPARE(m_page->availability(), code);
    QCOMPARE(m_page->usbRoot(), drive ? m_drive : QString());
    QCOMPARE(m_page->wifiButton()->isEnabled(), connected);
    QCOMPARE(m_page->usbButton()->isEnabled(), drive);
    QCOMPARE(m_page->wifiButton()->pixmap().toImage(),
             image(connected ? "btn_WIFI_pre.png" : "btn_WIFI_nor.png"));
    QCOMPARE(m_page->usbButton()->pixmap().toImage(),
             image(drive ? "btn_USB_pre.png" : "btn_USB_nor.png"));
    if (drive && !connected) { // the USB view needs the camera's model
        m_prompts.clear();
        QTest::mouseClick(m_page->usbButton(), Qt::LeftButton);
        QCOMPARE(m_prompts.texts(), QStringList{QStringLiteral("需要首先获取相机SN号！")});
        QCOMPARE(m_page->source(), int(DownloadData::Usb));
        QCOMPARE(m_page->table()->horizontalHeaderItem(3)->text(), QStringLiteral("选择"));
        QCOMPARE(m_page->table()->rowCount(), 0);
    }
    if (drive && connected) { // pulling the drive while the link is up leaves WiFi alone
        pullDrive();
        QTRY_COMPARE(m_page->availability(), 2);
        QVERIFY(!m_page->usbButton()->isEnabled());
        QVERIFY(m_page->wifiButton()->isEnabled());
    }
}

void tst_PosDownload::usbDownload_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<QList<int>>("checked");
    QTest::addColumn<bool>("perLens");
    QTest::addColumn<QString>("typed"); // into the save dialog
    QTest::addColumn<QStringList>("names"); // of the checked files' tables
    QTest::newRow("two of fourteen") << 14 << QList<int>{3, 11} << false << "typed.xls"
                                     << QStringList{"typed4.xls", "typed12.xls"};
    QTest::newRow("one, with lens tables, typed without suffix")
        << 14 << QList<int>{0} << true << "flight" << QStringList{"flight.xls"};
    QTest::newRow("thirteen files offer no download")
        << 13 << QList<int>{0, 1} << false << "" << QStringList();
    QTest::newRow("nothing ticked is told") << 14 << QList<int>{} << false << "" << QStringList();
}

void tst_PosDownload::usbDownload()
{
    QFETCH(int, files);
    QFETCH(QList<int>, checked);
    QFETCH(bool, perLens);
    QFETCH(QString, typed);
    QFETCH(QStringList, names);
    m_link->setDeviceHandleForTesting(&m_fake);
    QVERIFY(plugDrive(files));
    QTRY_COMPARE(m_page->availability(), 0);
    m_page->setFiveLensLayout(true);
    m_page->independentBox()->setChecked(perLens);
    QTest::mouseClick(m_page->usbButton(), Qt::LeftButton);
    QTRY_COMPARE(m_page->table()->rowCount(), files);
    const QVector<PosUsbFile> listed = m_page->usbFiles();
    QCOMPARE(listed.size(), files);
    for (int i = 0; i < files; ++i) {
        QCOMPARE(m_page->table()->item(i, 0)->text(), QString::number(i + 1));
        QCOMPARE(m_page->table()->item(i, 1)->text(), listed[i].timeText);
        // The simulator's slot s holds 150 + 7 (s - 1) records, named POSss.DAT.
        const int slot = QFileInfo(listed[i].path).baseName().mid(3).toInt();
        QCOMPARE(m_page->table()->item(i, 2)->text(), QString::number(150 + 7 * (slot - 1)));
        // As the WiFi listing shows the slot: 02:00 UTC, blank for a file without a time.
        QCOMPARE(listed[i].timeText,
                 slot % 3 ? QDate(2019, 3, 26).addDays(slot).toString("yyyy-MM-dd") + " 22-00-00"
                          : QString());
    }

    const QString out = m_dir.filePath(QStringLiteral("out-%1").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(out));
    // The page's own save dialog, answered as an operator would; it opens where the last went.
    AppSettings::setLastFolder(AppSettings::kPosSaveFolder, m_dir.path());
    m_page->setSavePathChooser({});
    ChooserAnswers chooser;
    chooser.answers << out + '/' + typed;
    for (int row : checked)
        m_page->rowCheckBox(row)->setChecked(true);
    m_prompts.clear();
    QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
    if (names.isEmpty()) {
        QCOMPARE(m_prompts.texts().contains(QStringLiteral("请先勾选要下载的POS文件！")),
                 checked.isEmpty());
        QVERIFY(chooser.asked.isEmpty());
        QVERIFY(!m_page->usbBusy());
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList());
        return;
    }
    QCOMPARE(chooser.asked.size(), 1);
    QCOMPARE(chooser.asked[0].mid(1),
             (QStringList{m_dir.path(), listed[checked.first()].compactTime + "POS点数据.xls",
                          "POS表 (*.xls)"}));
    QTRY_VERIFY(!m_page->usbBusy());
    QCOMPARE(AppSettings::lastFolder(AppSettings::kPosSaveFolder), out);
    QCOMPARE(m_page->progressBar()->value(), 100);
    QCOMPARE(m_page->textLabel()->text(), QStringLiteral("下载成功！"));
    QVERIFY(m_page->wifiButton()->isEnabled() && m_page->usbButton()->isEnabled());
    for (int j = 0; j < checked.size(); ++j) {
        const PosUsbFile &file = listed[checked[j]];
        QCOMPARE(differsFromDecode(V7_TOOL, out + "/" + names[j], file.path, 52, perLens),
                 QString());
    }
    QCOMPARE(QDir(out).entryList(QDir::Files).size(), checked.size() * (perLens ? 6 : 1));
}

bool tst_PosDownload::connectTo(const QStringList &options)
{
    if (m_link->deviceHandle() == &m_fake) // the USB view's fake camera goes first
        m_link->setDeviceHandleForTesting(nullptr);
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
    return relist(false);
}

void tst_PosDownload::downloadsByFirmware_data()
{
    QTest::addColumn<QString>("camera");  // the simulator's firmware and model
    QTest::addColumn<bool>("lensTables"); // what the firmware's request gives when asked
    QTest::addColumn<bool>("confirmed");  // posfile_file_success counts the download
    QTest::newRow("3.2") << "3.2 V7K5" << false << false;
    QTest::newRow("4.0") << "4.0 V7K5" << true << false;
    QTest::newRow("4.52, three-lens camera") << "4.52 V7K3" << false << true;
    QTest::newRow("4.5") << "4.5 V7K5" << true << true;
}

// The listing; row 5 alone without lens tables, then rows 3, 6 and 10 with them asked for.
void tst_PosDownload::downloadsByFirmware()
{
    QFETCH(QString, camera);
    QFETCH(bool, lensTables);
    const QString firmware = camera.section(' ', 0, 0);
    QVERIFY(connectTo({"--firmware", firmware, "--model", camera.section(' ', 1)}));
    QCOMPARE(m_link->firmwareVersionText(), firmware);
    // Fourteen slots, the simulator's twelve filled, none downloaded yet.
    QStringList headers;
    for (int c = 0; c < m_page->table()->columnCount(); ++c)
        headers << m_page->table()->horizontalHeaderItem(c)->text();
    QCOMPARE(headers, (QStringList{"ID", "时间", "数量", "下载次数", "选择"}));
    for (int row = 0; row < 14; ++row) {
        QCOMPARE(cell(row, 0), QString::number(row + 1));
        QCOMPARE(cell(row, 2), QString::number(row < 12 ? kRecords + 7 * row : 0));
        QCOMPARE(cell(row, 3), QStringLiteral("0"));
    }
    // Slot 1 keeps Unix time, slot 2 calendar time (a day later), slot 3 none, 13 is empty.
    QCOMPARE((QStringList{cell(0, 1), cell(1, 1), cell(2, 1), cell(12, 1)}),
             (QStringList{"2019-03-27 22-00-00", "2019-03-28 22-00-00", "", ""}));
    const int size = m_link->posRecordSize();
    const QString out = m_dir.filePath(QString(camera).replace('.', '_')); // no "." before a name
    QVERIFY(QDir().mkpath(out));
    start({4}, false, out + "/one"); // the name typed without its suffix
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
void tst_PosDownload::cancelMidFile()
{
    PosFileManager *m = m_page->manager();
    const QString path = m_dir.filePath("partial.xls");
    start({11}, true, path);
    QVERIFY(tickUntil([m] { return posfile_process(m) > 0; }));
    QVERIFY(m_camera.toggleSilence(true));
    QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
    QCOMPARE(looks(), QStringLiteral("on on download"));
    // What was kept is said to be incomplete.
    QCOMPARE(m_page->textLabel()->text() + QString::number(m_page->progressBar()->value()),
             QStringLiteral("已取消下载，partial.xls不完整！0"));
    m_page->onTimeout(); // the cancel goes out
    QCOMPARE(int(m->state), int(POSFILE_STATE_READY));
    QVERIFY(m->file == nullptr && m->lensFile[0] == nullptr);
    const uint32_t received = posfile_process(m);
    QVERIFY(m_camera.toggleSilence(false));
    QVERIFY(received > 0 && received < 52u * (kRecords + 77));
    const QString full = m_dir.filePath("full.xls");
    QVERIFY(decode(V7_TOOL, raw(11), 52, true, full));
    const QByteArray partial = fileBytes(path), front = fileBytes(lensPath(path, 0));
    QVERIFY(fileBytes(full).startsWith(partial));
    QCOMPARE(partial.count('\n'), 1 + int(received / 52));
    QVERIFY(front.size() > 100); // the lens tables were closed with what they hold
    QVERIFY(fileBytes(lensPath(full, 0)).startsWith(front));
}

void tst_PosDownload::deleteRowsThenLinkDown()
{
    QVERIFY(relist());
    QStringList points;
    for (int row = 0; row < 14; ++row)
        points << (row == 0 || row == 2 ? QStringLiteral("0") : cell(row, 2));
    // Nothing ticked: said, and nothing deleted.
    m_prompts.clear();
    QTest::mouseClick(m_page->deleteButton(), Qt::LeftButton);
    QVERIFY(m_prompts.texts().contains(QStringLiteral("请先勾选要删除的POS文件！")) &&
            m_page->table()->rowCount() == 14 && !m_page->transfer()->deleting());
    m_page->rowCheckBox(0)->setChecked(true);
    m_page->rowCheckBox(2)->setChecked(true);
    QTest::mouseClick(m_page->deleteButton(), Qt::LeftButton);
    QCOMPARE(m_page->table()->rowCount(), 0);
    QVERIFY(tickUntil(
        [this] { return !m_page->transfer()->deleting() && !m_page->transfer()->refreshing(); }));
    QVERIFY(relist()); // from the camera, not the listing's cache
    for (int row = 0; row < 14; ++row)
        QCOMPARE(cell(row, 2), points[row]);

    // Then the link goes down in the middle of a file.
    PosFileManager *m = m_page->manager();
    const QString down = m_dir.filePath("down.xls");
    start({11}, true, down);
    QVERIFY(tickUntil([m] { return posfile_process(m) > 0; }));
    m_link->disconnectCamera();
    QCOMPARE(m_page->table()->rowCount(), 0);
    QCOMPARE(m_page->textLabel()->text() + QString::number(m_page->progressBar()->value()), "0");
    QCOMPARE(looks(), QStringLiteral("off on download")); // idle, not stuck half-way
    QVERIFY(!m_page->transfer()->downloading() && m_page->manager() == nullptr);
    // The download's tables were closed with what had arrived, the lens tables too.
    QVERIFY(fileBytes(lensPath(down, 0)).startsWith("ID\tLon\t"));
    QVERIFY(fileBytes(lensPath(down, 0)).endsWith(" \n"));
    // Without a link the step has nothing to do, and the WiFi view entry does not start.
    m_page->refreshTable();
    m_page->onTimeout();
    QVERIFY(!m_page->transfer()->refreshing());
}

void tst_PosDownload::toolFromSilentCamera()
{
    QVERIFY(m_camera.restart(
        {"--slots", "1", "--records", "20000", "--delay", "20", "--export-dir", m_raw}));
    QProcess p;
    const QString out = m_dir.filePath("silent.xls"), full = m_dir.filePath("silent-full.xls");
    p.start(QStringLiteral(V7_TOOL), {"pos", "download", "1", "-o", out, "--timeout", "2"});
    // Once rows arrive the camera falls silent for good.
    QTRY_VERIFY_WITH_TIMEOUT(fileBytes(out).count('\n') > 100, 30000);
    QVERIFY(m_camera.toggleSilence(true));
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(p.readAllStandardError().contains("stopped answering"));
    const QByteArray partial = fileBytes(out);
    QVERIFY(partial.endsWith(" \n"));
    QVERIFY(decode(V7_TOOL, raw(0), 52, false, full));
    QVERIFY(fileBytes(full).size() > partial.size() && fileBytes(full).startsWith(partial));
    m_camera.stop(); // a camera that never answers at all
    QCOMPARE(runTool(V7_TOOL, {"pos", "list", "--timeout", "1"}).exitCode, 1);
}

QTEST_MAIN(tst_PosDownload)
#include "tst_posdownload.moc"
