// v7tool: the program's command-line tool, for scripted checks and field work without the window.
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "openfiles.h"
#include "linklock.h"
#include "toolcommand.h"

namespace {
std::vector<const ToolCommand *> &registry()
{
    static std::vector<const ToolCommand *> commands;
    return commands;
}

// Asked for (--help) it goes to stdout and succeeds; after a wrong call, to stderr.
int usage(std::FILE *out = stderr)
{
    std::fprintf(out, "usage: v7tool <command> [arguments]\n\ncommands:\n");
    for (const ToolCommand *command : registry())
        std::fprintf(out, "  %-10s %s\n", command->name, command->summary);
    std::fprintf(out, "  %-10s %s\n", "help", "the usage of a command (or: v7tool COMMAND --help)");
    return out == stderr ? 2 : 0;
}

const ToolCommand *find(const QString &name)
{
    for (const ToolCommand *command : registry()) {
        if (name == QLatin1String(command->name))
            return command;
    }
    return nullptr;
}

int unknown(const QString &name)
{
    std::fprintf(stderr, "v7tool: unknown command '%s'\n", qPrintable(name));
    return usage();
}

int help(const ToolCommand &command)
{
    std::fputs(command.usage, stdout);
    return 0;
}
} // namespace

ToolCommand::ToolCommand(const char *name, const char *summary, const char *usage, Run run,
                         NeedsCamera needsCamera)
    : name(name)
    , summary(summary)
    , usage(usage)
    , run(run)
    , needsCamera(needsCamera)
{
    registry().push_back(this);
}

int main(int argc, char *argv[])
{
    // A reader that goes away (`| head -1`) must not end an offload, a download or a restore
    // half-way: a write to it fails, and the command goes on. A standard stream closed at the
    // start is kept on /dev/null, so that no file opened later takes its number and the
    // messages meant for it.
    std::signal(SIGPIPE, SIG_IGN);
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) < 0)
            return 2;
    }
    OpenFiles::raiseToHardLimit();
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty())
        return usage();
    const QString name = arguments.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h"))
        return usage(stdout);
    if (name == QLatin1String("help")) {
        if (arguments.isEmpty())
            return usage(stdout);
        const ToolCommand *command = find(arguments.first());
        return command && arguments.size() == 1 ? help(*command) : unknown(arguments.join(' '));
    }
    const ToolCommand *command = find(name);
    if (!command)
        return unknown(name);
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h")))
        return help(*command);
    // The camera answers whoever asked last: a run beside the window would take its link.
    LinkLock lock;
    if (command->needsCamera && command->needsCamera(arguments) &&
        lock.acquire() == LinkLock::Held) {
        const LinkLock::Holder &holder = lock.holder();
        std::fprintf(stderr, "v7tool %s: the camera is in use by %s; disconnect it there first\n",
                     command->name,
                     holder.known() ? qPrintable(holder.describe()) : "another program");
        return 3;
    }
    return command->run(arguments);
}
