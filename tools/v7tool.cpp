// v7tool: the program's command-line tool, for scripted checks and field work without the window.
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <vector>

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
