#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// The real UDisks2 daemon with a bus of its own, and exFAT cards on loop devices mounted with
// the FUSE driver (root only). A udev daemon is started only where none runs; whatever the rig
// started, attached, mounted or wrote, it takes away again, and it touches no device but its own.
class UDisks2Rig
{
public:
    UDisks2Rig();
    ~UDisks2Rig();
    UDisks2Rig(const UDisks2Rig &) = delete;
    UDisks2Rig &operator=(const UDisks2Rig &) = delete;

    // Empty when the rig can run here, else why not (printed as the skip reason).
    static QString unavailableReason();
    // The bus, udevd where needed, and udisksd. Sets DBUS_SYSTEM_BUS_ADDRESS of this process:
    // call before its first use of the system bus.
    bool start(QString *error);
    void stop();

    // A card labelled label with an AVF_INFO folder; returns its mount root. A user's card gets
    // the udev rule that tells UDisks2 it is no system device (every loop device is one to it).
    QString plug(const QString &label, bool userCard, QString *error);
    QString deviceOf(const QString &mountRoot) const;
    // The loop device goes as soon as nothing holds it any more (as a card pulled during the
    // unmount): it is no longer the rig's then.
    bool detachWhenFree(const QString &mountRoot);
    // Where the device is mounted now, from the mount table.
    static QStringList mountPointsOf(const QString &device);
    // The label the device's file system reads, through blkid.
    static QString labelOf(const QString &device);

private:
    struct Card
    {
        QString image, device, mountRoot, rule;
    };
    bool startDaemon(QProcess *process, const QString &program, const QStringList &arguments);
    void takeAway(Card *card);
    void endDaemon(QProcess *process);

    QTemporaryDir m_work;
    QList<Card> m_cards;
    QProcess m_bus, m_udevd, m_udisksd;
    // What did not exist before the rig, so that it goes with it.
    QStringList m_madeFolders;
    bool m_started = false;
    bool m_ownUdevd = false;
};
