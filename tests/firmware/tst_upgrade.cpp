// The device information page and the firmware upgrade against the camera simulator; the
// shipped update configuration, the model rule and the upgrade question on their own.
#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include "cameralink.h"
#include "camsimprocess.h"
#include "deviceinfo.h"
#include "firmwareimage.h"
#include "mylabel.h"
#include "qnetconfig.h"
#include "shengjiui.h"
#include "testtools.h"
#include "updataui.h"
#include "updateconfig.h"
#include "upgradestarter.h"
#include "v7kapp.h"

namespace {

// Each image carries a build date of its own: the page must show the new one after an upgrade.
bool writeImage(const QString &path, int major, int minor, bool encrypted)
{
    vived::FirmwareHeader header;
    header.major = uint8_t(major);
    header.minor = uint8_t(minor);
    header.buildDate = "2026-11-" + std::to_string(minor - 30);
    header.model = "V7K5";
    std::vector<uint8_t> body(96 * 1024);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t(i * 7 + i / 251);
    std::vector<uint8_t> image = vived::FirmwareImage::build(header, body);
    if (encrypted) {
        std::vector<uint8_t> sealed;
        if (!vived::FirmwareImage::encrypt(image, sealed))
            return false;
        image.swap(sealed);
    }
    return vived::FirmwareImage::writeFile(QFile::encodeName(path).constData(), image);
}

} // namespace

class tst_Upgrade : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void connectAndUpdateWindow();
    void versionUnknownKeepsAsking();
    void refusalsSendNothing_data();
    void refusalsSendNothing();
    void plainThenEncryptedImage();
    void read_data();
    void read();
    void recordSize_data();
    void recordSize();
    void question_data();
    void question();

private:
    ShengJiUi *runUpgrade(UpgradeStarter::Variant variant, const QString &path);
    void finishUpgrade(ShengJiUi *window, int minor);

    QTemporaryDir m_shipped;
    CamsimProcess m_camera;
    PromptCatcher m_prompts;
    v7k_context *m_device = nullptr;
    CameraLink *m_link = nullptr;
};

void tst_Upgrade::initTestCase()
{
    QVERIFY(writeImage(m_shipped.filePath(QStringLiteral("V7K5_4.41.bin")), 4, 41, false));
    QVERIFY(writeImage(m_shipped.filePath(QStringLiteral("V7K5_4.52.bin")), 4, 52, false));
    QVERIFY(writeImage(m_shipped.filePath(QStringLiteral("V7K5_4.53_enc.bin")), 4, 53, true));
    QVERIFY(writeFile(m_shipped.filePath(QStringLiteral("notes.bin")), QByteArray(4096, 'x')));
    QVERIFY(writeFile(m_shipped.filePath(QStringLiteral("UpdateConfig.xml")),
                      "<config><filename value=\"V7K5_4.41.bin\"/><num value=\"4.41\"/></config>\n"));
    // Before the main window exists: the device page reads the configuration when it is built.
    qputenv("V7_SHIPPED_DIR", QFile::encodeName(m_shipped.path()));
    qputenv("V7_WIFI_SSID", "V7K5-FIELD");

    m_link = CameraLink::instance();
    QVERIFY(
        m_camera.start({"--firmware", "4.40", "--build-date", "2019", "--restart-seconds", "2"}));
    V7KAPP::instance()->show();
    QCOMPARE(V7KAPP::instance()->pages.deviceInfo->configuredVersion(), QStringLiteral("4.41"));
}

// The connect asks about the shipped firmware; the update window is usable only with a camera.
void tst_Upgrade::connectAndUpdateWindow()
{
    UpdataUi offline;
    QVERIFY(!offline.checkButton()->isEnabled());
    QVERIFY(!offline.upgradeButton()->isEnabled());
    QCOMPARE(offline.serialLabel()->text(), QString());
    QCOMPARE(offline.versionLabel()->text(), QString());

    QNetConfig::instance()->onClicked();
    QTRY_VERIFY(m_link->isConnected());
    m_device = m_link->deviceHandle();
    DeviceInfo *page = V7KAPP::instance()->pages.deviceInfo;
    QTRY_COMPARE_WITH_TIMEOUT(m_prompts.texts(),
                              QStringList{QStringLiteral("当前固件版本是4.40,是否升级？")}, 5000);
    QVERIFY(!page->statusTimer()->isActive());
    QVERIFY(page->labelTimer()->isActive());
    QCOMPARE(page->versionLabel()->text(), QStringLiteral("V4.40"));
    QVERIFY(page->serialLabel()->text().startsWith(QLatin1String("V7K5")));
    QCOMPARE(m_link->firmwareVersionText(), QStringLiteral("4.40"));
    QCOMPARE(m_link->posRecordSize(), 52);
    m_prompts.clear();

    // With a camera.
    page->onTimeout1(); // the labels the update window copies
    UpdataUi connected;
    QVERIFY(connected.checkButton()->isEnabled());
    QVERIFY(connected.upgradeButton()->isEnabled());
    QCOMPARE(connected.versionLabel()->text(), QStringLiteral("V4.40"));
    QCOMPARE(connected.statusLabel()->text(), QString());
    connected.slotCheck();
    QCOMPARE(connected.checkButton()->text(), QStringLiteral("已是最新版本"));

    // A label that no longer matches the camera (an upgrade happened meanwhile): no claim.
    UpdataUi stale;
    stale.versionLabel()->setText(QStringLiteral("V4.30"));
    stale.slotCheck();
    QCOMPARE(stale.checkButton()->text(), QStringLiteral("检查新版本"));
}

// The link forgets the version on every connect; until the camera answers, no question.
void tst_Upgrade::versionUnknownKeepsAsking()
{
    v7k_context *device = m_link->deviceHandle();
    const quint8 minor = device->firmwareMinor;
    DeviceInfo *page = V7KAPP::instance()->pages.deviceInfo;
    m_link->cameraRestarted();
    QVERIFY(!m_link->identityKnown());
    page->startStatusTimer(500);
    page->onTimeout();
    QVERIFY2(page->statusTimer()->isActive(), "the step repeats until the version is known");
    QVERIFY(m_prompts.texts().isEmpty());
    page->stopStatusTimer();
    QTRY_VERIFY(m_link->identityKnown());
    QCOMPARE(device->firmwareMinor, minor);

    // A short build date is asked for again: two more rounds, each answered with the same date.
    QSignalSpy asked(m_link->versionTimer(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(asked.count() >= 2, 10000);
    QCOMPARE(QByteArray(m_device->buildDate), QByteArray("2019"));
    QVERIFY(m_link->versionTimer()->isActive());
    QCOMPARE(page->buildDateLabel()->text(), QString());
}

ShengJiUi *tst_Upgrade::runUpgrade(UpgradeStarter::Variant variant, const QString &path)
{
    if (!UpgradeStarter::start(variant, path, V7KAPP::instance()))
        return nullptr;
    // The device page's local upgrade waits a second for its fresh upgrader, on a timer.
    const bool shown = QTest::qWaitFor(
        [] { return V7KAPP::instance()->findChild<ShengJiUi *>() != nullptr; }, 10000);
    return shown && m_link->upgradeRunning() ? V7KAPP::instance()->findChild<ShengJiUi *>()
                                             : nullptr;
}

// A file that is not firmware, or an encrypted one the operator would not have decrypted.
void tst_Upgrade::refusalsSendNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("not firmware") << "notes.bin"
                                  << "所选文件不是有效的固件！ / 未向相机发送任何数据";
    QTest::newRow("decryption declined") << "V7K5_4.53_enc.bin"
                                         << "您选的文件是加密文件，是否解密并继续升级？";
}

void tst_Upgrade::refusalsSendNothing()
{
    QFETCH(QString, file);
    QFETCH(QString, prompt);
    m_prompts.clear();
    m_prompts.answerQuestionsWith(false);
    QFile::remove(UpgradeStarter::decryptedCopyPath());
    QVERIFY(!runUpgrade(UpgradeStarter::Variant::DeviceConfigured, m_shipped.filePath(file)));
    QCOMPARE(m_prompts.texts(), QStringList{prompt});
    QVERIFY(!QFile::exists(UpgradeStarter::decryptedCopyPath()));
    QVERIFY(!m_link->upgradeRunning());
    QCOMPARE(akupgrader_get_progress(m_link->upgraderHandle()), 0);
}

void tst_Upgrade::finishUpgrade(ShengJiUi *window, int minor)
{
    // The camera reports five good cameras all along, restart included: the panel must never
    // say otherwise.
    QStringList faultTexts;
    QLabel *fault = V7KAPP::instance()->panelLabel("label_19");
    QMetaObject::Connection sample = connect(m_link, &CameraLink::statusRefreshed, this,
                                             [&] { faultTexts << fault->text(); });
    auto stopSampling = qScopeGuard([&] { disconnect(sample); });
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(window->isModal());
    // At 100 % the camera still has to restart with the new image: the window stays, and
    // nothing closes it before that.
    // The simulator's restart takes 2 s, several progress ticks.
    QTRY_VERIFY_WITH_TIMEOUT(window->progressValue() == 100 || window->succeeded(), 20000);
    QVERIFY2(!window->succeeded(), "100 % alone is not a success");
    QCOMPARE(window->percentLabel()->text(), QStringLiteral("100%"));
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QVERIFY(window->successLabel()->isHidden());
    QVERIFY(window->okButton()->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(window->succeeded(), 20000);
    QVERIFY(!window->successLabel()->isHidden());
    QVERIFY(!window->okButton()->isHidden());
    QVERIFY(!window->progressTimer()->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(m_device->firmwareMinor == minor, 10000);
    QCOMPARE(m_device->firmwareMajor, quint8(4));
    QTRY_VERIFY(faultTexts.size() > 2); // statuses of the restarted camera, too
    faultTexts.removeDuplicates();
    QCOMPARE(faultTexts, QStringList{QString()});

    QPointer<ShengJiUi> guard(window);
    QTest::mouseClick(window->okButton(), Qt::LeftButton);
    QTRY_VERIFY(guard.isNull() || !guard->isVisible());
    QVERIFY(!m_link->upgradeRunning());
    QVERIFY(m_link->isConnected());
    // The identity is read again once the camera is back: the new date, without a reconnect.
    const QString date = QStringLiteral("2026-11-%1").arg(minor - 30);
    QTRY_COMPARE(V7KAPP::instance()->pages.deviceInfo->buildDateLabel()->text(), date);
    QCOMPARE(V7KAPP::instance()->pages.deviceInfo->versionLabel()->text(),
             QStringLiteral("V4.%1").arg(minor));
}

void tst_Upgrade::plainThenEncryptedImage()
{
    m_prompts.clear();
    ShengJiUi *window = runUpgrade(UpgradeStarter::Variant::DeviceConfigured,
                                   m_shipped.filePath(QStringLiteral("V7K5_4.52.bin")));
    finishUpgrade(window, 52);
    QVERIFY(m_prompts.texts().isEmpty());

    // The device page's local upgrade with an encrypted image the operator agrees to decrypt.
    m_prompts.answerQuestionsWith(true);
    window = runUpgrade(UpgradeStarter::Variant::DeviceLocal,
                        m_shipped.filePath(QStringLiteral("V7K5_4.53_enc.bin")));
    QVERIFY(QFile::exists(UpgradeStarter::decryptedCopyPath()));
    std::vector<uint8_t> copy;
    vived::FirmwareHeader header;
    QVERIFY(vived::FirmwareImage::readFile(
        QFile::encodeName(UpgradeStarter::decryptedCopyPath()).constData(), copy));
    QVERIFY(vived::FirmwareImage::parse(copy, header));
    QCOMPARE(int(header.minor), 53);
    finishUpgrade(window, 53);
}

void tst_Upgrade::read_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("shipped form")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n"
                      "  <filename value=\"V7K_4.41.bin\"/>\n  <num value=\"4.41\"/>\n</config>\n")
        << "4.41" << "V7K_4.41.bin";
    QTest::newRow("last num wins")
        << QByteArray("<config><filename value=\"a.bin\"/><num value=\"4.30\"/><num value=\"4.52\"/></config>")
        << "4.52" << "a.bin";
    QTest::newRow("filename not first")
        << QByteArray("<config><num value=\"4.41\"/><filename value=\"a.bin\"/></config>") << "4.41"
        << "";
    QTest::newRow("other root") << QByteArray("<update><num value=\"4.41\"/></update>") << ""
                                << "";
    QTest::newRow("not xml") << QByteArray("num=4.41\n") << "" << "";
    QTest::newRow("truncated") << QByteArray("<config><filename value=\"a.bin\"/><num val") << ""
                               << "";
    QTest::newRow("empty") << QByteArray() << "" << "";
}

void tst_Upgrade::read()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, version);
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("UpdateConfig.xml"));
    QVERIFY(writeFile(path, xml));
    const UpdateConfig config = UpdateConfig::read(path);
    QCOMPARE(config.version, version);
    QCOMPARE(config.fileName, fileName);
    QVERIFY(UpdateConfig::read(dir.filePath(QStringLiteral("missing.xml"))).version.isEmpty());
}

void tst_Upgrade::recordSize_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<int>("size");
    QTest::newRow("V7K3") << QByteArray("V7K3-1001") << 32;
    QTest::newRow("V7K5") << QByteArray("V7K50042") << 52;
    QTest::newRow("V7K1") << QByteArray("V7K1") << 32;
    QTest::newRow("V7K2") << QByteArray("V7K2A") << 32;
    QTest::newRow("V7K4") << QByteArray("V7K4B") << 52;
    QTest::newRow("other V7K") << QByteArray("V7K9") << 32;
    QTest::newRow("other V7") << QByteArray("V7X5") << 32;
    QTest::newRow("short") << QByteArray("V7") << 32;
    QTest::newRow("not a V7") << QByteArray("R9K5") << 0;
    QTest::newRow("empty") << QByteArray("") << 0;
}

void tst_Upgrade::recordSize()
{
    QFETCH(QByteArray, serial);
    QFETCH(int, size);
    QCOMPARE(v7k_pos_record_size(serial.constData()), size);
}

void tst_Upgrade::question_data()
{
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("camera");
    QTest::addColumn<QString>("question");
    QTest::newRow("older camera") << "4.41" << "4.40" << "当前固件版本是4.40,是否升级？";
    QTest::newRow("same") << "4.41" << "4.41" << "";
    QTest::newRow("newer camera") << "4.41" << "4.52" << "";
    QTest::newRow("version unknown") << "4.41" << "0.0" << "";
    QTest::newRow("no configuration") << "" << "4.40" << "";
    QTest::newRow("decimal comparison") << "4.5" << "4.41" << "当前固件版本是4.41,是否升级？";
}

void tst_Upgrade::question()
{
    QFETCH(QString, configured);
    QFETCH(QString, camera);
    QFETCH(QString, question);
    QCOMPARE(DeviceInfo::upgradeQuestion(configured, camera), question);
}

QTEST_MAIN(tst_Upgrade)
#include "tst_upgrade.moc"
