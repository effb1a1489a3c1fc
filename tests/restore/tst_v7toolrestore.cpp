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
    QTest::addColumn<QString>("reason");
    QTest::newRow("the system's root") << "system" << "/";
    QTest::newRow("a folder that is no mount point") << "folder" << "不是挂载点";
    QTest::newRow("a disk with a second mounted partition") << "partition" << "还挂载着";
}

void tst_V7toolRestore::refusals()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir work;
    CardRig rig(CardRig::Loop);
    QString root = QStringLiteral("/");
    if (kind == QLatin1String("folder")) {
        root = work.path();
        QVERIFY(makeCameraCard(root, 1));
    } else if (kind == QLatin1String("partition")) {
        const QString unavailable = CardRig::unavailableReason(CardRig::Loop);
        if (!unavailable.isEmpty())
            QSKIP(qPrintable(unavailable));
        QString other;
        QString error;
        root = rig.plugBesideSecondPartition(QStringLiteral("Center"), &other, &error);
        QVERIFY2(!root.isEmpty(), qPrintable(error));
        QVERIFY(makeCameraCard(root, 1));
    }
    const QStringList before = OffloadFixture::filesBelow(work.path());
    // Only ever a dry run: the refusal must come from the listing, before any format.
    const Run run = v7tool({QStringLiteral("--center"), root, QStringLiteral("--dry-run"),
                            QStringLiteral("--yes")});
    QCOMPARE(run.code, 1);
    QCOMPARE(run.lines.size(), 5);
    const QJsonObject center = run.lines.first();
    QCOMPARE(center.value("camera").toString(), QStringLiteral("Center"));
    QCOMPARE(center.value("root").toString(), root);
    QCOMPARE(center.value("format").toBool(), false);
    QVERIFY2(center.value("refusal").toString().contains(reason),
             qPrintable(center.value("refusal").toString()));
    if (kind == QLatin1String("partition"))
        QCOMPARE(center.value("device").toString(), rig.deviceOf(root));
    for (int position = 1; position < 5; ++position)
        QCOMPARE(run.lines.at(position).value("present").toBool(), false);
    QVERIFY(run.errors.contains(QStringLiteral("dry run")));
    QCOMPARE(OffloadFixture::filesBelow(work.path()), before);
}

void tst_V7toolRestore::folderCards()
{
    QTemporaryDir work;
    const QString media = work.filePath(QStringLiteral("media"));
    const QString front = media + QStringLiteral("/Front");
    const QString back = media + QStringLiteral("/Back");
    QVERIFY(makeCameraCard(front, 2) && makeCameraCard(back, 3));
    QFile::remove(DataFolders::perUserDataFolder() + QStringLiteral("/Taskconfig.xml"));
    const QStringList cards{QStringLiteral("--front"), front, QStringLiteral("--back"), back};
    const QStringList before = OffloadFixture::filesBelow(media);

    Run run = v7tool(cards, media);
    QCOMPARE(run.code, 0);
    QCOMPARE(run.lines.size(), 5);
    QCOMPARE(run.lines.at(3).value("camera").toString(), QStringLiteral("Back"));
    QCOMPARE(run.lines.at(3).value("unsaved").toInt(), 3);
    QCOMPARE(run.lines.at(4).value("camera").toString(), QStringLiteral("Front"));
    QCOMPARE(run.lines.at(4).value("photos").toInt(), 2);
    QCOMPARE(run.lines.at(4).value("unsaved").toInt(), 2);
    QCOMPARE(run.lines.at(4).value("format").toBool(), true);
    QVERIFY(run.errors.contains(QStringLiteral("without --yes")));

    run = v7tool(cards + QStringList{QStringLiteral("--yes")}, media);
    QCOMPARE(run.code, 3);
    QVERIFY(run.errors.contains(QStringLiteral("5 photos have no verified copy")));
    QCOMPARE(OffloadFixture::filesBelow(media), before);

    // Once the front card is offloaded only the back card's photos hold the restore.
    QVERIFY(offload({QString(), QString(), QString(), QString(), front},
                    work.filePath(QStringLiteral("target"))));
    run = v7tool(cards + QStringList{QStringLiteral("--yes")}, media);
    QCOMPARE(run.code, 3);
    QCOMPARE(run.lines.at(4).value("unsaved").toInt(), 0);
    QVERIFY(run.errors.contains(QStringLiteral("3 photos have no verified copy")));

    run = v7tool(cards + QStringList{QStringLiteral("--yes"), QStringLiteral("--unsaved-ok")}, media);
    QCOMPARE(run.code, 0);
    QCOMPARE(run.lines.size(), 7);
    QStringList structure = CardTemplate::files();
    structure.sort();
    for (const QString &root : {back, front}) {
        QCOMPARE(OffloadFixture::filesBelow(root), structure);
        // The template the tool found is the one shipped beside it.
        QVERIFY(CardTemplate::holds(QStringLiteral(V7_TOOL_DIR "/R9相机替换文件"), root));
    }
    QCOMPARE(run.lines.at(5).value("camera").toString(), QStringLiteral("Back"));
    QCOMPARE(run.lines.at(5).value("structure").toBool(), true);
    QCOMPARE(run.lines.at(6).value("root").toString(), front);
}

QTEST_GUILESS_MAIN(tst_V7toolRestore)
#include "tst_v7toolrestore.moc"
