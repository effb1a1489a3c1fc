// The copy engine in-process: plain copies with verification, retries and failures, pause and
// resume, zip volumes checked by unzip and 7z, tagging, sortie folders and block files.
#include <QDomDocument>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include "cardrig.h"
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
#include "syncio.h"
#include "zipvolume.h"

using namespace OffloadFixture;

namespace {

// Faults the tests below rely on; the engine reads them once per process. Camera numbers
// pick the test: 1 corrupt once, 2 corrupt always, 4 and 5 corrupt an archive once; 6 and up (tasks
// of disk 0) read as a failing medium would, once or always.
const char *const Faults = "1:2:written:corrupt,2:1:written:corrupt-always,"
                           "4:2:written:corrupt,5:2:written:corrupt,"
                           "6:2:opened:eio,7:0:opened:eio,7:6:opened:eio,8:2:opened:eio,"
                           "9:0:opened:eio,10:3:opened:eio,11:4:opened:eio-always,12:1:opened:eio";

struct Fixture
{
    QTemporaryDir dir;
    QString card() const { return dir.filePath(QStringLiteral("card")); }
    QString target() const { return dir.filePath(QStringLiteral("target")); }
    QString camera() const { return dir.filePath(QStringLiteral("target/Cam")); }

    void fill(DiskTask *task, int camera)
    {
        QDir().mkpath(this->camera());
        const QByteArray folder = QFile::encodeName(this->camera());
        taskRecordClear(&task->record);
        taskRecordSetText(task->record.source, QFile::encodeName(card()).constData());
        taskRecordSetText(task->record.destination, folder.constData());
        taskRecordSetText(task->record.archivePath, (folder + "/pack1.zip").constData());
        taskRecordSetText(task->record.archiveName, "pack1");
        taskRecordSetText(task->record.archivePrefix, (folder + '/').constData());
        taskRecordSetText(task->record.taskFilePath,
                          QFile::encodeName(dir.filePath(QStringLiteral("cam.log"))).constData());
        task->record.camera = camera;
        task->volumes = ZipVolume::steps(); // as the session plugs them in
    }

    // Starts (or resumes) the task and waits until its thread has ended.
    static bool run(DiskTask &task, bool resume = false)
    {
        const int camera = task.record.camera > 5 ? 0 : task.record.camera;
        return (resume ? resumeTask(&task, camera) : createTask(&task, camera)) == 0 &&
               waitFor([&] { return task.stopped.load() != 0; });
    }
};

} // namespace

class TestOffloadEngine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void plainCopy_data();
    void plainCopy();
    void failedFile_data();
    void failedFile();
    void volumes_data();
    void volumes();
    void taggedSortiesAndBlockFiles();
    void unreadableFiles_data();
    void unreadableFiles();
    void checksumNames_data();
    void checksumNames();
    void directWriter_data();
    void directWriter();
    void sameDisk();
};

void TestOffloadEngine::initTestCase()
{
    qputenv("V7_OFFLOAD_FAULT", Faults);
    QVERIFY2(samplePhotos().size() >= 10, "sample photos missing");
}

void TestOffloadEngine::plainCopy_data()
{
    QTest::addColumn<int>("camera");
    QTest::newRow("verified") << 0;
    QTest::newRow("read back wrong once: retried") << 1;
}

void TestOffloadEngine::plainCopy()
{
    QFETCH(int, camera);
    Fixture f;
    QVERIFY(makeCard(f.card(), 7, 3));
    QVERIFY(QFile::copy(f.card() + "/DSC00001.JPG", f.card() + QStringLiteral("/照片 ü.JPG")));
    // A file of exactly one read chunk and an empty file.
    QVERIFY(writeFile(f.card() + QStringLiteral("/exact.bin"), QByteArray(1 << 20, 'e')));
    QVERIFY(writeFile(f.card() + QStringLiteral("/empty.bin"), QByteArray()));

    DiskTask task;
    f.fill(&task, camera);
    const int fired = FaultPoints::fired();
    QVERIFY(Fixture::run(task));
    QCOMPARE(FaultPoints::fired(), fired + (camera ? 1 : 0));
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 10);
    QCOMPARE(task.fileCount.load(), 10);
    checkCopies(f.card(), f.camera());
    QCOMPARE(QFileInfo(f.camera() + QStringLiteral("/DSC00001.JPG")).lastModified(),
             QFileInfo(f.card() + QStringLiteral("/DSC00001.JPG")).lastModified());
    // The task file: the record with its counts, then the card's paths in byte order, 260 each.
    const QByteArray taskFile = fileBytes(f.dir.filePath(QStringLiteral("cam.log")));
    QCOMPARE(taskFile.size(), 1888 + 10 * 260);
    // Stopped, file count and files done.
    QCOMPARE(taskFile.mid(1832, 12).toHex(), QByteArray("000000000a0000000a000000"));
    const QStringList order = filesBelow(f.card()); // "100MEDIA/..." sorts first
    for (int i = 0; i < order.size(); ++i)
        QCOMPARE(taskFile.mid(1888 + i * 260, 260),
                 QFile::encodeName(f.card() + '/' + order[i]).leftJustified(260, '\0'));

    // Pausing a task that has ended returns at once and lets its task file go; disk numbers
    // outside the five are refused.
    QCOMPARE(pauseTask(&task, camera), 0);
    QVERIFY(task.taskFile == nullptr);
    DiskTask other;
    taskRecordClear(&other.record);
    QCOMPARE(createTask(&other, 6), -1);
    QCOMPARE(resumeTask(&other, -1), -1);
    QCOMPARE(pauseTask(&other, 9), -1);
    QCOMPARE(other.stopped.load(), 1);

    // Resuming a finished task ends at once and changes nothing.
    QVERIFY(Fixture::run(task, true));
    QCOMPARE(task.filesDone.load(), 10);
    checkList(f.camera(), 10);

    // A new offload into the same folder replaces the lines of the files it copies again.
    QVERIFY(Fixture::run(task));
    checkCopies(f.card(), f.camera());
}

void TestOffloadEngine::failedFile_data()
{
    QTest::addColumn<int>("camera"); // picks the fault
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("read back wrong twice") << 2 << QByteArray("verify");
    // A file where the sub-folder of the first photo ("100MEDIA/..." sorts first) should go.
    QTest::newRow("destination not writable") << 0 << QByteArray("100MEDIA");
}

// The file that fails stops the task; only the copies verified before it are there, and the
// resume goes on from it.
void TestOffloadEngine::failedFile()
{
    QFETCH(int, camera);
    QFETCH(QByteArray, error);
    const bool blocked = camera == 0;
    Fixture f;
    QVERIFY(makeCard(f.card(), 4, 2));
    QVERIFY(!blocked || writeFile(f.camera() + QStringLiteral("/100MEDIA"), QByteArray()));
    DiskTask task;
    f.fill(&task, camera);
    QVERIFY(Fixture::run(task));
    QCOMPARE(task.failed.load(), 1);
    QCOMPARE(task.filesDone.load(), blocked ? 0 : 1);
    QVERIFY2(QByteArray(task.error).contains(error), task.error);
    if (blocked) {
        QVERIFY(QFile::remove(f.camera() + QStringLiteral("/100MEDIA")));
        QVERIFY(Fixture::run(task, true));
        QCOMPARE(task.filesDone.load(), 4);
        checkCopies(f.card(), f.camera());
        return;
    }
    // The bad copy left nothing behind.
    QCOMPARE(filesBelow(f.camera()), QStringList({QString::fromLatin1(ChecksumList::FileName),
                                                  QStringLiteral("100MEDIA/DSC00002.JPG")}));
    checkList(f.camera(), 1);
    // Without verification the same fault goes unnoticed: the check is what catches it.
    task.verify = 0;
    QVERIFY(Fixture::run(task, true));
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 4);
    QVERIFY(fileBytes(f.card() + QStringLiteral("/100MEDIA/DSC00004.JPG")) !=
            fileBytes(f.camera() + QStringLiteral("/100MEDIA/DSC00004.JPG")));
}

void TestOffloadEngine::volumes_data()
{
    QTest::addColumn<int>("photos");
    QTest::addColumn<double>("volumeMb");
    QTest::addColumn<bool>("withPassword");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("archives");
    QTest::addColumn<int>("camera");
    QTest::newRow("one archive") << 6 << 1000.0 << false << QString() << 1 << 0;
    QTest::newRow("size 0: one per photo, pack9 to pack11")
        << 11 << 0.0 << false << QString() << 11 << 0;
    QTest::newRow("password") << 6 << 1000.0 << true << QStringLiteral("s3cret") << 1 << 0;
    QTest::newRow("empty password") << 3 << 0.0 << true << QString() << 3 << 0;
    // Samples are 2 KB to 45 KB: a 20 KB volume closes after one or more photos.
    QTest::newRow("small volumes") << 12 << 0.02 << false << QString() << -1 << 0;
    // The third file's archive reads back wrong once: the archive is put back and the entry
    // written again, so each photo is in the archives exactly once.
    QTest::newRow("appended entry rolled back")
        << 4 << 1000.0 << true << QStringLiteral("s3cret") << 1 << 5;
    QTest::newRow("new archive rolled back") << 4 << 0.0 << false << QString() << 4 << 4;
}

void TestOffloadEngine::volumes()
{
    QFETCH(int, photos);
    QFETCH(double, volumeMb);
    QFETCH(bool, withPassword);
    QFETCH(QString, password);
    QFETCH(int, archives);
    QFETCH(int, camera);
    Fixture f;
    QVERIFY(makeCard(f.card(), photos, 4));
    DiskTask task;
    f.fill(&task, camera);
    task.record.volumeMode = 1;
    task.record.volumeSize = volumeMb;
    task.record.passwordFlag = withPassword ? 1 : 0;
    taskRecordSetText(task.record.password, password.toUtf8().constData());
    const int fired = FaultPoints::fired();
    QVERIFY(Fixture::run(task));
    QCOMPARE(FaultPoints::fired(), fired + (camera ? 1 : 0));
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), photos);

    QStringList made;
    checkArchives(f.card(), f.camera(), withPassword ? &password : nullptr, &made);
    if (QTest::currentTestFailed())
        return;
    if (archives > 0)
        QCOMPARE(made.size(), archives);
    else
        QVERIFY(made.size() > 1 && made.size() < photos);
    // The last archive's sum was carried along through the read-backs, past any roll-back, to
    // what the whole file sums to (the list's line checked above came from it).
    const QString last = f.camera() + QLatin1Char('/') + made.last();
    uint64_t carried = 0;
    QCOMPARE(task.archiveHash.finish(QFile::encodeName(last).toStdString(), &carried), 0);
    const QByteArray lastBytes = fileBytes(last);
    QCOMPARE(carried, uint64_t(XXH64(lastBytes.constData(), size_t(lastBytes.size()), 0)));
    // Every entry: deflate, UTF-8 names without a password, encrypted with one, and the DOS time
    // of the photo's modification time. Encrypted entries are written without the zip library:
    // given the same stored bytes, the library, appending an entry at a time, writes the very
    // same archives.
    for (int n = 0; n < made.size(); ++n) {
        const QByteArray path = QFile::encodeName(f.camera() + QLatin1Char('/') + made[n]);
        const QByteArray again = path + ".again";
        // A volume closes once it has reached the size; the next photo opens the next one.
        if (n + 1 < made.size() && volumeMb > 0)
            QVERIFY(fileBytes(QFile::decodeName(path)).size() >= qint64(volumeMb * 1048576));
        unzFile in = unzOpen64(path.constData());
        QVERIFY(in);
        for (int at = unzGoToFirstFile(in); at == UNZ_OK; at = unzGoToNextFile(in)) {
            unz_file_info64 info = {};
            char name[256] = {};
            int method = 0, level = 0;
            unzGetCurrentFileInfo64(in, &info, name, sizeof name, nullptr, 0, nullptr, 0);
            QCOMPARE(int(info.compression_method), 8);
            QCOMPARE(bool(info.flag & 0x800), !withPassword);
            QCOMPARE(bool(info.flag & 1), withPassword);
            const int date = int(info.dosDate >> 16);
            const int time = int(info.dosDate & 0xFFFF);
            const QDateTime modified =
                QFileInfo(f.card() + QLatin1Char('/') + QString::fromUtf8(name)).lastModified();
            QCOMPARE(QDate(1980 + (date >> 9), (date >> 5) & 15, date & 31), modified.date());
            const QTime t = modified.time();
            QCOMPARE(QTime(time >> 11, (time >> 5) & 63, (time & 31) * 2),
                     QTime(t.hour(), t.minute(), t.second() / 2 * 2));
            if (!withPassword)
                continue;
            QByteArray raw(qsizetype(info.compressed_size), '\0');
            QCOMPARE(unzOpenCurrentFile2(in, &method, &level, 1), UNZ_OK);
            QCOMPARE(unzReadCurrentFile(in, raw.data(), unsigned(raw.size())), int(raw.size()));
            unzCloseCurrentFile(in);
            zipFile out = zipOpen64(again.constData(), QFile::exists(QFile::decodeName(again))
                                                           ? APPEND_STATUS_ADDINZIP
                                                           : APPEND_STATUS_CREATE);
            zip_fileinfo z = {};
            z.dosDate = info.dosDate;
            QCOMPARE(zipOpenNewFileInZip4_64(out, name, &z, nullptr, 0, nullptr, 0, nullptr, 8, 0, 1,
                                             -MAX_WBITS, 8, 0, nullptr, 0, 0, 1, 0),
                     ZIP_OK);
            zipWriteInFileInZip(out, raw.constData(), unsigned(raw.size()));
            zipCloseFileInZipRaw64(out, info.uncompressed_size, info.crc);
            zipClose(out, nullptr);
        }
        unzClose(in);
        QVERIFY2(!withPassword ||
                     fileBytes(QFile::decodeName(again)) == fileBytes(QFile::decodeName(path)),
                 path.constData());
    }
}

// Every sample photo on one card, two POS tables split into sorties, through the session with
// the tagging step: photo i carries record i's position in its sortie's folder, byte for byte
// the photo the whole-file tagger makes (the step tags only the header it holds in memory); the
// photo beyond the last record is copied as the card holds it, and so is the third, whose GPS
// directory the tagger cannot rewrite so that it reads back: it is named with the reason at the
// end. The photo table rows (made from the headers in memory) and the block files describe the
// copies on the disk.
void TestOffloadEngine::taggedSortiesAndBlockFiles()
{
    Fixture f;
    const int photos = int(samplePhotos().size());
    QVERIFY(makeCard(f.card(), photos));
    const QString damaged = f.card() + QStringLiteral("/DSC00003.JPG");
    QVERIFY(QFile::remove(damaged));
    QVERIFY(QFile::copy(QStringLiteral(V7_TESTDATA_DIR "/damaged-gps/latitude_ref_format.jpg"),
                        damaged));
    {
        // The first photo's segments run past the first 64 KB read (two comments before the
        // image data, as a camera's large maker notes would): it is tagged all the same.
        const QString first = f.card() + QLatin1Char('/') + filesBelow(f.card()).constFirst();
        QByteArray photo = fileBytes(first);
        const size_t scan = JpegScan::scanStart(reinterpret_cast<const unsigned char *>(
                                                    photo.constData()), size_t(photo.size()));
        QVERIFY(scan > 0);
        const QByteArray comment = QByteArray("\xFF\xFE\xEA\x62", 4) + QByteArray(60000, 'c');
        QVERIFY(writeFile(first, photo.insert(qsizetype(scan), comment + comment)));
    }
    QList<OffloadPosSet> pos(2);
    for (int i = 0; i + 1 < photos; ++i) {
        pos[i < photos / 2 ? 0 : 1].times << 1700000000u + 10u * uint(i);
        pos[i < photos / 2 ? 0 : 1].positions
            << OffloadPosPoint{(i % 2 ? -70.5 : 113.25125) + i / 1000.0,
                               (i % 2 ? -33.25 : 23.5) + i / 1000.0, i == 3 ? -12.345 : 10.5 * i};
    }
    QString tables[Cameras::Count];
    for (int c = 0; c < Cameras::Count; ++c)
        tables[c] = PhotoTagStep::tablePath(f.dir.path(), c);
    auto tagger = std::make_unique<PhotoTagStep>(pos, tables, false);
    OffloadSession session;
    session.setStateFolder(f.dir.path());
    session.setPhotoStep(tagger->step());
    OffloadSession::Setup setup;
    setup.sources[4] = f.card(); // Back
    setup.target = f.target();
    setup.pos = pos;
    setup.splitSorties = true;
    QString error;
    QVERIFY2(session.start(setup, &error), qPrintable(error));
    QVERIFY(waitFor([&] { return !session.running(); }));
    QVERIFY(session.complete() && session.errors().isEmpty());
    const QStringList untagged = tagger->untagged();
    tagger.reset(); // closes the tables

    const QString back = f.target() + QStringLiteral("/Back/");
    const QStringList card = filesBelow(f.card());
    const QList<QByteArray> rows = fileBytes(tables[4]).split('\n');
    QCOMPARE(rows.size(), photos + 2); // header, a row per photo, the empty rest
    QVERIFY(rows[0].startsWith("照片路径,Model,make,"));
    QStringList copies;
    for (int i = 0; i < photos; ++i) {
        const int first = int(pos[0].positions.size());
        const int sortie = i + 1 == photos ? 0 : i < first ? 1 : 2;
        copies << (sortie ? SortieBlocks::sortieFolderName(sortie) + '/' : QString()) + card[i];
        const QByteArray photo = fileBytes(f.card() + QLatin1Char('/') + card[i]);
        QByteArray expected = photo;
        if (sortie && i != 2) {
            const OffloadPosPoint &p = pos[sortie - 1].positions[sortie == 1 ? i : i - first];
            QVERIFY2(Geotag::tagBuffer(photo, PhotoTagStep::FocalLengthMm, {p.y, p.x, p.z},
                                       &expected, &error),
                     qPrintable(error));
        }
        QVERIFY2(fileBytes(back + copies[i]) == expected, qPrintable(copies[i]));
        QCOMPARE(rows[i + 1] + '\n',
                 PhotoInfoTable::row(back + copies[i], ExifReader::readFile(back + copies[i])));
    }
    QStringList expected = copies + QStringList{QString::fromLatin1(ChecksumList::FileName)};
    expected.sort();
    QCOMPARE(filesBelow(back), expected);
    checkList(back, photos);
    QCOMPARE(untagged.size(), 1);
    QVERIFY2(untagged[0].startsWith(QStringLiteral("photo not tagged: ") + back + copies[2] + ": "),
             qPrintable(untagged[0]));

    QStringList messages;
    QCOMPARE(SortieBlocks::write(f.target(), pos, tables, &messages), 2);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
    auto text = [](QDomElement e, const char *path) {
        for (const QString &name : QString::fromLatin1(path).split(QLatin1Char('/')))
            e = e.firstChildElement(name);
        return e.text();
    };
    for (int sortie = 1, photo = 0; sortie <= 2; ++sortie) {
        const OffloadPosSet &set = pos[sortie - 1];
        QDomDocument block;
        QVERIFY(block.setContent(fileBytes(f.target() + '/' + SortieBlocks::fileName(sortie))));
        const QDomElement root = block.documentElement();
        QCOMPARE(root.tagName() + root.attribute(QStringLiteral("version")),
                 QStringLiteral("BlocksExchange3.2"));
        QCOMPARE(text(root, "SpatialReferenceSystems/SRS/Definition"), QStringLiteral("EPSG:4326"));
        const QDomNodeList groups = root.elementsByTagName(QStringLiteral("Photogroup"));
        QCOMPARE(groups.size(), 1);
        QVERIFY(text(groups.at(0).toElement(), "ImageDimensions/Width").toInt() > 0);
        const QDomNodeList list = root.elementsByTagName(QStringLiteral("Photo"));
        QCOMPARE(list.size(), set.positions.size());
        for (int k = 0; k < list.size(); ++k, ++photo) {
            const QDomElement e = list.at(k).toElement();
            QCOMPARE(text(e, "ImagePath"), QStringLiteral("./Back/") + copies[photo]);
            QCOMPARE(text(e, "Pose/Center/x").toDouble(), set.positions[k].x);
            QCOMPARE(text(e, "Pose/Center/y").toDouble(), set.positions[k].y);
            QCOMPARE(text(e, "Pose/Center/z").toDouble(), set.positions[k].z);
            QCOMPARE(text(e, "ExifData/DateTimeOriginal"),
                     QDateTime::fromSecsSinceEpoch(set.times[k]).toString("yyyy-MM-dd hh:mm:ss"));
        }
    }
}

void TestOffloadEngine::unreadableFiles_data()
{
    QTest::addColumn<int>("camera"); // picks the faults
    QTest::addColumn<double>("volumeMb"); // -1: plain
    QTest::addColumn<QList<int>>("unreadable"); // files of the first run that fail
    QTest::addColumn<bool>("always");           // and fail again on the resume
    QTest::addColumn<bool>("damaged");          // the list of failed files is garbled meanwhile
    QTest::newRow("plain, one") << 6 << -1.0 << QList<int>{2} << false << false;
    QTest::newRow("plain, first and last") << 7 << -1.0 << QList<int>{0, 6} << false << false;
    QTest::newRow("volumes, one") << 8 << 1000.0 << QList<int>{2} << false << false;
    // With an earlier offload's archive in place: started anew, not added to.
    QTest::newRow("volumes, first") << 9 << 1000.0 << QList<int>{0} << false << false;
    QTest::newRow("volumes of one photo") << 10 << 0.0 << QList<int>{3} << false << false;
    QTest::newRow("plain, still unreadable") << 11 << -1.0 << QList<int>{4} << true << false;
    // A file counted done without its copy is then taken for a failed one.
    QTest::newRow("plain, list damaged") << 12 << -1.0 << QList<int>{1} << false << true;
}

// A photo the card will not give is passed over and listed with its reason; the rest is copied.
// A resume tries exactly the listed ones again and leaves the copies made before alone.
void TestOffloadEngine::unreadableFiles()
{
    QFETCH(int, camera);
    QFETCH(double, volumeMb);
    QFETCH(QList<int>, unreadable);
    QFETCH(bool, always);
    QFETCH(bool, damaged);
    const bool volumes = volumeMb >= 0;
    Fixture f;
    QVERIFY(makeCard(f.card(), 7, 3));
    const QStringList card = filesBelow(f.card());
    QStringList failed;
    for (int i : unreadable)
        failed << card[i];
    QStringList copied = card;
    for (const QString &path : failed)
        copied.removeOne(path);
    if (volumes)
        QVERIFY(writeFile(f.camera() + QStringLiteral("/pack1.zip"), "stale"));
    QHash<QString, qint64> inodes;
    for (bool resume : {false, true}) {
        DiskTask task; // a new one for the resume, as after a restart
        f.fill(&task, camera);
        task.record.volumeMode = volumes ? 1 : 0;
        task.record.volumeSize = volumeMb;
        QVERIFY(Fixture::run(task, resume));
        QCOMPARE(task.failed.load(), 0);
        QCOMPARE(task.filesDone.load(), 7);
        const bool still = !resume || always;
        QCOMPARE(taskFilesCopied(&task), 7 - (still ? int(failed.size()) : 0));
        std::vector<FileProblem> problems, skipped;
        fileProblems(&task, &problems, &skipped);
        QStringList paths;
        for (const FileProblem &p : problems) {
            paths << QString::fromUtf8(p.relative.c_str());
            QVERIFY2(QByteArray(p.reason.c_str()).contains("Input/output error"), p.reason.c_str());
        }
        QCOMPARE(paths, still ? failed : QStringList());
        QCOMPARE(QFileInfo::exists(f.dir.filePath(QStringLiteral("cam.log.failed"))), still);
        QCOMPARE(copiesIn(f.card(), f.camera(), volumes), still ? copied : card);
        for (const QString &path : copied) {
            struct stat st = {};
            ::stat(QFile::encodeName(f.camera() + '/' + path).constData(), &st);
            const qint64 inode = qint64(st.st_ino);
            QVERIFY(volumes || inodes.value(path, inode) == inode); // not copied twice
            inodes.insert(path, inode);
        }
        if (damaged && !resume)
            QVERIFY(writeFile(f.dir.filePath(QStringLiteral("cam.log.failed")), "V7FAILED 1\nF\t"));
    }
    if (!volumes && !always)
        checkCopies(f.card(), f.camera());
}

void TestOffloadEngine::checksumNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("line break") << QStringLiteral("new\nline.JPG");
    QTest::newRow("line break, backslashes") << QStringLiteral("a\\b\nc\\n.JPG");
    QTest::newRow("backslash") << QStringLiteral("back\\slash.JPG");
    QTest::newRow("blanks, carriage return, tab") << QStringLiteral("  cr\rx\ty.JPG");
    QTest::newRow("the list's former name") << QStringLiteral("checksums.xxh64");
    // Hidden card files are not copied, so none can take the list's place.
    QTest::newRow("the list's name") << QString::fromLatin1(ChecksumList::FileName);
    QTest::newRow("the list's name, deeper") << QStringLiteral("sub/") + ChecksumList::FileName;
}

// Any name a card may hold gets a line the checker reads back to that very file.
void TestOffloadEngine::checksumNames()
{
    QFETCH(QString, name);
    Fixture f;
    QVERIFY(makeCard(f.card(), 2));
    QVERIFY(writeFile(f.card() + '/' + name, fileBytes(samplePhotos().at(3))));
    const bool hidden = QFileInfo(name).fileName().startsWith(QLatin1Char('.'));
    DiskTask task;
    f.fill(&task, 0);
    QVERIFY(Fixture::run(task));
    QStringList expected = filesBelow(f.card());
    QVERIFY(!hidden || expected.removeOne(name));
    QCOMPARE(copiesIn(f.card(), f.camera(), false), expected);
    const QString list = QString::fromLatin1(ChecksumList::FileName);
    QByteArray output;
    const int strict = runIn(f.camera(), QStringLiteral("xxhsum"),
                             {QStringLiteral("--strict"), QStringLiteral("-c"), list}, &output);
    if (strict == 0 || !name.contains(QLatin1Char('\n'))) {
        QVERIFY2(strict == 0 && output.count(": OK") == expected.size(), output.constData());
        return;
    }
    // This xxhsum (0.8.1) reads no escaped line: the others must check, and the escaping must
    // be the one GNU md5sum reads, tried on the same name.
    const auto lines = ChecksumList::read(QFile::encodeName(f.camera()).toStdString());
    QVERIFY(std::any_of(lines.begin(), lines.end(), [&](const auto &line) {
        return line.first == QFile::encodeName(name).toStdString();
    }));
    QVERIFY2(output.count(": OK") == expected.size() - 1, output.constData());
    QVERIFY(runIn(f.camera(), QStringLiteral("md5sum"), {QStringLiteral("--"), name}, &output) == 0);
    const std::string md5 = output.mid(1, 32).toStdString(); // after the escape mark
    QVERIFY(writeFile(f.dir.filePath(QStringLiteral("md5")),
                      QByteArray::fromStdString(
                          ChecksumList::line(md5, QFile::encodeName(name).toStdString()))));
    QVERIFY2(runIn(f.camera(), QStringLiteral("md5sum"),
                   {QStringLiteral("--strict"), QStringLiteral("-c"), f.dir.filePath("md5")},
                   &output) == 0,
             output.constData());
}

QTEST_GUILESS_MAIN(TestOffloadEngine)
#include "tst_offloadengine.moc"

void TestOffloadEngine::directWriter_data()
{
    QTest::addColumn<QString>("folder"); // empty: the system's temporary folder
    QTest::addColumn<QList<int>>("pieces");
    const int chunk = 4 << 20;
    // On the disk the blocks go directly; tmpfs may take them directly or the cached way.
    for (const QString &folder : {QString(), QStringLiteral("/dev/shm")}) {
        const char *where = folder.isEmpty() ? "disk" : "tmpfs";
        QTest::addRow("%s: nothing", where) << folder << QList<int>();
        QTest::addRow("%s: one byte", where) << folder << QList<int>({1});
        QTest::addRow("%s: around a block", where) << folder << QList<int>({4095, 1, 4096, 3});
        QTest::addRow("%s: a chunk exactly", where) << folder << QList<int>({chunk});
        QTest::addRow("%s: odd pieces across chunks", where)
            << folder << QList<int>({chunk - 5, 777, chunk + 1, 4096});
    }
}

// What goes in comes out, whole blocks or not, and the file is its exact size.
void TestOffloadEngine::directWriter()
{
    QFETCH(QString, folder);
    QFETCH(QList<int>, pieces);
    QTemporaryDir dir(folder.isEmpty() ? QDir::tempPath() + QStringLiteral("/direct-XXXXXX")
                                       : folder + QStringLiteral("/direct-XXXXXX"));
    QVERIFY(dir.isValid());
    int total = 0;
    for (int n : pieces)
        total += n;
    QByteArray bytes(total, Qt::Uninitialized);
    for (int i = 0; i < total; ++i)
        bytes[i] = char((i * 7919) >> 3);
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("copy")));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    {
        SyncIo::DirectWriter writer(fd);
        int at = 0;
        for (int n : pieces) {
            QCOMPARE(writer.write(bytes.constData() + at, size_t(n)), 0);
            at += n;
        }
        QCOMPARE(writer.finish(), 0);
    }
    QCOMPARE(::fdatasync(fd), 0);
    ::close(fd);
    QCOMPARE(fileBytes(QFile::decodeName(path)), bytes);
}

// Copies go past the page cache only between disks: a partition is its disk, tmpfs is none.
void TestOffloadEngine::sameDisk()
{
    struct stat root = {};
    struct stat shm = {};
    QVERIFY(::stat("/", &root) == 0 && ::stat("/dev/shm", &shm) == 0);
    QVERIFY(SyncIo::sameDisk(root.st_dev, root.st_dev));
    QVERIFY(!SyncIo::sameDisk(root.st_dev, shm.st_dev));
    // A read-back of a copy that is not there fails (the ranges read back are the volumes test).
    QCOMPARE(SyncIo::readFromDisk("/nonexistent/copy", 0, 1, {}), -1);
    const QString unavailable = CardRig::unavailableReason(CardRig::Loop);
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    // A disk image with two partitions, attached with its partitions scanned.
    CardRig rig(CardRig::Loop);
    QString other, error;
    const QString card = rig.plugBesideSecondPartition(QStringLiteral("Part"), &other, &error);
    QVERIFY2(!card.isEmpty(), qPrintable(error));
    const QString device = rig.deviceOf(card); // "/dev/loop3p1"
    struct stat disk = {};
    struct stat partition = {};
    QVERIFY(::stat(QFile::encodeName(device.chopped(2)).constData(), &disk) == 0 &&
            ::stat(QFile::encodeName(device).constData(), &partition) == 0);
    QVERIFY(SyncIo::sameDisk(disk.st_rdev, partition.st_rdev) &&
            SyncIo::sameDisk(partition.st_rdev, disk.st_rdev));
    QVERIFY(!SyncIo::sameDisk(partition.st_rdev, root.st_dev));
}
