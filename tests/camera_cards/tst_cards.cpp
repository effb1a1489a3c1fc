// Which card is which camera, over cards that really come and go: exFAT loop devices
// (tst_cards_loop, root only) or folders of a V7_MEDIA_ROOT (tst_cards_mediaroot). The drive
// watcher reports them, the volume query describes them, the camera cards assign them. First
// the parts that need no devices: the mount table parser, the udev record reader and the
// comparison that turns two lists of volumes into events.
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <algorithm>

#include "blocklabels.h"
#include "cameracards.h"
#include "cardrig.h"
#include "drivewatcher.h"
#include "mountinfo.h"
#include "testtools.h"

Q_DECLARE_METATYPE(QList<MountedVolume>)

#ifdef V7_RIG_LOOP
constexpr CardRig::Kind kRig = CardRig::Loop;
#else
constexpr CardRig::Kind kRig = CardRig::MediaRoot;
#endif

class TestCards : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void mountInfoLine_data();
    void mountInfoLine();
    void udevRecord_data();
    void udevRecord();
    void compare_data();
    void compare();
    void labelRule_data();
    void labelRule();
    void pluggedCards_data();
    void pluggedCards();
    void toolSeesTheSameCards();

private:
    // Waits until spy has seen root (other cards of the machine may come and go meanwhile).
    static bool seen(QSignalSpy &spy, const QString &root);
    QString m_skip;
    std::unique_ptr<CardRig> m_rig;
};

void TestCards::initTestCase()
{
    m_skip = CardRig::unavailableReason(kRig);
    if (!m_skip.isEmpty()) {
        qInfo("plugged-card cases skipped: %s", qPrintable(m_skip));
        return;
    }
    m_rig = std::make_unique<CardRig>(kRig);
    qputenv("V7_MEDIA_ROOT", kRig == CardRig::Loop ? QByteArray()
                                                   : QFile::encodeName(m_rig->mediaRoot()));
}

bool TestCards::seen(QSignalSpy &spy, const QString &root)
{
    return QTest::qWaitFor(
        [&] {
            return std::any_of(spy.cbegin(), spy.cend(), [&](const QList<QVariant> &call) {
                return call.value(0).toString() == root;
            });
        },
        10000);
}

void TestCards::mountInfoLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("entry"); // mount point, source, type, "volume"; empty: refused

    QTest::newRow("fuse exfat card")
        << QByteArray("44 26 7:0 / /media/crew/Front rw,nosuid - fuseblk /dev/loop0 rw,user_id=0")
        << QStringList{"/media/crew/Front", "/dev/loop0", "fuseblk", "volume"};
    QTest::newRow("optional fields before the separator")
        << QByteArray("36 35 98:0 / /mnt1 rw,noatime master:1 shared:7 - ext3 /dev/root rw")
        << QStringList{"/mnt1", "/dev/root", "ext3", "volume"};
    QTest::newRow("blank and backslash escaped")
        << QByteArray("50 26 8:17 / /media/crew/My\\040Card\\134x rw - exfat /dev/sdb1 rw")
        << QStringList{"/media/crew/My Card\\x", "/dev/sdb1", "exfat", "volume"};
    QTest::newRow("bind mount of a sub-folder is no volume")
        << QByteArray("52 26 8:17 /DCIM /srv/photos rw - exfat /dev/sdb1 rw")
        << QStringList{"/srv/photos", "/dev/sdb1", "exfat", ""};
    QTest::newRow("virtual file system")
        << QByteArray("24 23 0:22 / /dev/shm rw,relatime - tmpfs tmpfs rw")
        << QStringList{"/dev/shm", "tmpfs", "tmpfs", ""};
    QTest::newRow("no separator")
        << QByteArray("24 23 0:22 / /dev/shm rw,relatime tmpfs tmpfs") << QStringList{};
    QTest::newRow("bad device numbers")
        << QByteArray("24 23 zero / /x rw - ext4 /dev/sda1 rw") << QStringList{};
}

void TestCards::mountInfoLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, entry);
    // A good line before and after: a bad one in the middle must not take them along.
    const QList<MountInfoEntry> entries = MountInfo::parse(
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n" + line + "\n99 1 8:2 / /boot rw - ext4 /dev/sda2 rw\n");
    QCOMPARE(entries.size(), entry.isEmpty() ? 2 : 3);
    QCOMPARE(entries.first().mountPoint, QStringLiteral("/"));
    QCOMPARE(entries.last().mountPoint, QStringLiteral("/boot"));
    if (entry.isEmpty())
        return;
    const MountInfoEntry &e = entries.at(1);
    QCOMPARE((QStringList{e.mountPoint, e.source, e.fsType,
                          MountInfo::isBlockVolume(e) ? "volume" : ""}),
             entry);
}

void TestCards::udevRecord_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("label"); // "-": no file system keys found
    QTest::addColumn<QString>("uuid");

    QTest::newRow("exfat card") << QByteArray("S:disk/by-label/Front\nE:ID_FS_LABEL=Front\n"
                                              "E:ID_FS_LABEL_ENC=Front\nE:ID_FS_UUID=1A2B-3C4D\n"
                                              "E:ID_FS_TYPE=exfat\n")
                                << "Front" << "1A2B-3C4D";
    QTest::newRow("encoded form keeps the blank")
        << QByteArray("E:ID_FS_LABEL=Front_Card\nE:ID_FS_LABEL_ENC=Front\\x20Card\n")
        << "Front Card" << "";
    QTest::newRow("encoded UTF-8 bytes") << QByteArray("E:ID_FS_LABEL_ENC=\\xe5\\x89\\x8dFront\n")
                                         << QString::fromUtf8("\xe5\x89\x8d" "Front") << "";
    QTest::newRow("no file system keys")
        << QByteArray("E:ID_BUS=usb\nE:DEVTYPE=partition\n") << "-" << "";
}

void TestCards::udevRecord()
{
    QFETCH(QByteArray, record);
    QFETCH(QString, label);
    const BlockLabels labels = BlockLabelReader::fromUdevRecord(record);
    QCOMPARE(labels.found, label != QLatin1String("-"));
    QCOMPARE(labels.label, labels.found ? label : QString());
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

void TestCards::compare_data()
{
    QTest::addColumn<QList<MountedVolume>>("before");
    QTest::addColumn<QList<MountedVolume>>("after");
    QTest::addColumn<QStringList>("events");

    const MountedVolume root = volume("/", "");
    const MountedVolume front = volume("/m/Front", "Front", "1");
    const MountedVolume over = volume("/m/Front", "Back", "2");
    QTest::newRow("nothing changed") << QList{root, front} << QList{root, front} << QStringList{};
    QTest::newRow("removals come before additions")
        << QList{root, front} << QList{root, volume("/m/Back", "Back", "2")}
        << QStringList{"-/m/Front", "+/m/Back"};
    QTest::newRow("another card on the same folder")
        << QList{root, front} << QList{root, volume("/m/Front", "Front", "9")}
        << QStringList{"~/m/Front"};
    QTest::newRow("mounted over: the top one counts")
        << QList{root, front} << QList{root, front, over} << QStringList{"~/m/Front"};
    QTest::newRow("top one unmounted, the hidden one shows again")
        << QList{root, front, over} << QList{root, front} << QStringList{"~/m/Front"};
}

void TestCards::compare()
{
    QFETCH(QList<MountedVolume>, before);
    QFETCH(QList<MountedVolume>, after);
    QStringList events;
    for (const DriveWatcher::Event &event : DriveWatcher::compare(before, after))
        events << QLatin1String(event.kind == DriveWatcher::Event::Added     ? "+"
                                : event.kind == DriveWatcher::Event::Removed ? "-"
                                                                             : "~") +
                      event.mountRoot;
    QTEST(events, "events");
}

void TestCards::labelRule_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("camera"); // centre 0, left 1, right 2, front 3, back 4

    const char *const forms[][3] = {{"Center", "CENTER", "center"},
                                    {"Left", "LEFT", "left"},
                                    {"Right", "right", "RIGHT"},
                                    {"Front", "front", "FRONT"},
                                    {"Back", "back", "BACK"}};
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        for (const char *form : forms[camera])
            QTest::newRow(form) << form << camera;
    }
    QTest::newRow("substring") << "FRONT_2" << 3;
    QTest::newRow("front is tested before left") << "LeftFront" << 3;
    QTest::newRow("centre before back") << "BackCenter" << 0;
    QTest::newRow("back before right") << "rightback" << 4;
    QTest::newRow("right before left") << "LEFT-RIGHT" << 2;
    QTest::newRow("mixed case is none") << "fRONT" << -1;
    QTest::newRow("the POS drive is none") << "VESTRANEPOS" << -1;
}

void TestCards::labelRule()
{
    QFETCH(QString, label);
    QTEST(CameraCards::cameraOfLabel(label), "camera");
}

void TestCards::pluggedCards_data()
{
    QTest::addColumn<QStringList>("labels");   // plugged in this order
    QTest::addColumn<QStringList>("expected"); // label of each camera's card, engine order

    // Plug orders chosen so that mount order and the media root's name order agree. Which label
    // names which camera is the label rule's table; that a later card wins, tst_dataservice's.
    QTest::newRow("five cards") << QStringList{"Back", "Center", "Front", "Left", "Right"}
                                << QStringList{"Center", "Left", "Right", "Front", "Back"};
    // The cameras that no label names keep the cards of the row before, now pulled.
    QTest::newRow("Front and Left in one label: front")
        << QStringList{"Left Front"}
        << QStringList{"Center", "Left", "Right", "Left Front", "Back"};
}

void TestCards::pluggedCards()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    QFETCH(QStringList, labels);
    QFETCH(QStringList, expected);
    CameraCards *cards = CameraCards::instance();
    QSignalSpy added(DriveWatcher::instance(), &DriveWatcher::deviceAdded);
    QSignalSpy removed(DriveWatcher::instance(), &DriveWatcher::deviceRemoved);
    QStringList roots;
    for (const QString &label : labels) {
        QString error;
        const QString root = m_rig->plug(label, &error);
        QVERIFY2(!root.isEmpty(), qPrintable(error));
        QVERIFY(seen(added, root));
        const MountedVolume volume = VolumeQuery::volumeAt(root + QLatin1Char('/'));
        QCOMPARE(volume.label + QLatin1Char('@') + volume.mountRoot, label + '@' + root);
        QCOMPARE(!volume.uuid.isEmpty() && volume.device.startsWith(QLatin1String("/dev/loop")) &&
                     volume.fsType == QLatin1String("exfat"),
                 kRig == CardRig::Loop);
        QCOMPARE(VolumeQuery::volumeHolding(root + QStringLiteral("/DCIM")).mountRoot, root);
        roots << root;
    }
    // Other programs may plug camera cards meanwhile: the loop case assigns from this test's
    // own cards only.
    QList<MountedVolume> own;
    for (const MountedVolume &volume : DriveWatcher::instance()->volumes()) {
        if (roots.contains(volume.mountRoot))
            own << volume;
    }
    QCOMPARE(own.size(), roots.size());
    QSignalSpy changed(cards, &CameraCards::cardsChanged);
    kRig == CardRig::MediaRoot ? cards->reassign() : cards->reassignFrom(own);
    QVERIFY(!changed.isEmpty());
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const int plugged = int(labels.indexOf(expected.at(camera)));
        QCOMPARE(cards->card(camera).label, expected.at(camera));
        QCOMPARE(cards->present(camera), plugged >= 0);
        if (plugged >= 0)
            QCOMPARE(cards->root(camera), roots.at(plugged));
    }
    // Pulled: the card keeps its camera, is no longer present, and observers hear of it;
    // plugged again, it is present again. At the end every card is pulled and reported.
    const int camera = int(expected.indexOf(labels.last()));
    changed.clear();
    QVERIFY(m_rig->pull(roots.last()) && seen(removed, roots.last()));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(cards->root(camera), roots.last());
    QVERIFY(!cards->present(camera) && !VolumeQuery::volumeAt(roots.last()).isValid());
    added.clear();
    QVERIFY(m_rig->replug(roots.last()) && seen(added, roots.last()));
    QVERIFY(cards->present(camera));
    for (const QString &root : std::as_const(roots)) {
        removed.clear();
        QVERIFY(m_rig->pull(root) && seen(removed, root));
    }
}

void TestCards::toolSeesTheSameCards()
{
    if (kRig != CardRig::MediaRoot)
        QSKIP("v7tool reads the whole mount table: checked through a media root only");
    QString error;
    const QString centre = m_rig->plug("Center", &error);
    QVERIFY(!centre.isEmpty() && !m_rig->plug("LeftFront", &error).isEmpty());
    const QString photos = centre + QStringLiteral("/DCIM/100MSDCF");
    QVERIFY(QDir().mkpath(photos));
    for (const char *name : {"a.JPG", "b.jpeg", "notes.txt", "pack1.zip"})
        QFile(photos + QLatin1Char('/') + QLatin1String(name)).open(QIODevice::WriteOnly);
    QStringList seenCards;
    const ToolRun tool = runTool(V7TOOL, {QStringLiteral("cards"), QStringLiteral("--json")});
    for (const QJsonValue &value : QJsonDocument::fromJson(tool.out).array())
        seenCards << QStringLiteral("%1=%2:%3").arg(value["camera"].toString(),
                                                    value["label"].toString(),
                                                    QString::number(value["photos"].toInt()));
    // In the page's icon order; only the JPEG photos count.
    QCOMPARE(seenCards, (QStringList{"Center=Center:2", "Front=LeftFront:0", "Right=:0", "Left=:0",
                                     "Back=:0"}));
}

QTEST_GUILESS_MAIN(TestCards)
#include "tst_cards.moc"
