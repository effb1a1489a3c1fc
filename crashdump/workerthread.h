#pragma once

#include <functional>
#include <thread>
#include <utility>

class QThread;

// Every thread the program starts begins here: a name that shows in a dump and in `top -H`,
// and an alternate signal stack of its own, so that a crash on it, a stack overflow included,
// still writes a dump.
namespace WorkerThread {

// The calling thread; the first thing a thread does (a QThread's run(), a worker moved onto a
// thread when it starts). Names are cut to the 15 bytes the kernel keeps.
void prepare(const char *name);

// A running std::thread that prepares itself, then runs fn.
template <typename Fn>
std::thread start(const char *name, Fn &&fn)
{
    return std::thread([name, fn = std::forward<Fn>(fn)]() mutable {
        prepare(name);
        fn();
    });
}

// The same as a QThread, not yet started, for work that reports through its finished signal.
QThread *create(const char *name, std::function<void()> fn);

} // namespace WorkerThread
