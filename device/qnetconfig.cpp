#include "qnetconfig.h"

#include <QFont>
#include <QLabel>
#include <QTimer>

#include "deviceinfo.h"
#include "downloaddata.h"
#include "mylabel.h"
#include "prompt.h"
#include "shengjiui.h"
#include "v7kapp.h"
#include "wifiname.h"

namespace {
// The address and port of the camera on its own WiFi network; V7_CAMERA_ADDRESS overrides them
// inside the library (the demo and the tests use a simulator on loopback).
const char *const kCameraAddress = "192.168.123.123";
constexpr int kCameraPort = 8899;
constexpr int kBufferSize = 4096;

const QString kBlack = QStringLiteral("color: rgb(0, 0, 0);");
const QString kWhite = QStringLiteral("color: rgb(255, 255, 255);");
} // namespace

QNetConfig *QNetConfig::instance()
{
    static QNetConfig *page = new QNetConfig();
    return page;
}

QNetConfig::QNetConfig(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("QNetConfig"));
    resize(243, 125);

    m_caption = new QLabel(QStringLiteral("网络状态："), this);
    m_caption->setObjectName(QStringLiteral("label_6"));
    m_caption->setGeometry(50, 10, 91, 21);
    m_caption->setStyleSheet(kWhite);
    m_state = new QLabel(QStringLiteral("未连接"), this);
    m_state->setObjectName(QStringLiteral("label_9"));
    m_state->setGeometry(140, 10, 71, 21);
    m_state->setStyleSheet(QStringLiteral("color:  rgb(255, 0, 0);"));
    m_network = new QLabel(this);
    m_network->setObjectName(QStringLiteral("label_7"));
    m_network->setGeometry(60, 90, 141, 21);
    m_network->setStyleSheet(kWhite);
    m_network->hide();

    m_buttonImage = new Mylabel(this);
    m_buttonImage->setGeometry(75, 50, 108, 32);
    m_buttonImage->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/btn_nor.png")));
    m_buttonImage->setScaledContents(true);
    m_buttonText = new Mylabel(this);
    m_buttonText->setGeometry(110, 50, 108, 32);
    m_buttonText->setText(QStringLiteral("连接"));
    m_buttonText->setFont(QFont(QStringLiteral("Microsoft YaHei"), 12));
    m_buttonText->setStyleSheet(kBlack);

    connect(m_buttonText, &Mylabel::clicked, this, &QNetConfig::onClicked);
    connect(m_buttonText, qOverload<>(&Mylabel::enterEvent), this, &QNetConfig::onenterEvent);
    connect(m_buttonText, qOverload<>(&Mylabel::leaveEvent), this, &QNetConfig::onleaveEvent);

    m_versionTimer = new QTimer(this);
    connect(m_versionTimer, &QTimer::timeout, this, &QNetConfig::onTimeout);
    m_versionTimer->start(500);
    m_heartbeatTimer = new QTimer(this);
    connect(m_heartbeatTimer, &QTimer::timeout, this, &QNetConfig::onTimeoutcheck);
}

int QNetConfig::openLink()
{
    if (!m_teleHandle) {
        aktele_module_init();
        m_teleHandle = aktele_alloc(AKTELE_KIND_UDP, kCameraAddress, kCameraPort, kBufferSize);
    }
    if (!m_deviceHandle && m_teleHandle)
        m_deviceHandle = v7k_alloc(m_teleHandle);
    if (!m_teleHandle || !m_deviceHandle)
        return -1;
    aktele_start(m_teleHandle);
    m_versionTimer->start(1000);
    m_upgraderHandle = akupgrader_request(m_teleHandle, AKUPGRADER_CODE_FIRMWARE);
    V7KAPP::instance()->pages.deviceInfo->startBuildDateTimer(500);
    return 0;
}

void QNetConfig::restartVersionRequests()
{
    m_heartbeat.reset();
    m_versionTimer->start(500);
}

int QNetConfig::closeLink()
{
    if (!m_teleHandle)
        return -1;
    aktele_stop(m_teleHandle);
    aktele_free(m_teleHandle);
    if (m_deviceHandle)
        v7k_free(m_deviceHandle);
    aktele_module_exit();
    m_teleHandle = nullptr;
    m_deviceHandle = nullptr;
    return 0;
}

int QNetConfig::newPosData() const
{
    return m_deviceHandle ? int(m_deviceHandle->state & V7K_STATE_NEW_POS) : -1;
}

int QNetConfig::clearNewPosData()
{
    if (!m_deviceHandle)
        return -1;
    m_deviceHandle->state &= ~V7K_STATE_NEW_POS;
    return 0;
}

int QNetConfig::gpsHardwareOk() const
{
    return m_deviceHandle ? int((m_deviceHandle->state & V7K_STATE_GPS_GOOD) >> 1) : -1;
}

int QNetConfig::posValue() const
{
    return m_deviceHandle ? int(m_deviceHandle->posValue) : -1;
}

void QNetConfig::onTimeout()
{
    if (!m_deviceHandle)
        return;
    if (m_deviceHandle->firmwareMajor == 0 && m_deviceHandle->firmwareMinor == 0)
        v7k_get_version(m_deviceHandle);
    else
        m_versionTimer->stop();
}

void QNetConfig::showNotConnected()
{
    m_network->hide();
    m_state->setText(QStringLiteral("未连接"));
    m_state->setStyleSheet(QStringLiteral("color:  rgb(255, 0, 0);"));
    m_buttonText->setText(QStringLiteral("连接"));
}

// What a disconnect and a lost camera both do to the rest of the program.
void QNetConfig::enterDisconnectedState()
{
    V7KAPP *main = V7KAPP::instance();
    showNotConnected();
    main->showDisconnectedState();
    main->linkKind = 0;
    main->isConnected = false;
    main->cameraConnected = 0;
    main->pages.deviceInfo->stopStatusTimer();
    main->pages.downloadData->clearRecords();
    m_heartbeatTimer->stop();
}

void QNetConfig::onClicked()
{
    m_buttonText->setStyleSheet(kBlack);
    m_buttonImage->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/btn_blue_hover.png")));
    V7KAPP *main = V7KAPP::instance();

    if (main->isConnected) {
        if (closeLink() == -1)
            return;
        enterDisconnectedState();
        m_heartbeat.reset();
        return;
    }

    if (openLink() == -1)
        return;
    const WifiName::Result wifi = WifiName::query();
    switch (LinkRules::classify(wifi.status, wifi.ssid)) {
    case LinkRules::Network::NotOnWifi:
        Prompt::inform(this, QStringLiteral("未连接WIFI!"));
        return;
    case LinkRules::Network::NotCamera:
        Prompt::inform(this, QStringLiteral("请连接V7相机的WIFI！"));
        return;
    case LinkRules::Network::Camera:
        m_network->setText(wifi.ssid);
        m_network->show();
        m_state->setText(QStringLiteral("已连接"));
        m_state->setStyleSheet(QStringLiteral("color: rgb(0, 170, 0);"));
        m_buttonText->setText(QStringLiteral("断开"));
        main->showConnectedState();
        main->resetCameraIcons();
        main->pages.downloadData->initTransfer(m_deviceHandle->posfileArg);
        break;
    case LinkRules::Network::Unconfirmed:
        break;
    }
    main->linkKind = 2;
    main->isConnected = true;
    main->pages.deviceInfo->startStatusTimer(500);
    m_heartbeatTimer->start(5000);
    m_deviceHandle->receiveCounter = 0;
    main->cameraConnected = 1;
}

void QNetConfig::onTimeoutcheck()
{
    // A beat already queued when the link went down has nothing left to watch.
    if (!m_deviceHandle || !V7KAPP::instance()->isConnected)
        return;
    PosFileManager *manager = V7KAPP::instance()->pages.downloadData->manager();
    auto *upgrade = qobject_cast<ShengJiUi *>(V7KAPP::instance()->upgradeWindow);
    LinkHeartbeat::Reading reading;
    reading.receiveIndex = v7k_get_index(m_deviceHandle);
    reading.activity = manager ? int(manager->activity) : -1;
    reading.transferProgress = manager ? manager->progress : 0;
    reading.upgradeWindow = upgrade != nullptr;
    reading.upgradeProgress = upgrade ? upgrade->progressValue() : 0;

    const LinkHeartbeat::Verdict verdict = m_heartbeat.check(reading);
    if (verdict == LinkHeartbeat::Verdict::Lost || verdict == LinkHeartbeat::Verdict::LostInTransfer) {
        // No second heartbeat may stack another box while this one waits for the operator.
        m_heartbeatTimer->stop();
        Prompt::inform(this, QStringLiteral("相机断开"), QStringLiteral("请检查相机供电和本地WIFI连接！"));
        enterDisconnectedState();
        if (verdict == LinkHeartbeat::Verdict::LostInTransfer && manager)
            manager->progress = 0;
    }
    if (m_deviceHandle)
        m_heartbeat.remember(m_deviceHandle->receiveCounter);
}

void QNetConfig::onenterEvent()
{
    m_buttonText->setStyleSheet(kWhite);
    m_buttonImage->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/btn_blue_hover.png")));
}

void QNetConfig::onleaveEvent()
{
    m_buttonText->setStyleSheet(kBlack);
    m_buttonImage->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/btn_nor.png")));
}
