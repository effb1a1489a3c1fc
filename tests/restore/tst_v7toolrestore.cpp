// v7tool restore as a crew runs it: the listing, the refusals (the system's root and a folder
// through --dry-run only, a disk with a second mounted partition as root), the save gate's hold
// and a restore of folder cards with the template shipped beside the tool.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "cardrig.h"
#include "restorefixture.h"

using namespace RestoreFixture;

namespace {

struct Run
{
    int code = -1;
    QList<QJsonObject> lines;
    QString errors;
};

Run v7tool(const QStringList &arguments, const QString &mediaRoot = QString())
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("V7_SHIPPED_DIR"));
    if (mediaRoot.isEmpty())
        environment.remove(QStringLiteral("V7_MEDIA_ROOT"));
    else
        environment.insert(QStringLiteral("V7_MEDIA_ROOT"), mediaRoot);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(V7_TOOL_PATH), QStringList{QStringLiteral("restore")} + arguments);
    Run run;
    if (!process.waitForFinished(120000))
        return run;
    run.code = process.exitCode();
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            run.lines << QJsonDocument::fromJson(line).object();
    }
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class tst_V7toolRestore : public QObject
{
    Q_OBJECT
private slots:
    void refusals_data();
    void refusals();
    void folderCards();
};

void tst_V7toolRestore::refusals_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // a pattern
    // A root on a block device is refused for the system, one on an overlay for being no device.
    QTest::newRow("the system's root") << "system" << "^/dev/\\S+ 承载系统目录 /，|^/ 上挂载的不是块设备";
    QTest::newRow("a folder that is no mount point") << "folder" << " 不是挂载点$";
    QTest::newRow("a disk with a second mounted partition") << "partition" << "还挂载着 /dev/";
}

void tst_V7toolRestore::refusals()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir work;
    CardRig rig(CardRig::Loop);
    QString root = kind == QLatin1String("system") ? QStringLiteral("/") : work.path();
    if (kind == QLatin1String("partition")) {
        if (!CardRig::unavailableReason(CardRig::Loop).isEmpty())
            QSKIP(qPrintable(CardRig::unavailableReason(CardRig::Loop)));
        QString other;
        QString error;
        root = rig.plugBesideSecondPartition(QStringLiteral("Center"), &other, &error);
        QVERIFY2(!root.isEmpty(), qPrintable(error));
    }
    if (kind != QLatin1String("system"))
        QVERIFY(makeCameraCard(root, 1));
    // Only ever a dry run: the refusal must come from the listing, before any format.
    const Run run = v7tool({QStringLiteral("--center"), root, QStringLiteral("--dry-run"),
                            QStringLiteral("--yes")});
    QCOMPARE(run.code, 1);
    QCOMPARE(run.lines.size(), 5);
    const QJsonObject center = run.lines.first();
    QCOMPARE(center.value("root").toString(), root);
    if (kind == QLatin1String("partition"))
        QCOMPARE(center.value("device").toString(), rig.deviceOf(root));
    QCOMPARE(center.value("format").toBool(), false);
    const QString refusal = center.value("refusal").toString();
    QVERIFY2(refusal.contains(QRegularExpression(reason)), qPrintable(refusal));
    QCOMPARE(run.lines.at(1).value("present").toBool(), false);
    QVERIFY(run.errors.contains(QStringLiteral("dry run")));
    if (kind != QLatin1String("system"))
        QVERIFY(QFileInfo::exists(root + QStringLiteral("/DCIM/100MSDCF/DSC00001.JPG")));
}

void tst_V7toolRestore::folderCards()
{
    QTemporaryDir work;
    const QString media = work.filePath(QStringLiteral("media"));
    const QString front = media + QStringLiteral("/Front");
    const QString back = media + QStringLiteral("/Back");
    QVERIFY(makeCameraCard(front, 2) && makeCameraCard(back, 3));
    QFile::remove(DataFolders::perUserDataFolder() + QStringLiteral("/Taskconfig.xml"));
    QVERIFY(offload({QString(), QString(), QString(), QString(), front},
                    work.filePath(QStringLiteral("target"))));
    const QStringList cards{QStringLiteral("--front"), front, QStringLiteral("--back"), back};
    const QStringList before = OffloadFixture::filesBelow(media);

    Run run = v7tool(cards, media);
    QCOMPARE(run.code, 0);
    QCOMPARE(run.lines.size(), 5);
    QCOMPARE(run.lines.at(3).value("camera").toString(), QStringLiteral("Back"));
    QCOMPARE(run.lines.at(3).value("unsaved").toInt(), 3);
    QCOMPARE(run.lines.at(4).value("photos").toInt(), 2);
    QCOMPARE(run.lines.at(4).value("unsaved").toInt(), 0);
    QCOMPARE(run.lines.at(4).value("format").toBool(), true);
    QVERIFY(run.errors.contains(QStringLiteral("without --yes")));

    run = v7tool(cards + QStringList{QStringLiteral("--yes")}, media);
    QCOMPARE(run.code, 3);
    QVERIFY(run.errors.contains(QStringLiteral("3 photos have no verified copy")));
    QCOMPARE(OffloadFixture::filesBelow(media), before);

    run = v7tool(cards + QStringList{QStringLiteral("--yes"), QStringLiteral("--unsaved-ok")}, media);
    QCOMPARE(run.code, 0);
    QCOMPARE(run.lines.size(), 7);
    QCOMPARE(run.lines.at(5).value("camera").toString(), QStringLiteral("Back"));
    QCOMPARE(run.lines.at(5).value("structure").toBool(), true);
    QStringList structure = CardTemplate::files();
    structure.sort();
    for (const QString &root : {back, front}) {
        QCOMPARE(OffloadFixture::filesBelow(root), structure);
        // The template the tool found is the one the build ships beside it.
        QVERIFY(CardTemplate::holds(QStringLiteral(V7_TOOL_DIR "/R9相机替换文件"), root));
    }
}

QTEST_GUILESS_MAIN(tst_V7toolRestore)
#include "tst_v7toolrestore.moc"
