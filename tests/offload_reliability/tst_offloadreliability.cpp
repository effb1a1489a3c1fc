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

// The left card as an exFAT image on a loop device mounted with the FUSE driver, whose one
// photo can be made unreadable: its cluster chain is cut in the file allocation table, so the
// driver answers a read past its first clusters with an I/O error while the folder lists as
// before. Unmounted and detached whatever happens.
struct DamagedCard
{
    QString image;
    QString device;
    QString mountRoot;
    bool mounted = false;
    qint64 fatOffset = -1; // of the entry that is cut
    quint32 entry = 0;     // its value before

    bool attach(QString *error)
    {
        QByteArray out;
        if (runIn(QDir::rootPath(), "losetup", {"--find", "--show", image}, &out) != 0)
            return (*error = QString::fromUtf8(out), false);
        device = QString::fromUtf8(out).trimmed();
        mounted = runIn(QDir::rootPath(), "mount.exfat-fuse", {device, mountRoot}, &out) == 0;
        if (!mounted)
            *error = QString::fromUtf8(out);
        return mounted;
    }
    void detach()
    {
        if (mounted)
            runIn(QDir::rootPath(), "umount", {"-l", mountRoot});
        if (!device.isEmpty())
            runIn(QDir::rootPath(), "losetup", {"-d", device});
        mounted = false;
        device.clear();
    }
    ~DamagedCard() { detach(); }

    // Cuts (or mends) the chain of the file holding marker at the start of one of its clusters.
    bool cut(const QByteArray &marker, bool mend)
    {
        detach(); // nothing cached between the image and the driver
        QFile file(image);
        if (!file.open(QIODevice::ReadWrite))
            return false;
        QByteArray disk = file.readAll();
        const auto *d = reinterpret_cast<const uchar *>(disk.constData());
        const qint64 sector = qint64(1) << d[108];
        const qint64 cluster = sector << d[109];
        const qint64 fat = qFromLittleEndian<quint32>(d + 80) * sector;
        const qint64 heap = qFromLittleEndian<quint32>(d + 88) * sector;
        if (!mend) {
            const qint64 at = disk.indexOf(marker);
            if (at < heap || (at - heap) % cluster != 0)
                return false;
            const quint32 next = quint32((at - heap) / cluster + 2);
            for (qint64 e = fat + 8; e + 4 <= heap && fatOffset < 0; e += 4) {
                if (qFromLittleEndian<quint32>(d + e) == next)
                    fatOffset = e;
            }
            if (fatOffset < 0)
                return false;
            entry = qFromLittleEndian<quint32>(d + fatOffset);
        }
        uchar value[4];
        qToLittleEndian<quint32>(mend ? entry : 0xFFFFFFF7u, value); // "bad cluster"
        return file.seek(fatOffset) && file.write(reinterpret_cast<char *>(value), 4) == 4 &&
               file.flush();
    }
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
    void passedOver_data();
    void passedOver();
    void unreadableOnCard();
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

void TestOffloadReliability::passedOver_data()
{
    QTest::addColumn<bool>("volumes");
    QTest::newRow("plain") << false;
    QTest::newRow("volumes") << true;
}

// The left card holds photos two folders deep and one whose path is too long for the engine's
// list, and its fifth photo cannot be read. The rest of the card is copied, the two are named,
// exit 1; a resume copies the unreadable one and names the skipped one again.
void TestOffloadReliability::passedOver()
{
    QFETCH(bool, volumes);
    Offload o;
    QVERIFY(o.makeCards());
    const QString left = o.card(1);
    QVERIFY(makeCard(left + QStringLiteral("/DCIM/100V7"), 2, 0, 3));
    const QString tooLong = QStringLiteral("DCIM/") + QString(120, QLatin1Char('d')) +
                            QLatin1Char('/') + QString(140, QLatin1Char('n')) +
                            QStringLiteral(".JPG");
    QVERIFY(QDir().mkpath(QFileInfo(left + '/' + tooLong).path()));
    QVERIFY(QFile::copy(samplePhotos().first(), left + '/' + tooLong));
    QStringList expected = filesBelow(left);
    QVERIFY(expected.removeOne(tooLong));
    QCOMPARE(expected.size(), PhotosPerCard + 2);
    const QString unreadable = expected.at(4);
    const QStringList extra =
        volumes ? QStringList({"--volume-size", "0.03", "--unit", "MB"}) : QStringList();

    Run run = o.tool(o.startArguments(extra), "1:4:opened:eio");
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains("Left: failed: " + unreadable.toUtf8() +
                                 ": read " + QFile::encodeName(left + '/' + unreadable) +
                                 " file error: Input/output error."),
             run.output.constData());
    QVERIFY2(run.output.contains("Left: skipped: " + tooLong.toUtf8() + ": "),
             run.output.constData());
    QVERIFY(fileBytes(o.state() + QStringLiteral("/Taskconfig.xml"))
                .contains("plancount=\"14\" hascount=\"13\""));
    for (int c : {0, 2, 3, 4})
        volumes ? checkArchives(o.card(c), o.copy(c)) : checkCopies(o.card(c), o.copy(c));

    auto leftCopies = [&] {
        QStringList entries;
        if (!volumes) {
            entries = filesBelow(o.copy(1));
            entries.removeOne(QString::fromLatin1(ChecksumList::FileName));
            checkList(o.copy(1), int(entries.size()));
            for (const QString &file : entries) {
                if (fileBytes(o.copy(1) + '/' + file) != fileBytes(left + '/' + file))
                    return QStringList{QStringLiteral("differs: ") + file};
            }
            return entries;
        }
        for (const QString &archive : QDir(o.copy(1)).entryList({QStringLiteral("pack*.zip")})) {
            QByteArray output;
            if (runIn(o.copy(1), QStringLiteral("unzip"), {QStringLiteral("-tq"), archive}) != 0)
                return QStringList{QStringLiteral("broken: ") + archive};
            runIn(o.copy(1), QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive}, &output);
            entries += QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts);
        }
        entries.sort();
        return entries;
    };
    QStringList copied = expected;
    copied.removeOne(unreadable);
    QCOMPARE(leftCopies(), copied);

    run = o.resume();
    QCOMPARE(run.code, 1);
    QVERIFY2(!run.output.contains("failed:"), run.output.constData());
    QVERIFY2(run.output.contains("Left: skipped: " + tooLong.toUtf8()), run.output.constData());
    QVERIFY2(run.output.contains("complete: 62 files"), run.output.constData());
    QCOMPARE(leftCopies(), expected);
    // Nothing a resume could still do: not offered again.
    QCOMPARE(o.resume().code, 2);
}

// One photo on a real card reads with an I/O error: every other photo is copied, the photo is
// named with the error, exit 1; once the card reads again, a resume copies just that photo.
void TestOffloadReliability::unreadableOnCard()
{
    if (::geteuid() != 0)
        QSKIP("a loop device and a FUSE mount need root; not run");
    for (const char *tool : {"losetup", "mkfs.exfat", "mount.exfat-fuse"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty() &&
            !QFileInfo::exists(QStringLiteral("/usr/sbin/") + QLatin1String(tool)))
            QSKIP(qPrintable(QStringLiteral("%1 is not installed; not run").arg(tool)));
    }
    Offload o;
    QVERIFY(o.makeCards());
    const QString staged = o.dir.filePath(QStringLiteral("staged"));
    QVERIFY(QDir().rename(o.card(1), staged));
    DamagedCard card;
    card.image = o.dir.filePath(QStringLiteral("left.img"));
    card.mountRoot = o.card(1);
    QVERIFY(QDir().mkpath(card.mountRoot));
    QVERIFY(QFile(card.image).open(QIODevice::WriteOnly) && QFile::resize(card.image, 32 << 20));
    QVERIFY(runIn(o.dir.path(), "mkfs.exfat", {"-L", "Left", card.image}) == 0);
    QString error;
    QVERIFY2(card.attach(&error), qPrintable(error));
    QVERIFY(runIn(o.dir.path(), "cp", {"-r", staged + "/.", card.mountRoot}) == 0);
    // The photo grows after the others were written, so its new clusters lie apart and form a
    // chain: padded to whole clusters, then a marked one.
    const QString victim = QStringLiteral("DSC00004.JPG");
    const QByteArray marker = "V7-UNREADABLE-CLUSTER";
    {
        QFile photo(card.mountRoot + '/' + victim);
        QVERIFY(photo.open(QIODevice::Append));
        const qint64 pad = (4096 - photo.size() % 4096) % 4096;
        QVERIFY(photo.write(QByteArray(pad, '\0') + marker + QByteArray(8000, 'm')) > 0);
    }
    QVERIFY(card.cut(marker, false));
    QVERIFY2(card.attach(&error), qPrintable(error));
    QVERIFY(QFileInfo(card.mountRoot + '/' + victim).size() > 8000);

    Run run = o.tool(o.startArguments());
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains("Left: failed: " + victim.toUtf8() + ": read ") &&
                 run.output.contains("Input/output error"),
             run.output.constData());
    for (int c : {0, 2, 3, 4})
        checkCopies(o.card(c), o.copy(c));
    QStringList copied = filesBelow(o.copy(1));
    QStringList expected = filesBelow(staged);
    QVERIFY(expected.removeOne(victim));
    QVERIFY(copied.removeOne(QString::fromLatin1(ChecksumList::FileName)));
    QCOMPARE(copied, expected);
    checkList(o.copy(1), int(expected.size()));

    QVERIFY(card.cut(marker, true));
    QVERIFY2(card.attach(&error), qPrintable(error));
    run = o.resume();
    QVERIFY2(run.code == 0, run.output.constData());
    QVERIFY2(run.output.contains("complete: 60 files"), run.output.constData());
    o.checkTarget();
}

QTEST_GUILESS_MAIN(TestOffloadReliability)
#include "tst_offloadreliability.moc"
