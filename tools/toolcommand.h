#pragma once

#include <QStringList>

// One subcommand of v7tool. Each cmd_*.cpp registers its own with a static ToolCommand, so a
// feature adds its subcommand without touching the dispatcher.
struct ToolCommand
{
    using Run = int (*)(const QStringList &arguments); // arguments after the subcommand name

    ToolCommand(const char *name, const char *summary, Run run);

    const char *name;
    const char *summary;
    Run run;
};
