// v7tool offload under faults: killed at every step of a file and resumed, killed from
// outside, paused by SIGINT, a card pulled, the target disk full. Every time the end state
// must be the cards' files exactly, verified, none missing, none doubled, nothing partial.
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cardrig.h"
#include "checksumlist.h"
#include "flightreport.h"
#include "geotag.h"
#include "offloadfixture.h"
#include "phototagstep.h"
#include "plaincopy.h"
#include "taskconfig.h"

using namespace OffloadFixture;

namespace {

constexpr int PhotosPerCard = 12;
// Zip volumes of about 30 KB: a card's photos fill several.
const QStringList kSmallVolumes = {"--volume-size", "0.03", "--unit", "MB"};

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
    QString mediaRoot; // V7_MEDIA_ROOT of the tool, when set
    QString limits;    // ulimit options the tool runs under
    bool outputClosed = false; // its standard output a pipe nobody reads (`| head -1`)
    QString password;          // of the archives, when set
    QStringList roots;         // a card's folder other than cards/CAMERA, by camera
    QString card(int c) const
    {
        return roots.value(c).isEmpty() ? dir.filePath(QStringLiteral("cards/") + cameraName(c))
                                        : roots.value(c);
    }
    QString target() const { return dir.filePath(QStringLiteral("target")); }
    QString copy(int c) const { return target() + QLatin1Char('/') + cameraName(c); }
    QString state() const { return dir.filePath(QStringLiteral("state")); }
    QString backup; // --backup, when set (on another file system than target)
    QString backupCopy(int c) const { return backup + QLatin1Char('/') + cameraName(c); }
    std::unique_ptr<QTemporaryDir> backupDisk;

    // A backup on another file system than the tests' folders: a tmpfs, which the engine takes
    // for a disk of its own. false without one.
    bool useBackup()
    {
        backupDisk = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/v7backup-XXXXXX"));
        backup = backupDisk->filePath(QStringLiteral("backup"));
        return backupDisk->isValid();
    }

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
        arguments << QStringLiteral("--target") << target();
        if (!backup.isEmpty())
            arguments << QStringLiteral("--backup") << backup;
        return arguments + extra;
    }

    // The process is killed and waited for when the pointer goes, whichever way the test ends.
    std::unique_ptr<QProcess> launch(const QStringList &arguments, const QByteArray &faults = {},
                                     const QString &stateFolder = {}) const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("V7_STATE_DIR"), stateFolder.isEmpty() ? state() : stateFolder);
        if (!mediaRoot.isEmpty())
            env.insert(QStringLiteral("V7_MEDIA_ROOT"), mediaRoot);
        // The tool runs in a folder of its own: a resume must never write where it stands.
        QDir().mkpath(dir.filePath(QStringLiteral("cwd")));
        process->setWorkingDirectory(dir.filePath(QStringLiteral("cwd")));
        env.insert(QStringLiteral("V7_OFFLOAD_FAULT"), QString::fromLatin1(faults)); // empty: none
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        if (outputClosed) {
            process->setChildProcessModifier([] {
                int ends[2];
                if (::pipe(ends) == 0)
                    ::close(ends[0]), ::dup2(ends[1], STDOUT_FILENO), ::close(ends[1]);
            });
        }
        if (limits.isEmpty())
            process->start(QStringLiteral(V7TOOL), arguments);
        else
            process->start(
                "sh", QStringList{"-c", "ulimit " + limits + " && exec \"$0\" \"$@\"", V7TOOL} +
                          arguments);
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

    Run resume(const QByteArray &faults = {}, const QStringList &extra = {}) const
    {
        return tool(QStringList{QStringLiteral("offload"), QStringLiteral("--resume")} + extra,
                    faults);
    }

    QString stateFile(const QString &name) const { return state() + QLatin1Char('/') + name; }
    QString taskFile(int c) const
    {
        return stateFile(QLatin1String(Cameras::lowerName(c)) + QStringLiteral(".log"));
    }

    int filesDone(int c) const { return filesDoneIn(taskFile(c)); }

    // A run held before the file at "camera:index:phase" until release(); null if it never got
    // there.
    QString released() const { return dir.filePath(QStringLiteral("release")); }
    std::unique_ptr<QProcess> held(const QStringList &arguments, const QByteArray &at) const
    {
        auto process = launch(arguments, at + ":wait:" + QFile::encodeName(released()));
        if (!waitFor([&] { return QFile::exists(released() + ".held"); }))
            return nullptr;
        return process;
    }
    Run release(const std::unique_ptr<QProcess> &process) const
    {
        writeFile(released(), "go");
        return finish(process);
    }

    // All the cards' bytes.
    qint64 cardBytes() const
    {
        qint64 total = 0;
        for (int c = 0; c < Cameras::Count; ++c) {
            for (const QString &file : filesBelow(card(c)))
                total += QFileInfo(card(c) + QLatin1Char('/') + file).size();
        }
        return total;
    }

    // The cards' copies in the target, or in the backup, which holds what the target does, byte
    // for byte, its own lists passing xxhsum -c.
    void checkTarget(bool volumes = false, bool backup = false) const
    {
        const QString *pw = password.isEmpty() ? nullptr : &password;
        for (int c = 0; c < Cameras::Count; ++c) {
            const QString folder = backup ? backupCopy(c) : copy(c);
            volumes ? checkArchives(card(c), folder, pw) : checkCopies(card(c), folder);
            for (const QString &file : backup ? filesBelow(copy(c)) : QStringList())
                QVERIFY2(fileBytes(copy(c) + '/' + file) == fileBytes(folder + '/' + file),
                         qPrintable(file));
        }
    }
};

// Fills the file system of folder up to leave bytes of room.
bool fillUp(const QString &folder, qint64 leave)
{
    QFile filler(folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'x');
    while (filler.write(block) > 0)
        continue;
    return filler.resize(std::max<qint64>(0, filler.size() - leave));
}

// A POS table of count records one second apart, positions numbered on from record first.
bool writePosTable(const QString &path, int count, int first = 0, int day = 1)
{
    QString text = QStringLiteral("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\n");
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("%1\t%2\t%3\t%4\t0\t0\t0\t0\t5.0\t2024/05/0%5 10:00:%6\n")
                    .arg(i + 1)
                    .arg(113.0 + (first + i) / 100.0, 0, 'f', 6)
                    .arg(23.0 + (first + i) / 100.0, 0, 'f', 6)
                    .arg(100 + first + i)
                    .arg(day)
                    .arg(i, 2, 10, QLatin1Char('0'));
    return writeFile(path, text.toUtf8());
}

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
    ~TmpfsMount()
    {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
};

// As root, a card as an exFAT image on a loop device under the FUSE driver, one of whose photos
// reads with an I/O error: its cluster chain is cut in the allocation table, the folder lists as
// before. Unmounted and detached whatever happens.
struct DamagedCard
{
    QString image, device, root;
    qint64 entryAt = -1; // the cut entry of the allocation table and its value before
    quint32 entry = 0;
    QString mounter = QStringLiteral("mount.exfat-fuse"); // "mount" for a kernel file system

    static bool sh(const QStringList &command, QByteArray *out = nullptr)
    {
        return runIn(QDir::rootPath(), command.first(), command.mid(1), out) == 0;
    }
    bool attach()
    {
        QByteArray out;
        if (!sh({"losetup", "--find", "--show", image}, &out))
            return false;
        device = QString::fromUtf8(out).trimmed();
        return sh({mounter, device, root});
    }
    void detach()
    {
        if (!device.isEmpty())
            sh({"umount", "-l", root}), sh({"losetup", "-d", device});
        device.clear();
    }
    ~DamagedCard() { detach(); }
    // An empty file system made by mkfs on a new image of megabytes, mounted at root.
    bool format(const QStringList &mkfs, int megabytes = 32)
    {
        return QFile(image).open(QIODevice::WriteOnly) &&
               QFile::resize(image, qint64(megabytes) << 20) && sh(mkfs + QStringList{image}) &&
               QDir().mkpath(root) && attach();
    }
    // A card holding files' copies, with victim grown by a marked cluster after them all.
    bool make(const QString &files, const QString &victim)
    {
        QFile file(root + '/' + victim);
        if (!format({"mkfs.exfat"}) || !sh({"cp", "-r", files + "/.", root}) ||
            !file.open(QIODevice::Append))
            return false;
        const qint64 pad = (4096 - file.size() % 4096) % 4096; // clusters of 4 KB
        return file.write(QByteArray(pad, 0) + "V7-CUT-HERE" + QByteArray(8000, 'm')) > 0;
    }
    // Cuts the chain before the marked cluster, or mends it again.
    bool cut(bool mend)
    {
        detach(); // nothing cached between the image and the driver
        QFile file(image);
        if (!file.open(QIODevice::ReadWrite))
            return false;
        const QByteArray disk = file.readAll();
        const auto *d = reinterpret_cast<const uchar *>(disk.constData());
        const qint64 sector = qint64(1) << d[108];
        const qint64 fat = qFromLittleEndian<quint32>(d + 80) * sector;
        const qint64 heap = qFromLittleEndian<quint32>(d + 88) * sector;
        const quint32 marked = quint32((disk.indexOf("V7-CUT-HERE") - heap) / (sector << d[109]) + 2);
        for (qint64 e = fat + 8; e < heap && entryAt < 0; e += 4) {
            if (qFromLittleEndian<quint32>(d + e) == marked)
                entryAt = e, entry = marked;
        }
        const quint32 value = qToLittleEndian<quint32>(mend ? entry : 0xFFFFFFF7u); // "bad"
        return entryAt > 0 && file.seek(entryAt) &&
               file.write(reinterpret_cast<const char *>(&value), 4) == 4 && file.flush() &&
               (file.close(), attach());
    }
};

// Flips the byte at of path (from its end when negative) as a file system or a disk fault would.
bool flipByte(const QString &path, qint64 at)
{
    QFile file(path);
    char byte = 0;
    if (!file.open(QIODevice::ReadWrite) || !file.seek(at < 0 ? file.size() + at : at) ||
        !file.getChar(&byte) || !file.seek(file.pos() - 1))
        return false;
    return file.putChar(char(~byte)) && file.flush();
}

// Where byte at of path lies on its file system's device (synced first); -1 when unknown.
qint64 diskOffset(const QString &path, qint64 at)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    int size = 0;
    int block = 0;
    if (fd >= 0 && ::fsync(fd) == 0 && ::ioctl(fd, FIGETBSZ, &size) == 0 && size > 0) {
        block = int(at / size);
        if (::ioctl(fd, FIBMAP, &block) != 0)
            block = 0;
    }
    if (fd >= 0)
        ::close(fd);
    return block > 0 ? qint64(block) * size + at % size : -1;
}

} // namespace

class TestOffloadReliability : public QObject
{
    Q_OBJECT
private slots:
    void badArguments_data();
    void badArguments();
    void killedAtEachStep_data();
    void killedAtEachStep();
    void pulledCard();
    void fullDisk_data();
    void fullDisk();
    void backupTrouble_data();
    void backupTrouble();
    void taggedSortiesAcrossResume_data();
    void taggedSortiesAcrossResume();
    void passedOver_data();
    void passedOver();
    void staleTaskFilesAfterKill();
    void fullStateFolder();
    void twoRunsAtOnce();
    void damagedOrAlteredState_data();
    void damagedOrAlteredState();
    void cardIdentity_data();
    void cardIdentity();
    void readBackFromTheDisk();
    void boundedResources_data();
    void boundedResources();
    void exfatTarget_data();
    void exfatTarget();
    void changingCard_data();
    void changingCard();
    void rerunSkipsVerified_data();
    void rerunSkipsVerified();
};

void TestOffloadReliability::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    const auto args = [](const char *text) {
        return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    // "@" names the offload's own card and target, and the like (see below).
    const auto onCard = [&](const char *text) {
        return args("--center @card --target @target") + args(text);
    };
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("no target") << args("--center .");
    QTest::newRow("no camera") << args("--target /tmp/x");
    QTest::newRow("unknown option") << args("--center . --target x --fast");
    QTest::newRow("missing value") << args("--center . --target");
    QTest::newRow("bad unit") << args("--center . --target x --volume-size 1 --unit KB");
    QTest::newRow("negative size") << args("--center . --target x --volume-size -1");
    QTest::newRow("password without volumes") << args("--center . --target x --password p");
    QTest::newRow("card missing") << args("--center /nonexistent/card --target x");
    QTest::newRow("nothing to resume") << args("--resume");
    // A --pos table that is not one: refused before anything is copied.
    QTest::newRow("POS table missing") << onCard("--pos /nonexistent/t.xls");
    QTest::newRow("POS table of binary garbage") << (onCard("--pos") << V7TOOL);
    QTest::newRow("volume size not a number") << onCard("--volume-size nan");
    QTest::newRow("volume size infinite") << onCard("--volume-size inf");
    QTest::newRow("volume size -0") << onCard("--volume-size -0");
    QTest::newRow("target too long for the task record")
        << args("--center @card --target") + QStringList{"@target/" + QString(240, 'x')};
    // Folders that overlap ("@link" is a symbolic link to the card; "@volume" a mounted card).
    QTest::newRow("target inside a card") << args("--center @card --target @card/copies");
    QTest::newRow("card inside the target") << args("--center @card --target @card/../..");
    QTest::newRow("target is a card, through a link") << args("--center @card --target @link");
    QTest::newRow("one folder for two cameras") << onCard("--left @link/");
    QTest::newRow("target on the card's volume")
        << args("--center @volume/DCIM --target @volume/backup");
    // A second copy on the first one's disk, or among the cards, is no second copy.
    QTest::newRow("backup on the target's disk") << onCard("--backup @dir/second");
    QTest::newRow("backup is the target") << onCard("--backup @target");
    QTest::newRow("backup inside a card") << onCard("--backup @card/b");
    QTest::newRow("backup given to a resume") << args("--resume --backup @dir/b");
}

void TestOffloadReliability::badArguments()
{
    QFETCH(QStringList, arguments);
    Offload o;
    QDir().mkpath(o.state());
    QVERIFY(makeCard(o.card(0), 2, 0, 0));
    QVERIFY(QFile::link(o.card(0), o.dir.filePath(QStringLiteral("link"))));
    DamagedCard volume{o.dir.filePath(QStringLiteral("card.img")), {}, o.dir.filePath("volume")};
    if (arguments.join(' ').contains(QStringLiteral("@volume"))) {
        if (::geteuid() != 0)
            QSKIP("a card volume needs root (loop device, exFAT); not run");
        QVERIFY(volume.format({"mkfs.exfat"}) &&
                makeCard(volume.root + QStringLiteral("/DCIM"), 2));
    }
    arguments.replaceInStrings(QStringLiteral("@card"), o.card(0));
    arguments.replaceInStrings(QStringLiteral("@target"), o.target());
    arguments.replaceInStrings(QStringLiteral("@link"), o.dir.filePath(QStringLiteral("link")));
    arguments.replaceInStrings(QStringLiteral("@volume"), volume.root);
    arguments.replaceInStrings(QStringLiteral("@dir"), o.dir.path());
    // Refused before anything is made or written, anywhere.
    QDir().mkpath(o.dir.filePath(QStringLiteral("cwd")));
    const auto everything = [&] {
        QStringList found;
        QDirIterator it(o.dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next() + QLatin1Char(' ') + QString::number(it.fileInfo().size());
        found.sort();
        return found;
    };
    const QStringList before = everything();
    const Run run = o.tool(QStringList({QStringLiteral("offload")}) + arguments);
    QVERIFY(!run.crashed);
    QCOMPARE(run.code, 2);
    QVERIFY2(!run.output.isEmpty(), "a reason is printed");
    QVERIFY2(everything() == before, run.output.constData());
    // A refused backup is named with the folder it was weighed against.
    const qsizetype backup = arguments.indexOf(QStringLiteral("--backup"));
    if (backup >= 0 && !arguments.contains(QStringLiteral("--resume")))
        QVERIFY2(run.output.contains(QFile::encodeName(arguments.at(backup + 1))) &&
                     (run.output.contains(QFile::encodeName(o.target())) ||
                      run.output.contains(QFile::encodeName(o.card(0)))),
                 run.output.constData());
}

void TestOffloadReliability::killedAtEachStep_data()
{
    QTest::addColumn<QByteArray>("phase");
    QTest::addColumn<bool>("volumes");
    QTest::addColumn<int>("small"); // tiny files added to the centre card, the runs die among them
    QTest::addColumn<bool>("backup"); // a second target on another file system
    for (const char *phase : {"start", "opened", "written", "verified", "renamed", "listed"})
        QTest::addRow("plain, %s", phase) << QByteArray(phase) << false << 0 << false;
    for (const char *phase : {"opened", "written", "verified", "listed"})
        QTest::addRow("volumes, %s", phase) << QByteArray(phase) << true << 0 << false;
    QTest::newRow("plain, many small files, mid-group")
        << QByteArray("renamed") << false << 200 << false;
    for (const char *phase : {"opened", "written", "verified", "renamed", "listed"})
        QTest::addRow("backup, plain, %s", phase) << QByteArray(phase) << false << 0 << true;
    for (const char *phase : {"written", "listed"})
        QTest::addRow("backup, volumes, %s", phase) << QByteArray(phase) << true << 0 << true;
    QTest::newRow("backup, many small files, mid-group")
        << QByteArray("renamed") << false << 200 << true;
}

void TestOffloadReliability::killedAtEachStep()
{
    QFETCH(QByteArray, phase);
    QFETCH(bool, volumes);
    QFETCH(int, small);
    QFETCH(bool, backup);
    // The files the two runs die at: among the small ones, mid-group, when there are any.
    const int first = small ? 150 : 3;
    const int second = small ? 170 : 8;
    Offload o;
    if (backup && !o.useBackup())
        QSKIP("no tmpfs at /dev/shm for the backup; not run");
    QVERIFY(o.makeCards());
    for (int i = 0; i < small; ++i)
        QVERIFY(writeFile(o.card(0) + QStringLiteral("/small/S%1.BIN").arg(i, 4, 10, QLatin1Char('0')),
                          QByteArray::number(i).repeated(40)));
    // Volumes and password are taken from the saved set-up on resume: the archives must have them.
    o.password = volumes ? QStringLiteral("pw") : QString();
    const QStringList extra =
        volumes ? kSmallVolumes + QStringList{"--password", o.password} : QStringList();
    // The file in hand when the process died does not count, nor does any before it that is not
    // yet on the disk: plain copies are counted a group at a time, at most two groups behind.
    const auto counted = [&](int done, int killed) {
        const int now = o.filesDone(0);
        return volumes ? now == killed
                       : now >= done && now <= killed && now >= killed - PlainCopy::InHand &&
                             (now - done) % PlainCopy::GroupFiles == 0;
    };
    Run run = o.tool(o.startArguments(extra), "0:" + QByteArray::number(first) + ":" + phase + ":kill");
    QVERIFY2(run.crashed, run.output.constData());
    const int done = o.filesDone(0);
    QVERIFY2(counted(0, first), qPrintable(QString::number(done)));
    // The backup follows each archive as it grows: cut short, it holds every archive as the
    // first target does, the last one under its partial name.
    const QStringList archives = QDir(o.copy(0)).entryList({QStringLiteral("pack*.zip")});
    for (const QString &name : backup && phase == "listed" ? archives : QStringList()) {
        const QString named = o.backupCopy(0) + '/' + name;
        QCOMPARE(fileBytes(QFileInfo::exists(named) ? named : o.backupCopy(0) + "/." + name + ".v7part"),
                 fileBytes(o.copy(0) + '/' + name));
    }

    run = o.resume("0:" + QByteArray::number(second) + ":" + phase + ":kill");
    // Killed while listing, the group's lines were all on the disk with their copies: the
    // resume takes those from the target and may not come to the second file at all.
    QVERIFY2(run.crashed || phase == "listed", run.output.constData());
    if (run.crashed) {
        QVERIFY2(counted(done, second), qPrintable(QString::number(o.filesDone(0))));
        run = o.resume();
    }
    QVERIFY2(!run.crashed && run.code == 0, run.output.constData());
    QVERIFY(run.output.contains("complete: " + QByteArray::number(60 + small) + " files"));
    // Progress: files done of total and speed per camera. The time left is not looked at: a
    // resume that ends at once has no pace to tell it from.
    const QString all = QString::number(PhotosPerCard + small);
    QVERIFY2(QRegularExpression(QStringLiteral("Center %1/%1 [0-9]+\\.[0-9] MB/s .*Back 12/12 "
                                               "[0-9]+\\.[0-9] MB/s ").arg(all))
                 .match(QString::fromUtf8(run.output))
                 .hasMatch(),
             run.output.constData());
    o.checkTarget(volumes);
    if (backup) {
        QVERIFY2(run.output.contains("backup complete: " + QFile::encodeName(o.backup)),
                 run.output.constData());
        o.checkTarget(volumes, true);
    }
    // Finished: nothing left to resume.
    QCOMPARE(o.resume().code, 2);
}

void TestOffloadReliability::pulledCard()
{
    // As root the card is an exFAT volume of its own, unmounted under the engine's feet;
    // otherwise its folder is moved away.
    CardRig rig(CardRig::unavailableReason(CardRig::Loop).isEmpty() ? CardRig::Loop
                                                                    : CardRig::MediaRoot);
    Offload o;
    QString error;
    const QString right = rig.plug(QStringLiteral("RIGHT"), &error);
    QVERIFY2(!right.isEmpty(), qPrintable(error));
    o.roots = QStringList{{}, {}, right};
    QVERIFY(o.makeCards());
    const auto process = o.held(o.startArguments(), "2:5:start");
    QVERIFY(process && rig.pull(o.card(2)));
    Run run = o.release(process);
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains("Right: open "), run.output.constData());
    // The copies made before the card went stay counted; the camera stopped at the first file
    // it could not open.
    QVERIFY(o.filesDone(2) >= 5 && o.filesDone(2) < PhotosPerCard);
    // The other cameras went on to the end.
    for (int c : {0, 1, 3, 4})
        QCOMPARE(o.filesDone(c), PhotosPerCard);

    QVERIFY(rig.replug(o.card(2))); // the card is back
    run = o.resume();
    QVERIFY2(run.code == 0, run.output.constData());
    o.checkTarget();
}

void TestOffloadReliability::fullDisk_data()
{
    QTest::addColumn<bool>("volumes");
    QTest::newRow("plain") << false;
    QTest::newRow("volumes") << true;
}

void TestOffloadReliability::fullDisk()
{
    QFETCH(bool, volumes);
    if (::geteuid() != 0)
        QSKIP("a size-limited file system needs root (tmpfs mount); not run");
    Offload o;
    QVERIFY(o.makeCards());
    const qint64 total = o.cardBytes();
    // Room for about half of the photos.
    TmpfsMount disk(o.target(), "size=" + QByteArray::number(total / 2 / 1024) + "k");
    QVERIFY(disk.mounted);
    Run run = o.tool(o.startArguments(volumes ? kSmallVolumes : QStringList()));
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains("No space left on device") &&
                 !run.output.contains("No such file or directory"),
             run.output.constData());
    int done = 0;
    for (int c = 0; c < Cameras::Count && !volumes; ++c) {
        // What counts as done is there and verified; nothing partial is left behind.
        done += o.filesDone(c);
        QStringList copied = filesBelow(o.copy(c));
        copied.removeOne(QString::fromLatin1(ChecksumList::FileName));
        QVERIFY2(copied.size() == o.filesDone(c),
                 qPrintable(QString::number(o.filesDone(c)) + " counted, found: " +
                            copied.join(' ')));
        for (const QString &file : copied)
            QCOMPARE(fileBytes(o.copy(c) + '/' + file), fileBytes(o.card(c) + '/' + file));
        // A line the full disk did not take is made on resume; the lines there are right.
        const QByteArray list = fileBytes(o.copy(c) + QLatin1Char('/') + ChecksumList::FileName);
        QVERIFY(list.count('\n') <= o.filesDone(c));
        if (!list.isEmpty())
            checkList(o.copy(c), int(list.count('\n')));
    }
    QVERIFY(volumes || done < Cameras::Count * PhotosPerCard);

    QVERIFY(disk.remount("size=" + QByteArray::number(total * 2 / 1024 + 1024) + "k"));
    run = o.resume();
    QVERIFY2(run.code == 0, run.output.constData());
    o.checkTarget(volumes);
}

// A backup that is missing when the offload is resumed, that goes while it copies, or that fills:
// the target is completed and verified all the same, and the run, its report and its exit code
// say the backup is incomplete. What the backup does hold is right.
void TestOffloadReliability::backupTrouble_data()
{
    QTest::addColumn<QByteArray>("trouble");
    QTest::addColumn<bool>("volumes");
    for (const char *trouble : {"missing at resume", "taken away", "full"}) {
        QTest::addRow("plain, %s", trouble) << QByteArray(trouble) << false;
        QTest::addRow("volumes, %s", trouble) << QByteArray(trouble) << true;
    }
    QTest::newRow("plain, a backup copy reads back wrong") << QByteArray("corrupt") << false;
    QTest::newRow("volumes, a followed archive reads back wrong") << QByteArray("corrupt") << true;
}

void TestOffloadReliability::backupTrouble()
{
    QFETCH(QByteArray, trouble);
    QFETCH(bool, volumes);
    Offload o;
    if (!o.useBackup())
        QSKIP("no tmpfs at /dev/shm for the backup; not run");
    if (trouble == "full" && ::geteuid() != 0)
        QSKIP("a size-limited file system needs root (tmpfs mount); not run");
    QVERIFY(o.makeCards());
    const QStringList extra = volumes ? kSmallVolumes : QStringList();
    std::unique_ptr<TmpfsMount> small;
    Run run;
    if (trouble == "missing at resume") {
        run = o.tool(o.startArguments(extra), "0:3:written:kill");
        QVERIFY2(run.crashed, run.output.constData());
        QVERIFY(QDir().rename(o.backup, o.backup + QStringLiteral(".elsewhere")));
        run = o.resume();
        QVERIFY2(run.output.contains("backup folder " + QFile::encodeName(o.backup) +
                                     " is missing"),
                 run.output.constData());
    } else if (trouble == "taken away") {
        const auto process = o.held(o.startArguments(extra), "0:5:opened");
        QVERIFY(process);
        // The other cameras go on writing meanwhile: a file made during the removal keeps its
        // folder, so remove until nothing is left.
        QVERIFY(waitFor([&] { return QDir(o.backup).removeRecursively(); }));
        run = o.release(process);
        QVERIFY2(run.output.contains("is gone"), run.output.constData());
        QVERIFY2(!QFileInfo::exists(o.backup), "nothing is written where the backup was");
    } else if (trouble == "corrupt" && volumes) {
        // The last archive, complete with the camera's last file: copied over from the first
        // target, the backup whole after all.
        run = o.tool(o.startArguments(extra), "0:" + QByteArray::number(PhotosPerCard) + ":backup-written:corrupt");
        QVERIFY2(!run.crashed && run.code == 0, run.output.constData());
        o.checkTarget(true, true);
        return;
    } else if (trouble == "corrupt") {
        run = o.tool(o.startArguments(extra), "0:2:backup-written:corrupt");
        QVERIFY2(run.output.contains("differs from the source"), run.output.constData());
    } else {
        small = std::make_unique<TmpfsMount>(
            o.backup, "size=" + QByteArray::number(o.cardBytes() / 2 / 1024) + "k");
        QVERIFY(small->mounted);
        run = o.tool(o.startArguments(extra));
        QVERIFY2(run.output.contains("No space left on device"), run.output.constData());
    }
    QVERIFY2(!run.crashed && run.code == 1, run.output.constData());
    QVERIFY2(run.output.contains("complete: 60 files") &&
                 run.output.contains("backup incomplete: " + QFile::encodeName(o.backup)),
             run.output.constData());
    o.checkTarget(volumes);
    QVERIFY(fileBytes(o.target() + '/' + FlightReport::htmlFileName())
                .contains(QStringLiteral("备份不完整").toUtf8()));
    for (int c = 0; c < Cameras::Count && (trouble == "full" || trouble == "corrupt"); ++c) {
        // The copies the backup took are whole and listed; nothing partial is left.
        QStringList held = filesBelow(o.backupCopy(c));
        if (held.removeOne(QString::fromLatin1(ChecksumList::FileName)) && !held.isEmpty())
            checkList(o.backupCopy(c), int(held.size()));
        QVERIFY2(held.filter(QStringLiteral(".v7part")).isEmpty(), qPrintable(held.join(' ')));
        for (const QString &file : held)
            QCOMPARE(fileBytes(o.backupCopy(c) + '/' + file), fileBytes(o.copy(c) + '/' + file));
    }
}

// Two POS tables, split into sorties, killed halfway and resumed: every photo carries the
// position of its own record (photo i, record i of the tables taken as one list) and lands in
// the folder of its sortie; each block file lists its sortie's photos of all five cameras.
// Tagging runs on five threads at once here.
void TestOffloadReliability::taggedSortiesAcrossResume_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<bool>("volumes");
    QTest::newRow("killed copying") << QByteArray("3:6:written:kill") << false;
    // Killed at each step of the end: the copies are complete, the outputs are not all there
    // yet, and the resume must write them instead of finding nothing to resume.
    QTest::newRow("killed after the block files") << QByteArray("-1:0:blocks:kill") << false;
    QTest::newRow("killed after the report") << QByteArray("-1:0:report:kill") << false;
    QTest::newRow("killed before success is saved") << QByteArray("-1:0:outputs:kill") << false;
    // The block files name the photos inside the archives; no exports beside them.
    QTest::newRow("volumes, killed copying") << QByteArray("3:6:written:kill") << true;
}

void TestOffloadReliability::taggedSortiesAcrossResume()
{
    QFETCH(QByteArray, fault);
    QFETCH(bool, volumes);
    Offload o;
    QVERIFY(o.makeCards());
    const int sizes[2] = {7, 5};
    QStringList pos = {"--split-sorties"};
    for (int t = 0; t < 2; ++t) {
        pos << "--pos" << o.dir.filePath(QStringLiteral("pos%1.xls").arg(t + 1));
        QVERIFY(writePosTable(pos.last(), sizes[t], t * sizes[0], t + 1));
    }
    Run run = o.tool(o.startArguments(pos + (volumes ? kSmallVolumes : QStringList())), fault);
    QVERIFY2(run.crashed, run.output.constData());
    run = o.resume();
    // The report of the resumed offload counts every photo, the first run's included.
    QVERIFY2(run.code == 0 && run.output.contains("2 block files written") &&
                 run.output.contains("report: " + QFile::encodeName(o.target()) +
                                     "/offload-report.html\n"),
             run.output.constData());
    const QByteArray reported = fileBytes(o.target() + "/offload-report.json");
    QCOMPARE(reported.count("\"copied\": 12,"), Cameras::Count);
    QCOMPARE(reported.count("\"matched\": 12,"), Cameras::Count);

    // Each block file's photos by path, with their positions; exports only beside plain copies.
    QHash<QString, QString> blocked;
    for (int sortie = 1; sortie <= 2; ++sortie) {
        const QByteArray block =
            fileBytes(o.target() + QStringLiteral("/第%1架次.xml").arg(sortie));
        QCOMPARE(block.count("<Photogroup>"), qsizetype(Cameras::Count));
        QCOMPARE(block.count("<Photo>"), qsizetype(Cameras::Count * sizes[sortie - 1]));
        QCOMPARE(QFileInfo::exists(o.target() + QStringLiteral("/第%1架次_geo.txt").arg(sortie)),
                 !volumes);
        QXmlStreamReader xml(block);
        QString path;
        while (xml.readNextStartElement() || !xml.atEnd()) {
            if (xml.name() == QLatin1String("ImagePath"))
                path = QString::number(sortie) + QLatin1Char(' ') + xml.readElementText();
            else if (xml.name() == QLatin1String("x") || xml.name() == QLatin1String("y") ||
                     xml.name() == QLatin1String("z"))
                blocked[path] += xml.readElementText() + QLatin1Char(' ');
        }
    }
    for (int c = 0; c < Cameras::Count; ++c) {
        // Card order: "100MEDIA/..." first, then DSC00001... without the sub-folder's photos.
        const QStringList cardOrder = filesBelow(o.card(c));
        QHash<QString, QString> archiveOf;
        if (volumes) {
            QStringList archives;
            checkArchives(o.card(c), o.copy(c), nullptr, &archives);
            for (const QString &archive : archives) {
                QByteArray out;
                runIn(o.copy(c), QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive}, &out);
                for (const QString &entry : QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts))
                    archiveOf[entry] = archive;
            }
        }
        QStringList expected = {QString::fromLatin1(ChecksumList::FileName)};
        for (int i = 0; i < PhotosPerCard; ++i) {
            // Record i as the table gives it.
            const GeoPosition at{QString::number(23.0 + i / 100.0, 'f', 6).toDouble(),
                                 QString::number(113.0 + i / 100.0, 'f', 6).toDouble(), 100.0 + i};
            const QString sortie = QStringLiteral("第%1架次").arg(i < 7 ? 1 : 2);
            const QString where = volumes ? archiveOf.value(cardOrder[i], "?") : sortie;
            QCOMPARE(blocked.value(QStringLiteral("%1 ./%2/%3/%4")
                                       .arg(i < 7 ? 1 : 2)
                                       .arg(cameraName(c), where, cardOrder[i])),
                     QStringLiteral("%1 %2 %3 ")
                         .arg(at.longitude, 0, 'g', 15)
                         .arg(at.latitude, 0, 'g', 15)
                         .arg(100 + i));
            if (volumes)
                continue;
            // Five cameras tag at once, and each copy must be the photo tagged on its own, byte
            // for byte.
            QByteArray tagged;
            QVERIFY(Geotag::tagBuffer(fileBytes(o.card(c) + QLatin1Char('/') + cardOrder[i]),
                                      PhotoTagStep::FocalLengthMm, at, &tagged, nullptr));
            expected << sortie + QLatin1Char('/') + cardOrder[i];
            QVERIFY2(fileBytes(o.copy(c) + QLatin1Char('/') + expected.last()) == tagged,
                     qPrintable(expected.last()));
        }
        if (volumes)
            continue;
        checkList(o.copy(c), PhotosPerCard);
        expected.sort();
        QCOMPARE(filesBelow(o.copy(c)), expected);
    }
    QCOMPARE(fileBytes(o.target() + QStringLiteral("/offload-report.html"))
                 .contains(FlightReport::exportsNeedPlainText().toUtf8()),
             volumes);
}

void TestOffloadReliability::passedOver_data()
{
    fullDisk_data();
}

// The left card holds photos two folders deep, one whose path is too long for the engine's list,
// and one that cannot be read (a damaged card as root, else a fault point). The rest is copied,
// the two are named, exit 1; a resume copies the unreadable one once the card reads again and
// names the skipped one again.
void TestOffloadReliability::passedOver()
{
    QFETCH(bool, volumes);
    Offload o;
    QVERIFY(o.makeCards());
    const QString files = o.dir.filePath(QStringLiteral("left"));
    QVERIFY(QDir().rename(o.card(1), files));
    QVERIFY(makeCard(files + QStringLiteral("/DCIM/100V7"), 2, 0, 3));
    const QString tooLong = QStringLiteral("DCIM/%1/%2.JPG")
                                .arg(QString(120, QLatin1Char('d')), QString(140, QLatin1Char('n')));
    QVERIFY(writeFile(files + '/' + tooLong, fileBytes(samplePhotos().first())));
    const QString victim = QStringLiteral("DSC00004.JPG"); // the eighth file the engine lists
    DamagedCard card{o.dir.filePath(QStringLiteral("left.img")), QString(), o.card(1)};
    QByteArray fault = "1:7:opened:eio";
    if (::geteuid() == 0 && QFileInfo::exists(QStringLiteral("/usr/sbin/mount.exfat-fuse"))) {
        QVERIFY(card.make(files, victim) && card.cut(false));
        fault.clear();
    } else {
        QVERIFY(QDir().rename(files, o.card(1)));
    }
    QStringList expected = filesBelow(o.card(1));
    QVERIFY(expected.removeOne(tooLong));
    const QStringList extra = volumes ? kSmallVolumes : QStringList();
    const auto leftCopies = [&] { return copiesIn(o.card(1), o.copy(1), volumes); };

    Run run = o.tool(o.startArguments(extra), fault);
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains("Left: failed: " + victim.toUtf8() + ": read " +
                                 QFile::encodeName(o.card(1) + '/' + victim) +
                                 " file error: Input/output error.") &&
                 run.output.contains("Left: skipped: " + tooLong.toUtf8() + ": "),
             run.output.constData());
    QVERIFY(fileBytes(o.stateFile("Taskconfig.xml")).contains("plancount=\"14\" hascount=\"13\""));
    for (int c : {0, 2, 3, 4})
        volumes ? checkArchives(o.card(c), o.copy(c)) : checkCopies(o.card(c), o.copy(c));
    QStringList copied = expected;
    copied.removeOne(victim);
    QCOMPARE(leftCopies(), copied);

    if (fault.isEmpty())
        QVERIFY(card.cut(true));
    run = o.resume();
    QCOMPARE(run.code, 1);
    QVERIFY2(!run.output.contains("failed:") && run.output.contains("complete: 62 files") &&
                 run.output.contains("Left: skipped: " + tooLong.toUtf8()),
             run.output.constData());
    QCOMPARE(leftCopies(), expected);
    QCOMPARE(o.resume().code, 2); // nothing a resume could still do: not offered again
}

// A new offload killed early, after a completed one in the same state folder: the task files
// of the completed offload and its set file put back beside the new "Taskconfig.xml" must not
// make the resume report a complete offload with photos missing. (Task files alone, entries of
// other cards, are damagedOrAlteredState's "entry leaving the card".)
void TestOffloadReliability::staleTaskFilesAfterKill()
{
    Offload o;
    QVERIFY(o.makeCards());
    Run run = o.tool(o.startArguments());
    QVERIFY2(run.code == 0, run.output.constData());
    QMap<QString, QByteArray> old;
    for (const char *name :
         {"center.log", "left.log", "right.log", "front.log", "back.log", "offloadset.json"})
        old[name] = fileBytes(o.stateFile(name));

    Offload other; // its own cards, one photo more each, and target; the state folder the same
    QVERIFY(other.makeCards());
    for (int c = 0; c < Cameras::Count; ++c)
        QVERIFY(writeFile(other.card(c) + "/DSC00099.JPG", fileBytes(samplePhotos().at(c))));
    run = Offload::finish(other.launch(other.startArguments(), "0:0:opened:kill", o.state()));
    QVERIFY2(run.crashed, run.output.constData());
    for (auto it = old.cbegin(); it != old.cend(); ++it)
        QVERIFY(writeFile(o.stateFile(it.key()), it.value()));

    run = o.resume();
    QVERIFY2(run.code == 0 && run.output.contains("complete: 65 files"), run.output.constData());
    other.checkTarget();
}

// The state folder on a 1 MB file system: nearly full at the start, full at a pause. A save
// that fails is reported with a non-zero exit and leaves the last good "Taskconfig.xml".
void TestOffloadReliability::fullStateFolder()
{
    if (::geteuid() != 0)
        QSKIP("a size-limited state folder needs root (tmpfs mount); not run");
    Offload o;
    QVERIFY(o.makeCards());
    TmpfsMount stateDisk(o.state(), "size=1m");
    QVERIFY(stateDisk.mounted);

    QVERIFY(fillUp(o.state(), 12 * 1024)); // room for about one task file
    Run run = o.tool(o.startArguments());
    QVERIFY2(run.code == 1 && run.output.contains("nothing was started"), run.output.constData());
    QVERIFY(filesBelow(o.target()).filter(QStringLiteral(".JPG")).isEmpty());
    QVERIFY(QFile::remove(o.stateFile(QStringLiteral("filler"))));

    // Held before its sixth file, the five before it written and not all counted yet.
    const auto process = o.held(o.startArguments(), "0:5:start");
    QVERIFY(process);
    QVERIFY(fillUp(o.state(), 0));
    ::kill(pid_t(process->processId()), SIGINT);
    run = Offload::finish(process);
    QVERIFY2(run.code == 1 && run.output.contains("task state cannot be saved"),
             run.output.constData());
    QVERIFY(TaskConfig::resumePending(o.stateFile(QStringLiteral("Taskconfig.xml"))));
    QVERIFY(QFile::remove(o.stateFile(QStringLiteral("filler"))));
    run = o.resume();
    QVERIFY2(run.code == 0, run.output.constData());
    o.checkTarget();
}

// A second run on the state folder or the target of a running offload, and a resume, are
// refused with the holder's process id; the first goes on undisturbed. A lock a dead run left is
// taken over.
void TestOffloadReliability::twoRunsAtOnce()
{
    Offload o;
    QVERIFY(o.makeCards());
    const auto first = o.held(o.startArguments(), "0:4:start");
    QVERIFY(first);
    QStringList otherTarget = o.startArguments();
    otherTarget.last() = o.dir.filePath(QStringLiteral("target2"));
    const QString otherState = o.dir.filePath(QStringLiteral("state2"));
    for (const Run &run :
         {Offload::finish(o.launch(otherTarget)),
          Offload::finish(o.launch(o.startArguments(), {}, otherState)), o.resume()}) {
        QCOMPARE(run.code, 3);
        QVERIFY2(run.output.contains("process " + QByteArray::number(first->processId())),
                 run.output.constData());
    }
    Run run = o.release(first);
    QVERIFY2(run.code == 0, run.output.constData());
    o.checkTarget();

    QVERIFY(writeFile(o.stateFile(QStringLiteral("offload.lock")), "999999\nelsewhere\nthen\n"));
    run = o.resume();
    QVERIFY2(run.code == 2 && run.output.contains("no unfinished offload"), run.output.constData());
}

// The state of a killed offload altered or damaged before the resume. A resume takes what is
// done from the target, keeps a damaged file aside and rebuilds from the cards and the target,
// and refuses what it cannot honour; it never writes outside the target.
void TestOffloadReliability::damagedOrAlteredState_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("volumes");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("said");
    QTest::addColumn<bool>("keptAside");
    QTest::addColumn<QByteArray>("kill"); // interrupted there, or killed at ":kill"
    // The row's name is the change, "volumes, " before it for archives.
    const auto row = [](const char *change, bool volumes, int code, const char *said, bool aside,
                        const char *kill = nullptr) {
        QTest::addRow("%s%s", volumes ? "volumes, " : "", change)
            << QString::fromLatin1(change) << volumes << code << QByteArray(said) << aside
            << (kill ? QByteArray(kill) : QByteArray(volumes ? "0:3:start:kill" : "0:3:start"));
    };
    row("camera element deleted", false, 0, "has no <left> element", true);
    row("savapath deleted", false, 0, "no <savapath> element", true);
    row("savapath of a missing folder", false, 2, "does not exist", false);
    row("Taskconfig truncated", false, 0, "not well-formed XML", true);
    row("Taskconfig random", false, 0, "Taskconfig.xml is damaged", true);
    row("Taskconfig empty", false, 0, "the file is empty", true);
    row("Taskconfig damaged, no set file", false, 2, "start it again", true);
    row("files done past the copies", false, 0, "the target holds 3 of them", false);
    row("task file cut short", false, 0, "center.log is damaged", true);
    row("entry leaving the card", false, 0, "is not inside", true);
    // Sound, but not the listing the set file recorded (a kill between the two): the card is
    // listed again, or its last photo would never be copied.
    row("task file a photo short", false, 0, "", false);
    row("files done past the copies", true, 0, "the target holds 3 of them", false);
    row("Taskconfig truncated", true, 0, "not well-formed XML", true);
    // The target changed under the paused offload (a fault of its disk, a crash of its file
    // system): a copy or an archive altered with its size kept ("flip" a byte in its middle), or
    // a full archive's checksum line lost. The resume must not count what it did not check. A
    // copy past the count is altered with its line made to match, as a stale copy of another
    // offload would be: only the card can tell it. Camera 0's list: 100MEDIA/DSC00005,
    // 100MEDIA/DSC00010, DSC00001, DSC00002 ...; killed before its ninth file, its archives are
    // pack1 (4 photos) and pack2 (2), both full, and pack3. Plain copies are counted by the group.
    row("flip DSC00001.JPG, counted", false, 0, "", false, "0:5:start");
    row("relist DSC00002.JPG, listed, not counted", false, 0, "", false, "0:3:listed:kill");
    row("flip pack1.zip, full", true, 0, "", false, "0:8:start:kill");
    row("flip pack3.zip, open", true, 0, "", false, "0:8:start:kill");
    row("unlist pack2.zip, full", true, 0, "", false, "0:8:start:kill");
}

void TestOffloadReliability::damagedOrAlteredState()
{
    QFETCH(QString, change);
    QFETCH(bool, volumes);
    QFETCH(int, code);
    QFETCH(QByteArray, said);
    QFETCH(bool, keptAside);
    QFETCH(QByteArray, kill);
    Offload o;
    QVERIFY(o.makeCards());
    Run run;
    if (kill.endsWith(":kill")) {
        run = o.tool(o.startArguments(volumes ? kSmallVolumes : QStringList()), kill);
        QVERIFY2(run.crashed, run.output.constData());
    } else {
        // Interrupted: what it had in hand is counted (plain copies are counted a group at a
        // time, so a kill there counts none).
        const auto process = o.held(o.startArguments(), kill);
        QVERIFY(process);
        ::kill(pid_t(process->processId()), SIGINT);
        run = Offload::finish(process);
        QVERIFY2(run.code == 128 + SIGINT && run.output.contains("paused"), run.output.constData());
    }
    if (kill.startsWith("0:3:start"))
        QCOMPARE(o.filesDone(0), 3);
    const QString configPath = o.stateFile(QStringLiteral("Taskconfig.xml"));
    QString config = QString::fromUtf8(fileBytes(configPath));
    const QString outside = o.dir.filePath(QStringLiteral("other/DSC00009.JPG"));
    const QString nowhere = o.dir.filePath(QStringLiteral("nowhere"));
    // Camera 0's task file with bytes written over it at an offset.
    const auto patchTask = [&](qint64 at, const QByteArray &bytes) {
        QByteArray record = fileBytes(o.taskFile(0));
        return writeFile(o.taskFile(0), record.replace(at, bytes.size(), bytes));
    };
    const QString file = change.section(QLatin1Char(' '), 1, 1).remove(QLatin1Char(','));
    const QString path = o.copy(0) + QLatin1Char('/') + file;
    const QString list = o.copy(0) + QLatin1Char('/') + ChecksumList::FileName;
    QByteArray lines = fileBytes(list);
    const qsizetype line = lines.indexOf("  " + file.toUtf8() + '\n');
    uint64_t hash = 0;
    if (change.endsWith(QLatin1String(" deleted"))) {
        config.remove(QRegularExpression(change.startsWith("camera") ? "<left [^>]*/>"
                                                                     : "<savapath [^>]*/>"));
    } else if (change == "savapath of a missing folder") {
        config.replace("<savapath path=\"" + o.target(), "<savapath path=\"" + nowhere);
    } else if (change == "Taskconfig truncated" || change.endsWith(QLatin1String("set file"))) {
        config.truncate(config.size() / 2);
        if (change.endsWith(QLatin1String("set file")))
            QVERIFY(QFile::remove(o.stateFile(QStringLiteral("offloadset.json"))));
    } else if (change == "Taskconfig random") {
        config = QString::fromLatin1(QByteArray::fromHex("8f00d3e4a1ff10203c3e3e7f00"));
    } else if (change == "Taskconfig empty") {
        config.clear();
    } else if (change == "files done past the copies") {
        QVERIFY(patchTask(TaskLayout::FilesDone, QByteArray("\x0c\0\0\0", 4))); // twelve
    } else if (change == "task file a photo short") {
        const qint64 size = QFileInfo(o.taskFile(0)).size();
        QByteArray count(4, '\0');
        qToLittleEndian<qint32>(qint32((size - TaskLayout::RecordSize) / TaskLayout::EntrySize) - 1,
                                count.data());
        QVERIFY(patchTask(TaskLayout::FileCount, count) &&
                QFile::resize(o.taskFile(0), size - TaskLayout::EntrySize));
    } else if (change == "task file cut short") {
        QVERIFY(QFile::resize(o.taskFile(0), 3000));
    } else if (change == "entry leaving the card") {
        QVERIFY(writeFile(outside, "not a card's photo"));
        const QByteArray entry = QFile::encodeName(o.card(0)) + "/../../other/DSC00009.JPG";
        QVERIFY(patchTask(TaskLayout::RecordSize + 8 * TaskLayout::EntrySize,
                          entry.leftJustified(TaskLayout::EntrySize, '\0')));
    } else if (change.startsWith(QLatin1String("unlist"))) {
        QVERIFY(line >= 16 && writeFile(list, lines.remove(line - 16, 16 + 2 + file.size() + 1)));
    } else if (change.startsWith(QLatin1String("flip"))) {
        QVERIFY(flipByte(path, QFileInfo(path).size() / 2));
    } else if (change.startsWith(QLatin1String("relist"))) {
        QVERIFY(flipByte(path, QFileInfo(path).size() / 2) &&
                ChecksumList::hashFile(QFile::encodeName(path).toStdString(), &hash) == 0 &&
                ChecksumList::set(QFile::encodeName(o.copy(0)).toStdString(), file.toStdString(),
                                  hash) == 0);
    }
    QVERIFY(writeFile(configPath, config.toUtf8()));

    // Where nothing said is looked for, no one reads: the resume goes on to the end all the same.
    o.outputClosed = said.isEmpty();
    run = o.resume();
    QVERIFY2(run.code == code && run.output.contains(said), run.output.constData());
    QCOMPARE(!QDir(o.state()).entryList({QStringLiteral("*.damaged-*")}).isEmpty(), keptAside);
    QVERIFY(QDir(o.dir.filePath(QStringLiteral("cwd"))).isEmpty());
    QVERIFY(!QFileInfo::exists(nowhere));
    if (change == "entry leaving the card")
        QCOMPARE(fileBytes(outside), QByteArray("not a card's photo"));
    if (code == 0)
        o.checkTarget(volumes);
}

// Cards taken out after a kill and put back elsewhere, or another card in their place. The
// cards are folders of V7_MEDIA_ROOT: each is a volume labelled by its folder's name.
void TestOffloadReliability::cardIdentity_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("said");
    const auto row = [](const char *name, const char *change, int code, const char *said) {
        QTest::newRow(name) << QString::fromLatin1(change) << code << QByteArray(said);
    };
    row("moved to another mount point", "moved", 0, "Left: the card is now at");
    row("moved, named on the command line", "named", 0, "Left: the card is now at");
    row("front card where the left was", "swapped", 2, "Left: the card at");
    row("front card named as the left", "wrong name", 2, "is not the card of this offload");
    row("card named inside the target", "in target", 2, "lies inside the target");
    row("another card, same names and sizes", "same sizes", 2, "Left: the card at");
}

void TestOffloadReliability::cardIdentity()
{
    QFETCH(QString, change);
    QFETCH(int, code);
    QFETCH(QByteArray, said);
    Offload o;
    o.mediaRoot = o.dir.filePath(QStringLiteral("cards"));
    QVERIFY(o.makeCards());
    Run run = o.tool(o.startArguments(), "1:5:start:kill");
    QVERIFY2(run.crashed, run.output.constData());
    const int before = o.filesDone(1);
    const QString away = o.dir.filePath(QStringLiteral("away"));
    QString now = o.card(1);
    QStringList extra;
    const bool takenAway = change == "named" || change == "swapped" || change == "same sizes";
    QVERIFY(!takenAway || QDir().rename(o.card(1), away));
    if (change == "moved") {
        now = o.dir.filePath(QStringLiteral("cards/LEFT_2"));
        QVERIFY(QDir().rename(o.card(1), now));
    } else if (change == "named") {
        now = away;
        extra = QStringList{QStringLiteral("--left"), away};
    } else if (change == "swapped") {
        QCOMPARE(runIn(o.dir.path(), QStringLiteral("cp"), {"-a", o.card(3), o.card(1)}), 0);
    } else if (change == "same sizes") {
        // Other photos under the same names: one byte of each differs from the copied card's.
        QCOMPARE(runIn(o.dir.path(), QStringLiteral("cp"), {"-a", away, o.card(1)}), 0);
        for (const QString &file : filesBelow(o.card(1)))
            QVERIFY(flipByte(o.card(1) + QLatin1Char('/') + file, 300));
    } else if (change == "in target") {
        const QString inside = o.target() + QStringLiteral("/LeftCard");
        QCOMPARE(runIn(o.dir.path(), QStringLiteral("cp"), {"-a", o.card(1), inside}), 0);
        extra = QStringList{QStringLiteral("--left"), inside};
    } else {
        extra = QStringList{QStringLiteral("--left"), o.card(3)};
    }
    run = o.resume({}, extra);
    QVERIFY2(run.code == code && run.output.contains(said), run.output.constData());
    if (code == 0) {
        checkCopies(now, o.copy(1));
        return;
    }
    // Nothing of the other card reached the left camera's folder.
    QCOMPARE(o.filesDone(1), before);
    const QString left = takenAway ? away : o.card(1);
    const QRegularExpression copied(QStringLiteral("(^|/)[^./][^/]*\\.JPG$"));
    for (const QString &file : filesBelow(o.copy(1)).filter(copied))
        QCOMPARE(fileBytes(o.copy(1) + '/' + file), fileBytes(left + '/' + file));
}

// The read-back of a copy must come from the disk, not from what the page cache kept of the
// write. The target is an ext4 image on a loop device; while the engine holds a copy between its
// write and its read-back, the copy's last byte (its last block went through the cache) is
// flipped in the image underneath. The engine must see that and copy it again.
void TestOffloadReliability::readBackFromTheDisk()
{
    if (::geteuid() != 0)
        QSKIP("a loop-mounted target needs root; not run");
    Offload o;
    QVERIFY(o.makeCards());
    DamagedCard disk{o.dir.filePath(QStringLiteral("target.img")), QString(), o.target()};
    disk.mounter = QStringLiteral("mount");
    QVERIFY(disk.format({"mkfs.ext4", "-q", "-F"}, 64));
    // Camera 0's third file is DSC00001.JPG, 7958 bytes: one direct block and a cached tail.
    const auto process = o.held(o.startArguments(), "0:2:written");
    QVERIFY(process);
    const QString partial = o.copy(0) + QStringLiteral("/.DSC00001.JPG.v7part");
    QCOMPARE(QFileInfo(partial).size(), 7958);
    const qint64 at = diskOffset(partial, 7957);
    QVERIFY(at > 0 && fileBytes(disk.image).mid(at - 15, 16) == fileBytes(partial).right(16));
    QVERIFY(flipByte(disk.image, at));
    const Run run = o.release(process);
    QVERIFY2(run.code == 0, run.output.constData());
    disk.detach(); // what the disk holds, nothing cached
    QVERIFY(disk.attach());
    o.checkTarget();
}

// Five cards of thousands of small files under a low limit on open files (hard and soft), and
// a card file larger than the address space a resume may use (the resume compares a tagged
// offload's copies with the card): both end complete and verified.
void TestOffloadReliability::boundedResources_data()
{
    QTest::addColumn<QString>("limits"); // of the run that completes
    QTest::addColumn<int>("smallFiles"); // tiny files added to each card
    QTest::addColumn<qint64>("sparse");  // a sparse file of this size added to the centre card
    QTest::addColumn<QByteArray>("fault"); // a first run, with --pos, killed there; then a resume
    QTest::newRow("5 x 2,000 small files, 256 descriptors")
        << "-n 256" << 2000 << qint64(0) << QByteArray();
    QTest::newRow("3 GiB file resumed in 2 GiB of address space")
        << "-v 2097152" << 0 << (qint64(3) << 30) << QByteArray("0:12:listed:kill");
}

void TestOffloadReliability::boundedResources()
{
    QFETCH(QString, limits);
    QFETCH(int, smallFiles);
    QFETCH(qint64, sparse);
    QFETCH(QByteArray, fault);
#ifdef __SANITIZE_ADDRESS__
    if (limits.startsWith("-v"))
        QSKIP("the address sanitizer reserves more address space than the limit");
#endif
    Offload o;
    QVERIFY(o.makeCards());
    for (int c = 0; c < Cameras::Count; ++c) {
        for (int i = 0; i < smallFiles; ++i)
            QVERIFY(writeFile(o.card(c) + QStringLiteral("/small%1.txt").arg(i), QByteArray::number(i)));
    }
    const QString video = o.card(0) + QStringLiteral("/VIDEO.MP4");
    QVERIFY(sparse == 0 || (writeFile(video, {}) && QFile::resize(video, sparse)));
    Run run;
    if (!fault.isEmpty()) {
        const QString table = o.dir.filePath(QStringLiteral("pos.xls"));
        QVERIFY(writePosTable(table, PhotosPerCard));
        run = o.tool(o.startArguments({"--pos", table}), fault);
        QVERIFY2(run.crashed, run.output.constData());
    }
    o.limits = limits;
    run = fault.isEmpty() ? o.tool(o.startArguments()) : o.resume();
    const int files = Cameras::Count * (PhotosPerCard + smallFiles) + (sparse > 0);
    QVERIFY2(run.code == 0 && run.output.contains("complete: " + QByteArray::number(files) + " files"),
             run.output.constData());
    for (int c = 0; c < Cameras::Count && fault.isEmpty(); ++c)
        checkCopies(o.card(c), o.copy(c));
    for (int c = 0; c < Cameras::Count && !fault.isEmpty(); ++c) {
        // Tagged photos differ from the card's: every copy is there and matches its line.
        QStringList copied = filesBelow(o.copy(c));
        QVERIFY(copied.removeOne(QString::fromLatin1(ChecksumList::FileName)));
        QCOMPARE(copied, filesBelow(o.card(c)));
        checkList(o.copy(c), int(copied.size()));
    }
    if (sparse > 0)
        QCOMPARE(QFileInfo(o.copy(0) + QStringLiteral("/VIDEO.MP4")).size(), sparse);
}

// Names an exFAT target (FUSE driver) folds together get names of their own, which a resume after
// a kill keeps; a name it cannot hold is passed over and named. Checked after a remount. A resume
// whose set file lost the names never lets one copy replace another.
void TestOffloadReliability::exfatTarget_data()
{
    QTest::addColumn<QStringList>("names");   // beside DSC00001..3
    QTest::addColumn<QStringList>("renamed"); // as the report lists them
    QTest::addColumn<QByteArray>("said");
    QTest::addColumn<bool>("mapLost");
    QTest::addColumn<bool>("tagged"); // with a POS table, photo i tagged with record i
    const auto row = [](const char *name, const QStringList &names, const QStringList &renamed,
                        const char *said, bool mapLost = false, bool tagged = false) {
        QTest::newRow(name) << names << renamed << QByteArray(said) << mapLost << tagged;
    };
    const QStringList twoCases = {"P1.JPG", "p1.jpg"};
    const QStringList renamed = {"p1.jpg -> p1~2.jpg"};
    row("names in two cases", twoCases, renamed, "complete: 5");
    row("names in two cases, tagged", twoCases, renamed, "complete: 5", false, true);
    row("folders in two cases", {"DCIM/A/P1.JPG", "DCIM/a/P1.JPG", "DCIM/a/P2.JPG"},
        {"DCIM/a/P1.JPG -> DCIM/A/P1~2.JPG", "DCIM/a/P2.JPG -> DCIM/A/P2.JPG"}, "complete: 6");
    row("new name taken on the card", {"P1.JPG", "p1.jpg", "P1~2.JPG"}, {"p1.jpg -> p1~3.jpg"},
        "complete: 6");
    row("a name it cannot hold", {"colon:star*q?.JPG"}, {}, "Center: failed: colon:star*q?.JPG: ");
    row("names lost from the set file", twoCases, renamed, "Center: failed: p1.jpg: rename ", true);
}

void TestOffloadReliability::exfatTarget()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, renamed);
    QFETCH(QByteArray, said);
    QFETCH(bool, mapLost);
    QFETCH(bool, tagged);
    if (::geteuid() != 0 || !QFileInfo::exists(QStringLiteral("/usr/sbin/mount.exfat-fuse")))
        QSKIP("an exFAT target needs root and mount.exfat-fuse; not run");
    Offload o;
    QVERIFY(makeCard(o.card(0), 3) && QDir().mkpath(o.state()));
    for (int i = 0; i < names.size(); ++i)
        QVERIFY(writeFile(o.card(0) + '/' + names[i], fileBytes(samplePhotos()[i]) + char('0' + i)));
    DamagedCard disk{o.dir.filePath(QStringLiteral("target.img")), QString(), o.target()};
    QVERIFY(disk.format({"mkfs.exfat"}));
    const QStringList files = filesBelow(o.card(0));
    const int code = said.startsWith("complete") ? 0 : 1;
    QStringList arguments = {"offload", "--center", o.card(0), "--target", o.target()};
    if (tagged) {
        QVERIFY(writePosTable(o.dir.filePath(QStringLiteral("pos.xls")), int(files.size())));
        arguments << "--pos" << o.dir.filePath(QStringLiteral("pos.xls")) << "--match" << "index";
    }
    Run run = o.tool(arguments, "0:" + QByteArray::number(files.size() - 1) + ":listed:kill");
    QVERIFY2(run.crashed == (code == 0 || mapLost), run.output.constData());
    const QString set = o.stateFile(QStringLiteral("offloadset.json"));
    const QRegularExpression map(QStringLiteral("\"renamed\": \\{[^}]*\\},"));
    QVERIFY(!mapLost || writeFile(set, QString::fromUtf8(fileBytes(set)).remove(map).toUtf8()));
    run = o.resume(); // matches as the start did, photo i with record i
    QVERIFY2(run.code == code && run.output.contains(said), run.output.constData());
    const QJsonDocument report = QJsonDocument::fromJson(fileBytes(o.target() + "/offload-report.json"));
    if (code == 0)
        QCOMPARE(report["cameras"][0]["renamed"].toVariant().toStringList(), renamed);
    if (tagged) {
        // The exports name each copy with its own photo's record: p1.jpg (photo 5) lies as
        // p1~2.jpg, and the name p1.jpg is P1.JPG's copy (photo 4). Metashape's labels drop
        // the suffix.
        const QByteArray exported = fileBytes(o.target() + QStringLiteral("/第1架次_metashape.csv"));
        QVERIFY2(exported.contains("\nCenter_p1~2,113.04") &&
                     exported.contains("\nCenter_P1,113.03") && !exported.contains("p1,"),
                 exported.constData());
        // No hard links on exFAT: no project folder, and the report says what to tick.
        QVERIFY(!QFileInfo::exists(o.target() + QStringLiteral("/第1架次_odm")));
        QVERIFY(fileBytes(o.target() + QStringLiteral("/offload-report.html"))
                    .contains(FlightReport::noHardLinksText(false).toUtf8()));
    }

    disk.detach();
    QVERIFY(disk.attach());
    QMap<QString, QString> copyOf;
    for (const QString &pair : renamed)
        copyOf[pair.section(" -> ", 0, 0)] = pair.section(" -> ", 1);
    QStringList copies = {QString::fromLatin1(ChecksumList::FileName)};
    for (const QString &file : files.filter(QRegularExpression("^[^:]*$"))) {
        copies << copyOf.value(file, file);
        QVERIFY2(tagged || fileBytes(o.copy(0) + '/' + copies.last()) ==
                               fileBytes(o.card(0) + '/' + file),
                 qPrintable(file));
    }
    copies.sort();
    QCOMPARE(filesBelow(o.copy(0)), copies);
    checkList(o.copy(0), int(copies.size()) - 1);
}

// Card files changing under the engine: a photo appended to between its open and its read, or
// after its read (a camera still writing it), is read again, whole; a FIFO in a listed photo's
// place is named, not opened as a photo; a symbolic link is named as passed over.
void TestOffloadReliability::changingCard_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("volumes");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("grown") << "grown" << false << QByteArray("complete: 4");
    QTest::newRow("volumes, grown") << "grown" << true << QByteArray("complete: 4");
    QTest::newRow("grown after the read") << "grown read" << false << QByteArray("complete: 4");
    QTest::newRow("volumes, grown after the read")
        << "grown read" << true << QByteArray("complete: 4");
    QTest::newRow("FIFO") << "fifo" << false
                          << QByteArray("Center: failed: DSC00003.JPG: open %1/DSC00003.JPG file "
                                        "error: not a regular file.");
    QTest::newRow("symbolic link") << "link" << false
                                   << QByteArray("Center: skipped: link.JPG: a symbolic link");
}

void TestOffloadReliability::changingCard()
{
    QFETCH(QString, change);
    QFETCH(bool, volumes);
    QFETCH(QByteArray, said);
    const QByteArray phase = change.endsWith(" read") ? "0:0:read" : "0:0:opened";
    change = change.section(QLatin1Char(' '), 0, 0);
    Offload o;
    const QString card = o.card(0);
    QVERIFY(makeCard(card, 4) && QDir().mkpath(o.state()));
    // Open in the engine while it waits. Before the FIFO, one larger than the read-ahead's
    // window: nothing after it is opened early.
    const QString held = card + (change == "fifo" ? "/A.JPG" : "/DSC00001.JPG");
    if (change == "fifo")
        QVERIFY(QFile(held).open(QIODevice::WriteOnly) && QFile::resize(held, 65 << 20));
    if (change == "link")
        QVERIFY(QFile::link(card + "/DSC00001.JPG", card + "/link.JPG"));
    const auto process = o.held(QStringList{"offload", "--center", card, "--target", o.target()} +
                                    (volumes ? kSmallVolumes : QStringList()),
                                phase);
    QVERIFY(process);
    QFile photo(held);
    const QByteArray fifo = QFile::encodeName(card + "/DSC00003.JPG");
    if (change == "grown")
        QVERIFY(photo.open(QIODevice::Append | QIODevice::Unbuffered) &&
                photo.write(QByteArray(5000, 'g')) == 5000);
    if (change == "fifo")
        QVERIFY(::unlink(fifo.constData()) == 0 && ::mkfifo(fifo.constData(), 0644) == 0);
    const Run run = o.release(process);
    said.replace("%1", QFile::encodeName(card));
    QVERIFY2(run.code == (change == "grown" ? 0 : 1) && run.output.contains(said),
             run.output.constData());
    QByteArray entry;
    if (change == "grown" && volumes)
        QVERIFY(runIn(o.copy(0), "unzip", {"-p", "pack1.zip", "DSC00001.JPG"}, &entry) == 0 &&
                entry == fileBytes(held));
    else if (change == "grown")
        checkCopies(card, o.copy(0));
}

// The same offload started again into its target: copies already there that pass the resume's
// full check are not made again, and the state, lists and report are as if they had been.
void TestOffloadReliability::rerunSkipsVerified_data()
{
    QTest::addColumn<QByteArray>("fault"); // of the first run; empty: it completes
    QTest::addColumn<int>("altered");      // the centre copy changed before the second, or -1
    QTest::addColumn<bool>("volumes");
    QTest::addColumn<int>("skipped"); // said by the second run; -1: some, not all
    QTest::addColumn<bool>("posLater"); // the second run tags with a POS table
    QTest::newRow("plain, completed") << QByteArray() << -1 << false << 60 << false;
    // Checked in card order: the camera copies again from the altered copy on.
    QTest::newRow("plain, a copy altered since") << QByteArray() << 5 << false << 53 << false;
    QTest::newRow("plain, killed before the state counted the copy")
        << QByteArray("0:8:listed:kill") << -1 << false << -1 << false;
    QTest::newRow("volumes, packed again") << QByteArray() << -1 << true << 0 << false;
    // Untagged copies are not what a tagging offload makes: copied again, with positions.
    QTest::newRow("plain, untagged before, tagged now") << QByteArray() << -1 << false << -1 << true;
}

void TestOffloadReliability::rerunSkipsVerified()
{
    QFETCH(QByteArray, fault);
    QFETCH(int, altered);
    QFETCH(bool, volumes);
    QFETCH(int, skipped);
    QFETCH(bool, posLater);
    Offload o;
    QVERIFY(o.makeCards());
    const QStringList arguments = o.startArguments(volumes ? kSmallVolumes : QStringList());
    const QString table = o.dir.filePath(QStringLiteral("pos.xls"));
    QVERIFY(!posLater || writePosTable(table, PhotosPerCard));
    Run run = o.tool(arguments, fault);
    QVERIFY2(run.crashed == !fault.isEmpty(), run.output.constData());
    if (altered >= 0)
        QVERIFY(flipByte(o.copy(0) + '/' + filesBelow(o.card(0)).at(altered), -100));
    const auto inode = [](const QString &path) {
        struct stat st = {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    QMap<QString, ino_t> inodes;
    for (int c = 0; c < Cameras::Count; ++c) {
        for (const QString &file : filesBelow(o.copy(c)).filter(QStringLiteral(".JPG")))
            inodes.insert(o.copy(c) + '/' + file, inode(o.copy(c) + '/' + file));
    }

    run = o.tool(posLater ? o.startArguments({"--pos", table}) : arguments);
    QVERIFY2(run.code == 0 && run.output.contains("complete: 60 files"), run.output.constData());
    if (posLater) {
        QVERIFY2(!run.output.contains("skipped 60"), run.output.constData());
        const QString first = filesBelow(o.card(0)).filter(QStringLiteral("DSC00001")).value(0);
        QVERIFY(fileBytes(o.copy(0) + '/' + first) != fileBytes(o.card(0) + '/' + first));
        return;
    }
    const QRegularExpressionMatch said =
        QRegularExpression(QStringLiteral("skipped ([0-9]+) already verified\n"))
            .match(QString::fromUtf8(run.output));
    const int found = said.hasMatch() ? said.captured(1).toInt() : 0;
    // Killed while listing its group, camera 0 had its copies listed but not counted; the
    // others may have ended meanwhile.
    QVERIFY2(skipped >= 0 ? found == skipped : found >= 9, run.output.constData());
    int made = 0; // copies written anew
    for (auto it = inodes.cbegin(); it != inodes.cend(); ++it)
        made += inode(it.key()) != it.value();
    if (!volumes && skipped >= 0)
        QCOMPARE(made, 60 - skipped);
    o.checkTarget(volumes);
    for (int c = 0; c < Cameras::Count; ++c)
        QCOMPARE(o.filesDone(c), PhotosPerCard);
    QCOMPARE(fileBytes(o.target() + "/offload-report.json").count("\"copied\": 12"), 5);
    QVERIFY(!TaskConfig::resumePending(o.stateFile(QStringLiteral("Taskconfig.xml"))));
}

QTEST_GUILESS_MAIN(TestOffloadReliability)
#include "tst_offloadreliability.moc"
