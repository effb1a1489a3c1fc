#include "cameralink.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <cstring>

#include "wifiname.h"
#include "workerthread.h"

Q_LOGGING_CATEGORY(lcLink, "v7.link", QtWarningMsg)

namespace {
// The address and port of the camera on its own WiFi network; V7_CAMERA_ADDRESS overrides them
// inside the library (the demo and the tests use a simulator on loopback).
const char *const kCameraAddress = "192.168.123.123";
constexpr int kCameraPort = 8899;
constexpr int kBufferSize = 4096;
constexpr int kTickMs = 500;
constexpr int kHeartbeatMs = 5000;
constexpr int kIdentityPollMs = 500;

QByteArray fixedText(const char *text, size_t size)
{
    return QByteArray(text, int(qstrnlen(text, uint(size))));
}
CameraIdentity identityOf(const v7k_context &d)
{
    CameraIdentity identity;
    identity.serial = fixedText(d.serial, sizeof d.serial);
    identity.model = QString::fromLatin1(identity.serial.left(4));
    identity.firmwareVersionText = QStringLiteral("%1.%2").arg(d.firmwareMajor).arg(d.firmwareMinor);
    // A date shorter than five characters is not a date yet; the link keeps asking for it.
    const QByteArray date = fixedText(d.buildDate, sizeof d.buildDate);
    if (date.size() >= 5)
        identity.buildDate = QString::fromLatin1(date);
    identity.posRecordSize = v7k_pos_record_size(identity.serial.constData());
    return identity;
}
} // namespace

CameraLink *CameraLink::instance()
{
    static CameraLink *link = new CameraLink();
    return link;
}

CameraLink::CameraLink(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<CameraIdentity>();
    m_versionTimer = new QTimer(this);
    connect(m_versionTimer, &QTimer::timeout, this, &CameraLink::onTimeout);
    m_heartbeatTimer = new QTimer(this);
    connect(m_heartbeatTimer, &QTimer::timeout, this, &CameraLink::onTimeoutcheck);
    m_tickTimer = new QTimer(this);
    connect(m_tickTimer, &QTimer::timeout, this, &CameraLink::onTick);
    m_tickTimer->start(kTickMs);
}

CameraLink::~CameraLink()
{
    if (!m_testContext)
        closeLink();
}

AkUpgrader *CameraLink::renewUpgrader()
{
    if (m_teleHandle)
        m_upgraderHandle = akupgrader_request(m_teleHandle, AKUPGRADER_CODE_FIRMWARE);
    return m_upgraderHandle;
}

void CameraLink::setUpgradeRunning(bool running)
{
    m_upgradeRunning = running;
    if (!running)
        m_upgradeProgress = 0;
}

bool CameraLink::statusCurrent() const
{
    if (!m_connected || !m_deviceHandle)
        return false;
    if (m_deviceHandle->firmwareMajor == 0 && m_deviceHandle->firmwareMinor == 0)
        return false;
    const uint32_t count = __atomic_load_n(&m_deviceHandle->statusCount, __ATOMIC_ACQUIRE);
    return count != m_statusBaseline;
}

int CameraLink::openLink()
{
    if (!m_teleHandle) {
        aktele_module_init();
        aktele_set_thread_start(&WorkerThread::prepare);
        m_teleHandle = aktele_alloc(AKTELE_KIND_UDP, kCameraAddress, kCameraPort, kBufferSize);
    }
    if (!m_deviceHandle && m_teleHandle)
        m_deviceHandle = v7k_alloc(m_teleHandle);
    if (!m_teleHandle || !m_deviceHandle)
        return -1;
    aktele_start(m_teleHandle);
    m_versionTimer->start(kIdentityPollMs);
    renewUpgrader();
    return 0;
}

int CameraLink::closeLink()
{
    if (!m_teleHandle)
        return -1;
    stopPosTransfer();
    // The manager lives inside the device; nobody may reach it once the device is gone.
    m_posManager = nullptr;
    m_identityKnown = false;
    aktele_stop(m_teleHandle);
    m_lock.release();
    aktele_free(m_teleHandle);
    if (m_deviceHandle)
        v7k_free(m_deviceHandle);
    aktele_module_exit();
    m_teleHandle = nullptr;
    m_deviceHandle = nullptr;
    m_upgraderHandle = nullptr;
    return 0;
}

void CameraLink::connectCamera()
{
    if (m_connected || m_connecting)
        return;
    if (m_lock.acquire() == LinkLock::Held) {
        const LinkLock::Holder &holder = m_lock.holder();
        emit connectRefused(holder.known() ? QStringLiteral("相机正被%1（进程%2）使用，请先关闭它！")
                                                 .arg(holder.program)
                                                 .arg(holder.pid)
                                           : QStringLiteral("相机正被其他程序使用，请先关闭它！"));
        return;
    }
    if (openLink() == -1) {
        m_lock.release();
        return;
    }
    m_connecting = true;
    // NetworkManager may take seconds to answer, or not answer at all: ask off the GUI thread.
    QPointer<CameraLink> self(this);
    QThread *lookup = WorkerThread::create("wifi lookup", [self] {
        const WifiName::Result wifi = WifiName::query();
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(), [self, wifi] {
                if (self)
                    self->networkKnown(wifi.status, wifi.ssid);
            },
            Qt::QueuedConnection);
    });
    connect(lookup, &QThread::finished, lookup, &QObject::deleteLater);
    lookup->start();
}

void CameraLink::networkKnown(int status, const QString &name)
{
    m_connecting = false;
    if (!m_deviceHandle)
        return; // disconnected meanwhile
    switch (LinkRules::classify(status, name)) {
    case LinkRules::Network::NotOnWifi:
        letGo();
        emit connectRefused(QStringLiteral("未连接WIFI!"));
        return;
    case LinkRules::Network::NotCamera:
        letGo();
        emit connectRefused(QStringLiteral("请连接V7相机的WIFI！"));
        return;
    case LinkRules::Network::Camera:
    case LinkRules::Network::Unconfirmed:
        break;
    }
    beginSession();
    emit connected(name);
}

// Every connect reads everything the first connect reads: another camera, or this one with
// other firmware, may answer on the same address.
void CameraLink::beginSession()
{
    m_connected = true;
    m_workParamLoadPending = true;
    m_posManager = posfile_manager_init(m_deviceHandle->posfileArg);
    forgetIdentity();
    m_heartbeat.reset();
    m_heartbeatTimer->start(kHeartbeatMs);
}

void CameraLink::forgetIdentity()
{
    m_identityKnown = false;
    m_identity = CameraIdentity();
    m_statusBaseline = __atomic_load_n(&m_deviceHandle->statusCount, __ATOMIC_ACQUIRE);
    v7k_forget_identity(m_deviceHandle);
    m_versionTimer->start(kIdentityPollMs);
    emit identityChanged(m_identity);
}

void CameraLink::endSession()
{
    m_connected = false;
    m_connecting = false;
    m_heartbeatTimer->stop();
    m_heartbeat.reset();
}

// Not connected: nothing of ours may ask the camera any more, or its status would come back here,
// away from the program that connects next. The handles stay for the next connect.
void CameraLink::letGo()
{
    m_versionTimer->stop();
    if (m_teleHandle)
        aktele_stop(m_teleHandle);
    m_lock.release();
}

// Which program took the camera is read from /proc, off the GUI thread; the pages already show
// the link down meanwhile.
void CameraLink::announceLoss(bool duringTransfer)
{
    QPointer<CameraLink> self(this);
    QThread *lookup = WorkerThread::create("link loss", [self, duringTransfer] {
        const LinkLock::Holder taker = LinkLock::otherTalker();
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(), [self, taker, duringTransfer] {
                if (!self)
                    return;
                if (taker.known())
                    emit self->cameraTaken(taker.program, taker.pid);
                else
                    emit self->linkLost(duringTransfer);
            },
            Qt::QueuedConnection);
    });
    connect(lookup, &QThread::finished, lookup, &QObject::deleteLater);
    lookup->start();
}

void CameraLink::stopPosTransfer()
{
    // A download cannot outlive its link: the pages lose the manager with the link, so its
    // tables are closed here with what arrived.
    if (m_posManager &&
        (m_posManager->activity == POSFILE_ACTIVITY_TRANSFER || m_posManager->file != nullptr))
        posfile_file_cancelRequest(m_posManager);
}

void CameraLink::disconnectCamera()
{
    if (!m_connected)
        return;
    if (closeLink() == -1)
        return;
    endSession();
    emit disconnected();
}

void CameraLink::cameraRestarted()
{
    if (!m_deviceHandle)
        return;
    if (m_posManager)
        m_posManager->activity = POSFILE_ACTIVITY_IDLE;
    m_heartbeat.reset();
    forgetIdentity();
}

int CameraLink::newPosData() const
{
    return m_deviceHandle ? int(m_deviceHandle->state & V7K_STATE_NEW_POS) : -1;
}

int CameraLink::clearNewPosData()
{
    return m_deviceHandle ? v7k_clear_state(m_deviceHandle, V7K_STATE_NEW_POS) : -1;
}

int CameraLink::gpsHardwareOk() const
{
    return m_deviceHandle ? int((m_deviceHandle->state & V7K_STATE_GPS_GOOD) >> 1) : -1;
}

int CameraLink::posValue() const
{
    return m_deviceHandle ? int(m_deviceHandle->posValue) : -1;
}

void CameraLink::onTimeout()
{
    v7k_context *d = m_deviceHandle;
    if (!d || m_testContext)
        return;
    if (d->firmwareMajor == 0 && d->firmwareMinor == 0) {
        v7k_get_version(d);
        return;
    }
    if (!m_identityKnown) {
        m_identity = identityOf(*d);
        m_identityKnown = true;
        qCDebug(lcLink) << "camera" << m_identity.serial << m_identity.firmwareVersionText;
        emit identityChanged(m_identity);
    }
    const CameraIdentity now = identityOf(*d);
    if (now.buildDate.isEmpty()) {
        v7k_get_builddate(d);
        return;
    }
    m_versionTimer->stop();
    if (now.buildDate != m_identity.buildDate) {
        m_identity.buildDate = now.buildDate;
        emit identityChanged(m_identity);
    }
}

void CameraLink::onTimeoutcheck()
{
    // A beat already queued when the link went down has nothing left to watch.
    if (!m_deviceHandle || !m_connected)
        return;
    PosFileManager *manager = m_posManager;
    LinkHeartbeat::Reading reading;
    reading.receiveIndex = v7k_get_index(m_deviceHandle);
    reading.activity = manager ? int(manager->activity) : -1;
    reading.transferProgress = manager ? manager->progress : 0;
    reading.upgradeWindow = m_upgradeRunning;
    reading.upgradeProgress = m_upgradeProgress;

    const LinkHeartbeat::Verdict verdict = m_heartbeat.check(reading);
    if (verdict == LinkHeartbeat::Verdict::Lost || verdict == LinkHeartbeat::Verdict::LostInTransfer) {
        const bool inTransfer = verdict == LinkHeartbeat::Verdict::LostInTransfer;
        if (inTransfer && manager)
            manager->progress = 0;
        stopPosTransfer();
        // The handles stay: the next connect starts the same transport again.
        endSession();
        letGo();
        emit disconnected();
        announceLoss(inTransfer);
        return;
    }
    m_heartbeat.remember(v7k_get_index(m_deviceHandle));
}

void CameraLink::onTick()
{
    if (!statusCurrent())
        return;
    emit statusRefreshed(*m_deviceHandle);
    if (m_workParamLoadPending && v7k_get_valid(m_deviceHandle) == 1) {
        m_workParamLoadPending = false;
        emit workParamsArrived(v7k_get_work_param(m_deviceHandle));
    }
}

void CameraLink::setDeviceHandleForTesting(v7k_context *device)
{
    m_testContext = device != nullptr;
    m_deviceHandle = device;
    m_connected = device != nullptr;
    if (!device) {
        m_identityKnown = false;
        m_identity = CameraIdentity();
        emit disconnected();
        return;
    }
    m_statusBaseline = device->statusCount - 1;
    m_identity = identityOf(*device);
    m_identityKnown = true;
    emit connected(QStringLiteral("V7K5-0042"));
    emit identityChanged(m_identity);
}
