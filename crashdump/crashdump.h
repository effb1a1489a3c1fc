#pragma once

#include <QString>

// Post-mortem images of a crashed process: the folder they go to and the fatal-signal handler
// that writes them.
namespace CrashDump {

// Creates baseFolder/subFolder (base defaults to the per-user application data folder) and
// records it, with applicationName (default: the executable's base name), for the handler.
// True when the folder exists afterwards.
bool prepareDumpFolder(const QString &applicationName, const QString &baseFolder,
                       const QString &subFolder);

// Creates a folder and its missing parents; true when it exists afterwards.
bool createDirectoryTree(const QString &path);

// The recorded dump folder and application name ("" before prepareDumpFolder succeeded).
QString dumpFolder();
QString applicationName();

// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT. A crash then writes an
// ELF core file named yyyy_MM_dd_hh_mm_ss.dmp into the dump folder and the process dies.
void installCrashHandler();

// Gives the calling thread an alternate signal stack of its own, released when the thread ends,
// so that a dump is written even when this thread overflows its stack. The thread that calls
// installCrashHandler() has one already; other threads call this first thing (the program's
// threads start through WorkerThread, which does).
void prepareCurrentThread();

} // namespace CrashDump
