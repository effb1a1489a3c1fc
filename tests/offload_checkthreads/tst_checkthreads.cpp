// The one-shot space threads: folder size, free space of the target, the five cards.
#include <QtTest>

#include "caltulatethread.h"
#include "checksavethread.h"
#include "checkv7thread.h"
#include "testtools.h"

namespace {

void makeFile(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));
}

// Free bytes of the volume as `stat -f` reports them (all free blocks, not the user's share).
qint64 statFreeBytes(const QString &path)
{
    const ToolRun stat = runTool(QStringLiteral("stat"), {"-f", "-c", "%f %S", path});
    const QList<QByteArray> parts = stat.out.trimmed().split(' ');
    return parts.size() == 2 ? parts[0].toLongLong() * parts[1].toLongLong() : -1;
}

} // namespace

class TestCheckThreads : public QObject
{
    Q_OBJECT
private slots:
    void folderSize_data();
    void folderSize();
    void sharedTotal();
    void freeSpaceAndCards();
};

void TestCheckThreads::folderSize_data()
{
    QTest::addColumn<QList<qint64>>("topSizes");
    QTest::addColumn<qint64>("subFolderSize");
    QTest::addColumn<qint64>("mib");
    QTest::newRow("just under 1 MiB") << QList<qint64>{1048575} << qint64(0) << qint64(0);
    QTest::newRow("two halves make 1") << QList<qint64>{524288, 524288} << qint64(0) << qint64(1);
    QTest::newRow("sub-folder not counted")
        << QList<qint64>{3 * 1048576 + 5} << qint64(8 * 1048576) << qint64(3);
    QTest::newRow("empty folder") << QList<qint64>{} << qint64(0) << qint64(0);
}

void TestCheckThreads::folderSize()
{
    QFETCH(QList<qint64>, topSizes);
    QFETCH(qint64, subFolderSize);
    QFETCH(qint64, mib);
    QTemporaryDir dir;
    for (int i = 0; i < topSizes.size(); ++i)
        makeFile(dir.filePath(QStringLiteral("f%1.JPG").arg(i)), topSizes[i]);
    makeFile(dir.filePath(QStringLiteral(".hidden")), 5 * 1048576);
    if (subFolderSize)
        makeFile(dir.filePath(QStringLiteral("sub/big.JPG")), subFolderSize);
    QCOMPARE(CaltulateThread::folderSizeMiB(dir.path()), mib);
}

void TestCheckThreads::sharedTotal()
{
    QTemporaryDir dir;
    makeFile(dir.filePath(QStringLiteral("a/one.bin")), 2 * 1048576);
    makeFile(dir.filePath(QStringLiteral("b/one.bin")), 3 * 1048576);
    FolderSizeTotal total;
    total.add(1);
    QList<CaltulateThread *> threads;
    // Five folders at once, two of them twice, one that does not exist.
    for (const char *folder : {"a", "b", "a", "b", "missing"})
        threads << new CaltulateThread(dir.filePath(QLatin1String(folder)), &total, this);
    for (CaltulateThread *thread : threads)
        thread->start();
    for (CaltulateThread *thread : threads)
        QVERIFY(thread->wait(30000));
    QCOMPARE(total.value(), qint64(1 + 2 + 3 + 2 + 3));
    qDeleteAll(threads);
}

void TestCheckThreads::freeSpaceAndCards()
{
    QTemporaryDir dir;
    CheckSaveThread thread(dir.path());
    QSignalSpy spy(&thread, &CheckSaveThread::freeSpace);
    thread.start();
    QVERIFY(thread.wait(30000));
    QCOMPARE(spy.count(), 1);
    const qint64 expected = statFreeBytes(dir.path()) / 1048576;
    // Other writers on the same disk may move the figure a little between the two readings.
    QVERIFY2(qAbs(thread.freeMiB() - expected) <= 64,
             qPrintable(QStringLiteral("%1 vs %2").arg(thread.freeMiB()).arg(expected)));
    QCOMPARE(spy.at(0).at(0).toLongLong(), thread.freeMiB());

    CheckSaveThread missing(dir.filePath(QStringLiteral("not/there")));
    missing.start();
    QVERIFY(missing.wait(30000));
    QCOMPARE(missing.freeMiB(), qint64(0));
    QVERIFY(CheckSaveThread::diskSpaceGiB(dir.path(), true) >=
            CheckSaveThread::diskSpaceGiB(dir.path(), false));

    // No card, one card and a card whose folder has gone are the main window's test (cardCheck);
    // here five cards, each measured, and the refresh told before the restore page goes on.
    CheckV7Thread cards(QStringList(5, dir.path()));
    QStringList order;
    QList<QPair<double, double>> figures(5, {-1, -1});
    connect(
        &cards, &CheckV7Thread::cardStorage, this,
        [&](int position, double freeGiB, double totalGiB) {
            figures[position] = {freeGiB, totalGiB};
        },
        Qt::DirectConnection);
    auto note = [&order](const char *what) { return [&order, what] { order << what; }; };
    connect(&cards, &CheckV7Thread::storageRefresh, this, note("refresh"), Qt::DirectConnection);
    connect(&cards, &CheckV7Thread::upgrade, this, note("upgrade"), Qt::DirectConnection);
    connect(&cards, &CheckV7Thread::popui, this, note("popui"), Qt::DirectConnection);
    cards.start();
    QVERIFY(cards.wait(30000));
    QCOMPARE(order, QStringList({"refresh", "upgrade"}));
    for (const auto &f : figures)
        QVERIFY(f.second > 0 && f.first >= 0 && f.first <= f.second);
}

QTEST_GUILESS_MAIN(TestCheckThreads)
#include "tst_checkthreads.moc"
