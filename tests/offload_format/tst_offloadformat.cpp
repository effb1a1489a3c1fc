// The engine's file formats: task record, task file, loader checks, volume names, archive end
// records, the card file list and "Taskconfig.xml".
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <cstdio>
#include <cstring>

#include <minizip/zip.h>

#include "cardfiles.h"
#include "copyengine.h"
#include "offloadfixture.h"
#include "taskconfig.h"
#include "taskfile.h"
#include "taskrecord.h"
#include "zipvolume.h"

namespace {

QByteArray le32(quint32 v)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (8 * i));
    return b;
}

QByteArray le64(quint64 v)
{
    return le32(quint32(v)) + le32(quint32(v >> 32));
}

QByteArray text256(const char *text)
{
    QByteArray b(text);
    b.resize(256, '\0');
    return b;
}

TaskRecord sampleRecord()
{
    TaskRecord r;
    taskRecordClear(&r);
    taskRecordSetText(r.password, "geheim");
    r.passwordFlag = 1;
    taskRecordSetText(r.destination, "/target/Center");
    taskRecordSetText(r.source, "/media/op/Center/DCIM");
    taskRecordSetText(r.archivePath, "/target/Center/pack3.zip");
    taskRecordSetText(r.archiveName, "pack3.zip");
    taskRecordSetText(r.archivePrefix, "/target/Center/");
    taskRecordSetText(r.taskFilePath, "/state/center.log");
    r.savedCount = 17;
    r.volumeSize = 2048.0;
    r.volumeMode = 1;
    r.bytesDone = 0x0102030405060708ull;
    r.camera = 3;
    r.running = 1;
    r.stopped = 0;
    r.fileCount = 40;
    r.filesDone = 12;
    return r;
}

QByteArray taskImage(int count, int done, int entries)
{
    TaskRecord r;
    taskRecordClear(&r);
    r.fileCount = count;
    r.filesDone = done;
    unsigned char header[TaskLayout::RecordSize];
    taskRecordEncode(&r, header);
    QByteArray image(reinterpret_cast<const char *>(header), int(sizeof header));
    for (int i = 0; i < entries; ++i)
        image += text256(qPrintable(QStringLiteral("/card/DSC%1.JPG").arg(i))) + QByteArray(4, 0);
    return image;
}

} // namespace

class TestOffloadFormat : public QObject
{
    Q_OBJECT
private slots:
    void recordFields_data();
    void recordFields();
    void recordRoundTrip();
    void taskFileOnDisk();
    void loader_data();
    void loader();
    void volumeName();
    void centralDirectory();
    void cardFileList();
    void taskConfigRoundTrip();
    void taskConfigDocumentOrder();
    void resumePending_data();
    void resumePending();
};

void TestOffloadFormat::recordFields_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("password") << 0 << text256("geheim").left(255);
    QTest::newRow("password flag") << 256 << le32(1);
    QTest::newRow("destination") << 260 << text256("/target/Center");
    QTest::newRow("source") << 516 << text256("/media/op/Center/DCIM");
    QTest::newRow("archive path") << 772 << text256("/target/Center/pack3.zip");
    QTest::newRow("archive name") << 1028 << text256("pack3.zip");
    QTest::newRow("archive prefix") << 1284 << text256("/target/Center/");
    QTest::newRow("task file path") << 1540 << text256("/state/center.log");
    QTest::newRow("saved count") << 1796 << le32(17);
    // 2048.0 as an IEEE double: 0x40A0000000000000.
    QTest::newRow("volume size") << 1800 << le64(0x40A0000000000000ull);
    QTest::newRow("volume mode") << 1808 << le32(1);
    QTest::newRow("reserved") << 1812 << le32(0);
    QTest::newRow("bytes done") << 1816 << QByteArray::fromHex("0807060504030201");
    QTest::newRow("camera") << 1824 << le32(3);
    QTest::newRow("running") << 1828 << le32(1);
    QTest::newRow("stopped") << 1832 << le32(0);
    QTest::newRow("file count") << 1836 << le32(40);
    QTest::newRow("files done") << 1840 << le32(12);
    QTest::newRow("runtime slots are zero") << 1844 << QByteArray(44, '\0');
}

void TestOffloadFormat::recordFields()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    const TaskRecord r = sampleRecord();
    unsigned char out[TaskLayout::RecordSize];
    std::memset(out, 0xAA, sizeof out);
    taskRecordEncode(&r, out);
    const QByteArray image(reinterpret_cast<const char *>(out), int(sizeof out));
    QCOMPARE(image.mid(offset, bytes.size()).toHex(), bytes.toHex());
}

// Decoding gives back every field that encoding wrote (the fields themselves are pinned above).
void TestOffloadFormat::recordRoundTrip()
{
    const TaskRecord r = sampleRecord();
    unsigned char out[TaskLayout::RecordSize], again[TaskLayout::RecordSize];
    taskRecordEncode(&r, out);
    TaskRecord back;
    taskRecordDecode(out, &back);
    taskRecordEncode(&back, again);
    QCOMPARE(QByteArray::fromRawData(reinterpret_cast<char *>(again), sizeof again).toHex(),
             QByteArray::fromRawData(reinterpret_cast<char *>(out), sizeof out).toHex());

    // A text field without its zero is cut at the field's last byte, never read past it.
    std::memset(out + TaskLayout::Source, 'x', TaskLayout::TextSize);
    taskRecordDecode(out, &back);
    QCOMPARE(std::strlen(back.source), size_t(255));
    // A text of 256 bytes does not fit with its terminator.
    QCOMPARE(taskRecordSetText(back.source, QByteArray(256, 'y').constData()), -1);
    QCOMPARE(std::strlen(back.source), size_t(255));
}

void TestOffloadFormat::taskFileOnDisk()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    QVERIFY(OffloadFixture::makeCard(card, 3, 3));

    DiskTask task;
    taskRecordClear(&task.record);
    taskRecordSetText(task.record.source, QFile::encodeName(card).constData());
    taskRecordSetText(task.record.destination,
                      QFile::encodeName(dir.filePath(QStringLiteral("out"))).constData());
    taskRecordSetText(task.record.taskFilePath,
                      QFile::encodeName(dir.filePath(QStringLiteral("center.log"))).constData());
    QDir().mkpath(dir.filePath(QStringLiteral("out")));
    QCOMPARE(createTask(&task, 0), 0);
    QVERIFY(OffloadFixture::waitFor([&] { return task.stopped.load() != 0; }));
    QCOMPARE(pauseTask(&task, 0), 0);

    const QByteArray image = OffloadFixture::fileBytes(dir.filePath(QStringLiteral("center.log")));
    // Sorted by byte value: "100MEDIA" comes before "DSC...".
    const QStringList order = {"100MEDIA/DSC00003.JPG", "DSC00001.JPG", "DSC00002.JPG"};
    QCOMPARE(image.size(), 1888 + 3 * 260);
    QCOMPARE(image.mid(1836, 4), le32(3));
    QCOMPARE(image.mid(1840, 4), le32(3));
    QCOMPARE(image.mid(1832, 4), le32(0));
    for (int i = 0; i < order.size(); ++i) {
        QByteArray entry = QFile::encodeName(card + QLatin1Char('/') + order[i]);
        entry.resize(260, '\0');
        QCOMPARE(image.mid(1888 + i * 260, 260), entry);
    }
}

void TestOffloadFormat::loader_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<bool>("loads");
    QTest::newRow("well-formed") << taskImage(2, 1, 2) << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("header cut short") << taskImage(2, 0, 2).left(1000) << false;
    QTest::newRow("one entry missing") << taskImage(3, 0, 2) << false;
    QTest::newRow("one entry too many") << taskImage(1, 0, 2) << false;
    QTest::newRow("entry cut short") << taskImage(2, 0, 2).chopped(7) << false;
    QTest::newRow("absurd count") << taskImage(0x7FFFFFFF, 0, 1) << false;
    QTest::newRow("negative count") << taskImage(-1, 0, 0) << false;
    QTest::newRow("done beyond count") << taskImage(2, 3, 2) << false;
    QTest::newRow("negative done") << taskImage(2, -1, 2) << false;
    QByteArray unterminated = taskImage(1, 0, 1);
    unterminated.replace(1888, 260, QByteArray(260, 'a'));
    QTest::newRow("entry without end") << unterminated << false;
    QByteArray blank = taskImage(2, 0, 2);
    blank.replace(1888 + 260, 260, QByteArray(260, '\0'));
    QTest::newRow("blank entry") << blank << false;
}

void TestOffloadFormat::loader()
{
    QFETCH(QByteArray, image);
    QFETCH(bool, loads);
    FILE *memory = image.isEmpty() ? nullptr : fmemopen(image.data(), size_t(image.size()), "rb");
    TaskRecord header;
    std::vector<char> entries;
    if (memory) {
        QCOMPARE(TaskFile::read(memory, image.size(), "t", &header, &entries) == 0, loads);
        fclose(memory);
    }
    if (loads) {
        QCOMPARE(entries.size(), size_t(2 * 260));
        QCOMPARE(header.filesDone, 1);
        return;
    }
    // Resuming from the bad file is refused before anything is made.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("center.log"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image);
    file.close();
    DiskTask task;
    taskRecordClear(&task.record);
    taskRecordSetText(task.record.taskFilePath, QFile::encodeName(path).constData());
    taskRecordSetText(task.record.source, "/card");
    taskRecordSetText(task.record.destination,
                      QFile::encodeName(dir.filePath(QStringLiteral("out"))).constData());
    QCOMPARE(resumeTask(&task, 0), -1);
    QCOMPARE(task.stopped.load(), 1);
    QVERIFY(task.fileList.empty());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("out"))));
}

// Numbering from pack1 to pack11 is checked on the archives the engine makes; a folder in the
// current name is not.
void TestOffloadFormat::volumeName()
{
    QCOMPARE(ZipVolume::nextName("book/pack41.zip"), std::string("pack42.zip"));
}

void TestOffloadFormat::centralDirectory()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.zip"));
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    QVERIFY(zip);
    for (const char *name : {"one.txt", "two.txt"}) {
        zip_fileinfo info{};
        QCOMPARE(zipOpenNewFileInZip64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0),
                 ZIP_OK);
        zipWriteInFileInZip(zip, "hello", 5);
        zipCloseFileInZip(zip);
    }
    zipClose(zip, "a comment");
    const QByteArray bytes = OffloadFixture::fileBytes(path);
    const qint64 expected = bytes.indexOf(QByteArray("PK\x01\x02", 4));
    QVERIFY(expected > 0);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    uint64_t offset = 0;
    QCOMPARE(ZipVolume::findCentralDirectory(data, size_t(bytes.size()), uint64_t(bytes.size()),
                                             &offset),
             0);
    QCOMPARE(qint64(offset), expected);
    // Only the tail given: the same answer.
    QCOMPARE(ZipVolume::findCentralDirectory(data + 10, size_t(bytes.size() - 10),
                                             uint64_t(bytes.size()), &offset),
             0);
    QCOMPARE(qint64(offset), expected);
    // An archive cut short has no end record.
    QCOMPARE(ZipVolume::findCentralDirectory(data, size_t(bytes.size() - 3),
                                             uint64_t(bytes.size() - 3), &offset),
             -1);

    // ZIP64: the end record defers to the ZIP64 end record through the locator.
    QByteArray tail(100, 'x');
    const int record = tail.size();
    QByteArray end64 = le32(0x06064b50) + le64(44) + QByteArray(2 + 2 + 4 + 4 + 8 + 8 + 8, '\0') +
                       le64(0x123456789ull);
    QCOMPARE(end64.size(), 56);
    const quint64 fileSize = 0x200000000ull;
    const quint64 base = fileSize - quint64(100 + 56 + 20 + 22);
    QByteArray locator = le32(0x07064b50) + le32(0) + le64(base + quint64(record)) + le32(1);
    QByteArray end = le32(0x06054b50) + QByteArray(8, '\xff') + le32(0xFFFFFFFF) +
                     le32(0xFFFFFFFF) + QByteArray(2, '\0');
    tail += end64 + locator + end;
    QCOMPARE(
        ZipVolume::findCentralDirectory(reinterpret_cast<const unsigned char *>(tail.constData()),
                                        size_t(tail.size()), fileSize, &offset),
        0);
    QCOMPARE(offset, quint64(0x123456789ull));
    // A locator that points outside the bytes given is refused, not followed.
    locator.replace(8, 8, le64(1));
    tail.replace(100 + 56, 20, locator);
    QCOMPARE(
        ZipVolume::findCentralDirectory(reinterpret_cast<const unsigned char *>(tail.constData()),
                                        size_t(tail.size()), fileSize, &offset),
        -1);
}

void TestOffloadFormat::cardFileList()
{
    QTemporaryDir dir;
    const QString card = dir.filePath(QStringLiteral("card"));
    const QStringList files = {QStringLiteral("b.JPG"),         QStringLiteral("a.JPG"),
                               QStringLiteral("照片 ü #1.jpg"), QStringLiteral("A/c.JPG"),
                               QStringLiteral(".hidden.JPG"),   QStringLiteral("pack1.zip"),
                               QStringLiteral("photos.ZIP"),    QStringLiteral("A/B/deep.JPG"),
                               QStringLiteral("A/d.zip")};
    for (const QString &file : files) {
        QDir().mkpath(QFileInfo(card + QLatin1Char('/') + file).absolutePath());
        QFile f(card + QLatin1Char('/') + file);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    std::vector<std::string> list;
    QCOMPARE(CardFiles::list(QFile::encodeName(card).toStdString(), &list), 0);
    QStringList got;
    for (const std::string &s : list)
        got << QString::fromUtf8(s.c_str());
    // Byte order, sub-folder in its place, suffix "zip" only in lower case left out.
    QCOMPARE(got, QStringList({QStringLiteral("A/c.JPG"), QStringLiteral("a.JPG"),
                               QStringLiteral("b.JPG"), QStringLiteral("photos.ZIP"),
                               QStringLiteral("照片 ü #1.jpg")}));
    QCOMPARE(CardFiles::count(QFile::encodeName(card).toStdString()), 5);
    QCOMPARE(CardFiles::count(""), 0);
    QCOMPARE(
        CardFiles::count(QFile::encodeName(dir.filePath(QStringLiteral("missing"))).toStdString()),
        0);
}

void TestOffloadFormat::taskConfigRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Taskconfig.xml"));
    TaskConfig config;
    config.cameras[0] = {QStringLiteral("/media/Center/DCIM"), 40, 12,
                         QStringLiteral("/t/Center/pack2.zip"), QStringLiteral("pack2.zip")};
    config.cameras[3] = {QStringLiteral("/media/Front/DCIM"), 38, 38, QString(), QString()};
    config.savePath = QStringLiteral("/t");
    OffloadPosSet set;
    set.filePath = QStringLiteral("/pos/第一.xls");
    set.times = {1700000000u, 4294967295u};
    set.positions = {{113.25125, 23.5, 152.3}, {-0.000001, -89.999999999, 1523.456}};
    config.pos = {set, OffloadPosSet{QStringLiteral("/pos/b.xls"), {}, {}}};
    config.splitSorties = true;
    config.volumes = true;
    config.volumeValue = QStringLiteral("2.5");
    config.password = true;
    config.passwordValue = QStringLiteral("密码 & <x>");
    config.success = false;
    QVERIFY(TaskConfig::write(path, config));

    // Read back and written again, the document is the same: every field survives.
    QByteArray text = OffloadFixture::fileBytes(path);
    TaskConfig back;
    QVERIFY(TaskConfig::read(path, &back));
    QVERIFY(TaskConfig::write(path, back));
    QCOMPARE(OffloadFixture::fileBytes(path), text);
    // Values the text form could round: none is.
    QCOMPARE(back.pos[0].times, set.times);
    QCOMPARE(back.pos[0].positions[1].y, -89.999999999);
    QCOMPARE(back.pos[0].positions[1].z, 1523.456);
    QCOMPARE(back.passwordValue, config.passwordValue);
    QVERIFY(TaskConfig::resumePending(path));

    // Text that does not parse reads as 0.
    QFile file(path);
    text.replace("value=\"1700000000\"", "value=\"soon\"");
    text.replace("x=\"113.25125\"", "x=\"east\"");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    QVERIFY(TaskConfig::read(path, &back));
    QCOMPARE(back.pos[0].times[0], 0u);
    QCOMPARE(back.pos[0].positions[0].x, 0.0);
    QCOMPARE(back.pos[0].positions[0].y, 23.5);
}

void TestOffloadFormat::taskConfigDocumentOrder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Taskconfig.xml"));
    TaskConfig config;
    OffloadPosSet set;
    set.times = {5};
    set.positions = {{1, 2, 3}};
    config.pos = {set};
    QVERIFY(TaskConfig::write(path, config));
    const QByteArray text = OffloadFixture::fileBytes(path);
    QVERIFY(text.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n    <pans>\n"));
    QXmlStreamReader xml(text);
    QStringList elements;
    QStringList centerAttributes;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        elements << xml.name().toString();
        if (xml.name() == QLatin1String("center")) {
            for (const QXmlStreamAttribute &a : xml.attributes())
                centerAttributes << a.name().toString();
        }
    }
    QCOMPARE(elements, QStringList({"config", "pans", "center", "front", "right", "left", "back",
                                    "savapath", "pose", "file", "timelist", "time", "gpslist",
                                    "pos", "qufenjiaci", "fenquan", "password", "tasksuccess"}));
    QCOMPARE(centerAttributes,
             QStringList({"path", "plancount", "hascount", "zippath", "zipname"}));
    // Nothing started: "true", never offered for resume.
    QVERIFY(!TaskConfig::resumePending(path));
    QVERIFY(TaskConfig::successFlag(40, 0));
    QVERIFY(TaskConfig::successFlag(40, 40));
    QVERIFY(!TaskConfig::successFlag(40, 39));
}

void TestOffloadFormat::resumePending_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<bool>("readable");
    const char *const rows[][2] = {
        {"unfinished", "<config><pans/><tasksuccess flag=\"false\"/></config>"},
        {"finished", "<config><pans/><tasksuccess flag=\"true\"/></config>"},
        {"flag not last", "<config><tasksuccess flag=\"false\"/><pans/></config>"},
        {"wrong root", "<task><tasksuccess flag=\"false\"/></task>"},
        {"malformed", "<config><tasksuccess flag=\"false\"></config>"},
        {"not xml", "\xff\xfe garbage"},
        {"empty", ""}};
    for (const auto &row : rows) {
        const QByteArray tag = row[0];
        QTest::newRow(row[0]) << QByteArray(row[1]) << (tag == "unfinished")
                              << (tag == "unfinished" || tag == "finished" ||
                                  tag == "flag not last");
    }
}

void TestOffloadFormat::resumePending()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, pending);
    QFETCH(bool, readable);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Taskconfig.xml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    QCOMPARE(TaskConfig::resumePending(path), pending);
    TaskConfig config;
    config.savePath = QStringLiteral("untouched");
    QCOMPARE(TaskConfig::read(path, &config), readable);
    if (!readable)
        QCOMPARE(config.savePath, QStringLiteral("untouched"));
    QVERIFY(!TaskConfig::resumePending(dir.filePath(QStringLiteral("missing.xml"))));
}

QTEST_GUILESS_MAIN(TestOffloadFormat)
#include "tst_offloadformat.moc"
