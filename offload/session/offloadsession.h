#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

#include "cameras.h"
#include "copyengine.h"
#include "exposurematcher.h"
#include "offloadpos.h"
#include "offloadset.h"
#include "operatortexts.h"
#include "taskconfig.h"

namespace TargetCheck {
class Audit;
}
class QualityLook;

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
        // The size as the operator gave it, kept in "Taskconfig.xml" as it was entered; empty
        // to write volumeGb.
        QString volumeText;
        QString volumeUnit = QStringLiteral("GB");
        bool password = false;
        QString passwordText;
        bool verify = true;
        // How photos find their POS records; kept in the set file, so that a resume tags the
        // rest of the photos the way the start tagged the first.
        ExposureMatcher::Method match = ExposureMatcher::Method::Time;
        // The clock offset the operator gave when the photos could not tell it; kept beside
        // the method for the same reason.
        bool hasOffset = false;
        double offsetSeconds = 0;
        // Every copy named with its camera first ("Center_DSC00001.JPG"), unique within the
        // camera, so that photogrammetry programs reading file names tell the five apart.
        bool cameraPrefix = false;
    };

    // Why the last start or resume did not run.
    enum class Status {
        Ok,
        Refused,     // bad input: no target, a missing or different card, a folder not listable
        StateFailed, // the task state could not be saved: nothing was started
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
    // Where each plain copy goes once it is verified, to be looked at; null for none. Set
    // before start or resume.
    void setLook(QualityLook *look) { m_look = look; }

    // A new offload: the task files, the set file that binds them and (with save on start)
    // "Taskconfig.xml" are all written before any engine starts. false with a message when
    // any of them cannot be made; then nothing runs.
    bool start(const Setup &setup, QString *error);
    // Of the last start: the files whose copies the target already held (an earlier run of the
    // same offload, finished or not), verified against the card and counted done, not copied.
    int verifiedFound() const;
    // Continues the offload of a saved set-up. What is done is taken from the target (the task
    // files, when the set file binds them to this offload, only save work); each card is found
    // by its identity, a different card is refused. false with a message when anything is
    // refused or cannot be saved; then nothing runs.
    bool resume(const TaskConfig &config, bool verify, QString *error);
    // Where a card of the offload to resume is now (its photo folder or mount root), checked
    // against the card's identity; empty to look for it.
    void setGivenCard(int camera, const QString &folder) { m_given[camera] = folder; }
    Status status() const { return m_status; }
    // The folders weighed against each other (target apart from every card, no folder for two
    // cameras, not on a card's own volume): false with the reason when refused. The start and
    // the resume ask it themselves; a caller about to make the target asks first.
    bool checkPaths(const Setup &setup, QString *error);
    // Of the last refusal by checkPaths: the offload page's sentence and the paths concerned,
    // one a line; empty when the folders were accepted.
    QString pathPrompt() const { return m_pathPrompt; }
    QString refusedPaths() const { return m_refusedPaths; }
    // What the last resume found and did about it (damaged files kept aside, moved cards ...).
    QStringList notes() const { return m_notes; }
    // The same two for the operator: why the last start, resume or continue did not run (empty
    // when the folders' refusal, pathPrompt, says it), and what the last resume found.
    OperatorOutcomes refusalTold() const { return m_refusalTold; }
    OperatorOutcomes notesTold() const { return m_notesTold; }
    QString setPath() const;
    void pause();
    bool resumePaused(QString *error);

    const Setup &setup() const { return m_setup; }
    bool takesPart(int camera) const { return m_tasks[camera] != nullptr; }
    DiskTask *task(int camera) const { return m_tasks[camera].get(); }
    int filesDone() const;
    int fileCount() const;
    bool running() const;  // any engine thread still going
    // every camera taking part has copied all its files (none failed; skipped ones aside)
    bool complete() const;
    QStringList errors() const;
    // "Center: failed: <path>: <reason>" and "Center: skipped: <path>: <reason>" per file.
    QStringList fileProblemLines() const;

    // The set-up with the current counts; success is the flag to write.
    TaskConfig config(bool success) const;
    bool saveConfig(bool success, QString *error = nullptr) const;

    // The camera's copies named otherwise than on the card: card path -> copy path, both
    // relative (below the card folder, and below the camera or sortie folder).
    QHash<QString, QString> renamedCopies(int camera) const;

    // Sortie of a record: which POS record set holds record index (1-based), 0 for none.
    int sortieOf(int recordIndex) const;

    // Which record each photo belongs to, set before start or resume; without a match photo i
    // of a camera is record i.
    void setMatch(std::shared_ptr<const ExposureMatch> match) { m_match = std::move(match); }
    // A resume finds its cards (perhaps at new mount points) before it knows where to read the
    // photo headers from: it asks this for the match then, before any engine starts.
    using MatchMaker = std::function<std::shared_ptr<const ExposureMatch>(const Setup &)>;
    void setMatchMaker(MatchMaker make) { m_makeMatch = std::move(make); }
    int recordOf(int camera, int photoIndex) const
    {
        return m_match ? m_match->recordOf(camera, photoIndex) : photoIndex;
    }

private:
    static std::vector<int> sortieEnds(const QList<OffloadPosSet> &sets);
    bool saveSet(const QString &id, const QByteArray &startConfig, QString *error) const;
    void dropTasks();
    bool resumeCamera(int camera, const TaskConfig &config, const OffloadSet &set, bool bound,
                      QString *error);
    bool createCamera(int camera, const QString &archivePath, const QString &archiveName,
                      QString *error);
    // A start's check of the copies already in the target, every camera at once; the failures.
    QStringList takeVerified();
    // Gives the camera's copies their names once its list is loaded: the saved ones, else
    // decided from the list and the target's case behaviour (m_foldsCase).
    void nameCopies(int camera, const OffloadSet::Card *saved);
    static int sortieStep(void *context, int camera, int photoIndex);
    static int tagStep(void *context, int camera, int index, const char *target,
                       const unsigned char *data, size_t size, std::vector<unsigned char> *header,
                       size_t *replaced);
    static void filedStep(void *context, int camera, int index, const char *target,
                          const unsigned char *data, size_t size);
    void filed(int camera, int index, const char *target, const unsigned char *data,
               size_t size) const;

    QString m_stateFolder;
    QString m_given[Cameras::Count];
    Status m_status = Status::Ok;
    QString m_pathPrompt;
    QString m_refusedPaths;
    QStringList m_notes;
    OperatorOutcomes m_refusalTold;
    OperatorOutcomes m_notesTold;
    bool m_saveOnStart = false;
    Setup m_setup;
    PhotoStep m_inner;
    QualityLook *m_look = nullptr;
    std::vector<int> m_sortieEnds; // cumulative record counts of the POS sets
    bool m_foldsCase = false;      // the target takes "A" and "a" for one name
    MatchMaker m_makeMatch;
    std::shared_ptr<const ExposureMatch> m_match; // read by the engine threads, set before
    std::unique_ptr<DiskTask> m_tasks[Cameras::Count];
    int m_found[Cameras::Count] = {}; // see verifiedFound()
    // A resume's check of the copies it took on trust, beside the engine that copies the rest.
    std::unique_ptr<TargetCheck::Audit> m_audits[Cameras::Count];
};
