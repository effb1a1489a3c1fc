#pragma once

#include <QList>
#include <QString>

#include <memory>

#include "cameras.h"
#include "copyengine.h"
#include "exposurematcher.h"
#include "offloadpos.h"
#include "taskconfig.h"

// One offload of up to five cards: builds the engine tasks from a set-up or from a saved
// "Taskconfig.xml", starts, pauses and resumes them, and saves the set-up again. The offload
// page and the command-line tool both drive it; it has no widgets.
class OffloadSession
{
public:
    struct Setup
    {
        QString sources[Cameras::Count]; // by engine camera number; empty = not taking part
        QString target;
        QList<OffloadPosSet> pos;
        bool splitSorties = false;
        bool volumes = false;
        double volumeGb = 0; // volume size in GB (MB / 1024)
        bool password = false;
        QString passwordText;
        bool verify = true;
    };

    OffloadSession();
    ~OffloadSession();

    // Where task files and "Taskconfig.xml" go; the per-user data folder unless changed.
    void setStateFolder(const QString &folder) { m_stateFolder = folder; }
    QString stateFolder() const { return m_stateFolder; }
    QString configPath() const;

    // Write "Taskconfig.xml" (unfinished) once the tasks are set up, before any engine runs.
    void setSaveOnStart(bool save) { m_saveOnStart = save; }

    // Per-file steps beyond sortie folders (tagging, photo information table), or none.
    void setPhotoStep(const PhotoStep &step) { m_inner = step; }

    // A new offload. false with a message when a camera folder or task cannot be made; the
    // cameras started before it keep running.
    bool start(const Setup &setup, QString *error);
    // Continues the offload of a saved set-up (each camera from its task file). Cameras whose
    // task cannot be loaded are reported in error; the others run. false when none runs.
    bool resume(const TaskConfig &config, bool verify, QString *error);
    void pause();
    bool resumePaused(QString *error);

    const Setup &setup() const { return m_setup; }
    bool takesPart(int camera) const { return m_tasks[camera] != nullptr; }
    DiskTask *task(int camera) const { return m_tasks[camera].get(); }
    int filesDone() const;
    int fileCount() const;
    bool running() const;  // any engine thread still going
    bool complete() const; // every camera taking part has done all its files
    QStringList errors() const;

    // The set-up with the current counts; success is the flag to write.
    TaskConfig config(bool success) const;
    bool saveConfig(bool success) const;

    // Sortie of a record: which POS record set holds record index (1-based), 0 for none.
    int sortieOf(int recordIndex) const;

    // Which record each photo belongs to, set before start or resume; without a match photo i
    // of a camera is record i.
    void setMatch(std::shared_ptr<const ExposureMatch> match) { m_match = std::move(match); }
    int recordOf(int camera, int photoIndex) const
    {
        return m_match ? m_match->recordOf(camera, photoIndex) : photoIndex;
    }

private:
    bool createCamera(int camera, const QString &archivePath, const QString &archiveName,
                      QString *error);
    static int sortieStep(void *context, int camera, int photoIndex);
    static int tagStep(void *context, int camera, int index, const char *target,
                       const unsigned char *data, size_t size, std::vector<unsigned char> *header,
                       size_t *replaced);
    static void filedStep(void *context, int camera, int index, const char *target,
                          const unsigned char *data, size_t size);

    QString m_stateFolder;
    bool m_saveOnStart = false;
    Setup m_setup;
    PhotoStep m_inner;
    std::vector<int> m_sortieEnds; // cumulative record counts of the POS sets
    std::shared_ptr<const ExposureMatch> m_match; // read by the engine threads, set before
    std::unique_ptr<DiskTask> m_tasks[Cameras::Count];
};
