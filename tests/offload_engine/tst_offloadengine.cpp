// The copy engine in-process: plain copies with verification, retries and failures, pause and
// resume, zip volumes checked by unzip and 7z, tagging, sortie folders and block files.
#include <QDomDocument>
#include <QTemporaryDir>
#include <QtTest>

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

bool stopped(const DiskTask &task)
{
    return waitFor([&] { return task.stopped.load() != 0; });
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

    // Starts (or resumes) the task and waits until its thread has ended.
    static bool run(DiskTask &task, bool resume = false)
    {
        const int camera = task.record.camera;
        return (resume ? resumeTask(&task, camera) : createTask(&task, camera)) == 0 &&
               stopped(task);
    }

    size_t listed() const
    {
        return ChecksumList::read(QFile::encodeName(camera()).toStdString()).size();
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
    void verifyMismatch_data();
    void verifyMismatch();
    void pauseMidFileAndResume();
    void destinationNotWritable();
    void volumes_data();
    void volumes();
    void volumeMismatchRolledBack_data();
    void volumeMismatchRolledBack();
    void taggedSortiesAndBlockFiles();
    void headerTagMatchesWholeTag_data();
    void headerTagMatchesWholeTag();
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
    QVERIFY(Fixture::run(task));
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 10);
    QCOMPARE(task.fileCount.load(), 10);
    checkCopies(f.card(), f.camera());
    QCOMPARE(f.listed(), size_t(10));
    QCOMPARE(QFileInfo(f.camera() + QStringLiteral("/DSC00001.JPG")).lastModified(),
             QFileInfo(f.card() + QStringLiteral("/DSC00001.JPG")).lastModified());

    // Resuming a finished task ends at once and changes nothing.
    QVERIFY(Fixture::run(task, true));
    QCOMPARE(task.filesDone.load(), 10);
    QCOMPARE(f.listed(), size_t(10));

    // A new offload into the same folder replaces the lines of the files it copies again.
    QVERIFY(Fixture::run(task));
    checkCopies(f.card(), f.camera());
}

void TestOffloadEngine::verifyMismatch_data()
{
    QTest::addColumn<int>("camera");
    QTest::addColumn<int>("filesDone");
    QTest::newRow("read back wrong once: retried") << 1 << 4;
    QTest::newRow("read back wrong twice: fails") << 2 << 1;
}

void TestOffloadEngine::verifyMismatch()
{
    QFETCH(int, camera);
    QFETCH(int, filesDone);
    Fixture f;
    QVERIFY(makeCard(f.card(), 4));
    DiskTask task;
    f.fill(&task, camera);
    const int fired = FaultPoints::fired();
    QVERIFY(Fixture::run(task));
    QCOMPARE(task.filesDone.load(), filesDone);
    QCOMPARE(task.failed.load(), filesDone == 4 ? 0 : 1);
    if (filesDone == 4) {
        QCOMPARE(FaultPoints::fired(), fired + 1);
        checkCopies(f.card(), f.camera());
        return;
    }
    QVERIFY2(QByteArray(task.error).contains("verify"), task.error);
    // Only the verified file is there; the bad copy left nothing behind.
    QCOMPARE(filesBelow(f.camera()), QStringList({QStringLiteral("DSC00001.JPG"),
                                                  QString::fromLatin1(ChecksumList::FileName)}));
    checkList(f.camera(), 1);
    // Without verification the same fault goes unnoticed: the check is what catches it.
    task.verify = 0;
    QVERIFY(Fixture::run(task, true));
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
    QVERIFY(waitFor([&] { return task.filesDone.load() >= 2; }));
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

    QVERIFY(Fixture::run(task, true));
    QCOMPARE(task.filesDone.load(), 8);
    checkCopies(f.card(), f.camera());
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
    QVERIFY(Fixture::run(task));
    QCOMPARE(task.failed.load(), 1);
    QCOMPARE(task.filesDone.load(), 0); // "100MEDIA/..." sorts first
    QVERIFY2(QByteArray(task.error).contains("100MEDIA"), task.error);
    QVERIFY(QFile::remove(f.camera() + QStringLiteral("/100MEDIA")));
    QVERIFY(Fixture::run(task, true));
    QCOMPARE(task.filesDone.load(), 4);
    checkCopies(f.card(), f.camera());
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
    QVERIFY(Fixture::run(task));
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
    // Every central directory record: deflate, UTF-8 names without a password, encrypted with
    // one, and the DOS time of the photo's modification time.
    for (int n = 0; n < made.size(); ++n) {
        const QByteArray archive = fileBytes(f.camera() + QLatin1Char('/') + made[n]);
        // A volume closes once it has reached the size; the next photo opens the next one.
        if (n + 1 < made.size() && volumeMb > 0)
            QVERIFY(archive.size() >= qint64(volumeMb * 1048576));
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
    const QString first = filesBelow(f.card()).first();
    QByteArray extracted;
    QStringList args = {QStringLiteral("-p"), made.first(), first};
    if (withPassword)
        args.prepend(QStringLiteral("-P") + password);
    runIn(f.camera(), QStringLiteral("unzip"), args, &extracted);
    QCOMPARE(extracted, fileBytes(f.card() + QLatin1Char('/') + first));
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
    QVERIFY(Fixture::run(task));
    QCOMPARE(FaultPoints::fired(), fired + 1);
    QCOMPARE(task.failed.load(), 0);
    QCOMPARE(task.filesDone.load(), 4);
    checkArchives(f.card(), f.camera());
}

// Two POS tables split into sorties, through the session with the tagging step: each photo
// that has a record carries that record's position, in its sortie's folder; the one beyond the
// last record is copied as the card holds it. The photo table and block files describe copies.
void TestOffloadEngine::taggedSortiesAndBlockFiles()
{
    Fixture f;
    QVERIFY(makeCard(f.card(), 6));
    OffloadPosSet first;
    first.times = {1700000000u, 1700000010u, 1700000020u};
    first.positions = {{113.25125, 23.5, 152.3}, {113.2, 23.2, 101}, {113.3, 23.3, 102}};
    OffloadPosSet second;
    second.times = {1700100000u, 1700100010u};
    second.positions = {{-70.5, -33.25, 1523.456}, {114.2, 24.2, 201}};
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
    QVERIFY(waitFor([&] { return !session.running(); }));
    QVERIFY(session.complete());
    QVERIFY(session.errors().isEmpty());
    tagger.reset(); // closes the tables

    const QString back = f.target() + QStringLiteral("/Back");
    const QStringList copies = {"第1架次/DSC00001.JPG", "第1架次/DSC00002.JPG",
                                "第1架次/DSC00003.JPG", "第2架次/DSC00004.JPG",
                                "第2架次/DSC00005.JPG", "DSC00006.JPG"};
    QStringList expected = copies + QStringList{QString::fromLatin1(ChecksumList::FileName)};
    expected.sort();
    QCOMPARE(filesBelow(back), expected);
    checkList(back, 6);
    const QList<QByteArray> rows = fileBytes(tables[4]).split('\n');
    QCOMPARE(rows.size(), 8); // header, six rows, the empty rest after the last newline
    QVERIFY(rows[0].startsWith("照片路径,Model,make,"));
    auto imageData = [](const QByteArray &jpeg) {
        const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
        return jpeg.mid(qsizetype(JpegScan::scanStart(data, size_t(jpeg.size()))));
    };
    for (int k = 0; k < 6; ++k) {
        const QByteArray photo = fileBytes(f.card() + QStringLiteral("/DSC0000%1.JPG").arg(k + 1));
        const QString copy = back + QLatin1Char('/') + copies[k];
        const PhotoInfo info = ExifReader::readFile(copy);
        if (k < 5) {
            // The header is the step's (checked byte for byte below), the image data the card's.
            const auto &p = k < 3 ? first.positions[k] : second.positions[k - 3];
            QVERIFY2(qAbs(info.gpsLatitude - p.y) < 1e-6 && qAbs(info.gpsLongitude - p.x) < 1e-6,
                     qPrintable(copy));
            QVERIFY2(imageData(fileBytes(copy)) == imageData(photo), qPrintable(copy));
        } else {
            QVERIFY(fileBytes(copy) == photo);
        }
        // The rows come from the headers held in memory, tagged or not; they must say what the
        // copies on the disk say.
        QCOMPARE(rows[k + 1] + '\n', PhotoInfoTable::row(copy, info));
    }

    QStringList messages;
    QCOMPARE(SortieBlocks::write(f.target(), setup.pos, tables, &messages), 2);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
    auto text = [](QDomElement e, const char *path) {
        for (const QString &name : QString::fromLatin1(path).split(QLatin1Char('/')))
            e = e.firstChildElement(name);
        return e.text();
    };
    for (int sortie = 1; sortie <= 2; ++sortie) {
        const OffloadPosSet &set = sortie == 1 ? first : second;
        QDomDocument block;
        QFile file(f.target() + QLatin1Char('/') + SortieBlocks::fileName(sortie));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(block.setContent(&file));
        const QDomElement root = block.documentElement();
        QCOMPARE(root.tagName(), QStringLiteral("BlocksExchange"));
        QCOMPARE(root.attribute(QStringLiteral("version")), QStringLiteral("3.2"));
        QCOMPARE(text(root, "SpatialReferenceSystems/SRS/Definition"), QStringLiteral("EPSG:4326"));
        QCOMPARE(text(root, "Block/Name"), QStringLiteral("Block_%1.xml").arg(sortie));
        const QDomNodeList groups = root.elementsByTagName(QStringLiteral("Photogroup"));
        QCOMPARE(groups.size(), 1);
        const QDomElement group = groups.at(0).toElement();
        QCOMPARE(text(group, "CameraModelType"), QStringLiteral("Perspective"));
        QCOMPARE(text(group, "SensorSize"), QStringLiteral("23.5"));
        QVERIFY(text(group, "ImageDimensions/Width").toInt() > 0);
        const QDomNodeList photos = group.elementsByTagName(QStringLiteral("Photo"));
        QCOMPARE(photos.size(), set.positions.size());
        for (int k = 0; k < photos.size(); ++k) {
            const QDomElement photo = photos.at(k).toElement();
            QCOMPARE(text(photo, "ImagePath"),
                     QStringLiteral("./Back/") +
                         copies[k + (sortie == 1 ? 0 : first.positions.size())]);
            QCOMPARE(text(photo, "Pose/Center/x").toDouble(), set.positions[k].x);
            QCOMPARE(text(photo, "Pose/Center/y").toDouble(), set.positions[k].y);
            QCOMPARE(text(photo, "Pose/Center/z").toDouble(), set.positions[k].z);
            QCOMPARE(text(photo, "ExifData/DateTimeOriginal"),
                     QDateTime::fromSecsSinceEpoch(set.times[k])
                         .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        }
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
