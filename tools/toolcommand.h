#pragma once

#include <QJsonObject>
#include <QStringList>

struct WorkParam;

// The camera's work parameters as `strategy show --json` and `status --json` print them.
QJsonObject describeWorkParam(const WorkParam &p);

// One subcommand of v7tool. Each cmd_*.cpp registers its own with a static ToolCommand, so a
// feature adds its subcommand without touching the dispatcher. The dispatcher answers -h,
// --help and `v7tool help COMMAND` with the usage text, and takes the camera's link lock before
// a run that reaches the camera.
struct ToolCommand
{
    using Run = int (*)(const QStringList &arguments); // arguments after the subcommand name
    using NeedsCamera = bool (*)(const QStringList &arguments);

    ToolCommand(const char *name, const char *summary, const char *usage, Run run,
                NeedsCamera needsCamera = nullptr);

    const char *name;
    const char *summary;
    const char *usage; // "usage: v7tool NAME ..." and what the options and exit codes mean
    Run run;
    NeedsCamera needsCamera; // null: never
};
