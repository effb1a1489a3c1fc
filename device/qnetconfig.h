#pragma once

#include <QWidget>

#include "linkrules.h"
#include "v7k.h"

class QLabel;
class QTimer;
class Mylabel;

// The link page: brings the WiFi link to the camera up and down, owns the three handles of the
// device library and watches the link with a heartbeat.
class QNetConfig : public QWidget
{
    Q_OBJECT
public:
    static QNetConfig *instance();

    AkTele *teleHandle() const { return m_teleHandle; }
    v7k_context *deviceHandle() const { return m_deviceHandle; }
    AkUpgrader *upgraderHandle() const { return m_upgraderHandle; }
    void setUpgraderHandle(AkUpgrader *handle) { m_upgraderHandle = handle; }

    int openLink();
    // After an upgrade the camera restarts: ask for its version again until it answers, and
    // let the heartbeat start its comparison afresh.
    void restartVersionRequests();
    int closeLink();

    // The state word of the device context; each returns -1 without a device.
    int newPosData() const;
    int clearNewPosData();
    int gpsHardwareOk() const;
    int posValue() const;

    QTimer *versionTimer() const { return m_versionTimer; }
    QTimer *heartbeatTimer() const { return m_heartbeatTimer; }
    const LinkHeartbeat &heartbeat() const { return m_heartbeat; }
    QLabel *stateLabel() const { return m_state; }
    QLabel *networkLabel() const { return m_network; }
    Mylabel *buttonText() const { return m_buttonText; }

    // For tests and screenshots without a camera: a device context supplied by the caller.
    void setDeviceHandleForTesting(void *device) { m_deviceHandle = static_cast<v7k_context *>(device); }

public slots:
    void onTimeout();
    void onTimeoutcheck();
    void onClicked();
    void onenterEvent();
    void onleaveEvent();

private:
    explicit QNetConfig(QWidget *parent = nullptr);
    void showNotConnected();
    void enterDisconnectedState();

    AkTele *m_teleHandle = nullptr;
    v7k_context *m_deviceHandle = nullptr;
    AkUpgrader *m_upgraderHandle = nullptr;
    QTimer *m_versionTimer = nullptr;
    QTimer *m_heartbeatTimer = nullptr;
    LinkHeartbeat m_heartbeat;

    QLabel *m_caption = nullptr;     // label_6
    QLabel *m_state = nullptr;       // label_9
    QLabel *m_network = nullptr;     // label_7
    Mylabel *m_buttonImage = nullptr;
    Mylabel *m_buttonText = nullptr;
};
