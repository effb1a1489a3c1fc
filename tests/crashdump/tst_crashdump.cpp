#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <cstring>

#include "crashdump.h"

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
class TestCrashDump : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void createDirectoryTree_data();
    void createDirectoryTree();
    void existingFolderIsKept();
    void crashWritesCore_data();
    void crashWritesCore();
    void crashWithoutFolderWritesNoDump();
    void crashInSameSecondReplacesFile();
    void applicationRunsOnWithoutDumpFolder();

private:
    Run runHelper(const QStringList &arguments, const QByteArray &stateDir = QByteArray());
    QStringList dumps(const QString &folder) const;
    QString gdbOutput(const QString &dump, const QString &backtrace);

    QTemporaryDir m_temp;
    QString m_file; // a regular file: nothing can be created below it, not even by root
    QString m_gdb;
};

void TestCrashDump::initTestCase()
{
    QVERIFY(m_temp.isValid());
    m_file = m_temp.filePath(QStringLiteral("plainfile"));
    QFile file(m_file);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a folder");
    file.close();
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

QStringList TestCrashDump::dumps(const QString &folder) const
{
    return QDir(folder).entryList({QStringLiteral("*.dmp")}, QDir::Files, QDir::Name);
}

QString TestCrashDump::gdbOutput(const QString &dump, const QString &backtrace)
{
    QProcess gdb;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DEBUGINFOD_URLS"), QString());
    gdb.setProcessEnvironment(env);
    gdb.setProcessChannelMode(QProcess::MergedChannels);
    gdb.start(m_gdb, {"-batch", "-nx", "-iex", "set debuginfod enabled off", "-ex", backtrace,
                      "-ex", "info proc mappings", CRASHHELPER_PATH, dump});
    if (!gdb.waitForStarted() || !gdb.waitForFinished(300000))
        return QString();
    return QString::fromLocal8Bit(gdb.readAll());
}

void TestCrashDump::createDirectoryTree_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("belowFile");
    QTest::addColumn<bool>("created");
    QTest::newRow("three levels") << "a/b/c" << false << true;
    QTest::newRow("trailing slash") << "d/e/" << false << true;
    QTest::newRow("deep below a regular file") << "x/y/z" << true << false;
}

void TestCrashDump::createDirectoryTree()
{
    QFETCH(QString, relative);
    QFETCH(bool, belowFile);
    QFETCH(bool, created);
    const QString base = belowFile ? m_file : m_temp.filePath(QStringLiteral("tree"));
    const QString path = base + QLatin1Char('/') + relative;
    QCOMPARE(CrashDump::createDirectoryTree(path), created);
    QCOMPARE(QFileInfo(path).isDir(), created);
    QVERIFY(QFileInfo(m_file).isFile());

    // The same through prepareDumpFolder: a folder it cannot make is not recorded.
    const QString before = CrashDump::dumpFolder();
    QCOMPARE(CrashDump::prepareDumpFolder(QStringLiteral("V7Assistant"), base + QStringLiteral("/p"),
                                          relative),
             created);
    if (created)
        QCOMPARE(CrashDump::dumpFolder(), QDir::cleanPath(base + QStringLiteral("/p/") + relative));
    else
        QCOMPARE(CrashDump::dumpFolder(), before);
}

void TestCrashDump::existingFolderIsKept()
{
    const QString base = m_temp.filePath(QStringLiteral("existing"));
    QVERIFY(QDir().mkpath(base + QStringLiteral("/dump")));
    QFile old(base + QStringLiteral("/dump/2018_05_10_14_03_22.dmp"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier crash");
    old.close();

    QVERIFY(CrashDump::prepareDumpFolder(QString(), base, QStringLiteral("dump")));
    QCOMPARE(CrashDump::dumpFolder(), base + QStringLiteral("/dump"));
    QCOMPARE(CrashDump::applicationName(), QStringLiteral("tst_crashdump"));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("earlier crash"));
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
    const QString earliest = zoneNow();
    const QStringList words = mode.split(QLatin1Char(' '));
    const Run run = runHelper(QStringList{words[0], base} + words.mid(1));
    const QString latest = zoneNow();
    QCOMPARE(run.status, QProcess::CrashExit);
    QCOMPARE(run.code, signal);

    const QStringList names = dumps(base + QStringLiteral("/dump"));
    QCOMPARE(names.size(), 1);
    const QString name = names.first();
    QVERIFY2(QRegularExpression(DumpPattern).match(name).hasMatch(), qPrintable(name));
    QVERIFY2(name >= earliest && name <= latest,
             qPrintable(QStringLiteral("%1 not within %2 .. %3").arg(name, earliest, latest)));

    const QString dump = base + QStringLiteral("/dump/") + name;
    QFile file(dump);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // 64-bit little-endian ELF, type core (4), machine x86_64 (62).
    const QByteArray header = file.read(20);
    QCOMPARE(header.left(6), QByteArray("\x7f" "ELF\x02\x01"));
    QCOMPARE(header.mid(16, 4), QByteArray("\x04\x00\x3e\x00", 4));
    // Every segment is complete and nothing follows the last one.
    QCOMPARE(endOfSegments(file), file.size());

    if (m_gdb.isEmpty())
        QSKIP("gdb is not installed: the dump cannot be opened");
    const QString output = gdbOutput(dump, backtrace);
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
    QVERIFY2(stack.join(QLatin1Char('\n')).contains(frameCall), qPrintable(output));
    const QRegularExpression mainCall(QStringLiteral("^#\\d+ +(0x[0-9a-f]+ in )?main \\("));
    bool mainSeen = false;
    for (const QString &line : stack)
        mainSeen = mainSeen || mainCall.match(line).hasMatch();
    QCOMPARE(mainSeen, mainOnStack);
    // The mapped-file note: gdb lists the program among the mappings.
    QVERIFY2(output.contains(QFileInfo(QStringLiteral(CRASHHELPER_PATH)).canonicalFilePath()),
             qPrintable(output));
    // Sanitizer builds dump hundreds of megabytes of shadow memory.
    QVERIFY(QDir(base).removeRecursively());
}

void TestCrashDump::crashWithoutFolderWritesNoDump()
{
    // Neither the given folder nor the per-user one can be made.
    const QString base = m_file + QStringLiteral("/V7Assistant");
    const Run run = runHelper({QStringLiteral("main"), base},
                              QFile::encodeName(m_file + QStringLiteral("/state")));
    QCOMPARE(run.status, QProcess::CrashExit);
    QCOMPARE(run.code, SIGSEGV);
    QVERIFY2(run.errors.contains("Create Dump Dir Failed\n"), run.errors.constData());
    QVERIFY2(run.errors.contains("hDumpFile == null\n"), run.errors.constData());
    QVERIFY(QFileInfo(m_file).isFile());
}

void TestCrashDump::crashInSameSecondReplacesFile()
{
    // Every name the crash can take over the next minutes already exists, as if an earlier
    // crash had written it in the same second.
    const QString base = m_temp.filePath(QStringLiteral("same-second"));
    const QString folder = base + QStringLiteral("/dump");
    QVERIFY(QDir().mkpath(folder));
    // Each is longer than any dump (sparse, so it takes no disk space).
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(HelperOffset - 2);
    for (int i = 0; i < 300; ++i) {
        QFile old(folder + QLatin1Char('/') + start.addSecs(i).toString(NameFormat)
                  + QStringLiteral(".dmp"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier crash");
        QVERIFY(old.resize(qint64(4) << 30));
    }
    const Run run = runHelper({QStringLiteral("main"), base});
    QCOMPARE(run.status, QProcess::CrashExit);

    const QStringList names = dumps(folder);
    QCOMPARE(names.size(), 300);
    int replaced = 0;
    for (const QString &name : names) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        if (file.read(4) == QByteArray("\x7f" "ELF")) {
            ++replaced;
            // Replaced, not overwritten in place: nothing of the longer old file is left.
            QCOMPARE(endOfSegments(file), file.size());
        }
    }
    QCOMPARE(replaced, 1);
}

void TestCrashDump::applicationRunsOnWithoutDumpFolder()
{
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

QTEST_GUILESS_MAIN(TestCrashDump)
#include "tst_crashdump.moc"
