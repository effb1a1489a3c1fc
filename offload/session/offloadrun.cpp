#include "offloadrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include <sys/stat.h>

#include "fileproblemtext.h"
#include "offloadreport.h"
#include "exposurephotos.h"
#include "faultpoints.h"
#include "phototagstep.h"
#include "plaincopy.h"
#include "sortieblocks.h"
#include "syncio.h"
#include "workerthread.h"

OffloadRun::OffloadRun(QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("offload run"));
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    // Emitted on the new thread, before any work reaches it.
    connect(&m_thread, &QThread::started, [] { WorkerThread::prepare("offload run"); });
    m_thread.start();
}

OffloadRun::~OffloadRun()
{
    m_thread.quit();
    m_thread.wait();
    m_session.pause();
}

template <typename Work> void OffloadRun::post(Work work)
{
    ++m_pending;
    QMetaObject::invokeMethod(m_worker, [this, work] {
        auto answer = work();
        QMetaObject::invokeMethod(
            this,
            [this, answer] {
                --m_pending;
                answer();
            },
            Qt::QueuedConnection);
    });
}

void OffloadRun::makeLook()
{
    m_session.pause(); // the engines hand their copies to the old look
    m_session.setLook(nullptr);
    m_look.reset();
    if (!m_lookWanted)
        return;
    m_look = std::make_unique<QualityLook>();
    m_session.setLook(m_look.get());
}

OffloadRun::LookProgress OffloadRun::lookProgress() const
{
    LookProgress p;
    if (m_look) {
        p.added = m_look->added();
        p.looked = std::min(m_look->looked(), p.added);
    }
    p.looking = m_looking.load();
    return p;
}

void OffloadRun::makeTagger(const QList<OffloadPosSet> &pos, bool append)
{
    m_session.pause(); // the old tagger's tables may still be written by engine threads
    m_tagger.reset();
    QDir().mkpath(m_session.stateFolder());
    for (int camera = 0; camera < Cameras::Count; ++camera)
        m_tablePaths[camera] = PhotoTagStep::tablePath(m_session.stateFolder(), camera);
    m_tagger = std::make_unique<PhotoTagStep>(pos, m_tablePaths, append);
    m_session.setPhotoStep(m_tagger->step());
}

OffloadRun::Failure OffloadRun::lockState(QString *message)
{
    if (m_stateLock.held())
        return Failure::None;
    QDir().mkpath(m_session.stateFolder());
    switch (m_stateLock.acquire(OffloadLock::stateLockPath(m_session.stateFolder()), message)) {
    case OffloadLock::Acquired:
        return Failure::None;
    case OffloadLock::Held:
        return Failure::Locked;
    case OffloadLock::Failed:
        break;
    }
    return Failure::StateFailed;
}

bool OffloadRun::takeLocks(const QString &target, QString *error)
{
    m_failure = lockState(error);
    if (m_failure == Failure::Locked)
        m_told = {OperatorOutcome(OperatorOutcome::Locked, m_stateLock.holder())};
    else if (m_failure != Failure::None)
        m_told = {OperatorOutcome(OperatorOutcome::LockFailed,
                                  {OffloadLock::stateLockPath(m_session.stateFolder())})};
    if (m_failure != Failure::None)
        return false;
    const QString path = OffloadLock::targetLockPath(target);
    if (m_targetLock.held() && m_targetLock.path() == path)
        return true;
    m_targetLock.release();
    const OffloadLock::Result result = m_targetLock.acquire(path, error);
    if (result == OffloadLock::Acquired)
        return true;
    m_failure = result == OffloadLock::Held ? Failure::Locked : Failure::StateFailed;
    m_told = {result == OffloadLock::Held
                  ? OperatorOutcome(OperatorOutcome::Locked, m_targetLock.holder())
                  : OperatorOutcome(OperatorOutcome::LockFailed, {path})};
    return false;
}

void OffloadRun::unlock()
{
    m_targetLock.release();
    m_stateLock.release();
}

static OffloadRun::Failure failureOf(OffloadSession::Status status)
{
    switch (status) {
    case OffloadSession::Status::Ok:
        return OffloadRun::Failure::None;
    case OffloadSession::Status::Refused:
        return OffloadRun::Failure::Refused;
    case OffloadSession::Status::StateFailed:
        break;
    }
    return OffloadRun::Failure::StateFailed;
}

// Before any copy: each photo's record decides its position tag and its sortie folder. Only
// the photo headers are read, the cards at once.
void OffloadRun::makeMatch(const OffloadSession::Setup &setup)
{
    m_match.reset();
    if (!setup.pos.isEmpty())
        m_match = std::make_shared<const ExposureMatch>(ExposurePhotos::matchFolders(
            setup.sources, setup.pos, setup.match,
            setup.hasOffset ? &setup.offsetSeconds : nullptr));
    m_session.setMatch(m_match);
}

QJsonObject OffloadRun::matchJson() const
{
    return m_match ? ExposurePhotos::json(*m_match, m_session.setup().pos) : QJsonObject();
}

bool OffloadRun::startNow(const OffloadSession::Setup &given, QString *error)
{
    OffloadSession::Setup setup = given;
    setup.match = m_method;
    setup.hasOffset = m_hasOffset;
    setup.offsetSeconds = m_offset;
    m_measured = false;
    m_told.clear();
    m_session.pause();
    // Weighed before the target is made: a refused start leaves nothing behind.
    if (!m_session.checkPaths(setup, error)) {
        m_failure = Failure::Refused;
        return false;
    }
    // Photos tagged with the positions of other exposures look no different from right ones:
    // without a clock offset the photos can tell, nothing is copied until one is given.
    makeMatch(setup);
    if (m_match && m_match->ambiguous()) {
        m_failure = Failure::Refused;
        m_told = {OperatorOutcome(OperatorOutcome::ClockOffsetAmbiguous)};
        *error = QStringLiteral("a camera's clock offset cannot be told from its photos (evenly "
                                "spaced, a part of the POS records): give the offset");
        return false;
    }
    // The target is made by a start (not by a resume); its lock file lives in it.
    if (!setup.target.isEmpty() && !QDir().mkpath(setup.target)) {
        m_failure = Failure::Refused;
        m_told = {OperatorOutcome(OperatorOutcome::TargetUncreatable, {setup.target})};
        *error = QStringLiteral("cannot create the target folder %1").arg(setup.target);
        return false;
    }
    if (!takeLocks(setup.target, error))
        return false;
    makeTagger(setup.pos, false);
    makeLook();
    // Saved unfinished before the engines start, so that even a killed run can be resumed.
    m_session.setSaveOnStart(true);
    const bool ok = m_session.start(setup, error);
    m_failure = failureOf(m_session.status());
    if (!ok)
        unlock();
    measure();
    return ok;
}

bool OffloadRun::resumeNow(const TaskConfig &config, bool verify, QString *error)
{
    m_measured = false;
    m_told.clear();
    m_session.pause();
    if (!QFileInfo(config.savePath).isDir()) {
        // Refused by the session with its reason, before any lock file is made there.
        m_failure = Failure::Refused;
        m_session.resume(config, verify, error);
        return false;
    }
    if (!takeLocks(config.savePath, error))
        return false;
    makeTagger(config.pos, true);
    makeLook();
    m_match.reset();
    m_session.setMatch(nullptr);
    m_session.setMatchMaker([this](const OffloadSession::Setup &located) {
        makeMatch(located);
        return m_match;
    });
    const bool ok = m_session.resume(config, verify, error);
    m_failure = failureOf(m_session.status());
    if (!ok)
        unlock();
    // The copies of the runs before are looked at too: the report speaks of the whole flight.
    for (int camera = 0; ok && m_look && !m_session.setup().volumes && camera < Cameras::Count;
         ++camera) {
        DiskTask *task = m_session.task(camera);
        if (!task)
            continue;
        std::vector<FileProblem> failed, skipped;
        fileProblems(task, &failed, &skipped);
        std::vector<bool> lost(size_t(std::max(0, task->fileCount.load())));
        for (const FileProblem &f : failed) {
            if (f.index >= 0 && size_t(f.index) < lost.size())
                lost[size_t(f.index)] = true;
        }
        const std::string folder = task->record.destination;
        for (int i = 0; i < task->filesDone.load() && size_t(i) < lost.size(); ++i) {
            if (!lost[size_t(i)])
                m_look->add(camera, i, m_session.recordOf(camera, i),
                            QFile::decodeName(
                                (folder + '/' + PlainCopy::targetRelative(task, i)).c_str()));
        }
    }
    measure();
    return ok;
}

void OffloadRun::pauseNow()
{
    m_session.pause();
}

bool OffloadRun::resumePausedNow(QString *error)
{
    m_told.clear();
    const bool ok = m_session.resumePaused(error);
    m_failure = failureOf(m_session.status());
    restartPace();
    return ok;
}

int OffloadRun::finishNow(QStringList *messages)
{
    m_session.pause();
    m_finishTold.clear();
    const OffloadSession::Setup &setup = m_session.setup();
    if (m_tagger && messages)
        *messages << m_tagger->untagged();
    if (m_tagger && !m_tagger->untagged().isEmpty())
        m_finishTold << OperatorOutcome(OperatorOutcome::PhotosUntagged,
                                        {QString::number(m_tagger->untagged().size())});
    m_tagger.reset(); // close the photo information tables before they are read back
    m_session.setPhotoStep(PhotoStep());
    int blocks = 0;
    m_outputsWritten = true;
    const SortieBlocks::Layout layout =
        setup.volumes ? SortieBlocks::Layout::Volumes : SortieBlocks::Layout::SortieFolders;
    if (setup.splitSorties && !setup.pos.isEmpty() && !m_match) {
        blocks = SortieBlocks::write(setup.target, setup.pos, m_tablePaths, messages, {}, layout);
        m_outputsWritten = blocks == int(setup.pos.size());
    } else if (setup.splitSorties && !setup.pos.isEmpty()) {
        QHash<QString, int> records[Cameras::Count]; // by the copy's path below its folder
        for (int camera = 0; camera < Cameras::Count; ++camera) {
            const ExposureMatch::Camera &c = m_match->cameras[camera];
            const QHash<QString, QString> copies = m_session.renamedCopies(camera);
            for (int j = 0; j < c.photos.size(); ++j)
                records[camera].insert(copies.value(c.photos.at(j), c.photos.at(j)),
                                       c.recordOf[size_t(j)]);
        }
        const std::shared_ptr<const ExposureMatch> match = m_match;
        blocks = SortieBlocks::write(
            setup.target, setup.pos, m_tablePaths, messages,
            [&records, match](int camera, int sortie, const QString &relative) {
                const int record = records[camera].value(relative, -1);
                return match->setOf(record) == sortie - 1 ? match->indexInSet(record) : -1;
            },
            layout);
        m_outputsWritten = blocks == int(setup.pos.size());
    }
    if (setup.splitSorties && !setup.pos.isEmpty() && blocks < int(setup.pos.size()))
        m_finishTold << OperatorOutcome(OperatorOutcome::BlocksNotWritten,
                                        {QString::number(blocks), QString::number(setup.pos.size())});
    FaultPoints::finishing("blocks");
    // The look catches up with the copies now that the cards are read; the report waits for it.
    std::optional<QualityFindings> quality;
    m_qualitySummary.clear();
    if (m_look && !setup.volumes) {
        m_looking = true;
        quality = m_look->finish(setup.target);
        m_looking = false;
        m_qualitySummary = quality->summaryLines();
    }
    const OffloadReport::Written report =
        OffloadReport::write(m_session, matchJson(), messages, quality ? &*quality : nullptr);
    m_reportPath = report.htmlPath;
    m_reportSummary = report.summary;
    m_outputsWritten = m_outputsWritten && !report.htmlPath.isEmpty() && report.exportsWritten;
    if (report.htmlPath.isEmpty())
        m_finishTold << OperatorOutcome(OperatorOutcome::ReportNotWritten);
    if (!report.exportsWritten)
        m_finishTold << OperatorOutcome(OperatorOutcome::ExportsNotWritten);
    FaultPoints::finishing("report");
    // Each output was synced as it was renamed into place; their names are on the disk once
    // the target folder is. Only then is the offload called complete: a kill or a power cut
    // before this leaves an unfinished offload whose resume writes the outputs again, never a
    // finished one without them.
    if (m_outputsWritten &&
        SyncIo::syncFolder(QFile::encodeName(setup.target).toStdString()) != 0) {
        m_finishTold << OperatorOutcome(OperatorOutcome::TargetNotFlushed, {setup.target});
        *messages << QStringLiteral("cannot flush %1: %2")
                         .arg(setup.target, QString::fromLocal8Bit(std::strerror(errno)));
        m_outputsWritten = false;
    }
    FaultPoints::finishing("outputs");
    QString error;
    if (!m_outputsWritten) {
        *messages << QStringLiteral("not every output of the offload was written: it stays "
                                    "unfinished, and a resume writes them again");
        m_finishTold << OperatorOutcome(OperatorOutcome::OutputsMissing);
        if (!m_session.saveConfig(false, &error)) {
            *messages << QStringLiteral("the task state cannot be saved: %1").arg(error);
            m_finishTold << OperatorOutcome(OperatorOutcome::StateNotSaved);
        }
    } else if (!m_session.saveConfig(true, &error)) {
        *messages << QStringLiteral("the task state cannot be saved: %1").arg(error);
        m_finishTold << OperatorOutcome(OperatorOutcome::StateNotSaved);
    }
    unlock();
    return blocks;
}

void OffloadRun::measure()
{
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        std::vector<quint64> &sums = m_prefix[camera];
        sums.assign(1, 0);
        const DiskTask *task = m_session.task(camera);
        if (!task)
            continue;
        for (int i = 0; i < task->fileCount.load(); ++i) {
            struct stat st = {};
            const quint64 size = ::stat(taskEntry(task, i), &st) == 0 ? quint64(st.st_size) : 0;
            sums.push_back(sums.back() + size);
        }
    }
    m_measured = true;
    restartPace();
}

void OffloadRun::restartPace()
{
    quint64 done = 0;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        const DiskTask *task = m_session.task(camera);
        const std::vector<quint64> &sums = m_prefix[camera];
        if (task && !sums.empty())
            done += sums[size_t(std::min<int>(task->filesDone.load(), int(sums.size()) - 1))];
    }
    m_paceBytes = done;
    m_paceClock.start();
    m_lastBytes = done;
    m_readingClock.start();
}

static void problemTexts(DiskTask *task, OffloadRun::Camera *c)
{
    std::vector<FileProblem> failed;
    std::vector<FileProblem> skipped;
    fileProblems(task, &failed, &skipped);
    for (const FileProblem &f : failed) {
        c->failedFiles << FileProblemText::line(f);
        c->failedShown << OperatorTexts::fileProblem(f);
    }
    for (const FileProblem &f : skipped) {
        c->skippedFiles << FileProblemText::path(f);
        c->skippedShown << OperatorTexts::fileProblem(f);
    }
}

OffloadRun::Progress OffloadRun::progress() const
{
    // While a start or a resume builds the tasks, the session is not to be read.
    if (busy() || !m_measured)
        return m_last;
    Progress p;
    for (int camera = 0; camera < Cameras::Count; ++camera) {
        DiskTask *task = m_session.task(camera);
        if (!task)
            continue;
        Camera &c = p.cameras[camera];
        const std::vector<quint64> &sums = m_prefix[camera];
        c.takesPart = true;
        c.fileCount = task->fileCount.load();
        const int handled = std::min(task->filesDone.load(), c.fileCount);
        c.filesDone = std::max(0, std::min(taskFilesCopied(task), c.fileCount));
        c.bytesTotal = sums.empty() ? 0 : sums.back();
        c.bytesDone = size_t(handled) < sums.size() ? sums[size_t(handled)] : c.bytesTotal;
        problemTexts(task, &c);
        c.failed = task->failed.load() != 0;
        if (c.failed) {
            c.error = QString::fromUtf8(task->error).trimmed();
            c.errorShown = OperatorTexts::text(OperatorOutcome(
                task->errorCode ? OperatorOutcome::Code(task->errorCode) : OperatorOutcome::Other,
                {QString(), OperatorTexts::systemError(task->errorErrno)}));
        }
        p.filesDone += c.filesDone;
        p.fileCount += c.fileCount;
        p.bytesDone += c.bytesDone;
        p.bytesTotal += c.bytesTotal;
    }
    p.running = m_session.running();
    p.complete = m_session.complete();
    p.halted = !p.running && !p.complete && p.fileCount > 0;
    p.verifiedFound = m_session.verifiedFound();
    const double running = double(m_paceClock.elapsed()) / 1000.0;
    if (p.bytesDone == p.bytesTotal) {
        p.secondsLeft = 0;
    } else if (running > 0 && p.bytesDone > m_paceBytes) {
        const double pace = double(p.bytesDone - m_paceBytes) / running;
        // Rounded up: work is left until the last byte is on the disk.
        p.secondsLeft = qint64(std::ceil(double(p.bytesTotal - p.bytesDone) / pace));
    }
    m_last = p;
    return p;
}

OffloadRun::Progress OffloadRun::reading()
{
    const bool fresh = !busy() && m_measured;
    Progress p = progress();
    if (!fresh)
        return p;
    const double sinceReading = double(m_readingClock.restart()) / 1000.0;
    if (sinceReading > 0 && p.bytesDone >= m_lastBytes)
        p.bytesPerSecond = double(p.bytesDone - m_lastBytes) / sinceReading;
    m_lastBytes = p.bytesDone;
    return p;
}

void OffloadRun::requestStart(const OffloadSession::Setup &setup)
{
    m_measured = false;
    post([this, setup] {
        QString error;
        const bool ok = startNow(setup, &error);
        return [this, ok, error] { emit started(ok, error); };
    });
}

void OffloadRun::requestResume(const TaskConfig &config)
{
    m_measured = false;
    post([this, config] {
        QString error;
        const bool ok = resumeNow(config, true, &error);
        return [this, ok, error] { emit started(ok, error); };
    });
}

void OffloadRun::requestPause()
{
    post([this] {
        pauseNow();
        return [this] { emit paused(); };
    });
}

void OffloadRun::requestResumePaused()
{
    post([this] {
        QString error;
        const bool ok = resumePausedNow(&error);
        return [this, ok, error] { emit started(ok, error); };
    });
}

void OffloadRun::requestFinish()
{
    post([this] {
        QStringList messages;
        const int blocks = finishNow(&messages);
        return [this, blocks, messages] { emit finished(blocks, messages); };
    });
}
