#pragma once

#include <QList>
#include <QString>

#include "cameras.h"
#include "offloadpos.h"

class QIODevice;

// "Taskconfig.xml": the whole offload as it was set up, so that it can be resumed later.
struct TaskConfig
{
    struct Camera
    {
        QString path;      // source folder; empty when the camera takes no part
        int planCount = 0; // files in the source folder
        int hasCount = 0;  // files done
        QString zipPath;
        QString zipName;
    };

    Camera cameras[Cameras::Count]; // by engine camera number
    QString savePath;
    QList<OffloadPosSet> pos;
    bool splitSorties = false;
    bool volumes = false;
    QString volumeValue; // the size text as the operator entered it
    QString volumeUnit = QStringLiteral("GB"); // of volumeValue: "GB" or "MB"
    bool password = false;
    QString passwordValue;
    bool success = true;

    // <per-user data folder>/Taskconfig.xml
    static QString defaultPath();
    // Replaces the file whole (temporary file, sync, rename): a failed write leaves the last
    // file as it was; error says why.
    static bool write(const QString &path, const TaskConfig &config, QString *error = nullptr);
    // false (config untouched) for a missing or unreadable file, bad XML or a root not "config".
    static bool read(const QString &path, TaskConfig *config);
    static QByteArray toXml(const TaskConfig &config);
    // The same text into device as it is made.
    static void writeXml(QIODevice *device, const TaskConfig &config);
    // A double as its shortest text that reads back to the same value.
    static QString numberText(double value);
    // The volume size the text and its unit give, in GB.
    double volumeGb() const;
    static bool fromXml(const QByteArray &text, TaskConfig *config);
    // Why the text cannot be resumed from (not XML, a missing element ...), empty when it can.
    static QString problem(const QByteArray &text);
    // The file holds an unfinished offload: its last element's flag is "false".
    static bool resumePending(const QString &path);
    // The rule for the flag written at close: nothing started or everything done.
    static bool successFlag(int plannedTotal, int progress)
    {
        return progress == 0 || progress == plannedTotal;
    }
};
