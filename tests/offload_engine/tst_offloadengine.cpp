// The copy engine in-process: plain copies with verification, retries and failures, pause and
// resume, zip volumes checked by unzip and 7z, tagging, sortie folders and block files.
#include <QDomDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <thread>

#include "checksumlist.h"
#include "copyengine.h"
#include "exifreader.h"
#include "faultpoints.h"
#include "geotag.h"
#include "jpegscan.h"
#include "offloadfixture.h"
#include "offloadsession.h"
#include "photoinfotable.h"
#include "phototagstep.h"
#include "sortieblocks.h"

using namespace OffloadFixture;

namespace {

// Faults the tests below rely on; the engine reads them once per process. Camera numbers
// pick the test: 1 corrupt once, 2 corrupt always, 3 hold file 2 until paused (it is on the
// disk then, not yet verified), 4 and 5 corrupt an archive once.
const char *const Faults = "1:2:written:corrupt,2:1:written:corrupt-always,3:2:written:wait,"
                           "4:2:written:corrupt,5:2:written:corrupt";

void waitStopped(DiskTask *task)
{
    while (!task->stopped.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void waitSession(const OffloadSession &session)
{
    while (session.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

struct Fixture
{
    QTemporaryDir dir;
    QString card() const { return dir.filePath(QStringLiteral("card")); }
    QString target() const { return dir.filePath(QStringLiteral("target")); }
    QString camera() const { return dir.filePath(QStringLiteral("target/Cam")); }

    void fill(DiskTask *task, int camera)
    {
        QDir().mkpath(this->camera());
        taskRecordClear(&task->record);
        taskRecordSetText(task->record.source, QFile::encodeName(card()).constData());
        taskRecordSetText(task->record.destination, QFile::encodeName(this->camera()).constData());
        taskRecordSetText(
            task->record.archivePath,
            QFile::encodeName(this->camera() + QStringLiteral("/pack1.zip")).constData());
        taskRecordSetText(task->record.archiveName, "pack1");
        taskRecordSetText(task->record.archivePrefix,
                          QFile::encodeName(this->camera() + QLatin1Char('/')).constData());
        taskRecordSetText(task->record.taskFilePath,
                          QFile::encodeName(dir.filePath(QStringLiteral("cam.log"))).constData());
        task->record.camera = camera;
    }
};

// The copy holds exactly the card's files (and the checksum list), each byte for byte.
void compareCopies(const QString &card, const QString &copy)
{
    QStringList copied = filesBelow(copy);
    QVERIFY(copied.removeOne(QString::fromLatin1(ChecksumList::FileName)));
    QCOMPARE(copied, filesBelow(card));
    for (const QString &file : copied)
        QVERIFY2(fileBytes(card + QLatin1Char('/') + file) ==
                     fileBytes(copy + QLatin1Char('/') + file),
                 qPrintable(file));
}

QStringList archiveEntries(const QString &archive)
{
    QByteArray output;
    runIn(QFileInfo(archive).absolutePath(), QStringLiteral("unzip"),
          {QStringLiteral("-Z1"), archive}, &output);
    return QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestOffloadEngine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void plainCopy_data();
    void plainCopy();
    void mismatchRetriedOnce();
    void mismatchTwiceFails();
    void pauseMidFileAndResume();
    void sourceGoneThenBack();
    void destinationNotWritable();
    void volumes_data();
    void volumes();
    void volumeMismatchRolledBack_data();
    void volumeMismatchRolledBack();
    void taggingAndTables();
    void headerTagMatchesWholeTag_data();
    void headerTagMatchesWholeTag();
    void sortiesAndBlockFiles();
    void badDiskNumber();
};

void TestOffloadEngine::initTestCase()
{
    qputenv("V7_OFFLOAD_FAULT", Faults);
    QVERIFY2(samplePhotos().size() >= 10, "sample photos missing");
}

void TestOffloadEngine::plainCopy_data()
{
    QTest::addColumn<bool>("verify");
    QTest::newRow("verified") << true;
    QTest::newRow("unverified") << false;
}

void TestOffloadEngine::plainCopy()
{
    QFETCH(bool, verify);
    Fixture f;
    QVERIFY(makeCard(f.card(), 7, 3));
    QVERIFY(QFile::copy(f.card() + QStringLiteral("/DSC00001.JPG"),
                        f.card() + QStringLiteral("/照片 ü.JPG")));
    // A file of exactly one read chunk and an empty file.
    QFile exact(f.card() + QStringLiteral("/exact.bin"));
    QVERIFY(exact.open(QIODevice::WriteOnly));
    exact.write(QByteArray(1 << 20, 'e'));
    exact.close();
    QFile empty(f.card() + QStringLiteral("/empty.bin"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    DiskTask task;
    f.fill(&task, 0);
    task.verify = verify;
    QCOMPARE(createTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 10);
    QCOMPARE(task.fileCount.load(), 10);
    compareCopies(f.card(), f.camera());
    QVERIFY(xxhsumPasses(f.camera()));
    QCOMPARE(ChecksumList::read(QFile::encodeName(f.camera()).toStdString()).size(), size_t(10));
    QCOMPARE(QFileInfo(f.camera() + QStringLiteral("/DSC00001.JPG")).lastModified(),
             QFileInfo(f.card() + QStringLiteral("/DSC00001.JPG")).lastModified());

    // Resuming a finished task ends at once and changes nothing.
    QCOMPARE(resumeTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(task.filesDone.load(), 10);
    QCOMPARE(ChecksumList::read(QFile::encodeName(f.camera()).toStdString()).size(), size_t(10));

    // A new offload into the same folder replaces the lines of the files it copies again.
    QCOMPARE(createTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(ChecksumList::read(QFile::encodeName(f.camera()).toStdString()).size(), size_t(10));
    QVERIFY(xxhsumPasses(f.camera()));
}

void TestOffloadEngine::mismatchRetriedOnce()
{
    Fixture f;
    QVERIFY(makeCard(f.card(), 4));
    DiskTask task;
    f.fill(&task, 1);
    const int fired = FaultPoints::fired();
    QCOMPARE(createTask(&task, 1), 0);
    waitStopped(&task);
    QCOMPARE(FaultPoints::fired(), fired + 1);
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 4);
    compareCopies(f.card(), f.camera());
}

void TestOffloadEngine::mismatchTwiceFails()
{
    Fixture f;
    QVERIFY(makeCard(f.card(), 4));
    DiskTask task;
    f.fill(&task, 2);
    QCOMPARE(createTask(&task, 2), 0);
    waitStopped(&task);
    QCOMPARE(task.failed.load(), 1);
    QCOMPARE(task.filesDone.load(), 1);
    QVERIFY2(QByteArray(task.error).contains("verify"), task.error);
    // Only the verified file is there; the bad copy left nothing behind.
    QCOMPARE(filesBelow(f.camera()), QStringList({QStringLiteral("DSC00001.JPG"),
                                                  QString::fromLatin1(ChecksumList::FileName)}));
    QVERIFY(xxhsumPasses(f.camera()));
    // Without verification the same fault goes unnoticed: the check is what catches it.
    task.verify = 0;
    QCOMPARE(resumeTask(&task, 2), 0);
    waitStopped(&task);
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 4);
    QVERIFY(fileBytes(f.card() + QStringLiteral("/DSC00002.JPG")) !=
            fileBytes(f.camera() + QStringLiteral("/DSC00002.JPG")));
}

void TestOffloadEngine::pauseMidFileAndResume()
{
    Fixture f;
    QVERIFY(makeCard(f.card(), 8));
    DiskTask task;
    f.fill(&task, 3);
    QCOMPARE(createTask(&task, 3), 0);
    while (task.filesDone.load() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    QCOMPARE(pauseTask(&task, 3), 0);
    QCOMPARE(task.stopped.load(), 1);
    QCOMPARE(task.failed.load(), 0);
    // Pause lets the copies already written finish; nothing is left half-made.
    const int done = task.filesDone.load();
    QVERIFY(done >= 2 && done < 8);
    QVERIFY(task.taskFile == nullptr);
    QCOMPARE(filesBelow(f.camera()).size(), done + 1);
    // Pausing a task that has ended returns at once.
    QCOMPARE(pauseTask(&task, 3), 0);

    QCOMPARE(resumeTask(&task, 3), 0);
    waitStopped(&task);
    QCOMPARE(task.filesDone.load(), 8);
    compareCopies(f.card(), f.camera());
    QVERIFY(xxhsumPasses(f.camera()));
}

void TestOffloadEngine::sourceGoneThenBack()
{
    Fixture f;
    QVERIFY(makeCard(f.card(), 5));
    DiskTask task;
    f.fill(&task, 0);
    QCOMPARE(createTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(task.filesDone.load(), 5);

    // Back to two files done, and the third photo gone from the card.
    const QString third = f.card() + QStringLiteral("/DSC00003.JPG");
    const QString away = f.dir.filePath(QStringLiteral("away.JPG"));
    QVERIFY(QFile::rename(third, away));
    QVERIFY(QFile::remove(f.camera() + QStringLiteral("/DSC00003.JPG")));
    QFile record(f.dir.filePath(QStringLiteral("cam.log")));
    QVERIFY(record.open(QIODevice::ReadWrite));
    record.seek(1840);
    record.write(QByteArray::fromHex("02000000"));
    record.close();
    QCOMPARE(resumeTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(task.failed.load(), 1);
    QCOMPARE(task.filesDone.load(), 2);
    QVERIFY2(QByteArray(task.error).contains("open") && QByteArray(task.error).contains("DSC00003"),
             task.error);
    // The lines of the files still to come left the list; the others stay valid.
    QCOMPARE(ChecksumList::read(QFile::encodeName(f.camera()).toStdString()).size(), size_t(2));
    QVERIFY(xxhsumPasses(f.camera()));

    QVERIFY(QFile::rename(away, third));
    QCOMPARE(resumeTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 5);
    compareCopies(f.card(), f.camera());
    QVERIFY(xxhsumPasses(f.camera()));
    QCOMPARE(ChecksumList::read(QFile::encodeName(f.camera()).toStdString()).size(), size_t(5));
}

void TestOffloadEngine::destinationNotWritable()
{
    Fixture f;
    QVERIFY(makeCard(f.card(), 4, 2));
    QDir().mkpath(f.camera());
    // A file where the sub-folder of the second photo should go.
    QFile blocker(f.camera() + QStringLiteral("/100MEDIA"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    DiskTask task;
    f.fill(&task, 0);
    QCOMPARE(createTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(task.failed.load(), 1);
    QCOMPARE(task.filesDone.load(), 0); // "100MEDIA/..." sorts first
    QVERIFY2(QByteArray(task.error).contains("100MEDIA"), task.error);
    QVERIFY(QFile::remove(f.camera() + QStringLiteral("/100MEDIA")));
    QCOMPARE(resumeTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(task.filesDone.load(), 4);
    compareCopies(f.card(), f.camera());
}

void TestOffloadEngine::volumes_data()
{
    QTest::addColumn<int>("photos");
    QTest::addColumn<double>("volumeMb");
    QTest::addColumn<bool>("withPassword");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("archives");
    QTest::newRow("one archive") << 6 << 1000.0 << false << QString() << 1;
    QTest::newRow("size 0: one per photo, pack9 to pack11")
        << 11 << 0.0 << false << QString() << 11;
    QTest::newRow("password") << 6 << 1000.0 << true << QStringLiteral("s3cret") << 1;
    QTest::newRow("empty password") << 3 << 0.0 << true << QString() << 3;
    // Samples are 2 KB to 45 KB: a 20 KB volume closes after one or more photos.
    QTest::newRow("small volumes") << 12 << 0.02 << false << QString() << -1;
}

void TestOffloadEngine::volumes()
{
    QFETCH(int, photos);
    QFETCH(double, volumeMb);
    QFETCH(bool, withPassword);
    QFETCH(QString, password);
    QFETCH(int, archives);
    Fixture f;
    QVERIFY(makeCard(f.card(), photos, 4));
    DiskTask task;
    f.fill(&task, 0);
    task.record.volumeMode = 1;
    task.record.volumeSize = volumeMb;
    task.record.passwordFlag = withPassword ? 1 : 0;
    taskRecordSetText(task.record.password, password.toUtf8().constData());
    QCOMPARE(createTask(&task, 0), 0);
    waitStopped(&task);
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), photos);

    QStringList files = filesBelow(f.camera());
    QVERIFY(files.removeOne(QString::fromLatin1(ChecksumList::FileName)));
    if (archives > 0)
        QCOMPARE(files.size(), archives);
    else
        QVERIFY(files.size() > 1 && files.size() < photos);
    QStringList entries;
    for (int n = 1; n <= files.size(); ++n) {
        const QString name = QStringLiteral("pack%1.zip").arg(n);
        QVERIFY2(files.contains(name), qPrintable(files.join(QLatin1Char(' '))));
        const QString archive = f.camera() + QLatin1Char('/') + name;
        QStringList unzipArgs = {QStringLiteral("-tq"), archive};
        QStringList sevenArgs = {QStringLiteral("t"), archive};
        if (withPassword) {
            unzipArgs.prepend(QStringLiteral("-P") + password);
            sevenArgs << QStringLiteral("-p") + password;
        }
        QByteArray output;
        if (withPassword && password.isEmpty()) {
            // unzip and 7z take an empty password for none; the entries must still be encrypted.
            runIn(f.camera(), QStringLiteral("zipinfo"), {QStringLiteral("-v"), archive}, &output);
            QVERIFY2(output.contains("file security status:                           encrypted"),
                     output.constData());
            entries += archiveEntries(archive);
            continue;
        }
        QVERIFY2(runIn(f.camera(), QStringLiteral("unzip"), unzipArgs, &output) == 0,
                 output.constData());
        QVERIFY2(runIn(f.camera(), QStringLiteral("7z"), sevenArgs, &output) == 0,
                 output.constData());
        if (withPassword && !password.isEmpty())
            QVERIFY(runIn(f.camera(), QStringLiteral("7z"),
                          {QStringLiteral("t"), archive, QStringLiteral("-pwrong")}) != 0);
        // A volume closes once it has reached the size; the next photo opens the next one.
        if (n < files.size() && volumeMb > 0)
            QVERIFY(QFileInfo(archive).size() >= qint64(volumeMb * 1048576));
        entries += archiveEntries(archive);
    }
    QCOMPARE(entries, filesBelow(f.card()));
    QVERIFY(xxhsumPasses(f.camera()));
    QCOMPARE(ChecksumList::read(QFile::encodeName(f.camera()).toStdString()).size(),
             size_t(files.size()));

    // Every central directory record: deflate, UTF-8 names without a password, encrypted with
    // one, and the DOS time of the photo's modification time.
    for (int n = 1; n <= files.size(); ++n) {
        const QByteArray archive = fileBytes(f.camera() + QStringLiteral("/pack%1.zip").arg(n));
        for (qsizetype at = archive.indexOf("PK\x01\x02"); at >= 0;
             at = archive.indexOf("PK\x01\x02", at + 4)) {
            const auto *r = reinterpret_cast<const uchar *>(archive.constData() + at);
            const int flags = r[8] | r[9] << 8;
            QCOMPARE(r[10] | r[11] << 8, 8);
            QCOMPARE(bool(flags & 0x800), !withPassword);
            QCOMPARE(bool(flags & 1), withPassword);
            const int time = r[12] | r[13] << 8;
            const int date = r[14] | r[15] << 8;
            const QString name = QString::fromUtf8(archive.mid(at + 46, r[28] | r[29] << 8));
            const QDateTime modified = QFileInfo(f.card() + QLatin1Char('/') + name).lastModified();
            QCOMPARE(QDate(1980 + (date >> 9), (date >> 5) & 15, date & 31), modified.date());
            QCOMPARE(QTime(time >> 11, (time >> 5) & 63, (time & 31) * 2),
                     QTime(modified.time().hour(), modified.time().minute(),
                           modified.time().second() / 2 * 2));
        }
    }
    if (withPassword && password.isEmpty())
        return;
    // The stored bytes are the card's.
    const QString first = f.card() + QLatin1Char('/') + entries.first();
    QByteArray extracted;
    QStringList args = {QStringLiteral("-p"), f.camera() + QStringLiteral("/pack1.zip"),
                        entries.first()};
    if (withPassword)
        args.prepend(QStringLiteral("-P") + password);
    runIn(f.camera(), QStringLiteral("unzip"), args, &extracted);
    QCOMPARE(extracted, fileBytes(first));
}

void TestOffloadEngine::volumeMismatchRolledBack_data()
{
    QTest::addColumn<double>("volumeMb");
    QTest::addColumn<int>("camera");
    QTest::newRow("appended entry") << 1000.0 << 5;
    QTest::newRow("new archive") << 0.0 << 4;
}

// The third file's archive reads back wrong once: the archive is put back and the entry written
// again, so each photo is in the archives exactly once and every archive tests clean.
void TestOffloadEngine::volumeMismatchRolledBack()
{
    QFETCH(double, volumeMb);
    QFETCH(int, camera);
    Fixture f;
    QVERIFY(makeCard(f.card(), 4));
    DiskTask task;
    f.fill(&task, camera);
    task.record.volumeMode = 1;
    task.record.volumeSize = volumeMb;
    const int fired = FaultPoints::fired();
    QCOMPARE(createTask(&task, camera), 0);
    waitStopped(&task);
    QCOMPARE(FaultPoints::fired(), fired + 1);
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 4);
    QStringList entries;
    for (const QString &archive : QDir(f.camera()).entryList({QStringLiteral("*.zip")})) {
        QByteArray output;
        QVERIFY2(runIn(f.camera(), QStringLiteral("unzip"), {QStringLiteral("-tq"), archive},
                       &output) == 0,
                 output.constData());
        entries += archiveEntries(f.camera() + QLatin1Char('/') + archive);
    }
    entries.sort();
    QCOMPARE(entries, filesBelow(f.card()));
    QVERIFY(xxhsumPasses(f.camera()));
}

void TestOffloadEngine::taggingAndTables()
{
    Fixture f;
    QVERIFY(makeCard(f.card(), 3));
    OffloadPosSet set;
    set.times = {1700000000u, 1700000002u};
    set.positions = {{113.25125, 23.5, 152.3}, {-70.5, -33.25, 1523.456}};
    QString tables[Cameras::Count];
    for (int c = 0; c < Cameras::Count; ++c)
        tables[c] = PhotoTagStep::tablePath(f.dir.path(), c);
    auto tagger = std::make_unique<PhotoTagStep>(QList<OffloadPosSet>{set}, tables, false);
    OffloadSession session;
    session.setStateFolder(f.dir.path());
    session.setPhotoStep(tagger->step());
    OffloadSession::Setup setup;
    setup.sources[0] = f.card();
    setup.target = f.target();
    setup.pos = {set};
    QString error;
    QVERIFY2(session.start(setup, &error), qPrintable(error));
    waitSession(session);
    QVERIFY(session.complete());
    QVERIFY(session.errors().isEmpty());
    const QString center = f.target() + QStringLiteral("/Center");
    QVERIFY(xxhsumPasses(center));

    QByteArray output;
    QCOMPARE(runIn(center, QStringLiteral("exiftool"),
                   {QStringLiteral("-n"), QStringLiteral("-T"), QStringLiteral("-GPSLatitude"),
                    QStringLiteral("-GPSLongitude"), QStringLiteral("-GPSAltitude"),
                    QStringLiteral("-FocalLength"), QStringLiteral("DSC00001.JPG"),
                    QStringLiteral("DSC00002.JPG"), QStringLiteral("DSC00003.JPG")},
                   &output),
             0);
    const QList<QByteArray> lines = output.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    const QList<QByteArray> first = lines[0].split('\t');
    QVERIFY2(qAbs(first[0].toDouble() - 23.5) < 1e-5 &&
                 qAbs(first[1].toDouble() - 113.25125) < 1e-5,
             lines[0].constData());
    QVERIFY2(qAbs(first[2].toDouble() - 152.3) < 1e-3 && first[3].trimmed() == "20",
             lines[0].constData());
    const QList<QByteArray> second = lines[1].split('\t');
    QVERIFY2(qAbs(qAbs(second[0].toDouble()) - 33.25) < 1e-5 &&
                 qAbs(qAbs(second[1].toDouble()) - 70.5) < 1e-5,
             lines[1].constData());
    // The copy is the photo the tagger makes of the whole card file, byte for byte.
    QByteArray whole;
    QVERIFY(Geotag::tagBuffer(fileBytes(f.card() + QStringLiteral("/DSC00002.JPG")),
                              PhotoTagStep::FocalLengthMm, GeoPosition{-33.25, -70.5, 1523.456},
                              &whole, &error));
    QCOMPARE(fileBytes(center + QStringLiteral("/DSC00002.JPG")).toHex(), whole.toHex());
    // Beyond the last record the photo is copied as the card holds it.
    QCOMPARE(fileBytes(center + QStringLiteral("/DSC00003.JPG")),
             fileBytes(f.card() + QStringLiteral("/DSC00003.JPG")));

    tagger.reset(); // closes the table
    const QList<QByteArray> rows = fileBytes(tables[0]).split('\n');
    QCOMPARE(rows.size(), 5); // header, three rows, the empty rest after the last newline
    QVERIFY(rows[0].startsWith("照片路径,Model,make,"));
    QVERIFY(rows[1].startsWith(QFile::encodeName(center + QStringLiteral("/DSC00001.JPG")) + ','));
    QVERIFY(rows[3].startsWith(QFile::encodeName(center + QStringLiteral("/DSC00003.JPG")) + ','));
    // The rows come from the headers held in memory, tagged or not; they must say what the
    // copies on the disk say.
    for (int n = 1; n <= 3; ++n) {
        const QString copy = center + QStringLiteral("/DSC0000%1.JPG").arg(n);
        QCOMPARE(rows[n] + '\n', PhotoInfoTable::row(copy, ExifReader::readFile(copy)));
    }
}

void TestOffloadEngine::headerTagMatchesWholeTag_data()
{
    QTest::addColumn<QString>("photo");
    for (const QString &photo : samplePhotos())
        QTest::newRow(qPrintable(QFileInfo(photo).fileName())) << photo;
}

// The step tags only the header and appends the image data: the result must be the photo the
// tagger makes of the whole file, byte for byte.
void TestOffloadEngine::headerTagMatchesWholeTag()
{
    QFETCH(QString, photo);
    const QByteArray bytes = fileBytes(photo);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const size_t scan = JpegScan::scanStart(data, size_t(bytes.size()));
    QVERIFY(scan > 2);
    QCOMPARE(bytes.mid(qsizetype(scan), 2), QByteArray("\xff\xda", 2));

    OffloadPosSet set;
    set.positions = {{-70.123456, -33.5, 512.25}};
    QString tables[Cameras::Count];
    PhotoTagStep step({set}, tables, false);
    std::vector<unsigned char> tagged;
    size_t replaced = 0;
    QCOMPARE(step.step().tag(step.step().context, 0, 0, "x.jpg", data, size_t(bytes.size()),
                             &tagged, &replaced),
             1);
    // The step gives the new header and how much of the photo it replaces; the rest follows.
    QCOMPARE(replaced, scan + 4);
    tagged.insert(tagged.end(), data + replaced, data + bytes.size());
    QByteArray whole;
    QString error;
    QVERIFY2(Geotag::tagBuffer(bytes, PhotoTagStep::FocalLengthMm,
                               GeoPosition{-33.5, -70.123456, 512.25}, &whole, &error),
             qPrintable(error));
    QCOMPARE(
        QByteArray(reinterpret_cast<const char *>(tagged.data()), qsizetype(tagged.size())).toHex(),
        whole.toHex());
    // The photo information row from the header alone is the row from the whole photo.
    const char *header = reinterpret_cast<const char *>(tagged.data());
    QCOMPARE(
        PhotoInfoTable::row(
            QStringLiteral("p.jpg"),
            ExifReader::readBuffer(header, JpegScan::scanStart(tagged.data(), tagged.size()) + 4)),
        PhotoInfoTable::row(QStringLiteral("p.jpg"),
                            ExifReader::readBuffer(header, tagged.size())));
    // Beyond the last record nothing is tagged.
    QCOMPARE(step.step().tag(step.step().context, 0, 1, "x.jpg", data, size_t(bytes.size()),
                             &tagged, &replaced),
             0);
}

void TestOffloadEngine::sortiesAndBlockFiles()
{
    Fixture f;
    QVERIFY(makeCard(f.card(), 6));
    OffloadPosSet first;
    first.times = {1700000000u, 1700000010u, 1700000020u};
    first.positions = {{113.1, 23.1, 100}, {113.2, 23.2, 101}, {113.3, 23.3, 102}};
    OffloadPosSet second;
    second.times = {1700100000u, 1700100010u};
    second.positions = {{114.1, 24.1, 200}, {114.2, 24.2, 201}};
    QString tables[Cameras::Count];
    for (int c = 0; c < Cameras::Count; ++c)
        tables[c] = PhotoTagStep::tablePath(f.dir.path(), c);
    auto tagger =
        std::make_unique<PhotoTagStep>(QList<OffloadPosSet>{first, second}, tables, false);
    OffloadSession session;
    session.setStateFolder(f.dir.path());
    session.setPhotoStep(tagger->step());
    OffloadSession::Setup setup;
    setup.sources[4] = f.card(); // Back
    setup.target = f.target();
    setup.pos = {first, second};
    setup.splitSorties = true;
    QString error;
    QVERIFY2(session.start(setup, &error), qPrintable(error));
    waitSession(session);
    QVERIFY(session.complete());
    tagger.reset();
    const QString right = f.target() + QStringLiteral("/Back");
    QCOMPARE(
        filesBelow(right),
        QStringList({QStringLiteral("DSC00006.JPG"), QString::fromLatin1(ChecksumList::FileName),
                     QStringLiteral("第1架次/DSC00001.JPG"), QStringLiteral("第1架次/DSC00002.JPG"),
                     QStringLiteral("第1架次/DSC00003.JPG"), QStringLiteral("第2架次/DSC00004.JPG"),
                     QStringLiteral("第2架次/DSC00005.JPG")}));
    QVERIFY(xxhsumPasses(right));

    QStringList messages;
    QCOMPARE(SortieBlocks::write(f.target(), setup.pos, tables, &messages), 2);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
    const struct
    {
        int sortie;
        QStringList photos;
        OffloadPosSet set;
    } expected[] = {{1, {"DSC00001.JPG", "DSC00002.JPG", "DSC00003.JPG"}, first},
                    {2, {"DSC00004.JPG", "DSC00005.JPG"}, second}};
    for (const auto &e : expected) {
        QDomDocument block;
        QFile file(f.target() + QLatin1Char('/') + SortieBlocks::fileName(e.sortie));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(block.setContent(&file));
        const QDomElement root = block.documentElement();
        QCOMPARE(root.tagName(), QStringLiteral("BlocksExchange"));
        QCOMPARE(root.attribute(QStringLiteral("version")), QStringLiteral("3.2"));
        QCOMPARE(root.firstChildElement(QStringLiteral("SpatialReferenceSystems"))
                     .firstChildElement(QStringLiteral("SRS"))
                     .firstChildElement(QStringLiteral("Definition"))
                     .text(),
                 QStringLiteral("EPSG:4326"));
        const QDomElement blockElement = root.firstChildElement(QStringLiteral("Block"));
        QCOMPARE(blockElement.firstChildElement(QStringLiteral("Name")).text(),
                 QStringLiteral("Block_%1.xml").arg(e.sortie));
        const QDomNodeList groups = blockElement.elementsByTagName(QStringLiteral("Photogroup"));
        QCOMPARE(groups.size(), 1);
        const QDomElement group = groups.at(0).toElement();
        QCOMPARE(group.firstChildElement(QStringLiteral("CameraModelType")).text(),
                 QStringLiteral("Perspective"));
        QCOMPARE(group.firstChildElement(QStringLiteral("SensorSize")).text(),
                 QStringLiteral("23.5"));
        QVERIFY(group.firstChildElement(QStringLiteral("ImageDimensions"))
                    .firstChildElement(QStringLiteral("Width"))
                    .text()
                    .toInt() > 0);
        const QDomNodeList photos = group.elementsByTagName(QStringLiteral("Photo"));
        QCOMPARE(photos.size(), e.photos.size());
        for (int k = 0; k < photos.size(); ++k) {
            const QDomElement photo = photos.at(k).toElement();
            QCOMPARE(photo.firstChildElement(QStringLiteral("ImagePath")).text(),
                     QStringLiteral("./Back/第%1架次/%2").arg(e.sortie).arg(e.photos[k]));
            const QDomElement center = photo.firstChildElement(QStringLiteral("Pose"))
                                           .firstChildElement(QStringLiteral("Center"));
            QCOMPARE(center.firstChildElement(QStringLiteral("x")).text().toDouble(),
                     e.set.positions[k].x);
            QCOMPARE(center.firstChildElement(QStringLiteral("y")).text().toDouble(),
                     e.set.positions[k].y);
            QCOMPARE(center.firstChildElement(QStringLiteral("z")).text().toDouble(),
                     e.set.positions[k].z);
            QCOMPARE(photo.firstChildElement(QStringLiteral("ExifData"))
                         .firstChildElement(QStringLiteral("DateTimeOriginal"))
                         .text(),
                     QDateTime::fromSecsSinceEpoch(e.set.times[k])
                         .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        }
    }
}

void TestOffloadEngine::badDiskNumber()
{
    DiskTask task;
    taskRecordClear(&task.record);
    QCOMPARE(createTask(&task, 6), -1);
    QCOMPARE(resumeTask(&task, -1), -1);
    QCOMPARE(pauseTask(&task, 9), -1);
    QCOMPARE(task.stopped.load(), 1);
}

QTEST_GUILESS_MAIN(TestOffloadEngine)
#include "tst_offloadengine.moc"
