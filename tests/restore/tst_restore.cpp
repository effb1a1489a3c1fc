// The restore page on cards that come and go: folders of a V7_MEDIA_ROOT (tst_restore_mediaroot)
// or exFAT loop devices mounted with the FUSE driver (tst_restore_loop, root only). The storage
// rows, the questions in their order, the save gate, the refusals and what each outcome leaves
// on the cards. Every case plugs its own cards; the rig removes them in every outcome.
#include <QProcess>
#include <QProgressBar>

#include "cameralink.h"
#include "cardrig.h"
#include "framestyle.h"
#include "restorefixture.h"

using namespace RestoreFixture;

#ifdef V7_RIG_LOOP
constexpr CardRig::Kind kRig = CardRig::Loop;
#else
constexpr CardRig::Kind kRig = CardRig::MediaRoot;
#endif

namespace {

// What blkid reads from the device itself (not its cache).
QString probe(const QString &device, const char *tag)
{
    QProcess blkid;
    blkid.start(QStringLiteral("blkid"), {QStringLiteral("-p"), QStringLiteral("-o"),
                                          QStringLiteral("value"), QStringLiteral("-s"),
                                          QString::fromLatin1(tag), device});
    blkid.waitForFinished(30000);
    return QString::fromUtf8(blkid.readAllStandardOutput()).trimmed();
}

QImage resourceImage(const char *name)
{
    return QPixmap(QStringLiteral(":/V7KAPP/res/") + QLatin1String(name)).toImage();
}

} // namespace

class tst_Restore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void storageRows_data();
    void storageRows();
    void restore_data();
    void restore();
};

void tst_Restore::initTestCase()
{
    const QString reason = CardRig::unavailableReason(kRig);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    FrameStyle::registerFontSubstitutions();
}

void tst_Restore::storageRows_data()
{
    QTest::addColumn<double>("free");
    QTest::addColumn<double>("total");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::newRow("no card") << 0.0 << 0.0 << "未连接" << 100 << 0;
    QTest::newRow("no card, the older figure") << 0.0 << -1.0 << "未连接" << 100 << 0;
    QTest::newRow("a card in use") << 17.37 << 29.72 << "已存储12.35G|共:29.72G" << 29 << 12;
}

void tst_Restore::storageRows()
{
    QFETCH(double, free);
    QFETCH(double, total);
    QFETCH(QString, text);
    QFETCH(int, maximum);
    QFETCH(int, value);
    ReductionWidget page;
    page.setStorage(3, free, total); // back
    page.refreshStorage();
    page.UpGrade();
    QCOMPARE(page.storageText(3)->text(), text);
    QCOMPARE(page.storageBar(3)->maximum(), maximum);
    QCOMPARE(page.storageBar(3)->value(), value);
    QCOMPARE(page.storageText(4)->text(), QStringLiteral("未连接"));
    ModalAnswerer answerer({});
    page.poptip();
    QCOMPARE(answerer.texts, QStringList{"请将相机通过usb连接电脑！|"});
}

void tst_Restore::restore_data()
{
    // Cards by restore position (centre, left, right, back, front): "" none, "card" a camera
    // card whose photos were offloaded, "unsaved" one whose were not, "bare" one without
    // AVF_INFO, "spare" a card no camera owns, "partition" a camera card beside a second mounted
    // partition, "folder" a folder with AVF_INFO that is no mount point.
    QTest::addColumn<QStringList>("cards");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("boxes"); // the texts the operator reads, in order
    // Per position: f formatted and written (OK icon), x refused (fail icon), - left alone.
    QTest::addColumn<QString>("outcome");

    const QString confirm = QStringLiteral("将清除相机中所有的数据,是否继续?");
    const QString done = QStringLiteral("完成还原！|");
    const QString refused = QStringLiteral("下视相机的卡不会被还原|");
    const QString card = QStringLiteral("card");
    QTest::newRow("five cards") << QStringList(5, card) << QStringList{"yes"}
                                << QStringList{confirm, done} << "fffff";
    QTest::newRow("the back and centre cards, a spare beside them")
        << QStringList{card, "", "", card, "spare"} << QStringList{"yes"}
        << QStringList{confirm, done} << "f--f-";
    QTest::newRow("cancelled") << QStringList(5, card) << QStringList{"no"} << QStringList{confirm}
                               << "-----";
    QTest::newRow("an unsaved photo, the operator says no")
        << QStringList{card, "", "", "", "unsaved"} << QStringList{"yes", "no"}
        << QStringList{confirm, "前视相机有 1 张照片尚未验证备份，仍要清除吗？"} << "-----";
    QTest::newRow("unsaved photos on two cards, the operator says yes")
        << QStringList{"unsaved", "", "unsaved", "", ""} << QStringList{"yes", "yes"}
        << QStringList{confirm, "下视相机有 1 张、右视相机有 1 张照片尚未验证备份，仍要清除吗？", done}
        << "f-f--";
    QTest::newRow("a card without AVF_INFO")
        << QStringList{"bare", "", "", card, ""} << QStringList{"yes"}
        << QStringList{confirm, refused + "%1 上没有 AVF_INFO 文件夹，不是相机卡", done} << "x--f-";
    QTest::newRow("a folder that is no mount point")
        << QStringList{"folder", "", "", card, ""} << QStringList{"yes"}
        << QStringList{confirm, refused + "%1 不是挂载点", done} << "x--f-";
    QTest::newRow("a second partition mounted")
        << QStringList{"partition", "", "", card, ""} << QStringList{"yes"}
        << QStringList{confirm, refused + "%2 所在的磁盘上还挂载着 %3（%4），不能格式化", done}
        << "x--f-";
    QTest::newRow("no card: the press does nothing") << QStringList(5, QString()) << QStringList{}
                                                     << QStringList{} << "-----";
    QTest::newRow("the template is missing")
        << QStringList(5, card) << QStringList{"yes"}
        << QStringList{confirm, "缺少相机卡模板文件，未做任何更改|R9相机替换文件/PRIVATE/SONY/SONYCARD.IND"}
        << "-----";
}

void tst_Restore::restore()
{
    QFETCH(QStringList, cards);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, boxes);
    QFETCH(QString, outcome);

    CardRig rig(kRig);
    QTemporaryDir work;
    if (kRig == CardRig::MediaRoot)
        qputenv("V7_MEDIA_ROOT", QFile::encodeName(rig.mediaRoot()));
    const bool noTemplate = QTest::currentDataTag() == QLatin1String("the template is missing");
    qputenv("V7_SHIPPED_DIR", noTemplate ? QFile::encodeName(work.path()) : QByteArray());
    QFile::remove(DataFolders::perUserDataFolder() + QStringLiteral("/Taskconfig.xml"));
    QStringList roots(RestoreCards::Count, QString());
    QStringList offloaded = roots;
    QStringList plugged = roots; // every card plugged, given to the page or not
    for (int position = 0; position < RestoreCards::Count; ++position) {
        const QString kind = cards.at(position);
        QString error;
        QString root;
        const QString label = QStringLiteral("OLD%1").arg(position);
        if (kind.isEmpty()) {
            continue;
        } else if (kind == QLatin1String("folder")) {
            root = work.filePath(QStringLiteral("folder"));
        } else if (kind == QLatin1String("partition")) {
            if (kRig != CardRig::Loop)
                QSKIP("partitions need loop devices");
            QString other;
            root = rig.plugBesideSecondPartition(label, &other, &error);
            const QString device = rig.deviceOf(root);
            boxes.replaceInStrings(QStringLiteral("%2"), device);
            boxes.replaceInStrings(QStringLiteral("%3"), QString(device).replace(
                                                             QStringLiteral("p1"), QStringLiteral("p2")));
            boxes.replaceInStrings(QStringLiteral("%4"), other);
        } else {
            root = rig.plug(label, &error);
        }
        QVERIFY2(!root.isEmpty(), qPrintable(error));
        QVERIFY(makeCameraCard(root, kind == QLatin1String("unsaved") ? 1 : 3,
                               kind != QLatin1String("bare")));
        boxes.replaceInStrings(QStringLiteral("%1"), root);
        plugged[position] = root;
        if (kind != QLatin1String("spare"))
            roots[position] = root;
        if (kind != QLatin1String("unsaved") && kind != QLatin1String("spare"))
            offloaded[position] = root;
    }
    QVERIFY(offload(offloaded, work.filePath(QStringLiteral("target"))));
    QStringList uuids;
    for (const QString &root : std::as_const(plugged))
        uuids << (rig.deviceOf(root).isEmpty() ? QString() : probe(rig.deviceOf(root), "UUID"));

    CameraLink::instance()->setCardsPresent(roots != QStringList(RestoreCards::Count, QString()));
    ReductionWidget page;
    page.setCardRoots(roots);
    page.show();
    ModalAnswerer answerer(answers);
    QVERIFY(pressRestore(&page, &answerer, int(boxes.size())));
    QCOMPARE(answerer.texts, boxes);
    QVERIFY(!page.busyDialog());

    QStringList structure = CardTemplate::files();
    structure.sort();
    for (int position = 0; position < RestoreCards::Count; ++position) {
        QLabel *icon = page.resultIcon(position);
        const QChar result = outcome.at(position);
        QCOMPARE(icon->isVisible(), result != QLatin1Char('-'));
        if (result != QLatin1Char('-'))
            QCOMPARE(icon->pixmap().toImage(), resourceImage(result == 'f' ? "ok.png" : "icon_fail.png"));
        if (plugged.at(position).isEmpty())
            continue;
        const QString device = rig.deviceOf(plugged.at(position));
        // A folder card takes its new label as its name.
        const QString root = result == QLatin1Char('f') && kRig == CardRig::MediaRoot
                                 ? QDir(rig.mediaRoot()).filePath(RestoreCards::label(position))
                                 : plugged.at(position);
        const QStringList files = OffloadFixture::filesBelow(root);
        if (result == QLatin1Char('f')) {
            QCOMPARE(files, structure);
            QVERIFY(CardTemplate::holds(CardTemplate::folder(), root));
            if (!device.isEmpty()) {
                QCOMPARE(probe(device, "TYPE"), QStringLiteral("exfat"));
                QCOMPARE(probe(device, "LABEL"), RestoreCards::label(position));
                QVERIFY(probe(device, "UUID") != uuids.at(position));
            }
            // The storage check after the restore measures the card where it is now.
            QTRY_VERIFY(page.storageText(position)->text().startsWith(QStringLiteral("已存储")));
        } else {
            QVERIFY2(files.contains(QStringLiteral("DCIM/100MSDCF/DSC00001.JPG")), qPrintable(root));
            QVERIFY(!files.contains(QStringLiteral("AVF_INFO/AVIN0001.BNP")));
            if (!device.isEmpty())
                QCOMPARE(probe(device, "UUID"), uuids.at(position));
        }
    }
}

QTEST_MAIN(tst_Restore)
#include "tst_restore.moc"
