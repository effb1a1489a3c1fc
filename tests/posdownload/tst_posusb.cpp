// The POS page's USB view against a drive labelled VESTRANEPOS that really comes and goes: an
// exFAT image on a loop device (built as tst_posusb_loop, root only) or a folder of a
// V7_MEDIA_ROOT (tst_posusb_mediaroot). The drive holds the simulator's POS files; the tables the
// page writes are compared with `v7tool pos decode` of the same files. Runs with TZ=CST-8.
#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>

#include "cameralink.h"
#include "camsimprocess.h"
#include "cardrig.h"
#include "downloaddata.h"
#include "mylabel.h"
#include "postablecheck.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef V7_RIG_LOOP
constexpr CardRig::Kind kRig = CardRig::Loop;
#else
constexpr CardRig::Kind kRig = CardRig::MediaRoot;
#endif

class tst_PosUsb : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void availability_data();
    void availability();
    void usbDownload_data();
    void usbDownload();

private:
    // Plugs a VESTRANEPOS drive holding the simulator's first `files` POS files, with their times.
    bool plugDrive(int files)
    {
        QString error;
        m_drive = m_rig->plug(QStringLiteral("VESTRANEPOS"), &error);
        if (m_drive.isEmpty())
            return (qWarning() << error, false);
        const QDir source(m_work.filePath("sim/VESTRANEPOS"));
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
    bool shows(const QLabel *label, const char *image) const
    {
        return label->pixmap().toImage() ==
               QPixmap(QStringLiteral(":/V7KAPP/res/") + image).toImage();
    }

    std::unique_ptr<CardRig> m_rig;
    QTemporaryDir m_work;
    QString m_drive;
    PromptCatcher m_prompts;
    DownloadData *m_page = nullptr;
    CameraLink *m_link = CameraLink::instance();
    v7k_context m_camera{};
};

void tst_PosUsb::initTestCase()
{
    const QString reason = CardRig::unavailableReason(kRig);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_rig = std::make_unique<CardRig>(kRig);
    if (kRig == CardRig::MediaRoot)
        qputenv("V7_MEDIA_ROOT", QFile::encodeName(m_rig->mediaRoot()));
    else
        qunsetenv("V7_MEDIA_ROOT");
    // The simulator's POS drive, copied from here onto the rig's drive in slot order. It says
    // where it listens once the drive is written.
    QProcess sim;
    sim.start(QStringLiteral(V7_CAMSIM_PATH), {"--listen", "127.0.0.1:0", "--quiet", "--records",
                                               "150", "--pos-drive", m_work.filePath("sim")});
    QVERIFY(sim.waitForReadyRead(10000));
    QVERIFY(sim.readLine().startsWith("listening on"));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(QDir(m_work.filePath("sim/VESTRANEPOS")).entryList(QDir::Files).size(), 14);
    qstrncpy(m_camera.serial, "V7K52019032801", sizeof m_camera.serial);
    m_camera.firmwareMajor = 4;
    m_camera.firmwareMinor = 52;
    m_page = DownloadData::instance();
    m_page->show();
}

void tst_PosUsb::cleanup()
{
    if (!m_drive.isEmpty())
        m_rig->pull(m_drive);
    m_drive.clear();
    QTRY_VERIFY(m_page->usbRoot().isEmpty());
    m_link->setDeviceHandleForTesting(nullptr);
    m_page->setFiveLensLayout(false);
    m_page->independentBox()->setChecked(false);
}

void tst_PosUsb::availability_data()
{
    QTest::addColumn<bool>("drive");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("code");
    QTest::newRow("drive, link") << true << true << 0;
    QTest::newRow("drive only") << true << false << 1;
    QTest::newRow("link only") << false << true << 2;
    QTest::newRow("neither") << false << false << 3;
}

void tst_PosUsb::availability()
{
    QFETCH(bool, drive);
    QFETCH(bool, connected);
    QFETCH(int, code);
    m_link->setDeviceHandleForTesting(connected ? &m_camera : nullptr);
    if (drive)
        QVERIFY(plugDrive(1));
    m_page->refreshModeButtons(); // the watcher reports the drive; the page entry looks again
    QTRY_COMPARE(m_page->availability(), code);
    QCOMPARE(m_page->usbRoot(), drive ? m_drive : QString());
    QCOMPARE(m_page->wifiButton()->isEnabled(), connected);
    QCOMPARE(m_page->usbButton()->isEnabled(), drive);
    QVERIFY(shows(m_page->wifiButton(), connected ? "btn_WIFI_pre.png" : "btn_WIFI_nor.png"));
    QVERIFY(shows(m_page->usbButton(), drive ? "btn_USB_pre.png" : "btn_USB_nor.png"));
    if (drive && !connected) { // the USB view needs the camera's model
        m_prompts.clear();
        QTest::mouseClick(m_page->usbButton(), Qt::LeftButton);
        QCOMPARE(m_prompts.texts(), QStringList{QStringLiteral("需要首先获取相机SN号！")});
        QCOMPARE(m_page->source(), int(DownloadData::Usb));
        QCOMPARE(m_page->table()->horizontalHeaderItem(3)->text(), QStringLiteral("选择"));
        QCOMPARE(m_page->table()->rowCount(), 0);
    }
    if (drive && connected) { // pulling the drive while the link is up leaves WiFi alone
        cleanup();
        m_link->setDeviceHandleForTesting(&m_camera);
        QTRY_COMPARE(m_page->availability(), 2);
        QVERIFY(!m_page->usbButton()->isEnabled());
        QVERIFY(m_page->wifiButton()->isEnabled());
    }
}

void tst_PosUsb::usbDownload_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<QList<int>>("checked");
    QTest::addColumn<bool>("perLens");
    QTest::addColumn<QStringList>("names"); // after the compact time of each checked file
    QTest::newRow("two of fourteen")
        << 14 << QList<int>{3, 11} << false << QStringList{"POS点数据1.xls", "POS点数据2.xls"};
    QTest::newRow("one, with lens tables")
        << 14 << QList<int>{0} << true << QStringList{"POS点数据.xls"};
    QTest::newRow("thirteen files offer no download")
        << 13 << QList<int>{0, 1} << false << QStringList();
}

void tst_PosUsb::usbDownload()
{
    QFETCH(int, files);
    QFETCH(QList<int>, checked);
    QFETCH(bool, perLens);
    QFETCH(QStringList, names);
    m_link->setDeviceHandleForTesting(&m_camera);
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
        if (slot % 3 != 0) // files without a time keep the time they were written
            QCOMPARE(listed[i].timeText,
                     QStringLiteral("2019-%1-%2 10-00-00")
                         .arg(slot <= 4 ? "03" : "04")
                         .arg(slot <= 4 ? 27 + slot : slot - 4, 2, 10, QLatin1Char('0')));
    }

    const QString out = m_work.filePath(QStringLiteral("out-%1").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(out));
    QStringList asked;
    m_page->setSavePathChooser([&](const QString &suggested) {
        asked << suggested;
        return out + "/whatever.xls";
    });
    for (int row : checked)
        m_page->rowCheckBox(row)->setChecked(true);
    QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
    if (names.isEmpty()) {
        QVERIFY(asked.isEmpty());
        QVERIFY(!m_page->usbBusy());
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList());
        return;
    }
    QCOMPARE(asked, QStringList{listed[checked.first()].compactTime + "POS点数据"});
    QTRY_VERIFY(!m_page->usbBusy());
    QCOMPARE(m_page->progressBar()->value(), 100);
    QCOMPARE(m_page->textLabel()->text(),
             perLens ? QStringLiteral("共:%1个 ,已下载:100%").arg(checked.size())
                     : QStringLiteral("%1/%1 ,已下载:100%").arg(checked.size()));
    QVERIFY(m_page->wifiButton()->isEnabled() && m_page->usbButton()->isEnabled());
    for (int j = 0; j < checked.size(); ++j) {
        const PosUsbFile &file = listed[checked[j]];
        QCOMPARE(PosTableCheck::differsFromDecode(V7_TOOL, out + "/" + file.compactTime + names[j],
                                                  file.path, 52, perLens),
                 QString());
    }
    QCOMPARE(QDir(out).entryList(QDir::Files).size(), checked.size() * (perLens ? 6 : 1));
}

QTEST_MAIN(tst_PosUsb)
#include "tst_posusb.moc"
