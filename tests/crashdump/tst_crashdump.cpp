#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "crashdump.h"
#include "dumpname.h"
#include "procmaps.h"
#include "testtools.h"

namespace {

const QString DumpPattern = QStringLiteral("^\\d{4}_\\d{2}_\\d{2}_\\d{2}_\\d{2}_\\d{2}\\.dmp$");
const QString NameFormat = QStringLiteral("yyyy_MM_dd_hh_mm_ss");
// The helper runs in a zone without daylight saving and with a half-hour offset, so that a
// name taken from UTC or from whole hours only cannot pass.
const QByteArray HelperZone("XYZ-5:30");
constexpr qint64 HelperOffset = 5 * 3600 + 1800;

struct Run
{
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1; // the signal number after a crash
    QByteArray errors;
};

quint64 field(const QByteArray &bytes, int at, int size)
{
    return size == 2 ? qFromLittleEndian<quint16>(bytes.constData() + at)
                     : qFromLittleEndian<quint64>(bytes.constData() + at);
}

// Where the last segment of a 64-bit ELF file ends by its program headers; 0 when the headers
// do not fit the file.
qint64 endOfSegments(QFile &file)
{
    file.seek(0);
    const QByteArray header = file.read(64);
    if (header.size() < 64)
        return 0;
    const quint64 tableOffset = field(header, 32, 8);
    const quint64 entries = field(header, 56, 2);
    if (field(header, 54, 2) != 56 || !file.seek(qint64(tableOffset)))
        return 0;
    const QByteArray table = file.read(qint64(56 * entries));
    if (quint64(table.size()) != 56 * entries)
        return 0;
    quint64 end = tableOffset + 56 * entries;
    for (int at = 0; at < table.size(); at += 56)
        end = qMax(end, field(table, at + 8, 8) + field(table, at + 32, 8));
    return qint64(end);
}

QString zoneNow()
{
    return QDateTime::currentDateTimeUtc().addSecs(HelperOffset).toString(NameFormat)
           + QStringLiteral(".dmp");
}

} // namespace

// The crash handler seen from outside: a process that crashes leaves a dump that gdb opens at
// the faulting function; the dump folder is made at start-up or, failing that, at the crash.
// And the pieces that run without a crash: the memory-map parser and the local-time dump names.
class TestCrashDump : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parseLine_data();
    void parseLine();
    void formatName();
    void zoneChanges_data();
    void zoneChanges();
    void createDirectoryTree_data();
    void createDirectoryTree();
    void crashWritesCore_data();
    void crashWritesCore();
    void withoutDumpFolder();

private:
    Run runHelper(const QStringList &arguments, const QByteArray &stateDir = QByteArray());

    QTemporaryDir m_temp;
    QString m_file; // a regular file: nothing can be created below it, not even by root
    QString m_gdb;
};

void TestCrashDump::initTestCase()
{
    QVERIFY(m_temp.isValid());
    m_file = m_temp.filePath(QStringLiteral("plainfile"));
    QVERIFY(writeFile(m_file, "not a folder"));
    m_gdb = QStandardPaths::findExecutable(QStringLiteral("gdb"));
}

Run TestCrashDump::runHelper(const QStringList &arguments, const QByteArray &stateDir)
{
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QString::fromLatin1(HelperZone));
    if (!stateDir.isEmpty())
        env.insert(QStringLiteral("V7_STATE_DIR"), QString::fromLocal8Bit(stateDir));
    helper.setProcessEnvironment(env);
    helper.start(QStringLiteral(CRASHHELPER_PATH), arguments);
    Run run;
    if (!helper.waitForStarted() || !helper.waitForFinished(300000))
        return run;
    run.status = helper.exitStatus();
    run.code = helper.exitCode();
    run.errors = helper.readAllStandardError();
    return run;
}

void TestCrashDump::createDirectoryTree_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("belowFile");
    QTest::addColumn<bool>("created");
    QTest::newRow("three levels") << "a/b/c" << false << true;
    QTest::newRow("trailing slash") << "d/e/" << false << true;
    QTest::newRow("deep below a regular file") << "x/y/z" << true << false;
    // Holds the dump of an earlier crash, which stays.
    QTest::newRow("existing folder") << "dump" << false << true;
}

void TestCrashDump::createDirectoryTree()
{
    QFETCH(QString, relative);
    QFETCH(bool, belowFile);
    QFETCH(bool, created);
    const QString base = belowFile ? m_file : m_temp.filePath(QStringLiteral("tree"));
    const QString path = base + QLatin1Char('/') + relative;
    const QString old = base + QStringLiteral("/p/dump/2018_05_10_14_03_22.dmp");
    if (relative == QLatin1String("dump"))
        QVERIFY(writeFile(old, "earlier crash"));
    QCOMPARE(CrashDump::createDirectoryTree(path), created);
    QCOMPARE(QFileInfo(path).isDir(), created);
    QVERIFY(QFileInfo(m_file).isFile());

    // The same through prepareDumpFolder: a folder it cannot make is not recorded. Without a
    // name of its own the folder takes the program's.
    const QString before = CrashDump::dumpFolder();
    QCOMPARE(CrashDump::prepareDumpFolder(QString(), base + QStringLiteral("/p"), relative),
             created);
    if (created) {
        QCOMPARE(CrashDump::dumpFolder(), QDir::cleanPath(base + QStringLiteral("/p/") + relative));
        QCOMPARE(CrashDump::applicationName(), QStringLiteral("tst_crashdump"));
    } else {
        QCOMPARE(CrashDump::dumpFolder(), before);
    }
    if (relative == QLatin1String("dump"))
        QCOMPARE(fileBytes(old), QByteArray("earlier crash"));
}

void TestCrashDump::crashWritesCore_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("backtrace");
    QTest::addColumn<QString>("frame"); // a function on the stack, by name
    QTest::addColumn<bool>("mainOnStack");

    QTest::newRow("main thread") << "main" << SIGSEGV << "bt" << "crashHereOnPurpose" << true;
    // Both folders deleted after start-up: the handler makes them again.
    QTest::newRow("folders removed") << "main remove" << SIGSEGV << "bt" << "crashHereOnPurpose"
                                     << true;
    // Every name the crash can take over the next minutes already exists, as if an earlier
    // crash had written it in the same second: the dump replaces one of them.
    QTest::newRow("same second") << "main same-second" << SIGSEGV << "bt" << "crashHereOnPurpose"
                                 << true;
    // The worker's own stack: no frame of main() may appear.
    QTest::newRow("worker thread") << "thread" << SIGSEGV << "bt" << "crashHereOnPurpose" << false;
    QTest::newRow("abort") << "abort" << SIGABRT << "bt" << "abort" << true;
    // Runs on the alternate stack; the bottom frames are thousands away.
    QTest::newRow("stack overflow") << "overflow" << SIGSEGV << "bt 3" << "recurseWithoutEnd"
                                    << false;
    QTest::newRow("worker stack overflow") << "threadoverflow" << SIGSEGV << "bt 3"
                                           << "recurseWithoutEnd" << false;
    // A mapped file without bytes: the dump writes zeros where it cannot read.
    QTest::newRow("bus error") << "bus" << SIGBUS << "bt" << "readPastEndOfFile" << true;
    QTest::newRow("illegal instruction") << "ill" << SIGILL << "bt" << "trapOnPurpose" << true;
    QTest::newRow("division by zero") << "fpe" << SIGFPE << "bt" << "divideOnPurpose" << true;
}

void TestCrashDump::crashWritesCore()
{
    QFETCH(QString, mode);
    QFETCH(int, signal);
    QFETCH(QString, backtrace);
    QFETCH(QString, frame);
    QFETCH(bool, mainOnStack);

    const QString base = m_temp.filePath(QStringLiteral("crash-") + mode);
    const QString folder = base + QStringLiteral("/dump");
    QStringList words = mode.split(QLatin1Char(' '));
    const int earlier = words.removeAll(QStringLiteral("same-second")) ? 300 : 0;
    // Each earlier file is longer than any dump (sparse, so it takes no disk space).
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(HelperOffset - 2);
    QVERIFY(earlier == 0 || QDir().mkpath(folder));
    for (int i = 0; i < earlier; ++i) {
        QFile old(folder + QLatin1Char('/') + start.addSecs(i).toString(NameFormat)
                  + QStringLiteral(".dmp"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier crash");
        QVERIFY(old.resize(qint64(4) << 30));
    }
    const QString earliest = zoneNow();
    const Run run = runHelper(QStringList{words[0], base} + words.mid(1));
    const QString latest = zoneNow();
    QCOMPARE(run.status, QProcess::CrashExit);
    QCOMPARE(run.code, signal);

    const QStringList names = QDir(folder).entryList({QStringLiteral("*.dmp")}, QDir::Files);
    QCOMPARE(names.size(), qMax(earlier, 1));
    QStringList written;
    for (const QString &name : names) {
        QFile file(folder + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly) && file.read(4) == QByteArray("\x7f" "ELF"))
            written << name;
    }
    QCOMPARE(written.size(), 1);
    const QString name = written.first();
    QVERIFY2(QRegularExpression(DumpPattern).match(name).hasMatch(), qPrintable(name));
    QVERIFY2(name >= earliest && name <= latest,
             qPrintable(QStringLiteral("%1 not within %2 .. %3").arg(name, earliest, latest)));

    const QString dump = folder + QLatin1Char('/') + name;
    QFile file(dump);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // 64-bit little-endian ELF, type core (4), machine x86_64 (62).
    const QByteArray header = file.read(20);
    QCOMPARE(header.left(6), QByteArray("\x7f" "ELF\x02\x01"));
    QCOMPARE(header.mid(16, 4), QByteArray("\x04\x00\x3e\x00", 4));
    // Every segment is complete and nothing follows the last one: an earlier file of the same
    // name was replaced, not overwritten in place.
    QCOMPARE(endOfSegments(file), file.size());

    if (m_gdb.isEmpty())
        QSKIP("gdb is not installed: the dump cannot be opened");
    const ToolRun gdb = runTool(m_gdb,
                                {"-batch", "-nx", "-iex", "set debuginfod enabled off", "-ex",
                                 backtrace, "-ex", "info proc mappings", CRASHHELPER_PATH, dump},
                                {"DEBUGINFOD_URLS="}, 300000);
    const QString output = QString::fromLocal8Bit(gdb.out + gdb.err);
    const auto frames = QRegularExpression(QStringLiteral("^#\\d+ .*$"),
                                           QRegularExpression::MultilineOption);
    QStringList stack;
    for (auto it = frames.globalMatch(output); it.hasNext();)
        stack << it.next().captured();
    QVERIFY2(output.contains(QStringLiteral("Program terminated with signal SIG%1")
                                 .arg(QString::fromLatin1(sigabbrev_np(signal)))),
             qPrintable(output));
    QVERIFY2(!stack.isEmpty() && stack.first().contains(QLatin1String("#0 ")), qPrintable(output));
    const QRegularExpression frameCall(QStringLiteral("%1 \\(").arg(frame));
    QVERIFY2(!stack.filter(frameCall).isEmpty(), qPrintable(output));
    const QRegularExpression mainCall(QStringLiteral("^#\\d+ +(0x[0-9a-f]+ in )?main \\("));
    QCOMPARE(!stack.filter(mainCall).isEmpty(), mainOnStack);
    // The mapped-file note: gdb lists the program among the mappings.
    QVERIFY2(output.contains(QFileInfo(QStringLiteral(CRASHHELPER_PATH)).canonicalFilePath()),
             qPrintable(output));
    // Sanitizer builds dump hundreds of megabytes of shadow memory.
    QVERIFY(QDir(base).removeRecursively());
}

// Neither the given folder nor the per-user one can be made: a crash writes no dump and still
// ends the process; the program shows its message and runs on.
void TestCrashDump::withoutDumpFolder()
{
    const QString base = m_file + QStringLiteral("/V7Assistant");
    const Run run = runHelper({QStringLiteral("main"), base},
                              QFile::encodeName(m_file + QStringLiteral("/state")));
    QCOMPARE(run.status, QProcess::CrashExit);
    QCOMPARE(run.code, SIGSEGV);
    QVERIFY2(run.errors.contains("hDumpFile == null\n"), run.errors.constData());
    QVERIFY(QFileInfo(m_file).isFile());

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("V7_STATE_DIR"), m_file + QStringLiteral("/state"));
    app.setProcessEnvironment(env);
    app.setReadChannel(QProcess::StandardError);
    app.start(QStringLiteral(V7KAPP_PATH), {});
    QVERIFY(app.waitForStarted());
    QByteArray errors;
    while (!errors.contains("Create Dump Dir Failed") && app.state() == QProcess::Running
           && app.waitForReadyRead(60000))
        errors += app.readAllStandardError();
    QVERIFY2(errors.contains("Create Dump Dir Failed"), errors.constData());
    // The box waits for the operator; the program must neither quit nor crash meanwhile.
    QVERIFY(!app.waitForFinished(2000));
    QCOMPARE(app.state(), QProcess::Running);
    app.kill();
    QVERIFY(app.waitForFinished());
}

void TestCrashDump::parseLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QString>("regions"); // "start-end offset rwxs path; ...", "" when rejected

    QTest::newRow("anonymous") << QByteArray("7f2a1c000000-7f2a1c021000 rw-p 00000000 00:00 0 \n")
                               << 2 << "7f2a1c000000-7f2a1c021000 0 rw-- ";
    QTest::newRow("program text") << QByteArray("55e6358cc000-55e6358cd000 r-xp 00001000 fd:01 "
                                                "1234567                    /usr/bin/crashhelper\n")
                                  << 2 << "55e6358cc000-55e6358cd000 1000 r-x- /usr/bin/crashhelper";
    QTest::newRow("path with spaces, deleted")
        << QByteArray("7f00aa000000-7f00aa001000 rw-s 0000a000 00:05 42   /dev/shm/a b (deleted)\n")
        << 2 << "7f00aa000000-7f00aa001000 a000 rw-s /dev/shm/a b (deleted)";
    QTest::newRow("top of the address space")
        << QByteArray("ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0  [vsyscall]\n")
        << 2 << "ffffffffff600000-ffffffffff601000 0 --x- [vsyscall]";
    QTest::newRow("upper-case hex, large inode")
        << QByteArray("ABC000-ABD000 r--p 00000000 103:02 18446744073709551615 /x\n")
        << 2 << "abc000-abd000 0 r--- /x";
    const QByteArray several("1000-2000 r--p 00000000 08:01 11 /a\n"
                             "garbage\n"
                             "\n"
                             "3000-4000 rw-p 00001000 08:01 11 /a\n"
                             "5000-6000 rw-p 00000000 00:00 0\n"
                             "7000-8000 rw-p 00000000 00:00 0 [hea");
    QTest::newRow("broken lines skipped")
        << several << 8 << "1000-2000 0 r--- /a; 3000-4000 1000 rw-- /a; 5000-6000 0 rw-- ";
    QTest::newRow("stops at capacity") << several << 2 << "1000-2000 0 r--- /a; 3000-4000 1000 rw-- /a";
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
        QTest::newRow(row[0]) << QByteArray(row[1]) << 2 << QString();
}

void TestCrashDump::parseLine()
{
    QFETCH(QByteArray, text); // the parser ends each field in place
    QFETCH(int, capacity);
    ProcMapsRegion regions[8];
    const size_t count = ProcMaps::parse(text.data(), size_t(text.size()), regions, size_t(capacity));
    QStringList seen;
    for (size_t i = 0; i < count; ++i) {
        const ProcMapsRegion &r = regions[i];
        seen << QString::asprintf("%llx-%llx %llx %c%c%c%c %s", qulonglong(r.start),
                                  qulonglong(r.end), qulonglong(r.offset), r.readable ? 'r' : '-',
                                  r.writable ? 'w' : '-', r.executable ? 'x' : '-',
                                  r.shared ? 's' : '-', r.path);
    }
    QTEST(seen.join(QStringLiteral("; ")), "regions");
}

void TestCrashDump::formatName()
{
    // Every 7th day from 1600 to 2500 at a moving time of day, against Qt's own calendar.
    const qint64 first = QDateTime(QDate(1600, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    const qint64 last = QDateTime(QDate(2500, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    QList<QPair<qint64, QString>> cases;
    for (qint64 t = first; t < last; t += 7 * 86400 + 3671)
        cases.append({t, QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(NameFormat) + ".dmp"});
    QVERIFY(cases.size() > 40000);
    // The edges: the last day of a 400-year era, which a weekly sweep can step over, and the
    // years outside 0..9999, clamped.
    cases.append({951782400 + 13 * 3600 + 5 * 60 + 9, "2000_02_29_13_05_09.dmp"});
    cases.append({253402300799, "9999_12_31_23_59_59.dmp"});
    cases.append({253402300800 * 4, "9999_12_31_23_59_59.dmp"});
    cases.append({-62167219200 - 86400 * 400, "0000_01_01_00_00_00.dmp"});
    for (const auto &[seconds, name] : cases) {
        char out[DumpName::Length + 2];
        memset(out, 'x', sizeof(out));
        DumpName::format(seconds, out);
        if (out[DumpName::Length] != '\0' || QString::fromLatin1(out) != name)
            QFAIL(qPrintable(
                QStringLiteral("%1 gave %2").arg(seconds).arg(QString::fromLatin1(out))));
    }
}

// The zone rules are read once, at a start in January; the offsets must follow them later on.
void TestCrashDump::zoneChanges_data()
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

void TestCrashDump::zoneChanges()
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

QTEST_GUILESS_MAIN(TestCrashDump)
#include "tst_crashdump.moc"
