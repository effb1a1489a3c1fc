// The parts of the volume query and the drive watcher that need no devices: the mount table
// parser, the udev record reader and the comparison that turns two lists into events.
#include <QtTest>

#include "blocklabels.h"
#include "drivewatcher.h"
#include "mountinfo.h"

Q_DECLARE_METATYPE(QList<MountedVolume>)

class TestVolumeQuery : public QObject
{
    Q_OBJECT
private slots:
    void mountInfoLine_data();
    void mountInfoLine();
    void udevRecord_data();
    void udevRecord();
    void compare_data();
    void compare();
};

void TestVolumeQuery::mountInfoLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("fsType");
    QTest::addColumn<bool>("blockVolume");

    QTest::newRow("fuse exfat card")
        << QByteArray("44 26 7:0 / /media/crew/Front rw,nosuid,nodev,relatime - fuseblk /dev/loop0 "
                      "rw,user_id=0")
        << true << "/media/crew/Front"
        << "/dev/loop0"
        << "fuseblk" << true;
    QTest::newRow("optional fields before the separator")
        << QByteArray("36 35 98:0 / /mnt1 rw,noatime master:1 shared:7 - ext3 /dev/root rw") << true
        << "/mnt1"
        << "/dev/root"
        << "ext3" << true;
    QTest::newRow("blank and backslash escaped")
        << QByteArray("50 26 8:17 / /media/crew/My\\040Card\\134x rw - exfat /dev/sdb1 rw") << true
        << "/media/crew/My Card\\x"
        << "/dev/sdb1"
        << "exfat" << true;
    QTest::newRow("bind mount of a sub-folder is no volume")
        << QByteArray("52 26 8:17 /DCIM /srv/photos rw - exfat /dev/sdb1 rw") << true
        << "/srv/photos"
        << "/dev/sdb1"
        << "exfat" << false;
    QTest::newRow("virtual file system")
        << QByteArray("24 23 0:22 / /dev/shm rw,relatime - tmpfs tmpfs rw") << true << "/dev/shm"
        << "tmpfs"
        << "tmpfs" << false;
    QTest::newRow("no separator") << QByteArray("24 23 0:22 / /dev/shm rw,relatime tmpfs tmpfs")
                                  << false << ""
                                  << ""
                                  << "" << false;
    QTest::newRow("bad device numbers")
        << QByteArray("24 23 zero / /x rw - ext4 /dev/sda1 rw") << false << ""
        << ""
        << "" << false;
}

void TestVolumeQuery::mountInfoLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, parsed);
    // A good line before and after: a bad one in the middle must not take them along.
    const QByteArray text = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n" + line +
                            "\n99 1 8:2 / /boot rw - ext4 /dev/sda2 rw\n";
    const QList<MountInfoEntry> entries = MountInfo::parse(text);
    QCOMPARE(entries.size(), parsed ? 3 : 2);
    QCOMPARE(entries.first().mountPoint, QStringLiteral("/"));
    QCOMPARE(entries.last().mountPoint, QStringLiteral("/boot"));
    if (!parsed)
        return;
    const MountInfoEntry &entry = entries.at(1);
    QTEST(entry.mountPoint, "mountPoint");
    QTEST(entry.source, "source");
    QTEST(entry.fsType, "fsType");
    QTEST(MountInfo::isBlockVolume(entry), "blockVolume");
}

void TestVolumeQuery::udevRecord_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("uuid");

    QTest::newRow("exfat card") << QByteArray("S:disk/by-label/Front\nE:ID_FS_LABEL=Front\n"
                                              "E:ID_FS_LABEL_ENC=Front\nE:ID_FS_UUID=1A2B-3C4D\n"
                                              "E:ID_FS_TYPE=exfat\n")
                                << true << "Front"
                                << "1A2B-3C4D";
    QTest::newRow("encoded form keeps the blank")
        << QByteArray("E:ID_FS_LABEL=Front_Card\nE:ID_FS_LABEL_ENC=Front\\x20Card\n") << true
        << "Front Card"
        << "";
    QTest::newRow("encoded UTF-8 bytes")
        << QByteArray("E:ID_FS_LABEL_ENC=\\xe5\\x89\\x8dFront\n") << true
        << QString::fromUtf8("\xe5\x89\x8d"
                             "Front")
        << "";
    QTest::newRow("no file system keys")
        << QByteArray("E:ID_BUS=usb\nE:DEVTYPE=partition\n") << false << ""
        << "";
}

void TestVolumeQuery::udevRecord()
{
    QFETCH(QByteArray, record);
    const BlockLabels labels = BlockLabelReader::fromUdevRecord(record);
    QTEST(labels.found, "found");
    QTEST(labels.label, "label");
    QTEST(labels.uuid, "uuid");
}

static MountedVolume volume(const char *root, const char *label, const char *uuid = "")
{
    MountedVolume v;
    v.mountRoot = QString::fromUtf8(root);
    v.label = QString::fromUtf8(label);
    v.uuid = QString::fromUtf8(uuid);
    v.device = QStringLiteral("/dev/x");
    return v;
}

void TestVolumeQuery::compare_data()
{
    QTest::addColumn<QList<MountedVolume>>("before");
    QTest::addColumn<QList<MountedVolume>>("after");
    QTest::addColumn<QStringList>("events");

    const MountedVolume root = volume("/", "");
    const MountedVolume front = volume("/m/Front", "Front", "1");
    const MountedVolume back = volume("/m/Back", "Back", "2");
    QTest::newRow("nothing changed") << QList{root, front} << QList{root, front} << QStringList{};
    QTest::newRow("one plugged in")
        << QList{root} << QList{root, front} << QStringList{"+/m/Front"};
    QTest::newRow("removals come before additions")
        << QList{root, front} << QList{root, back} << QStringList{"-/m/Front", "+/m/Back"};
    QTest::newRow("another card on the same folder")
        << QList{root, front} << QList{root, volume("/m/Front", "Front", "9")}
        << QStringList{"~/m/Front"};
    QTest::newRow("mounted over: the top one counts")
        << QList{root, front} << QList{root, front, volume("/m/Front", "Back", "2")}
        << QStringList{"~/m/Front"};
    QTest::newRow("top one unmounted, the hidden one shows again")
        << QList{root, front, volume("/m/Front", "Back", "2")} << QList{root, front}
        << QStringList{"~/m/Front"};
}

void TestVolumeQuery::compare()
{
    QFETCH(QList<MountedVolume>, before);
    QFETCH(QList<MountedVolume>, after);
    QStringList events;
    for (const DriveWatcher::Event &event : DriveWatcher::compare(before, after)) {
        const char *mark = event.kind == DriveWatcher::Event::Added     ? "+"
                           : event.kind == DriveWatcher::Event::Removed ? "-"
                                                                        : "~";
        events << QLatin1String(mark) + event.mountRoot;
    }
    QTEST(events, "events");
}

QTEST_GUILESS_MAIN(TestVolumeQuery)
#include "tst_volumequery.moc"
