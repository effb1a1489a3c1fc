#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "cameras.h"
#include "offloadrun.h"
#include "offloadsession.h"
#include "taskconfig.h"

struct MyExcelObject;

// What the offload page holds and shows, without its widgets: the cameras that take part with
// their folders and counts, the POS tables, the options, the lines of the text area, and how a
// reading of the run becomes lines, bar, speed and time left. Kept apart from the page so that
// its rules are tested directly.
class OffloadPlan
{
public:
    // The camera icons stand in this order: centre, front, right, left, back.
    static constexpr int IconOrder[Cameras::Count] = {0, 3, 2, 1, 4};

    struct Reading
    {
        QString text;
        int value = 0;
        int maximum = 0;
        QString speed;    // "%1M/s"
        QString timeLeft; // for the whole offload
        bool complete = false;
        bool halted = false; // every engine ended short of complete: the page stops reading
    };

    // Camera selection: a folder with the number of files the engine will copy from it.
    void select(int camera, const QString &folder, int files);
    void deselect(int camera);
    bool selected(int camera) const { return !m_sources[camera].isEmpty(); }
    QString source(int camera) const { return m_sources[camera]; }
    int fileCount(int camera) const { return m_counts[camera]; }
    int doneCount(int camera) const { return m_done[camera]; }
    // Any camera has a source folder: the offload counts as set up.
    bool isSetUp() const;
    int plannedTotal() const { return m_plannedTotal; }
    int doneTotal() const;

    // POS tables: "正在读取<path>" while the reader works, then the count line.
    void posReading(const QString &path);
    bool holdsPos(const QString &path) const;
    // Takes a record set read from a table; false (nothing added, reading line gone) for a
    // table without records. A refused table keeps its line, with the reason.
    bool posRead(const MyExcelObject &object);
    // The strict reader refused the table at path: it stays listed, with why, and holds up the
    // start until the POS choice is cancelled or the table is read again.
    void posRefused(const QString &path, const QString &message);
    QString posRefusal(const QString &path) const { return m_refused.value(path); }
    // The first refusal that holds up the start, empty when none.
    QString posRefusal() const;
    // A table is still being read.
    bool posPending() const;
    void posAbandoned(const QString &path);
    void cancelPos();
    QStringList posPaths() const;
    const QList<OffloadPosSet> &pos() const { return m_pos; }

    // Options as the check boxes and hidden fields hold them.
    bool splitSorties = false;
    bool volumes = false;
    bool password = false;
    QString volumeText;
    QString unit = QStringLiteral("GB");
    QString passwordText;

    QString target;
    QString backup; // the second target, empty for none
    // Set by a resume from "Taskconfig.xml", cleared when the completed offload is saved.
    bool resumed = false;

    QString text() const; // the text area's lines, each ending in a line break
    OffloadSession::Setup setup() const;

    // One progress reading: the cameras' lines in icon order, a camera that stopped on an error
    // with that error, the bar, speed and time left; the done counts follow the reading.
    Reading read(const OffloadRun::Progress &progress);
    static QString speedText(double bytesPerSecond);
    // A line per file of the camera that failed (with the reason) or was skipped.
    static QString problemLines(const OffloadRun::Camera &camera);
    static QString timeLeftText(qint64 seconds);

    // A saved offload to resume: folders, counts, POS data and options.
    void adopt(const TaskConfig &config);
    // "Taskconfig.xml" for now: the page's set-up and counts, the archive fields of the engine
    // (engine may be empty), and the flag by the rule of the close: nothing started or all done.
    TaskConfig taskConfig(const TaskConfig &engine) const;

    void reset();

private:
    struct Line
    {
        int camera = -1; // or a POS line
        QString posPath;
        QString text;
    };
    void removeLines(int camera, const QString &posPath);

    QString m_sources[Cameras::Count];
    int m_counts[Cameras::Count] = {};
    int m_done[Cameras::Count] = {};
    int m_plannedTotal = 0;
    QList<Line> m_lines;
    QStringList m_posPaths;
    QList<OffloadPosSet> m_pos;
    QMap<QString, QString> m_refused; // path -> the reader's message
};
