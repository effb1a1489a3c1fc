// Crashes on purpose with the crash handler installed, for tst_crashdump:
//   crashhelper <mode> <base folder> [remove]
// Modes: main, thread (a null write on the main thread or a worker), abort, overflow,
// threadoverflow (the main thread's or a worker's stack), bus, ill, fpe.
// The dump goes to <base folder>/dump; "remove" deletes both folders before the crash.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#include <thread>

#include "crashdump.h"
#include "workerthread.h"

namespace {

// Opaque to the optimiser, so the write below stays a real store through a null pointer.
int *volatile g_nowhere = nullptr;
volatile int g_depth = 0;

} // namespace

__attribute__((noinline)) void crashHereOnPurpose()
{
    *g_nowhere = 42;
}

// Endless on purpose: the stack overflows and the handler must still write a dump.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int recurseWithoutEnd(int level)
{
    volatile char frame[512];
    frame[level % sizeof(frame)] = char(level);
    g_depth = level;
    return recurseWithoutEnd(level + 1) + frame[0];
}
#pragma GCC diagnostic pop

// A page of a file that has no bytes: reading it raises SIGBUS, and the dump meets a mapping
// it cannot read.
__attribute__((noinline)) int readPastEndOfFile(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/empty"));
    const int fd = open(path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    void *page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (fd < 0 || page == MAP_FAILED)
        return -1;
    return *static_cast<volatile const char *>(page);
}

__attribute__((noinline)) void trapOnPurpose()
{
    __builtin_trap();
}

__attribute__((noinline)) int divideOnPurpose()
{
    // Both unknown to the compiler, which would otherwise replace the division by a comparison.
    volatile int dividend = 7;
    volatile int zero = 0;
    return dividend / zero;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        fprintf(stderr, "usage: crashhelper <mode> <base folder> [remove]\n");
        return 2;
    }
    // Only our own dump is wanted, never the kernel's.
    const struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    const QString base = QString::fromLocal8Bit(argv[2]);
    if (!CrashDump::prepareDumpFolder(QStringLiteral("V7Assistant"), base, QStringLiteral("dump")))
        fprintf(stderr, "Create Dump Dir Failed\n");
    CrashDump::installCrashHandler();
    if (argc > 3 && strcmp(argv[3], "remove") == 0) {
        QDir().rmdir(base + QStringLiteral("/dump"));
        QDir().rmdir(base);
    }

    const char *mode = argv[1];
    if (strcmp(mode, "main") == 0) {
        crashHereOnPurpose();
    } else if (strcmp(mode, "thread") == 0) {
        std::thread worker(crashHereOnPurpose);
        worker.join();
    } else if (strcmp(mode, "abort") == 0) {
        abort();
    } else if (strcmp(mode, "overflow") == 0) {
        return recurseWithoutEnd(0);
    } else if (strcmp(mode, "threadoverflow") == 0) {
        // Without an alternate stack of its own the thread would die before any handler ran:
        // the program's threads start through WorkerThread, which gives them one.
        std::thread worker = WorkerThread::start("overflow", [] { recurseWithoutEnd(0); });
        worker.join();
    } else if (strcmp(mode, "bus") == 0) {
        return readPastEndOfFile(base);
    } else if (strcmp(mode, "ill") == 0) {
        trapOnPurpose();
    } else if (strcmp(mode, "fpe") == 0) {
        return divideOnPurpose();
    }
    fprintf(stderr, "still alive after mode %s\n", mode);
    return 3;
}
