// The engine's file formats: task record, loader checks, volume names, archive end records, the
// card file list, "Taskconfig.xml" and the POS tables it reads (the ones the POS download writes
// and malformed ones). The task file an offload writes is the engine test's. Runs with TZ=CST-8,
// so "2019-03-28 10:00:00" local is 1553738400.
#include <QtTest>

#include <cstdio>
#include <cstring>

#include <minizip/zip.h>

#include "cardfiles.h"
#include "copyengine.h"
#include "offloadfixture.h"
#include "operatortexts.h"
#include "photofolder.h"
#include "posspreadsheet.h"
#include "postablecheck.h"
#include "taskconfig.h"
#include "taskfile.h"
#include "taskrecord.h"
#include "zipverify.h"
#include "zipvolume.h"

Q_DECLARE_METATYPE(QList<uint>)

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
    return QByteArray(text).leftJustified(256, '\0');
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

const uint kTen = 1553738400; // 2019-03-28 10:00:00 in UTC+8

// Header and rows exactly as the POS download writes its per-camera tables.
const QByteArray kShortHeader =
    "ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\t \n";

QByteArray shortRow(int id, const char *lon, const char *lat, const char *alt, const char *time)
{
    return QByteArray::number(id) + " \t" + lon + " \t" + lat + " \t" + alt +
           " \t90.00 \t1.0 \t2.0 \t90.00 \t25.0 \t" + time + " \t \n";
}

QString points(const QList<PosPoint> &list)
{
    QStringList out;
    for (const PosPoint &p : list)
        out << QStringLiteral("%1 %2 %3")
                   .arg(p.x, 0, 'f', 7)
                   .arg(p.y, 0, 'f', 7)
                   .arg(p.z, 0, 'f', 3);
    return out.join(QLatin1String("; "));
}

// content written to a file of that name in dir; its path, empty when it could not be written.
QString write(const QTemporaryDir &dir, const QByteArray &content, const QString &name)
{
    return OffloadFixture::writeFile(dir.filePath(name), content) ? dir.filePath(name) : QString();
}
} // namespace

class TestOffloadFormat : public QObject
{
    Q_OBJECT
private slots:
    void record();
    void loader_data();
    void loader();
    void archives();
    void cardFileList();
    void taskConfig();
    void resumePending_data();
    void resumePending();
    void entryInsideCard_data();
    void entryInsideCard();
    void posTables_data();
    void posTables();
    void posTablesRefused_data();
    void posTablesRefused();

private:
    QTemporaryDir m_dir;
};

// The record byte for byte: every field at its offset, the runtime slots zero; decoding gives
// back every field.
void TestOffloadFormat::record()
{
    const TaskRecord r = sampleRecord();
    unsigned char out[TaskLayout::RecordSize], again[TaskLayout::RecordSize];
    std::memset(out, 0xAA, sizeof out);
    taskRecordEncode(&r, out);
    const QByteArray expected =
        text256("geheim") + le32(1) + text256("/target/Center") + text256("/media/op/Center/DCIM") +
        text256("/target/Center/pack3.zip") + text256("pack3.zip") + text256("/target/Center/") +
        text256("/state/center.log") + le32(17) + le64(0x40A0000000000000ull) /* 2048.0 */ +
        le32(1) + le32(0) + QByteArray::fromHex("0807060504030201") + le32(3) + le32(1) + le32(0) +
        le32(40) + le32(12) + QByteArray(44, '\0');
    auto hex = [](unsigned char *image) {
        return QByteArray(reinterpret_cast<char *>(image), TaskLayout::RecordSize).toHex();
    };
    QCOMPARE(hex(out), expected.toHex());
    TaskRecord back;
    taskRecordDecode(out, &back);
    taskRecordEncode(&back, again);
    QCOMPARE(hex(again), hex(out));

    // A text field without its zero is cut at the field's last byte, never read past it.
    std::memset(out + TaskLayout::Source, 'x', TaskLayout::TextSize);
    taskRecordDecode(out, &back);
    QCOMPARE(std::strlen(back.source), size_t(255));
    // A text of 256 bytes does not fit with its terminator.
    QCOMPARE(taskRecordSetText(back.source, QByteArray(256, 'y').constData()), -1);
    QCOMPARE(std::strlen(back.source), size_t(255));
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
    const QString path = write(m_dir, image, QStringLiteral("center.log"));
    DiskTask task;
    taskRecordClear(&task.record);
    taskRecordSetText(task.record.taskFilePath, QFile::encodeName(path).constData());
    taskRecordSetText(task.record.source, "/card");
    taskRecordSetText(task.record.destination,
                      QFile::encodeName(m_dir.filePath(QStringLiteral("out"))).constData());
    QCOMPARE(resumeTask(&task, 0), -1);
    QCOMPARE(task.stopped.load(), 1);
    QVERIFY(task.fileList.empty());
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("out"))));
}

// The archive names and end records. Numbering from pack1 to pack11 is checked on the archives
// the engine makes; a folder in the current name is not.
void TestOffloadFormat::archives()
{
    QCOMPARE(ZipVolume::nextName("book/pack41.zip"), std::string("pack42.zip"));
    const QString path = m_dir.filePath(QStringLiteral("a.zip"));
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
    uint64_t offset = 0;
    // Looks for the central directory in the bytes from `skip` on, the tail of a file of fileSize.
    const auto central = [&offset](const QByteArray &tail, int skip, uint64_t fileSize) {
        return ZipVerify::findCentralDirectory(
            reinterpret_cast<const unsigned char *>(tail.constData()) + skip,
            size_t(tail.size() - skip), fileSize, &offset);
    };
    QCOMPARE(central(bytes, 0, uint64_t(bytes.size())), 0);
    QCOMPARE(qint64(offset), expected);
    // Only the tail given: the same answer.
    QCOMPARE(central(bytes, 10, uint64_t(bytes.size())), 0);
    QCOMPARE(qint64(offset), expected);
    // An archive cut short has no end record.
    QCOMPARE(central(bytes.chopped(3), 0, uint64_t(bytes.size() - 3)), -1);

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
    QCOMPARE(central(tail, 0, fileSize), 0);
    QCOMPARE(offset, quint64(0x123456789ull));
    // A locator that points outside the bytes given is refused, not followed.
    locator.replace(8, 8, le64(1));
    tail.replace(100 + 56, 20, locator);
    QCOMPARE(central(tail, 0, fileSize), -1);
}

void TestOffloadFormat::cardFileList()
{
    const QString card = m_dir.filePath(QStringLiteral("card"));
    for (const QString file : {"b.JPG", "a.JPG", "照片 ü #1.jpg", "A/c.JPG", ".hidden.JPG",
                                "pack1.zip", "photos.ZIP", "A/B/deep.JPG", "A/d.zip"}) {
        QDir().mkpath(QFileInfo(card + QLatin1Char('/') + file).absolutePath());
        QVERIFY(OffloadFixture::writeFile(card + QLatin1Char('/') + file, QByteArray()));
    }
    std::vector<std::string> list;
    QCOMPARE(CardFiles::list(QFile::encodeName(card).toStdString(), &list), 0);
    QStringList got;
    for (const std::string &s : list)
        got << QString::fromUtf8(s.c_str());
    // Byte order, sub-folders in their place at any depth, suffix "zip" only in lower case
    // left out.
    QCOMPARE(got, QStringList({"A/B/deep.JPG", "A/c.JPG", "a.JPG", "b.JPG", "photos.ZIP",
                               "照片 ü #1.jpg"}));
    QCOMPARE(CardFiles::count(QFile::encodeName(card).toStdString()), 6);
    QCOMPARE(CardFiles::count(""), 0);
    QCOMPARE(CardFiles::count(
                 QFile::encodeName(m_dir.filePath(QStringLiteral("missing"))).toStdString()),
             0);

    // A path whose entry (folder, "/", path, ending zero) passes 260 bytes is skipped, by name,
    // by the engine's list and by the counts the page and the tool show; one byte less fits.
    const QByteArray folder = QFile::encodeName(card);
    const int room = 259 - int(folder.size()) - 1 - 2; // "x/" before the name
    const QString fits = QStringLiteral("x/") + QString(room, QLatin1Char('f'));
    const QString tooLong = QStringLiteral("x/") + QString(room + 1, QLatin1Char('L'));
    QVERIFY(room > 10 && room + 1 < 255);
    QVERIFY(OffloadFixture::writeFile(card + QLatin1Char('/') + fits, "fits"));
    QVERIFY(OffloadFixture::writeFile(card + QLatin1Char('/') + tooLong, "long"));
    std::vector<std::string> copied;
    std::vector<std::string> skipped;
    QCOMPARE(CardFiles::listCopyable(folder.toStdString(), &copied, &skipped), 0);
    QCOMPARE(int(copied.size()), 7);
    QVERIFY(std::find(copied.begin(), copied.end(), fits.toStdString()) != copied.end());
    QCOMPARE(skipped, std::vector<std::string>{tooLong.toStdString()});
    QCOMPARE(CardFiles::count(folder.toStdString()), 7);
    const PhotoFolder::Listing listing = PhotoFolder::list(card);
    QCOMPARE(listing.files, 7);
    QCOMPARE(listing.photos, 5);
    QCOMPARE(listing.skipped, QStringList{tooLong});
}

void TestOffloadFormat::taskConfig()
{
    const QString path = m_dir.filePath(QStringLiteral("Taskconfig.xml"));
    TaskConfig config;
    config.cameras[0] = {QStringLiteral("/media/Center/DCIM"), 40, 12,
                         QStringLiteral("/t/Center/pack2.zip"), QStringLiteral("pack2.zip")};
    config.cameras[3] = {QStringLiteral("/media/Front/DCIM"), 38, 38, QString(), QString()};
    config.savePath = QStringLiteral("/t");
    OffloadPosSet set;
    set.filePath = QStringLiteral("/pos/第一.xls");
    set.times = {1700000000u, 4294967295u};
    set.positions = {{113.25125, 23.5, 152.3}, {-0.000001, -89.999999999, 1523.456}};
    config.pos = {set, OffloadPosSet{QStringLiteral("/pos/b.xls"), {}, {}, {}, {}}};
    config.splitSorties = true;
    config.volumes = true;
    config.volumeValue = QStringLiteral("2.50");
    config.volumeUnit = QStringLiteral("MB");
    config.password = true;
    config.passwordValue = QStringLiteral("密码 & <x>");
    config.success = false;
    QVERIFY(TaskConfig::write(path, config));
    QByteArray text = OffloadFixture::fileBytes(path);
    QVERIFY(text.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n    <pans>\n"));
    QXmlStreamReader xml(text);
    QStringList elements;
    QStringList centerAttributes;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        elements << xml.name().toString();
        for (const QXmlStreamAttribute &a : xml.attributes()) {
            if (xml.name() == QLatin1String("center"))
                centerAttributes << a.name().toString();
        }
    }
    elements.removeDuplicates();
    QCOMPARE(elements, QStringList({"config", "pans", "center", "front", "right", "left", "back",
                                    "savapath", "pose", "file", "timelist", "time", "gpslist",
                                    "pos", "qufenjiaci", "fenquan", "password", "tasksuccess"}));
    QCOMPARE(centerAttributes,
             QStringList({"path", "plancount", "hascount", "zippath", "zipname"}));

    // Read back and written again, the document is the same: every field survives.
    TaskConfig back;
    QVERIFY(TaskConfig::read(path, &back));
    QVERIFY(TaskConfig::write(path, back));
    QCOMPARE(OffloadFixture::fileBytes(path), text);
    // Values the text form could round: none is.
    QCOMPARE(back.pos[0].times, set.times);
    QCOMPARE(back.pos[0].positions[1].y, -89.999999999);
    QCOMPARE(back.pos[0].positions[1].z, 1523.456);
    QCOMPARE(back.passwordValue, config.passwordValue);
    // Numbers in their shortest exact form; the size as entered, with its unit.
    QVERIFY2(text.contains("z=\"152.3\"") && text.contains("y=\"-89.999999999\""),
             text.constData());
    QVERIFY(text.contains("<fenquan flag=\"true\" value=\"2.50\" unit=\"MB\"/>"));
    QCOMPARE(back.volumeGb(), 2.5 / 1024);
    QVERIFY(TaskConfig::resumePending(path));

    // Text that does not parse reads as 0.
    text.replace("value=\"1700000000\"", "value=\"soon\"");
    text.replace("x=\"113.25125\"", "x=\"east\"");
    QVERIFY(TaskConfig::read(write(m_dir, text, QStringLiteral("Taskconfig.xml")), &back));
    QCOMPARE(back.pos[0].times[0], 0u);
    QCOMPARE(back.pos[0].positions[0].x, 0.0);
    QCOMPARE(back.pos[0].positions[0].y, 23.5);
    // Nothing started or everything done is success; a file short is not.
    QVERIFY(TaskConfig::successFlag(40, 0));
    QVERIFY(TaskConfig::successFlag(40, 40));
    QVERIFY(!TaskConfig::successFlag(40, 39));
}

void TestOffloadFormat::resumePending_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("damage"); // how a resume describes the file; empty: usable
    const char *const rows[][3] = {
        {"unfinished", "<config><pans/><tasksuccess flag=\"false\"/></config>", "no <center>"},
        {"finished", "<config><pans/><tasksuccess flag=\"true\"/></config>", "no <center>"},
        {"flag not last", "<config><tasksuccess flag=\"false\"/><pans/></config>", "no <center>"},
        {"wrong root", "<task><tasksuccess flag=\"false\"/></task>", "root element is <task>"},
        {"malformed", "<config><tasksuccess flag=\"false\"></config>", "not well-formed XML"},
        {"not xml", "\xff\xfe garbage", "not well-formed XML"},
        {"empty", "", "the file is empty"}};
    for (const auto &row : rows) {
        const QByteArray tag = row[0];
        QTest::newRow(row[0]) << QByteArray(row[1]) << (tag == "unfinished")
                              << (tag == "unfinished" || tag == "finished" ||
                                  tag == "flag not last")
                              << QString::fromUtf8(row[2]);
    }
    TaskConfig config;
    config.savePath = QStringLiteral("/target");
    config.success = false;
    const QByteArray whole = TaskConfig::toXml(config);
    QTest::newRow("as written") << whole << true << true << QString();
    const auto without = [&whole](const char *pattern) {
        return QString::fromUtf8(whole).remove(QRegularExpression(pattern)).toUtf8();
    };
    const QByteArray noLeft = without("<left [^>]*/>");
    QTest::newRow("a camera missing") << noLeft << true << true << "<pans> has no <left>";
    const QByteArray noTarget = without("<savapath [^>]*/>");
    QTest::newRow("no target") << noTarget << true << true << "no <savapath>";
    QTest::newRow("cut short") << whole.left(whole.size() - 20) << false << false
                               << "not well-formed XML";
}

void TestOffloadFormat::resumePending()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, pending);
    QFETCH(bool, readable);
    QFETCH(QString, damage);
    const QString path = write(m_dir, text, QString::fromLatin1(QTest::currentDataTag()) + ".xml");
    QCOMPARE(TaskConfig::resumePending(path), pending);
    TaskConfig config;
    config.savePath = QStringLiteral("untouched");
    QCOMPARE(TaskConfig::read(path, &config), readable);
    if (!readable)
        QCOMPARE(config.savePath, QStringLiteral("untouched"));
    QVERIFY(!TaskConfig::resumePending(m_dir.filePath(QStringLiteral("missing.xml"))));
    const QString problem = TaskConfig::problem(text);
    QVERIFY2(damage.isEmpty() ? problem.isEmpty() : problem.contains(damage), qPrintable(problem));
}

// Entries of a task file name files inside its card folder, and nothing else.
void TestOffloadFormat::entryInsideCard_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("inside");
    QTest::newRow("photo") << QByteArray("/card/DSC1.JPG") << true;
    QTest::newRow("photo in a sub-folder") << QByteArray("/card/100V7/DSC1.JPG") << true;
    QTest::newRow("name with dots") << QByteArray("/card/..DSC1..JPG") << true;
    QTest::newRow("up and out") << QByteArray("/card/../other/DSC1.JPG") << false;
    QTest::newRow("up at the end") << QByteArray("/card/100V7/..") << false;
    QTest::newRow("dot part") << QByteArray("/card/./DSC1.JPG") << false;
    QTest::newRow("empty part") << QByteArray("/card//DSC1.JPG") << false;
    QTest::newRow("folder itself") << QByteArray("/card/") << false;
    QTest::newRow("sibling sharing the prefix") << QByteArray("/card2/DSC1.JPG") << false;
    QTest::newRow("another folder") << QByteArray("/etc/passwd") << false;
}

void TestOffloadFormat::entryInsideCard()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, inside);
    QCOMPARE(TaskFile::inside(entry.constData(), "/card"), inside);
}

void TestOffloadFormat::posTables_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("positions");
    QTest::addColumn<QList<uint>>("times");
    QTest::addColumn<QString>("attitude"); // the first record's heading, pitch and roll

    QTest::newRow("per-camera table, short layout")
        << kShortHeader +
               shortRow(1, "112.6000000", "23.4463420", "100.000", "2019-03-28 10-00-00") +
               shortRow(2, "-112.6000001", "-23.4463421", "-5.500", "2019-03-28 10-00-02")
        << 3 << "112.6000000 23.4463420 100.000; -112.6000001 -23.4463421 -5.500"
        << QList<uint>{kTen, kTen + 2} << "90 1 2";

    QTest::newRow("header field found by substring")
        << QByteArray("ID Lon Lat Alt Heading Pitch Roll Psi_GPS Speed GPSTime\n") +
               shortRow(7, "1.5", "2.5", "3.5", "2019/03/28 10-00-05")
        << 2 << "1.5000000 2.5000000 3.500" << QList<uint>{kTen + 5} << "90 1 2";

    // Date and time follow the "Time" name, wherever it stands.
    QTest::newRow("time after fourteen names")
        << QByteArray("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\toffset1\toffset2"
                      "\toffset3\toffset4\toffset5\tTime\n") +
               "3 \t10.0 \t20.0 \t30.0 \t0 \t0 \t0 \t0 \t0 \t0 \t0 \t0 \t0 \t0 \t2019/03/28 "
               "\t10-00-09 \n"
        << 2 << "10.0000000 20.0000000 30.000" << QList<uint>{kTen + 9} << "0 0 0";

    const QByteArray fiveLensRow =
        "1 \t112.6000000 \t23.4463420 \t100.000 \t90.00 \t1.0 \t2.0 \t90.00 \t25.0 \t"
        "2019-03-28 10-00-00 \t0 \t120 \t-1 \t0 \t35 \t \n";
    QTest::newRow("main table of five-lens records")
        << QByteArray("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\toffset1"
                      "\toffset2\toffset3\toffset4\toffset5\t \n") +
               fiveLensRow + QByteArray(fiveLensRow).replace("10-00-00", "10-00-02")
        << 3 << "112.6000000 23.4463420 100.000; 112.6000000 23.4463420 100.000"
        << QList<uint>{kTen, kTen + 2} << "90 1 2";

    QTest::newRow("main table of single-lens records")
        << QByteArray("ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tTime\t \n") +
               "1 \t112.6 \t23.4 \t100.000 \t90.00 \t1.0 \t2.0 \t90.00 \t2019-03-28 10-00-00 \t "
               "\n" +
               "2 \t112.7 \t23.5 \t101.000 \t90.00 \t1.0 \t2.0 \t90.00 \t2019-03-28 10-00-04 \t \n"
        << 3 << "112.6000000 23.4000000 100.000; 112.7000000 23.5000000 101.000"
        << QList<uint>{kTen, kTen + 4} << "90 1 2";

    QTest::newRow("no time name, other count: columns 15 and 16")
        << QByteArray("ID Lon Lat Alt\n") + "1 1 2 3 0 0 0 0 0 0 0 0 0 0 2019-03-28 10-00-07\n"
        << 2 << "1.0000000 2.0000000 3.000" << QList<uint>{kTen + 7} << "0 0 0";
}

void TestOffloadFormat::posTables()
{
    QFETCH(QByteArray, content);
    QFETCH(int, count);
    QFETCH(QString, positions);
    QFETCH(QList<uint>, times);
    QFETCH(QString, attitude);

    const QString path = write(m_dir, content, QStringLiteral("飞行1.xls"));
    QVERIFY(!path.isEmpty());
    MyExcelObject object;
    const PosTableCheck check = PosSpreadsheet::readChecked(path, &object);
    QVERIFY2(check.accepted(), qPrintable(check.message(path)));
    QCOMPARE(object.count, count);
    QCOMPARE(object.fileName, QStringLiteral("飞行1.xls"));
    QCOMPARE(points(object.posList), positions);
    QCOMPARE(object.timeList, times);
    QCOMPARE(object.attitudeList.size(), object.posList.size());
    const PosAttitude &first = object.attitudeList.first();
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(first.heading).arg(first.pitch).arg(first.roll),
             attitude);
}

// Tables that must not tag anything: refused with the file, the first bad line and why, the
// rows that cannot be read counted and named; the operator reads the same in Chinese.
void TestOffloadFormat::posTablesRefused_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<int>("firstBadLine");
    QTest::addColumn<QList<int>>("badLines");
    QTest::addColumn<QString>("why");
    QTest::addColumn<QString>("operatorText"); // after the path

    QByteArray garbage;
    quint32 seed = 0x1234567u;
    for (int i = 0; i < 4000; ++i) {
        seed = seed * 1103515245u + 12345u;
        garbage += char(seed >> 16);
    }
    const QByteArray good = shortRow(1, "112.6", "23.4", "100.0", "2019-03-28 10-00-00");
    const QString oneOfOne = QStringLiteral("：共1行数据，1行无法读取（第2行）；第2行");

    QTest::newRow("binary garbage") << garbage << 1 << QList<int>{} << "line 1 is not text"
                                    << "：第1行不是文本，不是POS文件";
    QTest::newRow("saved with commas")
        << QByteArray("ID,Lon,Lat,Alt,Heading,Pitch,Roll,Psi_GPS,Speed,Time\n1,112.6,23.4,100\n")
        << 1 << QList<int>{} << "not a POS header"
        << "：第1行表头列数太少，不是POS表头";
    QTest::newRow("a header name that is none")
        << QByteArray(kShortHeader).replace("Lon", "Lo,n") + good << 1 << QList<int>{}
        << "not a POS header (\"Lo,n\")"
        << "：第1行表头中的“Lo,n”不是POS列名";
    QTest::newRow("text in a number cell")
        << kShortHeader + good + shortRow(2, "abc", "23.4", "100.0", "2019-03-28 10-00-01") << 3
        << QList<int>{3} << "Lon: \"abc\" is not a number"
        << "：共2行数据，1行无法读取（第3行）；第3行第2列的“abc”不是数字";
    QTest::newRow("row of four columns")
        << kShortHeader + good + "2 \t1.0 \t2.0 \t3.0 \n" + good << 3 << QList<int>{3}
        << "4 values where the header asks for 11"
        << "：共3行数据，1行无法读取（第3行）；第3行有4个值，表头要求11个";
    QTest::newRow("decimal comma")
        << kShortHeader + shortRow(1, "112,6", "23.4", "100.0", "2019-03-28 10-00-00") << 2
        << QList<int>{2} << "\"112,6\" has a comma"
        << oneOfOne + "第2列的“112,6”含逗号，小数请用小数点";
    QTest::newRow("bad rows counted, good ones between")
        << kShortHeader + shortRow(1, "1", "2", "x", "2019-03-28 10-00-00") + good + "3 \t1.0\n" +
               shortRow(4, "1", "95", "3", "2019-03-28 10-00-00")
        << 2 << QList<int>{2, 4, 5} << "3 of 4 rows cannot be read (lines 2, 4, 5); line 2: Alt"
        << "：共4行数据，3行无法读取（第2、4、5行）；第2行第4列的“x”不是数字";
    QTest::newRow("latitude off the globe")
        << kShortHeader + shortRow(1, "112.6", "-90.5", "100.0", "2019-03-28 10-00-00") << 2
        << QList<int>{2} << "Lat: -90.5 is out of range" << oneOfOne + "第3列的-90.5超出范围";
    QTest::newRow("not a number as a number")
        << kShortHeader + shortRow(1, "112.6", "23.4", "nan", "2019-03-28 10-00-00") << 2
        << QList<int>{2} << "Alt: \"nan\" is not a number" << oneOfOne + "第4列的“nan”不是数字";
    QTest::newRow("time that does not parse")
        << kShortHeader + shortRow(1, "1", "2", "3", "2019-13-45 10-00-00") << 2 << QList<int>{2}
        << "\"2019-13-45 10-00-00\" is not a date and time"
        << oneOfOne + "“2019-13-45 10-00-00”不是有效的日期和时间";
    QTest::newRow("second header inside the rows")
        << kShortHeader + good + kShortHeader + good << 3 << QList<int>{3}
        << "a header inside the data"
        << "：共3行数据，1行无法读取（第3行）；第3行数据中又出现表头（“ID”）";
    const QString empty = QStringLiteral("：文件为空，没有表头也没有POS记录");
    QTest::newRow("no file") << QByteArray() << 0 << QList<int>{} << "no such file"
                             << "：文件不存在";
    QTest::newRow("empty file") << QByteArray("") << 0 << QList<int>{} << "is empty" << empty;
    QTest::newRow("blank lines only")
        << QByteArray("\n \t\n\r\n") << 0 << QList<int>{} << "is empty" << empty;
    QTest::newRow("header only") << kShortHeader << 0 << QList<int>{} << "but no POS rows"
                                 << "：只有表头，没有POS记录";
}

void TestOffloadFormat::posTablesRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(int, firstBadLine);
    QFETCH(QList<int>, badLines);
    QFETCH(QString, why);
    QFETCH(QString, operatorText);

    const QString path = content.isNull() ? m_dir.filePath(QStringLiteral("absent.xls"))
                                          : write(m_dir, content, QStringLiteral("bad.xls"));
    QVERIFY(!path.isEmpty());
    MyExcelObject object;
    object.posList = {PosPoint{1, 2, 3}};
    const PosTableCheck check = PosSpreadsheet::readChecked(path, &object);
    QVERIFY(!check.accepted());
    QCOMPARE(check.firstBadLine, firstBadLine);
    QCOMPARE(check.badLines, badLines);
    QVERIFY(object.posList.isEmpty() && object.timeList.isEmpty());
    QCOMPARE(object.filePath, path);
    const QString message = check.message(path);
    QVERIFY2(message.startsWith(path + QLatin1String(": ")) && message.contains(why),
             qPrintable(message));
    if (firstBadLine > 0)
        QVERIFY2(message.contains(QStringLiteral("line %1").arg(firstBadLine)),
                 qPrintable(message));
    QCOMPARE(OperatorTexts::posTable(check, path), path + operatorText);
}

QTEST_GUILESS_MAIN(TestOffloadFormat)
#include "tst_offloadformat.moc"
