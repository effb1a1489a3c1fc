#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// Helpers every test may use (their folder is on every test's include path): a file's bytes
// read and written, and a program of the build run to its end as a crew would run it.

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes bytes to path, its folder made first.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A program run to its end: its exit code (-1 when it did not start, crashed or ran out of
// time) and what it wrote to standard output and standard error.
struct ToolRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
    // Standard output as one JSON object per line, empty lines left out.
    QList<QJsonObject> jsonLines() const
    {
        QList<QJsonObject> lines;
        for (const QByteArray &line : out.split('\n')) {
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        }
        return lines;
    }
};

// env: "NAME=value" set and "NAME" removed on top of the test's own environment.
inline ToolRun runTool(const QString &program, const QStringList &arguments,
                       const QStringList &env = {}, int ms = 120000)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : env) {
        const qsizetype at = entry.indexOf(QLatin1Char('='));
        if (at < 0)
            environment.remove(entry);
        else
            environment.insert(entry.left(at), entry.mid(at + 1));
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ToolRun run;
    if (process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
