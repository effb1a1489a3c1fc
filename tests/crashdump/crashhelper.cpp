// Crashes on purpose with the crash handler installed, for tst_crashdump:
//   crashhelper <main|thread|abort|overflow> <base folder> [remove]
// The dump goes to <base folder>/dump; "remove" deletes both folders before the crash.
#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <thread>

#include "crashdump.h"

namespace {

// Opaque to the optimiser, so the write below stays a real store through a null pointer.
int *volatile g_nowhere = nullptr;
volatile int g_depth = 0;

} // namespace

__attribute__((noinline)) void crashHereOnPurpose()
{
    *g_nowhere = 42;
}

__attribute__((noinline)) int recurseWithoutEnd(int level)
{
    volatile char frame[512];
    frame[level % sizeof(frame)] = char(level);
    g_depth = level;
    return recurseWithoutEnd(level + 1) + frame[0];
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        fprintf(stderr, "usage: crashhelper <main|thread|abort|overflow> <base folder> [remove]\n");
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
    }
    fprintf(stderr, "still alive after mode %s\n", mode);
    return 3;
}
