#include <QDateTime>
#include <QTimeZone>
#include <QtTest>

#include <cstdlib>
#include <ctime>

#include "dumpname.h"
#include "procmaps.h"

// The pieces of the crash handler that run without a crash: the memory-map parser and the
// local-time dump names.
class TestCrashDumpFormat : public QObject
{
    Q_OBJECT

private slots:
    void parseLine_data();
    void parseLine();
    void parseSkipsBrokenLinesAndStopsAtCapacity();
    void formatName_data();
    void formatName();
    void formatNameMatchesCalendarOverCenturies();
    void zoneChanges_data();
    void zoneChanges();
};

void TestCrashDumpFormat::parseLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("region"); // "start-end offset rwxs path", empty when rejected

    QTest::newRow("anonymous") << QByteArray("7f2a1c000000-7f2a1c021000 rw-p 00000000 00:00 0 \n")
                               << "7f2a1c000000-7f2a1c021000 0 rw-- ";
    QTest::newRow("program text") << QByteArray("55e6358cc000-55e6358cd000 r-xp 00001000 fd:01 "
                                                "1234567                    /usr/bin/crashhelper\n")
                                  << "55e6358cc000-55e6358cd000 1000 r-x- /usr/bin/crashhelper";
    QTest::newRow("path with spaces, deleted")
        << QByteArray("7f00aa000000-7f00aa001000 rw-s 0000a000 00:05 42   /dev/shm/a b (deleted)\n")
        << "7f00aa000000-7f00aa001000 a000 rw-s /dev/shm/a b (deleted)";
    QTest::newRow("top of the address space")
        << QByteArray("ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0  [vsyscall]\n")
        << "ffffffffff600000-ffffffffff601000 0 --x- [vsyscall]";
    QTest::newRow("upper-case hex, large inode")
        << QByteArray("ABC000-ABD000 r--p 00000000 103:02 18446744073709551615 /x\n")
        << "abc000-abd000 0 r--- /x";
    const char *const rejected[][2] = {
        {"no dash", "1000 2000 rw-p 00000000 00:00 0\n"},
        {"end before start", "2000-1000 rw-p 00000000 00:00 0\n"},
        {"empty range", "2000-2000 rw-p 00000000 00:00 0\n"},
        {"address wider than 64 bits", "10000000000000000-10000000000001000 rw-p 00000000 00:00 0\n"},
        {"permissions cut short", "1000-2000 rw\n"},
        {"no inode", "1000-2000 rw-p 00000000 00:00\n"},
        {"last line without newline", "1000-2000 rw-p 00000000 00:00 0 /lib/libc.so"},
        {"empty", ""},
    };
    for (const auto &row : rejected)
        QTest::newRow(row[0]) << QByteArray(row[1]) << QString();
}

void TestCrashDumpFormat::parseLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, region);
    ProcMapsRegion regions[2];
    const size_t count = ProcMaps::parse(text.data(), size_t(text.size()), regions, 2);
    QCOMPARE(count, size_t(region.isEmpty() ? 0 : 1));
    if (count == 0)
        return;
    const ProcMapsRegion &r = regions[0];
    const QString seen = QStringLiteral("%1-%2 %3 %4%5%6%7 %8")
                             .arg(quint64(r.start), 0, 16)
                             .arg(quint64(r.end), 0, 16)
                             .arg(quint64(r.offset), 0, 16)
                             .arg(QLatin1Char(r.readable ? 'r' : '-'))
                             .arg(QLatin1Char(r.writable ? 'w' : '-'))
                             .arg(QLatin1Char(r.executable ? 'x' : '-'))
                             .arg(QLatin1Char(r.shared ? 's' : '-'))
                             .arg(QString::fromLocal8Bit(r.path));
    QCOMPARE(seen, region);
}

void TestCrashDumpFormat::parseSkipsBrokenLinesAndStopsAtCapacity()
{
    const QByteArray source("1000-2000 r--p 00000000 08:01 11 /a\n"
                            "garbage\n"
                            "\n"
                            "3000-4000 rw-p 00001000 08:01 11 /a\n"
                            "5000-6000 rw-p 00000000 00:00 0\n"
                            "7000-8000 rw-p 00000000 00:00 0 [hea");
    QByteArray text = source; // the parser ends each field in place
    ProcMapsRegion regions[8];
    QCOMPARE(ProcMaps::parse(text.data(), size_t(text.size()), regions, 8), size_t(3));
    QCOMPARE(quint64(regions[1].start), quint64(0x3000));
    QCOMPARE(quint64(regions[1].offset), quint64(0x1000));
    QCOMPARE(quint64(regions[2].start), quint64(0x5000));
    ProcMapsRegion two[2];
    text = source;
    QCOMPARE(ProcMaps::parse(text.data(), size_t(text.size()), two, 2), size_t(2));
    QCOMPARE(quint64(two[1].start), quint64(0x3000));
}

void TestCrashDumpFormat::formatName_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("name");
    // Dates from 1600 to 2500 are swept against Qt's calendar below; these are the edges.
    QTest::newRow("second before the epoch") << qint64(-1) << "1969_12_31_23_59_59.dmp";
    // The last day of a 400-year era, which a weekly sweep can step over.
    QTest::newRow("leap day 2000") << qint64(951782400 + 13 * 3600 + 5 * 60 + 9)
                                   << "2000_02_29_13_05_09.dmp";
    QTest::newRow("last second of 9999") << qint64(253402300799) << "9999_12_31_23_59_59.dmp";
    QTest::newRow("after 9999 is clamped") << qint64(253402300800 * 4) << "9999_12_31_23_59_59.dmp";
    QTest::newRow("before year 0 is clamped")
        << qint64(-62167219200 - 86400 * 400) << "0000_01_01_00_00_00.dmp";
}

void TestCrashDumpFormat::formatName()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, name);
    char out[DumpName::Length + 2];
    memset(out, 'x', sizeof(out));
    DumpName::format(seconds, out);
    QCOMPARE(out[DumpName::Length], '\0');
    QCOMPARE(QString::fromLatin1(out), name);
}

void TestCrashDumpFormat::formatNameMatchesCalendarOverCenturies()
{
    // Every 7th day from 1600 to 2500 at a moving time of day, against Qt's own calendar.
    constexpr qint64 Day = 86400;
    const qint64 first = QDateTime(QDate(1600, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    const qint64 last = QDateTime(QDate(2500, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    char out[DumpName::Length + 1];
    int checked = 0;
    for (qint64 t = first; t < last; t += 7 * Day + 3671) {
        DumpName::format(t, out);
        const QString expected = QDateTime::fromSecsSinceEpoch(t, Qt::UTC)
                                     .toString(QStringLiteral("yyyy_MM_dd_hh_mm_ss'.dmp'"));
        if (QString::fromLatin1(out) != expected)
            QFAIL(qPrintable(QStringLiteral("%1 gave %2").arg(t).arg(QString::fromLatin1(out))));
        ++checked;
    }
    QVERIFY(checked > 40000);
}

// The zone rules are read once, at a start in January; the offsets must follow them later on.
void TestCrashDumpFormat::zoneChanges_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDateTime>("at");
    QTest::addColumn<int>("offset");

    const QByteArray eastern("EST5EDT,M3.2.0,M11.1.0");
    const QByteArray southern("AEST-10AEDT,M10.1.0,M4.1.0/3");
    const QDateTime spring(QDate(2026, 3, 8), QTime(7, 0), Qt::UTC);
    const QDateTime autumn(QDate(2026, 11, 1), QTime(6, 0), Qt::UTC);
    const QDateTime southAutumn(QDate(2026, 4, 4), QTime(16, 0), Qt::UTC);
    QTest::newRow("second before spring change") << eastern << spring.addSecs(-1) << -5 * 3600;
    QTest::newRow("spring change") << eastern << spring << -4 * 3600;
    QTest::newRow("autumn change") << eastern << autumn << -5 * 3600;
    QTest::newRow("summer a year later")
        << eastern << QDateTime(QDate(2027, 7, 1), QTime(0, 0), Qt::UTC) << -4 * 3600;
    QTest::newRow("half-hour zone") << QByteArray("XYZ-5:30") << spring << 5 * 3600 + 1800;
    QTest::newRow("southern summer at start") << southern << southAutumn.addSecs(-1) << 11 * 3600;
    QTest::newRow("southern winter") << southern << southAutumn << 10 * 3600;
}

void TestCrashDumpFormat::zoneChanges()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDateTime, at);
    QFETCH(int, offset);
    const QByteArray saved = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", zone);
    tzset();
    DumpName::prepareZone(QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC).toSecsSinceEpoch());
    if (hadZone)
        qputenv("TZ", saved);
    else
        qunsetenv("TZ");
    tzset();
    QCOMPARE(DumpName::offsetAt(at.toSecsSinceEpoch()), offset);
}

QTEST_GUILESS_MAIN(TestCrashDumpFormat)
#include "tst_crashdumpformat.moc"
