#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

#include "offloadlock.h"
#include "offloadsession.h"
#include "qualitylook.h"

class PhotoTagStep;

// One offload from the start to its block files, driven alike by the offload page and by
// `v7tool offload`: the session, the tagging step with its photo information tables, the
// byte meter for speed and time left, "Taskconfig.xml" and the block files at the end.
// The *Now members block until done (the tool calls them directly); the request members run
// the same work on the run's own thread and answer with a signal, so that listing cards,
// writing task files and joining copy threads never hold up the GUI thread.
class OffloadRun : public QObject
{
    Q_OBJECT
public:
    struct Camera
    {
        bool takesPart = false;
        int filesDone = 0;
        int fileCount = 0;
        quint64 bytesDone = 0;  // of the files done
        quint64 bytesTotal = 0; // of every file in the list
        bool failed = false;    // the engine stopped on an error
        QString error;
        // Files passed over ("path: reason"); filesDone does not count them.
        QStringList failedFiles;
        QStringList skippedFiles; // paths too long for the engine's list, never copied
        // The same three as the offload page shows them ("path：why", in Chinese).
        QString errorShown;
        QStringList failedShown;
        QStringList skippedShown;
    };
    struct Progress
    {
        Camera cameras[Cameras::Count]; // by engine camera number
        int filesDone = 0;
        int fileCount = 0;
        quint64 bytesDone = 0;
        quint64 bytesTotal = 0;
        // Bytes of the files finished per second since the last reading (reading() only).
        double bytesPerSecond = 0;
        // From the bytes still to copy at this run's own pace (work done before a pause or an
        // earlier run does not count towards the pace); -1 while there is no pace yet.
        qint64 secondsLeft = -1;
        bool running = false;  // an engine thread still goes
        bool complete = false; // every camera that takes part has done all its files
        // Every engine has ended short of complete (files failed, or a camera stopped).
        bool halted = false;
        // Files the start found already copied and verified in the target, not copied again.
        int verifiedFound = 0;
    };

    explicit OffloadRun(QObject *parent = nullptr);
    ~OffloadRun() override; // pauses the engines and ends the run's thread

    void setStateFolder(const QString &folder) { m_session.setStateFolder(folder); }
    // How photos find their POS records at the next start: by the exposure match (the default)
    // or photo i = record i. A resume matches as its start did.
    void setMatchMethod(ExposureMatcher::Method method) { m_method = method; }
    // The camera clock minus the POS clock at the next start, when the operator gives it; a
    // start whose photos cannot tell it is refused without it. A resume keeps its start's.
    void setMatchOffset(bool given, double seconds = 0)
    {
        m_hasOffset = given;
        m_offset = seconds;
    }
    // Whether the next start or resume looks at every plain copy once it is verified (the
    // default), for the quality section of the report.
    void setLook(bool look) { m_lookWanted = look; }
    QString stateFolder() const { return m_session.stateFolder(); }
    QString configPath() const { return m_session.configPath(); }

    // Why the last start or resume did not run.
    enum class Failure { None, Refused, StateFailed, Locked };

    // One run per state folder and per target: the state folder's lock (also taken by start and
    // resume). Locked with the holder in message.
    Failure lockState(QString *message);
    Failure failure() const { return m_failure; }
    // For the operator: why the last start, resume or continue did not run (empty when the
    // session's folder refusal, pathPrompt, says it), and what the last finish left undone.
    OperatorOutcomes told() const { return m_told.isEmpty() ? m_session.refusalTold() : m_told; }
    OperatorOutcomes finishTold() const { return m_finishTold; }

    bool startNow(const OffloadSession::Setup &setup, QString *error);
    // Continues a saved offload; its photo information tables grow instead of starting anew.
    bool resumeNow(const TaskConfig &config, bool verify, QString *error);
    void pauseNow();
    bool resumePausedNow(QString *error);
    // The offload's copies are complete: closes the photo information tables, writes the block
    // files (sorties split and POS data held), the flight report and the photogrammetry
    // exports into the target, and only once they are all on the disk "Taskconfig.xml" with
    // tasksuccess "true". Returns the number of block files; problems go to messages.
    int finishNow(QStringList *messages);
    // Of the last finish, read after finished() or finishNow(): the report's HTML file (empty
    // when it could not be written) and its summary lines.
    QString reportPath() const { return m_reportPath; }
    // Every output of the last finish (block files, report, exports) is on the disk and the
    // offload recorded as complete; false leaves it to a resume to write them again.
    bool outputsWritten() const { return m_outputsWritten; }
    QString reportSummary() const { return m_reportSummary; }
    // The look at the copies, read at any time from the requester's thread while no start or
    // resume is asked for: photos handed to it and looked at so far (0, 0 without a look).
    // looking: the finish waits for it now.
    struct LookProgress
    {
        int added = 0;
        int looked = 0;
        bool looking = false;
    };
    LookProgress lookProgress() const;
    // Of the last finish: processor seconds of the look, and seconds from the copies' end to the
    // look's end (for the benchmark and `v7tool offload`).
    double lookProcessorSeconds() const { return m_look ? m_look->processorSeconds() : 0; }
    double lookCatchUpSeconds() const { return m_look ? m_look->catchUpSeconds() : 0; }
    // The look's lines of the last finish's summary (empty without a look).
    QStringList qualitySummary() const { return m_qualitySummary; }

    OffloadSession &session() { return m_session; }

    void requestStart(const OffloadSession::Setup &setup);
    void requestResume(const TaskConfig &config);
    void requestPause();
    void requestResumePaused();
    void requestFinish();
    // A request is still being worked on; progress() then repeats the last reading.
    bool busy() const { return m_pending > 0; }

    // The counters now, cheap enough for any timer on the GUI thread; no side effects.
    Progress progress() const;
    // The same, with the speed since the last reading: the one-second reading of the page
    // and the tool.
    Progress reading();
    const OffloadSession &session() const { return m_session; }
    // The match of the photos to the POS records made before the copy began (null without POS
    // data), and the same as the JSON object of `v7tool match --json`, for the flight report.
    std::shared_ptr<const ExposureMatch> match() const { return m_match; }
    QJsonObject matchJson() const;
    // The set-up with the current counts, for "Taskconfig.xml".
    TaskConfig config(bool success) const { return m_session.config(success); }
    bool saveConfig(bool success, QString *error = nullptr) const
    {
        return m_session.saveConfig(success, error);
    }

signals:
    // Answer to a start, resume or resume-after-pause request; ok false with the reason.
    void started(bool ok, const QString &error);
    void paused();
    void finished(int blockFiles, const QStringList &messages);

private:
    template <typename Work> void post(Work work);
    void makeTagger(const QList<OffloadPosSet> &pos, bool append);
    bool takeLocks(const QString &target, QString *error);
    void unlock();
    void makeMatch(const OffloadSession::Setup &setup);
    void measure(); // byte tables of every list: run-thread work
    void restartPace();
    void makeLook(); // a new look for a start or a resume, when one is wanted

    OffloadSession m_session;
    OffloadLock m_stateLock;
    OffloadLock m_targetLock;
    Failure m_failure = Failure::None;
    OperatorOutcomes m_told;
    OperatorOutcomes m_finishTold;
    std::unique_ptr<PhotoTagStep> m_tagger;
    bool m_lookWanted = true;
    std::unique_ptr<QualityLook> m_look;
    std::atomic<bool> m_looking{false};
    ExposureMatcher::Method m_method = ExposureMatcher::Method::Time;
    bool m_hasOffset = false;
    double m_offset = 0;
    std::shared_ptr<const ExposureMatch> m_match;
    QString m_tablePaths[Cameras::Count];
    QString m_reportPath;
    QString m_reportSummary;
    QStringList m_qualitySummary;
    bool m_outputsWritten = false;

    // Bytes of each camera's files up to each index; built before an answer is sent, read
    // by the requester only after it.
    std::vector<quint64> m_prefix[Cameras::Count];
    quint64 m_paceBytes = 0;
    QElapsedTimer m_paceClock;
    quint64 m_lastBytes = 0;
    QElapsedTimer m_readingClock;
    bool m_measured = false;
    mutable Progress m_last;

    int m_pending = 0; // requester's thread only
    QThread m_thread;
    QObject *m_worker = nullptr; // lives in m_thread
};
