#include "deviceinfo.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "framestyle.h"
#include "prompt.h"
#include "cameralink.h"
#include "upgradestarter.h"
#include "look.h"

namespace {

const QString kCaptionStyle = QStringLiteral("color: rgb(102, 102, 102);");
const QString kValueStyle = QStringLiteral("color: rgb(50, 50, 50);");

} // namespace

DeviceInfo::DeviceInfo(QWidget *parent)
    : QWidget(parent)
    , m_link(CameraLink::instance())
{
    resize(606, 508);
    FrameStyle::setScaledBackground(this, Look::resource("smal_bk.png"));

    const char *const captions[] = {"设备SN：", "当前固件版本：", "发布日期：", "固件日期："};
    const char *const defaults[] = {"1111", "V0.0", "2019-03-28", ""};
    QLabel *values[4];
    for (int row = 0; row < 4; ++row) {
        auto *caption = new QLabel(QString::fromUtf8(captions[row]), this);
        caption->setGeometry(150, 120 + 44 * row, 130, 24);
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        caption->setFont(Look::font(11));
        caption->setStyleSheet(kCaptionStyle);
        values[row] = new QLabel(QString::fromUtf8(defaults[row]), this);
        values[row]->setGeometry(290, 120 + 44 * row, 200, 24);
        values[row]->setFont(Look::font(11));
        values[row]->setStyleSheet(kValueStyle);
        values[row]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    m_serial = values[0];
    m_version = values[1];
    m_releaseDate = values[2];
    m_buildDate = values[3];
    m_values = {m_serial, m_version, m_buildDate};

    m_update = new QPushButton(QStringLiteral("更新"), this);
    m_update->setGeometry(290, 310, 108, 32);
    m_update->setFocusPolicy(Qt::NoFocus);
    m_update->setFont(Look::font(11));
    m_update->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: rgb(0, 160, 230); border: none; border-radius: 4px; }"
        "QPushButton:pressed { background: rgb(22, 155, 213); }"));

    m_statusTimer = new QTimer(this);
    m_labelTimer = new QTimer(this);
    m_buildDateTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &DeviceInfo::onTimeout);
    connect(m_labelTimer, &QTimer::timeout, this, &DeviceInfo::onTimeout1);
    connect(m_buildDateTimer, &QTimer::timeout, this, &DeviceInfo::onTimeout2);
    m_buildDateTimer->start(500);
    connect(m_update, &QPushButton::pressed, this, &DeviceInfo::onpressed);

    m_configuredVersion = UpdateConfig::read(UpdateConfig::defaultPath()).version;

    // Each connect compares the camera's firmware with the shipped one again.
    connect(m_link, &CameraLink::connected, this, [this] {
        startStatusTimer(500);
        startBuildDateTimer(500);
    });
    connect(m_link, &CameraLink::disconnected, this, &DeviceInfo::stopStatusTimer);
    connect(m_link, &CameraLink::identityChanged, this, [this] {
        publish();
        onTimeout2();
    });
}

void DeviceInfo::startStatusTimer(int ms)
{
    m_statusTimer->start(ms);
}

void DeviceInfo::stopStatusTimer()
{
    m_statusTimer->stop();
}

void DeviceInfo::startBuildDateTimer(int ms)
{
    m_buildDateTimer->start(ms);
}

void DeviceInfo::hideValueFields()
{
    for (QLabel *value : std::as_const(m_values))
        value->hide();
}

QString DeviceInfo::upgradeQuestion(const QString &configured, const QString &camera)
{
    UpdateConfig config;
    config.version = configured;
    if (!config.offersNewerThan(camera) || camera == QLatin1String("0.0"))
        return QString();
    return QStringLiteral("当前固件版本是") + camera + QStringLiteral(",是否升级？");
}

// The camera's identity as the link read it; blank while it is being read again.
void DeviceInfo::publish()
{
    const CameraIdentity &identity = m_link->identity();
    m_serial->setText(QString::fromLatin1(identity.serial));
    m_version->setText(identity.firmwareVersionText.isEmpty()
                           ? QString()
                           : QStringLiteral("V") + identity.firmwareVersionText);
    for (QLabel *value : std::as_const(m_values))
        value->show();
}

void DeviceInfo::onTimeout()
{
    if (!m_link->deviceHandle())
        return;
    // The camera has not told its version yet: ask again on the next tick.
    if (!m_link->identityKnown())
        return;
    publish();
    const QString camera = m_link->firmwareVersionText();
    UpdateConfig config;
    config.version = m_configuredVersion;
    m_statusTimer->stop();
    if (config.offersNewerThan(camera)) {
        emit upgradeOffered();
        m_labelTimer->start(1000);
        if (Prompt::ask(this, upgradeQuestion(m_configuredVersion, camera)))
            onpressed2();
    }
    restoreWorkMode();
}

void DeviceInfo::restoreWorkMode()
{
    if (v7k_context *device = m_link->deviceHandle())
        v7k_change_work_mode(device, 1);
}

void DeviceInfo::onTimeout1()
{
    if (m_link->deviceHandle())
        publish();
}

// The link asks for the date until the camera has sent one of at least five characters.
void DeviceInfo::onTimeout2()
{
    const QString date = m_link->identity().buildDate;
    m_buildDate->setText(date);
    if (!date.isEmpty())
        m_buildDateTimer->stop();
}

void DeviceInfo::onpressed()
{
    if (m_link->cameraConnected() == 0) {
        Prompt::inform(this, QStringLiteral("相机未连接！"));
        return;
    }
    m_labelTimer->start(1000);
    const QString path = UpgradeStarter::chooseFile(this);
    if (!path.isEmpty())
        UpgradeStarter::start(UpgradeStarter::Variant::DeviceLocal, path, this);
}

void DeviceInfo::onpressed2()
{
    const UpdateConfig config = UpdateConfig::read(UpdateConfig::defaultPath());
    if (config.fileName.isEmpty())
        return;
    const QString path = QFileInfo(UpdateConfig::defaultPath()).dir().filePath(config.fileName);
    UpgradeStarter::start(UpgradeStarter::Variant::DeviceConfigured, path, this);
}
