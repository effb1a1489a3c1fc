// The POS download's rules without a camera, and the tables written from raw files compared byte
// for byte with tables the test computes itself. Runs with TZ=CST-8.
#include "postablecheck.h"

#include "posnames.h"
#include "posrawtables.h"
#include "postable.h"
#include "postimes.h"

#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

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
        qToBigEndian<qint32>(random.bounded(-1800000000, 1800000000), r + 8);
        qToBigEndian<qint32>(random.bounded(-900000000, 900000000), r + 12);
        if (i % 11 == 0)
            qToBigEndian<qint32>(0, r + 8 + 4 * (i % 2));
        qToBigEndian<qint32>(random.bounded(1400000000, 1900000000), r + 24);
        r[30] = uchar(i % 5); // 0 none, 1 and 3 calendar, 2 unix, 4 none
        if (r[30] & 1) {
            const int limits[6] = {30, 12, 28, 24, 60, 60}, base[6] = {0, 1, 1, 0, 0, 0};
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

private:
    QTemporaryDir m_dir;
};

// The +8 hour rule, the edge cases of the table names (the downloads write the plain ones), the
// request sequence of the firmware on either side of each range boundary.
void tst_PosCore::rules_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    const auto time = [](const char *tag, const char *hex, const char *expected) {
        const QByteArray bytes = QByteArray::fromHex(hex); // year - 2000, month, day, h, m, s
        const PosClock c = PosTimes::plusEightHours(
            PosTimes::fromBytes(reinterpret_cast<const uint8_t *>(bytes.constData())));
        QTest::newRow(tag) << PosTimes::slotText(c) + " | " + PosTimes::fileText(c) + " | " +
                                  PosTimes::compact(c)
                           << expected;
    };
    time("next year", "130c1f173b3b", "2020-01-01 07:59:59 | 2020-01-01 07-59-59 | 20200101075959");
    time("leap day", "14021c120000", "2020-02-29 02:00:00 | 2020-02-29 02-00-00 | 20200229020000");
    time("zero time of day", "010101000000",
         "2001-01-01 08:00:00 | 2001-01-01 08-00-00 | 20010101080000");
    const auto wifi = [](const char *tag, const char *chosen, int row, const char *expected) {
        QTest::newRow(tag) << PosNames::wifiOutputPath(chosen, 2, row) << expected;
    };
    wifi("wifi, cut at the first dot", "/data/v1.2/out.xls", 0, "/data/v11.xls");
    wifi("wifi, no dot", "/data/out", 13, "/data/out14.xls");
    wifi("wifi, dot at the start", ".out", 0, ".out1.xls");
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
    QFile file(rawPath);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(raw) == raw.size());
    file.close();
    QList<double> steps;
    const PosRawTables::Result r =
        PosRawTables::write(rawPath, size, mainPath, perLens, [&](double p) { steps.append(p); });
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.records, qint64(count));
    QCOMPARE(r.leftover, qint64(extra));
    QCOMPARE(steps.last(), 100.0);
    QVERIFY(std::is_sorted(steps.begin(), steps.end()));
    QCOMPARE(fileBytes(mainPath), PosTableCheck::mainTable(raw, size));
    for (int lens = 0; lens < 5; ++lens) {
        const QString lensPath = PosTableCheck::lensPath(mainPath, lens);
        QCOMPARE(QFile::exists(lensPath), perLens);
        if (perLens)
            QCOMPARE(fileBytes(lensPath), PosTableCheck::lensTable(raw, lens));
    }
}

QTEST_GUILESS_MAIN(tst_PosCore)
#include "tst_poscore.moc"
