#include "crashdump.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include "corearch.h"
#include "datafolders.h"
#include "dumpname.h"
#include "elfcorewriter.h"
#include "signalsafeio.h"

namespace CrashDump {

namespace {

constexpr int FatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// Paths are encoded at start-up; the handler only appends the file name.
char g_parentFolder[PATH_MAX];
char g_folder[PATH_MAX];
char g_path[PATH_MAX + DumpName::Length + 2];
size_t g_nameOffset = 0;

// The alternate stack of the thread that installs the handler (the main thread). Other threads
// start without one (sigaltstack is per thread) and run the handler on their own stack, which
// serves every fault but their own stack overflow, unless they call prepareCurrentThread().
alignas(16) char g_alternateStack[256 * 1024];

// The thread writing the dump. A second faulting thread waits for the process to end; a fault
// inside the handler itself ends the process at once.
std::atomic<pid_t> g_dumpingThread{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

void report(const char *text)
{
    SignalSafeIo::writeAll(STDERR_FILENO, text, strlen(text));
}

pid_t currentThread()
{
    return pid_t(syscall(SYS_gettid));
}

// The folders may have gone since start-up, or never have been made: one level each.
void createFolders()
{
    if (g_parentFolder[0] != '\0')
        mkdir(g_parentFolder, 0777);
    mkdir(g_folder, 0777);
}

void writeDump(const siginfo_t *info, const ucontext_t *context)
{
    if (!CoreArch::supported()) {
        report("no crash dump: this processor is not supported\n");
        return;
    }
    createFolders();
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    DumpName::format(int64_t(now.tv_sec) + DumpName::offsetAt(now.tv_sec), g_path + g_nameOffset);
    // Memory images hold whatever the operator had open: readable by the owner only.
    const int fd = open(g_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        report("hDumpFile == null\n");
        return;
    }
    if (!ElfCoreWriter::write(fd, info, context))
        report("crash dump incomplete\n");
    close(fd);
}

// Ends the process by the signal it got, as if no handler had been installed. A fault raised
// again on return from the handler and a signal sent by kill() or abort() alike: the pending
// signal is delivered with the default action as soon as the handler returns.
void dieBy(int signal)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    syscall(SYS_tgkill, getpid(), currentThread(), signal);
}

void onFatalSignal(int signal, siginfo_t *info, void *context)
{
    const int savedErrno = errno;
    const pid_t self = currentThread();
    pid_t owner = 0;
    if (!g_dumpingThread.compare_exchange_strong(owner, self)) {
        if (owner == self) {
            dieBy(signal);
            return;
        }
        for (;;)
            pause();
    }
    writeDump(info, static_cast<const ucontext_t *>(context));
    errno = savedErrno;
    dieBy(signal);
}

bool hasAlternateStack()
{
    stack_t current = {};
    return sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE);
}

void installAlternateStack()
{
    if (hasAlternateStack())
        return;
    stack_t stack = {};
    stack.ss_sp = g_alternateStack;
    stack.ss_size = sizeof(g_alternateStack);
    if (sigaltstack(&stack, nullptr) != 0)
        qWarning() << "crash handler: no alternate signal stack:" << strerror(errno);
}

// A worker thread's alternate signal stack, mapped on demand and given back at thread exit.
class ThreadAlternateStack
{
public:
    ThreadAlternateStack()
    {
        void *memory = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                            -1, 0);
        if (memory == MAP_FAILED)
            return;
        stack_t stack = {};
        stack.ss_sp = memory;
        stack.ss_size = Size;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(memory, Size);
            return;
        }
        m_memory = memory;
    }
    ~ThreadAlternateStack()
    {
        if (!m_memory)
            return;
        stack_t off = {};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(m_memory, Size);
    }
    ThreadAlternateStack(const ThreadAlternateStack &) = delete;
    ThreadAlternateStack &operator=(const ThreadAlternateStack &) = delete;

private:
    static constexpr size_t Size = 256 * 1024;
    void *m_memory = nullptr;
};

bool copyPath(const QString &path, char *out, size_t capacity)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (size_t(encoded.size()) >= capacity)
        return false;
    memcpy(out, encoded.constData(), size_t(encoded.size()) + 1);
    return true;
}

} // namespace

void installCrashHandler()
{
    // When start-up could not make the folder, a crash still tries the per-user one.
    QString folder = dumpFolder();
    if (folder.isEmpty())
        folder = DataFolders::dumpFolder();
    folder = QDir::cleanPath(folder);
    const QString parent = QFileInfo(folder).path();
    if (!copyPath(folder, g_folder, sizeof(g_folder))
        || !copyPath(parent == folder ? QString() : parent, g_parentFolder, sizeof(g_parentFolder))
        || !copyPath(folder + QLatin1Char('/'), g_path, sizeof(g_path) - DumpName::Length - 1)) {
        qWarning() << "crash handler: dump folder path too long:" << folder;
        return;
    }
    g_nameOffset = strlen(g_path);

    DumpName::prepareZone(int64_t(time(nullptr)));
    ElfCoreWriter::prepare();
    installAlternateStack();

    struct sigaction action = {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : FatalSignals) {
        if (sigaction(signal, &action, nullptr) != 0)
            qWarning() << "crash handler: cannot handle signal" << signal << strerror(errno);
    }
}

void prepareCurrentThread()
{
    if (hasAlternateStack())
        return;
    thread_local ThreadAlternateStack stack;
}

} // namespace CrashDump
