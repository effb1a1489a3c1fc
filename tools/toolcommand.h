#pragma once

#include <QJsonObject>
#include <QStringList>

struct WorkParam;

// The camera's work parameters as `strategy show --json` and `status --json` print them.
QJsonObject describeWorkParam(const WorkParam &p);

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
