// v7tool: the program's command-line tool, for scripted checks and field work without the window.
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "openfiles.h"
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
    return out == stderr ? 2 : 0;
}
} // namespace

ToolCommand::ToolCommand(const char *name, const char *summary, Run run)
    : name(name)
    , summary(summary)
    , run(run)
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
    for (const ToolCommand *command : registry()) {
        if (name == QLatin1String(command->name))
            return command->run(arguments);
    }
    std::fprintf(stderr, "v7tool: unknown command '%s'\n", qPrintable(name));
    return usage();
}
