// The rule that keeps the formatter off anything but a camera card, on made-up systems (the
// tool's test asks it about this one).
#include <QtTest>

#include <sys/sysmacros.h>

#include "cardrefusal.h"

Q_DECLARE_METATYPE(CardDeviceFacts)

namespace {

const quint64 kCard = ::makedev(8, 17);   // sdb1, the card
const quint64 kCardDisk = ::makedev(8, 16);
const quint64 kSibling = ::makedev(8, 18); // sdb2
const quint64 kSystem = ::makedev(8, 2);   // sda2

// A desktop with its system on sda and a camera card sdb1 mounted at /media/crew/Front.
CardDeviceFacts desktop()
{
    CardDeviceFacts f;
    f.root = f.mountPoint = QStringLiteral("/media/crew/Front");
    f.exists = f.mounted = f.avfInfo = true;
    f.device = QStringLiteral("/dev/sdb1");
    f.fsType = QStringLiteral("exfat");
    f.dev = kCard;
    f.mounts = {{kSystem, QStringLiteral("/dev/sda2"), QStringLiteral("/")},
                {::makedev(8, 1), QStringLiteral("/dev/sda1"), QStringLiteral("/boot/efi")},
                {kCard, f.device, f.root}};
    f.relatives = {kCardDisk};
    return f;
}

} // namespace

class tst_CardRefusal : public QObject
{
    Q_OBJECT
private slots:
    void rule_data();
    void rule();
};

void tst_CardRefusal::rule_data()
{
    QTest::addColumn<CardDeviceFacts>("facts");
    QTest::addColumn<QString>("reason"); // a part of it; empty = may be formatted

    QTest::newRow("a camera card alone on its disk") << desktop() << "";
    CardDeviceFacts f = desktop();
    f.exists = false;
    QTest::newRow("no such folder") << f << "不存在";
    f = desktop();
    f.mounted = false;
    QTest::newRow("a folder that is not a mount point") << f << "不是挂载点";
    f = desktop();
    f.dev = 0;
    f.device = QStringLiteral("tmpfs");
    QTest::newRow("a mount of no block device") << f << "不是块设备";
    f = desktop();
    f.mounts.append({kCard, f.device, QStringLiteral("/home")});
    QTest::newRow("the card's device also backs /home") << f << "承载系统目录 /home";
    f = desktop();
    f.relatives = {kCardDisk, kSystem};
    QTest::newRow("a partition of the system disk") << f << "与系统目录 / 在同一磁盘上";
    f = desktop();
    f.relatives = {kCardDisk, ::makedev(253, 0)};
    f.mounts.append({::makedev(253, 0), QStringLiteral("/dev/mapper/vg-var"), QStringLiteral("/var")});
    QTest::newRow("system mounted from a mapper over the disk") << f << "与系统目录 /var";
    f = desktop();
    f.swaps = {{kCard, f.device, QString()}};
    QTest::newRow("the device is swap") << f << "是交换分区";
    f = desktop();
    f.relatives = {kCardDisk, kSibling};
    f.swaps = {{kSibling, QStringLiteral("/dev/sdb2"), QString()}};
    QTest::newRow("swap on the card's disk") << f << "交换分区 /dev/sdb2";
    f = desktop();
    f.relatives = {kCardDisk, kSibling};
    f.mounts.append({kSibling, QStringLiteral("/dev/sdb2"), QStringLiteral("/media/crew/DATA")});
    QTest::newRow("a second mounted partition") << f << "还挂载着 /dev/sdb2（/media/crew/DATA）";
    f = desktop();
    f.mounts.append({kCard, f.device, QStringLiteral("/srv/photos")});
    QTest::newRow("the card mounted twice") << f << "还挂载在 /srv/photos";
    f = desktop();
    f.relatives = {kCardDisk, kSibling};
    QTest::newRow("an unmounted second partition") << f << "";
    f = desktop();
    f.avfInfo = false;
    QTest::newRow("no AVF_INFO folder") << f << "没有 AVF_INFO";
    f = desktop();
    f.avfInfo = false;
    f.mounts.append({kCard, f.device, QStringLiteral("/")});
    QTest::newRow("the system wins over the missing folder") << f << "承载系统目录 /";
}

void tst_CardRefusal::rule()
{
    QFETCH(CardDeviceFacts, facts);
    QFETCH(QString, reason);
    const QString answer = CardRefusal::reason(facts);
    if (reason.isEmpty())
        QVERIFY2(answer.isEmpty(), qPrintable(answer));
    else
        QVERIFY2(answer.contains(reason), qPrintable(answer));
}

QTEST_GUILESS_MAIN(tst_CardRefusal)
#include "tst_cardrefusal.moc"
