// The POS download's rules without a camera, and the tables written from raw files compared byte
// for byte with tables the test computes itself. Runs with TZ=America/New_York, whose offset
// changes in the year and is not the camera crews' +8.
#include "posreference.h"

#include "posnames.h"
#include "posrawtables.h"
#include "postable.h"
#include "postimes.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

namespace {
// Records with every field random, time flags of all three kinds (and stray bits), offsets of
// every sign and zero positions now and then.
QByteArray randomRecords(int count, int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray raw(count * size, 0);
    for (int i = 0; i < count; ++i) {
        uchar *r = reinterpret_cast<uchar *>(raw.data()) + i * size;
        for (int b = 0; b < size; ++b)
            r[b] = uchar(random.bounded(256));
        // The span passes INT_MAX: the 64-bit bounds (the int ones assert in a debug build).
        qToBigEndian<qint32>(qint32(random.bounded(qint64(-1800000000), qint64(1800000000))),
                             r + 8);
        qToBigEndian<qint32>(random.bounded(-900000000, 900000000), r + 12);
        if (i % 11 == 0)
            qToBigEndian<qint32>(0, r + 8 + 4 * (i % 2));
        qToBigEndian<qint32>(random.bounded(1400000000, 1900000000), r + 24);
        r[30] = uchar(i % 8); // odd: calendar; 2 and 6: unix; 0 and 4: none
        if (r[30] & 1) {
            // Month 13 and 31 February included: the camera's clock is normalised, not refused.
            // From 2001 on: the first hours of 2000 west of UTC wrap the year (a fix of its own).
            const int limits[6] = {29, 13, 31, 24, 60, 60}, base[6] = {1, 1, 1, 0, 0, 0};
            for (int f = 0; f < 6; ++f)
                r[24 + f] = uchar(base[f] + random.bounded(limits[f]));
        }
        if (size == 52) {
            qToBigEndian<qint16>(qint16(random.bounded(0, 60)), r + 20);
            for (int lens = 0; lens < 5; ++lens)
                qToBigEndian<qint32>(random.bounded(-3, 4) * random.bounded(1000000),
                                     r + 31 + 4 * lens);
        }
    }
    return raw;
}
} // namespace

class tst_PosCore : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void rawTablesMatchIndependentTables_data();
    void rawTablesMatchIndependentTables();
    void tablesThatCannotBeWritten_data();
    void tablesThatCannotBeWritten();

private:
    QTemporaryDir m_dir;
};

// Slot times in the computer's zone, the edge cases of the table names (the downloads write the
// plain ones), the request sequence of the firmware on either side of each range boundary.
void tst_PosCore::rules_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    const auto time = [](const char *tag, const char *hex, const char *expected) {
        const QByteArray bytes = QByteArray::fromHex(hex); // year - 2000, month, day, h, m, s
        const PosClock c = PosTimes::toLocal(
            PosTimes::fromBytes(reinterpret_cast<const uint8_t *>(bytes.constData())));
        QTest::newRow(tag) << PosTimes::text(c) + " | " + PosTimes::compact(c) << expected;
    };
    time("back into last year", "140101030000", "2019-12-31 22-00-00 | 20191231220000");
    time("back onto the leap day", "14030102003b", "2020-02-29 21-00-59 | 20200229210059");
    time("summer time", "130701120000", "2019-07-01 14-00-00 | 20190701140000");
    time("empty slot", "000000000000", " | ");
    time("no date", "130000173b3b", " | ");
    const auto name = [](const char *tag, const QString &given, const char *expected) {
        QTest::newRow(tag) << given << expected;
    };
    name("suggested", PosNames::suggestedName("20190328100000"), "20190328100000POS点数据.xls");
    name("suggested, no time", PosNames::suggestedName(""), "POS点数据.xls");
    name("typed without suffix", PosNames::tablePath("/d/v1.2/out"), "/d/v1.2/out.xls");
    name("typed with suffix", PosNames::tablePath("/d/out.XLS"), "/d/out.XLS");
    const auto wifi = [](const char *tag, const char *chosen, int row, const char *expected) {
        QTest::newRow(tag) << PosNames::outputPath(chosen, 2, row) << expected;
    };
    wifi("several, cut at the first dot", "/data/v1.2/out.xls", 0, "/data/v11.xls");
    wifi("several, no dot", "/data/out", 13, "/data/out14.xls");
    wifi("several, dot at the start", ".out", 0, ".out1.xls");
    const auto lens = [](const char *tag, const char *main, int lens, const char *expected) {
        QTest::newRow(tag) << QString::fromStdString(vived::PosTable::lensPath(main, lens))
                           << expected;
    };
    lens("lens, no extension", "/d/a", 1, "/d/aRight.xls");
    lens("lens, first piece only", "/d/x.xls/a.xls", 2, "/d/xBack.xls");
    lens("lens, leading .xls skipped", ".xlsa.xls", 3, "aLeft.xls");
    lens("lens, no lens 5", "/d/a.xls", 5, "");
    const char *rangeNames[] = {"Plain", "ProgramCompletes", "Confirmed"};
    for (const char *range : {"3.30 Plain", "3.31 ProgramCompletes", "4.41 ProgramCompletes",
                              "4.5 Confirmed", " Plain"}) {
        const QString version = QString::fromLatin1(range).section(' ', 0, 0);
        QTest::newRow(range) << rangeNames[int(posFirmwareRange(version))]
                             << QString::fromLatin1(range).section(' ', 1);
    }
}

void tst_PosCore::rules()
{
    QFETCH(QString, given);
    QTEST(given, "expected");
}

void tst_PosCore::rawTablesMatchIndependentTables_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("extra"); // torn bytes after the last record
    QTest::addColumn<bool>("perLens");
    QTest::newRow("52, lens tables") << 52 << 4321 << 0 << true;
    QTest::newRow("52, main only, torn tail") << 52 << 300 << 37 << false;
    QTest::newRow("32, torn tail") << 32 << 2500 << 31 << false;
    QTest::newRow("52, empty file, lens tables") << 52 << 0 << 0 << true;
    QTest::newRow("32, shorter than a record") << 32 << 0 << 5 << false;
}

void tst_PosCore::rawTablesMatchIndependentTables()
{
    QFETCH(int, size);
    QFETCH(int, count);
    QFETCH(int, extra);
    QFETCH(bool, perLens);
    const QByteArray raw = randomRecords(count, size, quint32(count + size)) + QByteArray(extra, 7);
    const QString rawPath = m_dir.filePath(QStringLiteral("%1.raw").arg(QTest::currentDataTag()));
    const QString mainPath = m_dir.filePath(QStringLiteral("%1.xls").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(rawPath, raw));
    QList<double> steps;
    const PosRawTables::Result r =
        PosRawTables::write(rawPath, size, mainPath, perLens, [&](double p) { steps.append(p); });
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.records, qint64(count));
    QCOMPARE(r.leftover, qint64(extra));
    QCOMPARE(steps.last(), 100.0);
    QVERIFY(std::is_sorted(steps.begin(), steps.end()));
    QCOMPARE(fileBytes(mainPath), PosReference::mainTable(raw, size));
    for (int lens = 0; lens < 5; ++lens) {
        const QString lensPath = PosReference::lensPath(mainPath, lens);
        QCOMPARE(QFile::exists(lensPath), perLens);
        if (perLens)
            QCOMPARE(fileBytes(lensPath), PosReference::lensTable(raw, lens));
    }
}

// `v7tool pos decode` where a table would replace its own raw file, a lens table cannot be made
// or the disk fills half-way: the raw file and an earlier table stay as they were, no part of a
// table is left behind, and the tool exits 1 naming the table.
void tst_PosCore::tablesThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("table");  // -o, in the row's folder beside the raw file "raw"
    QTest::addColumn<QString>("link");   // made a symbolic link to the raw file first
    QTest::addColumn<QString>("folder"); // made a folder first
    QTest::addColumn<int>("sizeLimit");  // the tool's file size limit, bytes; 0 none
    QTest::addColumn<QString>("named");  // the file the tool names; empty: it succeeds
    QTest::newRow("table is the raw file") << "raw" << "" << "" << 0 << "raw";
    QTest::newRow("table links to the raw file") << "t.xls" << "t.xls" << "" << 0 << "t.xls";
    QTest::newRow("lens table links to the raw file")
        << "t.xls" << "tBack.xls" << "" << 0 << "tBack.xls";
    QTest::newRow("lens table name is a folder") << "t.xls" << "" << "tLeft.xls" << 0 << "tLeft.xls";
    QTest::newRow("disk full half-way") << "t.xls" << "" << "" << 60000 << "t.xls";
    QTest::newRow("written") << "t.xls" << "" << "" << 0 << "";
}

void tst_PosCore::tablesThatCannotBeWritten()
{
    QFETCH(QString, table);
    QFETCH(QString, link);
    QFETCH(QString, folder);
    QFETCH(int, sizeLimit);
    QFETCH(QString, named);
    const QDir dir(m_dir.filePath(QTest::currentDataTag()));
    const QByteArray raw = randomRecords(1000, 52, 5);
    const QByteArray old = "an earlier table\n";
    QVERIFY(writeFile(dir.filePath("raw"), raw));
    QVERIFY(link.isEmpty() || QFile::link(dir.filePath("raw"), dir.filePath(link)));
    QVERIFY(folder.isEmpty() || dir.mkdir(folder));
    const QStringList before = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    const bool earlier = table != "raw" && table != link;
    QVERIFY(!earlier || writeFile(dir.filePath(table), old));

    QProcess tool;
    tool.setChildProcessModifier([sizeLimit] {
        const rlimit limit = {rlim_t(sizeLimit), rlim_t(sizeLimit)};
        if (sizeLimit > 0 && (::signal(SIGXFSZ, SIG_IGN), ::setrlimit(RLIMIT_FSIZE, &limit)) != 0)
            ::_exit(99);
    });
    tool.start(V7_TOOL, {"pos", "decode", "--record-size", "52", dir.filePath("raw"), "--per-lens",
                         "-o", dir.filePath(table)});
    QVERIFY(tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit);
    const QByteArray err = tool.readAllStandardError();
    QCOMPARE(tool.exitCode(), named.isEmpty() ? 0 : 1);
    QVERIFY2(err.contains(QFile::encodeName(dir.filePath(named))), err.constData());
    QCOMPARE(fileBytes(dir.filePath("raw")), raw);
    QStringList after = before;
    if (earlier)
        after << table;
    // Whole tables only: the main one when it could be written, the five lens ones or none.
    const bool main = named.isEmpty() || !folder.isEmpty();
    for (int lens = 0; named.isEmpty() && lens < 5; ++lens)
        after << QFileInfo(PosReference::lensPath(table, lens)).fileName();
    after.sort();
    QStringList listed = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    listed.sort();
    QCOMPARE(listed, after);
    if (earlier)
        QCOMPARE(fileBytes(dir.filePath(table)),
                 main ? PosReference::mainTable(raw, 52) : old);
}

QTEST_GUILESS_MAIN(tst_PosCore)
#include "tst_poscore.moc"
