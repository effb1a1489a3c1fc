#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>

#include "linklock.h"
#include "linkrules.h"
#include "v7k.h"

class QTimer;

// Who the connected camera is, as read after each connect and after each upgrade.
struct CameraIdentity
{
    QByteArray serial;          // owned copy of the serial text; begins with the model word
    QString model;              // the model word ("V7K5", "V7K3", ...)
    QString firmwareVersionText; // major, a point, minor ("4.41")
    QString buildDate;
    int posRecordSize = 0;      // 52 or 32; 0 while unknown
};

// The one owner of the connection to the camera: the three handles of the device library, the
// link's state, the heartbeat, the identity requests and the POS transfer manager. The main
// window and every page observe its signals and read its getters; nothing else writes its state.
class CameraLink : public QObject
{
    Q_OBJECT
public:
    // The process's link, created at start-up.
    static CameraLink *instance();
    explicit CameraLink(QObject *parent = nullptr);
    ~CameraLink() override;

    // ---- Handles (null while there is none) ----
    AkTele *teleHandle() const { return m_teleHandle; }
    v7k_context *deviceHandle() const { return m_deviceHandle; }
    AkUpgrader *upgraderHandle() const { return m_upgraderHandle; }
    // A fresh upgrader from the transport, kept as the link's upgrader (the device page's local
    // upgrade asks for one before it prepares the image).
    AkUpgrader *renewUpgrader();
    // The POS transfer manager of the connected camera; null while not connected, so no page
    // can hold one that outlives its device.
    PosFileManager *posManager() const { return m_connected ? m_posManager : nullptr; }

    // ---- Shared state ----
    bool isConnected() const { return m_connected; }
    int linkKind() const { return m_connected ? 2 : 0; }
    int cameraConnected() const { return m_connected ? 1 : 0; }
    bool identityKnown() const { return m_identityKnown; }
    const CameraIdentity &identity() const { return m_identity; }
    QString firmwareVersionText() const { return m_identity.firmwareVersionText; }
    QByteArray serialText() const { return m_identity.serial; }
    int posRecordSize() const { return m_identity.posRecordSize; }
    // True from every connect until the camera's valid work parameters were handed out.
    bool workParamLoadPending() const { return m_workParamLoadPending; }
    // A firmware upgrade runs: the heartbeat keeps the link while the camera restarts.
    bool upgradeRunning() const { return m_upgradeRunning; }
    void setUpgradeRunning(bool running);
    void setUpgradeProgress(int percent) { m_upgradeProgress = percent; }

    // A status from the camera arrived since the last connect or upgrade, and the firmware
    // generation that gives its bits their meaning is known: only then is it worth showing.
    bool statusCurrent() const;

    // ---- The link ----
    int openLink();
    int closeLink();
    // Connect as the operator asked: takes the link lock, starts the link, then learns the WiFi
    // name off the GUI thread; ends in connected() or connectRefused().
    void connectCamera();
    // The operator's disconnect: releases the handles.
    void disconnectCamera();
    // After a successful upgrade the camera restarts: read its identity and status afresh.
    void cameraRestarted();

    // The state word of the device context; each returns -1 without a device.
    int newPosData() const;
    int clearNewPosData();
    int gpsHardwareOk() const;
    int posValue() const;

    QTimer *versionTimer() const { return m_versionTimer; }
    QTimer *heartbeatTimer() const { return m_heartbeatTimer; }
    QTimer *tickTimer() const { return m_tickTimer; }
    const LinkHeartbeat &heartbeat() const { return m_heartbeat; }

    // For tests and screenshots without a camera: a device context supplied by the caller,
    // shown as a connected camera whose identity and status are known.
    void setDeviceHandleForTesting(v7k_context *device);

signals:
    void connected(const QString &networkName);
    // The connect attempt stopped at the network check; message is the operator's text.
    void connectRefused(const QString &message);
    // Every way the link went down; a loss announces linkLost() right after.
    void disconnected();
    void linkLost(bool duringTransfer);
    // Lost because another program on this computer talks to the camera now (in place of
    // linkLost()).
    void cameraTaken(const QString &program, qint64 pid);
    void identityChanged(const CameraIdentity &identity);
    // Every 500 ms while connected, once the status is current.
    void statusRefreshed(const v7k_context &context);
    // The first valid work parameters of this run.
    void workParamsArrived(const WorkParam &param);

public slots:
    void onTimeout();       // identity requests
    void onTimeoutcheck();  // heartbeat
    void onTick();          // status refresh

private:
    void networkKnown(int status, const QString &name);
    void beginSession();
    void endSession();
    void forgetIdentity();
    void stopPosTransfer();
    void letGo();
    void announceLoss(bool duringTransfer);

    AkTele *m_teleHandle = nullptr;
    v7k_context *m_deviceHandle = nullptr;
    AkUpgrader *m_upgraderHandle = nullptr;
    PosFileManager *m_posManager = nullptr;
    QTimer *m_versionTimer = nullptr;
    QTimer *m_heartbeatTimer = nullptr;
    QTimer *m_tickTimer = nullptr;
    LinkHeartbeat m_heartbeat;
    LinkLock m_lock;

    bool m_connected = false;
    bool m_connecting = false;
    bool m_identityKnown = false;
    bool m_testContext = false;
    CameraIdentity m_identity;
    uint32_t m_statusBaseline = 0;
    bool m_workParamLoadPending = true;
    bool m_upgradeRunning = false;
    int m_upgradeProgress = 0;
};

Q_DECLARE_METATYPE(CameraIdentity)
