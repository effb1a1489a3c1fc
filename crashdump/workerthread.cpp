#include "workerthread.h"

#include <QThread>

#include <pthread.h>

#include <cstring>

#include "crashdump.h"

namespace WorkerThread {

void prepare(const char *name)
{
    char cut[16] = {};
    std::strncpy(cut, name, sizeof cut - 1);
    ::pthread_setname_np(::pthread_self(), cut);
    CrashDump::prepareCurrentThread();
}

QThread *create(const char *name, std::function<void()> fn)
{
    return QThread::create([name, fn = std::move(fn)] {
        prepare(name);
        fn();
    });
}

} // namespace WorkerThread
