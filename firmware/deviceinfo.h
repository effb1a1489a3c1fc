#pragma once

#include <QWidget>

#include "updateconfig.h"

class QLabel;
class QPushButton;
class QTimer;
class CameraLink;

// The device information page: serial, firmware version and build date of the connected
// camera; offers the firmware shipped with the program when it is newer.
class DeviceInfo : public QWidget
{
    Q_OBJECT
public:
    explicit DeviceInfo(QWidget *parent = nullptr);

    void startStatusTimer(int ms);
    void stopStatusTimer();
    void startBuildDateTimer(int ms);
    void hideValueFields();

    QLabel *serialLabel() const { return m_serial; }
    QLabel *versionLabel() const { return m_version; }
    QLabel *buildDateLabel() const { return m_buildDate; }
    QTimer *statusTimer() const { return m_statusTimer; }
    QTimer *labelTimer() const { return m_labelTimer; }
    QTimer *buildDateTimer() const { return m_buildDateTimer; }
    const QString &configuredVersion() const { return m_configuredVersion; }

    // The question asked when the shipped firmware is newer; empty when none is due.
    static QString upgradeQuestion(const QString &configured, const QString &camera);

signals:
    // The upgrade question is about to be asked: the window holding the link settings, if open,
    // steps aside (the main window owns it).
    void upgradeOffered();

public slots:
    void onTimeout();
    void onTimeout1();
    void onTimeout2();
    void onpressed();
    void onpressed2();

private:
    void publish();
    // The camera back in its normal working mode once the page is done with it.
    void restoreWorkMode();

    CameraLink *m_link = nullptr;
    QLabel *m_serial = nullptr;
    QLabel *m_version = nullptr;
    QLabel *m_buildDate = nullptr;
    QLabel *m_releaseDate = nullptr;
    QList<QLabel *> m_values;
    QPushButton *m_update = nullptr;
    QString m_configuredVersion;
    QTimer *m_statusTimer = nullptr;
    QTimer *m_labelTimer = nullptr;
    QTimer *m_buildDateTimer = nullptr;
};
