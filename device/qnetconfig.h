#pragma once

#include <QWidget>

// The link page: owns the three handles of the device library and the connection state changes.
class QNetConfig : public QWidget
{
    Q_OBJECT
public:
    static QNetConfig *instance();

    void *teleHandle() const { return m_teleHandle; }
    void *deviceHandle() const { return m_deviceHandle; }
    void *upgraderHandle() const { return m_upgraderHandle; }

    // For the simulator-free tests and screenshots: a device context supplied by the caller.
    void setDeviceHandleForTesting(void *device) { m_deviceHandle = device; }

private:
    explicit QNetConfig(QWidget *parent = nullptr);

    void *m_teleHandle = nullptr;
    void *m_deviceHandle = nullptr;
    void *m_upgraderHandle = nullptr;
};
