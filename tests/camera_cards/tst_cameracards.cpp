// Which card is which camera: the label rule as a table, then the same rule over cards that are
// really plugged in, exFAT loop devices (tst_cameracards_loop, root only) or media-root folders
// (tst_cameracards_mediaroot).
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

namespace {

// Engine numbers by name, for readable tables.
int cameraNamed(const QString &name)
{
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        if (name == QLatin1String(Cameras::folderName(camera)))
            return camera;
    }
    return -1;
}

bool waitForRoot(QSignalSpy &spy, const QString &root)
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

} // namespace

class TestCameraCards : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void labelRule_data();
    void labelRule();
    void assignment_data();
    void assignment();
    void pluggedCards_data();
    void pluggedCards();
    void presenceFollowsMounts();
    void toolSeesTheSameCards();

private:
    // The volumes of this test's own cards: other programs on the machine may plug cards
    // with camera labels meanwhile, and the mount table is everybody's.
    QList<MountedVolume> ownVolumes() const;
    void reassign();
    std::unique_ptr<CardRig> m_rig;
    QString m_skip;
};

void TestCameraCards::initTestCase()
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

QList<MountedVolume> TestCameraCards::ownVolumes() const
{
    QList<MountedVolume> own;
    for (const MountedVolume &volume : DriveWatcher::instance()->volumes()) {
        if (volume.mountRoot.startsWith(m_rig->mediaRoot() + QLatin1Char('/')))
            own << volume;
    }
    return own;
}

void TestCameraCards::reassign()
{
    // A media root is this test's alone: there the cards' own reassignment runs.
    if (kRig == CardRig::MediaRoot)
        CameraCards::instance()->reassign();
    else
        CameraCards::instance()->reassignFrom(ownVolumes());
}

void TestCameraCards::labelRule_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("camera");

    // All fifteen accepted forms.
    for (const char *form : {"Front", "front", "FRONT"})
        QTest::newRow(form) << form << "Front";
    for (const char *form : {"Center", "CENTER", "center"})
        QTest::newRow(form) << form << "Center";
    for (const char *form : {"Back", "back", "BACK"})
        QTest::newRow(form) << form << "Back";
    for (const char *form : {"Right", "right", "RIGHT"})
        QTest::newRow(form) << form << "Right";
    for (const char *form : {"Left", "LEFT", "left"})
        QTest::newRow(form) << form << "Left";
    QTest::newRow("substring") << "FRONT_2" << "Front";
    QTest::newRow("inside a longer name") << "V7K5_LeftCam" << "Left";
    QTest::newRow("front is tested before left") << "LeftFront" << "Front";
    QTest::newRow("centre before back") << "BackCenter" << "Center";
    QTest::newRow("back before right") << "rightback" << "Back";
    QTest::newRow("right before left") << "LEFT-RIGHT" << "Right";
    QTest::newRow("mixed case is none") << "fRONT" << "";
    QTest::newRow("British spelling is none") << "Centre" << "";
    QTest::newRow("POS drive") << "VESTRANEPOS" << "";
    QTest::newRow("empty label") << "" << "";
}

void TestCameraCards::labelRule()
{
    QFETCH(QString, label);
    QFETCH(QString, camera);
    QCOMPARE(CameraCards::cameraOfLabel(label), cameraNamed(camera));
}

static MountedVolume card(const QString &label, const QString &root)
{
    MountedVolume volume;
    volume.label = label;
    volume.mountRoot = root;
    return volume;
}

void TestCameraCards::assignment_data()
{
    QTest::addColumn<QStringList>("before"); // roots by engine number
    QTest::addColumn<QStringList>("labels"); // volumes in query order, root = "/m/" + label
    QTest::addColumn<QStringList>("after");

    const QStringList none(Cameras::Count, QString());
    QTest::newRow("five cards in any order")
        << none << QStringList{"Back", "Left", "Center", "Front", "Right"}
        << QStringList{"/m/Center", "/m/Left", "/m/Right", "/m/Front", "/m/Back"};
    QTest::newRow("two front cards: the later wins")
        << none << QStringList{"FRONT_2", "Front"}
        << QStringList{"", "", "", "/m/Front", ""};
    QTest::newRow("front and left in one label: front only")
        << none << QStringList{"FrontLeft"} << QStringList{"", "", "", "/m/FrontLeft", ""};
    QTest::newRow("unknown labels skipped")
        << none << QStringList{"", "DATA", "Right"} << QStringList{"", "", "/m/Right", "", ""};
    QTest::newRow("a camera with no match keeps its card")
        << QStringList{"/old/c", "/old/l", "", "", ""} << QStringList{"Left"}
        << QStringList{"/old/c", "/m/Left", "", "", ""};
}

void TestCameraCards::assignment()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, labels);
    MountedVolume cards[Cameras::Count];
    for (int camera = 0; camera < Cameras::Count; ++camera)
        cards[camera] = card(QStringLiteral("old"), before.at(camera));
    QList<MountedVolume> volumes;
    for (const QString &label : labels)
        volumes << card(label, QStringLiteral("/m/") + label);
    CameraCards::assign(volumes, cards);
    QStringList after;
    for (const MountedVolume &c : cards)
        after << c.mountRoot;
    QTEST(after, "after");
}

void TestCameraCards::pluggedCards_data()
{
    QTest::addColumn<QStringList>("labels"); // plugged in this order
    QTest::addColumn<QStringList>("expected"); // label of each camera's card by engine number

    // Plug orders chosen so that mount order and the media root's name order agree.
    QTest::newRow("five cards")
        << QStringList{"Back", "Center", "Front", "Left", "Right"}
        << QStringList{"Center", "Left", "Right", "Front", "Back"};
    QTest::newRow("FRONT_2 is the front card") << QStringList{"FRONT_2"}
                                               << QStringList{"", "", "", "FRONT_2", ""};
    QTest::newRow("Front and Left in one label is front only")
        << QStringList{"Left-Front"} << QStringList{"", "", "", "Left-Front", ""};
    QTest::newRow("two front cards: the later one")
        << QStringList{"FRONT_2", "Front"} << QStringList{"", "", "", "Front", ""};
}

void TestCameraCards::pluggedCards()
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
        QVERIFY(waitForRoot(added, root));
        roots << root;
    }
    QSignalSpy changed(cards, &CameraCards::cardsChanged);
    reassign();
    QVERIFY(!changed.isEmpty());
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const QString want = expected.at(camera);
        if (want.isEmpty())
            continue;
        QCOMPARE(cards->card(camera).label, want);
        QCOMPARE(cards->root(camera), roots.at(labels.indexOf(want)));
        QVERIFY(cards->present(camera));
        if (kRig == CardRig::Loop)
            QVERIFY(!cards->card(camera).uuid.isEmpty());
    }
    for (const QString &root : std::as_const(roots)) {
        QVERIFY(m_rig->pull(root));
        QVERIFY(waitForRoot(removed, root));
    }
}

void TestCameraCards::presenceFollowsMounts()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    CameraCards *cards = CameraCards::instance();
    QSignalSpy added(DriveWatcher::instance(), &DriveWatcher::deviceAdded);
    QSignalSpy removed(DriveWatcher::instance(), &DriveWatcher::deviceRemoved);
    QString error;
    const QString root = m_rig->plug(QStringLiteral("Right"), &error);
    QVERIFY2(!root.isEmpty(), qPrintable(error));
    QVERIFY(waitForRoot(added, root));
    reassign();
    const int right = cameraNamed(QStringLiteral("Right"));
    QVERIFY(cards->present(right));
    QCOMPARE(cards->checkPaths().at(2), root); // centre, left, right, back, front

    // A pulled card keeps its assignment but is no longer present, and observers hear of it.
    QSignalSpy changed(cards, &CameraCards::cardsChanged);
    QVERIFY(m_rig->pull(root));
    QVERIFY(waitForRoot(removed, root));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(cards->root(right), root);
    QVERIFY(!cards->present(right));
    QCOMPARE(cards->checkPaths().at(2), QString());

    added.clear();
    QVERIFY(m_rig->replug(root));
    QVERIFY(waitForRoot(added, root));
    QCOMPARE(changed.size(), 2);
    QVERIFY(cards->present(right));
    removed.clear();
    QVERIFY(m_rig->pull(root));
    QVERIFY(waitForRoot(removed, root));
}

void TestCameraCards::toolSeesTheSameCards()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    if (kRig != CardRig::MediaRoot)
        QSKIP("v7tool reads the whole mount table: checked through a media root only");
    // Three cards with photos under DCIM, one without a DCIM folder.
    QStringList roots;
    for (const char *label : {"Center", "LeftFront", "Back"}) {
        QString error;
        roots << m_rig->plug(QLatin1String(label), &error);
        QVERIFY2(!roots.last().isEmpty(), qPrintable(error));
    }
    const QString photos = roots.at(0) + QStringLiteral("/DCIM/100MSDCF");
    QDir().mkpath(photos + QStringLiteral("/sub"));
    for (const char *name : {"a.JPG", "b.jpeg", "c.jpg", "notes.txt", "sub/d.JPG", "pack1.zip"})
        QFile(photos + QLatin1Char('/') + QLatin1String(name)).open(QIODevice::WriteOnly);

    QProcess tool;
    tool.start(QStringLiteral(V7TOOL), {QStringLiteral("cards"), QStringLiteral("--json")});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);
    const QJsonArray list = QJsonDocument::fromJson(tool.readAllStandardOutput()).array();
    QCOMPARE(list.size(), Cameras::Count);
    QStringList seen;
    for (const QJsonValue &value : list) {
        const QJsonObject card = value.toObject();
        seen << card.value(QStringLiteral("camera")).toString() + QLatin1Char('=') +
                    card.value(QStringLiteral("label")).toString() + QLatin1Char(':') +
                    QString::number(card.value(QStringLiteral("photos")).toInt());
        if (card.value(QStringLiteral("present")).toBool())
            QVERIFY(roots.contains(card.value(QStringLiteral("mountRoot")).toString()));
    }
    // In the page's icon order; photos are the JPEGs of DCIM and its folders one level down.
    QCOMPARE(seen, (QStringList{"Center=Center:3", "Front=LeftFront:0", "Right=:0", "Left=:0",
                                "Back=Back:0"}));
    for (const QString &root : std::as_const(roots))
        QVERIFY(m_rig->pull(root));
}

QTEST_GUILESS_MAIN(TestCameraCards)
#include "tst_cameracards.moc"
