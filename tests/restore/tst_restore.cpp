// The restore page and v7tool restore on cards that come and go: folders of a V7_MEDIA_ROOT
// (tst_restore_mediaroot) or exFAT loop devices mounted with the FUSE driver (tst_restore_loop,
// root only). The storage rows, the questions in their order, the save gate, the refusals and
// what each outcome leaves on the cards. Every case plugs its own cards; the rig removes them
// in every outcome.
#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>

#include "appsettings.h"
#include "cameralink.h"
#include "camsimprocess.h"
#include "cardrig.h"
#include "cardtemplate.h"
#include "checkv7thread.h"
#include "datafolders.h"
#include "framestyle.h"
#include "mylabel.h"
#include "offloadfixture.h"
#include "offloadsession.h"
#include "reductionwidget.h"
#include "restorecards.h"
#include "taskconfig.h"

#ifdef V7_RIG_LOOP
constexpr CardRig::Kind kRig = CardRig::Loop;
#else
constexpr CardRig::Kind kRig = CardRig::MediaRoot;
#endif

namespace {

// A camera card: the camera's "AVF_INFO" folder and photos in DCIM/100MSDCF.
bool makeCameraCard(const QString &root, int photos, bool avfInfo = true)
{
    return (!avfInfo || QDir().mkpath(root + QStringLiteral("/AVF_INFO"))) &&
           OffloadFixture::makeCard(root + QStringLiteral("/DCIM/100MSDCF"), photos);
}

// Offloads the photo folders of the cards (restore order, empty = none) into target with the
// engine and records the offload where the restore looks for it.
bool offload(const QStringList &roots, const QString &target, const QString &backup = QString())
{
    QFile::remove(DataFolders::perUserDataFolder() + QStringLiteral("/Taskconfig.xml"));
    OffloadSession::Setup setup;
    setup.target = target;
    setup.backup = backup;
    for (int position = 0; position < RestoreCards::Count; ++position) {
        if (!roots.value(position).isEmpty())
            setup.sources[RestoreCards::engineCamera(position)] =
                roots.at(position) + QStringLiteral("/DCIM/100MSDCF");
    }
    if (roots.join(QString()).isEmpty())
        return true;
    OffloadSession session;
    session.setStateFolder(DataFolders::perUserDataFolder());
    QString error;
    if (!session.start(setup, &error))
        qWarning("offload: %s", qPrintable(error));
    return error.isEmpty() && OffloadFixture::waitFor([&] { return !session.running(); }) &&
           session.complete() && session.saveConfig(true);
}

// Moves the offload's Center folder onto the card at root ("backup/") and records the offload
// there, as if it had been made to the card it copies.
bool moveBackupOnto(const QString &root, const QString &target)
{
    const QString config = DataFolders::perUserDataFolder() + QStringLiteral("/Taskconfig.xml");
    TaskConfig task;
    QDir().mkpath(root + QStringLiteral("/backup"));
    if (QProcess::execute("cp", {"-r", target + "/Center", root + "/backup/"}) != 0 ||
        !QDir(target).removeRecursively() || !TaskConfig::read(config, &task))
        return false;
    task.savePath = root + QStringLiteral("/backup");
    return TaskConfig::write(config, task);
}

// What blkid reads from the device itself (not its cache).
QString probe(const QString &device, const char *tag)
{
    return QString::fromUtf8(runTool("blkid", {"-p", "-o", "value", "-s", tag, device}).out).trimmed();
}

ToolRun v7toolRestore(const QStringList &arguments, const QString &mediaRoot = QString())
{
    const QString media = mediaRoot.isEmpty() ? "V7_MEDIA_ROOT" : "V7_MEDIA_ROOT=" + mediaRoot;
    return runTool(V7_TOOL_PATH, QStringList{"restore"} + arguments, {"V7_SHIPPED_DIR", media});
}

QStringList templateFiles()
{
    QStringList files = CardTemplate::files();
    files.sort();
    return files;
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
    void toolRefusals_data();
    void toolRefusals();
    void toolFolderCards();
    void toolOwnBackup();
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
    QTest::newRow("a large card") << 204.21 << 251.97 << "已存储47.76G|共:251.97G" << 251 << 47;
    QTest::newRow("a terabyte card") << 0.01 << 999.99 << "已存储999.98G|共:999.99G" << 999 << 999;
}

void tst_Restore::storageRows()
{
    QFETCH(double, free);
    QFETCH(double, total);
    ReductionWidget page;
    page.setStorage(3, free, total); // back
    page.refreshStorage();
    page.UpGrade();
    QTEST(page.storageText(3)->text(), "text");
    const QLabel *text = page.storageText(3);
    QVERIFY2(text->fontMetrics().horizontalAdvance(text->text()) <= text->contentsRect().width(),
             "the figures are cut off");
    QTEST(page.storageBar(3)->maximum(), "maximum");
    QTEST(page.storageBar(3)->value(), "value");
    QCOMPARE(page.storageText(4)->text(), QStringLiteral("未连接"));
}

void tst_Restore::restore_data()
{
    // Cards by restore position (centre, left, right, back, front): "" none, "card" a camera
    // card whose photos were offloaded, "unsaved" one whose were not, "bare" one without
    // AVF_INFO, "spare" a card no camera owns, "partition" a camera card beside a second mounted
    // partition, "folder" a folder with AVF_INFO that is no mount point, "self" a card that
    // holds the offload of itself, "twice" one offloaded with a second target on another disk.
    QTest::addColumn<QStringList>("cards");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("boxes"); // the texts the operator reads, in order
    // Per position: f formatted and written (OK icon), x refused (fail icon), - left alone.
    QTest::addColumn<QString>("outcome");

    const QString confirm = QStringLiteral("将清除相机中所有的数据,是否继续?");
    const QString done = QStringLiteral("完成还原！");
    const QString refused = QStringLiteral("下视相机的卡不会被还原 / ");
    const QStringList five(5, QStringLiteral("card"));
    QTest::newRow("five cards") << five << QStringList{"yes"} << QStringList{confirm, done}
                                << "fffff";
    QTest::newRow("the back and centre cards, a spare beside them")
        << QStringList{"card", "", "", "card", "spare"} << QStringList{"yes"}
        << QStringList{confirm, done} << "f--f-";
    QTest::newRow("cancelled") << five << QStringList{"no"} << QStringList{confirm} << "-----";
    QTest::newRow("an unsaved photo, the operator says no")
        << QStringList{"card", "", "", "", "unsaved"} << QStringList{"yes", "no"}
        << QStringList{confirm, "前视相机有 1 张照片尚未验证备份，仍要清除吗？"} << "-----";
    QTest::newRow("unsaved photos on two cards, the operator says yes")
        << QStringList{"unsaved", "", "unsaved", "", ""} << QStringList{"yes", "yes"}
        << QStringList{confirm, "下视相机有 1 张、右视相机有 1 张照片尚未验证备份，仍要清除吗？", done}
        << "f-f--";
    // Its photos and their copies under backup/, the copies' hidden checksum list.
    QTest::newRow("a card holding its own backup, the operator says no")
        << QStringList{"self", "", "", "", ""} << QStringList{"yes", "no"}
        << QStringList{confirm, "下视相机有 6 张照片的备份就在要清除的卡上，下视相机有 1 个隐藏文件没有备份，仍要清除吗？"}
        << "-----";
    QTest::newRow("a card without AVF_INFO")
        << QStringList{"bare", "", "", "card", ""} << QStringList{"yes"}
        << QStringList{confirm, refused + "%1 上没有 AVF_INFO 文件夹，不是相机卡", done} << "x--f-";
    QTest::newRow("a folder that is no mount point")
        << QStringList{"folder", "", "", "card", ""} << QStringList{"yes"}
        << QStringList{confirm, refused + "%1 不是挂载点", done} << "x--f-";
    if (kRig == CardRig::Loop)
        QTest::newRow("a second partition mounted")
            << QStringList{"partition", "", "", "card", ""} << QStringList{"yes"}
            << QStringList{confirm, refused + "%2 所在的磁盘上还挂载着 %3（%4），不能格式化", done}
            << "x--f-";
    QTest::newRow("no card: the press does nothing")
        << QStringList(5, QString()) << QStringList{} << QStringList{} << "-----";
    QTest::newRow("the template is missing")
        << five << QStringList{"yes"}
        << QStringList{confirm, "缺少相机卡模板文件，未做任何更改 / R9相机替换文件/PRIVATE/SONY/SONYCARD.IND"}
        << "-----";
    // "清除前要求两份备份" holds photos on one disk only as it holds unsaved ones.
    QTest::newRow("one copy, two required: held")
        << QStringList{"card", "", "", "", ""} << QStringList{"yes", "no"}
        << QStringList{confirm, "下视相机有 3 张照片只有一份备份，仍要清除吗？"} << "-----";
    QTest::newRow("two copies, two required")
        << QStringList{"twice", "", "", "", ""} << QStringList{"yes"} << QStringList{confirm, done}
        << "f----";
}

void tst_Restore::restore()
{
    QFETCH(QStringList, cards);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, boxes);
    QFETCH(QString, outcome);

    QTemporaryDir second(QStringLiteral("/dev/shm/v7restore-XXXXXX"));
    if (cards.contains(QStringLiteral("twice")) && !second.isValid())
        QSKIP("no tmpfs at /dev/shm for the backup; not run");
    CardRig rig(kRig);
    QTemporaryDir work;
    if (kRig == CardRig::MediaRoot)
        qputenv("V7_MEDIA_ROOT", QFile::encodeName(rig.mediaRoot()));
    const bool noTemplate = QTest::currentDataTag() == QLatin1String("the template is missing");
    qputenv("V7_SHIPPED_DIR", noTemplate ? QFile::encodeName(work.path()) : QByteArray());
    QStringList roots(RestoreCards::Count, QString());
    QStringList offloaded = roots;
    QStringList plugged = roots; // every card plugged, given to the page or not
    QStringList uuids = roots;
    for (int position = 0; position < RestoreCards::Count; ++position) {
        const QString kind = cards.at(position);
        const QString label = QStringLiteral("OLD%1").arg(position);
        QString error, root, other;
        if (kind == "folder")
            root = work.filePath(QStringLiteral("folder"));
        else if (kind == "partition")
            root = rig.plugBesideSecondPartition(label, &other, &error);
        else if (!kind.isEmpty())
            root = rig.plug(label, &error);
        else
            continue;
        QVERIFY2(!root.isEmpty(), qPrintable(error));
        QVERIFY(makeCameraCard(root, kind == "unsaved" ? 1 : 3, kind != "bare"));
        const QString device = rig.deviceOf(root);
        boxes.replaceInStrings(QStringLiteral("%1"), root);
        boxes.replaceInStrings(QStringLiteral("%2"), device);
        // The second partition: "p1" at the end becomes "p2" ("loop1p1" keeps its "loop1").
        boxes.replaceInStrings(QStringLiteral("%3"), device.left(device.size() - 1) + '2');
        boxes.replaceInStrings(QStringLiteral("%4"), other);
        plugged[position] = root;
        uuids[position] = device.isEmpty() ? QString() : probe(device, "UUID");
        if (kind != "spare")
            roots[position] = root;
        if (kind != "unsaved" && kind != "spare")
            offloaded[position] = root;
    }
    QVERIFY(offload(offloaded, work.filePath(QStringLiteral("target")),
                    cards.contains("twice") ? second.filePath(QStringLiteral("backup")) : QString()));
    if (cards.contains(QStringLiteral("self")))
        QVERIFY(moveBackupOnto(roots.at(cards.indexOf("self")), work.filePath("target")));

    ReductionWidget page;
    page.setCardRoots(roots);
    page.show();
    const auto setting = qScopeGuard([&] { page.twoCopiesBox()->setChecked(false); });
    const bool required = QString::fromLatin1(QTest::currentDataTag()).contains("two required");
    page.twoCopiesBox()->setChecked(required);
    QCOMPARE(AppSettings::value(QLatin1String(AppSettings::kRequireTwoCopies)).toBool(), required);
    PromptCatcher prompts;
    prompts.answerInTurn(answers);
    QSignalSpy ended(&page, &ReductionWidget::restoreEnded);
    QTest::mouseClick(page.restoreButton(), Qt::LeftButton);
    // Until the restore has ended (or, when none starts, the answers are used up).
    QVERIFY(QTest::qWaitFor([&] { return prompts.texts().size() >= boxes.size(); }, 60000));
    QVERIFY(!ended.isEmpty() || !page.busyDialog() || ended.wait(60000));
    // The storage check after the restore may ask something too: it has ended.
    QTRY_VERIFY(page.findChildren<CheckV7Thread *>().isEmpty());
    QCOMPARE(prompts.texts(), boxes);
    QVERIFY(!page.busyDialog());

    for (int position = 0; position < RestoreCards::Count; ++position) {
        const QChar result = outcome.at(position);
        QLabel *icon = page.resultIcon(position);
        QCOMPARE(icon->isVisible(), result != QLatin1Char('-'));
        if (result != QLatin1Char('-'))
            QCOMPARE(icon->pixmap().toImage(),
                     QPixmap(result == 'f' ? ":/V7KAPP/res/ok.png" : ":/V7KAPP/res/icon_fail.png")
                         .toImage());
        // The row tells the photos whose verified copies are on one disk only.
        if (result == 'f' && (cards.at(position) == "card" || cards.at(position) == "twice"))
            QCOMPARE(page.copiesText(position)->text(),
                     cards.at(position) == "twice" ? QString() : QStringLiteral("3 张照片只有一份备份"));
        if (plugged.at(position).isEmpty())
            continue;
        const QString device = rig.deviceOf(plugged.at(position));
        // A folder card takes its new label as its name.
        const QString root = result == QLatin1Char('f') && kRig == CardRig::MediaRoot
                                 ? QDir(rig.mediaRoot()).filePath(RestoreCards::label(position))
                                 : plugged.at(position);
        const QStringList files = OffloadFixture::filesBelow(root);
        if (result != QLatin1Char('f')) {
            QVERIFY2(files.contains(QStringLiteral("DCIM/100MSDCF/DSC00001.JPG")), qPrintable(root));
            QVERIFY(!files.contains(QStringLiteral("AVF_INFO/AVIN0001.BNP")));
            QCOMPARE(device.isEmpty() ? QString() : probe(device, "UUID"), uuids.at(position));
            continue;
        }
        QCOMPARE(files, templateFiles());
        QVERIFY(CardTemplate::holds(CardTemplate::folder(), root)); // byte for byte
        if (!device.isEmpty()) {
            QCOMPARE(probe(device, "TYPE"), QStringLiteral("exfat"));
            QCOMPARE(probe(device, "LABEL"), RestoreCards::label(position));
            QVERIFY(probe(device, "UUID") != uuids.at(position));
        }
        // The storage check after the restore measures the card where it is now.
        QTRY_VERIFY(page.storageText(position)->text().startsWith(QStringLiteral("已存储")));
    }
}

void tst_Restore::toolRefusals_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // a pattern
    if (kRig == CardRig::Loop) {
        QTest::newRow("a disk with a second mounted partition") << "partition" << "还挂载着 /dev/";
        return;
    }
    // A root on a block device is refused for the system, one on an overlay for being no device.
    QTest::newRow("the system's root") << "system" << "^/dev/\\S+ 承载系统目录 /，|^/ 上挂载的不是块设备";
    QTest::newRow("a folder that is no mount point") << "folder" << " 不是挂载点$";
}

void tst_Restore::toolRefusals()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir work;
    CardRig rig(kRig);
    QString root = kind == "system" ? QStringLiteral("/") : work.path();
    if (kind == "partition") {
        QString other, error;
        root = rig.plugBesideSecondPartition(QStringLiteral("Center"), &other, &error);
        QVERIFY2(!root.isEmpty(), qPrintable(error));
    }
    if (kind != "system")
        QVERIFY(makeCameraCard(root, 1));
    // Only ever a dry run: the refusal must come from the listing, before any format.
    const ToolRun run = v7toolRestore({"--center", root, "--dry-run", "--yes"});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.jsonLines().size(), 5);
    const QJsonObject center = run.jsonLines().first();
    QCOMPARE(center.value("root").toString(), root);
    if (kind == "partition")
        QCOMPARE(center.value("device").toString(), rig.deviceOf(root));
    QCOMPARE(center.value("format").toBool(), false);
    const QString refusal = center.value("refusal").toString();
    QVERIFY2(refusal.contains(QRegularExpression(reason)), qPrintable(refusal));
    QCOMPARE(run.jsonLines().at(1).value("present").toBool(), false);
    QVERIFY(run.err.contains("dry run"));
    if (kind != "system")
        QVERIFY(QFileInfo::exists(root + QStringLiteral("/DCIM/100MSDCF/DSC00001.JPG")));
}

void tst_Restore::toolFolderCards()
{
    if (kRig != CardRig::MediaRoot)
        QSKIP("folder cards: checked by tst_restore_mediaroot");
    QTemporaryDir work;
    const QString media = work.filePath(QStringLiteral("media"));
    const QString front = media + QStringLiteral("/Front");
    const QString back = media + QStringLiteral("/Back");
    QVERIFY(makeCameraCard(front, 2) && makeCameraCard(back, 3));
    QVERIFY(offload({"", "", "", "", front}, work.filePath(QStringLiteral("target"))));
    const QStringList cards{"--front", front, "--back", back};
    const QStringList before = OffloadFixture::filesBelow(media);

    ToolRun run = v7toolRestore(cards, media);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.jsonLines().size(), 5);
    QCOMPARE(run.jsonLines().at(3).value("camera").toString(), QStringLiteral("Back"));
    QCOMPARE(run.jsonLines().at(3).value("unsaved").toInt(), 3);
    QCOMPARE(run.jsonLines().at(4).value("photos").toInt(), 2);
    QCOMPARE(run.jsonLines().at(4).value("unsaved").toInt(), 0);
    QCOMPARE(run.jsonLines().at(4).value("format").toBool(), true);
    QVERIFY(run.err.contains("without --yes"));

    run = v7toolRestore(cards + QStringList{"--yes"}, media);
    QCOMPARE(run.exitCode, 3);
    QVERIFY(run.err.contains("3 photos have no verified copy"));
    // The front card's photos are on one disk: told, and held when two copies are required.
    QVERIFY2(run.err.contains(QStringLiteral("前视相机：2 张照片只有一份备份").toUtf8()) &&
                 run.err.contains(QStringLiteral("后视相机：3 张照片没有备份").toUtf8()),
             run.err.constData());
    QCOMPARE(run.jsonLines().at(4).value("oneCopy").toInt(), 2);
    run = v7toolRestore({"--front", front, "--yes", "--require-copies", "2"}, media);
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.err.contains("2 photos have fewer than two verified copies"), run.err.constData());
    QCOMPARE(v7toolRestore({"--front", front, "--require-copies", "3"}, media).exitCode, 2);
    QCOMPARE(OffloadFixture::filesBelow(media), before);

    run = v7toolRestore(cards + QStringList{"--yes", "--unsaved-ok"}, media);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.jsonLines().size(), 7);
    QCOMPARE(run.jsonLines().at(5).value("camera").toString(), QStringLiteral("Back"));
    QCOMPARE(run.jsonLines().at(5).value("structure").toBool(), true);
    for (const QString &root : {back, front}) {
        QCOMPARE(OffloadFixture::filesBelow(root), templateFiles());
        // The template the tool found is the one the build ships beside it.
        QVERIFY(CardTemplate::holds(QStringLiteral(V7_TOOL_DIR "/R9相机替换文件"), root));
    }
}

void tst_Restore::toolOwnBackup()
{
    // A loop card's copies on its own file system, or a folder card's inside its folder.
    CardRig rig(kRig);
    if (kRig == CardRig::MediaRoot)
        qputenv("V7_MEDIA_ROOT", QFile::encodeName(rig.mediaRoot()));
    QTemporaryDir work;
    QString error;
    const QString root = rig.plug(QStringLiteral("Center"), &error);
    QVERIFY2(!root.isEmpty(), qPrintable(error));
    QVERIFY(makeCameraCard(root, 2));
    QVERIFY(offload({root}, work.filePath(QStringLiteral("target"))));
    QVERIFY(moveBackupOnto(root, work.filePath(QStringLiteral("target"))));
    const QStringList before = OffloadFixture::filesBelow(root);

    const ToolRun run = v7toolRestore({"--center", root, "--yes"},
                                      kRig == CardRig::MediaRoot ? rig.mediaRoot() : QString());
    QVERIFY2(run.exitCode == 3, qPrintable(run.out + run.err));
    const QJsonObject center = run.jsonLines().value(0);
    QCOMPARE(center.value("unsaved").toInt(), 5);
    QCOMPARE(center.value("copiesOnFormattedCards").toInt(), 4);
    QCOMPARE(center.value("hiddenUnsaved").toInt(), 1);
    QVERIFY2(run.err.contains("Center: 4 photos have their only copies on a card this restore "
                              "formats"), qPrintable(run.err));
    QCOMPARE(OffloadFixture::filesBelow(root), before);
}

QTEST_MAIN(tst_Restore)
#include "tst_restore.moc"
