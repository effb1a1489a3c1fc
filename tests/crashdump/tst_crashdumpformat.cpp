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
    void parseSkipsBrokenLinesAndKeepsTheRest();
    void parseStopsAtCapacity();
    void formatName_data();
    void formatName();
    void formatNameMatchesCalendarOverCenturies();
    void zoneChanges_data();
    void zoneChanges();

private:
    static QString calendarName(qint64 seconds)
    {
        return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
                   .toString(QStringLiteral("yyyy_MM_dd_hh_mm_ss"))
               + QStringLiteral(".dmp");
    }
};

void TestCrashDumpFormat::parseLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<quint64>("start");
    QTest::addColumn<quint64>("end");
    QTest::addColumn<quint64>("offset");
    QTest::addColumn<QString>("perms"); // r, w, x, s as seen
    QTest::addColumn<QByteArray>("path");

    QTest::newRow("anonymous") << QByteArray("7f2a1c000000-7f2a1c021000 rw-p 00000000 00:00 0 \n")
                               << true << quint64(0x7f2a1c000000) << quint64(0x7f2a1c021000)
                               << quint64(0) << "rw--" << QByteArray("");
    QTest::newRow("program text")
        << QByteArray("55e6358cc000-55e6358cd000 r-xp 00001000 fd:01 1234567                    "
                      "/usr/bin/crashhelper\n")
        << true << quint64(0x55e6358cc000) << quint64(0x55e6358cd000) << quint64(0x1000) << "r-x-"
        << QByteArray("/usr/bin/crashhelper");
    QTest::newRow("path with spaces, deleted")
        << QByteArray("7f00aa000000-7f00aa001000 rw-s 0000a000 00:05 42   /dev/shm/a b (deleted)\n")
        << true << quint64(0x7f00aa000000) << quint64(0x7f00aa001000) << quint64(0xa000) << "rw-s"
        << QByteArray("/dev/shm/a b (deleted)");
    QTest::newRow("stack") << QByteArray("7ffc1000-7ffc2000 rw-p 00000000 00:00 0    [stack]\n")
                           << true << quint64(0x7ffc1000) << quint64(0x7ffc2000) << quint64(0)
                           << "rw--" << QByteArray("[stack]");
    QTest::newRow("top of the address space")
        << QByteArray("ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0  [vsyscall]\n")
        << true << quint64(0xffffffffff600000) << quint64(0xffffffffff601000) << quint64(0)
        << "--x-" << QByteArray("[vsyscall]");
    QTest::newRow("upper-case hex, large inode")
        << QByteArray("ABC000-ABD000 r--p 00000000 103:02 18446744073709551615 /x\n") << true
        << quint64(0xabc000) << quint64(0xabd000) << quint64(0) << "r---" << QByteArray("/x");
    QTest::newRow("no dash") << QByteArray("1000 2000 rw-p 00000000 00:00 0\n") << false
                             << quint64(0) << quint64(0) << quint64(0) << "" << QByteArray();
    QTest::newRow("end before start") << QByteArray("2000-1000 rw-p 00000000 00:00 0\n") << false
                                      << quint64(0) << quint64(0) << quint64(0) << ""
                                      << QByteArray();
    QTest::newRow("empty range") << QByteArray("2000-2000 rw-p 00000000 00:00 0\n") << false
                                 << quint64(0) << quint64(0) << quint64(0) << "" << QByteArray();
    QTest::newRow("address wider than 64 bits")
        << QByteArray("10000000000000000-10000000000001000 rw-p 00000000 00:00 0\n") << false
        << quint64(0) << quint64(0) << quint64(0) << "" << QByteArray();
    QTest::newRow("permissions cut short") << QByteArray("1000-2000 rw\n") << false << quint64(0)
                                           << quint64(0) << quint64(0) << "" << QByteArray();
    QTest::newRow("no inode") << QByteArray("1000-2000 rw-p 00000000 00:00\n") << false
                              << quint64(0) << quint64(0) << quint64(0) << "" << QByteArray();
    QTest::newRow("last line without newline")
        << QByteArray("1000-2000 rw-p 00000000 00:00 0 /lib/libc.so") << false << quint64(0)
        << quint64(0) << quint64(0) << "" << QByteArray();
    QTest::newRow("empty") << QByteArray() << false << quint64(0) << quint64(0) << quint64(0) << ""
                           << QByteArray();
}

void TestCrashDumpFormat::parseLine()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, parsed);
    ProcMapsRegion regions[2];
    const size_t count = ProcMaps::parse(text.data(), size_t(text.size()), regions, 2);
    QCOMPARE(count, size_t(parsed ? 1 : 0));
    if (!parsed)
        return;
    QFETCH(quint64, start);
    QFETCH(quint64, end);
    QFETCH(quint64, offset);
    QFETCH(QString, perms);
    QFETCH(QByteArray, path);
    const ProcMapsRegion &region = regions[0];
    QCOMPARE(quint64(region.start), start);
    QCOMPARE(quint64(region.end), end);
    QCOMPARE(quint64(region.offset), offset);
    const QString seen = QString(region.readable ? QLatin1Char('r') : QLatin1Char('-'))
                         + (region.writable ? QLatin1Char('w') : QLatin1Char('-'))
                         + (region.executable ? QLatin1Char('x') : QLatin1Char('-'))
                         + (region.shared ? QLatin1Char('s') : QLatin1Char('-'));
    QCOMPARE(seen, perms);
    QCOMPARE(QByteArray(region.path), path);
}

void TestCrashDumpFormat::parseSkipsBrokenLinesAndKeepsTheRest()
{
    QByteArray text("1000-2000 r--p 00000000 08:01 11 /a\n"
                    "garbage\n"
                    "\n"
                    "3000-4000 rw-p 00001000 08:01 11 /a\n"
                    "5000-6000 rw-p 00000000 00:00 0 [hea");
    ProcMapsRegion regions[8];
    QCOMPARE(ProcMaps::parse(text.data(), size_t(text.size()), regions, 8), size_t(2));
    QCOMPARE(quint64(regions[0].start), quint64(0x1000));
    QCOMPARE(QByteArray(regions[0].path), QByteArray("/a"));
    QCOMPARE(quint64(regions[1].start), quint64(0x3000));
    QCOMPARE(quint64(regions[1].offset), quint64(0x1000));
    QVERIFY(regions[1].writable);
}

void TestCrashDumpFormat::parseStopsAtCapacity()
{
    QByteArray text;
    for (int i = 1; i <= 5; ++i)
        text += QByteArray::number(i * 0x1000, 16) + '-' + QByteArray::number(i * 0x1000 + 0x800, 16)
                + " rw-p 00000000 00:00 0\n";
    ProcMapsRegion regions[3];
    QCOMPARE(ProcMaps::parse(text.data(), size_t(text.size()), regions, 3), size_t(3));
    QCOMPARE(quint64(regions[2].start), quint64(0x3000));
}

void TestCrashDumpFormat::formatName_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("name");
    QTest::newRow("epoch") << qint64(0) << "1970_01_01_00_00_00.dmp";
    QTest::newRow("second before the epoch") << qint64(-1) << "1969_12_31_23_59_59.dmp";
    QTest::newRow("leap day 2000") << qint64(951782400 + 13 * 3600 + 5 * 60 + 9)
                                   << "2000_02_29_13_05_09.dmp";
    QTest::newRow("no leap day 2100") << qint64(4107456000 + 86399) << "2100_02_28_23_59_59.dmp";
    QTest::newRow("first of March 2100") << qint64(4107542400) << "2100_03_01_00_00_00.dmp";
    QTest::newRow("past 2038") << qint64(2147483648) << "2038_01_19_03_14_08.dmp";
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
        if (QString::fromLatin1(out) != calendarName(t))
            QFAIL(qPrintable(QStringLiteral("%1 gave %2").arg(t).arg(QString::fromLatin1(out))));
        ++checked;
    }
    QVERIFY(checked > 40000);
}

void TestCrashDumpFormat::zoneChanges_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QDateTime>("at");
    QTest::addColumn<int>("offset");

    const QByteArray eastern("EST5EDT,M3.2.0,M11.1.0");
    const QDateTime january(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
    const QDateTime spring(QDate(2026, 3, 8), QTime(7, 0), Qt::UTC);
    const QDateTime autumn(QDate(2026, 11, 1), QTime(6, 0), Qt::UTC);
    QTest::newRow("winter at start") << eastern << january << january << -5 * 3600;
    QTest::newRow("second before spring change") << eastern << january << spring.addSecs(-1)
                                                 << -5 * 3600;
    QTest::newRow("spring change") << eastern << january << spring << -4 * 3600;
    QTest::newRow("second before autumn change") << eastern << january << autumn.addSecs(-1)
                                                 << -4 * 3600;
    QTest::newRow("autumn change") << eastern << january << autumn << -5 * 3600;
    QTest::newRow("summer a year later")
        << eastern << january << QDateTime(QDate(2027, 7, 1), QTime(0, 0), Qt::UTC)
        << -4 * 3600;
    QTest::newRow("half-hour zone without changes")
        << QByteArray("XYZ-5:30") << january << spring << 5 * 3600 + 1800;
    QTest::newRow("southern summer at start")
        << QByteArray("AEST-10AEDT,M10.1.0,M4.1.0/3") << january
        << QDateTime(QDate(2026, 4, 4), QTime(15, 59, 59), Qt::UTC) << 11 * 3600;
    QTest::newRow("southern winter")
        << QByteArray("AEST-10AEDT,M10.1.0,M4.1.0/3") << january
        << QDateTime(QDate(2026, 4, 4), QTime(16, 0), Qt::UTC) << 10 * 3600;
}

void TestCrashDumpFormat::zoneChanges()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDateTime, start);
    QFETCH(QDateTime, at);
    QFETCH(int, offset);
    const QByteArray saved = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", zone);
    tzset();
    DumpName::prepareZone(start.toSecsSinceEpoch());
    if (hadZone)
        qputenv("TZ", saved);
    else
        qunsetenv("TZ");
    tzset();
    QCOMPARE(DumpName::offsetAt(at.toSecsSinceEpoch()), offset);
}

QTEST_GUILESS_MAIN(TestCrashDumpFormat)
#include "tst_crashdumpformat.moc"
