// v7tool offload under faults: killed at every step of a file and resumed, killed from
// outside, paused by SIGINT, a card pulled, the target disk full. Every time the end state
// must be the cards' files exactly, verified, none missing, none doubled, nothing partial.
#include <QtTest>

#include <csignal>

#include <sys/mount.h>
#include <unistd.h>

#include "checksumlist.h"
#include "geotag.h"
#include "offloadfixture.h"
#include "phototagstep.h"

using namespace OffloadFixture;

namespace {

constexpr int PhotosPerCard = 12;

struct Run
{
    int code = -1;
    bool crashed = false;
    QByteArray output;
};

// One offload: five cards, a target and a state folder of its own.
struct Offload
{
    QTemporaryDir dir;
    QString card(int c) const { return dir.filePath(QStringLiteral("cards/") + cameraName(c)); }
    QString target() const { return dir.filePath(QStringLiteral("target")); }
    QString copy(int c) const { return target() + QLatin1Char('/') + cameraName(c); }
    QString state() const { return dir.filePath(QStringLiteral("state")); }

    bool makeCards()
    {
        for (int c = 0; c < Cameras::Count; ++c) {
            if (!makeCard(card(c), PhotosPerCard, 5, c))
                return false;
        }
        return QDir().mkpath(state());
    }

    QStringList startArguments(const QStringList &extra = {}) const
    {
        QStringList arguments = {QStringLiteral("offload")};
        for (int c = 0; c < Cameras::Count; ++c)
            arguments << QStringLiteral("--") + QLatin1String(Cameras::lowerName(c)) << card(c);
        return arguments + QStringList{QStringLiteral("--target"), target()} + extra;
    }

    // The process is killed and waited for when the pointer goes, whichever way the test ends.
    std::unique_ptr<QProcess> launch(const QStringList &arguments,
                                     const QByteArray &faults = {}) const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("V7_STATE_DIR"), state());
        if (faults.isEmpty())
            env.remove(QStringLiteral("V7_OFFLOAD_FAULT"));
        else
            env.insert(QStringLiteral("V7_OFFLOAD_FAULT"), QString::fromLatin1(faults));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(QStringLiteral(V7TOOL), arguments);
        process->waitForStarted();
        return process;
    }

    static Run finish(const std::unique_ptr<QProcess> &process)
    {
        Run run;
        process->waitForFinished(120000);
        run.crashed = process->exitStatus() == QProcess::CrashExit;
        run.code = process->exitCode();
        run.output = process->readAll();
        return run;
    }

    Run tool(const QStringList &arguments, const QByteArray &faults = {}) const
    {
        return finish(launch(arguments, faults));
    }

    Run resume(const QByteArray &faults = {}) const
    {
        return tool({QStringLiteral("offload"), QStringLiteral("--resume")}, faults);
    }

    int filesDone(int c) const
    {
        return filesDoneIn(state() + QLatin1Char('/') + QLatin1String(Cameras::lowerName(c)) +
                           QStringLiteral(".log"));
    }

    void checkTarget(bool volumes = false) const
    {
        for (int c = 0; c < Cameras::Count; ++c)
            volumes ? checkArchives(card(c), copy(c)) : checkCopies(card(c), copy(c));
    }
};

// A tmpfs mounted for one test and unmounted whatever happens.
struct TmpfsMount
{
    QString path;
    bool mounted = false;
    TmpfsMount(const QString &where, const QByteArray &options)
        : path(where)
    {
        QDir().mkpath(path);
        mounted = ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0,
                          options.constData()) == 0;
    }
    bool remount(const QByteArray &options)
    {
        return ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_REMOUNT,
                       options.constData()) == 0;
    }
    void detach()
    {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
        mounted = false;
    }
    ~TmpfsMount() { detach(); }
};

} // namespace

class TestOffloadReliability : public QObject
{
    Q_OBJECT
private slots:
    void badArguments_data();
    void badArguments();
    void killedAtEachStep_data();
    void killedAtEachStep();
    void interruptThenResume();
    void pulledCard();
    void fullDisk();
    void taggedSortiesAcrossResume();
};

void TestOffloadReliability::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("no target") << QStringList({"--center", "."});
    QTest::newRow("no camera") << QStringList({"--target", "/tmp/x"});
    QTest::newRow("unknown option") << QStringList({"--center", ".", "--target", "x", "--fast"});
    QTest::newRow("missing value") << QStringList({"--center", ".", "--target"});
    QTest::newRow("bad unit") << QStringList(
        {"--center", ".", "--target", "x", "--volume-size", "1", "--unit", "KB"});
    QTest::newRow("negative size")
        << QStringList({"--center", ".", "--target", "x", "--volume-size", "-1"});
    QTest::newRow("password without volumes")
        << QStringList({"--center", ".", "--target", "x", "--password", "p"});
    QTest::newRow("card missing") << QStringList(
        {"--center", "/nonexistent/card", "--target", "x"});
    QTest::newRow("nothing to resume") << QStringList({"--resume"});
}

void TestOffloadReliability::badArguments()
{
    QFETCH(QStringList, arguments);
    Offload o;
    QDir().mkpath(o.state());
    const Run run = o.tool(QStringList({QStringLiteral("offload")}) + arguments);
    QVERIFY(!run.crashed);
    QCOMPARE(run.code, 2);
    QVERIFY2(!run.output.isEmpty(), "a reason is printed");
}

void TestOffloadReliability::killedAtEachStep_data()
{
    QTest::addColumn<QByteArray>("phase");
    QTest::addColumn<bool>("volumes");
    for (const char *phase : {"start", "opened", "written", "verified", "renamed", "listed"})
        QTest::addRow("plain, %s", phase) << QByteArray(phase) << false;
    for (const char *phase : {"opened", "written", "verified", "listed"})
        QTest::addRow("volumes, %s", phase) << QByteArray(phase) << true;
}

void TestOffloadReliability::killedAtEachStep()
{
    QFETCH(QByteArray, phase);
    QFETCH(bool, volumes);
    Offload o;
    QVERIFY(o.makeCards());
    const QStringList extra =
        volumes ? QStringList({"--volume-size", "0.03", "--unit", "MB"}) : QStringList();
    // The file in hand when the process died does not count. In plain mode the engine writes
    // two files ahead of the one it commits: dying while file n is read, n - 1 and n - 2 are
    // not counted either.
    const int behind = !volumes && (phase == "start" || phase == "opened") ? 2 : 0;
    Run run = o.tool(o.startArguments(extra), "0:3:" + phase + ":kill");
    QVERIFY2(run.crashed, run.output.constData());
    QCOMPARE(o.filesDone(0), 3 - behind);

    run = o.resume("0:8:" + phase + ":kill");
    QVERIFY2(run.crashed, run.output.constData());
    QCOMPARE(o.filesDone(0), 8 - behind);

    run = o.resume();
    QVERIFY2(!run.crashed && run.code == 0, run.output.constData());
    QVERIFY(run.output.contains("complete: 60 files"));
    // Progress: files done of total and speed per camera. The time left is not looked at: a
    // resume that ends at once has no pace to tell it from.
    QVERIFY2(QRegularExpression(QStringLiteral("Center 12/12 [0-9]+\\.[0-9] MB/s .*Back 12/12 "
                                               "[0-9]+\\.[0-9] MB/s "))
                 .match(QString::fromUtf8(run.output))
                 .hasMatch(),
             run.output.constData());
    o.checkTarget(volumes);
    // Finished: nothing left to resume.
    QCOMPARE(o.resume().code, 2);
}

void TestOffloadReliability::interruptThenResume()
{
    Offload o;
    QVERIFY(o.makeCards());
    const auto process =
        o.launch(o.startArguments({"--volume-size", "0.05", "--unit", "MB", "--password", "pw"}),
                 "0:3:start:wait");
    QVERIFY(waitFor([&] { return o.filesDone(0) >= 3; }));
    ::kill(pid_t(process->processId()), SIGINT);
    Run run = Offload::finish(process);
    QVERIFY(!run.crashed);
    QCOMPARE(run.code, 128 + SIGINT);
    QVERIFY2(run.output.contains("paused"), run.output.constData());
    const QByteArray config = fileBytes(o.state() + QStringLiteral("/Taskconfig.xml"));
    QVERIFY2(config.contains("<center path=\"" + QFile::encodeName(o.card(0)) +
                             "\" plancount=\"12\" hascount=\"3\""),
             config.constData());
    QVERIFY(config.contains("<tasksuccess flag=\"false\"/>"));

    // Volumes and password are taken from the saved set-up: the archives must have them.
    run = o.resume();
    QVERIFY2(run.code == 0, run.output.constData());
    QVERIFY(fileBytes(o.state() + QStringLiteral("/Taskconfig.xml"))
                .contains("<tasksuccess flag=\"true\"/>"));
    const QString password = QStringLiteral("pw");
    for (int c = 0; c < Cameras::Count; ++c)
        checkArchives(o.card(c), o.copy(c), &password);
}

void TestOffloadReliability::pulledCard()
{
    Offload o;
    QVERIFY(o.makeCards());
    const QString release = o.dir.filePath(QStringLiteral("release"));
    const QString master = o.dir.filePath(QStringLiteral("master"));
    QVERIFY(QDir().rename(o.card(2), master));
    // As root the card is a file system of its own that is unmounted under the engine's feet;
    // otherwise its folder is moved away.
    std::unique_ptr<TmpfsMount> mount;
    auto insertCard = [&] {
        if (::geteuid() != 0)
            return QDir().rename(master, o.card(2));
        mount = std::make_unique<TmpfsMount>(o.card(2), "size=16m");
        return mount->mounted && runIn(o.dir.path(), QStringLiteral("cp"),
                                       {QStringLiteral("-a"), master + "/.", o.card(2)}) == 0;
    };
    QVERIFY(insertCard());
    const auto process =
        o.launch(o.startArguments(), "2:5:written:wait:" + QFile::encodeName(release));
    QVERIFY(waitFor([&] { return o.filesDone(2) >= 5; }));
    if (mount)
        mount->detach();
    else
        QVERIFY(QDir().rename(o.card(2), master));
    QFile(release).open(QIODevice::WriteOnly);
    Run run = Offload::finish(process);
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains("Right: open "), run.output.constData());
    // The copies made before the card went stay counted; the camera stopped at the first file
    // it could not open.
    QVERIFY(o.filesDone(2) >= 5 && o.filesDone(2) < PhotosPerCard);
    // The other cameras went on to the end.
    for (int c : {0, 1, 3, 4})
        QCOMPARE(o.filesDone(c), PhotosPerCard);

    QVERIFY(insertCard()); // the card is back
    run = o.resume();
    QVERIFY2(run.code == 0, run.output.constData());
    o.checkTarget();
}

void TestOffloadReliability::fullDisk()
{
    if (::geteuid() != 0)
        QSKIP("a size-limited file system needs root (tmpfs mount); not run");
    Offload o;
    QVERIFY(o.makeCards());
    qint64 total = 0;
    for (int c = 0; c < Cameras::Count; ++c) {
        for (const QString &file : filesBelow(o.card(c)))
            total += QFileInfo(o.card(c) + QLatin1Char('/') + file).size();
    }
    // Room for about half of the photos.
    TmpfsMount disk(o.target(), "size=" + QByteArray::number(total / 2 / 1024) + "k");
    QVERIFY(disk.mounted);
    Run run = o.tool(o.startArguments());
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains("No space left on device"), run.output.constData());
    int done = 0;
    for (int c = 0; c < Cameras::Count; ++c) {
        // What counts as done is there and verified; nothing partial is left behind.
        done += o.filesDone(c);
        QStringList copied = filesBelow(o.copy(c));
        copied.removeOne(QString::fromLatin1(ChecksumList::FileName));
        QVERIFY2(copied.size() == o.filesDone(c),
                 qPrintable(QStringLiteral("%1 counted, found: %2")
                                .arg(o.filesDone(c))
                                .arg(copied.join(QLatin1Char(' ')))));
        for (const QString &file : copied)
            QCOMPARE(fileBytes(o.copy(c) + QLatin1Char('/') + file),
                     fileBytes(o.card(c) + QLatin1Char('/') + file));
        // A line the full disk did not take is made on resume; the lines there are right.
        const QByteArray list = fileBytes(o.copy(c) + QLatin1Char('/') + ChecksumList::FileName);
        QVERIFY(list.count('\n') <= o.filesDone(c));
        if (!list.isEmpty())
            checkList(o.copy(c), int(list.count('\n')));
    }
    QVERIFY(done < Cameras::Count * PhotosPerCard);

    QVERIFY(disk.remount("size=" + QByteArray::number(total * 2 / 1024 + 1024) + "k"));
    run = o.resume();
    QVERIFY2(run.code == 0, run.output.constData());
    o.checkTarget();
}

// Two POS tables, split into sorties, killed halfway and resumed: every photo carries the
// position of its own record (photo i, record i of the tables taken as one list) and lands in
// the folder of its sortie; each block file lists its sortie's photos of all five cameras.
// Tagging runs on five threads at once here.
void TestOffloadReliability::taggedSortiesAcrossResume()
{
    Offload o;
    QVERIFY(o.makeCards());
    const int sizes[2] = {7, 5};
    QStringList tables;
    int record = 0;
    for (int t = 0; t < 2; ++t) {
        QString text =
            QStringLiteral("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tTime\tSpeed\n");
        for (int i = 0; i < sizes[t]; ++i, ++record)
            text += QStringLiteral("%1\t%2\t%3\t%4\t0\t0\t0\t0\t5.0\t2024/05/0%5 10:00:%6\n")
                        .arg(i + 1)
                        .arg(113.0 + record / 100.0, 0, 'f', 6)
                        .arg(23.0 + record / 100.0, 0, 'f', 6)
                        .arg(100 + record)
                        .arg(t + 1)
                        .arg(i, 2, 10, QLatin1Char('0'));
        tables << o.dir.filePath(QStringLiteral("pos%1.xls").arg(t + 1));
        QVERIFY(writeFile(tables.last(), text.toUtf8()));
    }
    Run run = o.tool(o.startArguments({"--pos", tables[0], "--pos", tables[1], "--split-sorties"}),
                     "3:6:written:kill");
    QVERIFY2(run.crashed, run.output.constData());
    run = o.resume();
    QVERIFY2(run.code == 0, run.output.constData());
    QVERIFY2(run.output.contains("2 block files written"), run.output.constData());
    // The report of the resumed offload counts every photo, the first run's included.
    QVERIFY2(
        run.output.contains("report: " + QFile::encodeName(o.target()) + "/offload-report.html\n"),
        run.output.constData());
    const QJsonArray reported =
        QJsonDocument::fromJson(fileBytes(o.target() + QStringLiteral("/offload-report.json")))
            .object()
            .value("cameras")
            .toArray();
    QCOMPARE(reported.size(), Cameras::Count);
    for (const QJsonValue &camera : reported) {
        QCOMPARE(camera["copied"].toInt(), PhotosPerCard);
        QCOMPARE(camera["matched"].toInt(), PhotosPerCard);
    }

    for (int c = 0; c < Cameras::Count; ++c) {
        checkList(o.copy(c), PhotosPerCard);
        // Card order: "100MEDIA/..." first, then DSC00001... without the sub-folder's photos.
        const QStringList cardOrder = filesBelow(o.card(c));
        QStringList expected = {QString::fromLatin1(ChecksumList::FileName)};
        for (int i = 0; i < PhotosPerCard; ++i) {
            const QString copy = QStringLiteral("第%1架次/").arg(i < 7 ? 1 : 2) + cardOrder[i];
            // Record i as the table gives it; five cameras tag at once, and each copy must be
            // the photo tagged on its own, byte for byte.
            const GeoPosition at{QString::number(23.0 + i / 100.0, 'f', 6).toDouble(),
                                 QString::number(113.0 + i / 100.0, 'f', 6).toDouble(), 100.0 + i};
            QByteArray tagged;
            QVERIFY(Geotag::tagBuffer(fileBytes(o.card(c) + QLatin1Char('/') + cardOrder[i]),
                                      PhotoTagStep::FocalLengthMm, at, &tagged, nullptr));
            QVERIFY2(fileBytes(o.copy(c) + QLatin1Char('/') + copy) == tagged, qPrintable(copy));
            expected << copy;
        }
        expected.sort();
        QCOMPARE(filesBelow(o.copy(c)), expected);
    }
    for (int sortie = 1; sortie <= 2; ++sortie) {
        const QByteArray block =
            fileBytes(o.target() + QStringLiteral("/第%1架次.xml").arg(sortie));
        QCOMPARE(block.count("<Photogroup>"), qsizetype(Cameras::Count));
        QCOMPARE(block.count("<Photo>"), qsizetype(Cameras::Count * sizes[sortie - 1]));
    }
}

QTEST_GUILESS_MAIN(TestOffloadReliability)
#include "tst_offloadreliability.moc"
