// The restore page on real exFAT cards: loop devices mounted with the FUSE driver (root only;
// skipped otherwise). Each case makes its own devices and the rig detaches them in every outcome.
#include <QProcess>

#include "cameralink.h"
#include "cardrig.h"
#include "framestyle.h"
#include "restorefixture.h"

using namespace RestoreFixture;

namespace {

QString probe(const QString &device, const char *tag)
{
    QProcess blkid;
    blkid.start(QStringLiteral("blkid"), {QStringLiteral("-p"), QStringLiteral("-o"),
                                          QStringLiteral("value"), QStringLiteral("-s"),
                                          QString::fromLatin1(tag), device});
    blkid.waitForFinished(30000);
    return QString::fromUtf8(blkid.readAllStandardOutput()).trimmed();
}

} // namespace

class tst_RestoreLoop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void restore_data();
    void restore();
};

void tst_RestoreLoop::initTestCase()
{
    const QString reason = CardRig::unavailableReason(CardRig::Loop);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    FrameStyle::registerFontSubstitutions();
    CameraLink::instance()->setCardsPresent(true);
}

void tst_RestoreLoop::restore_data()
{
    // Cards by restore position: "" none, "card" a camera card with photos, "bare" one without
    // AVF_INFO, "unsaved" one whose photos were never offloaded, "partition" a camera card
    // beside a second mounted partition, "folder" a folder with AVF_INFO that is no mount point.
    QTest::addColumn<QStringList>("cards");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("formatted"); // per position: f formatted, - left as it was

    const QString confirm = QStringLiteral("将清除相机中所有的数据,是否继续?");
    const QString done = QStringLiteral("完成还原！|");
    const QString card = QStringLiteral("card");
    QTest::newRow("five cards") << QStringList(5, card) << QStringList{"yes"}
                                << QStringList{confirm, done} << "fffff";
    QTest::newRow("the back and centre cards, a spare beside them")
        << QStringList{card, "", "", card, "spare"} << QStringList{"yes"}
        << QStringList{confirm, done} << "f--f-";
    QTest::newRow("a card without AVF_INFO")
        << QStringList{"bare", "", "", card, ""} << QStringList{"yes"}
        << QStringList{confirm, "下视相机的卡不会被还原|%1 上没有 AVF_INFO 文件夹，不是相机卡", done}
        << "---f-";
    QTest::newRow("cancelled") << QStringList(5, card) << QStringList{"no"} << QStringList{confirm}
                               << "-----";
    QTest::newRow("an unsaved photo, the operator says no")
        << QStringList{card, "", "", "", "unsaved"} << QStringList{"yes", "no"}
        << QStringList{confirm, "前视相机有 1 张照片尚未验证备份，仍要清除吗？"} << "-----";
    QTest::newRow("a second partition mounted")
        << QStringList{"partition", "", "", card, ""} << QStringList{"yes"}
        << QStringList{confirm, "下视相机的卡不会被还原|%2 所在的磁盘上还挂载着 %3（%4），不能格式化",
                       done}
        << "---f-";
    QTest::newRow("a folder that is no mount point")
        << QStringList{"folder", "", "", card, ""} << QStringList{"yes"}
        << QStringList{confirm, "下视相机的卡不会被还原|%1 不是挂载点", done} << "---f-";
}

void tst_RestoreLoop::restore()
{
    QFETCH(QStringList, cards);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, boxes);
    QFETCH(QString, formatted);

    CardRig rig(CardRig::Loop);
    QTemporaryDir work;
    QFile::remove(DataFolders::perUserDataFolder() + QStringLiteral("/Taskconfig.xml"));
    QStringList roots(RestoreCards::Count, QString());
    QStringList offloaded(RestoreCards::Count, QString());
    QStringList devices(RestoreCards::Count, QString());
    QString spare;
    for (int position = 0; position < RestoreCards::Count; ++position) {
        const QString kind = cards.at(position);
        if (kind.isEmpty())
            continue;
        QString error;
        QString root;
        if (kind == QLatin1String("folder")) {
            root = work.filePath(QStringLiteral("folder"));
        } else if (kind == QLatin1String("partition")) {
            QString other;
            root = rig.plugBesideSecondPartition(QStringLiteral("OLDCARD"), &other, &error);
            boxes.replaceInStrings(QStringLiteral("%2"), rig.deviceOf(root));
            boxes.replaceInStrings(QStringLiteral("%3"), QString(rig.deviceOf(root)).replace(
                                                             QStringLiteral("p1"), QStringLiteral("p2")));
            boxes.replaceInStrings(QStringLiteral("%4"), other);
        } else {
            root = rig.plug(QStringLiteral("OLDCARD"), &error);
        }
        QVERIFY2(!root.isEmpty(), qPrintable(error));
        QVERIFY(makeCameraCard(root, kind == QLatin1String("unsaved") ? 1 : 3,
                               kind != QLatin1String("bare")));
        if (kind == QLatin1String("bare") || kind == QLatin1String("folder"))
            boxes.replaceInStrings(QStringLiteral("%1"), root);
        devices[position] = rig.deviceOf(root);
        if (kind == QLatin1String("spare")) {
            spare = root; // inserted, but no camera's card
            continue;
        }
        roots[position] = root;
        if (kind != QLatin1String("unsaved"))
            offloaded[position] = root;
    }
    QVERIFY(offload(offloaded, work.filePath(QStringLiteral("target"))));
    QStringList uuids;
    for (const QString &device : devices)
        uuids << (device.isEmpty() ? QString() : probe(device, "UUID"));

    ReductionWidget page;
    page.setCardRoots(roots);
    page.show();
    ModalAnswerer answerer(answers);
    QVERIFY(pressRestore(&page, &answerer, int(boxes.size())));
    QCOMPARE(answerer.texts, boxes);

    QStringList structure = CardTemplate::files();
    structure.sort();
    for (int position = 0; position < RestoreCards::Count; ++position) {
        if (devices.at(position).isEmpty())
            continue;
        const QString root = roots.at(position).isEmpty() ? spare : roots.at(position);
        const QStringList files = OffloadFixture::filesBelow(root);
        if (formatted.at(position) == QLatin1Char('f')) {
            QCOMPARE(probe(devices.at(position), "TYPE"), QStringLiteral("exfat"));
            QCOMPARE(probe(devices.at(position), "LABEL"), RestoreCards::label(position));
            QVERIFY(probe(devices.at(position), "UUID") != uuids.at(position));
            QCOMPARE(files, structure);
            QVERIFY(CardTemplate::holds(CardTemplate::folder(), root));
            QVERIFY(page.resultIcon(position)->isVisible());
            QCOMPARE(page.resultIcon(position)->pixmap().toImage(),
                     QPixmap(QStringLiteral(":/V7KAPP/res/ok.png")).toImage());
        } else {
            QCOMPARE(probe(devices.at(position), "LABEL"), QStringLiteral("OLDCARD"));
            QCOMPARE(probe(devices.at(position), "UUID"), uuids.at(position));
            QVERIFY2(files.contains(QStringLiteral("DCIM/100MSDCF/DSC00001.JPG")),
                     qPrintable(root));
            QVERIFY(!files.contains(QStringLiteral("AVF_INFO/AVIN0001.BNP")));
        }
    }
}

QTEST_MAIN(tst_RestoreLoop)
#include "tst_restore_loop.moc"
