// Which card is which camera, over cards that really come and go: exFAT loop devices
// (tst_cards_loop, root only) or folders of a V7_MEDIA_ROOT (tst_cards_mediaroot). The drive
// watcher reports them, the volume query describes them, the camera cards assign them.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "cameracards.h"
#include "cardrig.h"
#include "drivewatcher.h"

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
    void labelRule_data();
    void labelRule();
    void keptWithoutMatch();
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
    if (kRig == CardRig::MediaRoot)
        qputenv("V7_MEDIA_ROOT", QFile::encodeName(m_rig->mediaRoot()));
    else
        qunsetenv("V7_MEDIA_ROOT");
}

bool TestCards::seen(QSignalSpy &spy, const QString &root)
{
    for (int turn = 0; turn < 50; ++turn) {
        for (const QList<QVariant> &call : std::as_const(spy)) {
            if (call.value(0).toString() == root)
                return true;
        }
        spy.wait(200);
    }
    return false;
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

void TestCards::keptWithoutMatch()
{
    MountedVolume cards[Cameras::Count];
    cards[0].mountRoot = QStringLiteral("/old/centre");
    MountedVolume left;
    left.label = QStringLiteral("Left");
    left.mountRoot = QStringLiteral("/m/Left");
    CameraCards::assign({left}, cards);
    QCOMPARE(cards[0].mountRoot, QStringLiteral("/old/centre"));
    QCOMPARE(cards[1].mountRoot, QStringLiteral("/m/Left"));
}

void TestCards::pluggedCards_data()
{
    QTest::addColumn<QStringList>("labels");   // plugged in this order
    QTest::addColumn<QStringList>("expected"); // label of each camera's card, engine order

    // Plug orders chosen so that mount order and the media root's name order agree.
    QTest::newRow("five cards") << QStringList{"Back", "Center", "Front", "Left", "Right"}
                                << QStringList{"Center", "Left", "Right", "Front", "Back"};
    QTest::newRow("FRONT_2 is the front card")
        << QStringList{"FRONT_2"} << QStringList{"", "", "", "FRONT_2", ""};
    QTest::newRow("Front and Left in one label: front")
        << QStringList{"Left Front"} << QStringList{"", "", "", "Left Front", ""};
    QTest::newRow("two front cards: the later one")
        << QStringList{"FRONT_2", "Front"} << QStringList{"", "", "", "Front", ""};
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
        roots << m_rig->plug(label, &error);
        QVERIFY2(!roots.last().isEmpty(), qPrintable(error));
        QVERIFY(seen(added, roots.last()));
        const MountedVolume volume = VolumeQuery::volumeAt(roots.last() + QLatin1Char('/'));
        QCOMPARE(volume.label, label);
        QCOMPARE(volume.mountRoot, roots.last());
        QCOMPARE(!volume.uuid.isEmpty() && volume.device.startsWith(QLatin1String("/dev/loop")) &&
                     volume.fsType == QLatin1String("exfat"),
                 kRig == CardRig::Loop);
        QCOMPARE(VolumeQuery::volumeHolding(roots.last() + QStringLiteral("/DCIM")).mountRoot,
                 roots.last());
    }
    // The mount table is the machine's: other programs may plug camera cards meanwhile, so the
    // loop case assigns from this test's own cards only.
    QList<MountedVolume> own;
    for (const MountedVolume &volume : DriveWatcher::instance()->volumes()) {
        if (roots.contains(volume.mountRoot))
            own << volume;
    }
    QCOMPARE(own.size(), roots.size());
    QSignalSpy changed(cards, &CameraCards::cardsChanged);
    if (kRig == CardRig::MediaRoot)
        cards->reassign();
    else
        cards->reassignFrom(own);
    QVERIFY(!changed.isEmpty());
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (expected.at(camera).isEmpty())
            continue;
        QCOMPARE(cards->card(camera).label, expected.at(camera));
        QCOMPARE(cards->root(camera), roots.at(labels.indexOf(expected.at(camera))));
        QVERIFY(cards->present(camera));
    }
    // Pulled: the card keeps its camera, is no longer present, and observers hear of it;
    // plugged again, it is present again.
    const int camera = int(expected.indexOf(labels.last()));
    changed.clear();
    QVERIFY(m_rig->pull(roots.last()));
    QVERIFY(seen(removed, roots.last()));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(cards->root(camera), roots.last());
    QVERIFY(!cards->present(camera));
    QVERIFY(!VolumeQuery::volumeAt(roots.last()).isValid());
    added.clear();
    QVERIFY(m_rig->replug(roots.last()));
    QVERIFY(seen(added, roots.last()));
    QVERIFY(cards->present(camera));
    for (const QString &root : std::as_const(roots)) {
        removed.clear();
        QVERIFY(m_rig->pull(root));
        QVERIFY(seen(removed, root));
    }
}

void TestCards::toolSeesTheSameCards()
{
    if (kRig != CardRig::MediaRoot)
        QSKIP("v7tool reads the whole mount table: checked through a media root only");
    QStringList roots;
    for (const char *label : {"Center", "LeftFront"}) {
        QString error;
        roots << m_rig->plug(QLatin1String(label), &error);
    }
    const QString photos = roots.at(0) + QStringLiteral("/DCIM/100MSDCF");
    QDir().mkpath(photos);
    for (const char *name : {"a.JPG", "b.jpeg", "notes.txt", "pack1.zip"})
        QFile(photos + QLatin1Char('/') + QLatin1String(name)).open(QIODevice::WriteOnly);
    QProcess tool;
    tool.start(QStringLiteral(V7TOOL), {QStringLiteral("cards"), QStringLiteral("--json")});
    QVERIFY(tool.waitForFinished(30000));
    QStringList seenCards;
    for (const QJsonValue &value : QJsonDocument::fromJson(tool.readAllStandardOutput()).array()) {
        const QJsonObject card = value.toObject();
        seenCards << card.value(QStringLiteral("camera")).toString() + QLatin1Char('=') +
                         card.value(QStringLiteral("label")).toString() + QLatin1Char(':') +
                         QString::number(card.value(QStringLiteral("photos")).toInt());
    }
    // In the page's icon order; only the JPEG photos count.
    QCOMPARE(seenCards, (QStringList{"Center=Center:2", "Front=LeftFront:0", "Right=:0", "Left=:0",
                                     "Back=:0"}));
}

QTEST_GUILESS_MAIN(TestCards)
#include "tst_cards.moc"
