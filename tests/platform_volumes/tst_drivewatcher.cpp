// The drive watcher and the volume query against cards that really come and go: exFAT images
// on loop devices (built as tst_drivewatcher_loop, root only) or folders of a V7_MEDIA_ROOT
// (tst_drivewatcher_mediaroot).
#include <QtTest>

#include "cardrig.h"
#include "drivewatcher.h"
#include "volumequery.h"

#ifdef V7_RIG_LOOP
constexpr CardRig::Kind kRig = CardRig::Loop;
#else
constexpr CardRig::Kind kRig = CardRig::MediaRoot;
#endif

class TestDriveWatcher : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void plugAndPull_data();
    void plugAndPull();
    void volumeHoldingPath();

private:
    // Waits until spy saw root (other mounts of the machine may come and go meanwhile).
    static bool waitFor(QSignalSpy &spy, const QString &root);
    std::unique_ptr<CardRig> m_rig;
};

void TestDriveWatcher::initTestCase()
{
    const QString reason = CardRig::unavailableReason(kRig);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_rig = std::make_unique<CardRig>(kRig);
    if (kRig == CardRig::MediaRoot)
        qputenv("V7_MEDIA_ROOT", QFile::encodeName(m_rig->mediaRoot()));
    else
        qunsetenv("V7_MEDIA_ROOT");
    QCOMPARE(VolumeQuery::backendName(),
             kRig == CardRig::MediaRoot ? QStringLiteral("media root")
                                        : QStringLiteral("mount table"));
    QVERIFY(DriveWatcher::instance()->isRunning());
}

bool TestDriveWatcher::waitFor(QSignalSpy &spy, const QString &root)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        for (const QList<QVariant> &call : std::as_const(spy)) {
            if (call.value(0).toString() == root)
                return true;
        }
        spy.wait(200);
    }
    return false;
}

void TestDriveWatcher::plugAndPull_data()
{
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("one card") << QStringList{"Front"};
    QTest::newRow("five cards") << QStringList{"Center", "Front", "Right", "Left", "Back"};
    QTest::newRow("label with a blank") << QStringList{"Back Card"};
    QTest::newRow("label in Chinese") << QStringList{QStringLiteral("后视")};
}

void TestDriveWatcher::plugAndPull()
{
    QFETCH(QStringList, labels);
    DriveWatcher *watcher = DriveWatcher::instance();
    QSignalSpy added(watcher, &DriveWatcher::deviceAdded);
    QSignalSpy removed(watcher, &DriveWatcher::deviceRemoved);

    QStringList roots;
    for (const QString &label : labels) {
        QString error;
        const QString root = m_rig->plug(label, &error);
        QVERIFY2(!root.isEmpty(), qPrintable(error));
        QVERIFY2(waitFor(added, root), qPrintable(root));
        roots << root;
    }
    // Each card listed once, in the order plugged for the mount table, with its label.
    const QList<MountedVolume> volumes = VolumeQuery::mountedVolumes();
    QStringList listedRoots;
    for (const MountedVolume &volume : volumes) {
        if (roots.contains(volume.mountRoot))
            listedRoots << volume.mountRoot;
    }
    QStringList expectedOrder = roots;
    if (kRig == CardRig::MediaRoot)
        std::sort(expectedOrder.begin(), expectedOrder.end());
    QCOMPARE(listedRoots, expectedOrder);
    for (int i = 0; i < roots.size(); ++i) {
        const MountedVolume volume = VolumeQuery::volumeAt(roots.at(i) + QLatin1Char('/'));
        QVERIFY(volume.isValid());
        QCOMPARE(volume.mountRoot, roots.at(i));
        QCOMPARE(volume.label, labels.at(i));
        if (kRig == CardRig::Loop) {
            QVERIFY(volume.device.startsWith(QLatin1String("/dev/loop")));
            QVERIFY(!volume.uuid.isEmpty());
            QCOMPARE(volume.fsType, QStringLiteral("exfat"));
        } else {
            QVERIFY(volume.device.isEmpty());
            QVERIFY(volume.uuid.isEmpty());
        }
        QVERIFY(watcher->volumes().contains(volume));
    }

    for (const QString &root : std::as_const(roots)) {
        QVERIFY(m_rig->pull(root));
        QVERIFY2(waitFor(removed, root), qPrintable(root));
        QVERIFY(!VolumeQuery::volumeAt(root).isValid());
    }
    // A pulled card that comes back is a new arrival.
    added.clear();
    QVERIFY(m_rig->replug(roots.first()));
    QVERIFY(waitFor(added, roots.first()));
    QCOMPARE(VolumeQuery::volumeAt(roots.first()).label, labels.first());
    removed.clear();
    QVERIFY(m_rig->pull(roots.first()));
    QVERIFY(waitFor(removed, roots.first()));
}

void TestDriveWatcher::volumeHoldingPath()
{
    QString error;
    const QString root = m_rig->plug(QStringLiteral("Left"), &error);
    QVERIFY2(!root.isEmpty(), qPrintable(error));
    QDir(root).mkpath(QStringLiteral("DCIM/100MSDCF"));
    const MountedVolume holding =
        VolumeQuery::volumeHolding(QDir(root).filePath(QStringLiteral("DCIM/100MSDCF")));
    QCOMPARE(holding.mountRoot, root);
    QCOMPARE(holding.label, QStringLiteral("Left"));
    // A sibling whose name merely begins like the card's is not on it.
    QVERIFY(VolumeQuery::volumeHolding(root + QStringLiteral("x")).mountRoot != root);
    QVERIFY(m_rig->pull(root));
}

QTEST_GUILESS_MAIN(TestDriveWatcher)
#include "tst_drivewatcher.moc"
