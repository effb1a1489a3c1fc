#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The real UDisks2 daemon on a bus of its own, for cards on loop devices (root only). A udev
// daemon is started only where none runs. Whatever the rig started or wrote, it takes away
// again; it tells the service about no device but those it is given.
class UDisks2Rig
{
public:
    UDisks2Rig() = default;
    ~UDisks2Rig();
    UDisks2Rig(const UDisks2Rig &) = delete;
    UDisks2Rig &operator=(const UDisks2Rig &) = delete;

    // Empty when the rig can run here, else why not (printed as the skip reason).
    static QString unavailableReason();
    // Sets DBUS_SYSTEM_BUS_ADDRESS of this process: call before its first use of the system bus.
    bool start(QString *error);
    void stop();

    // Every loop device is a system device to the service: a user's card gets a udev rule
    // that says otherwise. Returns once the service sees the device so, mounted at mountRoot.
    bool show(const QString &device, const QString &mountRoot, bool userCard, QString *error);

    static QStringList mountPointsOf(const QString &device);
    // Through blkid, not the service: what is on the device now.
    static QString labelOf(const QString &device);

private:
    bool startDaemon(QProcess *process, const QString &program, const QStringList &arguments);

    QTemporaryDir m_logs;
    QProcess m_bus, m_udevd, m_udisksd;
    QStringList m_rules;
    QStringList m_madeFolders; // what did not exist before the rig goes with it
    bool m_started = false;
    bool m_ownUdevd = false;
};
