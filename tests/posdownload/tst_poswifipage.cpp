// The POS page's WiFi view wired to the program's camera link and the simulator on loopback:
// the listing in the table, a download with its looks, cancel, delete and the link going down.
// The page's timer is stood in for by calling onTimeout() in quick succession.
#include <QtTest>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>

#include "cameralink.h"
#include "camsimprocess.h"
#include "downloaddata.h"
#include "mylabel.h"
#include "poswifitransfer.h"

namespace {
QImage resourceImage(const char *name)
{
    return QPixmap(QStringLiteral(":/V7KAPP/res/") + QString::fromUtf8(name)).toImage();
}

QImage shown(const QLabel *label)
{
    return label->pixmap().toImage();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class tst_PosWifiPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void listingInTheTable();
    void downloadLooks();
    void cancelLooks();
    void deleteRowsOneAndThree();
    void linkDownEmptiesThePage();

private:
    // Runs the page's timer step until done(), within a bound of steps.
    template <typename Done> bool tickUntil(Done done)
    {
        for (int i = 0; i < 4000 && !done(); ++i) {
            m_page->onTimeout();
            QTest::qWait(5);
        }
        return done();
    }
    bool relist();

    CamsimProcess m_camera;
    PromptCatcher m_prompts;
    QTemporaryDir m_out;
    CameraLink *m_link = CameraLink::instance();
    DownloadData *m_page = nullptr;
};

void tst_PosWifiPage::initTestCase()
{
    QVERIFY(m_camera.start(
        {"--model", "V7K5", "--firmware", "4.52", "--records", "300", "--delay", "5"}));
    qputenv("V7_WIFI_SSID", "V7K5-TEST");
    m_page = DownloadData::instance();
    m_page->timer()->stop(); // the test ticks
    m_page->show();
    QSignalSpy connected(m_link, &CameraLink::connected);
    m_link->connectCamera();
    QTRY_COMPARE(connected.count(), 1);
    QTRY_VERIFY(m_link->identityKnown());
    QCOMPARE(m_link->posRecordSize(), 52);
    m_page->setFiveLensLayout(true);
}

bool tst_PosWifiPage::relist()
{
    m_page->refreshTable();
    m_page->timer()->stop();
    return tickUntil([this] { return !m_page->transfer()->refreshing(); }) &&
           m_page->table()->rowCount() == 14;
}

void tst_PosWifiPage::listingInTheTable()
{
    m_page->refreshModeButtons();
    QTRY_VERIFY(m_page->availability() == DownloadData::WifiOnly ||
                m_page->availability() == DownloadData::UsbAndWifi);
    QVERIFY(m_page->wifiButton()->isEnabled());
    QTest::mouseClick(m_page->wifiButton(), Qt::LeftButton);
    m_page->timer()->stop();
    QVERIFY(tickUntil([this] { return !m_page->transfer()->refreshing(); }));
    QTableWidget *table = m_page->table();
    QCOMPARE(table->rowCount(), 14);
    QCOMPARE(table->columnCount(), 5);
    const QStringList headers{"ID", "时间", "数量", "下载次数", "选择"};
    for (int c = 0; c < 5; ++c)
        QCOMPARE(table->horizontalHeaderItem(c)->text(), headers[c]);
    QCOMPARE(table->columnWidth(1), 157);
    QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 125);
    QVERIFY(table->verticalHeader()->isHidden());
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("1"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("2019-03-28 10:00:00"));
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("300"));
    QCOMPARE(table->item(13, 2)->text(), QString::number(300 + 7 * 13));
    QCOMPARE(table->item(13, 3)->text(), QStringLiteral("0"));
    QCOMPARE(table->item(4, 1)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
    QVERIFY(m_page->rowCheckBox(13));
    QVERIFY(!m_page->rowCheckBox(13)->isChecked());
}

void tst_PosWifiPage::downloadLooks()
{
    QVERIFY(relist());
    m_page->independentBox()->setChecked(true);
    QStringList asked;
    const QString chosen = m_out.filePath("wifi.xls");
    m_page->setSavePathChooser([&](const QString &suggested) {
        asked << suggested;
        return chosen;
    });
    m_page->rowCheckBox(1)->setChecked(true);
    m_page->rowCheckBox(4)->setChecked(true);
    QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
    QCOMPARE(asked, QStringList{"20190329100000POS点数据"});
    // Downloading: the other buttons shut, the download button cancels.
    QVERIFY(m_page->transfer()->downloading());
    QVERIFY(!m_page->wifiButton()->isEnabled());
    QVERIFY(!m_page->usbButton()->isEnabled());
    QVERIFY(!m_page->deleteButton()->isEnabled());
    QCOMPARE(shown(m_page->downloadButton()), resourceImage("quxiaoxiazai.png"));
    QVERIFY(tickUntil([this] { return !m_page->transfer()->downloading(); }));
    QCOMPARE(m_page->textLabel()->text(), QStringLiteral("下载成功！"));
    QCOMPARE(m_page->progressBar()->value(), 100);
    QCOMPARE(shown(m_page->downloadButton()), resourceImage("btn_download_nor.png"));
    QVERIFY(m_page->wifiButton()->isEnabled());
    QVERIFY(m_page->deleteButton()->isEnabled());
    const QByteArray second = readAll(m_out.filePath("wifi2.xls"));
    QCOMPARE(second.count('\n'), 1 + 300 + 7);
    QVERIFY(readAll(m_out.filePath("wifi5.xls")).startsWith("ID\tLon\tLat\tAlt\t"));
    QCOMPARE(readAll(m_out.filePath("wifi5Center.xls")).left(11), QByteArray("ID\tLon\tLat\t"));
    m_page->independentBox()->setChecked(false);
}

void tst_PosWifiPage::cancelLooks()
{
    QVERIFY(relist());
    m_page->setSavePathChooser([this](const QString &) { return m_out.filePath("cancel.xls"); });
    m_page->rowCheckBox(13)->setChecked(true);
    QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
    m_page->onTimeout(); // the file is asked for
    QVERIFY(QFile::exists(m_out.filePath("cancel.xls")));
    // The download button cancels: the other buttons open again, the line and the bar empty.
    QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
    QVERIFY(!m_page->transfer()->downloading());
    QVERIFY(m_page->wifiButton()->isEnabled());
    QVERIFY(m_page->deleteButton()->isEnabled());
    QCOMPARE(m_page->textLabel()->text(), QString());
    QCOMPARE(m_page->progressBar()->value(), 0);
    m_page->onTimeout(); // the cancel goes out
    QCOMPARE(int(m_link->posManager()->state), int(POSFILE_STATE_READY));
    QVERIFY(m_link->posManager()->file == nullptr);
    QVERIFY(readAll(m_out.filePath("cancel.xls")).startsWith("ID\t"));
}

void tst_PosWifiPage::deleteRowsOneAndThree()
{
    QVERIFY(relist());
    const QString third = m_page->table()->item(3, 2)->text();
    m_page->rowCheckBox(0)->setChecked(true);
    m_page->rowCheckBox(2)->setChecked(true);
    QTest::mouseClick(m_page->deleteButton(), Qt::LeftButton);
    QCOMPARE(m_page->table()->rowCount(), 0);
    QVERIFY(tickUntil(
        [this] { return !m_page->transfer()->deleting() && !m_page->transfer()->refreshing(); }));
    QCOMPARE(m_page->table()->rowCount(), 14);
    QCOMPARE(m_page->table()->item(0, 2)->text(), QStringLiteral("0"));
    QCOMPARE(m_page->table()->item(1, 2)->text(), QString::number(300 + 7));
    QCOMPARE(m_page->table()->item(2, 2)->text(), QStringLiteral("0"));
    QCOMPARE(m_page->table()->item(3, 2)->text(), third);
}

void tst_PosWifiPage::linkDownEmptiesThePage()
{
    QVERIFY(relist());
    m_page->independentBox()->setChecked(true);
    m_page->setSavePathChooser([this](const QString &) { return m_out.filePath("down.xls"); });
    m_page->rowCheckBox(13)->setChecked(true);
    QTest::mouseClick(m_page->downloadButton(), Qt::LeftButton);
    QVERIFY(tickUntil([this] { return posfile_process(m_link->posManager()) > 0; }));
    m_link->disconnectCamera();
    QCOMPARE(m_page->table()->rowCount(), 0);
    QCOMPARE(m_page->textLabel()->text(), QString());
    QCOMPARE(m_page->progressBar()->value(), 0);
    QVERIFY(!m_page->transfer()->downloading());
    QVERIFY(!m_page->wifiButton()->isEnabled());
    QCOMPARE(shown(m_page->downloadButton()), resourceImage("btn_download_nor.png"));
    QVERIFY(m_page->manager() == nullptr);
    // The download's tables were closed with what had arrived, the lens tables too.
    const QByteArray front = readAll(m_out.filePath("downFront.xls"));
    QVERIFY(front.startsWith("ID\tLon\t"));
    QVERIFY(front.endsWith(" \n"));
    // Without a link the step has nothing to do, and the WiFi view entry does not start.
    m_page->refreshTable();
    m_page->onTimeout();
    QVERIFY(!m_page->transfer()->refreshing());
}

QTEST_MAIN(tst_PosWifiPage)
#include "tst_poswifipage.moc"
